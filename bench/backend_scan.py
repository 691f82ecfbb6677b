#!/usr/bin/env python3
"""Scan speed of the library backend on a generated library of small tagged
FLAC files (10,000 by default, and a folder of odd ones: see odd_files):
the first scan (every tag read, by worker
processes on every processor, then on two only) and a rescan of the
unchanged library by a new process (the tag cache loaded, no tag read), each
printed next to its peers measured in the same run: the time `find` takes to
list the same tree, mutagen alone reading every file, and the backend of an
earlier commit (BASELINE) on the same tree, whose catalog must be the same
byte for byte (ids, fields, order).

The rescan by a new process finds the start record the first scan left
and only checks the walk against it; the "tag cache only" row removes the
record first, so that every file is matched with its cache entry and every
track made again.

The "whole process" rows add the interpreter's start, the imports and the
line protocol: from starting backend.py to its first reply that says the
scan has ended.

Goals: first scan at least 40,000 files/s on 8 processors and 15,000 on 2,
unchanged rescan at least 60,000 files/s. The page cache is warm for every figure (the files were just
written), so the figures measure the backend, not the disk.

    bench/backend_scan.py [--files N] [--runs R] [--baseline REV]
"""

import argparse
import json
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
from baseline_backend import write_baseline_scripts  # noqa: E402
import backend_start  # noqa: E402
from backend_store import Config  # noqa: E402

FIRST_SCAN_GOAL = 40000  # on 8 processors
FIRST_SCAN_GOAL_TWO = 15000  # on 2
RESCAN_GOAL = 60000
BASELINE = "5736c099908ff4833605f97c170c97684173dc22"  # one tag reader, the JSON cache
# Run by the baseline's interpreter: its first scan and its rescan by a new
# Library, timed, and its catalog written out.
BASELINE_RUN = """
import sys, time
sys.path.insert(0, sys.argv[1])
import backend_library
from backend_store import Config
env = {"HOME": sys.argv[2], "XDG_DATA_HOME": sys.argv[3], "XDG_CACHE_HOME": sys.argv[3],
       "QUAVELARK_SCAN_ROOTS": sys.argv[2]}
start = time.perf_counter()
lib = backend_library.Library(Config(env))
lib.scan_once()
first = time.perf_counter() - start
start = time.perf_counter()
again = backend_library.Library(Config(env))
again.scan_once()
rescan = time.perf_counter() - start
with open(sys.argv[4], "wb") as f:
    f.write(again.snapshot)
print(first, rescan)
"""


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


