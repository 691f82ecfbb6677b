#include "platform/audio/CodecReader.h"

#include <QFile>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avstring.h>
#include <libavutil/mathematics.h>
}

#include <algorithm>
#include <cerrno>
#include <mutex>

#include <sys/stat.h>
#include <unistd.h>

namespace ql::platform {

namespace {

// The demuxers whose files the player opens itself: MPEG-4 (and QuickTime),
// ADTS, CAF.
constexpr const char* kDemuxers = "mov,aac,caf";
constexpr int kMaxChannels = 32;

const QString kDamaged = QStringLiteral("its audio data is damaged.");

bool supportedFormat(int format) {
    switch (format) {
    case AV_SAMPLE_FMT_S16:
    case AV_SAMPLE_FMT_S16P:
    case AV_SAMPLE_FMT_S32:
    case AV_SAMPLE_FMT_S32P:
    case AV_SAMPLE_FMT_FLT:
    case AV_SAMPLE_FMT_FLTP:
    case AV_SAMPLE_FMT_DBL:
    case AV_SAMPLE_FMT_DBLP:
        return true;
    default:
        return false;
    }
}

// `count` frames of `f` from frame `from` as interleaved doubles. Integers
// are scaled by a power of two, so every one of them stays exact.
template <typename T>
void copyOut(const AVFrame* f, int channels, int from, int count, double scale, double* out) {
    const bool planar = av_sample_fmt_is_planar(AVSampleFormat(f->format));
    for (int c = 0; c < channels; ++c) {
        const T* p = planar ? reinterpret_cast<const T*>(f->extended_data[c]) + from
                            : reinterpret_cast<const T*>(f->extended_data[0]) +
                                  std::ptrdiff_t(from) * channels + c;
        const int stride = planar ? 1 : channels;
        for (int i = 0; i < count; ++i)
            out[std::ptrdiff_t(i) * channels + c] = double(p[std::ptrdiff_t(i) * stride]) * scale;
    }
}

void convert(const AVFrame* f, int channels, int from, int count, double* out) {
    switch (av_get_packed_sample_fmt(AVSampleFormat(f->format))) {
    case AV_SAMPLE_FMT_S16:
        copyOut<std::int16_t>(f, channels, from, count, 1.0 / 32768.0, out);
        break;
    case AV_SAMPLE_FMT_S32:
        copyOut<std::int32_t>(f, channels, from, count, 1.0 / 2147483648.0, out);
        break;
    case AV_SAMPLE_FMT_FLT:
        copyOut<float>(f, channels, from, count, 1.0, out);
        break;
    default:
        copyOut<double>(f, channels, from, count, 1.0, out);
        break;
    }
}

// What FFmpeg reads of the file at a time.
constexpr int kIoBuffer = 32 * 1024;

} // namespace

CodecReader::Opened CodecReader::open(int fd, const QString& path, QDeadlineTimer deadline) {
    // FFmpeg would print its complaints about damaged files on stderr.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });

    Opened r;
    std::unique_ptr<CodecReader> reader(new CodecReader);
    reader->m_fd = fd;
    if (fd < 0)
        return r;
    reader->m_deadline = deadline;
    const bool started = reader->start(path, r);
    // Whatever FFmpeg made of a block it was cut off in, the file is refused.
    if (reader->m_deadline.hasExpired()) {
        r.why = QStringLiteral("it takes too long to open.");
        return r;
    }
    reader->m_deadline = QDeadlineTimer(QDeadlineTimer::Forever);
    if (started)
        r.reader = std::move(reader);
    return r;
}

CodecReader::~CodecReader() {
    av_frame_free(&m_frame);
    av_packet_free(&m_packet);
    avcodec_free_context(&m_codec);
    avformat_close_input(&m_format);
    if (m_io) {
        av_freep(&m_io->buffer);
        avio_context_free(&m_io);
    }
    if (m_fd >= 0)
        ::close(m_fd);
}

int CodecReader::readFile(void* reader, std::uint8_t* buffer, int size) {
    CodecReader& r = *static_cast<CodecReader*>(reader);
    if (r.m_deadline.hasExpired())
        return AVERROR_EXIT;
    ssize_t got = -1;
    do
        got = ::pread(r.m_fd, buffer, std::size_t(size), off_t(r.m_at));
    while (got < 0 && errno == EINTR);
    if (got < 0)
        return AVERROR(errno);
    if (got == 0)
        return AVERROR_EOF;
    r.m_at += got;
    return int(got);
}

std::int64_t CodecReader::seekFile(void* reader, std::int64_t offset, int whence) {
    CodecReader& r = *static_cast<CodecReader*>(reader);
    struct stat st {};
    const auto size = [&] { return ::fstat(r.m_fd, &st) == 0 ? std::int64_t(st.st_size) : -1; };
    if (whence & AVSEEK_SIZE)
        return size();
    std::int64_t base = 0;
    switch (whence & ~AVSEEK_FORCE) {
    case SEEK_SET:
        break;
    case SEEK_CUR:
        base = r.m_at;
        break;
    case SEEK_END:
        base = size();
        if (base < 0)
            return AVERROR(EIO);
        break;
    default:
        return AVERROR(EINVAL);
    }
    if (base + offset < 0)
        return AVERROR(EINVAL);
    r.m_at = base + offset;
    return r.m_at;
}

bool CodecReader::start(const QString& path, Opened& r) {
    const QByteArray name = QFile::encodeName(path);
    auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBuffer));
    m_io = buffer ? avio_alloc_context(buffer, kIoBuffer, 0, this, &CodecReader::readFile, nullptr,
                                       &CodecReader::seekFile)
                  : nullptr;
    if (!m_io) {
        av_free(buffer);
        return false;
    }
    // The demuxer FFmpeg finds for the file, when it is one of ours; what it
    // read to find it is kept for the demuxer.
    const AVInputFormat* demuxer = nullptr;
    const int score = av_probe_input_buffer2(m_io, &demuxer, name.constData(), nullptr, 0, 0);
    if (score < 0 || !demuxer || av_match_list(demuxer->name, kDemuxers, ',') <= 0)
        return false;
    r.recognised = true;
    m_format = avformat_alloc_context();
    if (!m_format) {
        r.why = QStringLiteral("the file is damaged or incomplete.");
        return false;
    }
    m_format->pb = m_io;
    m_format->flags |= AVFMT_FLAG_CUSTOM_IO;
    m_format->interrupt_callback = AVIOInterruptCB{&CodecReader::overdue, this};
    AVDictionary* options = nullptr;
    av_dict_set(&options, "format_whitelist", kDemuxers, 0);
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    const int opened = avformat_open_input(&m_format, name.constData(), demuxer, &options);
    av_dict_free(&options);
    if (opened < 0) {
        r.why = QStringLiteral("the file is damaged or incomplete.");
        return false;
    }
    // ADTS states no length: the demuxer estimates one from the bit rate.
    m_estimate = av_match_list(demuxer->name, "aac", ',') > 0;
    if (m_estimate && avformat_find_stream_info(m_format, nullptr) < 0) {
        r.why = kDamaged;
        return false;
    }
    for (unsigned i = 0; i < m_format->nb_streams; ++i) {
        AVStream* s = m_format->streams[i];
        if (m_stream < 0 && s->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            m_stream = int(i);
        else
            s->discard = AVDISCARD_ALL;
    }
    if (m_stream < 0) {
        r.why = QStringLiteral("it holds no audio stream.");
        return false;
    }
    AVStream* stream = m_format->streams[m_stream];
    const AVCodecID id = stream->codecpar->codec_id;
    if (id != AV_CODEC_ID_AAC && id != AV_CODEC_ID_ALAC) {
        r.why = QStringLiteral("it holds %1 audio, which the player does not open directly.")
                    .arg(QString::fromUtf8(avcodec_get_name(id)).toUpper());
        return false;
    }
    m_tbNum = stream->time_base.num;
    m_tbDen = stream->time_base.den;
    m_packet = av_packet_alloc();
    m_frame = av_frame_alloc();
    if (!m_packet || !m_frame || m_tbNum <= 0 || m_tbDen <= 0 || !freshDecoder()) {
        r.why = QStringLiteral("its audio stream cannot be decoded.");
        return false;
    }
    // AAC overlaps each frame with the one before (and SBR keeps more
    // history): a few frames are decoded and dropped before a seek target.
    m_preroll = id == AV_CODEC_ID_AAC ? 8192 : 0;

    // The first frame tells the decoded rate and channels (HE-AAC doubles
    // the rate the container states) and where frame 0 sits in time.
    m_anchor = true;
    const int first = nextFrame();
    if (first <= 0) {
        r.why = first < 0 ? m_why : QStringLiteral("it holds no audio.");
        return false;
    }
    m_rate = m_frame->sample_rate;
    m_channels = m_frame->ch_layout.nb_channels;
    if (m_rate <= 0 || m_channels <= 0 || m_channels > kMaxChannels) {
        r.why = QStringLiteral("it declares no usable audio stream.");
        return false;
    }
    if (id == AV_CODEC_ID_ALAC) {
        // The stream's raw bits, in the widths the engine knows (20-bit
        // ALAC counts as 24).
        const int raw = m_codec->bits_per_raw_sample > 0 ? m_codec->bits_per_raw_sample
                                                         : stream->codecpar->bits_per_coded_sample;
        m_bits = raw <= 0 ? 0 : raw <= 16 ? 16 : raw <= 24 ? 24 : 32;
    }

    if (!m_estimate && avformat_index_get_entries_count(stream) > 0) {
        if (!measureEnd() || !placeAt(0)) {
            r.why = m_why;
            return false;
        }
    } else {
        // No index: the demuxer's estimate, until the decoder runs out.
        m_estimate = true;
        if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
            m_frames = std::max<std::int64_t>(sampleOf(m_firstPts + stream->duration), 0);
        else if (m_format->duration != AV_NOPTS_VALUE && m_format->duration > 0)
            m_frames = av_rescale(m_format->duration, std::int64_t(m_rate), AV_TIME_BASE);
    }
    return true;
}

