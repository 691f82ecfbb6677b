// The ffmpeg commands of the decode road and the effects render, and the
// names of their outputs. The decode road writes the
// first audio stream of a file, as 32-bit float PCM in a CAF file
// "Quavelark-<UUID>.caf" (UUID upper case) in the run's private work
// folder (app/WorkFolder.h).
//
// The input is always handed over as "file:" and an absolute path, so that
// a file named like "http://…", "concat:…" or "-i" can only ever be read as
// the file it is. Pure functions; folders and the UUID come in as values.
#pragma once

#include <QString>
#include <QStringList>
#include <QUuid>

#include <optional>

namespace ql {

// "<tempDir>/<prefix><UUID><suffix>", the UUID upper case without braces:
// how every temporary file of ours is named.
QString temporaryPath(const QString& tempDir, const QString& prefix, const QUuid& uuid,
                      const QString& suffix);
// "<tempDir>/Quavelark-<UUID>.caf".
QString decodeOutputPath(const QString& tempDir, const QUuid& uuid);
// `path` as ffmpeg must read it: "file:" and the path made absolute against
// `currentDir`.
QString ffmpegInput(const QString& path, const QString& currentDir);
// The arguments after the program: log errors only, overwrite, the input,
// its first audio stream only, no video, no tags, float PCM into `output`.
// The effects render's first stage writes "<tempDir>/Quavelark-fx-<UUID>.caf".
QString renderOutputPath(const QString& tempDir, const QUuid& uuid);
// The same command with the filter chain after "-af" when one is given.
QStringList renderArguments(const QString& input, const std::optional<QString>& chain,
                            const QString& output, const QString& currentDir);
QStringList decodeArguments(const QString& input, const QString& output, const QString& currentDir);

} // namespace ql
