// Reads a file ahead on a thread of its own, in fixed blocks, so that the
// decoding of the file (FLAC, MP3, …) runs beside the work of the player's
// decoder thread (channel mapping, rate conversion) instead of before it.
//
// A bounded queue of `depth` blocks, guarded by a mutex between this reader
// and its one consumer (the player's decoder thread; never the feeder).
// restart() drops what was read ahead and continues from another frame.
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
    PrefetchReader(std::unique_ptr<AudioFile> file, std::size_t blockFrames, int depth = 3);
    ~PrefetchReader();
    PrefetchReader(const PrefetchReader&) = delete;
    PrefetchReader& operator=(const PrefetchReader&) = delete;

    std::size_t blockFrames() const { return m_blockFrames; }

    // Continues from `frame`; blocks read before are dropped.
    void restart(std::int64_t frame);
    // Copies the next block into `out` (blockFrames × channels doubles),
    // waiting while it is being read. Returns its frames (fewer than a block
    // only at the end, 0 after it), or -1 after a read error (see error()).
    std::int64_t next(double* out);
    QString error() const;

private:
    struct Block {
        std::vector<double> data;
        std::int64_t frames = 0;
    };
    void run();

    std::unique_ptr<AudioFile> m_file; // used by the reader thread only
    const std::size_t m_blockFrames;
    const int m_channels;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Block> m_blocks; // a ring of `depth` slots
    std::size_t m_head = 0, m_count = 0;
    std::uint64_t m_epoch = 0; // bumped by restart(); a read of an older one is dropped
    std::int64_t m_seekTo = 0;
    bool m_seekPending = false;
    bool m_atEnd = false; // the reader reached the end (or an error) of this epoch
    bool m_quit = false;
    QString m_error;
    std::thread m_thread;
};

} // namespace ql::platform
