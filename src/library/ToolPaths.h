// Where the external programs the player runs are found: the FFmpeg programs
// `ffmpeg` and `ffprobe`, and a Python 3 interpreter for the library backend.
//
// Every search prefers a copy inside the resources folder (so a self-contained
// install works with nothing else present), then the system's folders in the
// order of its own search path: /usr/local/bin (hand installs), then /usr/bin
// and /bin, where apt and the setup script put them. A candidate is accepted
// when it is an executable file for the current user; nothing else is tested
// (no version, no trial run). Nothing is cached: each call searches again, so
// a program installed while the player runs is used by the next child
// process.
//
// The folders are a parameter so tests can use fake ones; the default is the
// program's own resources folder and the standard lists. Plain functions
// without state: any thread may call them.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace ql {

struct ToolFolders {
    // The resources folder; empty when unknown (bundle candidates are skipped).
    QString resources;
    // Folders searched for `ffmpeg` and `ffprobe`, in order.
    QStringList toolDirs;
    // Where the untested last answer of toolPath() points.
    QString toolFallbackDir;
    // Folders searched for "python3", in order.
    QStringList pythonDirs;

    // The program's resources folder and the standard lists below.
    static ToolFolders standard();
    // The standard lists with the given resources folder.
    static ToolFolders withResources(const QString& resources);
};

// Absolute path of `ffmpeg` or `ffprobe` (the name is used unchanged). Never
// empty; when no candidate is executable the answer is the fallback folder
// plus the name, untested, so the caller's launch fails there.
QString toolPath(const QString& name, const ToolFolders& folders = ToolFolders::standard());

// Absolute path of a Python 3 interpreter, or none when no candidate is
// executable.
std::optional<QString> pythonPath(const ToolFolders& folders = ToolFolders::standard());

// Whether an executable file exists at `path` for the current user.
bool isExecutableFile(const QString& path);

// Tells whether the interpreter at the given path can run the library backend
// (it imports mutagen). Supplied by the caller, since it runs a child program.
using PythonCheck = std::function<bool(const QString& python)>;

// Display names of the missing prerequisites, in the order "Python 3",
// "FFmpeg"; empty when both are there. Python 3 counts as missing when no
// interpreter is found or `backendRuns` says it cannot run the backend;
// FFmpeg when either `ffmpeg` or `ffprobe` is not executable (one entry).
QStringList missingTools(const ToolFolders& folders, const PythonCheck& backendRuns);

} // namespace ql
