#include "platform/audio/FlacMetaMask.h"

#include "platform/audio/FileWindow.h"
#include "platform/audio/Id3Size.h"

#include <QFile>

#include <sndfile.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ql::platform {

namespace {

constexpr int kStreamInfo = 0;
constexpr int kVorbisComment = 4;
constexpr int kPadding = 1;
constexpr std::uint8_t kLastBlock = 0x80;
// STREAMINFO's fields take 34 bytes; libFLAC reads them from a shorter block
// too and loses its place in the stream.
constexpr std::int64_t kStreamInfoBytes = 34;
// The most comment blocks a file may hold: each is remembered, so a file of
// nothing but empty ones would hold twice its size in memory. A file with
// more is refused, never walked in part.
constexpr std::size_t kMostCommentBlocks = std::size_t(1) << 16;
// Padding blocks from this size on are left out of the stream libsndfile
// reads (smaller ones cost nothing to read through, and a file of many
// would make many pieces).
constexpr std::int64_t kLargePadding = std::int64_t(1) << 16;

bool readAt(int fd, std::int64_t at, std::uint8_t* out, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
        const ssize_t got = ::pread(fd, out + done, n - done, off_t(at + std::int64_t(done)));
        if (got <= 0)
            return false;
        done += std::size_t(got);
    }
    return true;
}

// Where "fLaC" stands after the ID3v2 tags at the start, or -1.
std::int64_t flacStart(FileWindow& bytes) {
    std::int64_t at = 0;
    // Each tag takes at least its header, so this ends within the file.
    while (const std::uint8_t* h = bytes.at(at, kId3Header)) {
        if (std::memcmp(h, "ID3", 3) != 0)
            break;
        // The size as libFLAC reads it.
        at += id3TagBytes(h);
    }
    const std::uint8_t* magic = bytes.at(at, 4);
    return magic && std::memcmp(magic, "fLaC", 4) == 0 ? at : -1;
}

// The entries a comment block of `length` bytes at `body` declares, no more
// than its bytes can hold: its vendor string's length, the string, the
// count, then entries of four bytes or more.
std::int64_t declaredEntries(FileWindow& bytes, std::int64_t body, std::int64_t length) {
    const std::uint8_t* word = bytes.at(body, 4);
    if (length < 8 || !word)
        return 0;
    const std::int64_t vendor = le32(word);
    if (vendor > length - 8 || !(word = bytes.at(body + 4 + vendor, 4)))
        return 0;
    return std::min(le32(word), (length - 8 - vendor) / 4);
}

// Applies the mask to `n` bytes of the file that start at `from`.
void maskBytes(const std::vector<std::int64_t>& masked, std::int64_t from, std::uint8_t* bytes,
               std::int64_t n) {
    for (auto it = std::lower_bound(masked.begin(), masked.end(), from);
         it != masked.end() && *it < from + n; ++it) {
        std::uint8_t& b = bytes[*it - from];
        b = std::uint8_t((b & kLastBlock) | kPadding);
    }
}

} // namespace

struct FlacMetaMaskIo {
    static FlacMetaMask& of(void* data) { return *static_cast<FlacMetaMask*>(data); }
    static sf_count_t length(void* data) { return of(data).m_size; }
    static sf_count_t seek(sf_count_t offset, int whence, void* data) {
        FlacMetaMask& m = of(data);
        const std::int64_t base = whence == SEEK_CUR ? m.m_pos : whence == SEEK_END ? m.m_size : 0;
        const std::int64_t to = base + offset;
        if (to < 0)
            return -1;
        m.m_pos = to;
        return to;
    }
    static sf_count_t read(void* out, sf_count_t count, void* data) {
        FlacMetaMask& m = of(data);
        auto* bytes = static_cast<std::uint8_t*>(out);
        sf_count_t done = 0;
        while (done < count) {
            // The piece that holds the position, if any.
            auto piece = std::upper_bound(
                m.m_pieces.begin(), m.m_pieces.end(), m.m_pos,
                [](std::int64_t pos, const FlacMetaMask::Piece& p) { return pos < p.at; });
            if (piece == m.m_pieces.begin())
                break;
            --piece;
            const std::int64_t into = m.m_pos - piece->at;
            if (into >= piece->length)
                break; // past the end
            const std::int64_t from = piece->from + into;
            const auto want =
                std::size_t(std::min<std::int64_t>(count - done, piece->length - into));
            const ssize_t got = ::pread(m.m_fd, bytes + done, want, off_t(from));
            if (got <= 0)
                break;
            maskBytes(m.m_masked, from, bytes + done, got);
            if (m.m_newLast >= from && m.m_newLast < from + got)
                bytes[done + (m.m_newLast - from)] |= kLastBlock;
            m.m_pos += got;
            done += got;
        }
        return done;
    }
    static sf_count_t write(const void*, sf_count_t, void*) { return 0; }
    static sf_count_t tell(void* data) { return of(data).m_pos; }
};

