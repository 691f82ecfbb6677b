// How the library backend script is run: the long-lived process the catalog
// comes from, and the one-shot import of a single file.
//
// The interpreter is the Python 3 the tool search found, else
// "/usr/bin/python3"; the script is "backend.py" in the resources folder. The
// child gets the program's own environment with PATH replaced (not extended)
// by the resources folder's "bin", then the usual program folders, so a
// bundled FFmpeg wins and nothing from the user's shell set-up changes which
// programs the script finds.
//
// One-shot import: the same interpreter and environment, and exactly the
// arguments: the script, "--import-file", the file's absolute path. Its whole
// standard output is one `OpenReply` document (white space around it is
// allowed, any other text fails it): "opened" is success with that track;
// otherwise the import failed with "error", or with "음원을 열지 못했습니다."
// when that is missing or empty. Output that does not decode fails with
// "음원 라이브러리의 응답을 해석할 수 없습니다.".
//
// Pure functions, any thread.
#pragma once

#include "app/Records.h"

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <optional>

namespace ql {

struct BackendCommand {
    QString program;
    QStringList arguments;
    QProcessEnvironment environment;
};

// The PATH every backend run gets.
QString backendPATH(const QString& resources);

// The long-lived backend. `python` is the tool search's answer.
BackendCommand backendCommand(const std::optional<QString>& python, const QString& resources,
                              const QProcessEnvironment& system);

// The one-shot import of `file`, run like `backend`.
BackendCommand importCommand(const BackendCommand& backend, const QString& file);

// What one import came to: the track, or the message saying why not.
struct ImportOutcome {
    std::optional<Track> opened;
    QString error; // set when `opened` is none
};

// Reads the import's standard output.
ImportOutcome importOutcome(const QByteArray& output);

} // namespace ql
