// The gate's walks of arbitrary bytes, as a file whose tags are judged
// before ffmpeg may read it: each walk stays inside the file and gives a
// count that is never negative nor more than the bytes could ever stand
// for; a file too small to hold more than the bound of tags of any kind is
// kept only as an unsound FLAC; and the verdict is the same walked, asked by
// path and asked again (from what was kept).
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
         {FfmpegGate::id3Frames(fd), FfmpegGate::oggComments(fd), FfmpegGate::mp4Items(fd)})
        require(counted >= 0 && counted <= FfmpegGate::kManyTags + 1 + std::int64_t(size));
    const bool crowded = FfmpegGate::crowded(fd);
    // An entry takes four bytes at least, a frame or an item more.
    if (size < 4 * std::size_t(FfmpegGate::kManyTags))
        require(crowded == (FlacMetaMask::walk(fd).kind == FlacLayout::Kind::Unsound));
    ::close(fd);
    require(FfmpegGate::kept(in) == crowded);
    require(FfmpegGate::kept(in) == crowded);
    require(FfmpegGate::known(in) == crowded);
    QFile::remove(in);
    return 0;
}