FlacLayout FlacMetaMask::walk(int fd) {
    FileWindow bytes(fd);
    return walk(bytes);
}

FlacLayout FlacMetaMask::walk(FileWindow& bytes) {
    FlacLayout layout;
    const std::int64_t start = flacStart(bytes);
    if (start < 0)
        return layout;
    layout.kind = FlacLayout::Kind::Unsound;
    layout.start = start;
    // Each block takes at least its header, so this ends within the file.
    for (std::int64_t at = start + 4;;) {
        const std::uint8_t* head = bytes.at(at, 4);
        if (!head)
            return layout;
        const int type = head[0] & 0x7F;
        const bool last = head[0] & kLastBlock;
        const std::int64_t body = at + 4;
        const std::int64_t length =
            std::int64_t(head[1]) << 16 | std::int64_t(head[2]) << 8 | std::int64_t(head[3]);
        if (length > bytes.size() - body || (type == kStreamInfo && length < kStreamInfoBytes))
            return layout;
        if (type == kVorbisComment) {
            if (layout.commentBlocks.size() == kMostCommentBlocks)
                return layout;
            layout.commentBlocks.push_back(at);
            layout.commentEntries += declaredEntries(bytes, body, length);
        }
        if (last) {
            layout.kind = FlacLayout::Kind::Sound;
            return layout;
        }
        at = body + length;
    }
}

FlacLayout FlacMetaMask::walk(const QString& path) {
    // Not blocking: a named pipe must not hold the caller until a writer comes.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return {};
    FlacLayout layout = walk(fd);
    ::close(fd);
    return layout;
}

std::vector<std::int64_t> FlacMetaMask::commentBlocks(int fd) {
    FlacLayout layout = walk(fd);
    return layout.kind == FlacLayout::Kind::Sound ? std::move(layout.commentBlocks)
                                                  : std::vector<std::int64_t>{};
}

bool FlacMetaMask::keptFromFfmpeg(const FlacLayout& layout) {
    return layout.kind == FlacLayout::Kind::Unsound || layout.commentEntries > kManyComments;
}

