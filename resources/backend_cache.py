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
form and removed.

In memory a file's entry is the rest of its line as bytes (make_entry),
far smaller than a list of its six values (bench/backend_idle.py shows the
backend's peak), and a start that trusts an entry compares its stamp and
reads its tags only when it makes the file's track (tags)."""

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


def make_entry(size, mtime, tags=None):
    """The entry of a file of `size` bytes modified at `mtime` (ns), with
    its (title, artist, album, seconds) when it is audio."""
    head = b"%d\t%d" % (size, mtime)
    if not tags:
        return head
    title, artist, album = (_escape(t) for t in tags[:3])
    tail = "\t%s\t%s\t%s\t%s" % (title, artist, album, _seconds(tags[3]))
    return head + tail.encode("utf-8", "replace")


def same_file(entry, size, mtime):
    """True when `entry` was made for a file of this size and time."""
    head = b"%d\t%d" % (size, mtime)
    return entry.startswith(head) and (len(entry) == len(head) or entry[len(head)] == 9)


def is_audio(entry):
    return entry.count(b"\t") == 5


def stamp(entry):
    """[size, mtime] of an entry."""
    return [int(v) for v in entry.split(b"\t", 2)[:2]]


def tags(entry):
    """(title, artist, album, seconds) of an audio file's entry."""
    _, _, title, artist, album, seconds = entry.split(b"\t")
    if b"\\" in entry:
        title, artist, album = _unescape(title), _unescape(artist), _unescape(album)
    return (
        title.decode("utf-8", "replace"),
        artist.decode("utf-8", "replace"),
        album.decode("utf-8", "replace"),
        float(seconds),
    )


def fields(entry):
    """The entry as a list: size and time, then the tags of an audio file."""
    return stamp(entry) + (list(tags(entry)) if is_audio(entry) else [])


def _lines(files):
    for path, entry in files.items():
        try:
            yield _line(path, entry)
        except UnicodeEncodeError:  # no such name reaches the disk: nothing to keep
            pass


def _line(path, entry):
    return _escape(path).encode("utf-8", "surrogateescape") + b"\t" + entry + b"\n"


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
    path, tab, entry = raw[:-1].partition(b"\t")
    values = entry.split(b"\t")
    if not tab or len(values) not in (2, 6):
        return None
    try:
        int(values[0]), int(values[1])
        if len(values) == 6:
            float(values[5])
        return sys.intern(_unescape(path).decode("utf-8", "surrogateescape")), entry
    except ValueError:
        return None


def read(folder, version):
    """path -> entry (make_entry) from the cache file; None when there is no such file,
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
