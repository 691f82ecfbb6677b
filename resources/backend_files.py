"""Finding audio files and reading their tags with mutagen."""

import contextlib
import hashlib
import io
import math
import os
import re
import unicodedata

import backend_crowd
from backend_cache import make_entry

try:
    import mutagen
except ImportError:  # the catalog still works, with file names as titles
    mutagen = None

AUDIO_EXTENSIONS = frozenset(
    "flac wav aiff aif aifc mp3 m4a aac alac ogg oga opus wv ape dsf dff tta wma mpc".split()
)

# ---- tags ------------------------------------------------------------------

_TITLE_KEYS = ("title", "TIT2", "\xa9nam", "Title")
_ARTIST_KEYS = ("artist", "TPE1", "\xa9ART", "Author")
_ALBUM_ARTIST_KEYS = ("albumartist", "album artist", "TPE2", "aART", "WM/AlbumArtist")
_ALBUM_KEYS = ("album", "TALB", "\xa9alb", "WM/AlbumTitle")

_CHUNK_TAGGED = frozenset(("wav", "aiff", "aif", "aifc"))

# The mutagen reader for each extension (module, class); a direct reader is
# several times faster than letting mutagen.File try every format.
_READER_OF = {
    "flac": ("mutagen.flac", "FLAC"), "mp3": ("mutagen.mp3", "MP3"),
    "wav": ("mutagen.wave", "WAVE"), "aiff": ("mutagen.aiff", "AIFF"),
    "aif": ("mutagen.aiff", "AIFF"), "aifc": ("mutagen.aiff", "AIFF"),
    "m4a": ("mutagen.mp4", "MP4"), "alac": ("mutagen.mp4", "MP4"),
    "aac": ("mutagen.aac", "AAC"), "opus": ("mutagen.oggopus", "OggOpus"),
    "wv": ("mutagen.wavpack", "WavPack"), "ape": ("mutagen.monkeysaudio", "MonkeysAudio"),
    "dsf": ("mutagen.dsf", "DSF"), "tta": ("mutagen.trueaudio", "TrueAudio"),
    "wma": ("mutagen.asf", "ASF"), "mpc": ("mutagen.musepack", "Musepack"),
    "dff": ("mutagen.dsdiff", "DSDIFF"),
}
# The modules a tag-reading worker process imports before its first file.
READERS = sorted({module for module, _ in _READER_OF.values()})
_classes = None


def _format_classes():
    global _classes
    if _classes is None:
        import importlib

        classes = {}
        for ext, (module, name) in _READER_OF.items():
            try:
                classes[ext] = getattr(importlib.import_module(module), name)
            except ImportError:  # older mutagen (no DSDIFF): mutagen.File guesses
                pass
        _classes = classes
    return _classes


def clean_text(value):
    """Text fit for JSON and the player: no lone surrogates (they would make
    the whole reply undecodable), no NULs, no surrounding blanks."""
    value = value.replace("\0", " ").strip()
    try:
        value.encode("utf-8")
    except UnicodeEncodeError:
        try:  # a file name's undecodable bytes become U+FFFD
            value = value.encode("utf-8", "surrogateescape").decode("utf-8", "replace")
        except UnicodeEncodeError:
            value = value.encode("utf-8", "replace").decode("utf-8")
    return value


# The most characters a track's title, artist or album keeps. Real names stay
# far below it; a tag of megabytes (a damaged file, a tagger's slip, 200,000
# values of one tag) would otherwise go whole into every catalog reply, the
# player's cache file, its labels and search texts and the remote's answers,
# and hold the player's window while it lays the text out.
FIELD_LIMIT = 1000
FIELD_CUT = "…"


def _joins_before(ch):
    """True for a character drawn together with the one before it: a
    combining mark, a joiner, a variation selector, a skin tone, a Hangul
    vowel or final jamo."""
    c = ord(ch)
    return (
        unicodedata.category(ch) in ("Mn", "Mc", "Me")
        or c == 0x200D
        or 0x1160 <= c <= 0x11FF
        or 0xFE00 <= c <= 0xFE0F
        or 0x1F3FB <= c <= 0x1F3FF
    )


