#include "platform/audio/AudioFile.h"

#include "platform/audio/CodecReader.h"
#include "platform/audio/FfmpegGate.h"
#include "platform/audio/FlacMetaMask.h"
#include "platform/audio/FlacTail.h"
#include "platform/audio/MpegLength.h"
#include "platform/audio/PcmStream.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <sndfile.h>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace ql::platform {

namespace {

int bitsOf(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
        return 8;
    case SF_FORMAT_PCM_16:
        return 16;
    case SF_FORMAT_PCM_24:
        return 24;
    case SF_FORMAT_PCM_32:
        return 32;
    default:
        return 0;
    }
}

// A length for a file that stores none and whose last frames do not tell it
// either, from its size: lossless coding roughly halves the PCM size. Only
// shown until the decoder finds the end.
std::int64_t estimateFrames(qint64 bytes, int channels, int bits) {
    const int bytesPerSample = bits > 0 ? (bits + 7) / 8 : 2;
    return std::max<std::int64_t>(bytes * 2 / (std::int64_t(channels) * bytesPerSample), 1);
}

Speaker speakerOf(int position) {
    switch (position) {
    case SF_CHANNEL_MAP_LEFT:
    case SF_CHANNEL_MAP_FRONT_LEFT:
        return Speaker::Left;
    case SF_CHANNEL_MAP_RIGHT:
    case SF_CHANNEL_MAP_FRONT_RIGHT:
        return Speaker::Right;
    case SF_CHANNEL_MAP_MONO:
    case SF_CHANNEL_MAP_CENTER:
    case SF_CHANNEL_MAP_FRONT_CENTER:
        return Speaker::Centre;
    case SF_CHANNEL_MAP_LFE:
        return Speaker::Lfe;
    case SF_CHANNEL_MAP_REAR_LEFT:
        return Speaker::BackLeft;
    case SF_CHANNEL_MAP_REAR_RIGHT:
        return Speaker::BackRight;
    case SF_CHANNEL_MAP_REAR_CENTER:
        return Speaker::BackCentre;
    case SF_CHANNEL_MAP_SIDE_LEFT:
        return Speaker::SideLeft;
    case SF_CHANNEL_MAP_SIDE_RIGHT:
        return Speaker::SideRight;
    case SF_CHANNEL_MAP_FRONT_LEFT_OF_CENTER:
        return Speaker::LeftOfCentre;
    case SF_CHANNEL_MAP_FRONT_RIGHT_OF_CENTER:
        return Speaker::RightOfCentre;
    case SF_CHANNEL_MAP_TOP_FRONT_LEFT:
    case SF_CHANNEL_MAP_TOP_REAR_LEFT:
        return Speaker::TopLeft;
    case SF_CHANNEL_MAP_TOP_FRONT_RIGHT:
    case SF_CHANNEL_MAP_TOP_REAR_RIGHT:
        return Speaker::TopRight;
    case SF_CHANNEL_MAP_TOP_CENTER:
    case SF_CHANNEL_MAP_TOP_FRONT_CENTER:
    case SF_CHANNEL_MAP_TOP_REAR_CENTER:
        return Speaker::TopCentre;
    default:
        return Speaker::Other;
    }
}

// The file's own channel mask where it has one, else its container's order.
std::vector<Speaker> layoutOf(SNDFILE* f, const SF_INFO& sf) {
    std::vector<int> map(std::size_t(sf.channels), SF_CHANNEL_MAP_INVALID);
    if (sf_command(f, SFC_GET_CHANNEL_MAP_INFO, map.data(), int(map.size() * sizeof(int))) ==
            SF_TRUE &&
        std::none_of(map.begin(), map.end(), [](int p) { return p == SF_CHANNEL_MAP_INVALID; })) {
        std::vector<Speaker> layout;
        for (int p : map)
            layout.push_back(speakerOf(p));
        return layout;
    }
    return defaultLayout(sf.channels, (sf.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_OGG);
}

// From this size on a leading ID3v2 block is read past (tags with a cover
// picture are larger; a tag block of a few thousand text frames, which
// libmpg123 gathers in a fraction of a second, is smaller).
constexpr qint64 kLargeTags = 256 * 1024;

// How far past its tags the first frame of an MP3 is looked for, as a
// decoder resyncs over what a tag writer left behind it (padding the tag
// does not count, stray bytes).
constexpr qint64 kResyncReach = 1024 * 1024;

// Where libsndfile is to read the MP3 open as `fd`, with leading ID3v2 tags
// of kLargeTags or more, from: its first frame (MpegLength's resync). 0 for
// a file that does not start so; -1 when no frame is found within reach of
// the tags.
qint64 audioPastLargeTags(int fd) {
    const MpegStart start = mpegStartOfFile(fd, kResyncReach, kLargeTags);
    if (start.pastTags < kLargeTags)
        return 0;
    return start.frame ? *start.frame : -1;
}

// Whether the ID3v2 tags at the start of the file open as `fd` hold more
// frames than FfmpegGate's bound: libmpg123 would gather them for minutes.
bool crowdedId3(int fd) {
    return FfmpegGate::id3Frames(fd) > FfmpegGate::kManyTags;
}

// A descriptor of the same open file for a reader that closes its own (the
// FLAC mask, FFmpeg): no second open.
int shareOf(int fd) {
    return ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
}

} // namespace

