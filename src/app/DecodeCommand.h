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
// how every temporary file of ours is named. Empty when `tempDir` is (no
// work folder), which reserveFile refuses.
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

// Why a decode or render could not write its file in the work folder: no
// room there (the disk, or the user's quota, is full), or the file could not
// be made at all.
enum class WorkFileFault { None, NoRoom, NotMade };
// Bytes of a failed ffmpeg run's standard error that are enough to tell.
inline constexpr qsizetype kDecodeErrorTail = 4096;
// What a failed ffmpeg run printed on its standard error tells of its
// output: NoRoom when a write met a full disk or quota, else None (the
// failure lies elsewhere). ffmpeg does not translate the system's texts.
WorkFileFault ffmpegWriteFault(const QByteArray& errors);

} // namespace ql
