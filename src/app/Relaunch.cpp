#include "app/Relaunch.h"

namespace ql {

QStringList relaunchArguments(const QString& program, qint64 pid) {
    // $0 names the script in process lists; $1 is the program, $2 the pid.
    static const QString script = QStringLiteral(
        "sleep 1; i=0; "
        "while [ \"$i\" -lt 10 ] && kill -0 \"$2\" 2>/dev/null; do sleep 1; i=$((i+1)); done; "
        "exec \"$1\"");
    return {QStringLiteral("-c"), script, QStringLiteral("quavelark-relaunch"), program,
            QString::number(pid)};
}

} // namespace ql
