// An audio file for reading: WAV, AIFF, CAF, FLAC, Ogg Vorbis, Opus and MP3
// through libsndfile, which is tried first; AAC and ALAC (MPEG-4, ADTS, CAF)
// through FFmpeg (CodecReader) when libsndfile refuses the file (a FLAC it
// refuses for its tags is read with them masked: FlacMetaMask); or the
// decoded sound of a web address (PcmStream), read as it arrives. Callers
// never know which one reads. Writing: 32-bit float (CAF, WAV, AIFF, W64, RF64) through libsndfile.
//
// An MP3 whose leading ID3v2 tags are large is read from its first frame,
// found past the tags as decoders resync (whatever stray bytes stand
// between): libsndfile hands the tags to libmpg123, which gathers their
// frames at a cost that grows with the square of their number (a hundred
// thousand take minutes), and the player needs none of them.
//
// A file that stores no length (a FLAC written through a pipe) has an
// estimate from its size until the decoder runs out.
//
// A file is opened once: every reader of it here (libsndfile, the FLAC
// mask, FFmpeg, the frame walks, a second reader of a FLAC) reads through
// that one descriptor, each at its own position. On a slow network mount
// every open of a file can take seconds.
//
// Reading gives interleaved doubles at full scale ±1.0, which hold every
// integer sample up to 32 bits exactly (see SampleCodec.h). A read that stops
// before the length the file declares, or that libsndfile flags, is an error,
// never a short success.
//
// Failures carry a sentence a user can read. One object is used by one thread
// at a time (the player's decoder thread once playback starts).
#pragma once

#include "platform/audio/Downmix.h"

#include <QDeadlineTimer>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

struct sf_private_tag;

namespace ql::platform {

class CodecReader;
class FlacMetaMask;
class PcmStream;
struct OpenedFile;
struct FileView;

class AudioFile {
public:
    struct Opened {
        std::unique_ptr<AudioFile> file;
        QString error;
        // Refused, and no other reader may try the file either: FFmpeg must
        // not read it (FfmpegGate: a FLAC whose blocks cannot be walked, or
        // tags FFmpeg would parse for minutes).
        bool keptFromFfmpeg = false;
    };
    // Opens `path` for reading. Only headers are read, and an MP3's frames
    // are counted (the whole file read) at its first read or seek, on the
    // reading thread (see read()). Still, headers can hold huge tag blocks,
    // whose reading takes seconds to minutes: the program opens files off
    // its main thread. A file FFmpeg reads is refused when `deadline`
    // passes before its header is read (CodecReader.h).
    static constexpr int kOpenLimitMs = 10000; // the deadline the program gives an open
    static Opened open(const QString& path,
                       QDeadlineTimer deadline = QDeadlineTimer(QDeadlineTimer::Forever));
    // A FLAC read by two workers (PrefetchReader) wants a second reader of
    // its own: made here, on the calling thread (the open's), from the
    // file opened already; nothing is opened again. Any other file has none.
    void prepareSecondReader();
    // That second reader, made now if it was not prepared (which reads the
    // file's headers again, but opens nothing); none for any other file.
    std::unique_ptr<AudioFile> takeSecondReader();
    // Reads `stream` (path() is its address). Its length is an estimate
    // until the end is read; it seeks back only as far as the stream holds.
    static Opened openStream(std::shared_ptr<PcmStream> stream);
    // Creates (replaces) `path` as a 32-bit float CAF for writing.
    static Opened createFloatCaf(const QString& path, double rate, int channels);
    // Creates (replaces) `path` as 32-bit float in the container its
    // extension names: ".caf", ".wav", ".aif"/".aiff", ".w64" or ".rf64";
    // another extension is an error.
    static Opened createFloat(const QString& path, double rate, int channels);

    ~AudioFile();
    AudioFile(const AudioFile&) = delete;
    AudioFile& operator=(const AudioFile&) = delete;