def bounded(text):
    """`text` cut to at most FIELD_LIMIT characters, FIELD_CUT marking the
    cut; a character is not parted from the marks that combine with it, nor
    from a joiner's other side."""
    if len(text) <= FIELD_LIMIT:
        return text
    end = FIELD_LIMIT - len(FIELD_CUT)
    while end > 0 and (_joins_before(text[end]) or text[end - 1] == "\u200d"):
        end -= 1
    return text[:end].rstrip() + FIELD_CUT


def _is_hangul(ch):
    c = ord(ch)
    return 0xAC00 <= c <= 0xD7A3  # precomposed syllables


def _is_east_asian(ch):
    """Hangul in every form, CJK ideographs, CJK symbols and the full-width
    forms: what a CP949 text of a Korean tagger holds beyond ASCII."""
    c = ord(ch)
    return (
        0x1100 <= c <= 0x11FF  # jamo
        or 0x3000 <= c <= 0x303F  # CJK symbols and punctuation
        or 0x3130 <= c <= 0x318F  # compatibility jamo
        or 0x3200 <= c <= 0x33FF  # enclosed letters, CJK compatibility
        or 0x3400 <= c <= 0x4DBF  # ideographs, extension A
        or 0x4E00 <= c <= 0x9FFF  # unified ideographs
        or 0xAC00 <= c <= 0xD7A3
        or 0xF900 <= c <= 0xFAFF  # compatibility ideographs
        or 0xFF00 <= c <= 0xFFEF  # half- and full-width forms
    )


def legacy_text(raw):
    """Text from bytes that claim no encoding, or Latin-1 where taggers
    wrote something else. Korean taggers and rippers wrote CP949 (EUC-KR)
    under the Latin-1 label for years, and others wrote UTF-8 there: bytes
    that decode strictly as UTF-8 with some non-ASCII are UTF-8; bytes that
    decode strictly as CP949 into Hangul (and nothing beyond ASCII but East
    Asian script) are CP949; anything else stays Latin-1, so "Café" and
    "Motörhead" are left alone."""
    if raw.isascii():
        return raw.decode("ascii")
    with contextlib.suppress(UnicodeDecodeError):
        return raw.decode("utf-8")
    with contextlib.suppress(UnicodeDecodeError):
        text = raw.decode("cp949")
        wide = [ch for ch in text if ord(ch) > 0x7F]
        if any(_is_hangul(ch) for ch in wide) and all(_is_east_asian(ch) for ch in wide):
            return text
    return raw.decode("latin-1")


def _relabel(text):
    try:
        return legacy_text(text.encode("latin-1"))
    except UnicodeEncodeError:  # not what a Latin-1 frame decodes to: keep it
        return text


def _texts(value):
    if hasattr(value, "text"):  # an ID3 frame
        if getattr(value, "encoding", None) == 0:  # "Latin-1", and ID3v1
            return [_relabel(t) for t in _texts(value.text)]
        value = value.text
    if isinstance(value, (list, tuple)):
        return [t for v in value for t in _texts(v)]
    if isinstance(value, bytes):
        return []
    return str(value).split("\0")  # APEv2 keeps several values NUL-separated


def _joined(texts):
    """The texts of one tag as one field: cleaned, each once, "; " between,
    bounded. Texts past the bound are not looked at."""
    found, seen, length = [], set(), 0
    for text in texts:
        text = clean_text(text)
        if text and text not in seen:
            seen.add(text)
            found.append(text)
            length += len(text) + 2
            if length > FIELD_LIMIT:
                break
    return bounded("; ".join(found))


def _tag(tags, keys):
    for key in keys:
        try:
            value = tags[key]
        except (KeyError, ValueError, TypeError):
            continue
        joined = _joined(_texts(value))
        if joined:
            return joined
    return ""


# ---- RIFF INFO and AIFF text chunks ----------------------------------------

INFO_LIMIT = 64 * 1024  # text chunks hold a few names; more is not a tag
_INFO_FIELDS = {b"INAM": 0, b"IART": 1, b"IPRD": 2}  # title, artist, album
_AIFF_FIELDS = {b"NAME": 0, b"AUTH": 1}


def _chunk_text(raw):
    return bounded(clean_text(legacy_text(raw.split(b"\0")[0])))


