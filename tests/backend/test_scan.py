# Guards against: tracks missed, duplicated or renumbered by a scan; a scan stopped by a bad file.
"""Scanning: tags, file names, the folders searched and skipped, files that
vanish or cannot be read, the tag cache, ids and what every reply carries."""

import json
import os
import threading
import unittest
from unittest import mock

from support import (
    TONE_SECONDS,
    Backend,
    TempHome,
    by_path,
    cached_files,
    check_library,
    make_audio,
    write_old_cache,
)

# The backend's modules load from the resources folder that support puts on the path.
import backend_library  # noqa: E402
import backend_store  # noqa: E402
from backend_cache import is_audio  # noqa: E402
from backend_library import Library  # noqa: E402


def tracks(library):
    return json.loads(library.reply())["tracks"]


class TagsTest(unittest.TestCase):
    def test_tags_and_file_names(self):
        home = TempHome(self)
        tags = dict
        rows = [
            ("flac tagged", "t.flac", tags(title="T", artist="A", album="B"), ("T", "A", "B")),
            ("flac untagged", "Plain Name.flac", {}, ("Plain Name", "", "")),
            ("flac Korean", "k.flac", tags(title="봄날", album="앨범"), ("봄날", "", "앨범")),
            ("flac blank title", "Blank.flac", tags(title="  ", artist="A"), ("Blank", "A", "")),
            ("flac two artists", "duo.flac", tags(title="D", artist=["A", "B"]), ("D", "A; B", "")),
            ("flac album artist only", "aa.flac", tags(title="X", albumartist="Z"), ("X", "Z", "")),
            ("flac upper-case extension", "LOUD.FLAC", tags(title="Loud"), ("Loud", "", "")),
            ("mp3 tagged", "m.mp3", tags(title="M", artist="P", album="3"), ("M", "P", "3")),
            ("mp3 untagged", "Some Mp3.mp3", {}, ("Some Mp3", "", "")),
            ("wav tagged", "w.wav", tags(title="W", artist="R", album="C"), ("W", "R", "C")),
            ("wav untagged", "Plain Wave.wav", {}, ("Plain Wave", "", "")),
        ]
        for _, name, given, _ in rows:
            make_audio(home.path("Music", name), **given)
        tracks = by_path(Backend(self, home).idle())
        self.assertEqual(len(tracks), len(rows))
        for label, name, _, (title, artist, album) in rows:
            with self.subTest(label):
                track = tracks[home.path("Music", name)]
                shown = (track["title"], track["artist"], track["album"])
                self.assertEqual(shown, (title, artist, album))
                self.assertAlmostEqual(track["duration"], TONE_SECONDS, delta=0.15)
                self.assertEqual(track["art"], "")

    def test_names_that_are_not_utf8(self):
        home = TempHome(self)
        music = os.path.join(os.fsencode(home.home), b"Music")
        tagged = make_audio(os.path.join(music, b"caf\xe9.flac"), title="Caf\xe9")
        untagged = make_audio(os.path.join(music, b"\xff raw.flac"))
        backend = Backend(self, home)
        reply = backend.idle()  # the strict reader accepted it
        self.assertEqual(len(reply["tracks"]), 2)
        shown = {t["title"]: t for t in reply["tracks"]}
        self.assertIn("\ufffd raw", shown)
        for original, track in [(tagged, shown["Caf\xe9"]), (untagged, shown["\ufffd raw"])]:
            with self.subTest(track["title"]):
                self.assertTrue(os.path.samefile(track["path"], original))
                opened, _ = home.import_file(track["path"])
                self.assertEqual(opened["opened"], track)
                again = backend.ask({"action": "add", "path": track["path"]})
                self.assertEqual(again["tracks"], reply["tracks"])


