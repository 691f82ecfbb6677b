#include "playback/FileOpen.h"

#include <atomic>
#include <chrono>
#include <system_error>
#include <thread>

#include <pthread.h>

namespace ql {

namespace {
std::atomic<int> running{0};

QString tooSlowText() {
    return QStringLiteral("the file took too long to open");
}
} // namespace

void FileOpen::Inbox::close() {
    const std::lock_guard lock(m_mutex);
    m_tell = nullptr;
}

void FileOpen::Inbox::post(const QString& path) {
    const std::lock_guard lock(m_mutex);
    if (m_tell)
        m_tell(path);
}

FileOpen::FileOpen(const QString& path) : m_path(path) {
    m_asked.start();
}

std::shared_ptr<FileOpen> FileOpen::start(const QString& path, std::shared_ptr<Inbox> inbox) {
    std::shared_ptr<FileOpen> open(new FileOpen(path));
    running.fetch_add(1);
    try {
        // Detached: a finished open's thread ends by itself, and one its disk
        // holds is not waited for by anyone (see the header).
        std::thread([open, inbox]() mutable {
            pthread_setname_np(pthread_self(), "ql-open");
            open->run(inbox);
            // Released here, before the count drops: after that the thread
            // touches nothing more.
            open.reset();
            inbox.reset();
            running.fetch_sub(1);
        }).detach();
    } catch (const std::system_error&) {
        running.fetch_sub(1);
        const std::lock_guard lock(open->m_mutex);
        open->m_answer.error = QStringLiteral("no thread could be started to open it");
        open->m_answered = true;
        open->m_answeredAt.start();
    }
    return open;
}

std::shared_ptr<FileOpen> FileOpen::turnAway(const QString& path) {
    std::shared_ptr<FileOpen> open(new FileOpen(path));
    open->m_turnedAway = true;
    open->m_answer.tooSlow = true;
    open->m_answer.error = tooSlowText();
    open->m_answered = true;
    open->m_answeredAt.start();
    return open;
}

int FileOpen::stillRunning() {
    return running.load();
}

void FileOpen::run(const std::shared_ptr<Inbox>& inbox) {
    QDeadlineTimer deadline;
    {
        const std::lock_guard lock(m_mutex);
        m_deadline = QDeadlineTimer(kLimitMs);
        m_started = true;
        deadline = m_deadline;
    }
    platform::AudioFile::Opened opened = platform::AudioFile::open(m_path, deadline);
    // A FLAC's second reader is made here too, so that the player made of
    // the file on the main thread reads nothing there (PrefetchReader).
    if (opened.file && !deadline.hasExpired())
        opened.file->prepareSecondReader();
    {
        const std::lock_guard lock(m_mutex);
        m_answer.tooSlow = deadline.hasExpired();
        if (!m_answer.tooSlow) {
            m_answer.file = std::move(opened.file);
            m_answer.keptFromFfmpeg = opened.keptFromFfmpeg;
        }
        m_answer.error = m_answer.tooSlow ? tooSlowText() : opened.error;
        m_answered = true;
        m_answeredAt.start();
    }
    m_done.notify_all();
    // Closed here, off the main thread, when it came too late.
    opened.file.reset();
    inbox->post(m_path);
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
    return !m_answered && m_started && m_deadline.hasExpired();
}

qint64 FileOpen::msLeft() const {
    const std::lock_guard lock(m_mutex);
    return m_started ? m_deadline.remainingTime() : kLimitMs;
}

qint64 FileOpen::answerAge() const {
    const std::lock_guard lock(m_mutex);
    return m_answered ? m_answeredAt.elapsed() : -1;
}

double FileOpen::rate() const {
    const std::lock_guard lock(m_mutex);
    return m_answer.file ? m_answer.file->sampleRate() : 0;
}

bool FileOpen::tooSlow() const {
    const std::lock_guard lock(m_mutex);
    return m_answered && m_answer.tooSlow;
}

FileOpen::Answer FileOpen::take() {
    const std::lock_guard lock(m_mutex);
    if (!m_answered) {
        Answer refused;
        refused.tooSlow = true;
        refused.error = tooSlowText();
        return refused;
    }
    Answer answer = std::move(m_answer);
    // A second taker learns why, without the file.
    m_answer.error = answer.error;
    m_answer.tooSlow = answer.tooSlow;
    m_answer.keptFromFfmpeg = answer.keptFromFfmpeg;
    return answer;
}

} // namespace ql
