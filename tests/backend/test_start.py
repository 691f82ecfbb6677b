# Guards against: a start that sends a stale catalog because the library changed while
# the backend was away, a damaged start record taken for a good one, and a start
# record that cannot be saved because its folder is not there yet.
"""The start record: a start on an unchanged library sends the last catalog
without loading the tag cache; any change the scan would see (or a damaged
record) leads to the full scan, whose catalog is the same as that of a scan
without any record."""

import json
import os
import shutil
import threading
import unittest

from unittest import mock

from support import Backend, TempHome, check_library, make_audio, write_old_cache

import backend_files  # noqa: E402
import backend_library  # noqa: E402
import backend_start  # noqa: E402
from backend_library import Library  # noqa: E402


def record_path(home):
    return os.path.join(home.data_dir, backend_start.RECORD_NAME)


def library_in(home):
    """Two albums, a hard link to one of their files and a file added from
    outside the scanned folders, scanned once: the start record written."""
    for n in range(3):
        make_audio(home.path("Music", "A", "%d.flac" % n), title="A%d" % n, album="A")
        make_audio(home.path("Music", "B", "%d.mp3" % n), title="B%d" % n, album="B")
    os.makedirs(home.path("Music", "C"))
    os.link(home.path("Music", "A", "0.flac"), home.path("Music", "C", "same.flac"))
    make_audio(os.path.join(home.outside, "x.flac"), title="Outside")
    first = Library(home.config())
    first.scan_once()
    first.add(os.path.join(home.outside, "x.flac"))
    first.shutdown()
    return first


def start(home):
    """A new start's library once its scan is over, and whether that scan
    only confirmed the record (the tag cache never loaded)."""
    library = Library(home.config())
    library.scan_once()
    return library, library.cache is None


def full_scan(home):
    """The catalog of a start without a record (one is written again)."""
    os.unlink(record_path(home))
    library = Library(home.config())
    library.scan_once()
    return library.reply()


def retag(home):
    make_audio(home.path("Music", "A", "1.flac"), title="Changed", album="A")


def enrich_elsewhere(home):
    path = home.path("Music", "B", "0.mp3")
    with open(os.path.join(home.data_dir, "enriched.json"), "w") as f:
        json.dump({path: {"artist": "Found"}}, f)


CHANGES = [
    # name, change, confirmed by the record
    ("nothing", lambda home: None, True),
    ("a hidden file", lambda home: make_audio(home.path("Music", "A", ".h.flac")), True),
    ("a file that is not audio", lambda home: open(home.path("Music", "A", "n.txt"), "w").close(),
     True),
    ("a file's tags", retag, False),
    ("a new file", lambda home: make_audio(home.path("Music", "B", "9.mp3"), title="New"), False),
    ("a file removed", lambda home: os.unlink(home.path("Music", "B", "2.mp3")), False),
    ("the hard link removed", lambda home: os.unlink(home.path("Music", "C", "same.flac")), False),
    ("a folder renamed", lambda home: os.rename(home.path("Music", "B"), home.path("Music", "D")),
     False),
    ("a new folder", lambda home: make_audio(home.path("Music", "E", "e.flac")), False),
    ("the added file's tags",
     lambda home: make_audio(os.path.join(home.outside, "x.flac"), title="Other"), False),
    ("the added file gone", lambda home: os.unlink(os.path.join(home.outside, "x.flac")), False),
    ("fields found by another run", enrich_elsewhere, False),
    ("the tag cache of an earlier version",
     lambda home: write_old_cache(home.data_dir, 1, {}), False),
]


def flip(offset):
    def change(data):
        at = offset if offset >= 0 else len(data) + offset
        return data[:at] + bytes([data[at] ^ 0x20]) + data[at + 1 :]

    return change


