#include "library/CatalogWorker.h"

#include <algorithm>
#include <chrono>

namespace ql {

CatalogWorker::CatalogWorker(QObject* context, Deliver deliver, Saved saved)
    : m_delivery(context), m_deliver(std::move(deliver)), m_saved(std::move(saved)) {}

CatalogWorker::~CatalogWorker() {
    {
        std::lock_guard lock(m_lock);
        m_stop = true;
        m_jobs.clear();
    }
    m_wake.notify_all();
    if (m_intakeThread.joinable())
        m_intakeThread.join();
    if (m_writerThread.joinable())
        m_writerThread.join();
}

void CatalogWorker::startThreads() {
    if (m_threaded)
        return;
    m_threaded = true;
    m_intakeThread = std::thread([this] { intakeLoop(); });
    m_writerThread = std::thread([this] { writerLoop(); });
}

void CatalogWorker::post(Job::Kind kind, std::function<void(CatalogIntake&)> run) {
    if (!m_threaded) {
        run(m_intake);
        return;
    }
    {
        std::lock_guard lock(m_lock);
        if (m_stop)
            return;
        m_jobs.push_back(Job{kind, std::move(run)});
    }
    m_wake.notify_all();
}

void CatalogWorker::deliver(std::optional<CatalogUpdate> update) {
    if (!update)
        return;
    if (!m_threaded) {
        m_deliver(std::move(*update));
        return;
    }
    auto shared = std::make_shared<CatalogUpdate>(std::move(*update));
    m_delivery.post([deliver = m_deliver, shared](QObject&) { deliver(std::move(*shared)); });
}

void CatalogWorker::line(QByteArray bytes) {
    post(Job::Reply, [this, bytes = std::move(bytes)](CatalogIntake& intake) mutable {
        // The array goes back to the reader's framer, which fills it with
        // the next reply without growing a new one page by page. It goes as
        // soon as it is decoded: a reply arriving while this one is compared
        // and folded is read into it rather than into a second 21 MB array.
        std::optional<CatalogUpdate> update = intake.take(bytes, [this, &bytes] {
            std::lock_guard lock(m_lock);
            m_recycled = std::move(bytes);
        });
        deliver(std::move(update));
    });
}

std::optional<QByteArray> CatalogWorker::recycled() {
    std::lock_guard lock(m_lock);
    if (m_recycled.isNull())
        return std::nullopt;
    return std::exchange(m_recycled, QByteArray());
}

void CatalogWorker::restore(const QString& path) {
    post(Job::Other, [this, path](CatalogIntake& intake) {
        std::optional<CatalogUpdate> rows = intake.restore(path);
        if (!rows)
            return;
        deliver(std::move(rows));
        deliver(intake.restoreTexts());
    });
}

void CatalogWorker::rebase(std::vector<Track> rows, quint64 generation) {
    post(Job::Other, [this, rows = std::move(rows), generation](CatalogIntake& intake) mutable {
        intake.rebase(std::move(rows), generation);
        deliver(intake.fold());
    });
}

void CatalogWorker::follow(const std::vector<Track>& rows, quint64 generation) {
    if (!m_threaded)
        m_intake.follow(rows, generation);
}

void CatalogWorker::save(const JSONStore& store, quint64 generation) {
    if (!m_threaded) {
        // Only the writer thread may write while threads run; without them
        // the caller writes its own rows (see App::saveCatalog).
        return;
    }
    post(Job::Other, [this, store, generation](CatalogIntake& intake) {
        if (intake.generation() == generation)
            submitWrite(store, intake.shown());
    });
}

void CatalogWorker::submitWrite(JSONStore store, std::shared_ptr<const std::vector<Track>> rows) {
    {
        std::lock_guard lock(m_lock);
        m_write = Write{std::move(store), std::move(rows)};
    }
    m_wake.notify_all();
}

void CatalogWorker::intakeLoop() {
    std::unique_lock lock(m_lock);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || !m_jobs.empty(); });
        if (m_stop)
            return;
        Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        m_running = true;
        lock.unlock();
        if (job.kind == Job::Reply && replyStarts)
            replyStarts();
        lock.lock();
        // A newer reply waiting behind this one replaces whatever it holds.
        const bool superseded =
            job.kind == Job::Reply &&
            std::ranges::any_of(m_jobs, [](const Job& later) { return later.kind == Job::Reply; });
        if (!superseded && !m_stop) {
            lock.unlock();
            job.run(m_intake);
            job.run = nullptr; // what it held is freed here, not on the main thread
            lock.lock();
        }
        m_running = false;
        m_idle.notify_all();
    }
}

void CatalogWorker::writerLoop() {
    std::unique_lock lock(m_lock);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || m_write; });
        if (!m_write)
            return; // stopped with nothing left to write
        Write write = std::move(*m_write);
        m_write.reset();
        m_writing = true;
        lock.unlock();
        const CatalogSave result = writeCatalogFile(write.store, *write.rows);
        write.rows.reset();
        if (result != CatalogSave::Written) {
            m_delivery.post([saved = m_saved, result](QObject&) { saved(result); });
        }
        lock.lock();
        m_writing = false;
        m_idle.notify_all();
    }
}

bool CatalogWorker::finish(int ms) {
    if (!m_threaded)
        return true;
    std::unique_lock lock(m_lock);
    // Replies not yet read are of no use now; saves already asked for are.
    std::erase_if(m_jobs, [](const Job& job) { return job.kind == Job::Reply; });
    m_wake.notify_all();
    return m_idle.wait_for(lock, std::chrono::milliseconds(ms), [this] {
        return m_jobs.empty() && !m_running && !m_write && !m_writing;
    });
}

} // namespace ql
