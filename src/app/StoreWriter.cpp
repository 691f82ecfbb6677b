#include "app/StoreWriter.h"

#include <algorithm>
#include <chrono>

namespace ql {

StoreWriter::~StoreWriter() {
    {
        std::lock_guard lock(m_lock);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void StoreWriter::submit(const QString& path, std::function<void()> write) {
    {
        std::lock_guard lock(m_lock);
        const auto waiting = std::ranges::find(m_waiting, path, &Write::path);
        if (waiting != m_waiting.end())
            std::swap(waiting->run, write); // the older value is freed below, unlocked
        else
            m_waiting.push_back(Write{path, std::move(write)});
        if (!m_thread.joinable())
            m_thread = std::thread([this] { loop(); });
    }
    m_wake.notify_all();
}

void StoreWriter::loop() {
    std::unique_lock lock(m_lock);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || !m_waiting.empty(); });
        if (m_waiting.empty())
            return; // stopped with nothing left to write
        Write write = std::move(m_waiting.front());
        m_waiting.pop_front();
        m_writing = true;
        m_writingPath = write.path;
        lock.unlock();
        if (writeStarts)
            writeStarts(write.path);
        write.run();
        write.run = nullptr;
        lock.lock();
        m_writing = false;
        m_idle.notify_all();
    }
}

bool StoreWriter::busy(const QString& path) const {
    std::lock_guard lock(m_lock);
    return (m_writing && m_writingPath == path) ||
           std::ranges::find(m_waiting, path, &Write::path) != m_waiting.end();
}

bool StoreWriter::finish(int ms) {
    std::unique_lock lock(m_lock);
    return m_idle.wait_for(lock, std::chrono::milliseconds(ms),
                           [this] { return m_waiting.empty() && !m_writing; });
}

} // namespace ql
