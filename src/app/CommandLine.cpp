#include "app/CommandLine.h"

#include <QDir>
#include <QRegularExpression>
#include <QUrl>

namespace ql {

RunMode decideRunMode(const QStringList& args) {
    return args.contains(QStringLiteral("--self-test")) ? RunMode::Validation : RunMode::Normal;
}

bool isSaveRun(const QStringList& args) {
    return args.contains(QStringLiteral("--save"));
}

QString validationFile(const QStringList& args) {
    return args.isEmpty() ? QString() : args.last();
}

QStringList fileArguments(const QStringList& args, const QString& workingDir) {
    QStringList files;
    const QDir base(workingDir);
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& a = args.at(i);
        if (a.isEmpty() || a.startsWith(QLatin1Char('-')))
            continue;
        // A file manager may hand us "file:///…" (with %-escapes) for a path.
        if (a.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) {
            const QUrl url(a);
            if (url.isLocalFile() && !url.toLocalFile().isEmpty()) {
                files << QDir::cleanPath(base.absoluteFilePath(url.toLocalFile()));
                continue;
            }
        }
        // Another address is passed on as it is, for the intake to drop.
        static const QRegularExpression address(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
        if (address.match(a).hasMatch()) {
            files << a;
            continue;
        }
        files << QDir::cleanPath(base.absoluteFilePath(a));
    }
    return files;
}

} // namespace ql
