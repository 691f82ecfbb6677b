#include "playback/FileOpen.h"

#include <QThreadPool>

#include <chrono>

namespace ql {

FileOpen::FileOpen(const QString& path) : m_path(path), m_deadline(kLimitMs) {}

std::shared_ptr<FileOpen> FileOpen::start(QThreadPool& pool, const QString& path,
                                          std::function<void()> answered) {
    std::shared_ptr<FileOpen> open(new FileOpen(path));
    pool.start([open, answered = std::move(answered)] {
        platform::AudioFile::Opened opened =
            platform::AudioFile::open(open->m_path, open->m_deadline);
        {
            const std::lock_guard lock(open->m_mutex);
            open->m_answer.tooSlow = open->m_deadline.hasExpired();
            if (!open->m_answer.tooSlow) {
                open->m_answer.file = std::move(opened.file);
                open->m_answer.keptFromFfmpeg = opened.keptFromFfmpeg;
            }
            open->m_answer.error = open->m_answer.tooSlow
                                       ? QStringLiteral("the file took too long to open")
                                       : opened.error;
            open->m_answered = true;
            open->m_answeredAt.start();
        }
        open->m_done.notify_all();
        // Closed here, off the main thread, when it came too late.
        opened.file.reset();
        answered();
    });
    return open;
}

bool FileOpen::answered() const {
    const std::lock_guard lock(m_mutex);
    return m_answered;
}

bool FileOpen::wait(int ms) const {
    std::unique_lock lock(m_mutex);
    return m_done.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_answered; });
}

bool FileOpen::overdue() const {
    const std::lock_guard lock(m_mutex);
    return !m_answered && m_deadline.hasExpired();
}

qint64 FileOpen::answerAge() const {
    const std::lock_guard lock(m_mutex);
    return m_answered ? m_answeredAt.elapsed() : -1;
}

double FileOpen::rate() const {
    const std::lock_guard lock(m_mutex);
    return m_answer.file ? m_answer.file->sampleRate() : 0;
}

FileOpen::Answer FileOpen::take() {
    const std::lock_guard lock(m_mutex);
    if (!m_answered) {
        Answer refused;
        refused.tooSlow = true;
        refused.error = QStringLiteral("the file took too long to open");
        return refused;
    }
    return std::move(m_answer);
}

} // namespace ql
