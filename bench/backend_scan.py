#!/usr/bin/env python3
"""Scan speed of the library backend on a generated library of small tagged
FLAC files (10,000 by default): the first scan (every tag read) and a rescan
of the unchanged library by a new process (the tag cache loaded, no tag
read), each printed next to its peers measured in the same run: the time
`find` takes to list the same tree, and mutagen alone reading every file.

The "whole process" rows add the interpreter's start, the imports and the
line protocol: from starting backend.py to its first reply that says the
scan has ended.

Goals: first scan at least 4,000 files/s, unchanged rescan at least
20,000 files/s. The page cache is warm for every figure (the files were just
written), so the figures measure the backend, not the disk.

    bench/backend_scan.py [--files N] [--runs R]
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
BACKEND = os.path.join(HERE, "..", "resources", "backend.py")
sys.path.insert(0, os.path.dirname(BACKEND))

import mutagen  # noqa: E402
from mutagen.flac import FLAC  # noqa: E402

import backend_library  # noqa: E402
from backend_store import Config  # noqa: E402

FIRST_SCAN_GOAL = 4000
RESCAN_GOAL = 20000


def generate(root, count):
    """count FLAC files, 100 to a folder, each with its own tags: one tone
    encoded once, then copied and retagged."""
    template = os.path.join(root, "tone.flac")
    subprocess.run(
        ["ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi",
         "-i", "sine=frequency=440:duration=0.05", "-ac", "1", "-ar", "8000", template],
        check=True,
    )
    library = os.path.join(root, "library")
    for i in range(count):
        folder = os.path.join(library, "Artist %03d" % (i // 1000), "Album %03d" % (i // 100))
        if i % 100 == 0:
            os.makedirs(folder)
        path = os.path.join(folder, "%02d Track %d.flac" % (i % 100, i))
        shutil.copyfile(template, path)
        audio = FLAC(path)
        audio["title"] = "Track %d" % i
        audio["artist"] = "Artist %03d" % (i // 1000)
        audio["album"] = "Album %03d" % (i // 100)
        audio.save()
    return library


def timed(action):
    start = time.perf_counter()
    result = action()
    return time.perf_counter() - start, result


def environment(library, data):
    return {"HOME": library, "XDG_DATA_HOME": data, "XDG_CACHE_HOME": data,
            "QUAVELARK_SCAN_ROOTS": library, "PATH": os.environ.get("PATH", "")}


def process_scan(env):
    """Seconds from starting backend.py to its first reply that says the
    scan has ended, asking "list" every 5 ms, as the player would (only
    more often)."""
    start = time.perf_counter()
    proc = subprocess.Popen([sys.executable, BACKEND], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, env=env)
    try:
        while True:
            proc.stdin.write(b'{"action":"list"}\n')
            proc.stdin.flush()
            if b'"scanning":false' in proc.stdout.readline():
                return time.perf_counter() - start
            time.sleep(0.005)
    finally:
        proc.stdin.close()
        proc.wait(30)
        proc.stdout.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--files", type=int, default=10000)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    root = tempfile.mkdtemp(prefix="ql-bench-scan-")
    try:
        generation, library = timed(lambda: generate(root, args.files))
        paths = []
        for folder, _, names in os.walk(library):
            paths += [os.path.join(folder, n) for n in names]
        assert len(paths) == args.files

        find, first, rescan, rescan_warm, peer = [], [], [], [], []
        first_process, rescan_process = [], []
        for run in range(args.runs):
            listing = ["find", library, "-type", "f"]
            find.append(timed(lambda: subprocess.run(listing, stdout=subprocess.DEVNULL))[0])
            peer.append(timed(lambda: [mutagen.File(p) for p in paths])[0])
            data = os.path.join(root, "data-%d" % run)
            cfg = Config(environment(library, data))

            def first_scan():
                lib = backend_library.Library(cfg)
                lib.scan_once()
                return lib

            seconds, lib = timed(first_scan)
            tracks = len(lib.catalog)
            assert tracks == args.files, tracks
            first.append(seconds)
            rescan_warm.append(timed(lib.scan_once)[0])

            def rescan_cache_loaded():
                again = backend_library.Library(cfg)  # loads the cache and the ids
                again.scan_once()
                return again

            seconds, again = timed(rescan_cache_loaded)
            assert again.snapshot == lib.snapshot
            rescan.append(seconds)

            env = environment(library, os.path.join(root, "process-%d" % run))
            first_process.append(process_scan(env))
            rescan_process.append(process_scan(env))

        n = args.files
        med = statistics.median
        print("backend scan: %d tagged FLAC files in %d folders (generated in %.1f s), "
              "median of %d runs" % (n, n // 100, generation, args.runs))
        rows = [
            ("find -type f (peer)", med(find), None),
            ("mutagen.File alone (peer)", med(peer), None),
            ("first scan", med(first), FIRST_SCAN_GOAL),
            ("rescan, cache loaded anew", med(rescan), RESCAN_GOAL),
            ("rescan, cache in memory", med(rescan_warm), RESCAN_GOAL),
            ("first scan, whole process", med(first_process), FIRST_SCAN_GOAL),
            ("rescan, whole process", med(rescan_process), RESCAN_GOAL),
        ]
        for name, seconds, goal in rows:
            line = "%-28s %8.3f s %10.0f files/s" % (name, seconds, n / seconds)
            if goal:
                verdict = "met" if n / seconds >= goal else "MISSED"
                line += "   goal %d files/s: %s" % (goal, verdict)
            print(line)
        print("first scan vs mutagen alone: %.2fx its rate" % (med(peer) / med(first)))
        print("rescan (cache loaded anew) vs find: %.1fx its time" % (med(rescan) / med(find)))
    finally:
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