def _walk_chunks(f, start, end, big_endian):
    """(id, offset, size) of the chunks between `start` and `end`; stops at
    the first chunk that claims to run past `end`."""
    order = "big" if big_endian else "little"
    pos = start
    while pos + 8 <= end:
        f.seek(pos)
        head = f.read(8)
        if len(head) < 8:
            return
        size = int.from_bytes(head[4:], order)
        if pos + 8 + size > end:
            return
        yield head[:4], pos + 8, size
        pos += 8 + size + (size & 1)  # chunks are padded to even lengths


def container_text(path):
    """[title, artist, album] from a WAV file's LIST/INFO chunk or an AIFF
    file's NAME/AUTH chunks, "" where absent; None when the file has none or
    is not such a file. Sizes are checked against the file's own, and at
    most INFO_LIMIT bytes of text are read."""
    found = ["", "", ""]
    try:
        with open(path, "rb") as f:
            end = os.fstat(f.fileno()).st_size
            head = f.read(12)
            if head[:4] == b"RIFF" and head[8:12] == b"WAVE":
                for cid, offset, size in _walk_chunks(f, 12, end, False):
                    if cid != b"LIST" or size < 4 or size > INFO_LIMIT:
                        continue
                    f.seek(offset)
                    if f.read(4) != b"INFO":
                        continue
                    for sub, at, length in _walk_chunks(f, offset + 4, offset + size, False):
                        if sub in _INFO_FIELDS:
                            f.seek(at)
                            found[_INFO_FIELDS[sub]] = _chunk_text(f.read(length))
            elif head[:4] == b"FORM" and head[8:12] in (b"AIFF", b"AIFC"):
                for cid, offset, size in _walk_chunks(f, 12, end, True):
                    if cid in _AIFF_FIELDS and size <= INFO_LIMIT:
                        f.seek(offset)
                        found[_AIFF_FIELDS[cid]] = _chunk_text(f.read(size))
            else:
                return None
    except OSError:
        return None
    return found if any(found) else None


def finite_seconds(value):
    try:
        value = float(value)
    except (TypeError, ValueError):
        return 0.0
    return round(value, 3) if math.isfinite(value) and value > 0 else 0.0


def extension(path):
    name = os.path.basename(path)
    dot = name.rfind(".")
    return name[dot + 1 :].lower() if dot > 0 else ""


def read_tags(path):
    """(title, artist, album, duration) of an audio file, "" for a missing
    tag; None when the file is not audio mutagen can read. OSError (gone,
    no permission) is left to the caller: it may be passing."""
    with open(path, "rb") as f:
        return _read_open(path, f, os.fstat(f.fileno()).st_size)


def _read_open(path, f, size):
    """read_tags of the file open as `f` (buffered, or not), of `size` bytes."""
    if mutagen is None:
        return ("", "", "", 0.0)
    ext = extension(path)
    quick = _flac_quick(f, size) if ext == "flac" else None
    if quick is not None:
        tags, length = quick
    else:
        crowded = backend_crowd.walk(f, size, ext)
        if crowded.crowded:  # kept from mutagen: its read of every tag takes minutes
            return _bounded_read(crowded)
        f.seek(0)
        if isinstance(f, io.FileIO):  # mutagen reads in small pieces
            f = io.BufferedReader(f)
        reader = _format_classes().get(ext)
        audio = None
        try:
            audio = reader(f) if reader else mutagen.File(f)
        except Exception:
            pass
        if audio is None and reader:  # misnamed file: let mutagen guess
            try:
                f.seek(0)
                audio = mutagen.File(f)
            except Exception:
                audio = None
        if audio is None or getattr(audio, "info", None) is None:
            return None
        tags, length = audio.tags, getattr(audio.info, "length", 0)
    if tags is None and ext == "aac":  # raw AAC may carry an ID3 header
        with contextlib.suppress(Exception):
            from mutagen.id3 import ID3

            tags = ID3(path)
    if tags is None:
        title = artist = album = ""
    elif type(tags) is dict:  # Vorbis comments read by _flac_quick
        title = _comment(tags, _TITLE_KEYS)
        artist = _comment(tags, _ARTIST_KEYS) or _comment(tags, _ALBUM_ARTIST_KEYS)
        album = _comment(tags, _ALBUM_KEYS)
    else:
        title = _tag(tags, _TITLE_KEYS)
        artist = _tag(tags, _ARTIST_KEYS) or _tag(tags, _ALBUM_ARTIST_KEYS)
        album = _tag(tags, _ALBUM_KEYS)
    if ext in _CHUNK_TAGGED and not (title and artist and album):
        # mutagen reads only ID3 in these containers; the editors' own text
        # chunks fill what ID3, which wins where it has a value, leaves empty.
        chunks = container_text(path)
        if chunks:
            title, artist, album = title or chunks[0], artist or chunks[1], album or chunks[2]
    return (title, artist, album, finite_seconds(length))


