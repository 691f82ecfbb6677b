#include "platform/audio/MpegLength.h"

#include "platform/audio/Id3Size.h"

#include <QFile>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <vector>

namespace ql::platform {

namespace {

struct Header {
    int version = 0; // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
    int layer = 0;   // 1, 2, 3
    int rate = 0;
    int bytes = 0;   // the whole frame
    int samples = 0; // per channel

    bool sameStream(const Header& o) const {
        return version == o.version && layer == o.layer && rate == o.rate;
    }
};

// kbps by [MPEG-1?][layer - 1][index] (ISO/IEC 11172-3, 13818-3).
constexpr std::array<std::array<std::array<int, 15>, 3>, 2> kKbps{{
    {{{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
      {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
      {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}},
    {{{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
      {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
      {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}}},
}};
constexpr std::array<int, 3> kRates{44100, 48000, 32000};

std::optional<Header> headerAt(const unsigned char* p, std::size_t left) {
    if (left < 4 || p[0] != 0xFF || (p[1] & 0xE0) != 0xE0)
        return std::nullopt;
    const int version = (p[1] >> 3) & 3, layerBits = (p[1] >> 1) & 3;
    const int bitrate = p[2] >> 4, rateIndex = (p[2] >> 2) & 3, padding = (p[2] >> 1) & 1;
    if (version == 1 || layerBits == 0 || bitrate == 0 || bitrate == 15 || rateIndex == 3 ||
        (p[3] & 3) == 2)
        return std::nullopt;
    Header h;
    h.version = version;
    h.layer = 4 - layerBits;
    h.rate = kRates[std::size_t(rateIndex)] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
    const int bps = kKbps[version == 3][std::size_t(h.layer - 1)][std::size_t(bitrate)] * 1000;
    if (h.layer == 1) {
        h.samples = 384;
        h.bytes = (12 * bps / h.rate + padding) * 4;
    } else {
        const bool half = h.layer == 3 && version != 3;
        h.samples = half ? 576 : 1152;
        h.bytes = (half ? 72 : 144) * bps / h.rate + padding;
    }
    return h;
}

// Bytes of the stream from `at` on: at least min(want, size - at) of them in
// a row (a file is read through a window; a buffer in memory is all there).
using Bytes = std::function<const unsigned char*(std::size_t at, std::size_t want)>;

// A header whose frame is followed by another of the same stream (or by
// the end of the data): one that is not two bytes of audio that look like one.
std::optional<Header> chainedAt(const Bytes& bytes, std::size_t size, std::size_t at) {
    const auto h = headerAt(bytes(at, 4), std::min<std::size_t>(4, size - at));
    if (!h)
        return std::nullopt;
    const std::size_t next = at + std::size_t(h->bytes);
    if (next >= size)
        return next == size ? h : std::nullopt;
    const auto n = headerAt(bytes(next, 4), std::min<std::size_t>(4, size - next));
    return n && n->sameStream(*h) ? h : std::nullopt;
}

bool startsWith(const unsigned char* p, std::size_t left, const char* tag) {
    const std::size_t n = std::strlen(tag);
    return left >= n && std::memcmp(p, tag, n) == 0;
}

bool holds(const unsigned char* p, std::size_t n, const char* tag) {
    for (std::size_t i = 0; i + 4 <= n; ++i)
        if (std::memcmp(p + i, tag, 4) == 0)
            return true;
    return false;
}

// Where the ID3v2 tags at the start end (each "ID3", version, flags, a
// 28-bit size, and a footer), or nothing when they reach the end.
std::optional<std::size_t> pastTags(std::size_t size, const Bytes& bytes) {
    std::size_t at = 0;
    while (size - at >= 10 && startsWith(bytes(at, 10), size - at, "ID3")) {
        at += std::size_t(id3TagBytes(bytes(at, 10)));
        if (at >= size)
            return std::nullopt;
    }
    return at;
}

std::optional<MpegLength> walk(std::size_t size, const Bytes& bytes) {
    const std::optional<std::size_t> tagsEnd = pastTags(size, bytes);
    if (!tagsEnd)
        return std::nullopt;
    std::size_t at = *tagsEnd;
    std::optional<Header> first;
    std::int64_t samples = 0;
    while (at + 4 <= size) {
        auto h = chainedAt(bytes, size, at);
        if (h && first && !h->sameStream(*first))
            h.reset();
        if (!h) {
            const std::size_t left = std::min<std::size_t>(size - at, 8);
            const unsigned char* p = bytes(at, left);
            if (first && (startsWith(p, left, "TAG") || startsWith(p, left, "APETAGEX") ||
                          startsWith(p, left, "LYRICS")))
                break;
            ++at; // a damaged stretch, or what precedes the first frame
            continue;
        }
        if (!first) {
            first = h;
            // The length header sits in the first frame, after the side info.
            const std::size_t look = std::min<std::size_t>({std::size_t(h->bytes), size - at, 64});
            const unsigned char* p = bytes(at, look);
            if (holds(p, look, "Xing") || holds(p, look, "Info") || holds(p, look, "VBRI"))
                return MpegLength{true, 0};
        }
        samples += h->samples;
        at += std::size_t(h->bytes);
    }
    if (!first)
        return std::nullopt;
    return MpegLength{false, samples};
}

} // namespace

std::optional<MpegLength> mpegLength(const unsigned char* data, std::size_t size) {
    return walk(size, [data](std::size_t at, std::size_t) { return data + at; });
}

namespace {

// The bytes of an open file, read through a bounded window, not mapped: a
// file cut short meanwhile (a tag editor rewriting it) reads as zeros past
// its new end instead of bringing the program down.
class FileWindow {
public:
    explicit FileWindow(QFile& f) : m_file(f), m_window(kWindow) {}
    const unsigned char* operator()(std::size_t at, std::size_t want) {
        if (at >= m_from && at + want <= m_from + m_filled)
            return m_window.data() + (at - m_from);
        m_from = at;
        const qint64 got =
            m_file.seek(qint64(at))
                ? m_file.read(reinterpret_cast<char*>(m_window.data()), qint64(kWindow))
                : 0;
        m_filled = std::size_t(std::max<qint64>(got, 0));
        std::fill(m_window.begin() + std::ptrdiff_t(m_filled), m_window.end(), 0);
        m_filled = kWindow;
        return m_window.data();
    }

private:
    static constexpr std::size_t kWindow = 256 * 1024;
    QFile& m_file;
    std::vector<unsigned char> m_window;
    std::size_t m_from = 0, m_filled = 0;
};

} // namespace

std::optional<MpegLength> mpegLengthOfFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || f.size() <= 0)
        return std::nullopt;
    FileWindow window(f);
    return walk(std::size_t(f.size()), std::ref(window));
}

MpegStart mpegStartOfFile(int fd, std::int64_t reach, std::int64_t leastTags) {
    MpegStart start;
    QFile f;
    if (!f.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle) || f.size() <= 0)
        return start;
    // Most files hold no tag at their start: told by three bytes.
    if (leastTags > 0 && !f.read(3).startsWith("ID3"))
        return start;
    FileWindow window(f);
    const Bytes bytes = std::ref(window);
    const auto size = std::size_t(f.size());
    const std::optional<std::size_t> tagsEnd = pastTags(size, bytes);
    start.pastTags = std::int64_t(tagsEnd.value_or(size));
    if (!tagsEnd || start.pastTags < leastTags)
        return start;
    const std::size_t last =
        std::min(size, *tagsEnd + std::size_t(std::max<std::int64_t>(reach, 0)));
    for (std::size_t at = *tagsEnd; at + 4 <= last; ++at)
        if (chainedAt(bytes, size, at)) {
            start.frame = std::int64_t(at);
            break;
        }
    return start;
}

} // namespace ql::platform
