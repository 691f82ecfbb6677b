# Guards against: wrong or late track information from the web service, tags overwritten.
"""Filling in track information from MusicBrainz, against a stand-in
service on the loopback address: matches, misses, service failures, no
network, a service that never answers, and what is kept afterwards."""

import json
import os
import socket
import threading
import time
import unittest
import urllib.parse
from unittest import mock
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

from support import TempHome, make_audio

# The backend's modules load from the resources folder that support puts on the path.
import backend_library  # noqa: E402
import backend_musicbrainz as mb  # noqa: E402
from backend_library import Library  # noqa: E402

RELEASE = "0f6f8d7c-1234-4abc-9def-0123456789ab"
COVER = "https://coverartarchive.org/release/%s/front-500" % RELEASE


def recording(score=100, length=500, title="Song Title", artist="Artist Name", album="Album X"):
    return {
        "recordings": [
            {
                "id": "rec-1", "score": score, "title": title, "length": length,
                "artist-credit": [{"name": artist, "joinphrase": ""}],
                "releases": [{"id": RELEASE, "title": album, "status": "Official"}],
            }
        ]
    }


class Service(ThreadingHTTPServer):
    """Answers /ws/2/recording/ and /ws/2/release/<id> from `answers`, a map
    from the first path word to (status, body); records every request."""

    def __init__(self):
        super().__init__(("127.0.0.1", 0), Handler)
        self.answers = {}
        self.requests = []
        threading.Thread(target=self.serve_forever, daemon=True).start()

    @property
    def url(self):
        return "http://127.0.0.1:%d/ws/2/" % self.server_address[1]


class Handler(BaseHTTPRequestHandler):
    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        kind = url.path[len("/ws/2/") :].split("/")[0]
        query = urllib.parse.parse_qs(url.query)
        self.server.requests.append((kind, query, self.headers["User-Agent"]))
        status, body = self.server.answers.get(kind, (404, b"{}"))
        if not isinstance(body, bytes):
            body = json.dumps(body).encode()
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


