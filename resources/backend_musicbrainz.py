"""Looking a recording up on the MusicBrainz web service."""

import json
import re
import time

from backend_files import clean_text, file_title
from backend_store import log

VERSION = "0.1.0"
USER_AGENT = "Quavelark/%s ( desktop music player for Linux )" % VERSION
COVER_URL = "https://coverartarchive.org/release/%s/front-500"

MSG_MB_OFFLINE = "MusicBrainz에 연결할 수 없습니다."
MSG_MB_TIMEOUT = "MusicBrainz 응답 시간이 초과되었습니다."
MSG_MB_HTTP = "MusicBrainz 응답 오류 (HTTP {})"
MSG_MB_BAD_REPLY = "MusicBrainz 응답을 해석할 수 없습니다."
MSG_MB_NO_MATCH = "MusicBrainz에서 일치하는 곡을 찾지 못했습니다."


class LookupFailed(Exception):
    """A lookup that ended without an answer; the message is for the user."""


def _lucene(text):
    return '"%s"' % text.replace("\\", "\\\\").replace('"', '\\"')


def guess_from_name(path):
    """(artist, title) guessed from a file name like "01 - Artist - Title"."""
    stem = re.sub(r"^\s*\d{1,3}\s*[-._)]?\s+", "", file_title(path))
    parts = [p.strip() for p in stem.split(" - ") if p.strip()]
    if len(parts) >= 2:
        return parts[-2], parts[-1]
    return "", stem


class MusicBrainz:
    """Recording search and release look-up on the MusicBrainz web service,
    at most one request a second as the service asks."""

    def __init__(self, base_url, deadline):
        self.base = base_url
        self.deadline = deadline
        self.last = 0.0

    def get(self, path, params):
        # Imported here, not at the top: the web modules cost every start of
        # the backend (and of each tag-reading worker) some 20 ms, and most
        # runs never look anything up.
        import urllib.error
        import urllib.parse
        import urllib.request

        wait = self.last + 1.0 - time.monotonic()
        if self.last and wait > 0:
            time.sleep(wait)
        remaining = self.deadline - time.monotonic()
        if remaining <= 0:
            raise LookupFailed(MSG_MB_TIMEOUT)
        url = self.base + path + "?" + urllib.parse.urlencode(dict(params, fmt="json"))
        request = urllib.request.Request(
            url, headers={"User-Agent": USER_AGENT, "Accept": "application/json"}
        )
        self.last = time.monotonic()
        try:
            with urllib.request.urlopen(request, timeout=remaining) as response:
                body = response.read()
        except urllib.error.HTTPError as e:
            raise LookupFailed(MSG_MB_HTTP.format(e.code))
        except urllib.error.URLError as e:
            timed_out = isinstance(e.reason, TimeoutError)
            raise LookupFailed(MSG_MB_TIMEOUT if timed_out else MSG_MB_OFFLINE)
        except TimeoutError:
            raise LookupFailed(MSG_MB_TIMEOUT)
        except OSError:
            raise LookupFailed(MSG_MB_OFFLINE)
        try:
            value = json.loads(body)
        except ValueError:
            raise LookupFailed(MSG_MB_BAD_REPLY)
        if not isinstance(value, dict):
            raise LookupFailed(MSG_MB_BAD_REPLY)
        return value


def _credit(recording):
    text = ""
    for part in recording.get("artist-credit") or []:
        if isinstance(part, dict):
            name = part.get("name") or (part.get("artist") or {}).get("name") or ""
            text += str(name) + str(part.get("joinphrase") or "")
    return clean_text(text)


def _best_release(recording):
    releases = [r for r in recording.get("releases") or [] if isinstance(r, dict) and r.get("id")]
    for release in releases:
        if release.get("status") == "Official":
            return release
    return releases[0] if releases else None


def lookup(base_url, timeout, want, title, artist, duration):
    """Finds the recording and returns the wanted fields among "title",
    "artist", "album" and "art" that MusicBrainz knows (possibly none).
    Raises LookupFailed when the service cannot be asked or finds nothing."""
    mb = MusicBrainz(base_url, time.monotonic() + timeout)
    query = "recording:" + _lucene(title)
    if artist:
        query += " AND artist:" + _lucene(artist)
    reply = mb.get("recording/", {"query": query, "limit": "10"})
    match = None
    for recording in reply.get("recordings") or []:
        try:
            score = int(recording.get("score"))
        except (AttributeError, TypeError, ValueError):
            continue
        if score < 90:
            continue
        length = recording.get("length")
        if duration > 0 and isinstance(length, (int, float)) and abs(length / 1000 - duration) > 10:
            continue
        match = recording
        break
    if match is None:
        raise LookupFailed(MSG_MB_NO_MATCH)
    release = _best_release(match)
    found = {
        "title": clean_text(str(match.get("title") or "")),
        "artist": _credit(match),
        "album": clean_text(str(release.get("title") or "")) if release else "",
    }
    found = {k: v for k, v in found.items() if v and k in want}
    mbid = release.get("id") if release else None
    if "art" in want and isinstance(mbid, str) and re.fullmatch(r"[0-9a-fA-F-]{36}", mbid):
        try:
            info = mb.get("release/" + mbid, {})
            if (info.get("cover-art-archive") or {}).get("front") is True:
                found["art"] = COVER_URL % mbid.lower()
        except LookupFailed as e:  # the text fields found so far still count
            log("cover look-up failed:", e)
    return found
