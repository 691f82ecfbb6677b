# Guards against: (fixture) downloader tests that depend on the network.
"""Stands in for the download script in the downloader's tests.

Records its arguments, working folder, pid, the four variables the player sets,
its children and the signals it gets to $STANDIN_RECORD (JSON), then follows
the steps in $STANDIN_STEPS, one a line: out <hex>, sleep <s>, child, hang,
kill <signal>, exit <code>. SIGINT exits 130 unless $STANDIN_IGNORE_INT is set.
"""
import json
import os
import signal
import subprocess
import sys
import time

record_path = os.environ["STANDIN_RECORD"]
record = {
    "args": sys.argv,  # the script path first
    "cwd": os.getcwd(),
    "pid": os.getpid(),
    "python": sys.executable,
    "env": {k: os.environ.get(k) for k in ("PATH", "FLAC_HOME", "PYTHONIOENCODING", "FLAC_BROWSER")},
    "signals": [],
    "children": [],
}


def save():
    with open(record_path, "w", encoding="utf-8") as f:
        json.dump(record, f)


def on_signal(sig, _frame):
    record["signals"].append(sig)
    save()
    if sig == signal.SIGINT and os.environ.get("STANDIN_IGNORE_INT"):
        return
    os._exit(130 if sig == signal.SIGINT else 128 + sig)


signal.signal(signal.SIGINT, on_signal)
signal.signal(signal.SIGTERM, on_signal)
save()

for step in os.environ.get("STANDIN_STEPS", "").splitlines():
    word, _, arg = step.partition(" ")
    if word == "out":
        sys.stdout.buffer.write(bytes.fromhex(arg))
        sys.stdout.flush()
    elif word == "sleep":
        time.sleep(float(arg))
    elif word == "child":
        record["children"].append(subprocess.Popen(["sleep", "60"]).pid)
        save()
    elif word == "hang":
        while True:
            time.sleep(0.05)
    elif word == "kill":
        os.kill(os.getpid(), int(arg))
    elif word == "exit":
        sys.exit(int(arg))