class EnrichTest(unittest.TestCase):
    def setUp(self):
        self.service = Service()
        self.addCleanup(self.service.server_close)
        self.addCleanup(self.service.shutdown)

    def library(self, home, name, **tags):
        make_audio(home.path("Music", name), **tags)
        library = Library(home.config())
        library.scan_once()
        return library, json.loads(library.reply())["tracks"][0]

    def enrich(self, library, track):
        line = json.dumps({"action": "enrich", "id": track["id"]}).encode()
        reply = json.loads(library.handle(line))
        return reply.get("error"), next(t for t in reply["tracks"] if t["id"] == track["id"])

    def home(self, url=None, timeout="5"):
        home = TempHome(self)
        home.env["QUAVELARK_MUSICBRAINZ_URL"] = url or self.service.url
        home.env["QUAVELARK_MUSICBRAINZ_TIMEOUT"] = timeout
        return home

    def test_answers_of_the_service(self):
        art = (200, {"id": RELEASE, "cover-art-archive": {"front": True}})
        no_art = (200, {"id": RELEASE, "cover-art-archive": {"front": False}})
        # file name, tags, the query it leads to
        untagged = ("01 - Artist Name - Song Title.flac", {},
                    'recording:"Song Title" AND artist:"Artist Name"')
        tagged = ("x.flac", {"title": "Mine", "artist": "Me"}, 'recording:"Mine" AND artist:"Me"')
        filled = ("Song Title", "Artist Name", "Album X", COVER)
        no_match = mb.MSG_MB_NO_MATCH
        rows = [
            # name, file, recording answer, release answer, fields after, error
            ("fills every missing field", untagged, (200, recording()), art, filled, None),
            ("keeps the file's own tags", tagged, (200, recording(title="Mine", artist="Me")),
             no_art, ("Mine", "Me", "Album X", ""), None),
            ("no recording", untagged, (200, {"recordings": []}), art, None, no_match),
            ("score too low", untagged, (200, recording(score=40)), art, None, no_match),
            ("length far off", untagged, (200, recording(length=300000)), art, None, no_match),
            ("service busy", untagged, (503, {}), art, None, mb.MSG_MB_HTTP.format(503)),
            ("not JSON", untagged, (200, b"<html>"), art, None, mb.MSG_MB_BAD_REPLY),
            ("cover look-up fails", untagged, (200, recording()), (500, {}), filled[:3] + ("",),
             None),
        ]

        def fields(track):
            return (track["title"], track["artist"], track["album"], track["art"])

        for name, (file_name, tags, query), found, release, expected, error in rows:
            with self.subTest(name):
                self.service.answers = {"recording": found, "release": release}
                self.service.requests.clear()
                library, before = self.library(self.home(), file_name, **tags)
                got_error, after = self.enrich(library, before)
                self.assertEqual(got_error, error)
                self.assertEqual(fields(after), expected or fields(before))
                kind, asked, agent = self.service.requests[0]
                self.assertEqual((kind, asked["query"]), ("recording", [query]))
                self.assertTrue(agent.startswith("Quavelark/"), agent)

    def test_query_from_the_file_name(self):
        self.service.answers = {"recording": (200, recording())}
        library, track = self.library(self.home(), '03. Band "X" - Tune.flac')
        self.enrich(library, track)
        query = self.service.requests[0][1]["query"][0]
        self.assertEqual(query, 'recording:"Tune" AND artist:"Band \\"X\\""')

    def test_unreachable_service_answers_within_the_time_out(self):
        def refused():
            closed = socket.socket()
            closed.bind(("127.0.0.1", 0))
            port = closed.getsockname()[1]
            closed.close()  # nothing listens there now: the connection is refused
            return port

        def silent():
            server = socket.socket()
            self.addCleanup(server.close)
            server.bind(("127.0.0.1", 0))
            server.listen(4)  # connections are taken but never answered
            return server.getsockname()[1]

        rows = [
            ("connection refused", refused, "5", mb.MSG_MB_OFFLINE),
            ("service never answers", silent, "1", mb.MSG_MB_TIMEOUT),
        ]
        for name, port, timeout, message in rows:
            with self.subTest(name):
                url = "http://127.0.0.1:%d/ws/2/" % port()
                library, track = self.library(self.home(url, timeout), "a.flac")
                started = time.monotonic()
                error, after = self.enrich(library, track)
                self.assertEqual(error, message)
                self.assertEqual(after, track)
                self.assertLess(time.monotonic() - started, 5)

    def test_filled_fields_last_and_tags_come_first(self):
        self.service.answers = {
            "recording": (200, recording()),
            "release": (200, {"cover-art-archive": {"front": True}}),
        }
        home = self.home()
        library, track = self.library(home, "Artist Name - Song Title.flac")
        self.assertIsNone(self.enrich(library, track)[0])
        later = Library(home.config())
        later.scan_once()
        kept = json.loads(later.reply())["tracks"][0]
        kept_fields = (kept["title"], kept["artist"], kept["art"])
        self.assertEqual(kept_fields, ("Song Title", "Artist Name", COVER))
        asked = len(self.service.requests)
        self.assertEqual(self.enrich(later, kept)[0], backend_library.MSG_MB_COMPLETE)
        self.assertEqual(len(self.service.requests), asked)
        # A tag written later wins over the filled-in value.
        make_audio(home.path("Music", "Artist Name - Song Title.flac"), title="Own Title")
        os.utime(home.path("Music", "Artist Name - Song Title.flac"), (1, 1))
        later.scan_once()
        retagged = json.loads(later.reply())["tracks"][0]
        self.assertEqual((retagged["title"], retagged["artist"]), ("Own Title", "Artist Name"))

    def test_a_look_up_not_saved_is_saved_with_the_next(self):
        self.service.answers = {
            "recording": (200, recording()),
            "release": (200, {"cover-art-archive": {"front": False}}),
        }
        home = self.home()
        library, first = self.library(home, "01 - Artist Name - Song Title.flac")
        make_audio(home.path("Music", "02 - Artist Name - Song Title.flac"))
        library.scan_once()
        second = next(t for t in json.loads(library.reply())["tracks"] if t["id"] != first["id"])
        with mock.patch.object(library.store, "write", return_value=False):  # a full disk
            self.assertIsNone(self.enrich(library, first)[0])
        self.assertIsNone(self.enrich(library, second)[0])
        with open(os.path.join(home.data_dir, "enriched.json"), "rb") as f:
            saved = json.loads(f.read())
        self.assertEqual(len(saved), 2)
        for record in saved.values():
            self.assertEqual((record["title"], record["artist"]), ("Song Title", "Artist Name"))


if __name__ == "__main__":
    unittest.main()