def _bounded_read(found):
    """read_tags of a file crowded with tags, from what backend_crowd found
    among its first tags: "" for a field they do not name (the title is then
    the file's name)."""
    texts = found.texts.get
    return (
        _joined(texts("title", ())),
        _joined(texts("artist", ())) or _joined(texts("albumartist", ())),
        _joined(texts("album", ())),
        finite_seconds(found.seconds),
    )


# ---- FLAC, the common case read quickly --------------------------------------
#
# mutagen's FLAC reader reads every metadata block whole, pictures included,
# into objects of their own: three quarters of a scan's time per file. A
# plain FLAC file (stream info, Vorbis comments, pictures, padding) is read
# here instead, its pictures skipped, with the same result: the comments
# parsed and looked up as mutagen does. Anything else (an ID3 header, a cue
# sheet, a size that does not add up, a short file) goes to mutagen, so an
# odd or damaged file reads exactly as it always did.


# A comment key: printable ASCII from space to "}", without "=".
_valid_key = re.compile("[ -<>-}]+").fullmatch


def _comment_keys(keys):
    """`keys` as a comment lookup sees them: in lower case, the ones no
    comment can have left out (mutagen refuses them: _tag moves on)."""
    return tuple(k.lower() for k in keys if _valid_key(k))


def _comment(values, keys):
    """What _tag gives for `keys` (_TITLE_KEYS...) on a file's Vorbis
    comments, from the values _vorbis_comments found."""
    for key in _COMMENT_KEYS[keys]:
        joined = _joined(text for value in values.get(key, ()) for text in value.split("\0"))
        if joined:
            return joined
    return ""


_COMMENT_KEYS = {
    keys: _comment_keys(keys)
    for keys in (_TITLE_KEYS, _ARTIST_KEYS, _ALBUM_ARTIST_KEYS, _ALBUM_KEYS)
}
# The keys whose values are looked up, as the file's bytes hold them.
_WANTED = frozenset(k.encode("ascii") for keys in _COMMENT_KEYS.values() for k in keys)


def _vorbis_comments(data):
    """key in lower case -> [value, ...] of a Vorbis comment block that
    fills `data` exactly, for the keys a track's fields come from, decoded
    as mutagen decodes them; None when the block does not fill `data`.

    A key is compared as bytes: "=" is never part of a UTF-8 sequence, so
    the bytes before the first one are the key mutagen decodes, and a key
    with anything but ASCII in it is none of the wanted ones."""
    end = len(data)
    if end < 8:
        return None
    pos = 4 + int.from_bytes(data[:4], "little")  # past the vendor's name
    if pos + 4 > end:
        return None
    count = int.from_bytes(data[pos : pos + 4], "little")
    pos += 4
    values = {}
    for _ in range(count):
        if pos + 4 > end:
            return None
        start = pos + 4
        pos = start + int.from_bytes(data[pos:start], "little")
        if pos > end:
            return None
        equals = data.find(b"=", start, pos)
        if equals > start:
            key = data[start:equals].lower()
            if key in _WANTED:
                key = key.decode("ascii")
                value = data[equals + 1 : pos].decode("utf-8", "replace")
                values.setdefault(key, []).append(value)
    return values if pos == end else None


HEAD = 16 * 1024  # read at once: most FLAC files' metadata, pictures aside, lies in it


