#include "app/DecodeCommand.h"

#include <QDir>

namespace ql {

QString temporaryPath(const QString& tempDir, const QString& prefix, const QUuid& uuid,
                      const QString& suffix) {
    // No folder: no name, which no file can be made under (never one
    // relative to the current folder).
    if (tempDir.isEmpty())
        return {};
    return QDir(tempDir).filePath(prefix + uuid.toString(QUuid::WithoutBraces).toUpper() + suffix);
}

QString decodeOutputPath(const QString& tempDir, const QUuid& uuid) {
    return temporaryPath(tempDir, QStringLiteral("Quavelark-"), uuid, QStringLiteral(".caf"));
}

QString ffmpegInput(const QString& path, const QString& currentDir) {
    // Not cleaned: "a/../b" must stay the path the user's file system resolves.
    const QString absolute = QDir::isAbsolutePath(path) ? path : currentDir + u'/' + path;
    return QStringLiteral("file:") + absolute;
}

QString renderOutputPath(const QString& tempDir, const QUuid& uuid) {
    return temporaryPath(tempDir, QStringLiteral("Quavelark-fx-"), uuid, QStringLiteral(".caf"));
}

QStringList renderArguments(const QString& input, const std::optional<QString>& chain,
                            const QString& output, const QString& currentDir) {
    QStringList arguments{QStringLiteral("-v"),           QStringLiteral("error"),
                          QStringLiteral("-y"),           QStringLiteral("-i"),
                          ffmpegInput(input, currentDir), QStringLiteral("-map"),
                          QStringLiteral("0:a:0"),        QStringLiteral("-vn")};
    if (chain)
        arguments << QStringLiteral("-af") << *chain;
    // No tags: ffmpeg would copy the source's into the file, and libsndfile
    // refuses a CAF holding more than about 56,000 bytes of them (long
    // lyrics, a title of a few hundred kilobytes), which then would not play.
    arguments << QStringLiteral("-map_metadata") << QStringLiteral("-1");
    arguments << QStringLiteral("-c:a") << QStringLiteral("pcm_f32le") << output;
    return arguments;
}

QStringList decodeArguments(const QString& input, const QString& output,
                            const QString& currentDir) {
    return renderArguments(input, std::nullopt, output, currentDir);
}

WorkFileFault ffmpegWriteFault(const QByteArray& errors) {
    // strerror(ENOSPC) and strerror(EDQUOT) in the C locale, which ffmpeg keeps.
    return errors.contains("No space left on device") || errors.contains("Disk quota exceeded")
               ? WorkFileFault::NoRoom
               : WorkFileFault::None;
}

} // namespace ql
