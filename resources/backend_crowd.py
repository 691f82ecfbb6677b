"""Files crowded with tags, read within a bound.

A tag reader's cost grows with the number of tags a file holds: mutagen
makes an object of every ID3 frame, comment or item, and a file of a
hundred thousand of them keeps it busy for many seconds on a loaded
machine (minutes, when the frames' texts must be decoded too). The player
keeps such a file from FFmpeg past the same bound; here it is kept from
mutagen. Only the header structure is walked (ID3v2 frame headers, the
count of an Ogg or FLAC comment block, MPEG-4 box headers, an APEv2
footer), and each walk stops once the bound is passed.

A crowded file is read here instead: the title, artist and album among its
first MANY_TAGS tags, the length where a header gives it cheaply. A tag
further on is not looked at; a file whose first tags name nothing is shown
by its file name."""

import contextlib

# The player's own bound on the tags a file may hold before FFmpeg may not
# read it (FfmpegGate::kManyTags); no real file carries more than a few
# hundred.
MANY_TAGS = 10_000
_PAST = MANY_TAGS + 1
_TEXT_BYTES = 64 * 1024  # a name's frame or value larger than this is not read

# What each wanted field is called in each kind of tag.
_ID3_FIELDS = {
    b"TIT2": "title", b"TT2": "title", b"TPE1": "artist", b"TP1": "artist",
    b"TALB": "album", b"TAL": "album", b"TPE2": "albumartist", b"TP2": "albumartist",
}
_COMMENT_FIELDS = {b"title": "title", b"artist": "artist", b"album": "album",
                   b"albumartist": "albumartist", b"album artist": "albumartist"}
_APE_READ = frozenset(("ape", "wv", "mpc", "tak", "ofr"))  # formats whose APEv2 tag is read
_MP4_FIELDS = {b"\xa9nam": "title", b"\xa9ART": "artist", b"\xa9alb": "album",
               b"aART": "albumartist"}


class _Bytes:
    """A file's bytes read a window at a time: the walks ask for a few
    bytes at once, mostly just after the last ones."""

    WINDOW = 1 << 16

    def __init__(self, f, size):
        self.f, self.size = f, size
        self.start, self.held = 0, b""

    def at(self, pos, n):
        """The `n` bytes at `pos`, or None when they are not all in the file."""
        if pos < 0 or n < 0 or pos + n > self.size:
            return None
        if pos < self.start or pos + n > self.start + len(self.held):
            self.f.seek(pos)
            self.start, self.held = pos, self.f.read(max(n, self.WINDOW))
            if len(self.held) < n:
                return None
        return self.held[pos - self.start : pos - self.start + n]


class Found:
    """What a walk found: the tags counted (up to just past the bound), the
    wanted fields' texts among the first MANY_TAGS, and the length."""

    def __init__(self):
        self.count = 0
        self.texts = {}  # field -> [text, ...]
        self.seconds = 0.0

    def note(self, field, text):
        if field and text:
            self.texts.setdefault(field, []).append(text)

    @property
    def crowded(self):
        return self.count > MANY_TAGS


def _syncsafe(b):
    return (b[0] & 0x7F) << 21 | (b[1] & 0x7F) << 14 | (b[2] & 0x7F) << 7 | (b[3] & 0x7F)


def _id3_text(raw):
    """The values of an ID3 text frame's body (encoding byte, then text)."""
    if not raw:
        return []
    encoding, data = raw[0], raw[1:]
    if encoding == 0:
        from backend_files import legacy_text  # Latin-1 as taggers wrote it

        return [legacy_text(v) for v in data.split(b"\0")]
    codec = {1: "utf-16", 2: "utf-16-be", 3: "utf-8"}.get(encoding)
    if codec is None:
        return []
    text = data.decode(codec, "replace")
    return [value.lstrip("\ufeff") for value in text.split("\0")]  # each value's own BOM


