#include "platform/audio/PrefetchReader.h"

#include "platform/audio/AudioFile.h"

#include <algorithm>

#include <pthread.h>

namespace ql::platform {

PrefetchReader::PrefetchReader(std::unique_ptr<AudioFile> file, std::size_t blockFrames, int depth)
    : m_file(std::move(file)), m_blockFrames(blockFrames), m_channels(m_file->channels()),
      m_blocks(std::size_t(std::max(depth, 1))) {
    for (auto& b : m_blocks)
        b.data.assign(blockFrames * std::size_t(m_channels), 0.0);
    m_thread = std::thread([this] { run(); });
}

PrefetchReader::~PrefetchReader() {
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void PrefetchReader::restart(std::int64_t frame) {
    {
        std::lock_guard lock(m_mutex);
        ++m_epoch;
        m_seekTo = frame;
        m_seekPending = true;
        m_count = 0;
        m_atEnd = false;
        m_error.clear();
    }
    m_changed.notify_all();
}

std::int64_t PrefetchReader::next(double* out) {
    std::unique_lock lock(m_mutex);
    // Never waits for long: the reader is working whenever the queue is
    // empty and the end is not reached.
    m_changed.wait(lock, [this] { return m_count > 0 || (m_atEnd && !m_seekPending) || m_quit; });
    if (m_count == 0)
        return m_error.isEmpty() ? 0 : -1;
    Block& b = m_blocks[m_head];
    const std::int64_t n = b.frames;
    if (n > 0)
        std::copy(b.data.begin(), b.data.begin() + std::ptrdiff_t(n * m_channels), out);
    m_head = (m_head + 1) % m_blocks.size();
    --m_count;
    lock.unlock();
    m_changed.notify_all();
    return n;
}

QString PrefetchReader::error() const {
    std::lock_guard lock(m_mutex);
    return m_error;
}

void PrefetchReader::run() {
    pthread_setname_np(pthread_self(), "ql-reader");
    std::unique_lock lock(m_mutex);
    while (!m_quit) {
        if (m_seekPending) {
            m_seekPending = false;
            const std::uint64_t epoch = m_epoch;
            const std::int64_t to = m_seekTo;
            lock.unlock();
            const bool ok = m_file->seek(to);
            const QString why = ok ? QString() : m_file->error();
            lock.lock();
            if (epoch == m_epoch && !ok) {
                m_error = why;
                m_atEnd = true;
                m_changed.notify_all();
            }
            continue;
        }
        if (m_atEnd || m_count == m_blocks.size()) {
            m_changed.wait(lock);
            continue;
        }
        const std::uint64_t epoch = m_epoch;
        Block& b = m_blocks[(m_head + m_count) % m_blocks.size()];
        lock.unlock();
        const std::int64_t n = m_file->read(b.data.data(), std::int64_t(m_blockFrames));
        const QString why = n < 0 ? m_file->error() : QString();
        lock.lock();
        if (epoch != m_epoch)
            continue; // restarted meanwhile: the read belongs to the old position
        if (n < 0) {
            m_error = why;
            m_atEnd = true;
        } else {
            b.frames = n;
            ++m_count;
            m_atEnd = n < std::int64_t(m_blockFrames);
        }
        m_changed.notify_all();
    }
}

} // namespace ql::platform