def odd_files(library, template):
    """Files that have tripped catalogs before, in one more folder: names in
    Korean, with a tab, a line feed, a backslash and a quote, names that are
    not UTF-8, a picture and comments in every case and form, an MP3 and a
    WAV file, and files that are not audio at all. The catalog of these
    must be the baseline's too."""
    from mutagen.flac import Picture
    from mutagen.id3 import ID3, TALB, TIT2, TPE1

    folder = os.path.join(library, "Odd")
    os.makedirs(folder)

    def tagged(name, **tags):
        path = os.path.join(os.fsencode(folder), os.fsencode(name) if isinstance(name, str) else name)
        shutil.copyfile(template, path)
        audio = FLAC(path)
        for key, value in tags.items():
            audio[key] = value
        return audio, path

    names = ["고요한 밤.flac", "tab\there.flac", "line\nfeed.flac", "back\\slash.flac",
             'quote".flac', "Café ñ 🎵.flac", b"latin-1 caf\xe9.flac", b"cp949 \xb0\xed.flac"]
    for i, name in enumerate(names):
        audio, _ = tagged(name, title="Odd %d" % i, artist="김하늘\tTab", album="겨울\nLine")
        audio.save()
    audio, _ = tagged("picture.flac", title=["One", "Two", "One"], ARTIST="Case",
                      albumartist="Band")
    picture = Picture()
    picture.type, picture.mime, picture.data = 3, "image/png", b"\x89PNG" + bytes(5000)
    audio.add_picture(picture)
    audio.save()
    audio, _ = tagged("untagged.flac")
    audio.delete()
    for kind in ("mp3", "wav"):
        path = os.path.join(folder, "tone." + kind)
        subprocess.run(["ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                        "sine=duration=0.05", "-metadata", "title=%s 제목" % kind, path],
                       check=True)
    tags = ID3()
    for frame, text in ((TIT2, "MP3 제목"), (TPE1, "Artist"), (TALB, "Album")):
        tags.add(frame(encoding=3, text=text))
    tags.save(os.path.join(folder, "tone.mp3"))
    with open(template, "rb") as f:
        head = f.read(60)
    for name, data in (("cut short.flac", head), ("noise.flac", bytes(range(256)) * 16),
                       ("empty.mp3", b""), ("text.flac", b"not a FLAC file\n")):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


def same_catalog(ours, our_links, theirs, their_links):
    """The catalogs are the same, the stand-in links' folder (which is each
    run's own) aside."""
    def plain(catalog, links):
        return catalog.replace(json.dumps(links)[1:-1].encode(), b"<links>")

    return plain(ours, our_links) == plain(theirs, their_links)


def baseline_scan(root, library, rev, run):
    """(first scan s, rescan s, catalog bytes, its links' folder) of the
    backend at `rev`."""
    folder = os.path.join(root, "baseline-%d" % run)
    os.makedirs(folder)
    write_baseline_scripts(rev, folder)
    out = os.path.join(folder, "catalog")
    links = Config({"XDG_DATA_HOME": os.path.join(folder, "data")}).links_dir
    times = subprocess.run([sys.executable, "-c", BASELINE_RUN, folder, library,
                            os.path.join(folder, "data"), out],
                           check=True, stdout=subprocess.PIPE, text=True).stdout.split()
    with open(out, "rb") as f:
        return float(times[0]), float(times[1]), f.read(), links


def on_processors(count, action):
    """`action` with this process (and the workers it starts) held to the
    first `count` processors it may use."""
    allowed = os.sched_getaffinity(0)
    os.sched_setaffinity(0, sorted(allowed)[:count])
    try:
        return action()
    finally:
        os.sched_setaffinity(0, allowed)


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
    parser.add_argument("--baseline", default=BASELINE)
    args = parser.parse_args()
    root = tempfile.mkdtemp(prefix="ql-bench-scan-")
    try:
        generation, library = timed(lambda: generate(root, args.files))
        paths = []
        for folder, _, names in os.walk(library):
            paths += [os.path.join(folder, n) for n in names]
        assert len(paths) == args.files
        odd_files(library, os.path.join(root, "tone.flac"))

        rows = {}
        identical = True

        def add(name, seconds):
            rows.setdefault(name, []).append(seconds)

        for run in range(args.runs):
            listing = ["find", library, "-type", "f"]
            add("find", timed(lambda: subprocess.run(listing, stdout=subprocess.DEVNULL))[0])
            add("peer", timed(lambda: [mutagen.File(p) for p in paths])[0])
            old_first, old_rescan, old_catalog, old_links = baseline_scan(
                root, library, args.baseline, run)
            add("old first", old_first)
            add("old rescan", old_rescan)

            def first_scan(data):
                lib = backend_library.Library(Config(environment(library, data)))
                lib.scan_once()
                return lib

            seconds, lib = timed(lambda: first_scan(os.path.join(root, "data-%d" % run)))
            assert len(lib.catalog) > args.files, len(lib.catalog)
            add("first", seconds)
            add("first two", on_processors(2, lambda: timed(
                lambda: first_scan(os.path.join(root, "two-%d" % run)))[0]))
            add("rescan warm", timed(lib.scan_once)[0])

            cfg = Config(environment(library, os.path.join(root, "data-%d" % run)))

            def rescan_new_process():
                # A new Library: with the start record the first scan wrote it
                # only checks the walk; without it, it loads the cache and ids.
                again = backend_library.Library(cfg)
                again.scan_once()
                return again

            seconds, again = timed(rescan_new_process)
            assert again.snapshot == lib.snapshot
            identical = identical and same_catalog(again.snapshot, cfg.links_dir,
                                                   old_catalog, old_links)
            add("rescan", seconds)

            def rescan_tags_only():
                os.unlink(os.path.join(cfg.data_dir, backend_start.RECORD_NAME))
                return rescan_new_process()

            seconds, again = timed(rescan_tags_only)
            assert again.snapshot == lib.snapshot
            add("rescan tags", seconds)

            env = environment(library, os.path.join(root, "process-%d" % run))
            add("first process", process_scan(env))
            add("rescan process", process_scan(env))

        n = args.files
        med = {name: statistics.median(values) for name, values in rows.items()}
        print("backend scan: %d tagged FLAC files in %d folders (generated in %.1f s), "
              "median of %d runs, %d processors" % (n, n // 100, generation, args.runs,
                                                    len(os.sched_getaffinity(0))))
        table = [
            ("find -type f (peer)", "find", None),
            ("mutagen.File alone (peer)", "peer", None),
            ("baseline first scan", "old first", None),
            ("baseline rescan", "old rescan", None),
            ("first scan", "first", FIRST_SCAN_GOAL),
            ("first scan, 2 processors", "first two", FIRST_SCAN_GOAL_TWO),
            ("rescan, start record", "rescan", RESCAN_GOAL),
            ("rescan, tag cache only", "rescan tags", RESCAN_GOAL),
            ("rescan, cache in memory", "rescan warm", RESCAN_GOAL),
            ("first scan, whole process", "first process", None),
            ("rescan, whole process", "rescan process", None),
        ]
        for label, name, goal in table:
            seconds = med[name]
            line = "%-28s %8.3f s %10.0f files/s" % (label, seconds, n / seconds)
            if goal:
                verdict = "met" if n / seconds >= goal else "MISSED"
                line += "   goal %d files/s: %s" % (goal, verdict)
            print(line)
        print("first scan vs mutagen alone: %.2fx its rate" % (med["peer"] / med["first"]))
        print("first scan vs baseline: %.2fx its rate" % (med["old first"] / med["first"]))
        print("rescan vs baseline: %.2fx its rate" % (med["old rescan"] / med["rescan"]))
        print("catalog the same as the baseline's (ids, fields, order): %s"
              % ("yes" if identical else "NO"))
    finally:
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
