# Guards against: tags lost or garbled by the cache file, an old cache not taken over, and a
# scan by worker processes that numbers, orders or fills tracks differently.
"""The tag cache file (its round trip, damaged files, the old JSON cache
taken over) and scans that read tags in worker processes."""

import multiprocessing
import os
import shutil
import signal
import threading
import time
import unittest
from unittest import mock

from support import TempHome, cached_files, make_audio, write_old_cache

import backend_cache  # noqa: E402
import backend_library  # noqa: E402
from backend_library import CACHE_VERSION, Library  # noqa: E402

ODD_NAME = os.fsdecode(b"caf\xe9 \\ tab\there")  # not UTF-8, with a backslash and a tab


class CacheFileTest(unittest.TestCase):
    def test_entries_come_back_as_written(self):
        rows = [
            ("plain", "/m/a.flac", [10, 20, "T", "A", "B", 1.5]),
            ("unreadable file", "/m/b.flac", [10, 20]),
            ("Korean", "/m/노래.mp3", [1, 2, "봄날", "가수", "앨범", 200.25]),
            ("separators in tags", "/m/c.flac", [1, 2, "a\tb", "c\nd\re", "x\\ty\\", 0.0]),
            ("name not UTF-8", "/m/" + ODD_NAME + ".flac", [3, 4, "T", "", "", 2.0]),
            ("a new line in the name", "/m/two\nlines.flac", [5, 6, "", "", "", 0.001]),
            ("reread marker", "/m/d.mp3", [-1, 6, "old", "", "", 1.0]),
        ]
        home = TempHome(self)
        files = {path: backend_cache.make_entry(e[0], e[1], e[2:]) for _, path, e in rows}
        self.assertTrue(backend_cache.write(home.data_dir, files, CACHE_VERSION))
        back = backend_cache.read(home.data_dir, CACHE_VERSION)
        for name, path, entry in rows:
            with self.subTest(name):
                self.assertEqual(backend_cache.fields(back[path]), entry)
        self.assertEqual(len(back), len(rows))
        self.assertEqual([n for n in os.listdir(home.data_dir) if n.endswith(".tmp")], [])

    def test_an_entry_is_trusted_for_its_own_size_and_time_only(self):
        tagged = backend_cache.make_entry(10, 20, ("T", "A", "B", 1.5))
        plain = backend_cache.make_entry(10, 20)
        rows = [
            ("same file, tagged", tagged, 10, 20, True),
            ("same file, not audio", plain, 10, 20, True),
            ("time a prefix of the cached one", tagged, 10, 2, False),
            ("time a prefix, not audio", plain, 10, 2, False),
            ("size a prefix of the cached one", tagged, 1, 20, False),
            ("another time", tagged, 10, 21, False),
            ("marked to be read again", backend_cache.make_entry(-1, 20, ("T", "", "", 1.0)),
             1, 20, False),
        ]
        for name, entry, size, mtime, same in rows:
            with self.subTest(name):
                self.assertEqual(backend_cache.same_file(entry, size, mtime), same)

    def test_damaged_or_foreign_files(self):
        good = "/m/a.flac\t1\t2\tT\tA\tB\t1.5\n"
        rows = [
            ("no file", None, None),
            ("empty file", "", {}),
            ("another version", "quavelark tag cache 99\n" + good, {}),
            ("not a cache", "{not a cache", {}),
            ("damaged lines skipped", "quavelark tag cache %d\n/m/x\tbig\t2\n/m/y\t1\n%s/m/z\t1"
             % (CACHE_VERSION, good), {"/m/a.flac": [1, 2, "T", "A", "B", 1.5]}),
            ("a cut last line", "quavelark tag cache %d\n%s/m/b.flac\t1\t2\tT\tA"
             % (CACHE_VERSION, good), {"/m/a.flac": [1, 2, "T", "A", "B", 1.5]}),
            ("a last line cut after its times", "quavelark tag cache %d\n%s/m/b.flac\t1\t2"
             % (CACHE_VERSION, good), {"/m/a.flac": [1, 2, "T", "A", "B", 1.5]}),
            ("a last line cut in its duration", "quavelark tag cache %d\n%s/m/b.flac\t1\t2\tT\tA\tB\t20"
             % (CACHE_VERSION, good), {"/m/a.flac": [1, 2, "T", "A", "B", 1.5]}),
        ]
        for name, text, expected in rows:
            with self.subTest(name):
                home = TempHome(self)
                os.makedirs(home.data_dir)
                if text is not None:
                    with open(os.path.join(home.data_dir, "tags.cache"), "w") as f:
                        f.write(text)
                back = backend_cache.read(home.data_dir, CACHE_VERSION)
                if back is not None:
                    back = {p: backend_cache.fields(e) for p, e in back.items()}
                self.assertEqual(back, expected)

    def test_the_old_cache_is_taken_over_once(self):
        home = TempHome(self)
        for i in range(3):
            make_audio(home.path("Music", "%d.flac" % i), title="T%d" % i)
        first = Library(home.config())
        first.scan_once()
        entries = cached_files(home.data_dir)
        write_old_cache(home.data_dir, CACHE_VERSION, entries)
        reads = []
        real = backend_library.read_tags
        with mock.patch.object(backend_library, "read_tags", lambda p: reads.append(p) or real(p)):
            again = Library(home.config())
            self.assertEqual(again.reply(), first.reply())  # shown before any scan
            again.scan_once()
        self.assertEqual(reads, [])
        self.assertEqual(again.reply(), first.reply())
        self.assertFalse(os.path.exists(os.path.join(home.data_dir, "cache.json")))
        self.assertEqual(cached_files(home.data_dir), entries)


