// Runs a program to its end with its input, output and errors on the null
// device, as the bare baselines of the benchmarks do. Header only.
#pragma once

#include <QProcess>
#include <QStringList>

namespace ql::bench {

// True when it exited normally with status 0.
inline bool runQuiet(const QString& program, const QStringList& arguments) {
    QProcess p;
    p.setStandardInputFile(QProcess::nullDevice());
    p.setStandardOutputFile(QProcess::nullDevice());
    p.setStandardErrorFile(QProcess::nullDevice());
    p.start(program, arguments);
    return p.waitForFinished(-1) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

} // namespace ql::bench
