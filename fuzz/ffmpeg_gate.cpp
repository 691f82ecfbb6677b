// The gate's walks of arbitrary bytes, as a file whose tags are judged
// before ffmpeg may read it: each walk stays inside the file and gives a
// count that is never negative nor more than the bytes present could stand
// for (whatever a header claims); a file too small to hold more than the
// bound of tags of any kind is kept only as an unsound FLAC; and the verdict
// is the same walked, asked by path and asked again (from what was kept).
#include "FuzzInput.h"

#include "platform/audio/FfmpegGate.h"
#include "platform/audio/FlacMetaMask.h"

#include <QFile>

#include <fcntl.h>
#include <unistd.h>

using ql::fuzz::require;
using ql::platform::FfmpegGate;
using ql::platform::FlacLayout;
using ql::platform::FlacMetaMask;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A path of its own each time: a file written again at once may keep its
    // stamp (the clock's tick is coarser than a run).
    static int runs = 0;
    const QString in = QStringLiteral("/tmp/ql-fuzz-ffmpeg-gate-%1-%2").arg(::getpid()).arg(++runs);
    {
        QFile f(in);
        require(f.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                f.write(reinterpret_cast<const char*>(data), qint64(size)) == qint64(size));
    }
    const int fd = ::open(QFile::encodeName(in).constData(), O_RDONLY | O_CLOEXEC);
    require(fd >= 0);
    for (const std::int64_t counted :
         {FfmpegGate::id3Frames(fd), FfmpegGate::oggComments(fd), FfmpegGate::mp4Items(fd),
          FfmpegGate::chunkTags(fd), FfmpegGate::apeItems(fd)}) {
        require(counted >= 0 && counted <= FfmpegGate::kManyTags + 1);
        // Only bytes present count: an entry takes four bytes at least, a
        // frame, an item or a chunk more.
        require(counted <= std::int64_t(size) / 4);
    }
    const FfmpegGate::Verdict verdict = FfmpegGate::verdict(fd);
    const bool crowded = verdict != FfmpegGate::Verdict::Free;
    require(crowded == FfmpegGate::crowded(fd));
    require((verdict == FfmpegGate::Verdict::Unsound) ==
            (FlacMetaMask::walk(fd).kind == FlacLayout::Kind::Unsound));
    if (size < 4 * std::size_t(FfmpegGate::kManyTags))
        require(verdict != FfmpegGate::Verdict::Crowded);
    ::close(fd);
    require(FfmpegGate::kept(in) == crowded);
    require(FfmpegGate::kept(in) == crowded);
    require(FfmpegGate::known(in) == crowded);
    require(FfmpegGate::knownVerdict(in) == verdict);
    QFile::remove(in);
    return 0;
}
