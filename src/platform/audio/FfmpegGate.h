// Which files no ffmpeg or ffprobe run, nor FFmpeg's libraries in-process,
// may read: the one question every reader of a file through FFmpeg asks
// first, whatever the file's format.
//
// FFmpeg gathers a file's tags at a cost that grows with the square of their
// number: a file with a hundred thousand of them keeps a run busy for minutes
// (or up to its time limit), and every reader of a track aside (rate probe,
// cover, waveform, quality label, loudness, genre, signal path, sonic
// features) would pay that again. The rule: a file is kept from FFmpeg when
// the tags FFmpeg would gather from it, counted where each format keeps them,
// number more than kManyTags, or when it is a FLAC whose blocks cannot be
// walked (FlacMetaMask). Counted are:
//
// - the frames of the ID3v2 tags at the file's start (FFmpeg reads them
//   before any format's header: MP3, FLAC, TTA, AAC, ...);
// - a FLAC's comment entries;
// - Ogg: the comment entries of Vorbis, Opus and Speex (second packet) and of
//   FLAC in Ogg (every header packet that is a comment block);
// - MPEG-4: the items of the movie header's metadata (moov/udta,
//   moov/udta/meta/ilst, moov/meta/ilst);
// - RIFF (WAV, RF64, BW64) and AIFF: the frames of an "id3 "/"ID3 " chunk's
//   tag, each LIST INFO item, each AIFF text chunk; Wave64: its summary
//   list's entries; DSF: the frames of the ID3v2 tag its header points at;
// - any other file: the items of an APEv2 tag ending it (MP3, APE, WavPack,
//   Musepack, TTA, TAK).
//
// Only the header structure is read: ID3v2 frame headers, Ogg page headers up
// to the comment count, box and chunk headers, an APEv2 footer; no tag's
// contents. A count is never more than the bytes present in the file could
// hold (a header's claim of bytes the file does not have counts for
// nothing); each walk visits a bounded number of headers and stops once the
// bound of tags is passed, so its cost is bounded whatever the file holds.
// Containers not named here (Matroska, ASF, DSDIFF) are not walked.
//
// Time is never a verdict: an open that outlasts its deadline (a slow disk,
// a busy machine) keeps nothing from FFmpeg. The answer is kept per path and
// file stamp (device, inode, size, change and modification times): a file
// asked about again is not walked again until it changes.
//
// Thread-safe. kept() reads the file: never on the main thread; known() only
// looks at what was found before.
#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace ql::platform {

class FfmpegGate {
public:
    // Tags past which FFmpeg's reading takes long (about 0.7 s over 10,000;
    // no real file carries more than a few hundred).
    static constexpr std::int64_t kManyTags = 10'000;
    enum class Verdict {
        Free,    // FFmpeg may read it
        Crowded, // more tags than kManyTags
        Unsound, // a FLAC whose blocks cannot be walked
    };
    // Whether FFmpeg must not read the file at `path` (an absolute path, or
    // FFmpeg's "file:" name of one). A file that cannot be opened or is no
    // regular file is not kept (its reader finds out for itself).
    static bool kept(const QString& path);
    // As kept(path), for that file open as `fd`: read through the open it
    // has, with no open of its own (a slow disk pays for one open a file).
    static bool kept(const QString& path, int fd);
    // The answer kept() gave last for `path`, without touching the disk;
    // none when it was never asked.
    static std::optional<bool> known(const QString& path);
    // Why, likewise.
    static std::optional<Verdict> knownVerdict(const QString& path);
    // The verdict on the open file `fd`, walked now (no cache).
    static Verdict verdict(int fd);
    static bool crowded(int fd); // verdict(fd) != Free

    // The parts of the verdict, each on the open file `fd`, counted up to
    // just past kManyTags: the frames of the ID3v2 tags at its start (more
    // when a tag cannot be walked and its bytes could hold more), the entries
    // of an Ogg stream's comments, the items of an MPEG-4 movie header's
    // metadata, the tags of a RIFF, AIFF, Wave64 or DSF file's chunks, the
    // items of an APEv2 tag at its end.
    static std::int64_t id3Frames(int fd);
    static std::int64_t oggComments(int fd);
    static std::int64_t mp4Items(int fd);
    static std::int64_t chunkTags(int fd);
    static std::int64_t apeItems(int fd);
};

} // namespace ql::platform
