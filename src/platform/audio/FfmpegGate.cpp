#include "platform/audio/FfmpegGate.h"

#include "platform/audio/FlacMetaMask.h"
#include "platform/audio/Id3Size.h"

#include <QFile>
#include <QHash>
#include <QMutex>

#include <algorithm>
#include <cstring>
#include <tuple>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ql::platform {

namespace {

constexpr std::int64_t kPast = FfmpegGate::kManyTags + 1;

// A file's bytes read a window at a time: the walks ask for a few bytes at
// once, mostly just after the last ones.
class Bytes {
public:
    explicit Bytes(int fd) : m_fd(fd) {
        struct stat st {};
        m_size = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? st.st_size : 0;
    }
    std::int64_t size() const { return m_size; }
    // The `n` bytes at `at`, or nullptr when they are not all in the file.
    const std::uint8_t* at(std::int64_t at, std::int64_t n) {
        if (at < 0 || n < 0 || n > kBytes || at > m_size - n)
            return nullptr;
        if (at < m_start || at + n > m_start + m_held) {
            m_start = at;
            m_held = 0;
            const std::int64_t want = std::min<std::int64_t>(kBytes, m_size - at);
            while (m_held < want) {
                const ssize_t got = ::pread(m_fd, m_bytes.data() + m_held,
                                            std::size_t(want - m_held), off_t(at + m_held));
                if (got <= 0)
                    break;
                m_held += got;
            }
            if (m_held < n)
                return nullptr;
        }
        return m_bytes.data() + (at - m_start);
    }

private:
    static constexpr std::int64_t kBytes = 1 << 16;
    int m_fd;
    std::int64_t m_size = 0;
    std::int64_t m_start = 0;
    std::int64_t m_held = 0;
    std::vector<std::uint8_t> m_bytes = std::vector<std::uint8_t>(std::size_t(kBytes));
};

std::int64_t be32(const std::uint8_t* p) {
    return std::int64_t(p[0]) << 24 | std::int64_t(p[1]) << 16 | std::int64_t(p[2]) << 8 |
           std::int64_t(p[3]);
}
std::int64_t le32(const std::uint8_t* p) {
    return std::int64_t(p[0]) | std::int64_t(p[1]) << 8 | std::int64_t(p[2]) << 16 |
           std::int64_t(p[3]) << 24;
}

// ---- ID3v2 ----

// The frames of the tag of `version` and `flags` whose frames lie in
// [from, end), counted to just past the bound. A walk stopped by a header
// that names no frame, short of the end, counts as many more as the bytes
// left could hold: a tag written unsynchronised or in a way this walk does
// not follow is judged by its room.
std::int64_t framesIn(Bytes& b, int version, std::uint8_t flags, std::int64_t from,
                      std::int64_t end) {
    if (version < 2 || version > 4)
        return 0; // not read by FFmpeg either
    std::int64_t at = from;
    if ((flags & 0x40) && version >= 3) { // an extended header
        const std::uint8_t* x = b.at(at, 4);
        if (!x)
            return 0;
        at += version == 3 ? 4 + be32(x) : id3Syncsafe(x);
    }
    const int head = version == 2 ? 6 : 10;
    const int idBytes = version == 2 ? 3 : 4;
    std::int64_t frames = 0;
    while (at + head <= end) {
        const std::uint8_t* f = b.at(at, head);
        if (!f || f[0] == 0)
            return frames; // the file ends, or padding
        const bool named = std::all_of(f, f + idBytes, [](std::uint8_t c) {
            return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        });
        if (!named)
            return frames + (end - at) / (head + 1);
        std::int64_t length = 0;
        if (version == 2)
            length = std::int64_t(f[3]) << 16 | std::int64_t(f[4]) << 8 | std::int64_t(f[5]);
        else if (version == 3 || (f[4] | f[5] | f[6] | f[7]) & 0x80)
            length = be32(f + 4); // (a 2.4 tag written with plain sizes)
        else
            length = id3Syncsafe(f + 4);
        if (++frames >= kPast)
            return frames;
        at += head + length;
    }
    return frames;
}

// ---- Ogg ----

// One page's header: where its data starts and the length of each segment.
struct Page {
    std::int64_t at = 0;
    std::uint32_t serial = 0;
    int segments = 0;
    std::uint8_t lacing[255] = {};
    std::int64_t data = 0; // where the first segment starts
};

bool pageAt(Bytes& b, std::int64_t at, Page& page) {
    const std::uint8_t* h = b.at(at, 27);
    if (!h || std::memcmp(h, "OggS", 4) != 0 || h[4] != 0)
        return false;
    page.at = at;
    page.serial = std::uint32_t(le32(h + 14));
    page.segments = h[26];
    const std::uint8_t* lacing = b.at(at + 27, page.segments);
    if (!lacing)
        return false;
    std::memcpy(page.lacing, lacing, std::size_t(page.segments));
    page.data = at + 27 + page.segments;
    return true;
}

// The packets of the file's first logical stream, followed across pages.
class OggPackets {
public:
    explicit OggPackets(Bytes& b) : m_bytes(b) { m_valid = pageAt(b, 0, m_page); }
    bool valid() const { return m_valid; }
    // Moves through up to `n` more bytes of the current packet, noting where
    // they lie; false when the stream ends first. `ended`: the packet ended
    // (the next call reads the next packet).
    bool advance(std::int64_t n, bool& ended) {
        ended = false;
        for (;;) {
            if (m_segment == m_page.segments) {
                if (!nextPage())
                    return false;
                continue;
            }
            const std::int64_t lace = m_page.lacing[m_segment];
            const std::int64_t take = std::min(n, lace - m_inSegment);
            if (take > 0) {
                m_spans.push_back({m_page.data + m_segmentStart + m_inSegment, take});
                m_held += take;
                n -= take;
                m_inSegment += take;
            }
            if (m_inSegment < lace)
                return true; // spent within the segment
            m_segmentStart += lace;
            m_inSegment = 0;
            ++m_segment;
            if (lace < 255) {
                ended = true;
                return true;
            }
            if (n == 0)
                return true;
        }
    }
    // `n` of the packet's bytes noted so far, from `offset`.
    bool read(std::int64_t offset, int n, std::uint8_t* out) {
        for (const auto& [at, length] : m_spans) {
            if (n == 0)
                break;
            if (offset >= length) {
                offset -= length;
                continue;
            }
            const std::int64_t count = std::min<std::int64_t>(n, length - offset);
            const std::uint8_t* bytes = m_bytes.at(at + offset, count);
            if (!bytes)
                return false;
            std::memcpy(out, bytes, std::size_t(count));
            out += count;
            n -= int(count);
            offset = 0;
        }
        return n == 0;
    }
    // Forgets the bytes noted: the next packet's start at offset 0.
    void startPacket() {
        m_spans.clear();
        m_held = 0;
    }
    std::int64_t held() const { return m_held; }

private:
    static std::int64_t endOf(const Page& page) {
        std::int64_t end = page.data;
        for (int i = 0; i < page.segments; ++i)
            end += page.lacing[i];
        return end;
    }
    bool nextPage() {
        // Pages of other streams (none in a plain file) are passed over.
        std::int64_t next = endOf(m_page);
        for (int pages = 0; pages < 1 << 16; ++pages) {
            Page page;
            if (!pageAt(m_bytes, next, page))
                return false;
            if (page.serial == m_page.serial) {
                m_page = page;
                m_segment = 0;
                m_segmentStart = 0;
                m_inSegment = 0;
                return true;
            }
            next = endOf(page);
        }
        return false;
    }

