#include "platform/audio/PrefetchReader.h"

#include "platform/audio/AudioFile.h"

#include <algorithm>

#include <pthread.h>

namespace ql::platform {

namespace {
constexpr int kBlocksPerWorker = 2;
}

PrefetchReader::PrefetchReader(std::unique_ptr<AudioFile> file, std::size_t blockFrames)
    : m_blockFrames(blockFrames), m_channels(file->channels()) {
    // A second reader of the file opened already, made where it was opened
    // (AudioFile::prepareSecondReader); without one the first worker reads
    // alone.
    std::unique_ptr<AudioFile> second = file->takeSecondReader();
    m_workers.push_back(std::make_unique<Worker>());
    m_workers.back()->file = std::move(file);
    if (second) {
        m_workers.push_back(std::make_unique<Worker>());
        m_workers.back()->file = std::move(second);
    }
    m_slots.resize(m_workers.size() * kBlocksPerWorker + 1);
    // Not zeroed: a slot is read only once a worker has filled it, and
    // zeroing them costs the track start (made on the main thread) time.
    for (auto& s : m_slots)
        s.data = std::make_unique_for_overwrite<double[]>(blockFrames * std::size_t(m_channels));
    for (auto& w : m_workers)
        w->thread = std::thread([this, worker = w.get()] { run(*worker); });
}

PrefetchReader::~PrefetchReader() {
    quit();
    for (auto& w : m_workers)
        w->thread.join();
}

void PrefetchReader::quit() {
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_room.notify_all();
    m_ready.notify_all();
}

bool PrefetchReader::reading() const {
    std::lock_guard lock(m_mutex);
    return std::any_of(m_slots.begin(), m_slots.end(), [](const Slot& s) { return s.busy; });
}

void PrefetchReader::restart(std::int64_t frame) {
    {
        std::lock_guard lock(m_mutex);
        ++m_epoch;
        m_base = frame;
        m_nextClaim = 0;
        m_consumed = 0;
        m_held = false;
        m_end = kNoEnd;
        m_error.clear();
        for (auto& s : m_slots)
            s.ready = false;
    }
    m_room.notify_all();
    m_ready.notify_all();
}

std::int64_t PrefetchReader::next(const double** data) {
    std::unique_lock lock(m_mutex);
    if (m_held) {
        m_held = false;
        ++m_consumed;
        // One slot came free: one worker to read into it.
        m_room.notify_one();
    }
    Slot& s = m_slots[std::size_t(m_consumed) % m_slots.size()];
    // Never waits for long: some worker is reading this block.
    m_ready.wait(
        lock, [&] { return m_quit || m_consumed > m_end || (s.ready && s.index == m_consumed); });
    if (m_quit)
        return 0;
    // Past a failed block it fails again: a new segment that starts where
    // the read failed must not take the failure for the end of the file.
    if (m_consumed > m_end)
        return m_error.isEmpty() ? 0 : -1;
    if (s.frames < 0) {
        m_error = s.error;
        m_end = m_consumed - 1; // nothing comes after a failed block
        return -1;
    }
    m_held = true;
    *data = s.data.get();
    return s.frames;
}

QString PrefetchReader::error() const {
    std::lock_guard lock(m_mutex);
    return m_error;
}

void PrefetchReader::run(Worker& w) {
    pthread_setname_np(pthread_self(), "ql-reader");
    std::unique_lock lock(m_mutex);
    for (;;) {
        // A block is taken when it is within reach of the consumer, its slot
        // is not still being filled by a read from before a restart, and the
        // end is not known to come earlier.
        Slot* slot = nullptr;
        m_room.wait(lock, [&] {
            if (m_quit)
                return true;
            if (m_nextClaim > m_end || m_nextClaim >= m_consumed + std::int64_t(m_slots.size()))
                return false;
            slot = &m_slots[std::size_t(m_nextClaim) % m_slots.size()];
            return !slot->busy;
        });
        if (m_quit)
            return;
        const std::int64_t index = m_nextClaim++;
        const std::uint64_t epoch = m_epoch;
        const std::int64_t from = m_base + index * std::int64_t(m_blockFrames);
        slot->busy = true;
        slot->ready = false;
        lock.unlock();

        std::int64_t n = 0;
        QString why;
        const bool placed = w.position == from || w.file->seek(from);
        if (placed)
            n = w.file->read(slot->data.get(), std::int64_t(m_blockFrames));
        if (!placed || n < 0) {
            n = -1;
            why = w.file->error();
            w.position = -1; // unknown: seek before the next read
        } else {
            w.position = from + n;
        }

        lock.lock();
        slot->busy = false;
        if (epoch == m_epoch) {
            slot->ready = true;
            slot->index = index;
            slot->frames = n;
            slot->error = why;
            if (n < std::int64_t(m_blockFrames))
                m_end = std::min(m_end, index);
        } else {
            // A read from before a restart: the slot it held may be the one
            // a worker waits for.
            m_room.notify_all();
        }
        m_ready.notify_all();
    }
}

} // namespace ql::platform
