// The one way a background reader touches a user's file.
//
// A file on a network mount may take seconds to open, or never answer (a
// hung hard mount), and whichever thread opens it waits as long. So no
// thread that other work waits on (Qt's shared pool, which also paints the
// window; the queue decodes and renders run on; a serial queue of the
// catalog's) ever opens, stats or reads a user's file. Every reader (the
// info line's probe, the cover, the waveform, the quality label, loudness,
// sonic features, genre, added date, the decode ahead, a render's source,
// the analysers) hands its work to read() or readNow(), which run it here:
//
// - Each path has a reader thread of its own, started when work for it
//   comes and ended when none is left. Work for a path whose thread runs is
//   joined to it, run after the work before it: the disk is asked once at a
//   time per file, and a file its disk holds holds only its own thread.
// - Each piece of work first touches the file (its stamp and FFmpeg's
//   verdict on it, FfmpegGate::kept), with kLimitMs to answer. Only once
//   that answered in time does the work run, told the verdict.
// - A touch past its deadline marks the path slow (the player's own open of
//   it may mark it too, tooSlow()). A slow path is refused at once to every
//   reader, and the work queued for it is dropped, until the held touch
//   answers: then the disk has answered, and the next reader may try again.
//   A touch the disk never answers keeps the path slow for the run.
// - At most kMostHeld threads are held past their deadline: beyond that,
//   work for a path with no thread yet is refused, so a host of hung files
//   cannot use up the process's threads. A quit waits for none of them
//   (stillRunning(), which main() reads to end the process at once).
//
// A refused piece of work never runs; read() and readNow() say so, so that
// its asker shows nothing rather than waiting.
//
// Thread-safe.
#pragma once

#include <QString>

#include <functional>

namespace ql::platform {

class UserFiles {
public:
    // As long as the player's own open of a file may take.
    static constexpr int kLimitMs = 10000;
    static constexpr int kMostHeld = 64;

    struct Touch {
        // FFmpeg must not read the file (FfmpegGate::kept).
        bool keptFromFfmpeg = false;
    };
    using Job = std::function<void(const Touch&)>;

    // Runs `job` on `path`'s reader thread once the file answered its touch.
    // False when refused at once: the path is slow, or too many threads are
    // held. `path` is a file path or FFmpeg's "file:" name of one; a relative
    // one is read against the current folder.
    static bool read(const QString& path, Job job);
    // As read(), waiting until `job` has run: false when it was refused, or
    // when its touch went past the deadline (it then never runs). For work
    // on a queue of its own that must take its files one at a time; the
    // queue is held at most kLimitMs by a file that does not answer, and no
    // longer once the file is known to be slow.
    static bool readNow(const QString& path, const Job& job);

    // Whether background readers leave `path` alone for now.
    static bool slow(const QString& path);
    // `path`'s open by the player went past its deadline: readers leave it
    // alone until answered(path).
    static void tooSlow(const QString& path);
    // `path` answered an open: its slow mark, if any, goes.
    static void answered(const QString& path);
    // Threads held past their deadline now.
    static int held();
    // Reader threads running now, in this process.
    static int stillRunning();
    // The name work for `path` is joined under: absolute and clean.
    static QString key(const QString& path);
};

} // namespace ql::platform
