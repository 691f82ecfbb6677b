# Guards against: mojibake and unread text chunks in the track table, and tags of megabytes
# (or of thousands of values) carried whole into every reply and the player's window.
"""What the backend makes of a file's tags: legacy encodings, WAV and AIFF text
chunks, and the bound on each field."""

import json
import os
import subprocess
import unittest
from unittest import mock

from mutagen.id3 import ID3, TALB, TIT2, TPE1
from mutagen.wave import WAVE
from support import TempHome, by_path, cached_files, check_library, make_audio, write_old_cache

import backend_cache  # noqa: E402
import backend_files  # noqa: E402
import backend_library  # noqa: E402
import backend_start  # noqa: E402
from backend_files import FIELD_LIMIT, bounded  # noqa: E402

KOR = ("고요한 밤", "김하늘", "겨울")
CUT = "고요한".encode("cp949")[:-1]
LATIN = ("Café", "Beyoncé", "Motörhead")
TAGS = ("title", "artist", "album")


def id3_latin1(path, texts, codec="cp949", v1=False):
    make_audio(path)
    raw = [t if isinstance(t, bytes) else t.encode(codec) for t in texts]
    if v1:
        with open(path, "ab") as f:
            f.write(b"TAG" + b"".join(r.ljust(30, b"\0") for r in raw) + bytes(35))
        return
    tags = ID3()
    for frame, r in zip((TIT2, TPE1, TALB), raw):
        tags.add(frame(encoding=0, text=r.decode("latin-1")))
    tags.save(path, v2_version=3)


