// Why a program or a file failed us, told in the interface language.
//
// Qt's descriptions of a failed process or file, and errno texts, are English
// whatever the interface language. The program says instead which cause it
// met, in its own Korean words (translated like any interface text), and adds
// the program or file name as it is.
//
//   failureKorean(cause): the fixed text, ending in ": " before the name;
//   failureText(cause, name): that text in the interface language, then the
//     name untouched (main thread: it translates);
//   processFailure(error, file): the cause of a QProcess error, given what
//     lies at the program's path.
//
// Pure unit.
#pragma once

#include <QProcess>
#include <QString>

namespace ql {

enum class Failure {
    ProgramMissing,       // nothing at the program's path
    ProgramNotExecutable, // there, but not a file we may run
    ProgramNotStarted,    // runnable, yet it did not start
    ProgramEnded,         // it ended (crashed) while we needed it
    ProgramNotWritable,   // it no longer takes what we send
    FileNotWritable,      // no permission, or the disk is full
    FileUnreadable,       // unreadable, or of a format no player reads
    FileTooSlow,          // its disk took too long to open it
    FileCrowded,          // tags no reader may gather, and no other reader of its format
};

// What lies at a program's path.
enum class ProgramFile { Missing, NotExecutable, Runnable };

QString failureKorean(Failure cause);
QString failureText(Failure cause, const QString& name);
Failure processFailure(QProcess::ProcessError error, ProgramFile file);

} // namespace ql
