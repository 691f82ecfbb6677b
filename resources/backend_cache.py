"""The tag cache on disk: "tags.cache", one line per file, read line by line
so that loading a large library never holds the whole text next to the
table it becomes (the JSON cache of earlier versions had to be parsed whole).

    quavelark tag cache 2
    PATH \\t SIZE \\t MTIME_NS                                  (unreadable file)
    PATH \\t SIZE \\t MTIME_NS \\t TITLE \\t ARTIST \\t ALBUM \\t SECONDS

Backslash, tab, line feed and carriage return inside a field are written as
\\\\, \\t, \\n and \\r. Paths are the file system's bytes as they are; tag text
is UTF-8. The number in the first line is the version of the tag reading:
a file of another version is ignored (every tag is read again).

The cache of earlier versions, "cache.json", is read once, written in this
form and removed."""

import contextlib
import itertools
import json
import math
import os
import re
import sys

from backend_store import atomic_write, log, make_private_dirs

CACHE_NAME = "tags.cache"
OLD_CACHE_NAME = "cache.json"
MAGIC = b"quavelark tag cache "

_SPECIAL = re.compile(r"[\\\t\n\r]")
_ESCAPED = re.compile(rb"\\(.)", re.DOTALL)
_UNESCAPE = {b"\\": b"\\", b"t": b"\t", b"n": b"\n", b"r": b"\r"}


def _escape(text):
    if _SPECIAL.search(text) is None:
        return text
    return text.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n").replace("\r", "\\r")


def _unescape(raw):
    if b"\\" not in raw:
        return raw
    return _ESCAPED.sub(lambda m: _UNESCAPE.get(m.group(1), m.group(1)), raw)


def _seconds(value):
    value = float(value)
    return repr(value) if math.isfinite(value) else "0.0"


def _lines(files):
    for path, entry in files.items():
        try:
            yield _line(path, entry)
        except UnicodeEncodeError:  # no such name reaches the disk: nothing to keep
            pass


def _line(path, entry):
    head = "%s\t%d\t%d" % (_escape(path), entry[0], entry[1])
    if len(entry) == 2:
        return head.encode("utf-8", "surrogateescape") + b"\n"
    title, artist, album = (_escape(t) for t in entry[2:5])
    tail = "\t%s\t%s\t%s\t%s\n" % (title, artist, album, _seconds(entry[5]))
    return head.encode("utf-8", "surrogateescape") + tail.encode("utf-8", "replace")


def write(folder, files, version):
    """Writes `files` (path -> entry) to the cache file in one step, line by
    line, through the store's atomic write. False (and a log line) on
    failure, the previous file left as it was."""
    try:
        make_private_dirs(folder)
        head = [MAGIC + b"%d\n" % version]
        atomic_write(os.path.join(folder, CACHE_NAME), itertools.chain(head, _lines(files)))
        return True
    except (OSError, ValueError) as e:
        log("could not save", CACHE_NAME + ":", e)
        return False


def _entry(raw):
    """(path, entry) of one line, or None when the line is damaged."""
    if not raw.endswith(b"\n"):
        # Cut short: a tagged line cut after its times would read as a file
        # that is not audio, one cut in its duration as a shorter one.
        return None
    fields = raw[:-1].split(b"\t")
    if len(fields) not in (3, 7):
        return None
    try:
        size, mtime = int(fields[1]), int(fields[2])
        path = sys.intern(_unescape(fields[0]).decode("utf-8", "surrogateescape"))
        if len(fields) == 3:
            return path, [size, mtime]
        title, artist, album = (_unescape(f).decode("utf-8", "replace") for f in fields[3:6])
        # An album's tracks share their artist and album: one string each.
        return path, [size, mtime, title, sys.intern(artist), sys.intern(album), float(fields[6])]
    except ValueError:
        return None


def read(folder, version):
    """path -> entry from the cache file; None when there is no such file,
    an empty table when it is of another version or cannot be read. Damaged
    lines are skipped: those files are read again."""
    files = {}
    try:
        with open(os.path.join(folder, CACHE_NAME), "rb") as f:
            if f.readline() != MAGIC + b"%d\n" % version:
                return files
            for raw in f:
                found = _entry(raw)
                if found:
                    files[found[0]] = found[1]
    except FileNotFoundError:
        return None
    except OSError as e:
        log("ignoring unreadable", CACHE_NAME + ":", e)
    return files


def read_old(folder):
    """(version, files) of the JSON cache of earlier versions; files is None
    when there is none or it is unusable."""
    try:
        with open(os.path.join(folder, OLD_CACHE_NAME), "rb") as f:
            raw = json.loads(f.read())
    except FileNotFoundError:
        return None, None
    except (OSError, ValueError) as e:
        log("ignoring unreadable", OLD_CACHE_NAME + ":", e)
        return None, None
    if not isinstance(raw, dict) or not isinstance(raw.get("files"), dict):
        return None, None
    return raw.get("version"), raw["files"]


def remove_old(folder):
    with contextlib.suppress(OSError):
        os.unlink(os.path.join(folder, OLD_CACHE_NAME))
