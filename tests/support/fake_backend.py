#!/usr/bin/env python3
# Guards against: (fixture) a stand-in backend unlike the real protocol.
"""A stand-in for the library backend script that speaks its line protocol.

The test writes a plan (JSON) and names it in QL_FAKE_BACKEND_PLAN; the
program runs this script exactly as it runs the real one, so the plan travels
through the inherited environment.

Plan keys (all optional):
  "log":      a file; every request line is appended to it byte for byte, and
              an import run appends its arguments as one JSON line.
  "greeting": a step run once at start, before any request is read.
  "answers":  steps, one per request line, in order.
  "default":  the step for requests after "answers" ran out (none: silence).
  "import":   {"stdout": text, "exit": code} for a "--import-file" run.

A step:
  {"chunks": [text, ...], "pause": seconds}  writes each text, flushed, with
                                             the pause between them
  {"env": "PATH"}                            answers {"error": <that variable>}
  {"exit": code}                             after writing (if anything), exits
  {"signal": number}                         after writing, kills itself
  {"deaf": true}                             after writing, closes its standard
                                             input and lives on without reading
  {"orphan": seconds}                        before writing, starts a process
                                             that holds its standard output
                                             open that long
Without "chunks" or "env" the request gets no answer.
"""
import json
import os
import sys
import time


def load_plan():
    path = os.environ.get("QL_FAKE_BACKEND_PLAN")
    if not path:
        return {}
    with open(path, encoding="utf-8") as f:
        return json.load(f)


def log(plan, data):
    if "log" in plan:
        with open(plan["log"], "ab") as f:
            f.write(data)


def run_step(step):
    out = sys.stdout.buffer
    if "orphan" in step:
        import subprocess
        subprocess.Popen(["sleep", str(step["orphan"])], stdin=subprocess.DEVNULL,
                         start_new_session=True)
    if "env" in step:
        value = os.environ.get(step["env"], "")
        out.write(json.dumps({"error": value}).encode() + b"\n")
        out.flush()
    chunks = step.get("chunks", [])
    for i, chunk in enumerate(chunks):
        if i and step.get("pause"):
            time.sleep(step["pause"])
        out.write(chunk.encode("utf-8"))
        out.flush()
    if step.get("deaf"):
        os.close(0)
        while True:
            time.sleep(3600)
    if "signal" in step:
        os.kill(os.getpid(), step["signal"])
    if "exit" in step:
        os._exit(step["exit"])


def main():
    plan = load_plan()
    if len(sys.argv) > 1 and sys.argv[1] == "--import-file":
        log(plan, json.dumps(sys.argv[1:]).encode() + b"\n")
        answer = plan.get("import", {})
        sys.stdout.write(answer.get("stdout", ""))
        sys.stdout.flush()
        sys.exit(answer.get("exit", 0))

    if "greeting" in plan:
        run_step(plan["greeting"])
    answers = list(plan.get("answers", []))
    while True:
        line = sys.stdin.buffer.readline()
        if not line:
            return
        log(plan, line)
        step = answers.pop(0) if answers else plan.get("default")
        if step:
            run_step(step)


if __name__ == "__main__":
    main()
