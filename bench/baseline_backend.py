"""The library backend as it was at an earlier commit, for the backend
benchmarks' side-by-side runs."""

import os
import subprocess

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def write_baseline_scripts(rev, folder):
    """Writes the backend's scripts (resources/backend*.py) exactly as they
    were at `rev` into `folder`."""
    names = subprocess.run(["git", "-C", TOP, "ls-tree", "--name-only", rev, "resources/"],
                           check=True, stdout=subprocess.PIPE, text=True).stdout.split()
    for script in (os.path.basename(n) for n in names):
        if script.startswith("backend") and script.endswith(".py"):
            text = subprocess.run(["git", "-C", TOP, "show", "%s:resources/%s" % (rev, script)],
                                  check=True, stdout=subprocess.PIPE).stdout
            with open(os.path.join(folder, script), "wb") as f:
                f.write(text)