struct OpenedFile {
    explicit OpenedFile(int fd) : fd(fd) {}
    ~OpenedFile() { ::close(fd); }
    OpenedFile(const OpenedFile&) = delete;
    OpenedFile& operator=(const OpenedFile&) = delete;
    const int fd;
};

// libsndfile's view of an opened file: from `from` on, as if it started
// there, read at a position of its own (pread), so that several views of
// one descriptor never move each other.
struct FileView {
    std::shared_ptr<const OpenedFile> file;
    std::int64_t from = 0;
    std::int64_t at = 0;

    static FileView& of(void* data) { return *static_cast<FileView*>(data); }
    static sf_count_t length(void* data) {
        const FileView& v = of(data);
        struct stat st {};
        return ::fstat(v.file->fd, &st) == 0 ? std::max<sf_count_t>(st.st_size - v.from, 0) : 0;
    }
    static sf_count_t seek(sf_count_t offset, int whence, void* data) {
        FileView& v = of(data);
        const sf_count_t base = whence == SEEK_CUR ? v.at : whence == SEEK_END ? length(data) : 0;
        if (base + offset < 0)
            return -1;
        v.at = base + offset;
        return v.at;
    }
    static sf_count_t read(void* out, sf_count_t count, void* data) {
        FileView& v = of(data);
        sf_count_t done = 0;
        while (done < count) {
            const ssize_t got = ::pread(v.file->fd, static_cast<char*>(out) + done,
                                        std::size_t(count - done), off_t(v.from + v.at + done));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            done += got;
        }
        v.at += done;
        return done;
    }
    static sf_count_t write(const void*, sf_count_t, void*) { return 0; }
    static sf_count_t tell(void* data) { return of(data).at; }
};

namespace {

// libsndfile reading `file` from `from` on; the view it reads through goes
// into `view` (which must outlive the SNDFILE).
SNDFILE* openView(const std::shared_ptr<const OpenedFile>& file, qint64 from, SF_INFO& sf,
                  std::unique_ptr<FileView>& view) {
    view = std::make_unique<FileView>();
    view->file = file;
    view->from = from;
    SF_VIRTUAL_IO io{&FileView::length, &FileView::seek, &FileView::read, &FileView::write,
                     &FileView::tell};
    SNDFILE* f = sf_open_virtual(&io, SFM_READ, &sf, view.get());
    if (!f)
        view.reset();
    return f;
}

QString describe(const QString& path, const QString& what) {
    return QStringLiteral("Cannot read “%1”: %2").arg(QFileInfo(path).fileName(), what);
}

} // namespace

