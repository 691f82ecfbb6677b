// One running player per user.
//
// A normal start first offers its files to a running instance over a local
// socket; when one answers, the new process hands over and exits. Otherwise it
// becomes the instance and listens: a hand-over with files asks it to open
// them, a hand-over without files asks it to bring its window back.
//
// Wire format: one line of UTF-8 JSON, an array of absolute paths.
// Main thread only; the listener needs a running event loop.
//
// The socket lives in a folder only we can enter, and both ends check the
// other's user id (SO_PEERCRED): file names go only to our own user's
// instance and are taken only from it.
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

    // The per-user socket: in $XDG_RUNTIME_DIR when that is a private folder
    // of ours, else in "quavelark-<uid>" under the temporary folder, made
    // with mode 0700 and checked to be ours and private. Empty when no such
    // folder can be had (then this start runs on its own).
    static QString defaultName();

    // Client side: true when a running instance took the files (an empty list
    // asks it to show its window). Waits at most `timeoutMs` for it.
    bool handOver(const QStringList& files, int timeoutMs = 2000) const;

    // Server side: starts listening. A socket already at the name is first
    // tried: when our own instance answers there (two starts racing) it is
    // left alone and this returns false; one left by a crashed run, or held
    // by a peer we do not trust, is removed. False when the socket cannot be
    // made.
    bool listen();

    std::function<void(const QStringList& files)> onOpenFiles;
    std::function<void()> onReopen;

    // Whether a peer with this user id may exchange files with us; unset, it
    // must be our own user. Tests set it to stand for another user's socket.
    std::function<bool(qint64 uid)> trustsPeer;

private:
    void accept();
    bool trusted(qintptr descriptor) const;
    bool ownInstanceAnswers() const;

    QString m_name;
    QLocalServer* m_server = nullptr;
};

} // namespace ql::platform
