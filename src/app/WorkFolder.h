// Where renders and decodes write their temporary audio files.
//
// Those files hold a whole track as float PCM (tens of MB each), so they
// must be readable by this user only and must not pile up when a run is
// killed before it can delete them. Each run therefore writes into a folder
// of its own, "run-XXXXXX" (mode 0700), inside a base folder of mode 0700:
//   "$XDG_CACHE_HOME/Quavelark/work" (else "~/.cache/Quavelark/work"),
//   then "$XDG_RUNTIME_DIR/Quavelark-work", then "<tmp>/quavelark-<uid>-work",
// the first that can be made private. A base is never made or used in a
// folder others may write without the sticky bit: another user could rename
// it away under the run and put a folder of theirs in its place. Where none
// can (a read-only cache, a runtime folder not ours, the temporary base made
// first by another user: its name can be foreseen), the run's folder is made
// straight in the shared temporary folder as "quavelark-<uid>-run-XXXXXX":
// mkdtemp, so no one can take or plant its name first, mode 0700; but not in
// one others may write without the sticky bit either: then there is none.
//
// A run holds an exclusive lock (flock) on the ".lock" file of its folder for
// as long as it lives; the kernel drops that lock when the process ends,
// however it ends. Opening a work folder first removes every run folder of
// ours whose lock is free: those of dead runs, in the base and loose in the
// shared folder. A second instance keeps its lock, so its files stay.
//
// The lock is taken before its file bears the name ".lock" (made as
// ".lock-new", locked, then renamed), so a clean-up never finds a live run's
// lock free. The base folder's own ".lock" is held while a run folder is made
// there and while the ended ones are removed; the shared folder has no such
// lock, so a loose folder without any lock file is left alone: it is being
// made, or was left empty.
//
// A folder removed under a live run (a cache cleaner) is noticed by
// intact(); the run then opens a new one (App::workDir). The old object's
// end removes nothing: whatever now bears its name is not ours.
//
// Thread: open(), intact() and the destructor block on the file system;
// path() any.
#pragma once

#include <QDir>
#include <QString>
#include <QStringList>

#include <memory>

namespace ql {

// The base folders tried, in order, from the environment.
QStringList workFolderBases();

class WorkFolder {
public:
    // This run's folder under the first base that is or can be made private,
    // else loose in `shared` (when others cannot take names there: not
    // writable by them, or sticky), after removing the folders of ended runs
    // in both; null when none can be made.
    static std::unique_ptr<WorkFolder> open(const QStringList& bases = workFolderBases(),
                                            const QString& shared = QDir::tempPath());
    // Removes the folder with everything in it, and frees the lock.
    ~WorkFolder();
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    // The run's folder, absolute.
    QString path() const { return m_path; }
    // The folder it lies in: its base, or the shared folder.
    QString base() const { return m_base; }
    // Made in the shared folder, for want of a private base.
    bool isLoose() const { return m_loose; }
    // How many folders of ended runs the opening removed.
    int cleared() const { return m_cleared; }
    // The run's folder is still the one made: there, the same folder (device
    // and inode), not a link.
    bool intact() const;

private:
    WorkFolder(QString base, QString path, int lockFd, int cleared, bool loose);

    QString m_base;
    QString m_path;
    int m_lockFd = -1;
    int m_cleared = 0;
    bool m_loose = false;
    unsigned long long m_device = 0;
    unsigned long long m_inode = 0;
};

// Creates `path` as an empty file of mode 0600, refusing one that exists (or
// a link). Programs that then write it (ffmpeg with "-y", libsndfile) keep
// its mode, so the file is never readable by others, not even mid-write.
bool reserveFile(const QString& path);

} // namespace ql
