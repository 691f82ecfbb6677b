"""Configuration and the backend's own files: where it reads and writes,
JSON files written whole and atomically under a lock shared with one-shot
imports, and the path-derived track ids with their collision table."""

import contextlib
import fcntl
import hashlib
import json
import math
import os
import pwd
import stat
import sys
import threading
import time

MUSICBRAINZ_URL = "https://musicbrainz.org/ws/2/"


def log(*parts):
    print("backend:", *parts, file=sys.stderr, flush=True)


# ---- configuration ---------------------------------------------------------


def _user_name():
    try:
        return pwd.getpwuid(os.getuid()).pw_name
    except KeyError:
        return os.environ.get("USER") or os.environ.get("LOGNAME") or ""


def _xdg(env, name, home, fallback):
    value = env.get(name, "")
    # The base-directory rules ignore relative values.
    return value if os.path.isabs(value) else os.path.join(home, fallback)


class Config:
    """Where the script reads and writes, taken from an environment mapping."""

    def __init__(self, env):
        home = env.get("HOME") or os.path.expanduser("~")
        self.home = os.path.abspath(home)
        data = _xdg(env, "XDG_DATA_HOME", self.home, ".local/share")
        self.app_data = os.path.normpath(os.path.join(data, "Quavelark"))
        cache = _xdg(env, "XDG_CACHE_HOME", self.home, ".cache")
        self.app_cache = os.path.normpath(os.path.join(cache, "Quavelark"))
        self.data_dir = os.path.join(self.app_data, "backend")
        self.links_dir = os.path.join(self.data_dir, "links")
        roots = env.get("QUAVELARK_SCAN_ROOTS")
        if roots is not None:
            self.roots = [os.path.abspath(r) for r in roots.split(":") if r]
        else:
            user = _user_name()
            self.roots = [self.home]
            if user:
                self.roots += [os.path.join("/media", user), os.path.join("/run/media", user)]
            self.roots.append("/mnt")
        self.skip_dirs = [self.app_data, self.app_cache]
        self.musicbrainz_url = env.get("QUAVELARK_MUSICBRAINZ_URL") or MUSICBRAINZ_URL
        if not self.musicbrainz_url.endswith("/"):
            self.musicbrainz_url += "/"
        try:
            timeout = float(env.get("QUAVELARK_MUSICBRAINZ_TIMEOUT", "10"))
        except ValueError:
            timeout = 10.0
        self.timeout = timeout if math.isfinite(timeout) and timeout > 0 else 10.0


# ---- files of our own ------------------------------------------------------


def make_private_dirs(folder):
    """Makes `folder` and any missing parent, each new one with mode 0700
    (folders that exist keep theirs)."""
    folder = os.path.abspath(folder)
    if os.path.isdir(folder):
        return
    parent = os.path.dirname(folder)
    if parent != folder:
        make_private_dirs(parent)
    try:
        os.mkdir(folder, 0o700)
    except FileExistsError:
        pass


def atomic_write(path, data, sync=True):
    """Replaces the file at `path` with the bytes `data` (or an iterable of
    byte chunks, written as they come) only once they are all on the disk:
    a temporary file in the same folder, written, flushed and synced, then
    moved over the old one. Raises OSError on any failure (a full disk, a
    file-size limit), leaving the old file as it was and no temporary file
    behind. Without `sync` nothing waits for the disk: for a file that
    checks itself and may be lost (a crash then leaves the old file, the
    new one or one that fails its check)."""
    temp = "%s.%d.%d.tmp" % (path, os.getpid(), threading.get_ident())
    replaced = False
    try:
        with open(temp, "wb") as f:
            # The new file keeps the old one's permission bits (a user who
            # made it private keeps it so).
            with contextlib.suppress(FileNotFoundError):
                os.fchmod(f.fileno(), stat.S_IMODE(os.stat(path).st_mode))
            if isinstance(data, (bytes, bytearray)):
                f.write(data)
            else:
                f.writelines(data)
            f.flush()
            if sync:
                os.fsync(f.fileno())
        os.replace(temp, path)
        replaced = True
    finally:
        # Whatever ended the write (an error, an exit on a signal), no
        # partial temporary file is left behind.
        if not replaced:
            with contextlib.suppress(OSError):
                os.unlink(temp)
    if not sync:
        return
    with contextlib.suppress(OSError):
        folder = os.open(os.path.dirname(path) or ".", os.O_RDONLY)
        try:
            os.fsync(folder)
        finally:
            os.close(folder)


def set_aside(path):
    """Moves a damaged file to "<name>.corrupt-<epoch seconds>" (a free
    name); the new path, or None when it could not be moved."""
    base = "%s.corrupt-%d" % (path, int(time.time()))
    target, n = base, 2
    while os.path.lexists(target):
        target, n = "%s-%d" % (base, n), n + 1
    try:
        os.rename(path, target)
    except OSError as e:
        log("could not set aside", path + ":", e)
        return None
    return target


