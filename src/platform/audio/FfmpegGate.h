// Which files no ffmpeg or ffprobe run, nor FFmpeg's libraries in-process,
// may read: the one question every reader of a file through FFmpeg asks
// first.
//
// FFmpeg gathers a file's tags at a cost that grows with the square of their
// number: a file with a hundred thousand of them keeps a run busy for minutes
// (or up to its time limit), and every reader of a track aside (rate probe,
// cover, waveform, quality label, loudness, genre, signal path, sonic
// features) would pay that again. Such a file is kept from all of them:
//
// - a FLAC whose comment blocks declare more than kManyTags entries, or whose
//   blocks cannot be walked (FlacMetaMask);
// - ID3v2 tags at the start (an MP3's, or before "fLaC") holding more than
//   kManyTags frames;
// - Ogg Vorbis or Opus whose comment packet declares more than kManyTags
//   entries;
// - MPEG-4 whose movie header's metadata (moov/udta, moov/udta/meta/ilst,
//   moov/meta/ilst) holds more than kManyTags items;
// - a file FFmpeg took longer than its deadline to open (keep()).
//
// Only the header structure is read: ID3v2 frame headers, Ogg page headers up
// to the comment count, MPEG-4 box headers; no tag's contents. Each walk
// stops once the bound is passed, so its cost is bounded whatever the file
// holds. The answer is kept per path and file stamp (device, inode, size,
// change and modification times): a file asked about again is not walked
// again until it changes.
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
    // `path`, open as `fd`, is kept from FFmpeg from now on (until it changes): its open by
    // FFmpeg outlasted its deadline.
    static void keep(const QString& path, int fd);
    // The verdict on the open file `fd`, walked now (no cache).
    static bool crowded(int fd);

    // The parts of the verdict, each on the open file `fd`: the frames of the
    // ID3v2 tags at its start (counted up to just past kManyTags; more when
    // a tag cannot be walked and its bytes could hold more), the entries an
    // Ogg Vorbis or Opus comment packet declares (no more than its bytes hold,
    // counted up to just past kManyTags), and the items of an MPEG-4 movie
    // header's metadata (likewise).
    static std::int64_t id3Frames(int fd);
    static std::int64_t oggComments(int fd);
    static std::int64_t mp4Items(int fd);
};

} // namespace ql::platform