def _id3_frames(b, version, flags, pos, end, found):
    """Counts the frames of one tag lying in [pos, end), as the player's
    gate does, and notes the wanted text frames among them."""
    if version < 2 or version > 4:
        return
    if flags & 0x40 and version >= 3:  # an extended header
        x = b.at(pos, 4)
        if x is None:
            return
        pos += 4 + int.from_bytes(x, "big") if version == 3 else _syncsafe(x)
    head, id_bytes = (6, 3) if version == 2 else (10, 4)
    # A tag unsynchronised as a whole holds frames this walk does not read.
    readable = not flags & 0x80
    while pos + head <= end:
        f = b.at(pos, head)
        if f is None or f[0] == 0:
            return  # the file ends, or padding
        name = f[:id_bytes]
        if not all(48 <= c <= 57 or 65 <= c <= 90 for c in name):
            # A frame this walk cannot follow: judged by the room left.
            found.count += (end - pos) // (head + 1)
            return
        if version == 2:
            length = int.from_bytes(f[3:6], "big")
            coded = False
        else:
            if version == 3 or (f[4] | f[5] | f[6] | f[7]) & 0x80:
                length = int.from_bytes(f[4:8], "big")
            else:
                length = _syncsafe(f[4:8])
            # compressed, encrypted or unsynchronised frames are not read
            coded = f[9] & (0xC0 if version == 3 else 0x0F)
        found.count += 1
        if found.count > MANY_TAGS:
            return
        field = _ID3_FIELDS.get(bytes(name))
        if field and readable and not coded and length <= _TEXT_BYTES:
            body = b.at(pos + head, length)
            for text in _id3_text(body or b""):
                found.note(field, text)
        pos += head + length


def _id3(b, start, limit, found):
    """The ID3v2 tags one after another at `start`, within `limit`; where
    the last one ends (`start` when there is none)."""
    pos = start
    while not found.crowded:
        h = b.at(pos, 10)
        if h is None or h[:3] != b"ID3":
            break
        size = 10 + _syncsafe(h[6:10])
        if pos > start:
            found.count += 1  # a file of many empty tags is no file either
        _id3_frames(b, h[3], h[5], pos + 10, min(pos + size, limit), found)
        pos += size + (10 if h[3] == 4 and h[5] & 0x10 else 0)  # a footer
    return pos


def _comments(read, found):
    """The count of a Vorbis comment block read through `read(n)` (the
    bytes, or fewer at its end), and the wanted ones among the first
    MANY_TAGS when it declares more; False when the block does not hold
    what it declares so far."""
    word = read(4)
    if len(word) < 4:
        return False
    vendor = int.from_bytes(word, "little")
    if vendor > 1 << 16 or len(read(vendor)) < vendor:
        return False  # no encoder's name is that long
    word = read(4)
    if len(word) < 4:
        return False
    declared = int.from_bytes(word, "little")
    found.count = min(declared, _PAST)
    if not found.crowded:
        return True  # a reader takes the file as it is
    for _ in range(MANY_TAGS):
        word = read(4)
        if len(word) < 4:
            return False
        length = int.from_bytes(word, "little")
        if length > _TEXT_BYTES:
            if len(read(length)) < length:
                return False
            continue
        entry = read(length)
        key, equals, value = entry.partition(b"=")
        field = _COMMENT_FIELDS.get(key.lower()) if equals else None
        if field:
            found.note(field, value.decode("utf-8", "replace"))
    return True


def _flac(b, found):
    # ID3 before "fLaC" counts, but a FLAC reader takes no names from it.
    lead = Found()
    pos = _id3(b, 0, b.size, lead)
    found.count = lead.count
    if found.crowded or b.at(pos, 4) != b"fLaC":
        return
    pos += 4
    for _ in range(1 << 10):
        block = b.at(pos, 4)
        if block is None:
            return
        code, size = block[0] & 0x7F, int.from_bytes(block[1:], "big")
        pos += 4
        info = b.at(pos, 34) if code == 0 and size == 34 and not found.seconds else None
        if info is not None:
            rate = info[10] << 12 | info[11] << 4 | info[12] >> 4
            if rate:
                found.seconds = (int.from_bytes(info[13:18], "big") & 0xFFFFFFFFF) / rate
        elif code == 4:
            reader = _Reader(b, pos, pos + size)
            _comments(reader.read, found)
            if found.crowded:
                return
        if block[0] & 0x80:
            return
        pos += size


class _Reader:
    """Bytes of [pos, end) of a file, read in turn."""

    def __init__(self, b, pos, end):
        self.b, self.pos, self.end = b, pos, end

    def read(self, n):
        n = max(0, min(n, self.end - self.pos))
        data = self.b.at(self.pos, n) or b""
        self.pos += len(data)
        return data