int CodecReader::overdue(void* reader) {
    return static_cast<CodecReader*>(reader)->m_deadline.hasExpired() ? 1 : 0;
}

bool CodecReader::freshDecoder() {
    // A new decoder rather than a flushed one: a flushed AAC decoder keeps
    // some state (its noise generator among it), and the samples after a
    // seek to the start must be the very samples of the first decode.
    avcodec_free_context(&m_codec);
    m_flushing = false;
    const AVCodecParameters* params = m_format->streams[m_stream]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(params->codec_id);
    m_codec = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (!m_codec || avcodec_parameters_to_context(m_codec, params) < 0)
        return false;
    // Frames carry time stamps in the stream's time base, trimmed where the
    // container cuts the encoder delay.
    m_codec->pkt_timebase = m_format->streams[m_stream]->time_base;
    m_codec->thread_count = 1;
    return avcodec_open2(m_codec, codec, nullptr) >= 0;
}

std::int64_t CodecReader::sampleOf(std::int64_t pts) const {
    return av_rescale_q_rnd(pts - m_firstPts, AVRational{m_tbNum, m_tbDen},
                            AVRational{1, int(m_rate)}, AV_ROUND_NEAR_INF);
}

std::int64_t CodecReader::ptsOf(std::int64_t frame) const {
    return m_firstPts + av_rescale_q_rnd(frame, AVRational{1, int(m_rate)},
                                         AVRational{m_tbNum, m_tbDen}, AV_ROUND_DOWN);
}