    Bytes& m_bytes;
    Page m_page;
    bool m_valid = false;
    int m_segment = 0;
    std::int64_t m_segmentStart = 0; // of the current segment, within the page's data
    std::int64_t m_inSegment = 0;
    std::vector<std::pair<std::int64_t, std::int64_t>> m_spans;
    std::int64_t m_held = 0;
};

// ---- MPEG-4 ----

struct Box {
    char type[4] = {};
    std::int64_t body = 0;
    std::int64_t end = 0;
};

// The box at `at` inside [.., limit), or false when none fits there.
bool boxAt(Bytes& b, std::int64_t at, std::int64_t limit, Box& box) {
    const std::uint8_t* h = b.at(at, 8);
    if (!h || at + 8 > limit)
        return false;
    std::memcpy(box.type, h + 4, 4);
    std::int64_t size = be32(h);
    box.body = at + 8;
    if (size == 1) {
        const std::uint8_t* large = b.at(at + 8, 8);
        if (!large)
            return false;
        size = be32(large) << 32 | be32(large + 4);
        box.body = at + 16;
    } else if (size == 0) {
        size = limit - at; // to the end of what holds it
    }
    if (size < box.body - at || size > limit - at)
        return false;
    box.end = at + size;
    return true;
}

bool is(const Box& box, const char* type) {
    return std::memcmp(box.type, type, 4) == 0;
}

// Walks boxes, each visit counted against a bound shared by the whole walk.
struct BoxWalk {
    Bytes& bytes;
    std::int64_t visits = 0;
    static constexpr std::int64_t kMostVisits = std::int64_t(1) << 20;