class _OggPacket:
    """The bytes of one packet of an Ogg file's first stream, read in turn
    across its pages: `read(n)` as _Reader's."""

    def __init__(self, b):
        self.b = b
        self.serial = None
        self.spans = []  # (pos, length) of the packet's bytes not yet read
        self.segments = []  # the current page's segments (pos, length), not yet taken
        self.next_page = 0
        self.ended = False

    def _page(self):
        for _ in range(1 << 16):
            h = self.b.at(self.next_page, 27)
            if h is None or h[:4] != b"OggS" or h[4] != 0:
                return False
            serial, count = h[14:18], h[26]
            lacing = self.b.at(self.next_page + 27, count)
            if lacing is None:
                return False
            pos = self.next_page + 27 + count
            self.next_page = pos + sum(lacing)
            if self.serial is None:
                self.serial = serial
            if serial == self.serial:
                for lace in lacing:
                    self.segments.append((pos, lace))
                    pos += lace
                return True
        return False

    def read(self, n):
        out = []
        while n > 0:
            if self.spans:
                pos, length = self.spans[0]
                take = min(n, length)
                data = self.b.at(pos, take)
                if data is None:
                    break
                out.append(data)
                n -= take
                if take == length:
                    self.spans.pop(0)
                else:
                    self.spans[0] = (pos + take, length - take)
                continue
            if self.ended:
                break
            if not self.segments and not self._page():
                break
            pos, lace = self.segments.pop(0)
            self.spans.append((pos, lace))
            self.ended = lace < 255
        return b"".join(out)

    def skip_packet(self):
        """Passes over the rest of the packet being read: the next read
        starts the next packet."""
        self.spans = []
        while not self.ended:
            if not self.segments and not self._page():
                return
            self.ended = self.segments.pop(0)[1] < 255
        self.ended = False


def _ogg(b, f, found):
    packet = _OggPacket(b)
    ident = packet.read(19)
    if ident[:7] == b"\x01vorbis":
        comments, rate, skip = b"\x03vorbis", int.from_bytes(ident[12:16], "little"), 0
    elif ident[:8] == b"OpusHead":
        comments, rate, skip = b"OpusTags", 48000, int.from_bytes(ident[10:12], "little")
    else:
        return
    packet.skip_packet()
    if packet.read(len(comments)) != comments:
        return
    _comments(packet.read, found)
    if found.crowded and rate:
        with contextlib.suppress(Exception):
            from mutagen.ogg import OggPage

            last = OggPage.find_last(f, int.from_bytes(packet.serial, "little"), True)
            if last is not None and last.position > skip:
                found.seconds = (last.position - skip) / rate


def _boxes(b, pos, end, walk):
    """(type, body, end) of each box in [pos, end), while `walk` (visits
    left, in a one-item list) lasts."""
    while pos + 8 <= end:
        h = b.at(pos, 8)
        if h is None or walk[0] <= 0:
            return
        walk[0] -= 1
        size, body = int.from_bytes(h[:4], "big"), pos + 8
        if size == 1:
            large = b.at(pos + 8, 8)
            if large is None:
                return
            size, body = int.from_bytes(large, "big"), pos + 16
        elif size == 0:
            size = end - pos
        if size < body - pos or pos + size > end:
            return
        yield h[4:8], body, pos + size
        pos += size


def _mp4_items(b, meta, end, walk, found):
    word = b.at(meta, 4)
    first = meta + 4 if word == b"\0\0\0\0" else meta  # ISO's meta is a full box
    for kind, body, stop in _boxes(b, first, end, walk):
        if kind != b"ilst":
            continue
        for item, at, item_end in _boxes(b, body, stop, walk):
            found.count += 1
            if found.crowded:
                return
            field = _MP4_FIELDS.get(bytes(item))
            if field is None:
                continue
            for data, value, value_end in _boxes(b, at, item_end, walk):
                head = b.at(value, 8)
                if data == b"data" and head and head[:4] == b"\0\0\0\x01":  # UTF-8 text
                    if value_end - value - 8 <= _TEXT_BYTES:
                        text = b.at(value + 8, value_end - value - 8) or b""
                        found.note(field, text.decode("utf-8", "replace"))


