// Guards against: (fixture) test audio unlike what the tests think they wrote.
// Test audio made by the tests themselves: libsndfile for what it writes,
// ffmpeg for the rest. Never downloaded.
#pragma once

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <utility>
#include <vector>

namespace ql::test {

// A file's samples as libsndfile reads them, scaled to 32 bits (a 16-bit
// sample s is s << 16): the exact reference for bit-perfect comparisons.
struct Samples {
    int rate = 0;
    int channels = 0;
    std::vector<std::int32_t> data; // interleaved
    std::int64_t frames() const { return channels ? std::int64_t(data.size()) / channels : 0; }
};

// What a generated file holds: full-scale pseudo-random noise of the file's
// bit depth (both extremes included, so every bit is exercised), or a sine.
enum class Signal { Noise, Sine };

struct AudioShape {
    int format = 0; // libsndfile major | sub format, e.g. SF_FORMAT_FLAC | SF_FORMAT_PCM_24
    int rate = 44100;
    int channels = 2;
    std::int64_t frames = 44100;
    Signal signal = Signal::Noise;
    double frequency = 1000; // for Sine
    double amplitude = 0.5;  // for Sine
    unsigned seed = 1;
};

// A continuous 24-bit stereo ramp, frames [from, to) of it: the left channel
// rises by kRampStep (scaled to 32 bits) from the bottom, one step per frame,
// the right is its bitwise complement (so a swapped channel shows too). Two
// files holding adjacent spans of it join without a seam, and any zero,
// repeated or dropped frame in a recording of them breaks the rise.
inline constexpr std::int32_t kRampStep = 15 << 8;
Samples ramp(std::int64_t from, std::int64_t to, int rate = 44100);

// Writes `shape` to `path`; returns false when libsndfile refuses.
bool writeAudio(const QString& path, const AudioShape& shape);
// Writes `shape` to the temporary file `name` and returns its path; the test
// aborts when it cannot (nothing after it would mean anything).
QString writeTemp(const QString& name, const AudioShape& shape);
// Writes exactly the given samples: `samples` scaled to 32 bits as
// readSamples() gives them (the file's format keeps their top bits), or
// doubles at full scale ±1 into a 32-bit float WAV (any value, NaN
// included). False when libsndfile refuses.
bool writeSamples(const QString& path, int format, const Samples& samples);
bool writeFloatWav(const QString& path, int rate, int channels, const std::vector<double>& data);
// Reads every sample of `path` (empty data when it cannot be read).
Samples readSamples(const QString& path);
// How a file's data is broken part-way: cut off in the middle, or a run of
// bytes in the middle scrambled.
enum class Damage { Cut, Scramble };
// Writes a 16-bit stereo FLAC of `frames` noise frames to `path`, then breaks
// it; false when it cannot.
bool writeBrokenFlac(const QString& path, std::int64_t frames, Damage damage = Damage::Cut);
// Sign changes of channel 0 of interleaved `v` between frames `from` and
// `to`: twice a tone's frequency times the span's length.
int signChanges(const std::vector<double>& v, int channels, std::size_t from, std::size_t to);
// A FLAC's metadata blocks, each its type and its body, and the bytes after
// them; flacBytes() puts them together again, the last block flagged last.
struct FlacParts {
    QList<std::pair<int, QByteArray>> blocks;
    QByteArray audio;
};
inline constexpr int kFlacStreamInfo = 0, kFlacPadding = 1, kFlacComments = 4;
FlacParts flacParts(const QByteArray& flac);
QByteArray flacBytes(const FlacParts& parts);
// The body of a Vorbis comment block of `count` entries, the first of them
// the genre "Noise".
QByteArray commentBlock(int count);
// How a FLAC's comment block may be put out of a simple walk's way.
enum class FlacShape {
    Id3Before,          // an ID3v2.3 tag before "fLaC"
    Id3WithFooter,      // an ID3v2.4 tag with its footer before "fLaC"
    BlocksBefore,       // 1,100 padding blocks between STREAMINFO and the comments
    SmallCommentsFirst, // a comment block of three entries before the large one
    SecondStreamInfo,   // STREAMINFO again after the comments
    OtherStreamInfo,    // after the comments, a STREAMINFO of one channel fewer
    BlockPastEnd,       // after the comments, a last block longer than the file
};
// `flac`'s bytes with a comment block of `count` entries, shaped so.
QByteArray shapedFlac(const QByteArray& flac, FlacShape shape, int count);
// A FLAC's bytes with a Vorbis comment block of `count` entries put after its
// STREAMINFO in place of any it had; with `storesLength` false, STREAMINFO's
// total of samples is zeroed (a FLAC written through a pipe).
QByteArray withComments(const QByteArray& flac, int count, bool storesLength = true);
// `flac` with a comment block of `count` entries, then `padding` bytes of
// padding blocks, the last block, written to `path` sparse: the padding is
// holes in the file.
bool writeSparsePadded(const QString& path, const QByteArray& flac, int count, qint64 padding);
// Runs ffmpeg with `args` (after "-v error -y"); true on exit status 0.
bool runFfmpeg(const QStringList& args);
// The process ids of this process's children whose program is one of
// `programs` (as /proc names them) and that still exist, running or not
// reaped.
QList<qint64> childrenNamed(const QStringList& programs = {QStringLiteral("ffmpeg")});

// `source`, an Ogg Vorbis or Opus file as ffmpeg writes it, written to `path`
// with a comment packet of `count` entries in place of its own (its pages
// after it numbered on); false when it cannot.
bool oggWithComments(const QString& source, const QString& path, int count);

// `source`, an .m4a as ffmpeg writes it (its movie header last), written to
// `path` with its movie header ending in the genre "Noise" and `count`
// freeform tags ("----" atoms, as iTunes writes them); false when it cannot.
bool m4aWithTags(const QString& source, const QString& path, int count);

// Two seconds of sound whose tags FFmpeg would gather for minutes: an .m4a
// whose movie header ends with `count` freeform tags ("----" atoms, as
// iTunes writes them), an MP3 behind an ID3v2.3 tag of `count` TXXX frames
// (with a zero byte between the tag and the first frame), Ogg Vorbis or Opus
// whose comment packet holds `count` entries, FLAC in Ogg whose comment
// block does, WAV or AIFF with an ID3 chunk after the sound holding an
// ID3v2.3 tag of `count` TXXX frames, WavPack ending in an APEv2 tag of
// `count` items (and the genre); each with the genre "Noise" among them,
// first. Made once per run in the temporary folder; its path, or the test
// aborts.
enum class Crowded { M4a, Mp3, Mp3ZeroAfterTags, Vorbis, Opus, OggFlac, Wav, Aiff, WavPack };
QString crowdedFile(Crowded kind, int count);

// `wav` encoded by ffmpeg to FLAC on its standard output, which it cannot
// seek back on to store the length.
bool pipedFlac(const QString& wav, const QString& flac);

// A copy of `source` carrying a 250,000-character title and 60 KB of lyrics:
// FLAC as it is, WavPack for a `path` ending ".wv".
bool withLongTags(const QString& source, const QString& path);

// 19.6 s of stereo 44.1 kHz MP3 made by ffmpeg: 6 s of noise then a quiet
// tone (`loudFirst`), else 6 s of silence then noise; variable bit rate or
// 192 kb/s, with or without the Xing length header.
bool writeMp3(const QString& path, bool loudFirst, bool vbr, bool lengthHeader);
// Samples per channel of an MP3 as ffprobe counts its packets (1152 each).
std::int64_t mp3Samples(const QString& path);

// A fade of `frames` frames from sample `at` on: in (frame k at (k + 1) /
// frames of the signal) or out (frame k at (frames - k) / frames).
struct Fade {
    std::size_t at = 0;
    int frames = 0;
    bool out = false;
};
// `got` equals `want` sample for sample, except in the fades, where it is
// the faded signal within 1.5 `lsb` (a step of the integer format as 32-bit
// values; a fade is dithered).
bool equalWithFades(const std::vector<std::int32_t>& got, const std::vector<std::int32_t>& want,
                    int channels, std::int32_t lsb, const std::vector<Fade>& fades);

} // namespace ql::test

// A table column of shapes.
Q_DECLARE_METATYPE(ql::test::FlacShape)
Q_DECLARE_METATYPE(ql::test::Crowded)
