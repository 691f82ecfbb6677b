#!/usr/bin/env python3
"""The download script Quavelark runs from its "FLAC 받기" window.

This build ships no download source. The script checks its arguments, prints
one progress line naming the request and one "중단:" line explaining that a
"flac.py" of the user's own in the Downloads folder runs in its place, writes
nothing and exits 3. docs/DOWNLOADER.md describes the interface such a script
must honour.

Argument forms (each value is taken literally, even when it begins with "-"):
  ARTIST COUNT                 popular tracks of an artist
  ARTIST --album ALBUM         an album (ARTIST may be empty)
  ARTIST --song TITLE          one track
  --all TERM --limit COUNT     everything a search finds
  --melon --limit COUNT        today's Melon chart
COUNT is a decimal number from 1 to 300. Environment: FLAC_HOME (where files
would be saved), FLAC_BROWSER ("aside", "chrome" or "firefox").

Exit status: 2 for bad arguments, 3 for "no download source", 130 when
interrupted.
"""
import os
import sys

EXIT_USAGE = 2
EXIT_NO_SOURCE = 3
EXIT_INTERRUPTED = 130


class UsageError(Exception):
    pass


def say(line):
    print(line, flush=True)


def count_of(text):
    if not (text.isascii() and text.isdigit()) or not 1 <= int(text) <= 300:
        raise UsageError(f"곡 수는 1~300 사이 숫자여야 합니다 (the count must be 1 to 300): {text!r}")
    return int(text)


def parse(args):
    """The request as a pair (kind, fields), read by hand so that no value is
    ever taken for an option."""
    if len(args) == 3 and args[1] in ("--album", "--song"):
        kind = "album" if args[1] == "--album" else "song"
        if not args[2]:
            raise UsageError(f"{args[1]} 값이 비었습니다 (empty {args[1]} value)")
        if kind == "song" and not args[0]:
            raise UsageError("가수가 비었습니다 (empty artist)")
        return kind, {"artist": args[0], kind: args[2]}
    if len(args) == 3 and args[0] == "--melon" and args[1] == "--limit":
        return "melon", {"count": count_of(args[2])}
    if len(args) == 4 and args[0] == "--all" and args[2] == "--limit":
        if not args[1]:
            raise UsageError("검색어가 비었습니다 (empty search term)")
        return "all", {"term": args[1], "count": count_of(args[3])}
    if len(args) == 2:
        if not args[0]:
            raise UsageError("가수가 비었습니다 (empty artist)")
        return "popular", {"artist": args[0], "count": count_of(args[1])}
    raise UsageError(f"알 수 없는 인수입니다 (unknown arguments): {args!r}")


def describe(kind, fields):
    if kind == "melon":
        return f"멜론 TOP{fields['count']}"
    if kind == "all":
        return f"전체 '{fields['term']}' {fields['count']}곡"
    if kind == "popular":
        return f"{fields['artist']} 인기곡 {fields['count']}곡"
    return f"{fields['artist']} {fields[kind]}".strip()


def main(args):
    try:
        try:
            kind, fields = parse(args)
        except UsageError as error:
            say(f"중단: {error}")
            return EXIT_USAGE
        browser = os.environ.get("FLAC_BROWSER", "aside")
        say(f"요청: {describe(kind, fields)} · {browser}")
        say("중단: 이 빌드에는 다운로드 소스가 없습니다. 다운로드 폴더에 flac.py를 두면 그 스크립트가 "
            "대신 실행됩니다. (This build has no download source; a flac.py in the Downloads "
            "folder runs in its place.)")
        return EXIT_NO_SOURCE
    except KeyboardInterrupt:
        return EXIT_INTERRUPTED


if __name__ == "__main__":
    if not os.environ.get("PYTHONIOENCODING"):
        sys.stdout.reconfigure(encoding="utf-8")
    sys.exit(main(sys.argv[1:]))