    // Calls `each` for every box in [from, to); false when the visits run out.
    template <typename F> bool children(std::int64_t from, std::int64_t to, F&& each) {
        Box box;
        for (std::int64_t at = from; at < to && boxAt(bytes, at, to, box); at = box.end) {
            if (++visits > kMostVisits || !each(box))
                return false;
        }
        return true;
    }
    // The items of an "ilst" inside the "meta" box `meta`, added to `items`.
    bool metaItems(const Box& meta, std::int64_t& items) {
        // ISO's meta is a full box (four bytes of version and flags); the
        // QuickTime one is not.
        const std::uint8_t* word = bytes.at(meta.body, 4);
        const std::int64_t first = word && be32(word) == 0 ? meta.body + 4 : meta.body;
        return children(first, meta.end, [&](const Box& box) {
            if (is(box, "ilst"))
                return children(box.body, box.end, [&](const Box&) { return ++items < kPast; });
            return true;
        });
    }
};

} // namespace

std::int64_t FfmpegGate::id3Frames(int fd) {
    Bytes b(fd);
    std::int64_t frames = 0;
    // Tags one after another, each taking at least its header.
    for (std::int64_t at = 0; frames < kPast;) {
        const std::uint8_t* h = b.at(at, 10);
        if (!h || std::memcmp(h, "ID3", 3) != 0)
            break;
        const std::int64_t end = at + kId3Header + id3Syncsafe(h + 6);
        frames += (at > 0 ? 1 : 0) + framesIn(b, h[3], h[5], at + 10, std::min(end, b.size()));
        at += id3TagBytes(h);
    }
    // The header of each tag after the first counted too: a file of many
    // empty tags is no file either.
    return frames;
}

std::int64_t FfmpegGate::oggComments(int fd) {
    Bytes b(fd);
    OggPackets packets(b);
    if (!packets.valid())
        return 0;
    bool ended = false;
    std::uint8_t magic[8] = {};
    if (!packets.advance(8, ended) || !packets.read(0, 8, magic))
        return 0;
    const char* comments = nullptr;
    std::int64_t head = 0;
    if (std::memcmp(magic, "\x01vorbis", 7) == 0)
        comments = "\x03vorbis", head = 7;
    else if (std::memcmp(magic, "OpusHead", 8) == 0)
        comments = "OpusTags", head = 8;
    else
        return 0;
    // The identification packet's rest, then the comment packet.
    while (!ended)
        if (!packets.advance(1 << 16, ended))
            return 0;
    packets.startPacket();
    std::uint8_t word[8] = {};
    if (!packets.advance(head + 4, ended) || ended || packets.held() < head + 4 ||
        !packets.read(0, int(head), magic) ||
        std::memcmp(magic, comments, std::size_t(head)) != 0 || !packets.read(head, 4, word))
        return 0;
    // A vendor string is a few dozen bytes: one that takes more is no
    // encoder's, and walking it would not be cheap.
    const std::int64_t vendor = le32(word);
    constexpr std::int64_t kLongestVendor = std::int64_t(1) << 16;
    if (vendor > kLongestVendor) {
        // One that runs past its packet is no comment packet at all.
        packets.advance(kLongestVendor, ended);
        return packets.held() - head - 4 >= kLongestVendor ? kPast : 0;
    }
    if (!packets.advance(vendor + 4, ended) || packets.held() < head + 8 + vendor ||
        !packets.read(head + 4 + vendor, 4, word))
        return 0;
    const std::int64_t declared = le32(word);
    // As many as the packet's bytes hold, four at least each.
    const std::int64_t before = packets.held();
    if (!ended)
        packets.advance(4 * kPast, ended);
    return std::min({declared, (packets.held() - before) / 4, kPast});
}

