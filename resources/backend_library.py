"""The catalog: the scan thread, the tag cache, ids, stand-in links for
undecodable names, files added from outside the scanned folders and the
fields filled in from MusicBrainz, and the answer to each request."""

import array
import collections
import contextlib
import io
import itertools
import json
import os
import stat
import sys
import threading
import time
import traceback

import backend_cache
import backend_files
import backend_start
from backend_files import (
    FIELD_LIMIT,
    bounded,
    clean_text,
    extension,
    file_title,
    finite_seconds,
    folder_identity,
    read_batch,
    read_tags,
    unreachable_paths,
    walk_audio,
)
from backend_musicbrainz import (
    MSG_MB_BAD_REPLY,
    MSG_MB_TIMEOUT,
    LookupFailed,
    guess_from_name,
    lookup,
)
from backend_cache import is_audio, make_entry, same_file
from backend_store import UNSAVED, IdRegistry, Store, log

PUBLISH_INTERVAL = 0.5  # least seconds between catalog updates while scanning
CACHE_VERSION = 2  # 2: legacy ID3 text decoded, WAV/AIFF text chunks read
# Formats whose tags version 1 of the cache may have read wrongly.
REREAD_FROM_VERSION_1 = frozenset("mp3 wav aiff aif aifc aac tta dsf".split())
SAVE_INTERVAL = 10.0  # seconds between cache saves during a long first scan
# New files a scan reads in-process: a few added files are not worth the
# workers' start, a new library is. A scan that meets more starts worker
# processes, and reads files itself only until they are ready.
INLINE_READS = 32
BATCH = 256  # files handed to a worker at a time
FILES_PER_WORKER = 2000  # files to read that pay for one more worker's start
IN_FLIGHT = 8  # batches handed to each worker ahead of the results taken
ENDING = 2.0  # seconds a stopped scan's workers have to finish their batches
# Seconds the first reply waits for the start's look at the start record: a
# confirmed record then goes out once, already final ("scanning" false),
# so the player takes the catalog in once rather than twice.
FIRST_LOOK = 2.0

# Status-line texts, in Korean like every text of the interface; the player
# shows them unchanged.
MSG_BAD_REQUEST = "잘못된 요청입니다."
MSG_UNKNOWN_ACTION = "알 수 없는 요청입니다: {}"
MSG_NOT_ABSOLUTE = "파일 경로가 올바르지 않습니다: {}"
MSG_NOT_FOUND = "파일을 찾을 수 없습니다: {}"
MSG_NOT_FILE = "음원 파일이 아닙니다: {}"
MSG_UNREADABLE = "음원을 읽을 수 없습니다: {}"
MSG_NO_TRACK = "현재 곡을 목록에서 찾을 수 없습니다."
MSG_NO_MUTAGEN = "python3-mutagen이 없어 태그를 읽지 못했습니다. 파일 이름으로 표시합니다."
MSG_MB_COMPLETE = "곡 정보와 아트가 이미 모두 있습니다."
MSG_MB_NOTHING_NEW = "MusicBrainz에 더 채울 정보가 없습니다."
MSG_SET_ASIDE = "손상된 파일을 따로 보관했습니다: {} → {}"


TRACK_TEXT = '{"id":%d,"path":%s,"title":%s,"artist":%s,"album":%s,"duration":%s,"art":%s}'
_quote = json.encoder.encode_basestring  # a JSON string, non-ASCII kept as it is


def track_fields(track):
    """The fields of a catalog entry, which is kept as its JSON text (UTF-8)."""
    return json.loads(track)


class Catalog:
    """A published catalog, never changed once made: its tracks' JSON
    texts (UTF-8) joined by commas in path order, the reply's body as it is
    sent (`data`), where each text ends in it (`ends`) and each path's
    position (`at`). A track's text is cut from `data` when it is wanted,
    so the catalog is held once, as it is sent, and not a second time as a
    byte string per track.

    Tables of tracks handed to make() or Library._publish map a path to
    its text, or to its position in the catalog they were taken from: an
    unchanged track is carried over without a copy of its text."""

    __slots__ = ("at", "data", "ends")

    def __init__(self, at=None, data=b"", ends=None):
        self.at = {} if at is None else at
        self.data = data
        self.ends = array.array("Q") if ends is None else ends

    def __contains__(self, path):
        return path in self.at

    def __len__(self):
        return len(self.at)

    def text(self, n, data=None):
        """The text of the track at position `n` (a view of `data`, a
        memoryview of this catalog's, when given)."""
        ends = self.ends
        return (self.data if data is None else data)[ends[n - 1] + 1 if n else 0 : ends[n]]

    def track(self, path):
        n = self.at.get(path)
        return None if n is None else self.text(n)

    @classmethod
    def build(cls, tracks):
        """The catalog of (path, text) in path order; a text None is left out."""
        out, ends, at = io.BytesIO(), array.array("Q"), {}
        for path, text in tracks:
            if text is None:
                continue
            if ends:
                out.write(b",")
            out.write(text)
            at[path] = len(ends)
            ends.append(out.tell())
        return cls(at, out.getvalue(), ends)

    @classmethod
    def make(cls, tracks, source=None):
        """The catalog of `tracks` (path -> text, or position in `source`)."""
        view = memoryview(source.data) if source is not None else None
        try:
            return cls.build(
                (path, source.text(t, view) if type(t) is int else t)
                for path, t in ((p, tracks[p]) for p in sorted(tracks))
            )
        finally:
            if view is not None:
                view.release()


