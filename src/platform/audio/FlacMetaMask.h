// A FLAC file read through libsndfile with its Vorbis comment blocks read as
// padding.
//
// libFLAC refuses a comment block of more than 100,000 entries as a possibly
// hostile file, so libsndfile cannot open a FLAC that carries one, though its
// audio is sound. The player needs none of the tags (the catalog reads them
// its own way), so such a file is opened again with the type of each comment
// block changed to padding as it is read: the block keeps its length and
// every offset in the file stays where it was, so seeking and the stream's
// frames are untouched; only the block's entries are never parsed.
//
// A copy masked the same way serves a reader of its own (ffmpeg, which
// gathers a block's entries at a cost that grows with the square of their
// number).
//
// The source lives as long as the SNDFILE opened on it; close the SNDFILE
// first. One thread at a time, like the SNDFILE.
#pragma once

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

struct sf_private_tag;
struct SF_INFO;

namespace ql::platform {

class FlacMetaMask {
public:
    // The file reopened with its comment blocks masked, or nothing when it
    // is no FLAC, holds no comment block, or libsndfile still refuses it.
    static std::unique_ptr<FlacMetaMask> open(const QString& path, SF_INFO& info);
    ~FlacMetaMask();
    FlacMetaMask(const FlacMetaMask&) = delete;
    FlacMetaMask& operator=(const FlacMetaMask&) = delete;

    // The SNDFILE reading through the mask; the caller closes it.
    sf_private_tag* file() const { return m_file; }

    // Where the header byte of each comment block sits, for a FLAC whose
    // metadata blocks can be walked; empty otherwise. Reads block headers
    // only.
    static std::vector<std::int64_t> commentBlocks(int fd);
    // The entries of the file's first comment block; 0 without one.
    static std::int64_t commentEntries(const QString& path);
    // Copies `from` over `to` (which keeps its mode) with its comment blocks
    // as padding; false when either cannot be read or written whole.
    static bool copyMasked(const QString& from, const QString& to);

private:
    FlacMetaMask() = default;
    friend struct FlacMetaMaskIo;
    int m_fd = -1;
    std::int64_t m_size = 0;
    std::int64_t m_pos = 0;
    std::vector<std::int64_t> m_masked;
    sf_private_tag* m_file = nullptr;
};

} // namespace ql::platform
