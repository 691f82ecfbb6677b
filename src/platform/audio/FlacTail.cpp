#include "platform/audio/FlacTail.h"

#include <QFile>

#include <vector>

#include <unistd.h>

namespace ql::platform {

namespace {

constexpr qint64 kTailBytes = 256 * 1024;

struct Header {
    std::int64_t first = 0; // the frame's first sample
    std::int64_t block = 0; // its samples per channel
};

std::uint8_t crc8(const std::uint8_t* p, std::size_t n) {
    std::uint8_t crc = 0;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int b = 0; b < 8; ++b)
            crc = std::uint8_t(crc & 0x80 ? (crc << 1) ^ 0x07 : crc << 1);
    }
    return crc;
}

// The frame header at p[0] (n bytes available), or nothing.
std::optional<Header> parseHeader(const std::uint8_t* p, std::size_t n, int fixedBlock) {
    if (n < 6 || p[0] != 0xFF || (p[1] & 0xFE) != 0xF8)
        return std::nullopt;
    const bool variable = p[1] & 1;
    const int blockCode = p[2] >> 4, rateCode = p[2] & 15;
    const int assignment = p[3] >> 4;
    if (blockCode == 0 || rateCode == 15 || assignment > 10 || (p[3] & 1))
        return std::nullopt;
    // The UTF-8-like coded frame or sample number.
    std::size_t at = 4;
    const std::uint8_t lead = p[at++];
    int more = 0;
    std::uint64_t number = 0;
    if (lead < 0x80) {
        number = lead;
    } else {
        int ones = 0;
        while (ones < 8 && (lead & (0x80 >> ones)))
            ++ones;
        if (ones < 2 || ones > 7)
            return std::nullopt;
        more = ones - 1;
        number = lead & ((1u << (7 - ones)) - 1);
    }
    // Room for the number, the longest block size and rate fields, and the CRC.
    if (at + std::size_t(more) + 5 > n)
        return std::nullopt;
    for (int i = 0; i < more; ++i) {
        if ((p[at] & 0xC0) != 0x80)
            return std::nullopt;
        number = number << 6 | (p[at++] & 0x3F);
    }
    std::int64_t block = 0;
    if (blockCode == 1)
        block = 192;
    else if (blockCode <= 5)
        block = 576LL << (blockCode - 2);
    else if (blockCode == 6)
        block = p[at++] + 1;
    else if (blockCode == 7) {
        block = (p[at] << 8 | p[at + 1]) + 1;
        at += 2;
    } else
        block = 256LL << (blockCode - 8);
    if (rateCode == 12)
        at += 1;
    else if (rateCode == 13 || rateCode == 14)
        at += 2;
    if (at >= n || crc8(p, at) != p[at])
        return std::nullopt;
    Header h;
    h.block = block;
    h.first = variable ? std::int64_t(number) : std::int64_t(number) * fixedBlock;
    return h;
}

} // namespace

std::optional<std::int64_t> flacLengthFromFrames(int fd) {
    QFile f;
    if (::lseek(fd, 0, SEEK_SET) != 0 ||
        !f.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        return std::nullopt;
    // STREAMINFO follows "fLaC" and its 4-byte block header; its first
    // field is the smallest block size, which a fixed-size stream uses for
    // every frame but the last.
    const QByteArray head = f.read(12);
    if (head.size() < 12 || !head.startsWith("fLaC"))
        return std::nullopt;
    const int fixedBlock = std::uint8_t(head[8]) << 8 | std::uint8_t(head[9]);
    const qint64 from = std::max<qint64>(f.size() - kTailBytes, 0);
    if (!f.seek(from))
        return std::nullopt;
    const QByteArray tail = f.readAll();
    const auto* p = reinterpret_cast<const std::uint8_t*>(tail.constData());
    const std::size_t n = std::size_t(tail.size());
    std::vector<Header> found;
    for (std::size_t i = 0; i + 1 < n; ++i)
        if (auto h = parseHeader(p + i, n - i, fixedBlock))
            found.push_back(*h);
    // The last header that an earlier one leads up to.
    for (std::size_t c = found.size(); c-- > 1;)
        for (std::size_t e = c; e-- > 0;)
            if (found[e].first + found[e].block == found[c].first)
                return found[c].first + found[c].block;
    return std::nullopt;
}

} // namespace ql::platform
