# Guards against: a full disk emptying the backend's own files, or a damaged one overwritten in silence.
"""The backend's own JSON files: a save that cannot be written whole leaves
the old file as it was, and a damaged file is set aside and told."""

import json
import os
import subprocess
import unittest
from unittest import mock

from support import PYTHON, RESOURCES, Backend, TempHome, by_path, make_audio

from backend_library import MSG_SET_ASIDE, Library  # noqa: E402
from backend_store import Store  # noqa: E402

# Saves a value under a file-size limit of a few bytes (SIGXFSZ ignored, so
# the write fails with EFBIG as a full disk fails with ENOSPC), then again
# with the limit lifted; prints both answers.
SAVE_UNDER_LIMIT = """
import json, resource, signal, sys
sys.path.insert(0, sys.argv[1])
from backend_store import Store
signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
soft, hard = resource.getrlimit(resource.RLIMIT_FSIZE)
store = Store(sys.argv[2])
value = json.loads(sys.argv[4])
resource.setrlimit(resource.RLIMIT_FSIZE, (8, hard))
limited = store.write(sys.argv[3], value)
resource.setrlimit(resource.RLIMIT_FSIZE, (soft, hard))
print(json.dumps([limited, store.write(sys.argv[3], value)]))
"""

FULL_DISK_ROWS = [
    ("added list", "added.json", ["/outside/%d.flac" % n for n in range(200)]),
    ("tag cache", "cache.json", {"version": 2, "files": {"/m/%d.flac" % n: [n, n] for n in range(300)}}),
    ("ids", "ids.json", {"/m/%d.flac" % n: n + 1 for n in range(100)}),
]


class OwnFilesTest(unittest.TestCase):
    def setUp(self):
        self.home = TempHome(self)

    def test_a_full_disk_keeps_the_old_file(self):
        folder = self.home.data_dir
        os.makedirs(folder)
        for row, name, value in FULL_DISK_ROWS:
            with self.subTest(row):
                old = b'["the user\'s own list"]'
                with open(os.path.join(folder, name), "wb") as f:
                    f.write(old)
                done = subprocess.run(
                    [PYTHON, "-c", SAVE_UNDER_LIMIT, RESOURCES, folder, name, json.dumps(value)],
                    stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60,
                )
                self.assertEqual(done.returncode, 0, done.stderr)
                limited, lifted = json.loads(done.stdout)
                self.assertFalse(limited)
                self.assertTrue(lifted)
                with open(os.path.join(folder, name), "rb") as f:
                    self.assertEqual(json.loads(f.read()), value)
                self.assertEqual([n for n in os.listdir(folder) if n.endswith(".tmp")], [])

    def test_a_failed_save_left_the_old_bytes(self):
        # The same run stopped before the limit is lifted: the bytes on disk.
        folder = self.home.data_dir
        os.makedirs(folder)
        old = b'["/outside/kept.flac"]'
        with open(os.path.join(folder, "added.json"), "wb") as f:
            f.write(old)
        script = SAVE_UNDER_LIMIT.replace("print(", "sys.exit(0); print(")
        done = subprocess.run(
            [PYTHON, "-c", script, RESOURCES, folder, "added.json", json.dumps(["/x"] * 50)],
            stderr=subprocess.PIPE, timeout=60,
        )
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(os.path.join(folder, "added.json"), "rb") as f:
            self.assertEqual(f.read(), old)

    def test_a_damaged_added_list_is_set_aside_and_told(self):
        make_audio(self.home.path("Music", "a.flac"), title="A")
        outside = make_audio(os.path.join(self.home.outside, "new.flac"), title="New")
        os.makedirs(self.home.data_dir)
        damaged = b'["/outside/one.flac", "/outside/tw'
        with open(os.path.join(self.home.data_dir, "added.json"), "wb") as f:
            f.write(damaged)
        backend = Backend(self, self.home)
        first = backend.ask({"action": "list"})
        copies = [n for n in os.listdir(self.home.data_dir) if n.startswith("added.json.corrupt-")]
        self.assertEqual(len(copies), 1)
        self.assertEqual(first.get("error"), MSG_SET_ASIDE.format("added.json", copies[0]))
        self.assertNotIn("error", backend.idle())  # told once
        # A later save starts a new list beside the kept copy.
        self.assertNotIn("error", backend.ask({"action": "add", "path": outside}))
        self.assertIn(outside, by_path(backend.idle()))
        with open(os.path.join(self.home.data_dir, copies[0]), "rb") as f:
            self.assertEqual(f.read(), damaged)
        with open(os.path.join(self.home.data_dir, "added.json"), "rb") as f:
            self.assertEqual(json.loads(f.read()), [outside])

    def test_an_addition_not_saved_is_saved_with_the_next(self):
        first = make_audio(os.path.join(self.home.outside, "first.flac"), title="First")
        second = make_audio(os.path.join(self.home.outside, "second.flac"), title="Second")
        library = Library(self.home.config(), restore=False)
        with mock.patch.object(library.store, "write", return_value=False):  # a full disk
            self.assertIsNone(library.add(first))
        self.assertIsNone(library.add(second))
        with open(os.path.join(self.home.data_dir, "added.json"), "rb") as f:
            self.assertEqual(json.loads(f.read()), sorted([first, second]))

    def test_a_save_keeps_the_file_mode(self):
        folder = self.home.data_dir
        os.makedirs(folder)
        store = Store(folder)
        for row, mode in (("private", 0o600), ("shared", 0o644)):
            with self.subTest(row):
                path = os.path.join(folder, "added.json")
                with open(path, "wb") as f:
                    f.write(b"[]")
                os.chmod(path, mode)
                self.assertTrue(store.write("added.json", ["/outside/a.flac"]))
                self.assertEqual(os.stat(path).st_mode & 0o777, mode)

    def test_folders_made_for_the_backend_are_private(self):
        backend = Backend(self, self.home)
        backend.ask({"action": "add", "path": make_audio(os.path.join(self.home.outside, "b.flac"))})
        for folder in (self.home.data_dir, os.path.dirname(self.home.data_dir)):
            self.assertEqual(os.stat(folder).st_mode & 0o777, 0o700, folder)


if __name__ == "__main__":
    unittest.main()
