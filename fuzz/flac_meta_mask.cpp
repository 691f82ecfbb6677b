// A FLAC's metadata walked from arbitrary bytes, as the player reads a file
// whose comment block libFLAC refuses: every block found is a comment block
// inside the file, in order, after "fLaC" (at the start or after ID3v2 tags);
// the entries counted are no more than the blocks' bytes hold; the copy for
// ffmpeg is "fLaC", every block but the comments and the padding, in order,
// the last of them flagged last, then the bytes after the last block (a file
// that is no FLAC copied as it is), and an unsound FLAC, or one of nothing
// but comments and padding, is not copied; opening through the mask never
// reads outside the file.
#include "FuzzInput.h"

#include "platform/audio/FlacMetaMask.h"

#include <QByteArray>
#include <QFile>

#include <sndfile.h>

#include <fcntl.h>
#include <unistd.h>

using namespace ql;
using ql::fuzz::require;
using ql::platform::FlacMetaMask;

namespace {

QString scratch(const char* what) {
    return QStringLiteral("/tmp/ql-fuzz-flac-meta-mask-%1-%2").arg(::getpid()).arg(what);
}

QByteArray read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString in = scratch("in.flac"), out = scratch("out.flac");
    {
        QFile f(in);
        require(f.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                f.write(bytes) == bytes.size());
    }
    const int fd = ::open(QFile::encodeName(in).constData(), O_RDONLY | O_CLOEXEC);
    require(fd >= 0);
    const ql::platform::FlacLayout layout = FlacMetaMask::walk(fd);
    const std::vector<std::int64_t> blocks = FlacMetaMask::commentBlocks(fd);
    ::close(fd);
    const bool sound = layout.kind == ql::platform::FlacLayout::Kind::Sound;
    require(blocks == (sound ? layout.commentBlocks : std::vector<std::int64_t>{}));
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        require(blocks[i] >= 4 && blocks[i] + 4 <= qint64(size));
        require(i == 0 || blocks[i] > blocks[i - 1]);
        require((std::uint8_t(bytes[qsizetype(blocks[i])]) & 0x7F) == 4);
    }
    require(layout.kind == ql::platform::FlacLayout::Kind::NotFlac || bytes.startsWith("fLaC") ||
            bytes.startsWith("ID3"));
    require(layout.commentEntries >= 0 && layout.commentEntries <= qint64(size) / 4);

    // What the copy holds, found by a walk of the blocks of our own.
    QByteArray want = bytes;
    bool copyable = layout.kind != ql::platform::FlacLayout::Kind::Unsound;
    if (sound) {
        QList<QByteArray> kept;
        qsizetype at = qsizetype(layout.start) + 4;
        for (;;) {
            const auto byte = [&](qsizetype i) { return std::uint8_t(bytes[at + i]); };
            const qsizetype length = qsizetype(byte(1)) << 16 | qsizetype(byte(2)) << 8 | byte(3);
            const int type = byte(0) & 0x7F;
            const bool last = byte(0) & 0x80;
            if (type != 1 && type != 4)
                kept << bytes.mid(at, 4 + length);
            at += 4 + length;
            if (last)
                break;
        }
        copyable = !kept.isEmpty();
        want = "fLaC";
        for (qsizetype i = 0; i < kept.size(); ++i) {
            QByteArray block = kept[i];
            block[0] = char((block[0] & 0x7F) | (i + 1 == kept.size() ? 0x80 : 0));
            want += block;
        }
        want += bytes.mid(at);
    }
    const bool copied = FlacMetaMask::copyMasked(in, out);
    require(copied == copyable);
    if (layout.kind == ql::platform::FlacLayout::Kind::Unsound) {
        SF_INFO refused{};
        require(!FlacMetaMask::open(in, refused));
        return 0;
    }
    if (copied)
        require(read(out) == want);

    SF_INFO info{};
    if (const std::unique_ptr<FlacMetaMask> mask = FlacMetaMask::open(in, info)) {
        require(!blocks.empty() && info.channels > 0 && info.samplerate > 0);
        std::vector<double> frames(4096 * std::size_t(info.channels));
        while (sf_readf_double(mask->file(), frames.data(), 4096) > 0) {
        }
        sf_close(mask->file());
    }
    return 0;
}
