// Reads a file ahead in fixed blocks on threads of its own, so that decoding
// the file (FLAC, MP3, …) runs beside the work of the player's decoder thread
// (channel mapping, rate conversion) instead of before it.
//
// FLAC, the one format whose decoding is heavy and whose seeks are exact, is
// read by two workers, each with its own reader of the file (the second one
// made where the file was opened, from that one open: nothing is opened
// here), taking alternate blocks; every other format, and a FLAC that can only seek by
// decoding (no stored length), by one worker reading straight on.
// Blocks reach the consumer in order either way, with the very samples a
// single sequential read would give.
//
// A bounded ring of blocks guarded by a mutex between the workers and their
// one consumer (the player's decoder thread; never the feeder). restart()
// drops what was read ahead and continues from another frame.
//
// Allocation happens in the constructor only.
#pragma once

#include <QString>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace ql::platform {

class AudioFile;

class PrefetchReader {
public:
    PrefetchReader(std::unique_ptr<AudioFile> file, std::size_t blockFrames);
    ~PrefetchReader();
    PrefetchReader(const PrefetchReader&) = delete;
    PrefetchReader& operator=(const PrefetchReader&) = delete;

    std::size_t blockFrames() const { return m_blockFrames; }
    int workers() const { return int(m_workers.size()); }

    // Continues from `frame`; blocks read before are dropped.
    void restart(std::int64_t frame);
    // Ends the reader without waiting: next() returns 0 from now on and the
    // workers stop after the read they are in (which may hang on a stuck
    // mount; the destructor waits for it).
    void quit();
    // A worker is inside a read (after quit(): the destructor would wait
    // for that read).
    bool reading() const;
    // The next block, waiting while it is being read: its frames (fewer
    // than a block only at the end, 0 after it), or -1 for a read error and
    // every call after it until a restart (see error()). `data` points at its samples, which stay
    // valid until the next call of next() or restart(); no worker touches them meanwhile.
    std::int64_t next(const double** data);
    QString error() const;

private:
    static constexpr std::int64_t kNoEnd = INT64_MAX;
    struct Slot {
        std::unique_ptr<double[]> data;
        bool busy = false;  // a worker is reading into it
        bool ready = false; // holds block `index` of the current epoch
        std::int64_t index = 0;
        std::int64_t frames = 0; // -1: the read failed
        QString error;
    };
    struct Worker {
        std::unique_ptr<AudioFile> file;
        std::int64_t position = 0; // where its file reads next
        std::thread thread;
    };
    void run(Worker& w);

    const std::size_t m_blockFrames;
    const int m_channels;

    mutable std::mutex m_mutex;
    // Two, so that each side wakes only for what it waits on: a worker for
    // a slot to read into, the consumer for the block it wants.
    std::condition_variable m_room;
    std::condition_variable m_ready;
    std::vector<Slot> m_slots;
    std::vector<std::unique_ptr<Worker>> m_workers;
    std::uint64_t m_epoch = 0;    // bumped by restart(); a read of an older one is dropped
    std::int64_t m_base = 0;      // the frame block 0 of this epoch starts at
    std::int64_t m_nextClaim = 0; // the next block a worker takes
    std::int64_t m_consumed = 0;  // the block the consumer takes next (or holds)
    bool m_held = false;
    std::int64_t m_end = kNoEnd; // the last block of the epoch, once known
    QString m_error;
    bool m_quit = false;
};

} // namespace ql::platform
