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
import sys
import threading

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


class Store:
    """JSON files in the data folder: whole-file atomic writes, and a lock
    file for read-modify-write cycles shared with one-shot imports."""

    def __init__(self, folder):
        self.folder = folder
        self._made = False

    def path(self, name):
        return os.path.join(self.folder, name)

    def _make(self):
        if not self._made:
            os.makedirs(self.folder, exist_ok=True)
            self._made = True

    def read(self, name, kind):
        """The file's JSON value when it is of type `kind`, else an empty one."""
        try:
            with open(self.path(name), "rb") as f:
                value = json.loads(f.read())
        except FileNotFoundError:
            return kind()
        except (OSError, ValueError) as e:
            log("ignoring unreadable", name + ":", e)
            return kind()
        return value if isinstance(value, kind) else kind()

    def write(self, name, value):
        """Replaces the file in one step; False (and a log line) on failure,
        leaving the previous file as it was."""
        target = self.path(name)
        temp = "%s.%d.%d.tmp" % (target, os.getpid(), threading.get_ident())
        replaced = False
        try:
            self._make()
            data = json.dumps(value, separators=(",", ":")).encode("ascii")
            with open(temp, "wb") as f:
                f.write(data)
                f.flush()
                os.fsync(f.fileno())
            os.replace(temp, target)
            replaced = True
            return True
        except (OSError, ValueError) as e:
            log("could not save", name + ":", e)
            return False
        finally:
            # Whatever ended the write (an error, an exit on a signal), no
            # partial temporary file is left behind.
            if not replaced:
                with contextlib.suppress(OSError):
                    os.unlink(temp)

    def stamp(self, name):
        try:
            st = os.stat(self.path(name))
            return (st.st_mtime_ns, st.st_size, st.st_ino)
        except OSError:
            return None

    @contextlib.contextmanager
    def locked(self):
        handle = None
        try:
            self._make()
            handle = open(self.path("lock"), "ab")
            fcntl.flock(handle, fcntl.LOCK_EX)
        except OSError as e:
            log("working without the lock file:", e)
        try:
            yield
        finally:
            if handle:
                handle.close()


# ---- ids -------------------------------------------------------------------


def natural_id(path, salt=0):
    """A positive 53-bit hash of the path's bytes (53 bits stay exact in any
    JSON reader); 0 means unusable."""
    data = os.fsencode(path)
    if salt:
        data += b"\0%d" % salt
    digest = hashlib.blake2b(data, digest_size=8).digest()
    return int.from_bytes(digest, "big") >> 11


class IdRegistry:
    """Ids by path. A path keeps its natural id unless another known path
    already holds it; then it gets the first free salted id, stored in
    ids.json so that it stays the same in later runs and other processes."""

    def __init__(self, store):
        self.store = store
        self.overrides = self._load()

    def _load(self):
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
            self.store.write("ids.json", self.overrides)
        return candidate