def _mp4(b, found):
    first = b.at(4, 4)
    if first not in (b"ftyp", b"moov", b"mdat", b"wide", b"free", b"skip"):
        return
    walk = [1 << 20]  # visits: a walk that runs out of them is of no real file
    for top, body, end in _boxes(b, 0, b.size, walk):
        if top != b"moov":
            continue
        for kind, at, stop in _boxes(b, body, end, walk):
            if kind == b"mvhd":
                head = b.at(at, 32)
                if head is not None:
                    if head[0] == 1:
                        scale, length = head[20:24], head[24:32]
                    else:
                        scale, length = head[12:16], head[16:20]
                    scale = int.from_bytes(scale, "big")
                    if scale:
                        found.seconds = int.from_bytes(length, "big") / scale
            elif kind == b"meta":
                _mp4_items(b, at, stop, walk, found)
            elif kind == b"udta":
                for item, item_at, item_end in _boxes(b, at, stop, walk):
                    if item == b"meta":
                        _mp4_items(b, item_at, item_end, walk, found)
                    else:
                        found.count += 1
                    if found.crowded:
                        return
            if found.crowded:
                return
    if walk[0] <= 0:
        found.count = _PAST


def _ape(b, found):
    """An APEv2 tag at the end of the file (before an ID3v1 tag, if any)."""
    end = b.size - (128 if b.at(b.size - 128, 3) == b"TAG" else 0)
    footer = b.at(end - 32, 32)
    if footer is None or footer[:8] != b"APETAGEX":
        return
    size = int.from_bytes(footer[12:16], "little")
    found.count = min(int.from_bytes(footer[16:20], "little"), _PAST)
    if not found.crowded or size < 32 or size > end:
        return
    reader = _Reader(b, end - size, end - 32)
    for _ in range(MANY_TAGS):
        head = reader.read(8)
        if len(head) < 8:
            return
        length = int.from_bytes(head[:4], "little")
        key = bytearray()
        while len(key) < 256:
            c = reader.read(1)
            if not c or c == b"\0":
                break
            key += c
        value = reader.read(min(length, _TEXT_BYTES + 1))
        if len(value) > _TEXT_BYTES:
            reader.read(length - len(value))
            continue
        field = _COMMENT_FIELDS.get(bytes(key).lower())
        if field and not head[4] & 0x06:  # text, not binary or a link
            for text in value.decode("utf-8", "replace").split("\0"):
                found.note(field, text)


def _chunked_id3(b, found, big_endian):
    """An ID3 chunk of a WAV or AIFF file."""
    order = "big" if big_endian else "little"
    pos = 12
    for _ in range(1 << 12):
        h = b.at(pos, 8)
        if h is None:
            return
        size = int.from_bytes(h[4:], order)
        if h[:4] in (b"id3 ", b"ID3 "):
            _id3(b, pos + 8, min(pos + 8 + size, b.size), found)
            return
        pos += 8 + size + (size & 1)


def _mp3_seconds(f, offset):
    with contextlib.suppress(Exception):
        from mutagen.mp3 import MPEGInfo

        return MPEGInfo(f, offset).length
    return 0.0


def walk(f, size, ext):
    """What the walk of the file open as `f` (seekable, `size` bytes) finds
    for its extension `ext`; crowded or not."""
    b = _Bytes(f, size)
    found = Found()
    head = b.at(0, 12) or b""
    try:
        if ext == "flac" or head[:4] == b"fLaC":
            _flac(b, found)
        elif head[:4] == b"OggS":
            _ogg(b, f, found)
        elif head[4:8] in (b"ftyp", b"moov", b"mdat", b"wide", b"free", b"skip"):
            _mp4(b, found)
        elif head[:4] == b"RIFF" and head[8:12] == b"WAVE":
            _chunked_id3(b, found, False)
        elif head[:4] == b"FORM" and head[8:12] in (b"AIFF", b"AIFC"):
            _chunked_id3(b, found, True)
        elif head[:4] == b"DSD ":
            pointer = int.from_bytes(b.at(20, 8) or b"", "little")
            if pointer:
                _id3(b, pointer, size, found)
        else:
            end = _id3(b, 0, size, found)
            if found.crowded and ext in ("mp3", "mp2", "mpga"):
                found.seconds = _mp3_seconds(f, end)
            elif not found.crowded and ext in _APE_READ:
                _ape(b, found)
    except (OSError, IndexError, ValueError):
        # A file that cannot be walked is left to the tag reader, which
        # says what it makes of it.
        return Found()
    return found
