"""The start record, "start.cache": what the last complete scan met and the
catalog it made, so that a start on an unchanged library sends that catalog
as it is, without loading the tag cache or making a track.

    quavelark start 1 CRC        (CRC: crc32 of the next line, 8 hex digits)
    HEADER                       (one line of JSON, below)
    SECTIONS                     (bytes, in the order of SECTIONS)

HEADER holds the tag reading's version, the bound of a track's fields, the
scan roots and the identities of the folders the walk skips, the stamps of
our own files the catalog depends on (added.json, enriched.json, ids.json,
tags.cache) as we last read or wrote them, the size and time of each added
file, the stand-in links, and the walk's steps ([folder, listed, file count]
each, see walk_audio). Each section is given as [length, crc32]:

    digests   the digest of each step (16 bytes each)
    stamps    size and modification time of each file the walk gave, in its
              order (signed 64-bit, native order)
    paths     the catalog's paths, in its order, NUL-separated
    ends      where each track's text ends in the snapshot (unsigned 64-bit)
    snapshot  the catalog's tracks as sent, between the list's brackets

The record is trusted only as a whole: a bad check sum, another version or
anything that does not read as described drops it, and the start falls back
to the full scan. It is rewritten whenever the scan ends or the backend
stops with a catalog, or files of ours, other than the ones it holds; it is
removed when a change of ours could not be saved.

At start the walk's steps are checked again by worker processes forked
before anything large is loaded (StepCheck): every folder listed again and
every file asked for its size and time, as the scan would, only spread over
the processors and with no track made."""

import array
import json
import marshal
import os
import sys
import threading
import zlib

from backend_files import check_steps
from backend_store import atomic_write, log, make_private_dirs

RECORD_NAME = "start.cache"
MAGIC = b"quavelark start 1 "
SECTIONS = ("digests", "stamps", "paths", "ends", "snapshot")
FILES_PER_CHECKER = 5000  # files that pay for one more checking process


class Record:
    """A start record read back: `header` (the JSON) and its sections."""

    def __init__(self, header, sections):
        self.header = header
        self.sections = sections


def write(folder, header, sections):
    """Writes the record in one step; False (and a log line) on failure.
    A section is bytes or a list of pieces of bytes, written one after the
    other (never joined here)."""
    pieces, sizes = [], []
    for name in SECTIONS:
        section = sections[name]
        parts = [section] if isinstance(section, (bytes, bytearray)) else section
        crc = 0
        for part in parts:
            crc = zlib.crc32(part, crc)
        sizes.append([sum(map(len, parts)), crc])
        pieces += parts
    header = dict(header, sections=sizes)
    line = json.dumps(header, separators=(",", ":")).encode("ascii") + b"\n"
    head = MAGIC + b"%08x\n" % zlib.crc32(line)
    try:
        # A first run may have written nothing else of ours yet (a home
        # without music has no tag cache to save): the folder may not be there.
        make_private_dirs(folder)
        # Not synced: the record checks itself, and a lost one costs one full scan.
        atomic_write(os.path.join(folder, RECORD_NAME), [head, line] + pieces, sync=False)
        return True
    except (OSError, ValueError) as e:
        log("could not save", RECORD_NAME + ":", e)
        return False


def remove(folder):
    try:
        os.unlink(os.path.join(folder, RECORD_NAME))
    except FileNotFoundError:
        pass
    except OSError as e:
        log("could not remove", RECORD_NAME + ":", e)


def read_header(folder):
    """(header, open file positioned at the sections) or None."""
    try:
        f = open(os.path.join(folder, RECORD_NAME), "rb")
    except FileNotFoundError:
        return None
    except OSError as e:
        log("ignoring unreadable", RECORD_NAME + ":", e)
        return None
    try:
        head, line = f.readline(), f.readline()
        if head[: len(MAGIC)] != MAGIC or head[len(MAGIC) :] != b"%08x\n" % zlib.crc32(line):
            raise ValueError("damaged")
        header = json.loads(line)
        if not _well_formed(header):
            raise ValueError("damaged")
        return header, f
    except (OSError, ValueError) as e:
        f.close()
        log("ignoring", RECORD_NAME + ":", e)
        return None


def _well_formed(header):
    if not isinstance(header, dict):
        return False
    steps, sections = header.get("steps"), header.get("sections")
    return (
        isinstance(steps, list)
        and all(isinstance(s, list) and len(s) == 3 and isinstance(s[0], str) for s in steps)
        and isinstance(sections, list)
        and len(sections) == len(SECTIONS)
        and all(isinstance(s, list) and len(s) == 2 and type(s[0]) is int for s in sections)
    )


