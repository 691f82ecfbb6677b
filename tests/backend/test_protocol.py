# Guards against: a backend that drops, repeats or garbles a reply, or loses its save at exit.
"""The backend as the player drives it: one reply line per request line,
exit at the end of input, the one-shot import, and ids that agree between
runs and modes."""

import json
import os
import shutil
import signal
import subprocess
import unittest

from support import (
    BACKEND,
    PYTHON,
    Backend,
    TempHome,
    by_path,
    cached_files,
    check_library,
    make_audio,
)

# The backend's modules load from the resources folder that support puts on the path.
from backend import MSG_INTERNAL  # noqa: E402


# Runs the backend script given after it, with a SIGTERM sent to itself as
# soon as the shutdown begins, as the player's quit may do.
TERMINATED_AT_SHUTDOWN = """
import os, runpy, signal, sys
sys.path.insert(0, os.path.dirname(sys.argv[1]))
import backend_library
shutdown = backend_library.Library.shutdown
def terminated_shutdown(self):
    os.kill(os.getpid(), signal.SIGTERM)
    shutdown(self)
backend_library.Library.shutdown = terminated_shutdown
sys.argv = sys.argv[1:]
runpy.run_path(sys.argv[0], run_name="__main__")
"""


def request(**members):
    return json.dumps(members).encode() + b"\n"


