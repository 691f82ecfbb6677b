// One running player per user.
//
// A normal start first offers its files to a running instance over a local
// socket; when one answers, the new process hands over and exits. Otherwise it
// becomes the instance and listens: a hand-over with files asks it to open
// them, a hand-over without files asks it to bring its window back.
//
// Wire format: one line of UTF-8 JSON, an array of absolute paths.
// Main thread only; the listener needs a running event loop.
#pragma once

#include <QObject>
#include <QStringList>

#include <functional>

class QLocalServer;

namespace ql::platform {

class SingleInstance final : public QObject {
    Q_OBJECT
public:
    // `name` is the socket's path; defaultName() gives the per-user one.
    explicit SingleInstance(QString name, QObject* parent = nullptr);
    ~SingleInstance() override;

    // The per-user socket: in $XDG_RUNTIME_DIR when set, else in the
    // temporary folder with the user id in its name.
    static QString defaultName();

    // Client side: true when a running instance took the files (an empty list
    // asks it to show its window). Waits at most `timeoutMs` for it.
    bool handOver(const QStringList& files, int timeoutMs = 2000) const;

    // Server side: starts listening; a stale socket left by a crashed run is
    // removed first. False when the socket cannot be made.
    bool listen();

    std::function<void(const QStringList& files)> onOpenFiles;
    std::function<void()> onReopen;

private:
    void accept();

    QString m_name;
    QLocalServer* m_server = nullptr;
};

} // namespace ql::platform
