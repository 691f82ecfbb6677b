# Guards against: the shipped script misreading arguments or claiming a download.
import os
import subprocess
import sys
import tempfile
import unittest.mock

SCRIPT = os.path.join(os.path.dirname(__file__), "..", "..", "..", "resources", "flac_fetch.py")
sys.dont_write_bytecode = True  # nothing written beside the shipped script
sys.path.insert(0, os.path.dirname(SCRIPT))
import flac_fetch  # noqa: E402

# (name, arguments, exit status, text of the first line)
CASES = [
    ("popular", ["Queen", "5"], 3, "요청: Queen 인기곡 5곡 · aside"),
    ("album without artist", ["", "--album", "-a"], 3, "요청: -a · aside"),
    ("song named like an option", ["-x", "--song", "--all"], 3, "요청: -x --all · aside"),
    ("all", ["--all", "--melon", "--limit", "300"], 3, "요청: 전체 '--melon' 300곡 · aside"),
    ("melon", ["--melon", "--limit", "10"], 3, "요청: 멜론 TOP10 · aside"),
    ("count 0", ["Queen", "0"], 2, "중단: 곡 수는 1~300"),
    ("count not a number", ["--melon", "--limit", "-5"], 2, "중단: 곡 수는 1~300"),
    ("unknown form", ["Queen", "--limit", "3", "x"], 2, "중단: 알 수 없는 인수"),
]


class FlacFetchTest(unittest.TestCase):
    def test_forms(self):
        for name, args, status, first in CASES:
            with self.subTest(name), tempfile.TemporaryDirectory() as home:
                env = dict(os.environ, FLAC_HOME=home, FLAC_BROWSER="aside", PYTHONIOENCODING="utf-8")
                run = subprocess.run([sys.executable, "-u", SCRIPT, *args], env=env,
                                     capture_output=True, timeout=30)
                lines = run.stdout.decode("utf-8").splitlines()
                self.assertEqual((run.returncode, len(lines), os.listdir(home)), (status, status - 1, []))
                self.assertTrue(lines[0].startswith(first) and lines[-1].startswith("중단: "), lines)
                self.assertNotIn("완료 [", run.stdout.decode("utf-8"))

    def test_interrupt(self):
        with unittest.mock.patch.object(flac_fetch, "say", side_effect=KeyboardInterrupt):
            self.assertEqual(flac_fetch.main(["Queen", "5"]), 130)


if __name__ == "__main__":
    unittest.main()
