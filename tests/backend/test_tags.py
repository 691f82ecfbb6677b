"""Guards the track table against mojibake and unread text chunks."""

import json
import os
import subprocess
import unittest
from unittest import mock

from mutagen.id3 import ID3, TALB, TIT2, TPE1
from mutagen.wave import WAVE
from support import TempHome, cached_files, make_audio, write_old_cache

import backend_library  # noqa: E402

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