    double sampleRate() const { return m_rate; }
    int channels() const { return m_channels; }
    std::int64_t frames() const { return m_frames; }
    // The speaker position of each channel (see Downmix.h).
    const std::vector<Speaker>& layout() const { return m_layout; }
    // Bits of an integer source (8, 16, 24, 32); 0 for float and lossy ones.
    int sourceBits() const { return m_bits; }
    QString path() const { return m_path; }
    // FLAC through libsndfile: heavy to decode, exact and cheap to seek.
    bool isFlac() const { return m_isFlac; }
    // frames() is an estimate (an MP3 without a length header, ADTS AAC, a
    // file that stores no length): the real end is where the decoder runs
    // out, and frames() is exact from then on.
    bool lengthIsEstimate() const { return m_lengthIsEstimate; }
    // Seeks decode up to the target (the file stores no length, and its
    // decoder cannot seek without one): slow, and no second reader helps.
    bool seeksByReading() const { return m_seeksByReading; }
    // The sound comes from a stream: it cannot be opened again by path, and
    // a read may wait on the network.
    bool isStream() const { return m_stream != nullptr; }

    // Reads up to `frames` frames into `out` (frames × channels doubles).
    // Returns the frames read (fewer only at the end of the file), or -1 on
    // an error, described by error(). An MP3 without a length header whose
    // frames disagree by more than 1 % with the length libsndfile assumes
    // (and stops at) fails its first read or seek: only a decoder that reads
    // to the end (ffmpeg) plays it whole.
    std::int64_t read(double* out, std::int64_t frames);
    // Moves the read position to `frame` (clamped to the length).
    bool seek(std::int64_t frame);
    std::int64_t position() const { return m_position; }

    // Appends `frames` frames; false (with error()) when the write fails.
    bool write(const double* in, std::int64_t frames);
    // Completes a written file; false when the data could not be stored.
    // `sync` waits until the data is on the disk; a temporary file that is
    // made again when lost (a render) need not wait for the disk.
    bool close(bool sync = true);

    QString error() const { return m_error; }
    // The last failed write or close met a full disk or quota: the file's
    // folder has no room, which is not the file's fault.
    bool noRoom() const { return m_noRoom; }

private:
    AudioFile() = default;
    // `container` is a libsndfile major format; 0 is refused.
    static Opened createFloat(const QString& path, double rate, int channels, int container);
    bool seekByReading(std::int64_t frame);
    // Another reader of the same open file, at its start; none when the
    // file is not read through libsndfile.
    std::unique_ptr<AudioFile> twin() const;
    // The frame count of an MP3, done once; false (with error()) when the
    // file cannot be played whole through libsndfile.
    bool lengthHolds();

    sf_private_tag* m_file = nullptr;
    // The file opened once, shared by its readers.
    std::shared_ptr<const OpenedFile> m_opened;
    // What m_file reads: the file from an offset (past a large ID3v2 tag,
    // for an MP3; see open()), at a position of its own.
    std::unique_ptr<FileView> m_view;
    // Instead, for a FLAC libsndfile refuses for its tags.
    std::unique_ptr<FlacMetaMask> m_mask;
    std::unique_ptr<AudioFile> m_second;  // prepareSecondReader()
    std::unique_ptr<CodecReader> m_codec; // instead of m_file
    std::shared_ptr<PcmStream> m_stream;  // instead of either
    QString m_path;
    QString m_error;
    bool m_noRoom = false;
    double m_rate = 0;
    int m_channels = 0;
    std::int64_t m_frames = 0;
    std::int64_t m_position = 0;
    int m_bits = 0;
    bool m_writing = false;
    bool m_lengthIsEstimate = false;
    bool m_isFlac = false;
    bool m_seeksByReading = false;
    bool m_countFrames = false; // an MP3 whose frames are still to be counted
    bool m_refused = false;     // counted, and libsndfile would stop short
    std::vector<Speaker> m_layout;
};

} // namespace ql::platform
