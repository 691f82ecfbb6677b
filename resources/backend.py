#!/usr/bin/env python3
"""Quavelark's library backend: finds the audio files, reads their tags and
keeps the catalog for the player, which runs this script as a child process.

Line protocol (long-lived mode, no arguments):
  request  one JSON object per line on standard input: "action" is "list",
           "scan", "add" (with "path") or "enrich" (with "id"); the order of
           the keys does not matter and unknown keys are ignored.
  reply    exactly one JSON object per request line on standard output:
           "tracks" (the whole catalog, sorted by path), "scanning" (true
           while folders are being searched) and, when something went wrong,
           "error" (a sentence for the status line).
  The script exits when standard input ends.

One-shot import: `backend.py --import-file PATH` prints one document,
{"opened": Track} or {"error": "..."}, and exits. The file joins the
long-lived process's catalog too (through added.json), under the same id.

Standard output carries protocol text only: anything else written there by
Python or a library is redirected to standard error.

Ids are 53-bit hashes of the file's path, so they are the same in every run
and in both modes; a path whose hash is already taken by another known path
gets a salted hash, remembered in ids.json.

Own data, under $XDG_DATA_HOME/Quavelark/backend/:
  tags.cache     tags keyed by path, size and modification time, so that a
                 rescan of an unchanged library reads no tags (disposable;
                 backend_cache.py, which takes over an older cache.json)
  start.cache    what the last complete scan walked and the catalog it made:
                 a start that finds every folder and file as it was sends
                 that catalog and loads nothing else (disposable;
                 backend_start.py)
  ids.json       ids of paths whose natural id was already taken
  added.json     files added or imported, kept even outside the scanned folders
  enriched.json  fields filled in from MusicBrainz, by path
  links/         UTF-8 named links standing in for file paths that are not
                 valid UTF-8, which the player could neither show nor open

Environment read by this script only (tests, benchmarks, other setups):
  QUAVELARK_SCAN_ROOTS           colon-separated folders replacing the home
                                 folder and the mount folders
  QUAVELARK_MUSICBRAINZ_URL      base address of the MusicBrainz web service
  QUAVELARK_MUSICBRAINZ_TIMEOUT  seconds one "enrich" may take (default 10)
"""

import fcntl
import json
import os
import signal
import sys
import traceback

from backend_library import MSG_BAD_REQUEST, Library
from backend_store import Config, log
from backend_files import clean_text

MSG_INTERNAL = "음원 라이브러리 오류: {}"
# A catalog reply of 100,000 tracks is about 21 MB: through the default 64 KB
# pipe the player wakes some 330 times to read one reply. A larger pipe (the
# unprivileged limit is 1 MB by default) cuts that, and our own writes, tenfold.
PIPE_SIZE = 1 << 20


class ProtocolOut:
    """Standard output reserved for protocol text: the real descriptor is
    kept aside and descriptor 1 (with sys.stdout) is pointed at standard
    error, so no stray print can break a reply."""

    def __init__(self):
        sys.stdout.flush()
        self.out = os.fdopen(os.dup(1), "wb")
        os.dup2(2, 1)
        sys.stdout = sys.stderr
        try:
            fcntl.fcntl(self.out.fileno(), getattr(fcntl, "F_SETPIPE_SZ", 1031), PIPE_SIZE)
        except OSError:
            pass  # not a pipe, or a lower limit: the default size still works

    def write(self, reply):
        """One reply line: a text, or byte strings written one after the other."""
        parts = [reply.encode("utf-8", "replace")] if isinstance(reply, str) else reply
        for part in parts:
            self.out.write(part)
        self.out.write(b"\n")
        self.out.flush()


def failure(error):
    log("failed:\n" + traceback.format_exc())
    return MSG_INTERNAL.format(clean_text(str(error)) or type(error).__name__)


def _terminate(signum, frame):
    raise SystemExit(0)  # unwinds to serve's clean-up: the scan stops, the cache is kept


def serve(config):
    out = ProtocolOut()
    signal.signal(signal.SIGTERM, _terminate)
    library = broken = None
    try:
        library = Library(config)
        library.start_scan()
    except Exception as e:
        # Every request still gets its answer; an answer without "tracks"
        # leaves the player's catalog as it is.
        broken = json.dumps({"error": failure(e)}, ensure_ascii=False)
    try:
        for line in sys.stdin.buffer:
            if library is None:
                reply = broken
            else:
                try:
                    reply = library.respond(line)
                except Exception as e:
                    reply = library.reply_parts(failure(e))
            out.write(reply)
    except (BrokenPipeError, KeyboardInterrupt):
        pass
    finally:
        # The player ends its input at quit and may send SIGTERM too: from
        # here on it must not cut the cache save short.
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        if library:
            library.shutdown()
    return 0


def import_one(config, path):
    out = ProtocolOut()
    try:
        path = os.path.abspath(path)  # relative to the caller's folder
        document = Library(config, restore=False).import_file(path)
    except Exception as e:
        document = {"error": failure(e)}
    try:
        out.write(json.dumps(document, ensure_ascii=False, separators=(",", ":")))
    except BrokenPipeError:
        pass
    return 0


def main(argv):
    config = Config(os.environ)
    if len(argv) >= 1 and argv[0] == "--import-file":
        if len(argv) != 2:
            ProtocolOut().write(json.dumps({"error": MSG_BAD_REQUEST}, ensure_ascii=False))
            return 2
        return import_one(config, argv[1])
    if argv:
        log("unknown arguments:", argv)
        return 2
    return serve(config)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
