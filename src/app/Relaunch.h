// How the program reopens itself after the language switch: /bin/sh, started
// detached, with a fixed script and the executable's path and our process id
// as positional parameters. The path is never spliced into shell text, so a
// path holding quotes, backslashes, dollar signs or backquotes reopens
// exactly that program and runs nothing else.
//
// The script waits 1 s, then at most 10 s more until the old process has
// exited (a launch that found it running would only hand itself over to it),
// then execs the program.
#pragma once

#include <QStringList>

namespace ql {

inline constexpr const char* kRelaunchShell = "/bin/sh";

// The shell's arguments for reopening `program` once process `pid` is gone.
QStringList relaunchArguments(const QString& program, qint64 pid);

} // namespace ql