def _flac_quick(f, end):
    """(tags, seconds) of a plain FLAC file of `end` bytes, tags None when
    it has no comments; None when the file is not one this reads (mutagen
    then does)."""
    try:
        head = f.read(HEAD)
        if head[:4] != b"fLaC":
            return None

        def chunk(at, count):  # the file's bytes at..at+count, all there
            if at + count <= len(head):
                return head[at : at + count]
            f.seek(at)
            data = f.read(count)
            return data if len(data) == count else b""

        pos, length, values, tables = 4, None, None, 0
        last = False
        while not last:
            block = chunk(pos, 4)
            if not block:
                return None
            last, code = block[0] & 0x80, block[0] & 0x7F
            size = int.from_bytes(block[1:], "big")
            pos += 4
            if pos + size > end:
                return None
            if code == 0:  # stream info: the first one counts, each must be sound
                if size != 34:
                    return None
                data = chunk(pos, 34)
                rate = (data[10] << 12) | (data[11] << 4) | (data[12] >> 4)
                if not rate:
                    return None
                if length is None:
                    length = (int.from_bytes(data[13:18], "big") & 0xFFFFFFFFF) / float(rate)
            elif code == 4:  # Vorbis comments: a second block is not expected
                if values is not None:
                    return None
                values = _vorbis_comments(chunk(pos, size))
                if values is None:
                    return None
            elif code == 6:  # a picture: its own sizes must add up to the block's
                if size < 32:
                    return None
                mime = int.from_bytes(chunk(pos + 4, 4), "big")
                if 32 + mime > size:
                    return None
                text = int.from_bytes(chunk(pos + 8 + mime, 4), "big")
                if 32 + mime + text > size:
                    return None
                picture = int.from_bytes(chunk(pos + 28 + mime + text, 4), "big")
                if 32 + mime + text + picture != size:
                    return None
            elif code == 3:  # seek table: mutagen takes one only
                tables += 1
                if tables > 1:
                    return None
            elif not (code in (1, 2) or 7 <= code < 127):  # a cue sheet, the invalid type
                return None
            pos += size  # padding, application and unknown blocks: skipped
        if length is None:
            return None
        return values, length
    except OSError:
        return None


def read_batch(paths):
    """(tag cache entry, tags) for each of `paths`, read in a worker
    process of a scan: tags as read_tags gives them (None for a file that
    is not audio), the entry made here too, beside the other workers;
    None for a file gone or locked since it was listed. Size and time come from the open
    file, so the walk need not ask for them (a new library's files are
    read here and nowhere else), and they belong to what was read."""
    found = []
    for path in paths:
        try:
            # Unbuffered: a FLAC file's head is taken in one read, where a
            # buffer would only add a copy (and a look at the terminal).
            with open(path, "rb", buffering=0) as f:
                st = os.fstat(f.fileno())
                tags = _read_open(path, f, st.st_size)
        except OSError:
            found.append(None)
            continue
        found.append((make_entry(st.st_size, st.st_mtime_ns, tags), tags))
    return found


def file_title(path):
    """The title of an untagged file: its name without the extension."""
    name = os.path.basename(path)
    if extension(path):
        name = name[: name.rfind(".")]
    return clean_text(name) or clean_text(os.path.basename(path))


# ---- walking the folders ---------------------------------------------------


def folder_identity(path):
    try:
        st = os.stat(path)
        return (st.st_dev, st.st_ino)
    except OSError:
        return None


def list_folder(folder, device, known):
    """(subfolders, files) of one folder as the walk takes it: the paths of
    its subfolders, and (path, identity, size, mtime) of its audio files in
    name order; hidden entries are left out. Size and time are read for a
    link and for a path in `known` (all, when `known` is None), else None.
    OSError when the folder cannot be listed."""
    with os.scandir(folder) as it:
        entries = sorted(it, key=lambda e: e.name)
    subfolders, files = [], []
    for entry in entries:
        name = entry.name
        if name[0] == ".":
            continue
        try:
            if entry.is_dir():
                subfolders.append(entry.path)
                continue
            if not entry.is_file():
                continue
            dot = name.rfind(".")
            if dot <= 0 or name[dot + 1 :].lower() not in AUDIO_EXTENSIONS:
                continue
            path = entry.path
            size = mtime = None
            if entry.is_symlink():
                st = entry.stat()
                # one int: a third of a tuple's memory
                identity = st.st_dev << 64 | st.st_ino
                size, mtime = st.st_size, st.st_mtime_ns
            else:
                # A file (not a link) lies on its folder's device.
                identity = device | entry.inode()
                if known is None or path in known:
                    st = entry.stat()
                    size, mtime = st.st_size, st.st_mtime_ns
        except OSError:  # vanished, dangling link, no permission
            continue
        files.append((path, identity, size, mtime))
    return subfolders, files


