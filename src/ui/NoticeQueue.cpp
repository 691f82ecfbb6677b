#include "ui/NoticeQueue.h"

#include <algorithm>
#include <utility>

namespace ql {

std::optional<NoticeQueue::Entry> NoticeQueue::tell(Entry entry, qint64 now) {
    switch (entry.kind) {
    case Kind::Message:
    case Kind::Update:
        if (!m_waiting.empty() || (turnRunning(now) && (m_turn->entry.kind == Kind::Notice ||
                                                        entry.kind == Kind::Update))) {
            m_message = std::move(entry);
            return std::nullopt;
        }
        m_turn.reset(); // a failure on the line gives way to the next action's word
        m_message.reset();
        return entry;
    case Kind::Failure:
        m_message.reset(); // older than the failure: no longer worth showing
        if (!turnRunning(now) && m_waiting.empty())
            return begin(std::move(entry), now);
        if (!isTold(entry.text, now))
            m_waiting.push_back(std::move(entry));
        return std::nullopt;
    case Kind::Notice:
        if (!isTold(entry.text, now))
            m_waiting.push_back(std::move(entry));
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<NoticeQueue::Entry> NoticeQueue::next(qint64 now) {
    if (turnRunning(now))
        return std::nullopt;
    if (!m_waiting.empty()) {
        Entry entry = std::move(m_waiting.front());
        m_waiting.pop_front();
        return begin(std::move(entry), now);
    }
    m_turn.reset();
    if (m_message)
        return std::exchange(m_message, std::nullopt);
    return std::nullopt;
}

std::optional<NoticeQueue::Entry> NoticeQueue::withdraw(const QString& text, qint64 now) {
    std::erase_if(m_waiting, [&text](const Entry& e) { return e.text == text; });
    if (!turnRunning(now) || m_turn->entry.text != text)
        return std::nullopt;
    m_turn.reset();
    return next(now);
}

bool NoticeQueue::isTold(const QString& text, qint64 now) const {
    return (turnRunning(now) && m_turn->entry.text == text) ||
           std::ranges::any_of(m_waiting, [&text](const Entry& e) { return e.text == text; });
}

NoticeQueue::Entry NoticeQueue::begin(Entry entry, qint64 now) {
    m_turn = Turn{entry, now + kHoldMs};
    if (!entry.file.isEmpty() && !entry.saved)
        m_seenFailing.insert(entry.file);
    return entry;
}

void NoticeQueue::fileFailed(const QString& file, const QString& cause, QString text) {
    const QString told = file + u'\n' + cause;
    if (m_toldCauses.contains(told))
        return;
    m_toldCauses.insert(told);
    m_waiting.push_back(Entry{std::move(text), true, Kind::Notice, file, false});
}

std::optional<NoticeQueue::Entry> NoticeQueue::fileSaved(const QString& file, QString text,
                                                         qint64 now) {
    // Its failure is over: told again should it come back; one still
    // waiting is not worth its turn any more.
    const QString prefix = file + u'\n';
    m_toldCauses.removeIf([&prefix](const QString& told) { return told.startsWith(prefix); });
    std::erase_if(m_waiting, [&file](const Entry& e) { return e.file == file && !e.saved; });
    if (!m_seenFailing.remove(file))
        return std::nullopt;
    Entry saved{std::move(text), true, Kind::Notice, file, true};
    // The failure on the line gives way at once.
    if (turnRunning(now) && m_turn->entry.file == file && !m_turn->entry.saved)
        return begin(std::move(saved), now);
    m_waiting.push_back(std::move(saved));
    return std::nullopt;
}

bool NoticeQueue::idle(qint64 now) const {
    return !turnRunning(now) && m_waiting.empty() && !m_message;
}

} // namespace ql