std::int64_t FfmpegGate::mp4Items(int fd) {
    Bytes b(fd);
    Box first;
    if (!boxAt(b, 0, b.size(), first))
        return 0;
    static const char* const kOpening[] = {"ftyp", "moov", "mdat", "wide", "free", "skip"};
    if (std::none_of(std::begin(kOpening), std::end(kOpening),
                     [&](const char* type) { return is(first, type); }))
        return 0;
    BoxWalk walk{b};
    std::int64_t items = 0;
    const bool whole = walk.children(0, b.size(), [&](const Box& top) {
        if (!is(top, "moov"))
            return true;
        return walk.children(top.body, top.end, [&](const Box& box) {
            if (is(box, "meta"))
                return walk.metaItems(box, items);
            if (!is(box, "udta"))
                return true;
            // A QuickTime item is a box of the user data itself.
            return walk.children(box.body, box.end, [&](const Box& item) {
                if (is(item, "meta"))
                    return walk.metaItems(item, items);
                return ++items < kPast;
            });
        });
    });
    // A walk cut off by its bound of boxes is of no real file.
    if (!whole && walk.visits > BoxWalk::kMostVisits)
        return kPast;
    return std::min(items, kPast);
}

bool FfmpegGate::crowded(int fd) {
    const FlacLayout layout = FlacMetaMask::walk(fd);
    if (layout.kind != FlacLayout::Kind::NotFlac && FlacMetaMask::keptFromFfmpeg(layout))
        return true;
    return id3Frames(fd) > kManyTags || oggComments(fd) > kManyTags || mp4Items(fd) > kManyTags;
}

namespace {

struct Stamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    std::int64_t modified = 0, changed = 0;
    bool operator==(const Stamp&) const = default;
};

Stamp stampOf(const struct stat& st) {
    return {st.st_dev, st.st_ino, st.st_size,
            std::int64_t(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec,
            std::int64_t(st.st_ctim.tv_sec) * 1'000'000'000 + st.st_ctim.tv_nsec};
}

struct Answer {
    Stamp stamp;
    bool kept = false;
};

// Answers kept, a few thousand paths at most (a library's worth is walked
// again after that, which costs little).
constexpr qsizetype kMostAnswers = 8192;

QMutex answersLock;
QHash<QString, Answer>& answers() {
    static QHash<QString, Answer> held;
    return held;
}

QString fileOf(const QString& path) {
    const QLatin1String scheme("file:");
    return path.startsWith(scheme) ? path.mid(scheme.size()) : path;
}

void remember(const QString& file, const Answer& answer) {
    const QMutexLocker lock(&answersLock);
    if (answers().size() >= kMostAnswers)
        answers().clear();
    answers().insert(file, answer);
}

} // namespace

namespace {

// The answer kept for `file` while it still has the stamp of `st`.
std::optional<bool> keptBefore(const QString& file, const struct stat& st) {
    const QMutexLocker lock(&answersLock);
    const auto it = answers().constFind(file);
    if (it != answers().constEnd() && it->stamp == stampOf(st))
        return it->kept;
    return std::nullopt;
}

// Walks the regular file open as `fd` (as `st` found it) and keeps the answer.
bool walkOpen(const QString& file, int fd, const struct stat& st) {
    Answer answer;
    answer.stamp = stampOf(st);
    answer.kept = FfmpegGate::crowded(fd);
    remember(file, answer);
    return answer.kept;
}

} // namespace

bool FfmpegGate::kept(const QString& path) {
    const QString file = fileOf(path);
    const QByteArray name = QFile::encodeName(file);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    if (const std::optional<bool> before = keptBefore(file, st))
        return *before;
    // Not blocking: a file replaced by a named pipe must not hold the caller.
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    const bool kept = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && walkOpen(file, fd, st);
    ::close(fd);
    return kept;
}

bool FfmpegGate::kept(const QString& path, int fd) {
    const QString file = fileOf(path);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    if (const std::optional<bool> before = keptBefore(file, st))
        return *before;
    return walkOpen(file, fd, st);
}

std::optional<bool> FfmpegGate::known(const QString& path) {
    const QMutexLocker lock(&answersLock);
    const auto it = answers().constFind(fileOf(path));
    if (it == answers().constEnd())
        return std::nullopt;
    return it->kept;
}

void FfmpegGate::keep(const QString& path, int fd) {
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        remember(fileOf(path), {stampOf(st), true});
}

} // namespace ql::platform
