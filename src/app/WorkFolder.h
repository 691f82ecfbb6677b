// Where renders and decodes write their temporary audio files.
//
// Those files hold a whole track as float PCM (tens of MB each), so they
// must be readable by this user only and must not pile up when a run is
// killed before it can delete them. Each run therefore writes into a folder
// of its own, "run-XXXXXX" (mode 0700), inside a base folder of mode 0700:
//   "$XDG_CACHE_HOME/Quavelark/work" (else "~/.cache/Quavelark/work"),
//   then "$XDG_RUNTIME_DIR/Quavelark-work", then "<tmp>/quavelark-<uid>-work",
// the first that can be made private. A run holds an exclusive lock
// (flock) on the ".lock" file of its folder for as long as it lives; the
// kernel drops that lock when the process ends, however it ends. Opening a
// work folder first removes every run folder whose lock is free: those of
// dead runs. A second instance keeps its lock, so its files stay.
//
// The base folder's own ".lock" is held while a run folder is made and
// locked, and while the ended ones are removed, so a clean-up never takes a
// folder that was made but not yet locked.
//
// Thread: open() and the destructor block on the file system; path() any.
#pragma once

#include <QString>
#include <QStringList>

#include <memory>

namespace ql {

// The base folders tried, in order, from the environment.
QStringList workFolderBases();

class WorkFolder {
public:
    // This run's folder under the first base that is or can be made private,
    // after removing the folders of ended runs there; null when none can.
    static std::unique_ptr<WorkFolder> open(const QStringList& bases = workFolderBases());
    // Removes the folder with everything in it, and frees the lock.
    ~WorkFolder();
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    // The run's folder, absolute.
    QString path() const { return m_path; }
    // The base folder it lies in.
    QString base() const { return m_base; }
    // How many folders of ended runs the opening removed.
    int cleared() const { return m_cleared; }

private:
    WorkFolder(QString base, QString path, int lockFd, int cleared);

    QString m_base;
    QString m_path;
    int m_lockFd = -1;
    int m_cleared = 0;
};

// Creates `path` as an empty file of mode 0600, refusing one that exists (or
// a link). Programs that then write it (ffmpeg with "-y", libsndfile) keep
// its mode, so the file is never readable by others, not even mid-write.
bool reserveFile(const QString& path);

} // namespace ql
