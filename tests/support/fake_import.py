#!/usr/bin/env python3
# Guards against: (fixture) import tests that depend on the real tag reader.
"""The backend's one-shot import ("--import-file PATH"), answering by name:
"bad…" an error, "empty…" {}, "log…" a log line first, "slow…" after 1.5 s,
"hang…" never; otherwise the track whose id is the digits of the name."""
import json
import os
import re
import sys
import time

path = sys.argv[2]
name = os.path.basename(path)
stem = os.path.splitext(name)[0]
time.sleep(3600 if name.startswith("hang") else 1.5 if name.startswith("slow") else 0)
if name.startswith("bad"):
    print(json.dumps({"error": "읽을 수 없는 파일: " + name}))
elif name.startswith("empty"):
    print("{}")
else:
    if name.startswith("log"):
        print("reading " + name)
    print(json.dumps({"opened": {"id": int(re.sub(r"\D", "", stem)), "path": path, "title": stem,
                                 "artist": "", "album": "", "duration": 1.0, "art": ""}}))
