#include "platform/audio/FormatTags.h"

#include <QFile>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/avstring.h>
}

#include "platform/ChildProcess.h"
#include "platform/audio/FfmpegGate.h"

#include <chrono>
#include <mutex>

namespace ql::platform {

namespace {

// ffprobe's check of a printed text: a sequence its UTF-8 reader refuses is
// left out, together with the byte that showed it wrong.
QByteArray validUtf8(const char* text) {
    QByteArray out;
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p) {
        const unsigned char* start = p;
        unsigned value = *p++;
        bool bad = (value & 0xC0) == 0x80 || value >= 0xFE;
        unsigned top = (value & 0x80) >> 1;
        while (!bad && (value & top)) {
            const unsigned next = *p ? *p++ - 0x80u : 0u - 0x80u;
            if (next >> 6) {
                bad = true;
                break;
            }
            value = (value << 6) + next;
            top <<= 5;
        }
        if (!bad)
            out.append(reinterpret_cast<const char*>(start), p - start);
    }
    return out;
}

// A damaged or crafted file can keep a demuxer busy for long; unlike an
// ffprobe run, a read in this process cannot be killed at a limit. FFmpeg
// asks this between its reads and gives up once the file's time is over.
using Clock = std::chrono::steady_clock;

int timeIsUp(void* deadline) {
    return Clock::now() >= *static_cast<const Clock::time_point*>(deadline) ? 1 : 0;
}

// Each value of `key` in `tags`, a line each.
QByteArray linesOf(const AVDictionary* tags, const char* key) {
    QByteArray lines;
    const AVDictionaryEntry* tag = nullptr;
    while ((tag = av_dict_get(tags, "", tag, AV_DICT_IGNORE_SUFFIX)))
        if (av_strcasecmp(tag->key, key) == 0)
            lines += validUtf8(tag->value) + '\n';
    return lines;
}

struct Input {
    AVFormatContext* context = nullptr;
    ~Input() { avformat_close_input(&context); }
};

} // namespace

std::optional<QByteArray> tagLines(const QString& input, const char* key) {
    // Its tags are not read (nor asked of ffprobe): none is found.
    if (FfmpegGate::kept(input))
        return QByteArray();
    static std::once_flag quiet; // damaged files would be described on stderr
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
    const QByteArray name = QFile::encodeName(input);
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kProbeLimitMs);
    Input file;
    file.context = avformat_alloc_context();
    if (!file.context) {
        av_dict_free(&options);
        return std::nullopt;
    }
    file.context->interrupt_callback = {&timeIsUp, &deadline};
    const int opened = avformat_open_input(&file.context, name.constData(), nullptr, &options);
    av_dict_free(&options);
    if (opened < 0)
        return std::nullopt;
    // ffprobe prints nothing for a file whose streams cannot be looked at; a
    // file that outlasted its time is left to ffprobe and its limit.
    if (avformat_find_stream_info(file.context, nullptr) < 0)
        return timeIsUp(&deadline) ? std::nullopt : std::optional(QByteArray());
    const QByteArray lines = linesOf(file.context->metadata, key);
    // A tag present but empty still counts as the file's: ffprobe prints
    // its empty line.
    if (!lines.isEmpty())
        return lines;
    QByteArray streams;
    for (unsigned i = 0; i < file.context->nb_streams; ++i)
        streams += linesOf(file.context->streams[i]->metadata, key);
    return streams;
}

} // namespace ql::platform
