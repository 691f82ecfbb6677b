// Guards against: (fixture) log lines lost to the test or left on for the next one.
// Records the program's log lines ("quavelark.…") while it lives: each
// line's category, level, text and the name of the thread that wrote it;
// other messages go on to the handler that was there. The filter rules
// given are set for its lifetime ("" for the default levels), and the
// previous handler and rules come back when it goes. Header only.
#pragma once

#include <QByteArray>
#include <QList>
#include <QLoggingCategory>
#include <QMutex>
#include <QString>

#include <pthread.h>

namespace ql::test {

struct LogLine {
    QByteArray category;
    QtMsgType type = QtDebugMsg;
    QString text;
    QByteArray thread;
};

class LogLines {
public:
    explicit LogLines(const QString& rules) {
        QLoggingCategory::setFilterRules(rules);
        previous() = qInstallMessageHandler(&LogLines::take);
    }
    ~LogLines() {
        qInstallMessageHandler(previous());
        QLoggingCategory::setFilterRules(QString());
        const QMutexLocker lock(&mutex());
        store().clear();
    }
    LogLines(const LogLines&) = delete;
    LogLines& operator=(const LogLines&) = delete;

    // The lines of the program's own categories ("quavelark.…") so far.
    static QList<LogLine> ours() {
        const QMutexLocker lock(&mutex());
        return store();
    }
    // Whether a line of `category` at `type` holds `text`.
    static bool has(const char* category, QtMsgType type, const QString& text) {
        for (const LogLine& l : ours())
            if (l.category == category && l.type == type && l.text.contains(text))
                return true;
        return false;
    }
    static QString dump() {
        QString out;
        for (const LogLine& l : ours())
            out += QStringLiteral("\n  [%1 %2 %3] %4")
                       .arg(QString::fromLatin1(l.category))
                       .arg(int(l.type))
                       .arg(QString::fromLatin1(l.thread), l.text);
        return out;
    }

private:
    static QMutex& mutex() {
        static QMutex m;
        return m;
    }
    static QList<LogLine>& store() {
        static QList<LogLine> lines;
        return lines;
    }
    static QtMessageHandler& previous() {
        static QtMessageHandler handler = nullptr;
        return handler;
    }
    // The program's lines are kept; any other goes where it went before.
    static void take(QtMsgType type, const QMessageLogContext& context, const QString& text) {
        if (!context.category || !QByteArray(context.category).startsWith("quavelark.")) {
            if (previous())
                previous()(type, context, text);
            return;
        }
        char name[16] = {};
        pthread_getname_np(pthread_self(), name, sizeof name);
        const QMutexLocker lock(&mutex());
        store() << LogLine{QByteArray(context.category), type, text, QByteArray(name)};
    }
};

} // namespace ql::test
