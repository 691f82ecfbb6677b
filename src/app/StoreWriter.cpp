#include "app/StoreWriter.h"

#include <algorithm>
#include <chrono>

namespace ql {

StoreWriter::~StoreWriter() {
    {
        std::lock_guard lock(m_lock);
        m_stop = true;
    }
    wake();
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
    wake();
}

void StoreWriter::wake() {
    // A futex wake, which never waits: a condition variable's notify can wait
    // for a woken thread the machine has left without a core, and the main
    // thread submits.
    m_wakes.fetch_add(1, std::memory_order_release);
    m_wakes.notify_one();
}

void StoreWriter::loop() {
    for (;;) {
        const unsigned seen = m_wakes.load(std::memory_order_acquire);
        std::unique_lock lock(m_lock);
        if (m_waiting.empty()) {
            if (m_stop)
                return; // stopped with nothing left to write
            lock.unlock();
            // A save made since `seen` was read has changed the count.
            m_wakes.wait(seen, std::memory_order_acquire);
            continue;
        }
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
