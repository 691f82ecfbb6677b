# Guards against: (shared helpers) replies checked loosely enough to hide a protocol fault.
"""Shared helpers of the library backend's tests: temporary homes, generated
audio, a strict reply checker and a driver for the backend process."""

import functools
import json
import os
import queue
import shutil
import subprocess
import sys
import tempfile
import threading
import time

RESOURCES = os.path.normpath(os.path.join(os.path.dirname(__file__), "..", "..", "resources"))
BACKEND = os.path.join(RESOURCES, "backend.py")
PYTHON = sys.executable
if RESOURCES not in sys.path:
    sys.path.insert(0, RESOURCES)

TRACK_TYPES = {"id": (int,), "path": (str,), "title": (str,), "artist": (str,),
               "album": (str,), "duration": (int, float), "art": (str,)}
TONE_SECONDS = 0.5


def _not_json(name):
    raise ValueError("not JSON: " + name)


def strict_json(raw):
    """JSON as a strict reader sees it: UTF-8, no NaN or Infinity, and no
    lone surrogate in any string (re-encoding it as UTF-8 raises)."""
    value = json.loads(raw.decode("utf-8"), parse_constant=_not_json)
    json.dumps(value, ensure_ascii=False).encode("utf-8")
    return value


def check_track(track):
    """Raises unless `track` has the seven keys with the right types."""
    if not isinstance(track, dict) or any(
        type(track.get(key)) not in kinds for key, kinds in TRACK_TYPES.items()
    ):
        raise ValueError("bad track: %r" % (track,))
    return track


def check_reply(raw, fields):
    """The reply as the player's decoder accepts it, or ValueError: each key
    of `fields` optional (absent or null), a wrong type or one bad track
    fails the whole reply."""
    reply = strict_json(raw)
    if not isinstance(reply, dict):
        raise ValueError("reply is not an object: %r" % (raw,))
    for key, kind in fields.items():
        value = reply.get(key)
        if value is not None and type(value) is not kind:
            raise ValueError("reply key %s is %r" % (key, value))
    for track in reply.get("tracks") or []:
        check_track(track)
    if reply.get("opened") is not None:
        check_track(reply["opened"])
    return reply


def check_library(raw):
    if isinstance(raw, str):
        raw = raw.encode("utf-8")
    return check_reply(raw, {"tracks": list, "scanning": bool, "error": str})


def check_open_reply(raw):
    return check_reply(raw.strip(), {"opened": dict, "error": str})


@functools.lru_cache(maxsize=None)
def _template(kind):
    """One short tone per format, encoded once per test run, without tags."""
    folder = tempfile.mkdtemp(prefix="ql-tones-")
    path = os.path.join(folder, "tone." + kind)
    subprocess.run(
        ["ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi",
         "-i", "sine=frequency=440:duration=%g" % TONE_SECONDS, "-ac", "2",
         "-ar", "48000" if kind == "opus" else "44100",  # Opus takes no 44.1 kHz
         "-map_metadata", "-1", path],
        check=True, timeout=60,
    )
    if kind == "mp3":
        from mutagen.id3 import ID3

        ID3(path).delete()  # ffmpeg writes an encoder frame
    return path


def cached_files(data_dir):
    """path -> entry of the backend's tag cache as it lies on disk, each as
    the list of its fields."""
    import backend_cache
    import backend_library

    files = backend_cache.read(data_dir, backend_library.CACHE_VERSION)
    return None if files is None else {p: backend_cache.fields(e) for p, e in files.items()}


def write_old_cache(data_dir, version, files):
    """The JSON cache an earlier version of the backend left, and no other."""
    os.makedirs(data_dir, exist_ok=True)
    with open(os.path.join(data_dir, "cache.json"), "w") as f:
        json.dump({"version": version, "files": files}, f)
    try:
        os.unlink(os.path.join(data_dir, "tags.cache"))
    except FileNotFoundError:
        pass


def make_audio(path, kind=None, **tags):
    """Writes a short tone at `path` (str or bytes) with the given tags
    (title, artist, album, albumartist; a list gives several values)."""
    from mutagen.flac import FLAC
    from mutagen.id3 import ID3, TALB, TIT2, TPE1, TPE2
    from mutagen.wave import WAVE

    if kind is None:
        kind = os.path.splitext(os.fsdecode(path))[1][1:].lower()
    os.makedirs(os.path.dirname(path), exist_ok=True)
    shutil.copyfile(_template(kind), path)
    if not tags:
        return path
    values = {k: v if isinstance(v, list) else [v] for k, v in tags.items()}
    if kind == "flac":
        audio = FLAC(path)
        for key, value in values.items():
            audio[key] = value
        audio.save()
        return path
    frames = {"title": TIT2, "artist": TPE1, "album": TALB, "albumartist": TPE2}
    if kind == "wav":
        audio = WAVE(path)
        audio.add_tags()
        id3 = audio.tags
    else:
        id3 = ID3()
    for key, value in values.items():
        id3.add(frames[key](encoding=3, text=value))
    if kind == "wav":
        audio.save()
    else:
        id3.save(path)
    return path


