// Runs a peer program to its end with no input and its output discarded;
// true when it exited with status 0. Shared by the benchmark programs.
#pragma once

#include <QProcess>
#include <QStringList>

namespace ql::bench {

inline bool runQuietly(const QString& program, const QStringList& arguments) {
    QProcess p;
    p.setStandardInputFile(QProcess::nullDevice());
    p.setStandardOutputFile(QProcess::nullDevice());
    p.setStandardErrorFile(QProcess::nullDevice());
    p.start(program, arguments);
    return p.waitForFinished(-1) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

} // namespace ql::bench