_real_pool_init = backend_library.TagPool.__init__


def _two_workers_at_least(pool):
    # On a one-processor machine the scan reads every file itself; these
    # tests are about the workers, so they have two there too.
    _real_pool_init(pool)
    pool.workers = max(pool.workers, 2)
    pool.usable = True


_real_start = backend_library.TagPool.start


def _scan_in_workers(library, submit, batch, wait):
    """Runs one scan of `library` with every file read by the pool in
    batches of `batch`, `submit` in place of the pool's; the scan's thread,
    joined for at most `wait` seconds."""
    with mock.patch.multiple(backend_library, INLINE_READS=0, BATCH=batch), \
            mock.patch.object(backend_library.TagPool, "submit", submit), \
            mock.patch.object(backend_library.TagPool, "start", _ready_at_once):
        scan = threading.Thread(target=library.scan_once, daemon=True)
        scan.start()
        scan.join(wait)
    return scan


def _ready_at_once(pool):
    # The workers are ready before the scan goes on: every file past the
    # ones read at once goes to them.
    _real_start(pool)
    pool.size(pool.workers * backend_library.FILES_PER_WORKER)
    pool.thread.join(60)


@mock.patch.object(backend_library.TagPool, "__init__", _two_workers_at_least)
class ParallelScanTest(unittest.TestCase):
    """The same tree scanned by the backend itself and by worker processes
    in batches of every size gives the same reply, byte for byte."""

    def test_workers_give_the_same_catalog(self):
        home = TempHome(self)
        names = ["a/%02d.flac" % i for i in range(9)] + ["b/" + ODD_NAME + ".flac", "b/z.mp3"]
        for i, name in enumerate(names):
            make_audio(home.path("Music", name), title="T%d" % i, artist="A", album=name[0])
        with open(home.path("Music", "b", "not audio.flac"), "wb") as f:
            f.write(b"not a FLAC file")
        # name, files read at most by the scan alone, batch size, workers
        # ready at once (else the scan reads files itself while they start)
        rows = [("read by the scan itself", 1000, 64, True), ("batches of one", 0, 1, True),
                ("batches of four", 0, 4, True), ("more than are read at once", 3, 2, True),
                ("read here while the workers start", 0, 2, False)]
        replies, cached, submitted, read_here = {}, {}, [], []
        real_submit, real_read = backend_library.TagPool.submit, backend_library.read_tags

        def counted(pool, files):
            submitted.append(len(files))
            return real_submit(pool, files)

        for name, inline, batch, ready in rows:
            with self.subTest(name):
                shutil.rmtree(home.data_dir, ignore_errors=True)
                submitted.clear()
                read_here.clear()
                with mock.patch.multiple(backend_library, INLINE_READS=inline, BATCH=batch), \
                        mock.patch.object(backend_library.TagPool, "submit", counted), \
                        mock.patch.object(backend_library.TagPool, "start",
                                          _ready_at_once if ready else _real_start), \
                        mock.patch.object(backend_library, "read_tags",
                                          lambda p: read_here.append(p) or real_read(p)):
                    library = Library(home.config())
                    library.scan_once()
                replies[name] = library.reply()
                cached[name] = cached_files(home.data_dir)
                # A few new files are read by the scan itself; more go to the
                # workers, every one of them once they are ready.
                files = len(names) + 1
                self.assertEqual(sum(submitted) + len(read_here), files)
                if ready:
                    self.assertEqual(sum(submitted), 0 if files <= inline else files)
        reference = rows[0][0]
        self.assertEqual(len(cached[reference]), len(names) + 1)  # the bad file too
        for name, _, _, _ in rows[1:]:
            with self.subTest(name):
                self.assertEqual(replies[name], replies[reference])
                self.assertEqual(cached[name], cached[reference])

    def test_a_worker_that_dies_loses_no_track(self):
        home = TempHome(self)
        for i in range(6):
            make_audio(home.path("Music", "%d.flac" % i), title="T%d" % i)
        with mock.patch.multiple(backend_library, INLINE_READS=1000):
            reference = Library(home.config())
            reference.scan_once()
        shutil.rmtree(home.data_dir)
        real_submit = backend_library.TagPool.submit
        calls = []

        def dying(pool, files):
            result = real_submit(pool, files)
            calls.append(files)
            # The second batch's worker ends as one killed would: no result.
            return pool.pool.apply_async(os._exit, (1,)) if len(calls) == 2 else result

        library = Library(home.config())
        scan = _scan_in_workers(library, dying, batch=2, wait=120)
        self.assertFalse(scan.is_alive(), "the scan waits for the lost batch")
        self.assertGreaterEqual(len(calls), 2, "no batch was lost")
        self.assertEqual(library.reply(), reference.reply())

    def test_a_stopped_scan_ends_its_workers(self):
        # The workers finish the few batches they hold and end; none is
        # left behind, and the scan does not wait on one for ever.
        home = TempHome(self)
        for i in range(40):
            make_audio(home.path("Music", "%02d.flac" % i), title="T%d" % i)
        library = Library(home.config())
        real_submit = backend_library.TagPool.submit
        calls = []

        def stopping(pool, files):
            calls.append(files)
            if len(calls) == 3:
                library.stop.set()
            return real_submit(pool, files)

        scan = _scan_in_workers(library, stopping, batch=1, wait=60)
        self.assertFalse(scan.is_alive(), "the stopped scan waits for its workers")
        self.assertGreaterEqual(len(calls), 3)
        deadline = time.monotonic() + 30
        while multiprocessing.active_children() and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertEqual(multiprocessing.active_children(), [])

    def test_workers_started_while_ending_are_stopped(self):
        # The backend ignores SIGTERM once it is ending; a pool started then
        # must still be ended by a stopped scan.
        previous = signal.signal(signal.SIGTERM, signal.SIG_IGN)
        self.addCleanup(signal.signal, signal.SIGTERM, previous)
        pool = backend_library.TagPool()
        pool.start()
        pool.size(1)
        pool.thread.join(60)
        pool.submit([]).get(60)
        closing = threading.Thread(target=pool.close, args=(True,), daemon=True)
        closing.start()
        closing.join(60)
        self.assertFalse(closing.is_alive(), "a worker outlives terminate()")


if __name__ == "__main__":
    unittest.main()
