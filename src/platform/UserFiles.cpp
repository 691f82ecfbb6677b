#include "platform/UserFiles.h"

#include "platform/audio/FfmpegGate.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QHash>
#include <QSet>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include <pthread.h>

namespace ql::platform {

namespace {

// How often a waiting readNow() looks whether its path went slow.
constexpr int kWaitPollMs = 50;

enum class Stage { Waiting, Running, Ran, Dropped };

struct Ask {
    UserFiles::Job job;
    Stage stage = Stage::Waiting;
};

struct Reader {
    std::deque<std::shared_ptr<Ask>> queue;
    bool touching = false;
    QDeadlineTimer deadline;
    bool overdue() const { return touching && deadline.hasExpired(); }
};

// Everything below is guarded by `mutex`; `changed` is told whenever an
// ask's stage changes.
std::mutex mutex;
std::condition_variable changed;
QHash<QString, Reader>& readers() {
    static auto* const map = new QHash<QString, Reader>; // outlives a thread left at exit
    return *map;
}
QSet<QString>& slowPaths() {
    static auto* const set = new QSet<QString>;
    return *set;
}
std::atomic<int> running{0};
// The file this thread reads, on a reader thread.
thread_local QString serving;

int heldLocked() {
    int n = 0;
    for (const Reader& reader : std::as_const(readers()))
        n += reader.overdue() ? 1 : 0;
    return n;
}

bool slowLocked(const QString& key) {
    if (slowPaths().contains(key))
        return true;
    const auto reader = readers().constFind(key);
    return reader != readers().cend() && reader->overdue();
}

void dropQueueLocked(Reader& reader) {
    for (const std::shared_ptr<Ask>& ask : reader.queue)
        ask->stage = Stage::Dropped;
    reader.queue.clear();
}

void serve(const QString& key) {
    serving = key;
    std::unique_lock lock(mutex);
    for (;;) {
        Reader& reader = readers()[key];
        if (reader.queue.empty()) {
            readers().remove(key);
            return;
        }
        const std::shared_ptr<Ask> ask = reader.queue.front();
        reader.queue.pop_front();
        if (ask->stage == Stage::Dropped) // its asker gave up waiting
            continue;
        reader.touching = true;
        reader.deadline = QDeadlineTimer(UserFiles::kLimitMs);
        lock.unlock();
        UserFiles::Touch touch;
        touch.keptFromFfmpeg = FfmpegGate::kept(key);
        lock.lock();
        Reader& after = readers()[key];
        after.touching = false;
        if (after.deadline.hasExpired()) {
            // The disk has answered at last: the path may be tried again, but
            // what was asked of it meanwhile is long out of date.
            slowPaths().remove(key);
            ask->stage = Stage::Dropped;
            dropQueueLocked(after);
            changed.notify_all();
            continue;
        }
        if (ask->stage == Stage::Dropped)
            continue;
        ask->stage = Stage::Running;
        lock.unlock();
        ask->job(touch);
        // Its captures go here, on this thread, not with the last copy.
        ask->job = nullptr;
        lock.lock();
        ask->stage = Stage::Ran;
        changed.notify_all();
    }
}

// Queues `ask` for `key`, starting its thread when none runs.
bool queue(const QString& key, const std::shared_ptr<Ask>& ask) {
    const std::lock_guard lock(mutex);
    if (slowLocked(key))
        return false;
    if (const auto reader = readers().find(key); reader != readers().end()) {
        reader->queue.push_back(ask);
        return true;
    }
    if (heldLocked() >= UserFiles::kMostHeld)
        return false;
    readers()[key].queue.push_back(ask);
    running.fetch_add(1);
    try {
        // Detached: a thread its disk holds is waited for by no one.
        std::thread([key] {
            pthread_setname_np(pthread_self(), "ql-read");
            serve(key);
            running.fetch_sub(1);
        }).detach();
    } catch (const std::system_error&) {
        running.fetch_sub(1);
        readers().remove(key);
        return false;
    }
    return true;
}

} // namespace

bool UserFiles::read(const QString& path, Job job) {
    auto ask = std::make_shared<Ask>();
    ask->job = std::move(job);
    return queue(key(path), ask);
}

bool UserFiles::readNow(const QString& path, const Job& job) {
    const QString name = key(path);
    // Asked by work on this file's own reader: its touch has answered, and
    // queued behind itself the work would wait for ever.
    if (serving == name) {
        job(Touch{FfmpegGate::kept(name)});
        return true;
    }
    auto ask = std::make_shared<Ask>();
    // Run before this returns, so what it refers to is still here.
    ask->job = [&job](const Touch& touch) { job(touch); };
    if (!queue(name, ask))
        return false;
    std::unique_lock lock(mutex);
    for (;;) {
        if (ask->stage == Stage::Ran)
            return true;
        if (ask->stage == Stage::Dropped)
            return false;
        // Not begun, and the path went slow: it never will be.
        if (ask->stage == Stage::Waiting && slowLocked(name)) {
            ask->stage = Stage::Dropped;
            return false;
        }
        changed.wait_for(lock, std::chrono::milliseconds(kWaitPollMs));
    }
}

bool UserFiles::slow(const QString& path) {
    const QString name = key(path);
    const std::lock_guard lock(mutex);
    return slowLocked(name);
}

void UserFiles::tooSlow(const QString& path) {
    const QString name = key(path);
    const std::lock_guard lock(mutex);
    slowPaths().insert(name);
    if (const auto reader = readers().find(name); reader != readers().end())
        dropQueueLocked(*reader);
    changed.notify_all();
}

void UserFiles::answered(const QString& path) {
    const QString name = key(path);
    const std::lock_guard lock(mutex);
    slowPaths().remove(name);
}

int UserFiles::held() {
    const std::lock_guard lock(mutex);
    return heldLocked();
}

int UserFiles::stillRunning() {
    return running.load();
}

QString UserFiles::key(const QString& path) {
    QString file = path;
    if (file.startsWith(QLatin1String("file:")))
        file.remove(0, 5);
    // No disk is asked: a path is made absolute against the current folder
    // by its name alone.
    return QDir::cleanPath(QDir::isAbsolutePath(file) ? file : QDir::current().filePath(file));
}

} // namespace ql::platform
