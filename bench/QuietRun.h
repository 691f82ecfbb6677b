// Runs a program to its end with no input and its output discarded, as the
// benchmarks' baselines run ffmpeg and ffprobe; true on exit status 0.
#pragma once

#include <QProcess>

namespace ql::bench {

inline bool runQuiet(const QString& program, const QStringList& arguments) {
    QProcess p;
    p.setStandardInputFile(QProcess::nullDevice());
    p.setStandardOutputFile(QProcess::nullDevice());
    p.setStandardErrorFile(QProcess::nullDevice());
    p.start(program, arguments);
    return p.waitForFinished(-1) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

} // namespace ql::bench
