// Sound streamed from a web address: an ffmpeg child decodes the address to
// 32-bit float PCM at a fixed rate and channel count on its standard output,
// and this reads it, for a player that plays what arrives (a 30 s preview
// clip) instead of a file.
//
// The child is started from an explicit program path with an argument
// vector, standard input and standard error on the null device. Only http
// and https addresses are taken, and the decoder may open nothing else
// ("-protocol_whitelist http,https,tls,tcp"): FFmpeg would otherwise read
// local files through "file:" or wrappers such as "concat:" and "subfile:".
// A network read that stalls for 15 s ends the stream.
//
// Reading: read() waits until it has the frames asked for or the child's
// output ends (the end of the clip, a failure, or end()), so a short read is
// the end. The last kHistorySeconds read stay in memory: the output engine
// moves a voice back to the frame last heard when it takes back what the
// device still holds (a pause, a seek, another player's start), and a
// stream cannot be read twice. A seek further back than that fails; a seek
// forward reads up to the frame.
//
// Ending: end() kills the child and reaps it; a read in progress then sees
// the end of its output. The destructor ends it too. A child that ended on
// its own is reaped by end() as well, so call it when the clip's end was
// heard.
//
// Threads: start() and end() on any thread, without waiting on the network;
// read() and seek() by one reading thread at a time (the player's read-ahead
// thread). Memory is taken at start() only.
#pragma once

#include <QString>
#include <QUrl>

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include <sys/types.h>

namespace ql::platform {

class PcmStream {
public:
    static constexpr double kRate = 44100.0;
    static constexpr int kChannels = 2;
    static constexpr double kHistorySeconds = 10.0;
    // The length a player assumes until the end is read: previews last
    // about 30 s.
    static constexpr double kEstimateSeconds = 30.0;

    struct Opened {
        std::shared_ptr<PcmStream> stream;
        QString error;
    };
    // Starts `ffmpeg` decoding `address`. Fails, with a readable sentence,
    // for an address that is not http or https and when the program cannot
    // be started.
    static Opened start(const QString& ffmpeg, const QUrl& address);
    // The arguments the decoder gets for `address`.
    static QStringList arguments(const QUrl& address);

    ~PcmStream();
    PcmStream(const PcmStream&) = delete;
    PcmStream& operator=(const PcmStream&) = delete;

    QString address() const { return m_address; }
    // Kills and reaps the child (once; later calls do nothing).
    void end();

    // Up to `frames` frames as interleaved doubles; fewer only at the end of
    // the output; -1 on a read error (see error()).
    std::int64_t read(double* out, std::int64_t frames);
    // Moves the read position to `frame`; false (with error()) when that
    // frame is no longer held.
    bool seek(std::int64_t frame);
    std::int64_t position() const { return m_position; }
    QString error() const { return m_error; }

private:
    PcmStream(pid_t pid, int fd, QString address);
    // Takes what the pipe has (waiting for some); false at its end.
    bool fill();

    std::mutex m_childMutex; // the child's pid and whether it was reaped
    pid_t m_pid = -1;
    bool m_reaped = false;

    // ---- the reading thread ----
    const int m_fd;
    const QString m_address;
    std::vector<float> m_history; // a ring of the last frames read
    std::int64_t m_capacity = 0;  // frames the ring holds
    std::int64_t m_have = 0;      // frames taken from the pipe so far
    std::int64_t m_position = 0;  // the frame read() returns next
    std::vector<char> m_bytes;    // one pipe read, and a partial frame kept from the last
    std::size_t m_partial = 0;
    bool m_ended = false;
    QString m_error;
};

} // namespace ql::platform
