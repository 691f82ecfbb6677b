// The ffmpeg command that takes a file's embedded cover picture out: the
// first frame of its first video stream, scaled to 300 pixels wide (the
// height keeps the proportions), written as a JPEG to a temporary file
// "Quavelark-art-<UUID>.jpg" (UUID upper case) that the caller reserves
// (app/WorkFolder.h reserveFile) and removes.
//
// The transport bar's cover and the cover service of the album grid run the
// same command. Pure functions; the folder and the UUID come in as values.
#pragma once

#include <QString>
#include <QStringList>
#include <QUuid>

namespace ql {

// "<tempDir>/Quavelark-art-<UUID>.jpg".
QString coverOutputPath(const QString& tempDir, const QUuid& uuid);

// The twelve arguments after the program. `input` is passed as it is: give it
// ffmpegInput() of the file (app/DecodeCommand.h), so a file named like
// "concat:…" is read as that file.
QStringList coverArguments(const QString& input, const QString& output);

} // namespace ql
