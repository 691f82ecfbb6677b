#include "platform/audio/FlacMetaMask.h"

#include <QFile>

#include <sndfile.h>

#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ql::platform {

namespace {

constexpr int kVorbisComment = 4;
constexpr int kPadding = 1;
constexpr std::uint8_t kLastBlock = 0x80;
// The most metadata blocks walked; a real file has a handful.
constexpr int kMaxBlocks = 1024;

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
        if (count <= 0)
            return 0;
        const ssize_t got = ::pread(m.m_fd, out, std::size_t(count), off_t(m.m_pos));
        if (got <= 0)
            return 0;
        auto* bytes = static_cast<std::uint8_t*>(out);
        for (const std::int64_t at : m.m_masked)
            if (at >= m.m_pos && at < m.m_pos + got) {
                std::uint8_t& b = bytes[at - m.m_pos];
                b = std::uint8_t((b & kLastBlock) | kPadding);
            }
        m.m_pos += got;
        return got;
    }
    static sf_count_t write(const void*, sf_count_t, void*) { return 0; }
    static sf_count_t tell(void* data) { return of(data).m_pos; }
};

std::vector<std::int64_t> FlacMetaMask::commentBlocks(int fd) {
    std::vector<std::int64_t> found;
    std::uint8_t head[4];
    if (!readAt(fd, 0, head, 4) || std::memcmp(head, "fLaC", 4) != 0)
        return {};
    std::int64_t at = 4;
    for (int n = 0; n < kMaxBlocks; ++n) {
        if (!readAt(fd, at, head, 4))
            return {};
        if ((head[0] & 0x7F) == kVorbisComment)
            found.push_back(at);
        if (head[0] & kLastBlock)
            return found;
        at += 4 + (std::int64_t(head[1]) << 16 | std::int64_t(head[2]) << 8 | head[3]);
    }
    return {};
}

std::int64_t FlacMetaMask::commentEntries(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    std::int64_t entries = 0;
    const std::vector<std::int64_t> blocks = commentBlocks(fd);
    std::uint8_t word[4];
    const auto le32 = [&word] {
        return std::int64_t(word[0]) | std::int64_t(word[1]) << 8 | std::int64_t(word[2]) << 16 |
               std::int64_t(word[3]) << 24;
    };
    // After the block header: the vendor string's length, the string, the count.
    if (!blocks.empty() && readAt(fd, blocks.front() + 4, word, 4)) {
        const std::int64_t vendor = le32();
        if (readAt(fd, blocks.front() + 8 + vendor, word, 4))
            entries = le32();
    }
    ::close(fd);
    return entries;
}

bool FlacMetaMask::copyMasked(const QString& from, const QString& to) {
    QFile in(from), out(to);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const std::vector<std::int64_t> masked = commentBlocks(in.handle());
    constexpr qint64 kChunk = 1 << 20;
    for (qint64 at = 0;;) {
        QByteArray chunk = in.read(kChunk);
        if (chunk.isEmpty())
            return in.atEnd() && in.error() == QFileDevice::NoError && out.flush();
        for (const std::int64_t m : masked)
            if (m >= at && m < at + chunk.size())
                chunk[qsizetype(m - at)] = char((chunk[qsizetype(m - at)] & kLastBlock) | kPadding);
        if (out.write(chunk) != chunk.size())
            return false;
        at += chunk.size();
    }
}

std::unique_ptr<FlacMetaMask> FlacMetaMask::open(const QString& path, SF_INFO& info) {
    std::unique_ptr<FlacMetaMask> m(new FlacMetaMask);
    m->m_fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (m->m_fd < 0)
        return nullptr;
    struct stat st {};
    if (::fstat(m->m_fd, &st) != 0 || !S_ISREG(st.st_mode))
        return nullptr;
    m->m_size = st.st_size;
    m->m_masked = commentBlocks(m->m_fd);
    if (m->m_masked.empty())
        return nullptr;
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