class TempHome:
    """A temporary home folder with the program's folders inside it, and an
    environment for the backend that points there and nowhere else."""

    def __init__(self, test):
        self.root = tempfile.mkdtemp(prefix="ql-backend-")
        test.addCleanup(shutil.rmtree, self.root, True)
        self.home = os.path.join(self.root, "home")
        self.outside = os.path.join(self.root, "outside")
        os.makedirs(self.home)
        os.makedirs(self.outside)
        self.env = {
            key: value
            for key, value in os.environ.items()
            if "proxy" not in key.lower() and not key.startswith(("XDG_", "QUAVELARK_"))
        }
        self.env.update(
            HOME=self.home,
            XDG_DATA_HOME=os.path.join(self.home, ".local", "share"),
            XDG_CACHE_HOME=os.path.join(self.home, ".cache"),
            XDG_CONFIG_HOME=os.path.join(self.home, ".config"),
            TMPDIR=self.root,
            QUAVELARK_SCAN_ROOTS=self.home,
            # A closed port: no test can reach the real service by mistake.
            QUAVELARK_MUSICBRAINZ_URL="http://127.0.0.1:9/ws/2/",
            QUAVELARK_MUSICBRAINZ_TIMEOUT="5",
        )

    def path(self, *parts):
        return os.path.join(self.home, *parts)

    @property
    def data_dir(self):
        return os.path.join(self.env["XDG_DATA_HOME"], "Quavelark", "backend")

    def config(self):
        from backend_store import Config

        return Config(self.env)

    def import_file(self, path, args=None):
        """The one-shot import's whole standard output, checked."""
        done = subprocess.run(
            [PYTHON, BACKEND] + (args if args is not None else ["--import-file", path]),
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=self.env, timeout=60,
        )
        return check_open_reply(done.stdout), done.stdout


class Backend:
    """One long-lived backend process: each `ask` writes a request line and
    returns the one reply line, checked by the strict reader."""

    def __init__(self, test, home, python_args=()):
        self.errors = tempfile.TemporaryFile()
        self.proc = subprocess.Popen(
            [PYTHON, *python_args, BACKEND],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self.errors, env=home.env,
        )
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()
        test.addCleanup(self.errors.close)  # cleanups run last-in first-out
        test.addCleanup(self.close)

    def _read(self):
        for line in self.proc.stdout:
            self.lines.put(line)
        self.lines.put(None)

    def ask_raw(self, line, timeout=30):
        if isinstance(line, dict):
            line = json.dumps(line).encode() + b"\n"
        self.proc.stdin.write(line)
        self.proc.stdin.flush()
        try:
            reply = self.lines.get(timeout=timeout)
        except queue.Empty:
            raise AssertionError("no reply to %r within %s s" % (line, timeout))
        if reply is None:
            raise AssertionError("backend exited: " + self.stderr())
        if not reply.endswith(b"\n"):
            raise AssertionError("reply without line feed: %r" % reply)
        return reply

    def ask(self, request, timeout=30):
        return check_library(self.ask_raw(request, timeout))

    def idle(self, timeout=60):
        """The first "list" reply after every scan has ended."""
        deadline = time.monotonic() + timeout
        while True:
            reply = self.ask({"action": "list"})
            if not reply["scanning"]:
                return reply
            if time.monotonic() > deadline:
                raise AssertionError("scan did not end within %s s" % timeout)
            time.sleep(0.05)

    def close(self, timeout=30):
        """Ends standard input; the exit status."""
        if self.proc.stdin and not self.proc.stdin.closed:
            self.proc.stdin.close()
        try:
            return self.proc.wait(timeout)
        finally:
            if self.proc.poll() is None:
                self.proc.kill()
                self.proc.wait()
            self.proc.stdout.close()

    def stderr(self):
        self.errors.seek(0)
        return self.errors.read().decode("utf-8", "replace")


def by_path(reply):
    return {t["path"]: t for t in reply["tracks"]}