def read_sections(header, f):
    """The record with its sections, or None when one is damaged."""
    try:
        with f:
            found = {}
            for name, (length, crc) in zip(SECTIONS, header["sections"]):
                data = f.read(length)
                if len(data) != length or zlib.crc32(data) != crc:
                    raise ValueError("section %s damaged" % name)
                found[name] = data
            if f.read(1):
                raise ValueError("longer than written")
    except (OSError, ValueError) as e:
        log("ignoring", RECORD_NAME + ":", e)
        return None
    ends = array.array("Q")
    ends.frombytes(found["ends"][: len(found["ends"]) // 8 * 8])
    found["ends"] = ends
    return Record(header, found)


def packed(found):
    """check_steps' result in few objects: the digests, a 64-bit hash of
    each file's identity and the stamps, each as bytes. Two files of one
    identity have one hash; two identities that share a hash (next to never)
    drop a file from the stamps, which then do not match: a full scan."""
    digests, identities, stamps = found
    # The device and the inode hashed apart: an int is hashed modulo
    # 2**61 - 1, so a device in the high bits would only add a multiple of 8
    # and files of neighbouring devices would collide.
    mask = 0xFFFFFFFFFFFFFFFF
    hashes = array.array("Q", [hash((i >> 64, i & mask)) & mask for i in identities])
    return digests, hashes.tobytes(), array.array("q", stamps).tobytes()


def given_stamps(hashes, stamps):
    """The stamps (bytes) of the files the walk gives, from what check_steps
    found: a file met twice (a hard link, a linked file) is given the first
    time only."""
    hashes = array.array("Q", hashes)
    if len(set(hashes)) == len(hashes):
        return stamps
    every, given, seen = array.array("q", stamps), array.array("q"), set()
    for n, key in enumerate(hashes):
        if key not in seen:
            seen.add(key)
            given.extend(every[2 * n : 2 * n + 2])
    return given.tobytes()


class StepCheck:
    """check_steps of a record's steps, shared among forked processes, one
    slice each; `result()` waits for them and gives (digests, stamps as
    bytes) or None when a process failed. Forked at once, so that they walk
    while this process loads the rest."""

    def __init__(self, header):
        steps = [(folder, listed) for folder, listed, _ in header["steps"]]
        counts = [n if type(n) is int else 0 for _, _, n in header["steps"]]
        try:
            cpus = len(os.sched_getaffinity(0))
        except (AttributeError, OSError):
            cpus = os.cpu_count() or 1
        parts = max(1, min(cpus, sum(counts) // FILES_PER_CHECKER + 1, len(steps)))
        self.children = []
        self.results = [None] * parts
        bounds, total, taken = [0], sum(counts), 0
        for n, count in enumerate(counts):
            taken += count
            if len(bounds) < parts and taken * parts >= total * len(bounds):
                bounds.append(n + 1)
        bounds += [len(steps)] * (parts + 1 - len(bounds))
        for n in range(parts):
            self._fork(n, steps[bounds[n] : bounds[n + 1]])
        self.thread = threading.Thread(target=self._collect, name="step check", daemon=True)
        self.thread.start()

    def _fork(self, n, steps):
        try:
            read, write = os.pipe()
            sys.stdout.flush()
            sys.stderr.flush()
            pid = os.fork()
        except OSError as e:
            log("cannot fork a checker:", e)
            self.children.append((n, None, steps))  # checked here instead
            return
        if pid == 0:  # the child: check, hand the result over, and end at once
            status = 1
            try:
                os.close(read)
                data = marshal.dumps(packed(check_steps(steps)))
                with os.fdopen(write, "wb") as out:
                    out.write(data)
                status = 0
            finally:
                os._exit(status)
        os.close(write)
        self.children.append((n, (pid, read), steps))

    def _collect(self):
        for n, child, steps in self.children:
            if child is None:
                self.results[n] = packed(check_steps(steps))
                continue
            pid, read = child
            try:
                with os.fdopen(read, "rb") as f:
                    data = f.read()
                _, status = os.waitpid(pid, 0)
                if status == 0:
                    self.results[n] = marshal.loads(data)
            except (OSError, ValueError, EOFError, TypeError) as e:
                log("step check failed:", e)

    def result(self):
        self.thread.join()
        if any(r is None for r in self.results):
            return None
        digests, hashes, stamps = (b"".join(part) for part in zip(*self.results))
        self.results = []
        return digests, given_stamps(hashes, stamps)