class ScanTest(unittest.TestCase):
    def setUp(self):
        self.home = TempHome(self)

    def library(self, **kw):
        return Library(self.home.config(), **kw)

    def test_folders_searched_and_skipped(self):
        home = self.home
        home.env["XDG_DATA_HOME"] = home.path("appdata")
        home.env["XDG_CACHE_HOME"] = home.path("appcache")
        rows = [
            ("plain file", "Music/a.flac", True),
            ("hidden folder", ".hidden/b.flac", False),
            ("hidden file", "Music/.c.flac", False),
            ("program data folder", "appdata/Quavelark/d.flac", False),
            ("program cache folder", "appcache/Quavelark/e.flac", False),
            ("linked folder", "Linked/g.flac", True),
            ("link to a listed file", "Music/z link.flac", False),
            ("second name of a listed file", "Music/b hard.flac", False),
        ]
        second_names = {"Music/z link.flac", "Music/b hard.flac"}
        for _, relative, _ in rows:
            if not relative.startswith("Linked/") and relative not in second_names:
                make_audio(home.path(relative), title=relative)
        make_audio(os.path.join(home.outside, "g.flac"), title="g")
        with open(home.path("Music", "f.txt"), "w") as f:
            f.write("text")
        os.symlink(home.outside, home.path("Linked"))
        os.symlink(home.outside, home.path("Linked again"))  # the same folder twice
        os.symlink(home.home, home.path("Music", "loop"))  # a loop back to the top
        os.symlink(home.path("nowhere.flac"), home.path("Music", "dangling.flac"))
        # The same file under a second name is listed once, by its first.
        os.symlink(home.path("Music", "a.flac"), home.path("Music", "z link.flac"))
        os.link(home.path("Music", "a.flac"), home.path("Music", "b hard.flac"))
        tracks = Backend(self, home).idle()["tracks"]
        found = [os.path.relpath(t["path"], home.home) for t in tracks]
        self.assertEqual(len(found), len(set(found)), found)
        for label, relative, wanted in rows:
            with self.subTest(label):
                self.assertEqual(relative in found, wanted, found)
        self.assertEqual(len(found), 2, found)

    def test_files_that_vanish_or_cannot_be_read(self):
        rows = [
            # name, in the catalog, cached as unreadable
            ("keep.flac", True, False),
            ("vanish.flac", False, None),
            ("garbage.flac", False, True),
            ("empty.mp3", False, True),
        ]
        make_audio(self.home.path("Music", "keep.flac"), title="Keep")
        make_audio(self.home.path("Music", "vanish.flac"), title="Vanish")
        with open(self.home.path("Music", "garbage.flac"), "wb") as f:
            f.write(os.urandom(4096))
        open(self.home.path("Music", "empty.mp3"), "wb").close()
        walk = backend_library.walk_audio

        def vanishing_walk(*args):
            for item in walk(*args):
                if "vanish" in item[0]:
                    os.unlink(item[0])  # listed, then gone before its tags are read
                yield item

        library = self.library()
        with mock.patch.object(backend_library, "walk_audio", vanishing_walk):
            library.scan_once()
        reply = check_library(library.reply())
        names = {os.path.basename(t["path"]) for t in reply["tracks"]}
        for name, listed, unreadable in rows:
            with self.subTest(name):
                self.assertEqual(name in names, listed)
                entry = library.cache.get(self.home.path("Music", name))
                self.assertEqual(None if entry is None else not is_audio(entry), unreadable)

    def test_rescan_of_an_unchanged_library_reads_no_tags(self):
        for i in range(3):
            make_audio(self.home.path("Music", "%d.flac" % i), title=str(i))
        first = self.library()
        first.scan_once()
        reads = []
        real = backend_library.read_tags

        def counted(path):
            reads.append(os.path.basename(path))
            return real(path)

        def corrupt():
            with open(os.path.join(self.home.data_dir, "tags.cache"), "w") as f:
                f.write("{not a cache")

        def touch():
            os.utime(self.home.path("Music", "1.flac"), (1, 1))

        with mock.patch.object(backend_library, "read_tags", counted):
            cases = [
                ("unchanged", lambda: None, []),
                ("one file touched", touch, ["1.flac"]),
                ("cache corrupted", corrupt, ["0.flac", "1.flac", "2.flac"]),
            ]
            for name, change, expected in cases:
                with self.subTest(name):
                    change()
                    reads.clear()
                    library = self.library()
                    library.scan_once()
                    self.assertEqual(sorted(reads), expected)
                    self.assertEqual(tracks(library), tracks(first))
        self.assertEqual(len(cached_files(self.home.data_dir)), 3)

    def test_list_answers_at_once_while_a_scan_runs(self):
        make_audio(self.home.path("Music", "a.flac"), title="A")
        release = threading.Event()
        walks = []
        walk = backend_library.walk_audio

        def held_walk(*args):
            walks.append(1)
            yield from walk(*args)
            release.wait(30)

        library = self.library()
        with mock.patch.object(backend_library, "walk_audio", held_walk):
            library.start_scan()
            self.assertTrue(json.loads(library.handle(b'{"action":"list"}'))["scanning"])
            library.handle(b'{"action":"scan"}')  # asks for one more pass
            release.set()
            library.thread.join(30)
        reply = json.loads(library.handle(b'{"action":"list"}'))
        self.assertFalse(reply["scanning"])
        self.assertEqual([t["title"] for t in reply["tracks"]], ["A"])
        self.assertEqual(len(walks), 2)

    def test_an_add_while_the_scan_finishes_stays(self):
        make_audio(self.home.path("Music", "a.flac"), title="A")
        added = make_audio(os.path.join(self.home.outside, "b.flac"), title="B")
        library = self.library()
        walk, refresh = backend_library.walk_audio, Library._refresh
        walked, in_gap, resume = threading.Event(), threading.Event(), threading.Event()

        def marked_walk(*args):
            yield from walk(*args)
            walked.set()

        def paused_refresh(lib, found):
            if walked.is_set() and not in_gap.is_set():
                in_gap.set()  # the walk is over, the final catalog not yet made
                resume.wait(30)
            return refresh(lib, found)

        with mock.patch.object(backend_library, "walk_audio", marked_walk), mock.patch.object(
            Library, "_refresh", paused_refresh
        ):
            scan = threading.Thread(target=library.scan_once)
            scan.start()
            self.assertTrue(in_gap.wait(30))
            self.assertIsNone(library.add(added))
            resume.set()
            scan.join(30)
        self.assertEqual(sorted(t["title"] for t in tracks(library)), ["A", "B"])

    def test_an_unplugged_root_keeps_its_tags(self):
        disk = os.path.join(self.home.root, "disk")
        away = os.path.join(self.home.root, "disk-away")
        make_audio(self.home.path("Music", "a.flac"), title="A")
        for name in ["1.flac", "2.flac"]:
            make_audio(os.path.join(disk, name), title=name)
        self.home.env["QUAVELARK_SCAN_ROOTS"] = self.home.home + ":" + disk
        self.library().scan_once()
        reads = []
        real = backend_library.read_tags

        def counted(path):
            reads.append(os.path.basename(path))
            return real(path)

        rows = [("unplugged", ["A"]), ("plugged in again", ["1.flac", "2.flac", "A"])]
        with mock.patch.object(backend_library, "read_tags", counted):
            for step, titles in rows:
                with self.subTest(step):
                    os.rename(*((disk, away) if step == "unplugged" else (away, disk)))
                    library = self.library()
                    library.scan_once()
                    self.assertEqual(sorted(t["title"] for t in tracks(library)), titles)
                    self.assertEqual(len(library.cache), 3)
                    self.assertEqual(reads, [])

    def test_order_is_stable_across_polls_and_scans(self):
        for relative in ["b/2.flac", "a/9.flac", "a/10.flac", "c.flac"]:
            make_audio(self.home.path(relative), title=relative)
        backend = Backend(self, self.home)
        first = backend.idle()
        paths = [t["path"] for t in first["tracks"]]
        self.assertEqual(paths, sorted(paths))
        self.assertEqual(backend.ask_raw({"action": "list"}), backend.ask_raw({"action": "list"}))
        backend.ask({"action": "scan"})
        self.assertEqual(backend.idle(), first)

    def test_colliding_ids_stay_distinct_and_stable(self):
        for name in ["a.flac", "b.flac", "c.flac"]:
            make_audio(self.home.path("Music", name), title=name)
        real = backend_store.natural_id

        def colliding(path, salt=0):
            return 4242 if salt == 0 else real(path, salt)

        with mock.patch.object(backend_store, "natural_id", colliding):
            library = self.library()
            library.scan_once()
            ids = {t["path"]: t["id"] for t in json.loads(library.reply())["tracks"]}
            self.assertEqual(len(set(ids.values())), 3)
            self.assertEqual(ids[self.home.path("Music", "a.flac")], 4242)
            os.unlink(os.path.join(self.home.data_dir, "tags.cache"))
            for name, path in sorted(ids.items()):
                with self.subTest(os.path.basename(name)):
                    opened = self.library(restore=False).import_file(name)
                    self.assertEqual(opened["opened"]["id"], ids[name])
            again = self.library()
            again.scan_once()
            self.assertEqual({t["path"]: t["id"] for t in json.loads(again.reply())["tracks"]}, ids)


class ReplyTest(unittest.TestCase):
    def test_odd_cached_values_keep_the_reply_decodable(self):
        rows = [
            ("NaN duration", ["T", "A", "B", float("nan")], ("T", 0.0)),
            ("infinite duration", ["T", "A", "B", float("inf")], ("T", 0.0)),
            ("negative duration", ["T", "A", "B", -3], ("T", 0.0)),
            ("lone surrogate in a title", ["a\udce9b", "A", "B", 1.5], ("a\ufffdb", 1.5)),
        ]
        for name, tags, (title, duration) in rows:
            with self.subTest(name):
                home = TempHome(self)
                path = make_audio(home.path("x.flac"))
                st = os.stat(path)
                os.makedirs(home.data_dir)
                entry = [st.st_size, st.st_mtime_ns] + tags
                write_old_cache(home.data_dir, 1, {path: entry})
                reply = check_library(Library(home.config()).reply())
                self.assertEqual(
                    (reply["tracks"][0]["title"], reply["tracks"][0]["duration"]), (title, duration)
                )


if __name__ == "__main__":
    unittest.main()
