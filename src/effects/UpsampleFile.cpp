#include "effects/UpsampleFile.h"

#include "app/FailureText.h"
#include "platform/audio/AudioFile.h"
#include "platform/audio/Resampler.h"

#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <vector>

namespace ql {

namespace {

using platform::AudioFile;

// Output frames a block may give beyond its share of the ratio: the
// converter's own delay comes out in bursts.
constexpr std::size_t kOutputSlack = 2048;
// Beyond this ratio the output buffer alone would take hundreds of MB.
constexpr double kMaxRatio = 256;

bool usableRate(double rate) {
    return std::isfinite(rate) && rate > 0;
}

RenderNote fileError(Failure cause, const QString& path) {
    return RenderNote{4, failureKorean(cause), QFileInfo(path).fileName(), {}};
}

// The output could not be written in full: for want of room, the work
// folder's fault (named by the base the user can look at, as the play road
// names it); else the file's.
RenderNote writeError(const AudioFile& out, const QString& path) {
    if (!out.noRoom())
        return fileError(Failure::FileNotWritable, path);
    // The stage's file lies in the run's folder, which lies in the base.
    const QString base = QFileInfo(QFileInfo(path).absolutePath()).absolutePath();
    return RenderNote{4, QString::fromUtf8(kNoRoomToUpsample), base, {}};
}

} // namespace

RenderNote upsampleConverterError() {
    return RenderNote{4, QStringLiteral("업샘플링 변환기를 만들 수 없습니다."), {}, {}};
}

RenderNote upsampleStoppedNote() {
    // Never shown: the render it ends is dropped with its note.
    return RenderNote{4, {}, {}, {}};
}

std::optional<RenderNote> upsampleCAF(const QString& input, const QString& output, double rate,
                                      const std::function<bool()>& stopped) {
    const AudioFile::Opened in = AudioFile::open(input);
    if (!in.file)
        return fileError(Failure::FileUnreadable, input);
    const double inRate = in.file->sampleRate();
    const int channels = in.file->channels();
    if (!usableRate(rate) || !usableRate(inRate) || channels <= 0 || rate / inRate > kMaxRatio)
        return upsampleConverterError();
    // The channels are converted side by side: a render is waited for.
    platform::Resampler converter(inRate, rate, channels,
                                  std::min(channels, QThread::idealThreadCount()));
    if (!converter.isValid())
        return upsampleConverterError();

    AudioFile::Opened out = AudioFile::createFloat(output, rate, channels);
    if (!out.file)
        return fileError(Failure::FileNotWritable, output);
    // Whatever went wrong, no partial file stays to be taken for a result.
    const auto fail = [&](RenderNote note) {
        out.file.reset();
        QFile::remove(output);
        return note;
    };

    const auto capacity = std::size_t(std::floor(rate * kUpsampleBlock / inRate)) + kOutputSlack;
    std::vector<double> inBuffer(std::size_t(kUpsampleBlock) * std::size_t(channels));
    std::vector<double> outBuffer(capacity * std::size_t(channels));
    const auto put = [&](std::size_t frames) {
        return frames == 0 || out.file->write(outBuffer.data(), std::int64_t(frames));
    };

    for (;;) {
        // A render nobody waits for any more: its file goes at once.
        if (stopped && stopped())
            return fail(upsampleStoppedNote());
        const std::int64_t got = in.file->read(inBuffer.data(), kUpsampleBlock);
        if (got < 0)
            return fail(fileError(Failure::FileUnreadable, input));
        if (got == 0)
            break;
        for (std::size_t done = 0; done < std::size_t(got);) {
            const platform::Resampler::Step step =
                converter.process(inBuffer.data() + done * std::size_t(channels),
                                  std::size_t(got) - done, outBuffer.data(), capacity);
            if (!put(step.produced))
                return fail(writeError(*out.file, output));
            if (step.consumed == 0 && step.produced == 0)
                return fail(upsampleConverterError()); // the converter stalled
            done += step.consumed;
        }
    }
    // The end of the input: the converter gives out what it still holds.
    for (;;) {
        const platform::Resampler::Step step =
            converter.process(nullptr, 0, outBuffer.data(), capacity);
        if (step.produced == 0)
            break;
        if (!put(step.produced))
            return fail(writeError(*out.file, output));
    }
    // A render's temporary file: made again if it is ever lost, so the
    // conversion does not wait for the disk (ffmpeg's road does not either).
    if (!out.file->close(false))
        return fail(writeError(*out.file, output));
    return std::nullopt;
}

} // namespace ql
