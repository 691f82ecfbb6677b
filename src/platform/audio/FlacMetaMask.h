// A FLAC file read through libsndfile with its Vorbis comment blocks read as
// padding.
//
// libFLAC refuses a comment block of more than 100,000 entries as a possibly
// hostile file, so libsndfile cannot open a FLAC that carries one, though its
// audio is sound. The player needs none of the tags (the catalog reads them
// its own way), so such a file is opened again with the type of each comment
// block changed to padding as it is read: the block keeps its length, so
// the stream's frames are untouched; only the block's entries are never
// parsed. Large padding blocks are left out of what libsndfile reads (a
// sparse gigabyte of them would be read through): its offsets move, but
// those a FLAC stores (seek points) count from the first frame. What
// stands before "fLaC" (ID3v2 tags) is left out of what libsndfile reads.
//
// A copy without the comment blocks (nor the padding, which may be a sparse
// gigabyte) serves a reader of its own (ffmpeg, which gathers a block's
// entries at a cost that grows with the square of their number).
//
// The metadata is walked as libFLAC walks it, so that no block it parses is
// left unmasked: any ID3v2 tags before "fLaC" (each skipped by its syncsafe
// size, and its footer when its flags name one), then every block up to the
// one flagged last, however many there are, every comment block among them
// masked wherever it stands. A second STREAMINFO is read by libFLAC as the
// first was (the later one counts) and is left as it is. A walk that leaves
// the file, a STREAMINFO shorter than its fields or the invalid block type
// makes the file unsound: no reader of ours, and no ffmpeg, is given it.
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

class FileWindow;

// What a walk of a file's FLAC metadata found.
struct FlacLayout {
    enum class Kind {
        NotFlac, // no "fLaC" at the start or after the leading ID3v2 tags
        Sound,   // every block walked, up to the one flagged last
        Unsound, // a FLAC whose blocks cannot be walked to their end
    };
    Kind kind = Kind::NotFlac;
    // Where "fLaC" stands: after the ID3v2 tags, if any.
    std::int64_t start = 0;
    // Where the header byte of each comment block sits, in file order.
    std::vector<std::int64_t> commentBlocks;
    // The entries the comment blocks declare, counting in each no more than
    // its bytes can hold (an entry takes at least four): what a reader that
    // parses them goes through.
    std::int64_t commentEntries = 0;
};

class FlacMetaMask {
public:
    // Entries past which ffmpeg's reading of comments takes long (about 0.7 s
    // over 10,000 of them; no real file carries more than a few hundred): a
    // file with more is handed to ffmpeg only as a masked copy.
    static constexpr std::int64_t kManyComments = 10'000;
    // The file reopened with its comment blocks masked, or nothing when it
    // is no FLAC, an unsound one, holds no comment block, or libsndfile still
    // refuses it.
    static std::unique_ptr<FlacMetaMask> open(const QString& path, SF_INFO& info);
    // The same of a file open as `fd`, which the mask takes (and closes).
    static std::unique_ptr<FlacMetaMask> open(int fd, SF_INFO& info);
    ~FlacMetaMask();
    FlacMetaMask(const FlacMetaMask&) = delete;
    FlacMetaMask& operator=(const FlacMetaMask&) = delete;

    // The SNDFILE reading through the mask; the caller closes it.
    sf_private_tag* file() const { return m_file; }

    // The file's metadata walked; reads block headers and the counts of
    // comment blocks only, a buffer at a time, so a file of a million empty
    // blocks is walked as quickly as it is read.
    static FlacLayout walk(int fd);
    static FlacLayout walk(FileWindow& bytes);
    static FlacLayout walk(const QString& path);
    // Where the header byte of each comment block sits, for a sound FLAC;
    // empty otherwise.
    static std::vector<std::int64_t> commentBlocks(int fd);
    // Whether ffmpeg must not read the file as it is: an unsound FLAC, or one
    // whose comment blocks hold more than kManyComments entries.
    static bool keptFromFfmpeg(const FlacLayout& layout);
    // (Every run of ffmpeg or ffprobe over a file asks FfmpegGate, which
    // asks this of a FLAC.)
    // Copies `from` over `to` (which keeps its mode) for ffmpeg to read:
    // "fLaC", every metadata block but the comments and the padding, in
    // order, the last of them flagged last, then the frames; what stands
    // before "fLaC" is left out. A file that is no FLAC is copied as it is.
    // False when either cannot be read or written whole, when `from` is an
    // unsound FLAC, or when it holds no block but comments and padding.
    static bool copyMasked(const QString& from, const QString& to);

private:
    FlacMetaMask() = default;
    friend struct FlacMetaMaskIo;
    int m_fd = -1;
    // The stream read: the file from "fLaC" on (the tags before it are not
    // libsndfile's to find: it knows no ID3v2 footer), without its large
    // padding blocks (kLargePadding or more), which libFLAC would read
    // through byte by byte. Each piece is a run of the file's bytes, where
    // it starts in the stream and in the file; in stream order.
    struct Piece {
        std::int64_t at = 0, from = 0, length = 0;
    };
    std::vector<Piece> m_pieces;
    std::int64_t m_size = 0;
    std::int64_t m_pos = 0;
    std::vector<std::int64_t> m_masked;
    // The header byte of the last block read, when the block flagged last
    // was padding left out; -1 otherwise.
    std::int64_t m_newLast = -1;
    sf_private_tag* m_file = nullptr;
};

} // namespace ql::platform
