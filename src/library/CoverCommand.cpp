#include "library/CoverCommand.h"

#include <QDir>

namespace ql {

QString coverOutputPath(const QString& tempDir, const QUuid& uuid) {
    return QDir(tempDir).filePath(QStringLiteral("Quavelark-art-") +
                                  uuid.toString(QUuid::WithoutBraces).toUpper() +
                                  QStringLiteral(".jpg"));
}

QStringList coverArguments(const QString& input, const QString& output) {
    return {QStringLiteral("-v"),
            QStringLiteral("error"),
            QStringLiteral("-y"),
            QStringLiteral("-i"),
            input,
            QStringLiteral("-map"),
            QStringLiteral("0:v:0"),
            QStringLiteral("-frames:v"),
            QStringLiteral("1"),
            QStringLiteral("-vf"),
            QStringLiteral("scale=300:-1"),
            output};
}

} // namespace ql