def walk_audio(roots, skip, stop, known=(), steps=None):
    """Yields (path, size, mtime_ns) for every audio file under `roots`, each
    file once: hidden entries are skipped, and so are folders whose
    (device, inode) is in `skip` or was seen before, which ends symlink
    loops and overlapping roots. A plain file (no link) whose path is not
    in `known` comes with None for size and time: its reader takes them
    from the open file, and a new library's walk then asks the file system
    for nothing but the folders' listings.

    With a list as `steps`, each folder taken from the walk's stack is
    added to it as (folder, listed, files, digest): listed is False for a
    folder passed over (unreachable, skipped or seen before), files the
    number of audio files listed in it, and the digest step_digest's. The walk is a function of these steps, so a later walk
    whose steps give the same digests lists the same files in the same
    order (check_steps)."""
    seen = set(skip)
    seen_files = set()
    for root in roots:
        stack = [root]
        while stack:
            if stop.is_set():
                return
            folder = stack.pop()
            key = folder_identity(folder)
            if key is None or key in seen:
                if steps is not None:
                    steps.append((folder, False, 0, step_digest(folder, key, False)))
                continue
            seen.add(key)
            try:
                listing = list_folder(folder, key[0] << 64, known)
            except OSError:
                listing = None
            if steps is not None:
                steps.append((folder, True, len(listing[1]) if listing else 0, step_digest(folder, key, listing)))
            if listing is None:
                continue
            subfolders, files = listing
            for path, identity, size, mtime in files:
                if identity in seen_files:
                    continue
                seen_files.add(identity)
                yield path, size, mtime
            stack.extend(reversed(subfolders))


def step_digest(folder, key, listing):
    """A digest of one step of the walk: the folder, its identity and what
    the walk found in it (False: passed over, None: not listable), its
    files' sizes and times left out."""
    if listing:
        listing = (listing[0], [f[:2] for f in listing[1]])
    text = repr((folder, key, listing)).encode("utf-8", "surrogateescape")
    return hashlib.blake2b(text, digest_size=16).digest()


def check_steps(steps):
    """Takes the steps (folder, listed) of an earlier walk again: (the
    digests joined, the identities of the listed files, their sizes and
    times as one flat list), all in the walk's order. Every file is asked
    for its size and time, known or not."""
    digests, identities, stamps = [], [], []
    for folder, listed in steps:
        key = folder_identity(folder)
        listing = False
        if listed and key is not None:
            try:
                listing = list_folder(folder, key[0] << 64, None)
            except OSError:
                listing = None
        digests.append(step_digest(folder, key, listing))
        if listing:
            for _, identity, size, mtime in listing[1]:
                identities.append(identity)
                stamps += (size, mtime)
    return b"".join(digests), identities, stamps


# Folders where removable disks are mounted, one folder (or a user's folder
# and then one) below: an empty or missing folder there is a disk that is away.
MOUNT_FOLDERS = ("/media", "/run/media", "/mnt")


def unreachable_paths(paths, roots):
    """The paths among `paths` that lie where nothing can be reached just
    now: under a scan root that is missing, or under a mount point of
    MOUNT_FOLDERS (one or two levels down) that is missing or empty. A file
    deleted from a disk that is present is not among them."""
    state = {}

    def away(folder, empty_counts):
        known = state.get(folder)
        if known is None:
            try:
                known = empty_counts and not os.listdir(folder)
                known = known or not os.path.isdir(folder)
            except OSError:
                known = True
            state[folder] = known
        return known

    found = set()
    for path in paths:
        for root in roots:
            if path.startswith(root.rstrip("/") + "/"):
                if away(root, False):
                    found.add(path)
                break
        if path in found:
            continue
        for base in MOUNT_FOLDERS:
            if not path.startswith(base + "/"):
                continue
            parts = path[len(base) + 1 :].split("/")[:-1]  # folders below base
            for depth in (1, 2):
                if len(parts) >= depth and away(base + "/" + "/".join(parts[:depth]), True):
                    found.add(path)
                    break
            break
    return found
