// An audio file for reading: WAV, AIFF, CAF, FLAC, Ogg Vorbis, Opus and MP3
// through libsndfile, which is tried first; AAC and ALAC (MPEG-4, ADTS, CAF)
// through FFmpeg (CodecReader) when libsndfile refuses the file. Callers
// never know which one reads. Writing: 32-bit float CAF through libsndfile.
//
// Reading gives interleaved doubles at full scale ±1.0, which hold every
// integer sample up to 32 bits exactly (see SampleCodec.h). A read that stops
// before the length the file declares, or that libsndfile flags, is an error,
// never a short success.
//
// Failures carry a sentence a user can read. One object is used by one thread
// at a time (the player's decoder thread once playback starts).
#pragma once

#include <QString>

#include <cstdint>
#include <memory>

struct sf_private_tag;

namespace ql::platform {

class CodecReader;

class AudioFile {
public:
    struct Opened {
        std::unique_ptr<AudioFile> file;
        QString error;
    };
    // Opens `path` for reading.
    static Opened open(const QString& path);
    // Creates (replaces) `path` as a 32-bit float CAF for writing.
    static Opened createFloatCaf(const QString& path, double rate, int channels);

    ~AudioFile();
    AudioFile(const AudioFile&) = delete;
    AudioFile& operator=(const AudioFile&) = delete;

    double sampleRate() const { return m_rate; }
    int channels() const { return m_channels; }
    std::int64_t frames() const { return m_frames; }
    // Bits of an integer source (8, 16, 24, 32); 0 for float and lossy ones.
    int sourceBits() const { return m_bits; }
    QString path() const { return m_path; }
    // FLAC through libsndfile: heavy to decode, exact and cheap to seek.
    bool isFlac() const { return m_isFlac; }

    // Reads up to `frames` frames into `out` (frames × channels doubles).
    // Returns the frames read (fewer only at the end of the file), or -1 on
    // an error, described by error().
    std::int64_t read(double* out, std::int64_t frames);
    // Moves the read position to `frame` (clamped to the length).
    bool seek(std::int64_t frame);
    std::int64_t position() const { return m_position; }

    // Appends `frames` frames; false (with error()) when the write fails.
    bool write(const double* in, std::int64_t frames);
    // Completes a written file; false when the data could not be stored.
    bool close();

    QString error() const { return m_error; }

private:
    AudioFile() = default;

    sf_private_tag* m_file = nullptr;
    std::unique_ptr<CodecReader> m_codec; // instead of m_file
    QString m_path;
    QString m_error;
    double m_rate = 0;
    int m_channels = 0;
    std::int64_t m_frames = 0;
    std::int64_t m_position = 0;
    int m_bits = 0;
    bool m_writing = false;
    bool m_lengthIsEstimate = false;
    bool m_isFlac = false;
};

} // namespace ql::platform