bool FlacMetaMask::copyMasked(const QString& from, const QString& to) {
    QFile in(from), out(to);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const int fd = in.handle();
    const FlacLayout layout = walk(fd);
    if (layout.kind == FlacLayout::Kind::Unsound)
        return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return false;
    std::vector<char> chunk(std::size_t(1) << 20);
    // The bytes [at, end) of the source appended to the copy.
    const auto copy = [&](std::int64_t at, std::int64_t end) {
        while (at < end) {
            const auto n =
                std::size_t(std::min<std::int64_t>(end - at, std::int64_t(chunk.size())));
            if (!readAt(fd, at, reinterpret_cast<std::uint8_t*>(chunk.data()), n) ||
                out.write(chunk.data(), qint64(n)) != qint64(n))
                return false;
            at += std::int64_t(n);
        }
        return true;
    };
    if (layout.kind == FlacLayout::Kind::NotFlac)
        return copy(0, st.st_size) && out.flush();
    // Blocks other than comments and padding, in order, the last of them
    // flagged last; then the frames. What stands before "fLaC" and the
    // padding, however large (a sparse file's gigabyte), cost nothing.
    struct Kept {
        std::uint8_t head[4];
        std::int64_t body, length;
    };
    std::optional<Kept> pending;
    const auto put = [&](Kept block, bool last) {
        block.head[0] = std::uint8_t((block.head[0] & 0x7F) | (last ? kLastBlock : 0));
        return out.write(reinterpret_cast<const char*>(block.head), 4) == 4 &&
               copy(block.body, block.body + block.length);
    };
    if (out.write("fLaC", 4) != 4)
        return false;
    FileWindow bytes(fd, st.st_size);
    std::int64_t at = layout.start + 4;
    for (;;) {
        // The walk above found every block whole.
        const std::uint8_t* head = bytes.at(at, 4);
        if (!head)
            return false;
        Kept block{{head[0], head[1], head[2], head[3]},
                   at + 4,
                   std::int64_t(head[1]) << 16 | std::int64_t(head[2]) << 8 |
                       std::int64_t(head[3])};
        const int type = head[0] & 0x7F;
        const bool last = head[0] & kLastBlock;
        if (type != kVorbisComment && type != kPadding) {
            if (pending && !put(*pending, false))
                return false;
            pending = block;
        }
        at = block.body + block.length;
        if (last)
            break;
    }
    // Nothing but comments and padding: no stream a reader could take.
    if (!pending || !put(*pending, true))
        return false;
    return copy(at, st.st_size) && out.flush();
}

std::unique_ptr<FlacMetaMask> FlacMetaMask::open(const QString& path, SF_INFO& info) {
    return open(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC), info);
}

std::unique_ptr<FlacMetaMask> FlacMetaMask::open(int fd, SF_INFO& info) {
    std::unique_ptr<FlacMetaMask> m(new FlacMetaMask);
    m->m_fd = fd;
    if (m->m_fd < 0)
        return nullptr;
    struct stat st {};
    if (::fstat(m->m_fd, &st) != 0 || !S_ISREG(st.st_mode))
        return nullptr;
    FlacLayout layout = walk(m->m_fd);
    // No FLAC, an unsound one, or nothing to mask.
    if (layout.kind != FlacLayout::Kind::Sound || layout.commentBlocks.empty())
        return nullptr;
    m->m_masked = std::move(layout.commentBlocks);
    // The stream's pieces: "fLaC" and every block but large padding, then
    // the frames. The walk above found every block whole.
    FileWindow bytes(m->m_fd, st.st_size);
    const auto add = [&m](std::int64_t from, std::int64_t length) {
        if (!m->m_pieces.empty() && m->m_pieces.back().from + m->m_pieces.back().length == from)
            m->m_pieces.back().length += length;
        else
            m->m_pieces.push_back({m->m_size, from, length});
        m->m_size += length;
    };
    add(layout.start, 4);
    std::int64_t lastKept = -1;
    for (std::int64_t at = layout.start + 4;;) {
        const std::uint8_t* head = bytes.at(at, 4);
        if (!head)
            return nullptr;
        const std::int64_t length =
            std::int64_t(head[1]) << 16 | std::int64_t(head[2]) << 8 | std::int64_t(head[3]);
        const bool last = head[0] & kLastBlock;
        if ((head[0] & 0x7F) != kPadding || length < kLargePadding) {
            add(at, 4 + length);
            lastKept = at;
        }
        at += 4 + length;
        if (last) {
            if (lastKept != at - 4 - length)
                m->m_newLast = lastKept;
            add(at, st.st_size - at);
            break;
        }
    }
    SF_VIRTUAL_IO io{&FlacMetaMaskIo::length, &FlacMetaMaskIo::seek, &FlacMetaMaskIo::read,
                     &FlacMetaMaskIo::write, &FlacMetaMaskIo::tell};
    info = SF_INFO{};
    m->m_file = sf_open_virtual(&io, SFM_READ, &info, m.get());
    if (!m->m_file)
        return nullptr;
    return m;
}

FlacMetaMask::~FlacMetaMask() {
    if (m_fd >= 0)
        ::close(m_fd);
}

} // namespace ql::platform
