# Guards against: a file crowded with tags (a hundred thousand ID3 frames or comments) read
# whole, holding a hand-over past its time limit and a new library's other files behind it.
"""Files holding more tags than any real file: read within a bound, at the
hand-over and in the scan alike, and never ahead of the other files."""

import json
import os
import threading
import time
import unittest
from multiprocessing.pool import ThreadPool
from unittest import mock

from mutagen.apev2 import APEv2
from mutagen.flac import FLAC
from mutagen.id3 import ID3, TIT2, TXXX
from mutagen.mp4 import MP4
from mutagen.oggopus import OggOpus
from mutagen.oggvorbis import OggVorbis
from support import TONE_SECONDS, TempHome, make_audio

import backend_crowd  # noqa: E402
import backend_files  # noqa: E402
import backend_library  # noqa: E402
from backend_library import Library  # noqa: E402

CROWD = 100_000  # ten times the bound, as a tagger's slip has left in an MP3
FEW_CROWD = 3 * backend_crowd.MANY_TAGS  # past the bound, and quicker to write
UNDER = backend_crowd.MANY_TAGS - 10
WAIT = 60  # seconds an outcome may take on a busy machine


def id3(path, count, title=None, last=None):
    """An MP3 whose ID3v2.3 tag holds `count` TXXX frames of 20 characters,
    `title` as its first frame (mutagen writes TIT2 first) and `last` as a
    TIT2 frame after all of them."""
    make_audio(path)
    tags = ID3()
    if title:
        tags.add(TIT2(encoding=3, text=title))
    for n in range(count):
        tags.add(TXXX(encoding=3, desc="k%d" % n, text="v" * 20))
    tags.save(path, v2_version=3, padding=lambda info: 0)
    if last:
        text = b"\x03" + last.encode("utf-8")
        frame = b"TIT2" + len(text).to_bytes(4, "big") + b"\0\0" + text
        with open(path, "rb") as f:
            data = f.read()
        size = (data[6] << 21 | data[7] << 14 | data[8] << 7 | data[9]) + len(frame)
        header = data[:6] + bytes((size >> s) & 0x7F for s in (21, 14, 7, 0))
        end = 10 + size - len(frame)  # where the frames written by mutagen end
        with open(path, "wb") as f:
            f.write(header + data[10:end] + frame + data[end:])
    return path


def comments(kind, reader):
    def make(path, count, title):
        make_audio(path, kind)
        audio = reader(path)
        if audio.tags is None:
            audio.add_tags()
        audio.tags.append(("title", title))
        audio.tags.extend(("comment%d" % n, "v" * 20) for n in range(count))
        audio.save()
        return path

    return make


def flac_behind_id3(path, count, title):
    """A FLAC crowded with comments behind an ID3v2 header: not one the
    backend's own FLAC reader takes (mutagen would)."""
    comments("flac", FLAC)(path, count, title)
    with open(path, "rb") as f:
        data = f.read()
    tag = b"ID3\x03\0\0\0\0\0\x0c" + b"TIT2" + (2).to_bytes(4, "big") + b"\0\0\0X"
    with open(path, "wb") as f:
        f.write(tag + data)
    return path


def mp4(path, count, title):
    make_audio(path, "m4a")
    audio = MP4(path)
    audio["\xa9nam"] = [title]
    for n in range(count):
        audio["----:org.example:k%d" % n] = [b"v" * 20]
    audio.save()
    return path


def wavpack(path, count, title):
    make_audio(path, "wv")
    tags = APEv2()
    tags["Title"] = title
    for n in range(count):
        tags["Key%d" % n] = "v" * 20
    tags.save(path)
    return path


# label, file name, how it is made, title shown, duration shown (None: not looked at)
ROWS = [
    ("MP3, title among the first frames", "first.mp3",
     lambda p: id3(p, CROWD, title="Crowded"), "Crowded", TONE_SECONDS),
    ("MP3, title past the bound: the file name", "Late Title.mp3",
     lambda p: id3(p, CROWD, last="Past the bound"), "Late Title", TONE_SECONDS),
    ("MP3 just under the bound read whole", "under.mp3",
     lambda p: id3(p, UNDER, last="Under"), "Under", TONE_SECONDS),
    ("Ogg Vorbis comments", "v.ogg",
     lambda p: comments("ogg", OggVorbis)(p, FEW_CROWD, "Vorbis"), "Vorbis", TONE_SECONDS),
    ("Opus comments", "o.opus",
     lambda p: comments("opus", OggOpus)(p, FEW_CROWD, "Opus"), "Opus", TONE_SECONDS),
    ("FLAC comments behind an ID3 header", "f.flac",
     lambda p: flac_behind_id3(p, FEW_CROWD, "Flac"), "Flac", TONE_SECONDS),
    ("MPEG-4 items", "m.m4a", lambda p: mp4(p, FEW_CROWD, "Items"), "Items", TONE_SECONDS),
    ("WavPack APEv2 items", "w.wv", lambda p: wavpack(p, FEW_CROWD, "Ape"), "Ape", None),
]


def read_by_mutagen(test):
    """Records every file handed to one of mutagen's readers."""
    given = []
    real = backend_files._format_classes()

    def recording(cls):
        def read(f, *args, **kw):
            given.append(getattr(f, "name", None))
            return cls(f, *args, **kw)

        return read

    test.enterContext(mock.patch.dict(real, {k: recording(v) for k, v in real.items()}))
    # and the guess made for the formats without a reader of their own (.ogg)
    test.enterContext(mock.patch.object(
        backend_files.mutagen, "File", recording(backend_files.mutagen.File)))
    return given


class CrowdedTagsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.home = TempHome(mock.Mock(addCleanup=cls.addClassCleanup))
        for _, name, make, _, _ in ROWS:
            make(cls.home.path("Music", name))

    def test_each_kind_read_within_the_bound(self):
        given = read_by_mutagen(self)
        for label, name, _, title, seconds in ROWS:
            with self.subTest(label):
                path = self.home.path("Music", name)
                with open(path, "rb") as f:
                    found = backend_crowd.walk(f, os.fstat(f.fileno()).st_size,
                                               backend_files.extension(path))
                self.assertEqual(found.crowded, "under" not in name)
                read = backend_files.read_tags(path)
                self.assertEqual(read[0] or backend_files.file_title(path), title)
                if seconds is not None:
                    self.assertAlmostEqual(read[3], seconds, delta=0.15)
                # only a file within the bound goes to mutagen
                self.assertEqual(path in given, not found.crowded)

    def test_hand_over_imports_with_what_the_bounded_read_gives(self):
        rows = [
            ("title among the first frames", "first.mp3", "Crowded"),
            ("title past the bound", "Late Title.mp3", "Late Title"),
        ]
        for label, name, title in rows:
            with self.subTest(label):
                path = self.home.path("Music", name)
                reply, _ = self.home.import_file(path)
                self.assertNotIn("error", reply)
                self.assertEqual(reply["opened"]["title"], title)
                self.assertEqual(reply["opened"]["path"], path)


class CrowdedScanTest(unittest.TestCase):
    def test_a_new_librarys_files_are_not_held_behind_a_crowded_one(self):
        # The crowded file comes first in the walk; mutagen's read of it is
        # held until the other files are listed, so a scan that hands it to
        # mutagen lists nothing after it.
        home = TempHome(self)
        crowded = id3(home.path("Music", "a crowd.mp3"), CROWD, last="Past the bound")
        flacs = [make_audio(home.path("Music", "t%02d.flac" % n), title="T%d" % n)
                 for n in range(30)]
        release = threading.Event()
        self.addCleanup(release.set)
        given = read_by_mutagen(self)
        classes = backend_files._format_classes()
        mp3 = classes["mp3"]

        def slow(f, *args, **kw):
            if getattr(f, "name", None) == crowded:
                release.wait(WAIT)
            return mp3(f, *args, **kw)

        self.enterContext(mock.patch.dict(classes, {"mp3": slow}))
        library = Library(home.config())
        self.addCleanup(library.shutdown)
        library.start_scan()
        listed = {}
        deadline = time.monotonic() + WAIT
        while time.monotonic() < deadline and not set(flacs) <= set(listed):
            listed = {t["path"]: t for t in json.loads(library.reply())["tracks"]}
            time.sleep(0.05)  # polling the outcome, bounded by the deadline
        release.set()
        self.assertEqual(len(set(flacs) - set(listed)), 0, "FLAC files held back")
        library.thread.join(WAIT)
        listed = {t["path"]: t for t in json.loads(library.reply())["tracks"]}
        self.assertEqual(listed[crowded]["title"], "a crowd")
        self.assertEqual(len(listed), 31)
        self.assertNotIn(crowded, given)


class InThreads(backend_library.TagPool):
    """The scan's pool of tag readers with two threads for workers, ready as
    soon as it is started: in this process, where a test can hold a read."""

    def start(self):
        if self.thread is None:
            self.thread = threading.Thread(target=lambda: None)
            self.thread.start()
            self.usable, self.count = True, 2
            self.counted.set()
            self.pool = ThreadPool(2)

    def broken(self):
        return False


class SlowBatchTest(unittest.TestCase):
    def test_a_slow_batch_holds_back_only_its_own_files(self):
        # 300 new files: a first batch of 256, held by one slow file, and a
        # second of 44 that the other reader finishes meanwhile.
        home = TempHome(self)
        paths = [make_audio(home.path("Music", "t%03d.flac" % n)) for n in range(300)]
        slow, later = paths[10], paths[256:]
        release = threading.Event()
        self.addCleanup(release.set)
        real = backend_library.read_batch

        def read_batch(batch):
            if slow in batch:
                release.wait(WAIT)
            return real(batch)

        self.enterContext(mock.patch.object(backend_library, "read_batch", read_batch))
        self.enterContext(mock.patch.object(backend_library, "TagPool", InThreads))
        library = Library(home.config())
        self.addCleanup(library.shutdown)
        library.start_scan()
        listed = set()
        deadline = time.monotonic() + WAIT
        while time.monotonic() < deadline and not set(later) <= listed:
            listed = {t["path"] for t in json.loads(library.reply())["tracks"]}
            time.sleep(0.05)  # polling the outcome, bounded by the deadline
        held = slow in listed
        release.set()
        self.assertEqual(len(set(later) - listed), 0, "files of the second batch held back")
        self.assertFalse(held)  # the premise: the first batch was still being read
        library.thread.join(WAIT)
        self.assertEqual({t["path"] for t in json.loads(library.reply())["tracks"]}, set(paths))


if __name__ == "__main__":
    unittest.main()
