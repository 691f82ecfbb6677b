#include "library/CoverCommand.h"

#include "app/DecodeCommand.h"

namespace ql {

QString coverOutputPath(const QString& tempDir, const QUuid& uuid) {
    return temporaryPath(tempDir, QStringLiteral("Quavelark-art-"), uuid, QStringLiteral(".jpg"));
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