class Library:
    """The catalog and everything kept for it. Requests run on the main
    thread, scans on one background thread; `lock` guards the shared state
    and the published reply text.

    The catalog is kept as it is sent (Catalog): a reply is that text
    written as it is, and a scan that finds nothing new builds nothing."""

    def __init__(self, config, restore=True):
        self.cfg = config
        self.store = Store(config.data_dir)
        self.lock = threading.RLock()
        self.loading = threading.Lock()  # held while the tables below are loaded
        # path -> entry (backend_cache.make_entry); None until loaded (a
        # start that the start record confirms never loads it)
        self.cache = None
        self.cache_dirty = False
        self.tags_stamp = None  # of tags.cache as last read or written
        self.registry = IdRegistry(self.store)
        self.enriched_stamp = self.store.stamp("enriched.json")
        self.enriched = self.store.read("enriched.json", dict)
        self.unsaved_enriched = {}  # path -> fields found but not yet in enriched.json
        self.added_stamp = self.store.stamp("added.json")
        self.added = self._load_added()
        self.unsaved_add, self.unsaved_remove = set(), set()  # changes not yet in added.json
        self.ids = {}  # path -> id
        self.owner = {}  # id -> path
        self.catalog = Catalog()  # None while `record` stands in
        self.live = {}  # tracks added in this run, kept through the running scan
        self.snapshot = b""  # the tracks as sent, between the list's brackets
        self.record = None  # the start record whose catalog is sent, until the tables load
        self.check = None  # the start's second look at the record's walk (StepCheck)
        # (steps, digests, stamps) of the last complete walk, for the start record
        self.walk = None
        self.recorded = None  # (snapshot, own stamps) the start record on disk holds
        self.first_look = threading.Event()  # set once the start record is confirmed or not
        self.scanning = False
        self.notice = MSG_NO_MUTAGEN if backend_files.mutagen is None else None
        self.stop = threading.Event()
        self.thread = None
        self.rescan = False
        self.stale = set()  # paths enriched while a scan runs
        self.touched = set()  # paths read again since the running scan began
        if restore:
            self._start_from_record()
        if self.check is None:
            self.first_look.set()
        if self.record is None:
            self._load_tables()
            if restore:
                self._set_catalog(self._restore())

    # -- the start record

    def _own_stamps(self):
        return {
            "added.json": self.added_stamp,
            "enriched.json": self.enriched_stamp,
            "ids.json": self.registry.stamp,
            backend_cache.CACHE_NAME: self.tags_stamp,
        }

    def _start_from_record(self):
        """Takes the start record's catalog as the one in hand when the
        record was made under the same settings and files of ours, and sets
        its walk to be checked again; the scan then only confirms it."""
        if backend_files.mutagen is None:
            return
        found = backend_start.read_header(self.store.folder)
        if found is None:
            return
        header, f = found
        self.tags_stamp = self.store.stamp(backend_cache.CACHE_NAME)
        own = {k: list(v) if v else v for k, v in self._own_stamps().items()}
        skip = sorted(list(i) for i in self._skip())
        if (
            header.get("version") != CACHE_VERSION
            or header.get("fields") != FIELD_LIMIT
            or header.get("roots") != self.cfg.roots
            or header.get("skip") != skip
            or header.get("own") != own
            or not self._links_stand(header.get("links"))
        ):
            f.close()
            self.tags_stamp = None
            return
        check = backend_start.StepCheck(header)
        record = backend_start.read_sections(header, f)
        if record is None:
            self.tags_stamp = None
            return
        self.check = check
        self.record = record
        self.record_own = self._own_stamps()
        self.catalog = None
        record.snapshot = self.snapshot = record.sections.pop("snapshot")
        self.walk = (header["steps"], record.sections["digests"], record.sections["stamps"])

    def _links_stand(self, links):
        if not isinstance(links, list):
            return False
        for link in links:
            try:
                name, target = link
                if os.readlink(os.path.join(self.cfg.links_dir, name)) != target:
                    return False
            except (OSError, TypeError, ValueError):
                return False
        return True

    def _record_confirmed(self):
        """True when the walk and the added files are as the start record
        has them, and its catalog still stands in (nothing loaded since):
        the scan has nothing to change."""
        check, self.check = self.check, None
        if check is None:
            return False
        found = check.result()
        with self.lock:
            record = self.record
        if found is None or record is None:
            return False
        if found != (record.sections["digests"], record.sections["stamps"]):
            return False
        for entry in record.header.get("outside") or ():
            try:
                path, size, mtime = entry
                st = os.stat(path)
            except (OSError, TypeError, ValueError):
                return False
            if st.st_size != size or st.st_mtime_ns != mtime:
                return False
        with self.lock:
            return self.record is record

    def _load_tables(self):
        """Loads the tag cache and the ids, and makes the catalog of the
        start record standing in (if any) a table of its own."""
        with self.loading:
            if self.cache is not None:
                return
            cache = self._load_cache()
            with self.lock:
                self.cache = cache
                # the paths of both in one order, without a set of them all
                added = [p for p in self.added if p not in cache]
                for path in sorted(itertools.chain(cache, added)):
                    if path in self.added or is_audio(cache[path]):
                        self.id_for(path)
                record = self.record
            if record is None:
                return
            catalog = self._record_catalog(record)
            if catalog is None:
                log("the start record's catalog does not add up: made again from the tags")
                catalog = self._restore()
            with self.lock:
                self.record = None
                self._set_catalog(catalog)
                if catalog.data is record.snapshot:
                    self.recorded = (catalog.data, self.record_own)

    @staticmethod
    def _record_catalog(record):
        paths = record.sections["paths"].split(b"\0") if record.sections["paths"] else []
        ends, data = record.sections["ends"], record.snapshot
        if len(paths) != len(ends) or (ends[-1] if ends else 0) != len(data):
            return None
        at = {sys.intern(os.fsdecode(raw)): n for n, raw in enumerate(paths)}
        return Catalog(at, data, ends) if len(at) == len(paths) else None

    def _save_record(self):
        """Writes the start record when the catalog in hand or our files
        changed since it was written, the last walk complete; removes it
        when a change of ours could not be saved (the record would then
        hold what the files do not)."""
        with self.lock:
            if self.walk is None or self.catalog is None:
                return
            own = self._own_stamps()
            if self.recorded and self.recorded[0] is self.catalog.data and self.recorded[1] == own:
                return
            if self.unsaved_add or self.unsaved_remove or self.unsaved_enriched or (
                UNSAVED in own.values()
            ):
                backend_start.remove(self.store.folder)
                self.recorded = None
                return
            catalog = self.catalog
            steps, digests, stamps = self.walk
            outside = []
            for path in sorted(self.added):
                entry = self.cache.get(path)
                outside.append([path] + (backend_cache.stamp(entry) if entry else [-1, -1]))
        paths = sorted(catalog.at)  # the order of the catalog
        header = {
            "version": CACHE_VERSION,
            # The bound of the tracks' fields: a record made before it (or
            # under another) holds tracks that would be made otherwise now.
            "fields": FIELD_LIMIT,
            "roots": self.cfg.roots,
            "skip": sorted(list(i) for i in self._skip()),
            "own": own,
            "outside": outside,
            "links": self._links(catalog),
            "steps": steps,
        }
        sections = {
            "digests": digests,
            "stamps": stamps,
            # in pieces: neither a byte string per path nor all of them joined
            "paths": [
                (b"\0" if n else b"") + os.fsencode("\0".join(paths[n : n + 4096]))
                for n in range(0, len(paths), 4096)
            ],
            "ends": catalog.ends.tobytes(),
            "snapshot": catalog.data,
        }
        del paths
        if backend_start.write(self.store.folder, header, sections):
            with self.lock:
                self.recorded = (catalog.data, own)

    # -- own data

    def _load_cache(self):
        folder = self.store.folder
        self.tags_stamp = self.store.stamp(backend_cache.CACHE_NAME)
        files = backend_cache.read(folder, CACHE_VERSION)
        if files is not None:
            return files
        # No cache of this form yet: the JSON cache of earlier versions is
        # taken over once, and removed when its entries are safely written.
        version, old = backend_cache.read_old(folder)
        if old is None:
            return {}
        good = self._take_old(version, old)
        if backend_cache.write(folder, good, CACHE_VERSION):
            backend_cache.remove_old(folder)
            self.tags_stamp = self.store.stamp(backend_cache.CACHE_NAME)
        return good

    @staticmethod
    def _take_old(version, files):
        if version not in (1, CACHE_VERSION):
            return {}
        good = {}
        for path, entry in files.items():
            path = sys.intern(path)  # one string per path across every table
            if isinstance(entry, list) and len(entry) in (2, 6):
                size, mtime = entry[0], entry[1]
                if type(size) is int and type(mtime) is int:
                    if version == 1 and backend_files.extension(path) in REREAD_FROM_VERSION_1:
                        # Tags read before legacy Korean text and WAV/AIFF
                        # text chunks were understood: those files are read
                        # again once (the old titles show until then); FLAC
                        # and the other formats keep their entries.
                        size = -1
                    if len(entry) == 2:
                        good[path] = make_entry(size, mtime)
                    elif all(isinstance(t, str) for t in entry[2:5]) and isinstance(
                        entry[5], (int, float)
                    ):
                        tags = [clean_text(t) for t in entry[2:5]] + [entry[5]]
                        good[path] = make_entry(size, mtime, tags)
        return good

    def save_cache(self):
        if backend_files.mutagen is None:  # tag-less entries must not outlive the missing module
            return
        with self.lock:
            if not self.cache_dirty:
                return
            files = dict(self.cache)
            self.cache_dirty = False
        if backend_cache.write(self.store.folder, files, CACHE_VERSION):
            stamp = self.store.stamp(backend_cache.CACHE_NAME)
        else:
            stamp = UNSAVED
            with self.lock:
                self.cache_dirty = True
        with self.lock:
            self.tags_stamp = stamp

    def _load_added(self):
        raw = self.store.read("added.json", list)
        return {p for p in raw if isinstance(p, str) and os.path.isabs(p)}

    def _change_added(self, add=(), remove=()):
        """Applies a change to the list of added files, on disk and here. A
        change that could not be saved (a full disk) is kept and saved with
        the next one, so a later change that is saved does not drop it."""
        with self.store.locked():
            self.unsaved_add = (self.unsaved_add | set(add)) - set(remove)
            self.unsaved_remove = (self.unsaved_remove | set(remove)) - set(add)
            current = self._load_added()
            new = (current | self.unsaved_add) - self.unsaved_remove
            if new == current or self.store.write("added.json", sorted(new)):
                self.unsaved_add, self.unsaved_remove = set(), set()
            self.added_stamp = self.store.stamp("added.json")
        with self.lock:
            self.added = new

    # -- tracks

    def id_for(self, path):
        with self.lock:
            known = self.ids.get(path)
            if known is None:
                known = self.registry.assign(path, self.owner)
                self.ids[path] = known
                self.owner[known] = path
            return known

    def _forget(self, path):
        known = self.ids.pop(path, None)
        if known is not None and self.owner.get(known) == path:
            del self.owner[known]

    def shown_path(self, path, track_id):
        """The path the player gets: the file's own, or, when that is not
        valid UTF-8, a UTF-8 named link to it in our data folder."""
        try:
            path.encode("utf-8")
            return path
        except UnicodeEncodeError:
            pass
        ext = extension(path)
        ext = "." + ext if ext.isascii() and ext.isalnum() else ""
        link = os.path.join(self.cfg.links_dir, "%d%s" % (track_id, ext))
        try:
            if os.readlink(link) == path:
                return link
            os.unlink(link)
        except OSError:
            pass
        try:
            os.makedirs(self.cfg.links_dir, exist_ok=True)
            os.symlink(path, link)
        except OSError as e:
            log("cannot link", os.fsencode(path), ":", e)
            return None
        return link

    def real_path(self, path):
        """Undoes shown_path: a stand-in link leads back to its file."""
        if os.path.dirname(path) == self.cfg.links_dir and os.path.islink(path):
            target = os.readlink(path)
            return os.path.join(os.path.dirname(path), target)
        return path

    def known_path(self, path):
        """The catalog's own path for a file reached another way (through a
        linked folder, say), so that it keeps its row and id; else `path`."""
        name = os.path.basename(path)
        with self.lock:
            if path in self.ids:
                return path
            candidates = [p for p in self.ids if os.path.basename(p) == name]
        for candidate in candidates:
            with contextlib.suppress(OSError):
                if os.path.samefile(candidate, path):
                    return candidate
        return path

    def make_track(self, path, tags):
        # Tags read before they were bounded (the tag cache keeps a file's
        # entry until it changes) are bounded here, as the fields found on
        # MusicBrainz are.
        title, artist, album, duration = tags[:4]
        title, artist, album = bounded(title), bounded(artist), bounded(album)
        track_id = self.id_for(path)
        shown = self.shown_path(path, track_id)
        if shown is None:
            return None
        extra = self.enriched.get(path)
        art = ""
        if isinstance(extra, dict) and extra:  # fields found on MusicBrainz fill gaps

            def field(tagged, key):
                value = extra.get(key)
                return tagged or (bounded(clean_text(value)) if isinstance(value, str) else "")

            title, artist = field(title, "title"), field(artist, "artist")
            album, art = field(album, "album"), field("", "art")
        # The text json.dumps(..., ensure_ascii=False, separators=(",", ":"))
        # gives for the dict of these keys in this order, made without the
        # dict: a scan builds one per new file.
        text = TRACK_TEXT % (
            track_id,
            _quote(shown),
            _quote(title or file_title(path)),
            _quote(artist),
            _quote(album),
            repr(finite_seconds(duration)),
            _quote(art),
        )
        return text.encode("utf-8", "replace")

    def file_track(self, path, size, mtime):
        """The track of one file, from the cache when size and modification
        time are unchanged, else read; None when it cannot be read."""
        with self.lock:
            entry = self.cache.get(path)
        if entry is None or not same_file(entry, size, mtime):
            try:
                tags = read_tags(path)
            except OSError:  # gone or locked since it was listed: not cached
                return None
            return self._take_entry(path, make_entry(size, mtime, tags), tags)
        return self._entry_track(path, entry)

    def _entry_track(self, path, entry):
        """The track of a cached file; None when it is not audio."""
        return self.make_track(path, backend_cache.tags(entry)) if is_audio(entry) else None

    def _take_entry(self, path, entry, tags):
        """Caches what was read of a file (its entry, and its tags or None:
        not audio) and gives its track."""
        with self.lock:
            self.cache[path] = entry
            self.cache_dirty = True
            self.touched.add(path)
        return self.make_track(path, tags) if tags else None

    def _restore(self):
        """The last run's catalog, shown until the scan has confirmed it:
        made track by track straight into its text, no table of the
        tracks' texts held beside it."""
        paths = sorted(p for p, e in self.cache.items() if is_audio(e))
        return Catalog.build((p, self._entry_track(p, self.cache[p])) for p in paths)

    def _set_catalog(self, catalog):
        with self.lock:
            self.catalog = catalog
            self.snapshot = catalog.data

    def _publish(self, tracks, source=None):
        """Makes `tracks` (path -> text, or position in `source`, by default
        the catalog in hand) the catalog."""
        with self.lock:
            if source is None:
                source = self.catalog
            if source is self.catalog and tracks == source.at:
                # Nothing changed (a rescan of an unchanged library): the
                # reply in hand stands, and no second one is built beside it.
                return
        self._set_catalog(Catalog.make(tracks, source))

    def _republish(self, changes):
        with self.lock:
            source = self.catalog
            tracks = dict(source.at)
        tracks.update(changes)
        self._publish(tracks, source)

    def reply_parts(self, error=None):
        """The reply as byte strings to be written one after the other: the
        stored catalog text is sent as it is, never copied or re-encoded, so
        a poll of an unchanged catalog costs next to nothing."""
        with self.lock:
            snapshot = self.snapshot
            tail = b',"scanning":true' if self.scanning else b',"scanning":false'
        if error is None:
            error = self.take_notice()
        if error:
            tail += b',"error":' + json.dumps(error, ensure_ascii=False).encode("utf-8", "replace")
        return [b'{"tracks":[', snapshot, b"]" + tail + b"}"]

    def take_notice(self):
        """The next message for the status line that no request asked for:
        a damaged file of ours set aside (named with its kept copy), then
        the missing tag reader."""
        if self.store.set_aside:
            name, copy = self.store.set_aside.pop(0)
            return MSG_SET_ASIDE.format(name, copy)
        notice, self.notice = self.notice, None
        return notice

    def reply(self, error=None):
        return b"".join(self.reply_parts(error))

    # -- scanning

    def start_scan(self):
        with self.lock:
            if self.scanning:
                self.rescan = True  # files may have come in behind the running scan
                return
            self.scanning = True
        self.thread = threading.Thread(target=self._scan_loop, name="scan", daemon=True)
        self.thread.start()

    def _scan_loop(self):
        try:
            while True:
                self.scan_once()
                with self.lock:
                    if not self.rescan or self.stop.is_set():
                        break
                    self.rescan = False
        except Exception:
            log("scan failed:\n" + traceback.format_exc())
        finally:
            self.save_cache()
            with self.lock:
                self.scanning = False
            self.first_look.set()

    def _skip(self):
        return {i for i in map(folder_identity, self.cfg.skip_dirs) if i}

    def scan_once(self):
        if self._record_confirmed():
            # The catalog in hand stands; the first reply is let go once it
            # can say so (below, or at the end of the scan loop).
            with self.lock:
                if not self.scanning:
                    self.first_look.set()
            return
        self.first_look.set()
        self._load_tables()
        with self.lock:
            base = self.catalog  # the tracks found unchanged are carried over from it
            self.touched = set()
            self.walk = None  # the catalog is partial until this walk is over
        # The walk's steps and files, in its order: for the start record, and
        # (readable or not) an unreadable file keeps its cache entry.
        steps, walked = [], []
        found = {}
        pool = TagPool()
        pending = collections.deque()  # (result, paths) handed to the workers, not yet taken
        unread = collections.deque()  # (path, size, mtime) to read, not yet handed out
        timing = {"publish": time.monotonic(), "save": time.monotonic()}

        def take(result, paths):
            for path, entry in zip(paths, result.get()):
                if entry is not None:  # None: gone or locked since it was listed
                    self._found(found, base, path, self._take_entry(path, *entry))

        def take_ready():
            """Takes every batch read, whatever its place in the walk: one
            slow file (a slow disk's, say) holds back its own batch, never
            the batches handed out after it. True when one was taken."""
            ready = [item for item in pending if item[0].ready()]
            for item in ready:
                pending.remove(item)
                take(*item)
            return bool(ready)

        # The pool's own threads (starting workers, sending them batches)
        # need the interpreter lock this thread would otherwise hold for
        # whole switch intervals (5 ms) while it reads and walks: it lets go
        # after each batch handed out and each file read while they start.

        def hand_out(count):
            paths = [unread.popleft()[0] for _ in range(min(count, len(unread)))]
            pending.append((pool.submit(paths), paths))
            time.sleep(0)

        def read_first():
            path, size, mtime = unread.popleft()
            self._found(found, base, path, self._read_here(path, size, mtime))
            if pool.sized() and not pool.ready():
                time.sleep(0)

        try:
            for path, size, mtime in walk_audio(
                self.cfg.roots, self._skip(), self.stop, self.cache, steps
            ):
                path = sys.intern(path)
                walked.append(path)
                with self.lock:
                    entry = self.cache.get(path)
                if entry is not None and same_file(entry, size, mtime):
                    if is_audio(entry):
                        # Unchanged since the catalog in hand was made: its
                        # text stands, nothing is built again.
                        old = base.at.get(path)
                        if old is None or path in self.touched:
                            self._found(found, base, path, self._entry_track(path, entry))
                        else:
                            found[path] = old
                else:
                    # A few new files are read here at the end of the walk: not
                    # worth the workers' start. Past that the fork server
                    # starts, aside; the workers follow as soon as their
                    # number is known (the walk is over, or has found work for
                    # all), and until they are ready this thread reads the
                    # first files itself, between steps of the walk.
                    unread.append((path, size, mtime))
                    if not pool.usable:
                        while unread:
                            read_first()
                    elif pool.ready():
                        if len(unread) >= BATCH and len(pending) < pool.window():
                            hand_out(BATCH)
                    elif pool.sized():
                        read_first()
                    elif len(unread) > INLINE_READS:
                        pool.start()
                        if len(unread) >= pool.workers * FILES_PER_WORKER:
                            pool.size(len(unread))
                take_ready()
                self._scan_progress(found, base, timing)
            if unread:
                pool.size(len(unread))  # the walk is over: these are all
            while (unread or pending) and not self.stop.is_set():
                if take_ready():
                    pass
                elif pending and (not unread or not pool.usable or len(pending) >= pool.window()):
                    result, paths = pending[0]
                    result.wait(PUBLISH_INTERVAL)
                    if not result.ready() and pool.broken():
                        # A worker died (killed, out of memory) and took its
                        # batch with it: that result never comes, so it is
                        # read here.
                        pending.popleft()
                        for path in paths:
                            self._found(found, base, path, self._read_here(path, None, None))
                elif pool.ready() and pool.usable:
                    hand_out(BATCH)
                else:
                    read_first()  # a few new files, or the workers still starting
                self._scan_progress(found, base, timing)
        except BaseException:
            pool.close(stopped=True)
            raise
        pool.close(stopped=self.stop.is_set() or pool.broken())
        if self.stop.is_set():
            return  # an unfinished scan removes nothing
        with self.lock:
            outside = sorted(self.added.union(self.live) - set(found))
        self._refresh(found)
        # From here until the catalog is published, an "add" or a picked-up
        # import may land; it is kept below, from `live`.
        gone = []
        for path in outside:
            try:
                st = os.stat(path)
            except FileNotFoundError:
                gone.append(path)
                continue
            except OSError:
                continue
            track = self.file_track(path, st.st_size, st.st_mtime_ns)
            if track is not None:
                found[path] = track
        if gone:
            self._change_added(remove=gone)
        checked = set(outside)
        with self.lock:
            for path, track in self.live.items():
                if path not in checked and path not in found:
                    found[path] = track  # added since `outside` was taken
            # listed without a track (not audio, or unreadable): few
            unfound = {p for p in walked if p not in found}
            gone = set(gone)
            missing = [
                p
                for p in self.cache
                if p in gone or (p not in found and p not in unfound and p not in checked)
            ]
            # Files of an unplugged disk or a missing scan root keep their
            # tags for when it is back; the catalog lists only what is here.
            away = unreachable_paths(missing, self.cfg.roots)
            for path in missing:
                if path not in away:
                    del self.cache[path]
                    self.cache_dirty = True
            for path in [p for p in self.ids if p not in found and p not in self.added]:
                self._forget(path)
            self.live = {p: t for p, t in self.live.items() if p in found}
            self.touched = set()
            self._publish(found, base)
            self.walk = self._walk_made(steps, walked)
        self._prune_links()
        self.save_cache()
        self._save_record()

    def _walk_made(self, steps, walked):
        """The start record's view of a complete walk: its steps, their
        digests and each file's size and time as its cache entry holds them;
        None when a file has no entry (it could not be read): such a walk
        cannot be confirmed."""
        stamps = array.array("q")
        for path in walked:
            entry = self.cache.get(path)
            if entry is None:
                return None
            stamps.extend(backend_cache.stamp(entry))
        return (
            [[folder, listed, count] for folder, listed, count, _ in steps],
            b"".join(digest for *_, digest in steps),
            stamps.tobytes(),
        )

    def _read_here(self, path, size, mtime):
        """file_track of a file the walk may have listed without its size
        and time (None)."""
        if size is None:
            try:
                st = os.stat(path)
            except OSError:  # gone or locked since it was listed
                return None
            size, mtime = st.st_size, st.st_mtime_ns
        return self.file_track(path, size, mtime)

    def _found(self, found, base, path, track):
        if track is not None:
            # An unchanged track is carried over from the catalog in hand,
            # so a rescan does not hold the catalog twice.
            old = base.at.get(path)
            found[path] = old if old is not None and base.text(old) == track else track

    def _scan_progress(self, found, base, timing):
        """Publishes what the running scan has found, at most every
        PUBLISH_INTERVAL, and saves the cache every SAVE_INTERVAL."""
        now = time.monotonic()
        if now < timing["publish"]:
            return
        self._refresh(found)
        with self.lock:
            merged = dict(base.at)
            merged.update(self.live)
        merged.update(found)
        self._publish(merged, base)
        # A large catalog costs more to publish: keep that cost to a small
        # part of the scan's time.
        cost = time.monotonic() - now
        timing["publish"] = now + max(PUBLISH_INTERVAL, 5 * cost)
        if now - timing["save"] >= SAVE_INTERVAL:
            self.save_cache()
            timing["save"] = now

    def _refresh(self, found):
        """Rebuilds tracks the scan made before an "enrich" changed them."""
        with self.lock:
            paths, self.stale = self.stale, set()
        for path in paths:
            with self.lock:
                entry = self.cache.get(path)
            if path in found and entry and is_audio(entry):
                track = self._entry_track(path, entry)
                if track:
                    found[path] = track

    @staticmethod
    def _links(catalog):
        """[link name, path] of each track shown through a stand-in link
        (shown_path)."""
        links = []
        for path in catalog.at:
            try:
                path.encode("utf-8")
            except UnicodeEncodeError:
                links.append([os.path.basename(track_fields(catalog.track(path))["path"]), path])
        return links

    def _prune_links(self):
        with self.lock:
            catalog = self.catalog
        shown = {name for name, _ in self._links(catalog)}
        with contextlib.suppress(OSError):
            for name in os.listdir(self.cfg.links_dir):
                if name not in shown:
                    with contextlib.suppress(OSError):
                        os.unlink(os.path.join(self.cfg.links_dir, name))

    def shutdown(self):
        self.stop.set()
        if self.thread:
            self.thread.join(5)
        self.save_cache()
        self._save_record()

    # -- requests

    def handle(self, line):
        """The reply line to one request line."""
        return b"".join(self.respond(line))

    def respond(self, line):
        """The reply to one request line, as reply_parts gives it."""
        try:
            request = json.loads(line)
        except ValueError:
            return self.reply_parts(MSG_BAD_REQUEST)
        if not isinstance(request, dict) or not isinstance(request.get("action"), str):
            return self.reply_parts(MSG_BAD_REQUEST)
        self.first_look.wait(FIRST_LOOK)
        self.pick_up_imports()
        action = request["action"]
        if action == "list":
            return self.reply_parts()
        if action == "scan":
            self.start_scan()
            return self.reply_parts()
        if action == "add":
            return self.reply_parts(self.add(request.get("path")))
        if action == "enrich":
            return self.reply_parts(self.enrich(request.get("id")))
        return self.reply_parts(MSG_UNKNOWN_ACTION.format(clean_text(action)))

    def open_file(self, given):
        """(path, track, None) for a readable audio file, else (.., None, message)."""
        if not isinstance(given, str) or not given:
            return None, None, MSG_BAD_REQUEST
        self._load_tables()
        name = clean_text(os.path.basename(given)) or clean_text(given)
        if not os.path.isabs(given) or "\0" in given:
            return None, None, MSG_NOT_ABSOLUTE.format(clean_text(given))
        path = self.real_path(os.path.normpath(given))
        try:
            st = os.stat(path)
        except FileNotFoundError:
            return path, None, MSG_NOT_FOUND.format(name)
        except OSError:
            return path, None, MSG_UNREADABLE.format(name)
        if not stat.S_ISREG(st.st_mode):
            return path, None, MSG_NOT_FILE.format(name)
        path = self.known_path(path)
        track = self.file_track(path, st.st_size, st.st_mtime_ns)
        if track is None:
            return path, None, MSG_UNREADABLE.format(name)
        return path, track, None

    def add(self, given):
        path, track, error = self.open_file(given)
        if error:
            return error
        with self.lock:
            self.live[path] = track
        self._republish({path: track})
        self._change_added(add=[path])
        return None

    def pick_up_imports(self):
        """Files taken in by one-shot imports since the last request."""
        stamp = self.store.stamp("added.json")
        if stamp == self.added_stamp:
            return
        self.added_stamp = stamp
        self._load_tables()
        paths = self._load_added()
        with self.lock:
            self.added = paths
            new = sorted(p for p in paths if p not in self.catalog)
        changes = {}
        for path in new:
            with contextlib.suppress(OSError):
                st = os.stat(path)
                track = self.file_track(path, st.st_size, st.st_mtime_ns)
                if track is not None:
                    changes[path] = track
        if changes:
            with self.lock:
                self.live.update(changes)
            self._republish(changes)

    def import_file(self, given):
        """The one-shot import's document: the track, joined to the catalog."""
        path, track, error = self.open_file(given)
        if error:
            return {"error": error}
        self._change_added(add=[path])
        return {"opened": track_fields(track)}

    def enrich(self, track_id):
        if type(track_id) is float and track_id.is_integer():
            track_id = int(track_id)
        if type(track_id) is not int:
            return MSG_BAD_REQUEST
        self._load_tables()
        with self.lock:
            path = self.owner.get(track_id)
            track = self.catalog.track(path) if path else None
            entry = self.cache.get(path) if path else None
        if track is None:
            return MSG_NO_TRACK
        track = track_fields(track)
        tags = backend_cache.tags(entry)[:3] if entry and is_audio(entry) else ("", "", "")
        extra = self.enriched.get(path) if isinstance(self.enriched.get(path), dict) else {}
        want = [k for k, t in zip(("title", "artist", "album"), tags) if not t and not extra.get(k)]
        if not track["art"]:
            want.append("art")
        if not want:
            return MSG_MB_COMPLETE
        title, artist = track["title"], track["artist"]
        if "title" in want:
            guessed_artist, title = guess_from_name(path)
            artist = artist or guessed_artist
        outcome = {}

        def ask():
            try:
                outcome["found"] = lookup(
                    self.cfg.musicbrainz_url, self.cfg.timeout, want, title, artist,
                    track["duration"],
                )
            except LookupFailed as e:
                outcome["error"] = str(e)
            except Exception:
                log("look-up failed:\n" + traceback.format_exc())
                outcome["error"] = MSG_MB_BAD_REPLY

        # The lookup runs aside so that a stalled name look-up or a server
        # that trickles bytes cannot hold the reply past the time-out.
        worker = threading.Thread(target=ask, name="musicbrainz", daemon=True)
        worker.start()
        worker.join(self.cfg.timeout)
        if worker.is_alive():
            return MSG_MB_TIMEOUT
        if "error" in outcome:
            return outcome["error"]
        found = outcome["found"]
        if not found:
            return MSG_MB_NOTHING_NEW
        with self.store.locked():
            # Fields that could not be saved (a full disk) are kept and saved
            # with the next look-up, so re-reading the file does not drop them.
            self.unsaved_enriched.setdefault(path, {}).update(found)
            self.enriched = self.store.read("enriched.json", dict)
            for done, fields in self.unsaved_enriched.items():
                old = self.enriched.get(done)
                self.enriched[done] = {**(old if isinstance(old, dict) else {}), **fields}
            if self.store.write("enriched.json", self.enriched):
                self.unsaved_enriched = {}
                self.enriched_stamp = self.store.stamp("enriched.json")
            else:
                self.enriched_stamp = UNSAVED
        with self.lock:
            entry = self.cache.get(path)
        if entry and is_audio(entry):
            updated = self._entry_track(path, entry)
            if updated:
                with self.lock:
                    if path in self.live:
                        self.live[path] = updated
                    if self.scanning:
                        self.stale.add(path)
                self._republish({path: updated})
        return None