int CodecReader::fail(const QString& why) {
    m_why = why;
    m_haveFrame = false;
    return -1;
}

int CodecReader::decodeNext() {
    for (;;) {
        int rc = avcodec_receive_frame(m_codec, m_frame);
        if (rc == 0) {
            const AVFrame& f = *m_frame;
            if ((f.flags & AV_FRAME_FLAG_CORRUPT) || f.decode_error_flags)
                return fail(kDamaged);
            if (!supportedFormat(f.format) || f.ch_layout.nb_channels <= 0 ||
                (m_channels &&
                 (f.ch_layout.nb_channels != m_channels || f.sample_rate != int(m_rate))))
                return fail(QStringLiteral("its audio changes format part-way."));
            if (f.nb_samples > 0)
                return 1;
            continue;
        }
        if (rc == AVERROR_EOF)
            return 0;
        if (rc != AVERROR(EAGAIN) || m_flushing)
            return fail(kDamaged);
        rc = av_read_frame(m_format, m_packet);
        if (rc == AVERROR_EOF) {
            // Drains what the decoder still holds.
            m_flushing = true;
            avcodec_send_packet(m_codec, nullptr);
            continue;
        }
        if (rc < 0)
            return fail(kDamaged);
        if (m_packet->stream_index != m_stream) {
            av_packet_unref(m_packet);
            continue;
        }
        const bool corrupt = m_packet->flags & AV_PKT_FLAG_CORRUPT;
        rc = corrupt ? -1 : avcodec_send_packet(m_codec, m_packet);
        av_packet_unref(m_packet);
        if (rc < 0)
            return fail(kDamaged);
    }
}

