// A file's bytes read a window at a time, for the walks over a file's
// headers (FfmpegGate, FlacMetaMask): they ask for a few bytes at once,
// mostly just after the last ones, so one pread serves many questions.
//
// One thread at a time; the descriptor stays the caller's.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace ql::platform {

class FileWindow {
public:
    // The file open as `fd`, as long as fstat says (none when it is no
    // regular file).
    explicit FileWindow(int fd) : m_fd(fd) {
        struct stat st {};
        m_size = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? st.st_size : 0;
    }
    FileWindow(int fd, std::int64_t size) : m_fd(fd), m_size(size) {}

    std::int64_t size() const { return m_size; }
    // The `n` bytes at `at`, or nullptr when they are not all in the file
    // (or more than a window).
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
                if (got < 0 && errno == EINTR)
                    continue;
                if (got <= 0)
                    break;
                m_held += got;
            }
            if (m_held < n)
                return nullptr;
        }
        return m_bytes.data() + (at - m_start);
    }

    static constexpr std::int64_t kBytes = 1 << 16;

private:
    int m_fd;
    std::int64_t m_size = 0;
    std::int64_t m_start = 0;
    std::int64_t m_held = 0;
    std::vector<std::uint8_t> m_bytes = std::vector<std::uint8_t>(std::size_t(kBytes));
};

// Integers as files store them.
inline std::int64_t le32(const std::uint8_t* p) {
    return std::int64_t(p[0]) | std::int64_t(p[1]) << 8 | std::int64_t(p[2]) << 16 |
           std::int64_t(p[3]) << 24;
}
inline std::int64_t be32(const std::uint8_t* p) {
    return std::int64_t(p[0]) << 24 | std::int64_t(p[1]) << 16 | std::int64_t(p[2]) << 8 |
           std::int64_t(p[3]);
}
// A 64-bit size, or -1 past what an offset holds.
inline std::int64_t le64(const std::uint8_t* p) {
    if (p[7] & 0x80)
        return -1;
    return le32(p) | le32(p + 4) << 32;
}

} // namespace ql::platform
