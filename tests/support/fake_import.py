#!/usr/bin/env python3
"""A stand-in for the backend script's one-shot import ("--import-file"),
answering by the file's name:

  a name with digits ("t3.wav")   opened: id 3, the name without suffix as title
  "bad…"                          {"error": "읽을 수 없는 파일: <name>"}
  "empty…"                        {}
  "log…"                          a log line, then a good answer
  "slow…"                         a good answer after 1.5 s
  "hang…"                         never answers
"""
import json
import os
import re
import sys
import time


def main():
    path = sys.argv[2]
    name = os.path.basename(path)
    stem = os.path.splitext(name)[0]
    if name.startswith("hang"):
        time.sleep(3600)
    if name.startswith("bad"):
        print(json.dumps({"error": "읽을 수 없는 파일: " + name}))
        return
    if name.startswith("empty"):
        print("{}")
        return
    if name.startswith("log"):
        print("reading " + name)
    if name.startswith("slow"):
        time.sleep(1.5)
    track = {"id": int(re.sub(r"\D", "", stem)), "path": path, "title": stem,
             "artist": "", "album": "", "duration": 1.0, "art": ""}
    print(json.dumps({"opened": track}))


if __name__ == "__main__":
    main()
