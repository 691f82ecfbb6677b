// Reads AAC and ALAC audio through FFmpeg's libavformat and libavcodec: in
// MPEG-4 files (.m4a, .mp4, .m4b), in CAF, and as ADTS (.aac). The first
// audio stream is taken, and only when it holds AAC or ALAC; everything else
// is refused, so that other formats keep their own road.
//
// What it promises is AudioFile's contract (AudioFile holds one of these
// when libsndfile refuses a file), frame for frame:
//  - samples as doubles at full scale: ALAC's integers exactly, AAC's float
//    output as the decoder gives it;
//  - the length is what the decoder delivers once the encoder delay and
//    padding are trimmed, measured at open by decoding the last packets.
//    ADTS has no index: its length is the demuxer's estimate until the
//    decoder runs out;
//  - a seek lands on the exact frame: the demuxer is placed a pre-roll
//    before the target (AAC overlaps the previous frame), and what the
//    decoder gives before the target is dropped;
//  - a packet the demuxer marks corrupt, a decoder error or a change of
//    rate or channels part-way is an error.
//
// Opening reads the container's whole header, tags included, and FFmpeg
// gathers tags at a cost that grows with the square of their number: an
// open given a deadline is broken off when the deadline passes (FFmpeg asks
// at every block it reads, tags too) and refused as too slow. Reads after
// the open are never broken off.
//
// It reads a file opened already (AudioFile's one open of it), through a
// descriptor it is given and closes, at a position of its own.
//
// One object is used by one thread at a time; it keeps its own demuxer and
// decoder. Allocation happens here (FFmpeg's packets and frames), which is
// why it only ever runs on the read-ahead workers, never on the feeder.
#pragma once

#include <QDeadlineTimer>
#include <QString>

#include <cstdint>
#include <memory>

struct AVFormatContext;
struct AVIOContext;
struct AVCodecContext;
struct AVPacket;
struct AVFrame;

namespace ql::platform {

class CodecReader {
public:
    struct Opened {
        std::unique_ptr<CodecReader> reader;
        QString why; // the reason, as a clause: "it is damaged."
        // False when no demuxer of ours recognised the file at all.
        bool recognised = false;
    };
    // Reads the file open as `fd` (taken, and closed with the reader), whose
    // path is `path`.
    static Opened open(int fd, const QString& path,
                       QDeadlineTimer deadline = QDeadlineTimer(QDeadlineTimer::Forever));
    ~CodecReader();
    CodecReader(const CodecReader&) = delete;
    CodecReader& operator=(const CodecReader&) = delete;

    double sampleRate() const { return m_rate; }
    int channels() const { return m_channels; }
    std::int64_t frames() const { return m_frames; }
    int sourceBits() const { return m_bits; }
    // True for ADTS: frames() is an estimate, and reading goes on until the
    // decoder runs out.
    bool lengthIsEstimate() const { return m_estimate; }

    // Reads up to `frames` frames from the current position: the frames
    // read, fewer only where the decoder ran out, or -1 (see why()).
    std::int64_t read(double* out, std::int64_t frames);
    // Places the next read at `frame`.
    bool seek(std::int64_t frame);
    QString why() const { return m_why; }

private:
    CodecReader() = default;
    bool start(const QString& path, Opened& r);
    // FFmpeg's interrupt callback: the open's deadline has passed.
    static int overdue(void* reader);
    // FFmpeg's reads and seeks of the file, through m_fd at m_at; a read
    // past the open's deadline is broken off.
    static int readFile(void* reader, std::uint8_t* buffer, int size);
    static std::int64_t seekFile(void* reader, std::int64_t offset, int whence);
    bool freshDecoder();
    bool measureEnd();
    // The decoder's next frame: 1, 0 when it has delivered everything, -1
    // on an error (why() tells).
    int decodeNext();
    // decodeNext(), and where the frame starts.
    int nextFrame();
    // Places the demuxer at or before frame `from`.
    bool seekDemuxer(std::int64_t from);
    // Places the demuxer a pre-roll before `frame` and decodes up to it.
    bool placeAt(std::int64_t frame);
    std::int64_t sampleOf(std::int64_t pts) const;
    std::int64_t ptsOf(std::int64_t frame) const;
    int fail(const QString& why);

    int m_fd = -1;
    std::int64_t m_at = 0;
    AVIOContext* m_io = nullptr;
    AVFormatContext* m_format = nullptr;
    AVCodecContext* m_codec = nullptr;
    AVPacket* m_packet = nullptr;
    AVFrame* m_frame = nullptr;
    int m_stream = -1;
    int m_tbNum = 1, m_tbDen = 1;  // the stream's time base
    std::int64_t m_firstPts = 0;   // the first delivered frame's time stamp
    std::int64_t m_preroll = 0;    // frames decoded and dropped before a seek target
    std::int64_t m_frameStart = 0; // the frame the current decoded frame starts at
    int m_frameSamples = 0;        // its length
    int m_frameUsed = 0;           // of its samples, those handed out or dropped
    bool m_haveFrame = false;
    bool m_anchor = false;   // the next frame is placed by its time stamp
    bool m_flushing = false; // the demuxer ran out; the decoder is draining
    std::int64_t m_next = 0; // the frame the next read delivers
    double m_rate = 0;
    int m_channels = 0;
    std::int64_t m_frames = 0;
    int m_bits = 0;
    bool m_estimate = false;
    QString m_why;
    QDeadlineTimer m_deadline{QDeadlineTimer::Forever}; // of the open; then forever
};

} // namespace ql::platform
