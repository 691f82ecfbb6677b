"""Guards the quick FLAC reader against reading any file otherwise than
mutagen does: the same title, artist, album and duration for every file it
takes, and mutagen's own reading for every file it declines."""

import os
import struct
import unittest
from unittest import mock

from support import TempHome, make_audio

import backend_files  # noqa: E402


def comment_block(pairs, vendor=b"reference libFLAC 1.4.2"):
    """A Vorbis comment block's data: each pair a b"KEY=value" (bytes as given)."""
    data = struct.pack("<I", len(vendor)) + vendor + struct.pack("<I", len(pairs))
    for raw in pairs:
        data += struct.pack("<I", len(raw)) + raw
    return data


def picture_block(image=b"\x89PNG" + bytes(3000)):
    mime, text = b"image/png", b"front"
    return (struct.pack(">2I", 3, len(mime)) + mime + struct.pack(">I", len(text)) + text
            + struct.pack(">5I", 1, 1, 24, 0, len(image)) + image)


def blocks_of(path):
    """(stream info data, audio frames) of a FLAC file written by ffmpeg."""
    with open(path, "rb") as f:
        raw = f.read()
    pos, info = 4, None
    while True:
        code, size = raw[pos] & 0x7F, int.from_bytes(raw[pos + 1:pos + 4], "big")
        if code == 0:
            info = raw[pos + 4:pos + 4 + size]
        last = raw[pos] & 0x80
        pos += 4 + size
        if last:
            return info, raw[pos:]


def flac(info, audio, blocks, head=b"fLaC"):
    """A FLAC file's bytes: `blocks` are (code, data) or (code, data, claimed size)."""
    out = head
    for i, block in enumerate(blocks):
        code, data = block[0], block[1]
        size = block[2] if len(block) > 2 else len(data)
        flag = 0x80 if i == len(blocks) - 1 else 0
        out += bytes([flag | code]) + size.to_bytes(3, "big") + data
    return out + audio


TAGS = [b"TITLE=Song", b"ARTIST=Singer", b"ALBUM=Record"]


class QuickFlacTest(unittest.TestCase):
    def test_the_quick_reader_reads_as_mutagen_does(self):
        home = TempHome(self)
        info, audio = blocks_of(make_audio(home.path("tone.flac")))
        silent = bytearray(info)
        silent[10:13] = b"\0\0" + bytes([silent[12] & 0x0F])  # sample rate 0
        pic = picture_block()
        id3 = b"ID3\x04\0\0\0\0\0\x0a" + bytes(10)
        # name, file bytes, taken by the quick reader
        rows = [
            ("tags, a picture and padding", flac(info, audio, [
                (0, info), (4, comment_block(TAGS)), (6, pic), (1, bytes(1024))]), True),
            ("picture before the tags, a seek table", flac(info, audio, [
                (0, info), (3, bytes(36)), (6, pic), (4, comment_block(TAGS))]), True),
            ("several values, keys in any case, odd comments", flac(info, audio, [
                (0, info), (4, comment_block([
                    b"title=One", b"Title=Two", b"TITLE=One", b"TIT\xc3\xa9E=Accent key",
                    b"no equals sign", b"=empty key", b"ARTIST=A\0B", b"ALBUM=\xff\xfebad utf-8",
                    b"albumartist=Band"]))]), True),
            ("album artist only", flac(info, audio, [
                (0, info), (4, comment_block([b"ALBUMARTIST=Band", b"TITLE=  spaced  "]))]), True),
            ("an ID3 name as a comment key", flac(info, audio, [
                (0, info), (4, comment_block([b"TIT2=Frame name", b"TPE1=Other"]))]), True),
            ("no comment block", flac(info, audio, [(0, info), (1, bytes(100))]), True),
            ("comments with no entries", flac(info, audio, [(0, info), (4, comment_block([]))]), True),
            ("an application block and an unknown type", flac(info, audio, [
                (0, info), (2, b"abcd" + bytes(20)), (9, bytes(7)), (4, comment_block(TAGS))]), True),
            ("comment block claims more than it holds", flac(info, audio, [
                (0, info), (4, comment_block(TAGS), len(comment_block(TAGS)) + 8),
                (1, bytes(64))]), False),
            ("comment block claims less than it holds", flac(info, audio, [
                (0, info), (4, comment_block(TAGS), 20), (1, bytes(64))]), False),
            ("two comment blocks", flac(info, audio, [
                (0, info), (4, comment_block(TAGS)), (4, comment_block([b"TITLE=Other"]))]), False),
            ("picture sizes that do not add up", flac(info, audio, [
                (0, info), (6, pic, len(pic) - 10), (4, comment_block(TAGS))]), False),
            ("two seek tables", flac(info, audio, [
                (0, info), (3, bytes(18)), (3, bytes(18)), (4, comment_block(TAGS))]), False),
            ("a cue sheet", flac(info, audio, [(0, info), (5, bytes(396)),
                                               (4, comment_block(TAGS))]), False),
            ("sample rate zero", flac(silent, audio, [(0, bytes(silent)),
                                                      (4, comment_block(TAGS))]), False),
            ("a second stream info of rate zero", flac(info, audio, [
                (0, info), (4, comment_block(TAGS)), (0, bytes(silent))]), False),
            ("a second stream info", flac(info, audio, [
                (0, info), (4, comment_block(TAGS)), (0, info)]), True),
            ("an ID3 header before the stream", id3 + flac(info, audio, [
                (0, info), (4, comment_block(TAGS))]), False),
            ("cut short in the comments", flac(info, b"", [
                (0, info), (4, comment_block(TAGS))])[:-6], False),
            ("no stream info", flac(info, audio, [(4, comment_block(TAGS))]), False),
            ("not FLAC at all", b"RIFF" + bytes(200), False),
        ]
        for name, data, taken in rows:
            with self.subTest(name):
                path = home.path("Music", name + ".flac")
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with open(path, "wb") as f:
                    f.write(data)
                with open(path, "rb") as f:
                    self.assertEqual(backend_files._flac_quick(f, len(data)) is not None, taken)
                with mock.patch.object(backend_files, "_flac_quick", lambda f, end: None):
                    expected = backend_files.read_tags(path)
                self.assertEqual(backend_files.read_tags(path), expected)
                if taken:
                    self.assertIsNotNone(expected)


if __name__ == "__main__":
    unittest.main()