int CodecReader::nextFrame() {
    const std::int64_t following = m_frameStart + m_frameSamples;
    const int rc = decodeNext();
    if (rc <= 0) {
        m_haveFrame = false;
        return rc;
    }
    m_frameSamples = m_frame->nb_samples;
    m_frameUsed = 0;
    m_haveFrame = true;
    if (!m_anchor) {
        m_frameStart = following;
        return 1;
    }
    // After a seek the time stamp tells where the decoder is; from there on
    // frames follow each other without gaps.
    m_anchor = false;
    std::int64_t pts = m_frame->pts;
    if (pts == AV_NOPTS_VALUE)
        pts = m_frame->best_effort_timestamp;
    if (m_rate == 0) { // the very first frame: frame 0
        m_firstPts = pts == AV_NOPTS_VALUE ? 0 : pts;
        m_frameStart = 0;
        return 1;
    }
    if (pts == AV_NOPTS_VALUE)
        return fail(QStringLiteral("its audio cannot be positioned."));
    m_frameStart = sampleOf(pts);
    return 1;
}

bool CodecReader::measureEnd() {
    // From a few packets before the last one to the end: the last frame the
    // decoder delivers, trimmed of the padding, ends the file.
    AVStream* stream = m_format->streams[m_stream];
    const int count = avformat_index_get_entries_count(stream);
    const AVIndexEntry* e = avformat_index_get_entry(stream, std::max(count - 4, 0));
    if (!e || av_seek_frame(m_format, m_stream, e->timestamp, AVSEEK_FLAG_BACKWARD) < 0 ||
        !freshDecoder()) {
        m_why = QStringLiteral("its length cannot be found.");
        return false;
    }
    m_anchor = true;
    std::int64_t end = -1;
    int rc = 0;
    while ((rc = nextFrame()) > 0)
        end = m_frameStart + m_frameSamples;
    if (rc < 0)
        return false;
    if (end <= 0) {
        m_why = QStringLiteral("its length cannot be found.");
        return false;
    }
    m_frames = end;
    return true;
}

bool CodecReader::seekDemuxer(std::int64_t from) {
    if (from > 0 && av_seek_frame(m_format, m_stream, ptsOf(from), AVSEEK_FLAG_BACKWARD) >= 0)
        return true;
    // The first packet: the one that carries the start's trim. A stamp before
    // every packet finds it through an index; a file without one goes back
    // to its first byte.
    constexpr std::int64_t kBeforeAll = -(std::int64_t(1) << 48);
    return av_seek_frame(m_format, m_stream, kBeforeAll, AVSEEK_FLAG_BACKWARD) >= 0 ||
           av_seek_frame(m_format, -1, 0, AVSEEK_FLAG_BYTE) >= 0;
}

bool CodecReader::placeAt(std::int64_t target) {
    // A second pass starts from the first packet, for a demuxer that placed
    // itself after the target.
    for (const std::int64_t from :
         {std::max<std::int64_t>(target - m_preroll, 0), std::int64_t(0)}) {
        if (!seekDemuxer(from) || !freshDecoder()) {
            fail(QStringLiteral("its audio cannot be positioned."));
            return false;
        }
        m_anchor = true;
        m_haveFrame = false;
        m_frameSamples = 0;
        int rc = 0;
        while ((rc = nextFrame()) > 0 && m_frameStart + m_frameSamples <= target) {
        }
        if (rc < 0)
            return false;
        if (rc == 0) { // the decoder ran out before the target: reads give nothing
            m_next = target;
            m_frameStart = target;
            return true;
        }
        if (m_frameStart <= target) {
            m_frameUsed = int(target - m_frameStart);
            m_next = target;
            return true;
        }
        if (from == 0)
            break;
    }
    fail(QStringLiteral("its audio cannot be positioned."));
    return false;
}

bool CodecReader::seek(std::int64_t frame) {
    if (!m_estimate && frame >= m_frames) {
        // Onto the end: nothing is left to decode.
        m_next = frame;
        m_haveFrame = false;
        return true;
    }
    return placeAt(frame);
}

std::int64_t CodecReader::read(double* out, std::int64_t frames) {
    std::int64_t done = 0;
    while (done < frames) {
        if (!m_estimate && m_next >= m_frames)
            break;
        if (!m_haveFrame || m_frameUsed >= m_frameSamples) {
            const int rc = nextFrame();
            if (rc < 0)
                return -1;
            if (rc == 0)
                break;
        }
        std::int64_t take = std::min<std::int64_t>(frames - done, m_frameSamples - m_frameUsed);
        if (!m_estimate)
            take = std::min(take, m_frames - m_next);
        convert(m_frame, m_channels, m_frameUsed, int(take), out + done * m_channels);
        m_frameUsed += int(take);
        m_next += take;
        done += take;
    }
    return done;
}

} // namespace ql::platform