_MISSING = object()
_DAMAGED = object()


class Store:
    """JSON files in the data folder: whole-file atomic writes, and a lock
    file for read-modify-write cycles shared with one-shot imports. A file
    that does not read as its kind is set aside (never written over) and
    listed in `set_aside` as (name, name of the kept copy)."""

    def __init__(self, folder):
        self.folder = folder
        self._made = False
        self._lock = threading.RLock()
        self._depth = 0
        self._handle = None
        self.set_aside = []  # (name, copy name), taken by whoever tells the user
        self._damaged = set()  # names that could not be set aside

    def path(self, name):
        return os.path.join(self.folder, name)

    def _make(self):
        if not self._made:
            make_private_dirs(self.folder)
            self._made = True

    def _decode(self, name, kind):
        try:
            with open(self.path(name), "rb") as f:
                value = json.loads(f.read())
        except FileNotFoundError:
            return _MISSING
        except (OSError, ValueError) as e:
            log("unreadable", name + ":", e)
            return _DAMAGED
        return value if isinstance(value, kind) else _DAMAGED

    def read(self, name, kind):
        """The file's JSON value when it is of type `kind`, else an empty one;
        a damaged file is first set aside."""
        value = self._decode(name, kind)
        if value is _MISSING:
            return kind()
        if value is not _DAMAGED:
            return value
        # Under the lock, and read again: another process may have just
        # replaced it with a good one.
        with self.locked():
            value = self._decode(name, kind)
            if value is _MISSING:
                return kind()
            if value is not _DAMAGED:
                return value
            copy = set_aside(self.path(name))
        if copy:
            self._damaged.discard(name)
            self.set_aside.append((name, os.path.basename(copy)))
        else:
            self._damaged.add(name)
        return kind()

    def write(self, name, value):
        """Replaces the file in one step; False (and a log line) on failure,
        leaving the previous file as it was."""
        if name in self._damaged:
            log("not saving", name + ": the damaged file could not be set aside")
            return False
        try:
            self._make()
            data = json.dumps(value, separators=(",", ":")).encode("ascii")
            atomic_write(self.path(name), data)
            return True
        except (OSError, ValueError) as e:
            log("could not save", name + ":", e)
            return False

    def stamp(self, name):
        try:
            st = os.stat(self.path(name))
            return (st.st_mtime_ns, st.st_size, st.st_ino)
        except OSError:
            return None

    @contextlib.contextmanager
    def locked(self):
        """The lock file, held exclusively; nested uses in one process (a
        read that sets a file aside inside a read-modify-write) share it."""
        with self._lock:
            self._depth += 1
            try:
                if self._depth == 1:
                    try:
                        self._make()
                        self._handle = open(self.path("lock"), "ab")
                        fcntl.flock(self._handle, fcntl.LOCK_EX)
                    except OSError as e:
                        log("working without the lock file:", e)
                yield
            finally:
                self._depth -= 1
                if self._depth == 0 and self._handle:
                    self._handle.close()
                    self._handle = None


# ---- ids -------------------------------------------------------------------


def natural_id(path, salt=0):
    """A positive 53-bit hash of the path's bytes (53 bits stay exact in any
    JSON reader); 0 means unusable."""
    data = os.fsencode(path)
    if salt:
        data += b"\0%d" % salt
    digest = hashlib.blake2b(data, digest_size=8).digest()
    return int.from_bytes(digest, "big") >> 11


# The stamp of one of our files whose last change could not be saved: it
# matches no stamp read from the disk.
UNSAVED = ("unsaved",)


class IdRegistry:
    """Ids by path. A path keeps its natural id unless another known path
    already holds it; then it gets the first free salted id, stored in
    ids.json so that it stays the same in later runs and other processes."""

    def __init__(self, store):
        self.store = store
        self.overrides = self._load()

    def _load(self):
        # Taken before the read: a change made in between shows as a change.
        self.stamp = self.store.stamp("ids.json")
        raw = self.store.read("ids.json", dict)
        return {p: i for p, i in raw.items() if type(i) is int and 0 < i < 1 << 53}

    def assign(self, path, owner):
        """The id for `path`, given `owner` (id -> path) of the known paths."""
        given = self.overrides.get(path)
        if given and owner.get(given, path) == path:
            return given
        n = natural_id(path)
        if given is None and n and owner.get(n, path) == path:
            return n
        with self.store.locked():
            self.overrides = self._load()  # another process may have written
            given = self.overrides.get(path)
            if given and owner.get(given, path) == path:
                return given
            used = set(owner).union(self.overrides.values())
            salt = 1
            while True:
                candidate = natural_id(path, salt)
                if candidate and candidate not in used:
                    break
                salt += 1
            self.overrides[path] = candidate
            saved = self.store.write("ids.json", self.overrides)
            self.stamp = self.store.stamp("ids.json") if saved else UNSAVED
        return candidate
