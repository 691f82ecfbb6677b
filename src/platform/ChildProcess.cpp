#include "platform/ChildProcess.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace ql::platform {

ChildRun runChild(const QString& program, const QStringList& arguments,
                  const ChildOptions& options) {
    ChildRun run;
    const QDeadlineTimer deadline(std::max(0, options.timeoutMs));

    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    if (!options.keepStderr)
        process.setStandardErrorFile(QProcess::nullDevice());
    if (options.discardStdout)
        process.setStandardOutputFile(QProcess::nullDevice());
    if (options.environment)
        process.setProcessEnvironment(*options.environment);

    process.start(QIODevice::ReadOnly);
    if (!process.waitForStarted(int(std::max<qint64>(1, deadline.remainingTime())))) {
        run.errorText = process.errorString();
        if (process.state() != QProcess::NotRunning) {
            // Started too late to be of use: treat it as hung.
            process.kill();
            process.waitForFinished(-1);
            run.started = true;
            run.timedOut = true;
        }
        return run;
    }
    run.started = true;

    // waitForFinished keeps draining the pipes into QProcess's own buffers, so a
    // child with a lot of output cannot block on a full pipe while we wait.
    if (!process.waitForFinished(int(std::max<qint64>(1, deadline.remainingTime())))) {
        process.kill();
        // After SIGKILL the child is gone as soon as the kernel reaps it; wait
        // for that so no zombie is left behind.
        process.waitForFinished(-1);
        run.timedOut = true;
        run.out = process.readAllStandardOutput();
        if (options.keepStderr)
            run.err = process.readAllStandardError();
        return run;
    }

    run.crashed = process.exitStatus() == QProcess::CrashExit;
    run.exitCode = run.crashed ? -1 : process.exitCode();
    run.out = process.readAllStandardOutput();
    if (options.keepStderr)
        run.err = process.readAllStandardError();
    return run;
}

ProgramFile programFile(const QString& program) {
    QString path = program;
    if (!program.contains(QLatin1Char('/'))) {
        path = QStandardPaths::findExecutable(program);
        if (path.isEmpty())
            return ProgramFile::Missing;
    }
    const QFileInfo info(path);
    if (!info.exists())
        return ProgramFile::Missing;
    if (!info.isFile() || !info.isExecutable())
        return ProgramFile::NotExecutable;
    return ProgramFile::Runnable;
}

} // namespace ql::platform