class ProtocolTest(unittest.TestCase):
    def setUp(self):
        self.home = TempHome(self)

    def test_list_line_from_a_pipe(self):
        make_audio(self.home.path("Music", "a.flac"), title="A")
        done = subprocess.run(
            [PYTHON, BACKEND], input=b'{"action":"list"}\n', stdout=subprocess.PIPE,
            stderr=subprocess.PIPE, env=self.home.env, timeout=60,
        )
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(done.stdout.count(b"\n"), 1, done.stdout)
        self.assertTrue(done.stdout.endswith(b"\n"))
        check_library(done.stdout)

    def test_every_request_line_gets_one_reply(self):
        make_audio(self.home.path("Music", "a.flac"), title="A")
        os.makedirs(self.home.path("folder.flac"))
        with open(self.home.path("notes.flac"), "w") as f:
            f.write("not audio")
        good = self.home.path("Music", "a.flac")
        cases = [
            ("list", b'{"action":"list"}\n', False),
            ("list with unknown keys", b'{"x":1,"action":"list","id":null}\n', False),
            ("list with CRLF", b'{"action":"list"}\r\n', False),
            ("scan", b'{"action":"scan"}\n', False),
            ("add, path first", request(path=good, action="add"), False),
            ("not JSON", b"list\n", True),
            ("JSON array", b'["list"]\n', True),
            ("empty line", b"\n", True),
            ("invalid UTF-8", b'{"action":"li\xffst"}\n', True),
            ("no action", b'{"path":"/x"}\n', True),
            ("action not a string", b'{"action":7}\n', True),
            ("unknown action", b'{"action":"play"}\n', True),
            ("add without path", b'{"action":"add"}\n', True),
            ("add relative path", b'{"action":"add","path":"Music/a.flac"}\n', True),
            ("add missing file", b'{"action":"add","path":"/nonexistent/x.flac"}\n', True),
            ("add path with NUL", request(action="add", path=good + "\0.flac"), True),
            ("add folder", request(action="add", path=self.home.path("folder.flac")), True),
            ("add non-audio", request(action="add", path=self.home.path("notes.flac")), True),
            ("enrich without id", b'{"action":"enrich"}\n', True),
            ("enrich id as text", b'{"action":"enrich","id":"5"}\n', True),
            ("enrich id as boolean", b'{"action":"enrich","id":true}\n', True),
            ("enrich unknown id", b'{"action":"enrich","id":12345}\n', True),
        ]
        backend = Backend(self, self.home)
        for name, line, wants_error in cases:
            with self.subTest(name):
                reply = check_library(backend.ask_raw(line))
                self.assertIsInstance(reply["tracks"], list)
                error = reply.get("error", "")
                self.assertEqual(bool(error), wants_error, error)
                self.assertFalse(error.startswith(MSG_INTERNAL.format("")), error)
        self.assertEqual(backend.close(), 0)
        self.assertTrue(backend.lines.get(timeout=5) is None, "a request got a second reply")

    def test_ends_cleanly_when_terminated(self):
        make_audio(self.home.path("Music", "a.flac"), title="A")
        backend = Backend(self, self.home)
        backend.idle()
        backend.proc.send_signal(signal.SIGTERM)
        self.assertEqual(backend.proc.wait(30), 0, backend.stderr())
        self.assertEqual(len(cached_files(self.home.data_dir)), 1)

    def test_a_terminate_during_the_shutdown_does_not_cut_the_save(self):
        make_audio(self.home.path("Music", "a.flac"), title="A")
        backend = Backend(self, self.home, python_args=("-c", TERMINATED_AT_SHUTDOWN))
        backend.idle()
        # A file outside the scanned folders: its tags reach the cache only
        # through the save at the shutdown.
        outside = os.path.join(self.home.outside, "b.flac")
        make_audio(outside, title="B")
        self.assertIn(outside, by_path(backend.ask({"action": "add", "path": outside})))
        self.assertEqual(backend.close(), 0, backend.stderr())
        self.assertIn(outside, cached_files(self.home.data_dir))
        self.assertEqual([n for n in os.listdir(self.home.data_dir) if n.endswith(".tmp")], [])

    def test_missing_file_is_an_error_not_a_change(self):
        make_audio(self.home.path("Music", "a.flac"), title="A")
        backend = Backend(self, self.home)
        before = backend.idle()
        missing = self.home.path("Music", "gone.flac")
        reply = backend.ask({"action": "add", "path": missing})
        self.assertIn("gone.flac", reply["error"])
        self.assertEqual(reply["tracks"], before["tracks"])
        opened, raw = self.home.import_file(missing)
        self.assertNotIn("opened", opened)
        self.assertIn("gone.flac", opened["error"])
        self.assertEqual(raw.count(b"\n"), 1)

    def test_import_arguments_are_checked(self):
        for name, args in [("no path", []), ("two paths", ["/a", "/b"])]:
            with self.subTest(name):
                opened, _ = self.home.import_file(None, ["--import-file"] + args)
                self.assertTrue(opened["error"])

    def test_ids_agree_between_runs_and_the_import(self):
        names = ["b.flac", "a.mp3", "c.wav"]
        for name in names:
            make_audio(self.home.path("Music", name), title=name)
        first = Backend(self, self.home)
        listed = first.idle()["tracks"]
        self.assertEqual(first.close(), 0)
        self.assertEqual([os.path.basename(t["path"]) for t in listed], sorted(names))
        for track in listed:
            with self.subTest(track["path"]):
                opened, _ = self.home.import_file(track["path"])
                self.assertEqual(opened["opened"], track)
        # Ids come from the paths, not from the cache.
        shutil.rmtree(self.home.data_dir)
        second = Backend(self, self.home)
        self.assertEqual(second.idle()["tracks"], listed)

    def test_a_known_file_reached_another_way_keeps_its_row(self):
        make_audio(os.path.join(self.home.outside, "x.flac"), title="X")
        os.symlink(self.home.outside, self.home.path("Linked"))
        os.symlink(self.home.outside, self.home.path("Linked again"))
        backend = Backend(self, self.home)
        row = backend.idle()["tracks"]
        self.assertEqual([t["path"] for t in row], [self.home.path("Linked", "x.flac")])
        ways = [
            ("the real folder", os.path.join(self.home.outside, "x.flac")),
            ("dot segments", self.home.path("Linked", "..", "Linked", "x.flac")),
            ("a second link", self.home.path("Linked again", "x.flac")),
        ]
        for name, path in ways:
            with self.subTest(name):
                self.assertEqual(self.home.import_file(path)[0]["opened"], row[0])
                self.assertEqual(backend.ask({"action": "add", "path": path})["tracks"], row)

    def test_add_outside_the_scanned_folders_joins_and_stays(self):
        make_audio(self.home.path("Music", "a.flac"), title="A")
        outside = make_audio(os.path.join(self.home.outside, "new.flac"), title="New")
        backend = Backend(self, self.home)
        backend.idle()
        reply = backend.ask({"action": "add", "path": outside})
        self.assertNotIn("error", reply)
        added = by_path(reply)[outside]
        self.assertEqual(added["title"], "New")
        backend.ask({"action": "scan"})
        self.assertIn(outside, by_path(backend.idle()))
        self.assertEqual(backend.close(), 0)
        again = Backend(self, self.home)
        self.assertEqual(by_path(again.idle())[outside], added)
        # Once the file is gone, the next scan drops it.
        os.unlink(outside)
        again.ask({"action": "scan"})
        self.assertNotIn(outside, by_path(again.idle()))

    def test_import_joins_the_running_catalog(self):
        make_audio(self.home.path("Music", "a.flac"), title="A")
        outside = make_audio(os.path.join(self.home.outside, "opened.mp3"), title="Opened")
        backend = Backend(self, self.home)
        backend.idle()
        opened, _ = self.home.import_file(outside)
        self.assertEqual(opened["opened"]["title"], "Opened")
        self.assertEqual(by_path(backend.ask({"action": "list"})).get(outside), opened["opened"])

    def test_without_mutagen_file_names_stand_in(self):
        make_audio(self.home.path("Music", "Some Song.flac"), title="Tagged")
        backend = Backend(self, self.home, python_args=["-S"])  # no site packages
        first = backend.ask({"action": "list"})
        self.assertIn("mutagen", first["error"])
        reply = backend.idle()
        self.assertNotIn("error", reply)
        self.assertEqual([t["title"] for t in reply["tracks"]], ["Some Song"])
        self.assertEqual(backend.close(), 0)
        self.assertIsNone(cached_files(self.home.data_dir))


if __name__ == "__main__":
    unittest.main()