AudioFile::Opened AudioFile::open(const QString& path, QDeadlineTimer deadline) {
    Opened r;
    // Not blocking: a named pipe must not hold the open until a writer
    // comes (it is refused below, as is anything but a file).
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        r.error =
            describe(path, errno == ENOENT ? QStringLiteral("the file does not exist.")
                                           : QString::fromLocal8Bit(std::strerror(errno)) + u'.');
        return r;
    }
    const auto opened = std::make_shared<const OpenedFile>(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        r.error = describe(path, QStringLiteral("it is not a file."));
        return r;
    }
    SF_INFO sf{};
    std::unique_ptr<FileView> view;
    SNDFILE* f = nullptr;
    const qint64 audio = audioPastLargeTags(fd);
    if (audio > 0)
        f = openView(opened, audio, sf, view);
    const bool pastTags = f != nullptr;
    // Large tags with no frame read past them are handed to libsndfile
    // whole only when they hold few frames.
    if (!f && (audio == 0 || !crowdedId3(fd))) {
        sf = SF_INFO{};
        f = openView(opened, 0, sf, view);
    }
    std::unique_ptr<FlacMetaMask> mask;
    QString refused;
    if (!f) {
        refused = QString::fromUtf8(sf_strerror(nullptr));
        if ((mask = FlacMetaMask::open(shareOf(fd), sf)))
            f = mask->file();
    }
    if (!f && FfmpegGate::kept(path, fd)) {
        // FFmpeg would parse the very tags the mask hides (or the tags of
        // another format), for minutes, or walk FLAC blocks libFLAC cannot:
        // the file is refused here.
        r.keptFromFfmpeg = true;
        r.error = describe(path, FlacMetaMask::walk(fd).kind == FlacLayout::Kind::Unsound
                                     ? QStringLiteral("its FLAC metadata blocks are damaged.")
                                     : refused);
        return r;
    }
    if (!f) {
        // libsndfile's reason stands unless FFmpeg knows the file's kind.
        CodecReader::Opened c = CodecReader::open(shareOf(fd), path, deadline);
        if (!c.reader) {
            // An open that outlasted its deadline says nothing of the file
            // (a slow disk, a busy machine): the next one may well succeed,
            // so nothing is kept from FFmpeg for it.
            r.error = describe(path, c.recognised ? c.why : refused);
            return r;
        }
        std::unique_ptr<AudioFile> file(new AudioFile);
        file->m_path = path;
        file->m_rate = c.reader->sampleRate();
        file->m_channels = c.reader->channels();
        file->m_frames = c.reader->frames();
        file->m_bits = c.reader->sourceBits();
        file->m_lengthIsEstimate = c.reader->lengthIsEstimate();
        // FFmpeg hands channels over in its native order, which is WAV's.
        file->m_layout = defaultLayout(file->m_channels, false);
        file->m_codec = std::move(c.reader);
        r.file = std::move(file);
        return r;
    }
    if (sf.channels <= 0 || sf.samplerate <= 0 || sf.frames < 0) {
        sf_close(f);
        r.error = describe(path, QStringLiteral("it declares no usable audio stream."));
        return r;
    }
    // Read through the mask or past its tags: whether ffmpeg may read it is
    // asked now, off the main thread, so the answer is there when its first
    // read fails and the track end looks for another road.
    if (mask || pastTags)
        FfmpegGate::kept(path, fd);
    std::unique_ptr<AudioFile> file(new AudioFile);
    file->m_file = f;
    file->m_opened = opened;
    file->m_view = std::move(view);
    file->m_mask = std::move(mask);
    file->m_path = path;
    file->m_rate = sf.samplerate;
    file->m_channels = sf.channels;
    file->m_frames = sf.frames;
    file->m_bits = bitsOf(sf.format);
    file->m_lengthIsEstimate = (sf.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG;
    file->m_isFlac = (sf.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC;
    file->m_countFrames = (sf.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG;
    file->m_layout = layoutOf(f, sf);
    if (sf.frames == SF_COUNT_MAX) {
        // No stored length (a FLAC written through a pipe): only the decoder
        // finds the end, and libsndfile cannot seek in such a stream.
        file->m_lengthIsEstimate = true;
        file->m_seeksByReading = true;
        file->m_frames = flacLengthFromFrames(fd).value_or(
            estimateFrames(st.st_size, sf.channels, file->m_bits));
    }
    r.file = std::move(file);
    return r;
}

std::unique_ptr<AudioFile> AudioFile::twin() const {
    if (!m_file || !m_opened || m_writing)
        return nullptr;
    SF_INFO sf{};
    std::unique_ptr<FileView> view;
    std::unique_ptr<FlacMetaMask> mask;
    SNDFILE* f = nullptr;
    if (m_mask) {
        if ((mask = FlacMetaMask::open(shareOf(m_opened->fd), sf)))
            f = mask->file();
    } else {
        f = openView(m_opened, m_view ? m_view->from : 0, sf, view);
    }
    if (!f)
        return nullptr;
    std::unique_ptr<AudioFile> file(new AudioFile);
    file->m_file = f;
    file->m_opened = m_opened;
    file->m_view = std::move(view);
    file->m_mask = std::move(mask);
    file->m_path = m_path;
    file->m_rate = m_rate;
    file->m_channels = m_channels;
    file->m_frames = m_frames;
    file->m_bits = m_bits;
    file->m_lengthIsEstimate = m_lengthIsEstimate;
    file->m_isFlac = m_isFlac;
    file->m_seeksByReading = m_seeksByReading;
    file->m_countFrames = m_countFrames;
    file->m_refused = m_refused;
    file->m_layout = m_layout;
    return file;
}

void AudioFile::prepareSecondReader() {
    if (m_isFlac && !m_seeksByReading && !m_second)
        m_second = twin();
}

std::unique_ptr<AudioFile> AudioFile::takeSecondReader() {
    prepareSecondReader();
    return std::move(m_second);
}

AudioFile::Opened AudioFile::openStream(std::shared_ptr<PcmStream> stream) {
    Opened r;
    std::unique_ptr<AudioFile> file(new AudioFile);
    file->m_path = stream->address();
    file->m_rate = PcmStream::kRate;
    file->m_channels = PcmStream::kChannels;
    file->m_frames = std::int64_t(PcmStream::kEstimateSeconds * PcmStream::kRate);
    file->m_lengthIsEstimate = true;
    file->m_layout = defaultLayout(PcmStream::kChannels, false);
    file->m_stream = std::move(stream);
    r.file = std::move(file);
    return r;
}

AudioFile::Opened AudioFile::createFloatCaf(const QString& path, double rate, int channels) {
    return createFloat(path, rate, channels, SF_FORMAT_CAF);
}

AudioFile::Opened AudioFile::createFloat(const QString& path, double rate, int channels) {
    static const QHash<QString, int> containers{
        {QStringLiteral("caf"), SF_FORMAT_CAF},  {QStringLiteral("wav"), SF_FORMAT_WAV},
        {QStringLiteral("aif"), SF_FORMAT_AIFF}, {QStringLiteral("aiff"), SF_FORMAT_AIFF},
        {QStringLiteral("w64"), SF_FORMAT_W64},  {QStringLiteral("rf64"), SF_FORMAT_RF64},
    };
    return createFloat(path, rate, channels,
                       containers.value(QFileInfo(path).suffix().toLower(), 0));
}

AudioFile::Opened AudioFile::createFloat(const QString& path, double rate, int channels,
                                         int container) {
    Opened r;
    SF_INFO sf{};
    sf.samplerate = std::isfinite(rate) && rate > 0 && rate < 1e9 ? int(rate + 0.5) : 0;
    sf.channels = channels;
    sf.format = container | SF_FORMAT_FLOAT;
    if (container == 0 || channels <= 0 || sf.samplerate <= 0 || !sf_format_check(&sf)) {
        r.error = QStringLiteral("Cannot write “%1”: unsupported format.")
                      .arg(QFileInfo(path).fileName());
        return r;
    }
    SNDFILE* f = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &sf);
    if (!f) {
        r.error = QStringLiteral("Cannot write “%1”: %2")
                      .arg(QFileInfo(path).fileName(), QString::fromUtf8(sf_strerror(nullptr)));
        return r;
    }
    std::unique_ptr<AudioFile> file(new AudioFile);
    file->m_file = f;
    file->m_path = path;
    file->m_rate = sf.samplerate;
    file->m_channels = channels;
    file->m_writing = true;
    r.file = std::move(file);
    return r;
}

AudioFile::~AudioFile() {
    close();
}

bool AudioFile::lengthHolds() {
    if (!m_countFrames)
        return !m_refused;
    m_countFrames = false;
    // Without a length header libsndfile's length is a guess from the first
    // frame's bit rate, and it stops reading there: a stream whose frames
    // say otherwise cannot be played whole through it.
    const auto counted = mpegLengthOfFile(m_path);
    if (!counted || counted->hasLengthHeader ||
        std::abs(double(counted->frames - m_frames)) <= 0.01 * double(counted->frames))
        return true;
    m_error = describe(m_path, QStringLiteral("the MP3 has no length header, and its "
                                              "frames (%1 s) disagree with the length "
                                              "its decoder assumes (%2 s).")
                                   .arg(double(counted->frames) / m_rate, 0, 'f', 1)
                                   .arg(double(m_frames) / m_rate, 0, 'f', 1));
    m_refused = true;
    return false;
}

std::int64_t AudioFile::read(double* out, std::int64_t frames) {
    if (!lengthHolds())
        return -1;
    if ((!m_file && !m_codec && !m_stream) || m_writing) {
        m_error = describe(m_path, QStringLiteral("the file is not open for reading."));
        return -1;
    }
    // ADTS AAC, a stream and a file without a stored length may run past the
    // estimate: their decoder alone knows the end.
    const bool pastEstimate = (m_codec || m_stream || m_seeksByReading) && m_lengthIsEstimate;
    const std::int64_t want =
        pastEstimate ? frames : std::min(frames, std::max<std::int64_t>(m_frames - m_position, 0));
    if (want <= 0)
        return 0;
    std::int64_t got = 0;
    if (m_stream) {
        got = m_stream->read(out, want);
        if (got < 0) {
            m_error = m_stream->error();
            return -1;
        }
        m_position += got;
    } else if (m_codec) {
        got = m_codec->read(out, want);
        if (got < 0) {
            m_error = describe(m_path, m_codec->why());
            return -1;
        }
        m_position += got;
    } else {
        got = sf_readf_double(m_file, out, want);
        if (got > 0)
            m_position += got;
        // libsndfile reports a broken stream either through sf_error or by
        // returning less than the declared length before the end.
        if (sf_error(m_file) != SF_ERR_NO_ERROR) {
            m_error = describe(m_path, QString::fromUtf8(sf_strerror(m_file)));
            return -1;
        }
    }
    if (m_lengthIsEstimate) {
        // An MP3 without a length header, or ADTS AAC, declares an
        // estimate: its real end comes when the decoder runs out.
        if (got < want || m_position > m_frames)
            m_frames = m_position;
        if (got < want)
            m_lengthIsEstimate = false;
        return got;
    }
    if (got < want) {
        m_error =
            describe(m_path, QStringLiteral("the audio data ends before its declared length."));
        return -1;
    }
    return got;
}

bool AudioFile::seek(std::int64_t frame) {
    if (m_stream) {
        if (!m_stream->seek(frame)) {
            m_error = m_stream->error();
            return false;
        }
        m_position = m_stream->position();
        return true;
    }
    if (!lengthHolds() || (!m_file && !m_codec) || m_writing)
        return false;
    if (m_seeksByReading)
        return seekByReading(std::max<std::int64_t>(frame, 0));
    frame = std::clamp<std::int64_t>(frame, 0, m_frames);
    if (m_codec) {
        if (!m_codec->seek(frame)) {
            m_error = describe(m_path, m_codec->why());
            return false;
        }
        m_position = frame;
        return true;
    }
    if (frame == m_frames) {
        // Seeking onto the end is not allowed by every decoder; reads there
        // return nothing anyway.
        m_position = frame;
        return true;
    }
    if (sf_seek(m_file, frame, SEEK_SET) < 0) {
        m_error = describe(m_path, QString::fromUtf8(sf_strerror(m_file)));
        return false;
    }
    m_position = frame;
    return true;
}

// Backwards: the file is read again from its start (a fresh decoder of the
// file opened already); then decoded up to `frame`. A target past the end
// stops at the end, which makes the length known.
bool AudioFile::seekByReading(std::int64_t frame) {
    if (frame < m_position) {
        std::unique_ptr<AudioFile> again = twin();
        if (!again) {
            m_error = describe(m_path, QString::fromUtf8(sf_strerror(nullptr)));
            return false;
        }
        sf_close(m_file);
        m_file = std::exchange(again->m_file, nullptr);
        m_view = std::move(again->m_view);
        m_mask = std::move(again->m_mask);
        m_position = 0;
    }
    std::vector<double> skip(std::size_t(8192) * std::size_t(m_channels));
    while (m_position < frame) {
        const std::int64_t n = read(skip.data(), std::min<std::int64_t>(frame - m_position, 8192));
        if (n < 0)
            return false;
        if (n == 0)
            break;
    }
    return true;
}

bool AudioFile::write(const double* in, std::int64_t frames) {
    if (!m_file || !m_writing)
        return false;
    errno = 0;
    const sf_count_t put = sf_writef_double(m_file, in, frames);
    if (put != frames) {
        m_noRoom = errno == ENOSPC || errno == EDQUOT;
        m_error = QStringLiteral("Cannot write “%1”: %2")
                      .arg(QFileInfo(m_path).fileName(), QString::fromUtf8(sf_strerror(m_file)));
        return false;
    }
    m_frames += put;
    return true;
}

bool AudioFile::close(bool sync) {
    m_codec.reset();
    m_stream.reset();
    if (!m_file)
        return true;
    if (m_writing && sync)
        sf_write_sync(m_file);
    m_second.reset();
    errno = 0;
    const int rc = sf_close(m_file);
    const int closeErrno = errno;
    m_file = nullptr;
    m_mask.reset();
    m_view.reset();
    m_opened.reset();
    if (rc != 0) {
        m_noRoom = closeErrno == ENOSPC || closeErrno == EDQUOT;
        m_error = QStringLiteral("Cannot complete “%1”.").arg(QFileInfo(m_path).fileName());
        return false;
    }
    return true;
}

} // namespace ql::platform
