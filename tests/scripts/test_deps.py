# Guards against: scripts/deps taking an installed package for missing (its
# triggers not yet run, or held) and then failing on another apt's lock, so
# that ./scripts/run ends without a window.
"""scripts/deps reads dpkg's package states and runs apt-get only for what is
missing, waiting for the lock another apt holds. The system programs it calls
(dpkg-query, apt-get, sudo, locale) are stand-ins here."""

import os
import subprocess
import tempfile
import textwrap
import unittest

DEPS = os.path.join(os.path.dirname(__file__), "..", "..", "scripts", "deps")

# name, dpkg-query's "<want> <error> <status>", counted as present
STATES = [
    ("installed", "install ok installed", True),
    ("its triggers pending", "install ok triggers-pending", True),
    ("awaiting another's triggers", "install ok triggers-awaited", True),
    ("held", "hold ok installed", True),
    ("only unpacked", "install ok unpacked", False),
    ("only its configuration left", "deinstall ok config-files", False),
]

STAND_INS = {
    # One line per package asked; FAKE_STATES holds "<package> <status>"
    # lines, "unknown" for a package dpkg has never heard of.
    "dpkg-query": """\
        #!/bin/sh
        shift 2
        status=0
        for p in "$@"; do
            state=$(printf '%s\\n' "$FAKE_STATES" | awk -v p="$p" '$1 == p { sub(/^[^ ]+ /, ""); print }')
            if [ "$state" = unknown ]; then
                echo "dpkg-query: no packages found matching $p" >&2
                status=1
                continue
            fi
            echo "$p ${state:-install ok installed}"
        done
        exit $status
        """,
    # Each run recorded; "update" fails with the lock message as many times
    # as FAKE_LOCKED_UPDATES says.
    "apt-get": """\
        #!/bin/sh
        echo "$*" >> "$FAKE_DIR/apt-log"
        case "$*" in *update*)
            n=$(cat "$FAKE_DIR/locked" 2>/dev/null || echo "${FAKE_LOCKED_UPDATES:-0}")
            if [ "$n" -gt 0 ]; then
                echo $((n - 1)) > "$FAKE_DIR/locked"
                echo "E: Could not get lock /var/lib/apt/lists/lock. It is held by process 7 (apt-get)" >&2
                exit 100
            fi
        esac
        exit 0
        """,
    "sudo": '#!/bin/sh\nexec "$@"\n',
    "locale": "#!/bin/sh\necho de_DE.utf8\n",
}


class DepsTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.bin = os.path.join(self.dir.name, "bin")
        os.mkdir(self.bin)
        for name, text in STAND_INS.items():
            path = os.path.join(self.bin, name)
            with open(path, "w") as f:
                f.write(textwrap.dedent(text))
            os.chmod(path, 0o755)

    def tearDown(self):
        self.dir.cleanup()

    def run_deps(self, args=(), states="", locked=0, stdin=""):
        env = dict(os.environ, PATH=self.bin + os.pathsep + os.environ["PATH"],
                   FAKE_DIR=self.dir.name, FAKE_STATES=states,
                   FAKE_LOCKED_UPDATES=str(locked))
        return subprocess.run(["bash", DEPS, *args], env=env, input=stdin,
                              capture_output=True, text=True, timeout=60)

    def apt_runs(self):
        try:
            with open(os.path.join(self.dir.name, "apt-log")) as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def test_reads_each_state(self):
        for name, state, present in STATES:
            with self.subTest(name):
                run = self.run_deps(["--missing", "cmake", "ffmpeg"],
                                    stdin="cmake %s\nffmpeg install ok installed\n" % state)
                self.assertEqual(run.returncode, 0, run.stderr)
                self.assertEqual(run.stdout.split(), [] if present else ["cmake"])

    # A whole run: apt-get runs only for what is missing, and waits for the
    # lock another apt holds.
    def test_installs_only_what_is_missing(self):
        wait = "-o DPkg::Lock::Timeout=600"
        rows = [
            ("everything present, some awaiting triggers or held",
             "cmake install ok triggers-pending\nmpv install ok triggers-awaited\n"
             "g++ hold ok installed\n", 0, []),
            ("one package only unpacked", "mpv install ok unpacked\n", 0,
             [wait + " update -qq",
              wait + " install -y -qq --no-install-recommends mpv"]),
            ("one package unknown, the lists locked once", "zbar-tools unknown\n", 1,
             [wait + " update -qq"] * 2 +
             [wait + " install -y -qq --no-install-recommends zbar-tools"]),
        ]
        for name, states, locked, runs in rows:
            with self.subTest(name):
                for f in ("apt-log", "locked"):
                    if os.path.exists(os.path.join(self.dir.name, f)):
                        os.remove(os.path.join(self.dir.name, f))
                run = self.run_deps(states=states, locked=locked)
                self.assertEqual(run.returncode, 0, run.stderr)
                self.assertEqual(self.apt_runs(), runs)

    def test_another_failure_of_the_lists_is_not_waited_for(self):
        with open(os.path.join(self.bin, "apt-get"), "w") as f:
            f.write('#!/bin/sh\necho "$*" >> "$FAKE_DIR/apt-log"\n'
                    'echo "E: Failed to fetch http://deb.example/ 404" >&2\nexit 100\n')
        run = self.run_deps(states="mpv install ok unpacked\n")
        self.assertNotEqual(run.returncode, 0)
        self.assertIn("404", run.stderr)
        self.assertEqual(len(self.apt_runs()), 1)


if __name__ == "__main__":
    unittest.main()