def wav(path, id3=None, claim=None, **tags):
    meta = [a for k, v in tags.items() for a in ("-metadata", "%s=%s" % (k, v))]
    subprocess.run(["ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                    "sine=duration=0.3", *meta, path], check=True, timeout=60)
    if id3:
        audio = WAVE(path)
        audio.add_tags()
        audio.tags.add(TIT2(encoding=3, text=id3))
        audio.save()
    if claim:  # the INFO list claims to run far past the end of the file
        with open(path, "r+b") as f:
            f.seek(f.read().index(b"LIST") + 4)
            f.write(claim.to_bytes(4, "little"))


ROWS = [  # label, file, how it is made, (title, artist, album) shown
    ("CP949 in ID3v2.3", "k.mp3", lambda p: id3_latin1(p, KOR), KOR),
    ("CP949 in ID3v1", "v1.mp3", lambda p: id3_latin1(p, KOR, v1=True), KOR),
    ("Latin-1 stays", "l.mp3", lambda p: id3_latin1(p, LATIN, "latin-1"), LATIN),
    ("UTF-8 labelled Latin-1", "u.mp3", lambda p: id3_latin1(p, ("봄", "Rós", ""), "utf-8"),
     ("봄", "Rós", "")),
    ("truncated CP949", "t.mp3", lambda p: id3_latin1(p, (CUT, b"A", b"")),
     (CUT.decode("latin-1"), "A", "")),
    ("WAV INFO", "i.wav", lambda p: wav(p, title=KOR[0], artist=KOR[1], album=KOR[2]), KOR),
    ("WAV ID3 wins", "b.wav", lambda p: wav(p, "ID3", title="INFO", artist="A"), ("ID3", "A", "")),
    ("INFO past the end", "Broken.wav", lambda p: wav(p, claim=1 << 30, title="X"),
     ("Broken", "", "")),
    ("AIFF NAME", "n.aiff", lambda p: wav(p, title="이름"), ("이름", "", "")),
    ("FLAC untouched", "f.flac", lambda p: make_audio(p, title="F"), ("F", "", "")),
]


class LegacyTagsTest(unittest.TestCase):
    def test_what_the_table_shows_and_the_old_cache_read_once(self):
        home = TempHome(self)
        for _, name, make, _ in ROWS:
            make(home.path("Music", name))
        cache = os.path.join(home.data_dir, "cache.json")
        reads, real = [], backend_library.read_tags
        with mock.patch.object(backend_library, "read_tags", lambda p: reads.append(p) or real(p)):
            for scan, count in (("first", len(ROWS)), ("old cache", len(ROWS) - 1), ("again", 0)):
                reads.clear()
                library = backend_library.Library(home.config())
                library.scan_once()
                tracks = json.loads(library.reply())["tracks"]
                shown = {os.path.basename(t["path"]): t for t in tracks}
                for label, name, _, expected in ROWS:
                    with self.subTest(label, scan=scan):
                        self.assertEqual(tuple(shown[name][k] for k in TAGS), expected)
                self.assertEqual(len(reads), count, scan)  # FLAC is not read for the old cache
                if scan == "first":  # what the older reader stored, under its version
                    files = cached_files(home.data_dir)
                    files[home.path("Music", "k.mp3")][2] = "mojibake"
                    write_old_cache(home.data_dir, 1, files)
                else:  # taken over once, then gone
                    self.assertFalse(os.path.exists(cache), scan)


# An 8 MB tag, as a damaged file or a tagger's slip leaves it.
LONG = "가나다" + "T" * ((8 << 20) - 9)
HUGE = len(LONG)


BOUND_ROWS = [  # label, file, how it is made, field, what the field begins with
    ("an 8 MB FLAC title", "huge.flac", lambda p: make_audio(p, title=LONG, artist="A"), "title",
     "가나다T"),
    ("an 8 MB MP3 artist", "huge.mp3", lambda p: make_audio(p, title="T", artist=LONG), "artist",
     "가나다T"),
    ("20,000 values of one title", "many.flac",
     lambda p: make_audio(p, title=["t%d" % n for n in range(20000)]), "title", "t0; t1; t2; "),
    ("a 64 KB WAV INFO title", "info.wav", lambda p: wav(p, title="x" * 65000), "title", "xxx"),
]


def bounded_track(test, track, field, start):
    test.assertEqual(len(track[field]), FIELD_LIMIT)
    test.assertTrue(track[field].startswith(start), track[field][:20])
    test.assertTrue(track[field].endswith("…"))


class FieldBoundTest(unittest.TestCase):
    def test_a_field_is_cut_at_the_bound(self):
        e, ring = "e\u0301", "\u0327"  # é as e and a combining accent; a second mark
        family = "\U0001F468\u200d\U0001F469"  # two emoji joined
        edge = FIELD_LIMIT - 1  # where the cut mark goes
        rows = [
            ("short stays", "abc", "abc"),
            ("at the bound stays", "a" * FIELD_LIMIT, "a" * FIELD_LIMIT),
            ("one over is cut", "a" * (FIELD_LIMIT + 1), "a" * edge + "…"),
            ("blanks before the cut go", "a" * (edge - 2) + "   b" * 10, "a" * (edge - 2) + "…"),
            ("a base keeps its marks", "a" * (edge - 1) + e + ring + "z" * 9,
             "a" * (edge - 1) + "…"),
            ("joined emoji stay together", "a" * (edge - 1) + family + "z" * 9,
             "a" * (edge - 1) + "…"),
            ("a jamo syllable stays whole", "a" * (edge - 1) + "\u1100\u1161\u11a8" + "z" * 9,
             "a" * (edge - 1) + "…"),
        ]
        for name, text, shown in rows:
            with self.subTest(name):
                self.assertEqual(bounded(text), shown)
                self.assertLessEqual(len(bounded(text)), FIELD_LIMIT)

    def test_huge_tags_reach_the_catalog_bounded(self):
        home = TempHome(self)
        for _, name, make, _, _ in BOUND_ROWS:
            make(home.path("Music", name))
        for copy in range(7):  # the reply of eight such files stays small
            make_audio(home.path("Music", "more", "%d.flac" % copy), title=LONG)
        library = backend_library.Library(home.config())
        library.scan_once()
        reply = library.reply()
        self.assertLess(len(reply), 100 * 1024)
        tracks = {os.path.basename(p): t for p, t in by_path(check_library(reply)).items()}
        for label, name, _, field, start in BOUND_ROWS:
            with self.subTest(label):
                bounded_track(self, tracks[name], field, start)
        # The tag cache keeps them bounded too.
        for path, fields in cached_files(home.data_dir).items():
            with self.subTest(os.path.basename(path)):
                self.assertLessEqual(max(len(f) for f in fields[2:5]), FIELD_LIMIT)
        imported, _ = home.import_file(home.path("Music", "huge.mp3"))
        bounded_track(self, imported["opened"], "artist", "가나다T")
        self.assertEqual(imported["opened"]["id"], tracks["huge.mp3"]["id"])

    def test_values_past_the_bound_are_not_read(self):
        # 200,000 values of one tag (a tagger's loop): only those within the
        # bound are cleaned and compared, not all of them with each other.
        home = TempHome(self)
        path = home.path("many.flac")
        make_audio(path, title=["t%d" % n for n in range(200000)])
        cleaned, real = [], backend_files.clean_text
        with mock.patch.object(backend_files, "clean_text", lambda t: cleaned.append(t) or real(t)):
            title = backend_files.read_tags(path)[0]
        self.assertTrue(title.startswith("t0; t1; t2; ") and len(title) == FIELD_LIMIT)
        self.assertLess(len(cleaned), FIELD_LIMIT)

    def test_what_was_kept_before_the_bound_is_bounded(self):
        # A tag cache, fields found on MusicBrainz and a start record, all
        # written by a backend that kept whole tags, and the library unchanged.
        home = TempHome(self)
        path = home.path("Music", "a.flac")
        make_audio(path, title="Short")
        os.makedirs(home.data_dir)
        with open(os.path.join(home.data_dir, "enriched.json"), "w") as f:
            json.dump({path: {"artist": LONG}}, f)
        st = os.stat(path)
        files = {path: backend_cache.make_entry(st.st_size, st.st_mtime_ns, (LONG, "", "", 0.5))}
        self.assertTrue(backend_cache.write(home.data_dir, files, backend_library.CACHE_VERSION))
        with mock.patch.object(backend_files, "FIELD_LIMIT", 1 << 40), \
                mock.patch.object(backend_library, "FIELD_LIMIT", 1 << 40):
            before = backend_library.Library(home.config())
            before.scan_once()
            before.shutdown()
        (kept,) = json.loads(before.reply())["tracks"]
        self.assertEqual((len(kept["title"]), len(kept["artist"])), (HUGE, HUGE))
        self.assertTrue(os.path.isfile(os.path.join(home.data_dir, backend_start.RECORD_NAME)))

        now = backend_library.Library(home.config())
        first = check_library(now.reply())  # the first reply, before the scan
        now.scan_once()
        for when, reply in (("first reply", first), ("after the scan", check_library(now.reply()))):
            with self.subTest(when):
                (track,) = reply["tracks"]
                bounded_track(self, track, "title", "가나다T")
                bounded_track(self, track, "artist", "가나다T")