DAMAGE = [
    ("a byte of the first line", flip(3)),
    ("a byte of the header", flip(40)),
    ("a byte of the catalog", flip(-5)),
    ("cut short", lambda data: data[: len(data) // 2]),
    ("something after it", lambda data: data + b"\n"),
    ("empty", lambda data: b""),
    ("not a record", lambda data: b"{}\n{}\n"),
]


def tree_with(home, shape):
    """Scan roots holding two albums, then `shape` applied; the roots (a
    shape may give its own)."""
    music = home.path("Music")
    for n in range(2):
        make_audio(os.path.join(music, "A", "%d.flac" % n))
        make_audio(os.path.join(music, "B", "%d.mp3" % n))
    roots = shape(home, music) or [music]
    assert isinstance(roots, list)
    return roots


def _link(target, name):
    os.symlink(target, name)


SHAPES = [
    ("plain", lambda home, music: None),
    ("a link back up (a loop)", lambda home, music: _link(music, os.path.join(music, "A", "up"))),
    ("a linked folder outside", lambda home, music: (
        make_audio(os.path.join(home.outside, "o.flac")),
        _link(home.outside, os.path.join(music, "out")))[-1]),
    ("a linked file", lambda home, music: _link(os.path.join(music, "A", "0.flac"),
                                                os.path.join(music, "B", "l.flac"))),
    ("a dangling link", lambda home, music: _link("/nowhere", os.path.join(music, "B", "d.flac"))),
    ("a hidden folder", lambda home, music: make_audio(os.path.join(music, ".h", "h.flac")) and None),
    ("overlapping roots", lambda home, music: [music, os.path.join(music, "A")]),
    ("a missing root", lambda home, music: [music, home.path("Gone")]),
]


class WalkStepsTest(unittest.TestCase):
    def test_a_second_look_sees_the_walk_as_it_was(self):
        for name, shape in SHAPES:
            with self.subTest(name):
                home = TempHome(self)
                roots = tree_with(home, shape)
                steps = []
                files = list(backend_files.walk_audio(roots, set(), threading.Event(), None, steps))
                digests, identities, stamps = backend_files.check_steps(
                    [(folder, listed) for folder, listed, _, _ in steps])
                self.assertEqual(digests, b"".join(d for *_, d in steps))
                hashes, packed = backend_start.packed((digests, identities, stamps))[1:]
                walked = [v for _, size, mtime in files for v in (size, mtime)]
                self.assertEqual(backend_start.given_stamps(hashes, packed),
                                 backend_start.array.array("q", walked).tobytes())


    def test_files_of_neighbouring_devices_are_told_apart(self):
        # Device 2 inode 0 and device 1 inode 8, as on two btrfs subvolumes:
        # both files are given, not one taken for a link to the other.
        identities = [2 << 64 | 0, 1 << 64 | 8, 1 << 64 | 8]
        stamps = [10, 1, 20, 2, 20, 2]
        hashes, packed = backend_start.packed((b"", identities, stamps))[1:]
        self.assertEqual(backend_start.given_stamps(hashes, packed),
                         backend_start.array.array("q", [10, 1, 20, 2]).tobytes())


class StartRecordTest(unittest.TestCase):
    def test_the_record_is_trusted_only_for_an_unchanged_library(self):
        for name, change, confirmed in CHANGES:
            with self.subTest(name):
                home = TempHome(self)
                first = library_in(home)
                change(home)
                again, only_confirmed = start(home)
                self.assertEqual(only_confirmed, confirmed)
                if confirmed:
                    self.assertEqual(again.reply(), first.reply())
                self.assertEqual(again.reply(), full_scan(home))

    def test_a_damaged_record_is_passed_over(self):
        for name, damage in DAMAGE:
            with self.subTest(name):
                home = TempHome(self)
                first = library_in(home)
                with open(record_path(home), "rb") as f:
                    data = f.read()
                with open(record_path(home), "wb") as f:
                    f.write(damage(data))
                again, only_confirmed = start(home)
                self.assertFalse(only_confirmed)
                self.assertEqual(again.reply(), first.reply())
                # written again whole by that scan: the next start trusts it
                third, only_confirmed = start(home)
                self.assertTrue(only_confirmed)
                self.assertEqual(third.reply(), first.reply())

    def test_changes_after_a_confirmed_start_reach_the_next_one(self):
        home = TempHome(self)
        library_in(home)
        again, only_confirmed = start(home)
        self.assertTrue(only_confirmed)
        make_audio(os.path.join(home.outside, "y.flac"), title="Later")
        self.assertIsNone(again.add(os.path.join(home.outside, "y.flac")))
        again.shutdown()
        third, only_confirmed = start(home)
        self.assertTrue(only_confirmed)
        self.assertIn("Later", [t["title"] for t in json.loads(third.reply())["tracks"]])
        self.assertEqual(third.reply(), full_scan(home))

    def test_a_confirmed_start_answers_once_and_finally(self):
        home = TempHome(self)
        first = library_in(home)
        again = Library(home.config())
        self.addCleanup(again.shutdown)
        with mock.patch.object(backend_library, "FIRST_LOOK", 60):  # a loaded machine
            again.start_scan()
            reply = check_library(again.handle(b'{"action":"list"}'))
        self.assertFalse(reply["scanning"])
        self.assertEqual(reply["tracks"], json.loads(first.reply())["tracks"])
        self.assertIsNone(again.cache)

    def test_a_first_run_without_music_saves_its_record_silently(self):
        # A fresh home: nothing of ours on disk, not even our data folder.
        home = TempHome(self)
        self.assertFalse(os.path.exists(home.data_dir))
        for run in ("first", "second"):
            with self.subTest(run):
                backend = Backend(self, home)
                self.assertEqual(backend.idle()["tracks"], [])
                self.assertEqual(backend.close(), 0)
                self.assertEqual(backend.stderr(), "")
                self.assertTrue(os.path.isfile(record_path(home)))

    def test_a_start_does_not_trust_a_record_of_other_folders(self):
        home = TempHome(self)
        library_in(home)
        shutil.copytree(home.path("Music"), home.path("Copy"))
        home.env["QUAVELARK_SCAN_ROOTS"] = home.path("Copy")
        again, only_confirmed = start(home)
        self.assertFalse(only_confirmed)
        self.assertEqual(again.reply(), full_scan(home))


if __name__ == "__main__":
    unittest.main()