def _worker_start():
    # The player's ^C or a terminal's hang-up is for the backend to handle;
    # workers end with it (their task pipe closes).
    import signal

    signal.signal(signal.SIGINT, signal.SIG_IGN)


# Scans using the fork server in this process. It outlives a scan only
# while another uses it.
_servers = threading.Lock()
_open_pools = 0


def _stop_fork_server():
    from multiprocessing import forkserver

    stop = getattr(forkserver._forkserver, "_stop", None)
    if stop is not None:  # else it ends with this process, as its pipe closes
        stop()


class TagPool:
    """Worker processes reading tags for a scan, at most one per processor,
    started when the scan meets many new files and ended with the scan, the
    fork server with them. (multiprocessing's own resource tracker, started
    with the first pool, stays as long as the backend: an idle process of
    some 10 MB.)

    Never forked from this process and its threads: a fork server (one
    fresh interpreter that imports the tag reader once) forks them. A
    worker so made is ready in a few milliseconds, where each fresh one
    would import everything again. Each still costs its start and end (some
    25 ms of a processor: the pages it touches are copied), about what
    reading FILES_PER_WORKER files costs; a scan of fewer files than the
    processors could share starts fewer workers."""

    def __init__(self):
        self.pool = None
        self.thread = None  # starting the server, then the workers
        self.count = None  # workers to start, once known
        self.counted = threading.Event()
        self.server = False
        self.pids = set()
        try:
            self.workers = len(os.sched_getaffinity(0))
        except (AttributeError, OSError):
            self.workers = os.cpu_count() or 1
        # Without mutagen nothing is read; on one processor a worker only adds
        # its start.
        self.usable = backend_files.mutagen is not None and self.workers > 1

    def start(self):
        """Starts the fork server aside; the workers follow once size() has
        told how many."""
        if self.thread is None:
            self.thread = threading.Thread(target=self._start, name="tag pool", daemon=True)
            self.thread.start()

    def size(self, files):
        """Starts as many workers as `files` waiting to be read justify (all
        the processors when the walk goes on)."""
        if not self.counted.is_set():
            self.count = min(self.workers, max(1, -(-files // FILES_PER_WORKER)))
            self.counted.set()

    def sized(self):
        return self.counted.is_set()

    def window(self):
        """Batches handed out and not yet taken, at most: enough to keep
        every worker busy, few enough that a stopped scan's workers finish
        what they hold in moments."""
        return (self.count or 1) * IN_FLIGHT

    def ready(self):
        return self.pool is not None

    def _start(self):
        global _open_pools
        import multiprocessing  # only for scans that meet many new files
        from multiprocessing import forkserver

        context = multiprocessing.get_context("forkserver")
        # "__main__" too: a worker forked from a server that has not
        # imported the main script imports it itself.
        context.set_forkserver_preload(
            ["__main__", "multiprocessing.pool", "backend_files", *backend_files.READERS]
        )
        try:
            with _servers:
                forkserver.ensure_running()
                _open_pools += 1
                self.server = True
            self.counted.wait()
            if not self.count:
                return  # the scan ended first
            # The last scan's workers may still be ending: they are not ours.
            others = {p.pid for p in multiprocessing.active_children()}
            pool = context.Pool(self.count, initializer=_worker_start)
        except Exception:  # no worker could start: the scan reads every file itself
            log("cannot start tag readers:\n" + traceback.format_exc())
            self.usable = False
            return
        self.pids = {p.pid for p in multiprocessing.active_children()} - others
        self.pool = pool

    def submit(self, paths):
        """Hands `paths` to a worker; only once ready()."""
        return self.pool.apply_async(read_batch, (paths,))

    def broken(self):
        """True once a worker has died: the pool starts another in its
        place, but the batch it held is lost. The scan reads the rest
        itself."""
        if self.pool is None:
            return False
        import multiprocessing

        if not self.pids <= {p.pid for p in multiprocessing.active_children()}:
            self.usable = False
        return not self.usable

    def close(self, stopped):
        if self.thread is None:
            return
        if not self.counted.is_set():
            self.count = 0
            self.counted.set()
        if not stopped:
            # Every result is in (or every file was read before the workers
            # were ready): their start and exit are waited for aside, so the
            # catalog is not held back by them. Not a daemon: a process that
            # ends meanwhile waits for them rather than leave a worker
            # half-started.
            threading.Thread(target=self._end, name="tag pool end").start()
            return
        self.thread.join()  # a pool being started is ended like the others
        pool, self.pool = self.pool, None
        if pool is not None:
            import multiprocessing

            # A worker ended by a signal may die holding a lock of the
            # pool's queues, and terminate() would then wait for ever: the
            # workers are asked to finish instead (they hold a few batches
            # at most), and only those that do not in time are ended. A
            # worker that died leaves a result that never comes, which
            # only terminate() stops waiting for.
            ending = threading.Thread(target=pool.join, daemon=True)
            if self.usable:
                pool.close()
                ending.start()
                ending.join(ENDING)
            if not ending.is_alive() and ending.ident:
                self._release()
                return
            # terminate() ends workers with SIGTERM, which one started while
            # the backend is ending has inherited as ignored: it would wait
            # for that worker for ever. Such workers are killed outright.
            ending = threading.Thread(target=pool.terminate, daemon=True)
            ending.start()
            while ending.is_alive():
                ending.join(0.2)
                for worker in multiprocessing.active_children():
                    worker.kill()
            pool.join()
        self._release()

    def _end(self):
        self.thread.join()
        pool, self.pool = self.pool, None
        if pool is not None:
            pool.close()
            pool.join()
        self._release()

    def _release(self):
        global _open_pools
        if self.server:
            self.server = False
            with _servers:
                _open_pools -= 1
                if _open_pools == 0:
                    _stop_fork_server()
