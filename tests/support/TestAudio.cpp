// Guards against: (fixture) test audio unlike what the tests think they wrote.
#include "TestAudio.h"

#include "TestFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>

#include <sndfile.h>

#include <cmath>
#include <random>

namespace ql::test {

namespace {

int bitsOf(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_16:
        return 16;
    case SF_FORMAT_PCM_24:
        return 24;
    default:
        return 32;
    }
}

} // namespace

QString writeTemp(const QString& name, const AudioShape& shape) {
    const QString path = QDir::temp().filePath(name);
    if (!writeAudio(path, shape))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

bool writeAudio(const QString& path, const AudioShape& audio) {
    SF_INFO info{};
    info.samplerate = audio.rate;
    info.channels = audio.channels;
    info.format = audio.format;
    SNDFILE* f = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!f)
        return false;
    const int bits = bitsOf(audio.format);
    const std::int64_t lo = -(std::int64_t(1) << (bits - 1));
    const std::int64_t hi = (std::int64_t(1) << (bits - 1)) - 1;
    std::mt19937 rng(audio.seed);
    std::uniform_int_distribution<std::int64_t> dist(lo, hi);
    const std::int64_t block = 4096;
    std::vector<int> buf(std::size_t(block * audio.channels));
    bool ok = true;
    for (std::int64_t at = 0; at < audio.frames && ok; at += block) {
        const std::int64_t n = std::min(block, audio.frames - at);
        for (std::int64_t i = 0; i < n; ++i) {
            for (int c = 0; c < audio.channels; ++c) {
                std::int64_t v;
                const std::int64_t frame = at + i;
                if (audio.signal == Signal::Sine) {
                    const double x = audio.amplitude * std::sin(2 * M_PI * audio.frequency *
                                                                double(frame) / audio.rate);
                    v = std::llround(x * double(hi));
                } else if (frame == 0) {
                    v = c % 2 ? hi : lo; // the extremes first
                } else {
                    v = dist(rng);
                }
                buf[std::size_t(i * audio.channels + c)] = int(std::uint32_t(v) << (32 - bits));
            }
        }
        ok = sf_writef_int(f, buf.data(), n) == n;
    }
    return sf_close(f) == 0 && ok;
}

namespace {

template <typename Write>
bool writeWith(const QString& path, int format, int rate, int channels, Write write) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* f = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!f)
        return false;
    // Float data is written as given: no normalisation, no clipping.
    sf_command(f, SFC_SET_NORM_DOUBLE, nullptr, SF_TRUE);
    sf_command(f, SFC_SET_CLIPPING, nullptr, SF_FALSE);
    const bool ok = write(f);
    return sf_close(f) == 0 && ok;
}

} // namespace

bool writeSamples(const QString& path, int format, const Samples& samples) {
    return writeWith(path, format, samples.rate, samples.channels, [&](SNDFILE* f) {
        return sf_writef_int(f, samples.data.data(), samples.frames()) == samples.frames();
    });
}

bool writeFloatWav(const QString& path, int rate, int channels, const std::vector<double>& data) {
    const auto frames = sf_count_t(data.size() / std::size_t(channels));
    return writeWith(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, rate, channels, [&](SNDFILE* f) {
        return sf_writef_double(f, data.data(), frames) == frames;
    });
}

Samples readSamples(const QString& path) {
    Samples s;
    SF_INFO info{};
    SNDFILE* f = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!f)
        return s;
    s.rate = info.samplerate;
    s.channels = info.channels;
    s.data.resize(std::size_t(info.frames * info.channels));
    const sf_count_t got = sf_readf_int(f, s.data.data(), info.frames);
    s.data.resize(std::size_t(std::max<sf_count_t>(got, 0) * info.channels));
    sf_close(f);
    return s;
}

bool writeBrokenFlac(const QString& path, std::int64_t frames, Damage damage) {
    AudioShape audio;
    audio.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    audio.frames = frames;
    if (!writeAudio(path, audio))
        return false;
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite))
        return false;
    QByteArray bytes = f.readAll();
    if (damage == Damage::Cut) {
        bytes.truncate(bytes.size() / 2);
    } else {
        for (qsizetype i = bytes.size() / 2; i < bytes.size() / 2 + 400; ++i)
            bytes[i] = char(bytes[i] ^ 0x5a);
    }
    return f.resize(0) && f.seek(0) && f.write(bytes) == bytes.size();
}

int signChanges(const std::vector<double>& v, int channels, std::size_t from, std::size_t to) {
    const auto ch = std::size_t(channels);
    int n = 0;
    for (std::size_t i = from + 1; i < to; ++i)
        if ((v[i * ch] >= 0) != (v[(i - 1) * ch] >= 0))
            ++n;
    return n;
}

bool runFfmpeg(const QStringList& args) {
    QProcess p;
    p.setStandardInputFile(QProcess::nullDevice());
    p.start(QStringLiteral("ffmpeg"), QStringList{"-v", "error", "-y"} + args);
    if (!p.waitForFinished(120000))
        return false;
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool pipedFlac(const QString& wav, const QString& flac) {
    QProcess p;
    p.setStandardInputFile(QProcess::nullDevice());
    p.setStandardOutputFile(flac);
    p.start(QStringLiteral("ffmpeg"),
            {"-v", "error", "-i", wav, "-c:a", "flac", "-f", "flac", "pipe:1"});
    return p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool withLongTags(const QString& source, const QString& path) {
    // Through a metadata file: one argument may not hold 250,000 characters.
    const QString meta = path + QStringLiteral(".ffmeta");
    QFile f(meta);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write(";FFMETADATA1\ntitle=" + QByteArray(250'000, 'x') +
            "\nLYRICS=" + QByteArray("la la la ").repeated(60'000 / 9) + "\n");
    f.close();
    const bool made = runFfmpeg({"-i", source, "-i", meta, "-map", "0", "-map_metadata", "1",
                                 "-c:a", path.endsWith(".wv") ? "wavpack" : "copy", path});
    QFile::remove(meta);
    return made;
}

bool writeMp3(const QString& path, bool loudFirst, bool vbr, bool lengthHeader) {
    const QString noise = "anoisesrc=d=%1:c=pink:r=44100", quiet = "sine=d=%1:f=440:r=44100";
    const QString first = loudFirst ? noise.arg(6) : "anullsrc=r=44100:cl=mono:d=6";
    const QString second = loudFirst ? quiet.arg(13.6) + ",volume=0.01" : noise.arg(13.6);
    return runFfmpeg({"-f", "lavfi", "-i", first, "-f", "lavfi", "-i", second, "-filter_complex",
                      "[0][1]concat=n=2:v=0:a=1,aformat=channel_layouts=stereo", "-c:a",
                      "libmp3lame", vbr ? "-q:a" : "-b:a", vbr ? "6" : "192k", "-write_xing",
                      lengthHeader ? "1" : "0", path});
}

std::int64_t mp3Samples(const QString& path) {
    QProcess p;
    p.start(QStringLiteral("ffprobe"),
            {"-v", "error", "-select_streams", "a", "-count_packets", "-show_entries",
             "stream=nb_read_packets", "-of", "csv=p=0", path});
    p.waitForFinished(120000);
    return p.readAllStandardOutput().trimmed().toLongLong() * 1152;
}

Samples ramp(std::int64_t from, std::int64_t to, int rate) {
    Samples s;
    s.rate = rate;
    s.channels = 2;
    for (std::int64_t f = from; f < to; ++f) {
        const auto left = std::int32_t(std::int64_t(INT32_MIN) + f * kRampStep);
        s.data.push_back(left);
        s.data.push_back(~left & ~0xff);
    }
    return s;
}

bool equalWithFades(const std::vector<std::int32_t>& got, const std::vector<std::int32_t>& want,
                    int channels, std::int32_t lsb, const std::vector<Fade>& fades) {
    if (got.size() != want.size())
        return false;
    for (std::size_t i = 0; i < got.size(); ++i) {
        double gain = 1.0;
        bool faded = false;
        for (const Fade& f : fades) {
            if (i < f.at || i >= f.at + std::size_t(f.frames * channels))
                continue;
            const double k = double((i - f.at) / std::size_t(channels));
            gain = f.out ? (f.frames - k) / f.frames : (k + 1) / f.frames;
            faded = true;
        }
        if (!faded ? got[i] != want[i]
                   : std::abs(double(got[i]) - double(want[i]) * gain) > 1.5 * double(lsb))
            return false;
    }
    return true;
}

FlacParts flacParts(const QByteArray& flac) {
    FlacParts parts;
    qsizetype at = 4;
    for (bool last = false; !last && at + 4 <= flac.size();) {
        const auto* p = reinterpret_cast<const unsigned char*>(flac.constData() + at);
        last = p[0] & 0x80;
        const qsizetype size = qsizetype(p[1]) << 16 | p[2] << 8 | p[3];
        parts.blocks.push_back({p[0] & 0x7F, flac.mid(at + 4, size)});
        at += 4 + size;
    }
    parts.audio = flac.mid(at);
    return parts;
}

QByteArray flacBytes(const FlacParts& parts) {
    QByteArray out = "fLaC";
    for (qsizetype i = 0; i < parts.blocks.size(); ++i) {
        const auto& [type, body] = parts.blocks[i];
        const qsizetype size = body.size();
        out += char(type | (i + 1 == parts.blocks.size() ? 0x80 : 0));
        out += char(size >> 16), out += char(size >> 8), out += char(size);
        out += body;
    }
    return out + parts.audio;
}

QByteArray commentBlock(int count) {
    auto u32le = [](quint32 v) {
        return QByteArray(1, char(v)) + char(v >> 8) + char(v >> 16) + char(v >> 24);
    };
    QByteArray comments = u32le(4) + "test" + u32le(quint32(count));
    for (int i = 0; i < count; ++i) {
        const QByteArray entry = i == 0 ? "GENRE=Noise" : "COMMENT=c" + QByteArray::number(i);
        comments += u32le(quint32(entry.size())) + entry;
    }
    return comments;
}

QByteArray withComments(const QByteArray& flac, int count, bool storesLength) {
    FlacParts parts = flacParts(flac);
    parts.blocks.removeIf([](const auto& block) { return block.first == kFlacComments; });
    parts.blocks.insert(1, {kFlacComments, commentBlock(count)});
    if (!storesLength) { // the low 4 bits of byte 13 and bytes 14-17 of STREAMINFO
        QByteArray& info = parts.blocks[0].second;
        info[13] = char(info[13] & 0xF0);
        info.replace(14, 4, "\0\0\0\0", 4);
    }
    return flacBytes(parts);
}

QByteArray shapedFlac(const QByteArray& flac, FlacShape shape, int count) {
    FlacParts parts = flacParts(flac);
    parts.blocks.removeIf([](const auto& block) { return block.first == kFlacComments; });
    const auto streamInfo = parts.blocks.front();
    parts.blocks.insert(1, {kFlacComments, commentBlock(count)});
    switch (shape) {
    case FlacShape::BlocksBefore:
        for (int i = 0; i < 1100; ++i)
            parts.blocks.insert(1, {kFlacPadding, {}});
        break;
    case FlacShape::SmallCommentsFirst:
        parts.blocks.insert(1, {kFlacComments, commentBlock(3)});
        break;
    case FlacShape::SecondStreamInfo:
        parts.blocks.insert(2, streamInfo);
        break;
    case FlacShape::OtherStreamInfo: {
        auto other = streamInfo; // the channels less one: bits 1-3 of byte 12
        other.second[12] = char(other.second[12] - 2);
        parts.blocks.insert(2, other);
        break;
    }
    case FlacShape::BlockPastEnd:
        parts.blocks.insert(2, {kFlacPadding, {}});
        break;
    default:
        break;
    }
    QByteArray bytes = flacBytes(parts);
    if (shape == FlacShape::BlockPastEnd) {
        // The padding block after the comments, made last and longer than
        // all that follows it.
        const qsizetype at = 4 + 4 + streamInfo.second.size() + 4 + parts.blocks[1].second.size();
        bytes[at] = char(0x81);
        bytes[at + 1] = char(0x7F);
    }
    if (shape == FlacShape::Id3Before || shape == FlacShape::Id3WithFooter) {
        const bool footer = shape == FlacShape::Id3WithFooter;
        const QByteArray frame = QByteArray("TIT2\0\0\0\x06\0\0\0title", 16);
        const QByteArray size("\0\0\0\x10", 4); // syncsafe: 16 bytes
        const QByteArray head = QByteArray(footer ? "ID3\x04\0\x10" : "ID3\x03\0\0", 6) + size;
        bytes.prepend(head + frame + (footer ? QByteArray("3DI\x04\0\x10", 6) + size : ""));
    }
    return bytes;
}

QList<qint64> childrenNamed(const QStringList& programs) {
    QList<qint64> pids;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/") + entry + QStringLiteral("/stat"));
        const QByteArray line = stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray();
        const qsizetype open = line.indexOf('('), close = line.lastIndexOf(')');
        if (open < 0 || close < open)
            continue;
        const QString name = QString::fromUtf8(line.mid(open + 1, close - open - 1));
        const qint64 parent = line.mid(close + 2).split(' ').value(1).toLongLong();
        if (programs.contains(name) && parent == QCoreApplication::applicationPid())
            pids << entry.toLongLong();
    }
    return pids;
}

namespace {

struct OggPage {
    std::uint8_t flags = 0;
    std::uint64_t granule = 0;
    std::uint32_t serial = 0;
    QList<int> lacing;
    QByteArray data;
};

std::uint32_t oggCrc(const QByteArray& bytes) {
    std::uint32_t crc = 0;
    for (const char c : bytes) {
        crc ^= std::uint32_t(std::uint8_t(c)) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = crc & 0x80000000u ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}

QByteArray bigEndian24(quint32 value) {
    const char bytes[] = {char(value >> 16), char(value >> 8), char(value)};
    return QByteArray(bytes, 3);
}

QByteArray le(std::uint64_t value, int bytes) {
    QByteArray out;
    for (int i = 0; i < bytes; ++i)
        out += char(value >> (8 * i));
    return out;
}

QByteArray pageBytes(const OggPage& page, std::uint32_t sequence) {
    QByteArray out = QByteArray("OggS\0", 5) + char(page.flags) + le(page.granule, 8) +
                     le(page.serial, 4) + le(sequence, 4) + le(0, 4) + char(page.lacing.size());
    for (const int lace : page.lacing)
        out += char(lace);
    out += page.data;
    const std::uint32_t crc = oggCrc(out);
    out.replace(22, 4, le(crc, 4));
    return out;
}

// The pages that carry `packets`, in order, the last of them ending its page.
QList<OggPage> paged(const QList<QByteArray>& packets, std::uint32_t serial) {
    QList<OggPage> pages(1);
    bool continued = false;
    for (const QByteArray& packet : packets) {
        for (qsizetype at = 0;;) {
            if (pages.last().lacing.size() == 255) {
                pages.append(OggPage{});
                pages.last().flags = continued ? 1 : 0;
            }
            const int lace = int(std::min<qsizetype>(255, packet.size() - at));
            pages.last().lacing.append(lace);
            pages.last().data += packet.mid(at, lace);
            at += lace;
            continued = lace == 255;
            if (lace < 255)
                break;
        }
    }
    for (OggPage& page : pages) {
        page.serial = serial;
        // No packet ends on a page whose last segment is full.
        page.granule = page.lacing.last() == 255 ? ~std::uint64_t(0) : 0;
    }
    return pages;
}

} // namespace

bool oggWithComments(const QString& source, const QString& path, int count) {
    const QByteArray bytes = readFile(source);
    QList<OggPage> pages;
    for (qsizetype at = 0; at + 27 <= bytes.size();) {
        if (!bytes.mid(at).startsWith("OggS"))
            return false;
        OggPage page;
        page.flags = std::uint8_t(bytes[at + 5]);
        for (int i = 7; i >= 0; --i)
            page.granule = page.granule << 8 | std::uint8_t(bytes[at + 6 + i]);
        for (int i = 3; i >= 0; --i)
            page.serial = page.serial << 8 | std::uint8_t(bytes[at + 14 + i]);
        const int segments = std::uint8_t(bytes[at + 26]);
        qsizetype length = 0;
        for (int i = 0; i < segments; ++i) {
            page.lacing.append(std::uint8_t(bytes[at + 27 + i]));
            length += page.lacing.last();
        }
        page.data = bytes.mid(at + 27 + segments, length);
        at += 27 + segments + length;
        pages.append(page);
    }
    if (pages.isEmpty())
        return false;
    // The header packets: Vorbis has three, Opus two, FLAC (as ffmpeg writes
    // it) its first and a comment block, and the audio starts on a page of
    // its own.
    const bool vorbis = pages.first().data.startsWith("\x01vorbis");
    const bool flac = pages.first().data.startsWith("\x7F" "FLAC");
    const int headers = vorbis ? 3 : 2;
    QList<QByteArray> packets(1);
    int page = 0;
    for (; page < pages.size() && packets.size() <= headers; ++page) {
        qsizetype at = 0;
        for (const int lace : pages[page].lacing) {
            packets.last() += pages[page].data.mid(at, lace);
            at += lace;
            if (lace < 255)
                packets.append(QByteArray());
        }
    }
    if (packets.size() != headers + 1 || !packets.last().isEmpty())
        return false;
    QByteArray tags = vorbis ? QByteArray("\x03vorbis")
                      : flac ? QByteArray() // its block header goes in front below
                             : QByteArray("OpusTags");
    const QByteArray vendor("test");
    tags += le(std::uint64_t(vendor.size()), 4) + vendor + le(std::uint64_t(count), 4);
    for (int i = 0; i < count; ++i) {
        // The first of them the genre "Noise".
        const QByteArray entry =
            i == 0 ? QByteArray("GENRE=Noise")
                   : "KEY" + QByteArray::number(i) + "=value " + QByteArray::number(i);
        tags += le(std::uint64_t(entry.size()), 4) + entry;
    }
    if (vorbis)
        tags += char(1); // the framing bit
    if (flac) // the last metadata block, a comment block
        tags = QByteArray(1, char(0x84)) + bigEndian24(quint32(tags.size())) + tags;
    const std::uint32_t serial = pages.first().serial;
    QList<OggPage> out = paged({packets[0]}, serial);
    out.first().flags = 2; // the stream's first page
    out += paged(vorbis ? QList<QByteArray>{tags, packets[2]} : QList<QByteArray>{tags}, serial);
    out += pages.mid(page);
    QByteArray written;
    for (int i = 0; i < out.size(); ++i)
        written += pageBytes(out[i], std::uint32_t(i));
    return writeFile(path, written);
}

// `flac` with a comment block of `count` entries, then `padding` bytes of
// padding blocks (each as large as a block can be), the last block; written
// sparse, the padding holes in the file.
bool writeSparsePadded(const QString& path, const QByteArray& flac, int count, qint64 padding) {
    const FlacParts parts = flacParts(withComments(flac, count));
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write("fLaC") != 4)
        return false;
    const auto header = [](int type, bool last, qint64 length) {
        const char bytes[] = {char(type | (last ? 0x80 : 0)), char(length >> 16), char(length >> 8),
                              char(length)};
        return QByteArray(bytes, 4);
    };
    for (const auto& [type, body] : parts.blocks)
        if (out.write(header(type, false, body.size()) + body) != body.size() + 4)
            return false;
    constexpr qint64 kLargest = (1 << 24) - 1;
    for (qint64 left = padding; left > 0;) {
        const qint64 length = std::min(left, kLargest);
        left -= length;
        if (out.write(header(kFlacPadding, left == 0, length)) != 4 ||
            !out.seek(out.pos() + length))
            return false;
    }
    return out.write(parts.audio) == parts.audio.size();
}

namespace {

qint64 be32At(const QByteArray& bytes, qsizetype at) {
    return qint64(quint8(bytes[at])) << 24 | qint64(quint8(bytes[at + 1])) << 16 |
           qint64(quint8(bytes[at + 2])) << 8 | qint64(quint8(bytes[at + 3]));
}

QByteArray bigEndian32(quint32 value) {
    const char bytes[] = {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
    return QByteArray(bytes, 4);
}

QByteArray atom(const char* type, const QByteArray& body) {
    return bigEndian32(quint32(8 + body.size())) + QByteArray(type, 4) + body;
}

// An .m4a of two seconds of AAC whose movie header ends with `count`
// freeform tags (m4aWithTags).
QString m4aWithFreeformTags(int count) {
    const QString path = tempFile(QStringLiteral("freeform-tags-%1.m4a").arg(count));
    if (QFile::exists(path))
        return path;
    const QString source = tempFile(QStringLiteral("before-tags.m4a"));
    if (!QFile::exists(source) && !runFfmpeg({"-f", "lavfi", "-i", "sine=frequency=440:duration=2",
                                              "-ac", "2", "-c:a", "aac", source}))
        qFatal("cannot make %s", qPrintable(source));
    if (!m4aWithTags(source, path, count))
        qFatal("cannot write %s: is its movie header at its end?", qPrintable(path));
    return path;
}

// Two seconds of Ogg Vorbis or Opus whose comment packet holds `count`
// entries.
QString oggFileWithComments(bool opus, int count) {
    const QString path = tempFile(
        (opus ? QStringLiteral("many-comments-%1.opus") : QStringLiteral("many-comments-%1.ogg"))
            .arg(count));
    if (QFile::exists(path))
        return path;
    const QString plain = tempFile(opus ? QStringLiteral("before-comments.opus")
                                        : QStringLiteral("before-comments.ogg"));
    if (!QFile::exists(plain) &&
        !runFfmpeg({"-f", "lavfi", "-i", "sine=frequency=440:duration=2", "-ac", "2", "-ar",
                    "48000", "-c:a", opus ? "libopus" : "libvorbis", plain}))
        qFatal("cannot make %s", qPrintable(plain));
    if (!oggWithComments(plain, path, count))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

// An ID3v2.3 tag of the genre "Noise" (ISO-8859-1 text) and `count` TXXX
// frames.
QByteArray txxxTag(int count) {
    QByteArray frames = "TCON" + bigEndian32(6) + QByteArray(2, '\0') + QByteArray("\0Noise", 6);
    for (int i = 0; i < count; ++i) {
        const QByteArray body = QByteArray("\0KEY", 4) + QByteArray::number(i) +
                                QByteArray("\0value ", 7) + QByteArray::number(i);
        frames += "TXXX" + bigEndian32(quint32(body.size())) + QByteArray(2, '\0') + body;
    }
    const auto size = quint32(frames.size());
    const char header[] = {'I',
                           'D',
                           '3',
                           3,
                           0,
                           0, // 7 bits a byte:
                           char(size >> 21 & 0x7F),
                           char(size >> 14 & 0x7F),
                           char(size >> 7 & 0x7F),
                           char(size & 0x7F)};
    return QByteArray(header, 10) + frames;
}

// An MP3 of two seconds behind an ID3v2.3 tag of `count` TXXX frames, with a
// zero byte between the tag and the first frame when `strayByte`.
QString mp3WithTxxxFrames(int count, bool strayByte) {
    const QString path = tempFile((strayByte ? QStringLiteral("txxx-frames-stray-%1.mp3")
                                             : QStringLiteral("txxx-frames-%1.mp3"))
                                      .arg(count));
    if (QFile::exists(path))
        return path;
    const QString plain = tempFile(QStringLiteral("before-frames.mp3"));
    if (!QFile::exists(plain) &&
        !runFfmpeg({"-f", "lavfi", "-i", "sine=frequency=440:duration=2", "-ac", "2", "-c:a",
                    "libmp3lame", "-id3v2_version", "0", plain}))
        qFatal("cannot make %s", qPrintable(plain));
    if (!writeFile(path, txxxTag(count) + (strayByte ? QByteArray(1, '\0') : QByteArray()) +
                             readFile(plain)))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}


// Two seconds of sound made by ffmpeg into `name` (in the temporary
// folder) with `codec` options, once per run.
QString plainSound(const QString& name, const QStringList& codec) {
    const QString plain = tempFile(name);
    if (!QFile::exists(plain) &&
        !runFfmpeg(QStringList{"-f", "lavfi", "-i", "sine=frequency=440:duration=2", "-ac", "2"} +
                   codec + QStringList{plain}))
        qFatal("cannot make %s", qPrintable(plain));
    return plain;
}

// WAV or AIFF whose sound is followed by an ID3 chunk ("id3 ", "ID3 ")
// holding txxxTag(count).
QString withId3Chunk(bool aiff, int count) {
    const QString path = tempFile(
        (aiff ? QStringLiteral("id3-chunk-%1.aiff") : QStringLiteral("id3-chunk-%1.wav")).arg(count));
    if (QFile::exists(path))
        return path;
    // (Without the encoder's name, which ffmpeg writes into a WAV's LIST
    // INFO chunk: one tag more.)
    QByteArray bytes = readFile(plainSound(aiff ? "before-chunk.aiff" : "before-chunk.wav",
                                           {"-fflags", "+bitexact"}));
    const QByteArray tag = txxxTag(count);
    const auto size = quint32(tag.size());
    bytes += (aiff ? "ID3 " + bigEndian32(size) : "id3 " + le(size, 4)) + tag;
    if (size % 2)
        bytes += '\0';
    const auto form = quint32(bytes.size() - 8);
    bytes.replace(4, 4, aiff ? bigEndian32(form) : le(form, 4));
    if (!writeFile(path, bytes))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

// WavPack ending in an APEv2 tag of the genre "Noise" and `count` more
// items.
QString wavpackWithApeItems(int count) {
    const QString path = tempFile(QStringLiteral("ape-items-%1.wv").arg(count));
    if (QFile::exists(path))
        return path;
    const auto item = [](const QByteArray& key, const QByteArray& value) {
        return le(std::uint64_t(value.size()), 4) + le(0, 4) + key + '\0' + value;
    };
    QByteArray items = item("Genre", "Noise");
    for (int i = 0; i < count; ++i)
        items += item("KEY" + QByteArray::number(i), "value " + QByteArray::number(i));
    const QByteArray footer = "APETAGEX" + le(2000, 4) + le(std::uint64_t(items.size() + 32), 4) +
                              le(std::uint64_t(count + 1), 4) + le(0, 4) + QByteArray(8, '\0');
    const QString plain = plainSound("before-items.wv", {"-c:a", "wavpack"});
    if (!writeFile(path, readFile(plain) + items + footer))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

// FLAC in Ogg whose comment block holds `count` entries.
QString oggFlacWithComments(int count) {
    const QString path = tempFile(QStringLiteral("many-comments-%1.oga").arg(count));
    if (QFile::exists(path))
        return path;
    const QString plain = plainSound("before-comments.oga", {"-c:a", "flac", "-f", "ogg"});
    if (!oggWithComments(plain, path, count))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}
} // namespace

bool m4aWithTags(const QString& source, const QString& path, int count) {
    const QByteArray plain = readFile(source);
    qsizetype moov = 0;
    while (moov + 8 <= plain.size() && plain.mid(moov + 4, 4) != "moov")
        moov += quint32(be32At(plain, moov));
    if (moov + 8 > plain.size() || moov + quint32(be32At(plain, moov)) != plain.size())
        return false;
    const QByteArray full(4, '\0'); // a full atom's version and flags
    // The genre "Noise" first.
    QByteArray items = atom("\xA9gen", atom("data", bigEndian32(1) + bigEndian32(0) + "Noise"));
    for (int i = 0; i < count; ++i)
        items += atom("----", atom("mean", full + "com.apple.iTunes") +
                                  atom("name", full + "KEY" + QByteArray::number(i)) +
                                  atom("data", bigEndian32(1) + bigEndian32(0) + "value " +
                                                   QByteArray::number(i)));
    const QByteArray handler =
        atom("hdlr", full + QByteArray(4, '\0') + "mdirappl" + QByteArray(9, '\0'));
    const QByteArray udta = atom("udta", atom("meta", full + handler + atom("ilst", items)));
    QByteArray movie = plain.mid(moov);
    movie.replace(0, 4, bigEndian32(quint32(movie.size() + udta.size())));
    return writeFile(path, plain.left(moov) + movie + udta);
}

QString crowdedFile(Crowded kind, int count) {
    switch (kind) {
    case Crowded::M4a:
        return m4aWithFreeformTags(count);
    case Crowded::Mp3:
    case Crowded::Mp3ZeroAfterTags:
        return mp3WithTxxxFrames(count, kind == Crowded::Mp3ZeroAfterTags);
    case Crowded::Vorbis:
    case Crowded::Opus:
        return oggFileWithComments(kind == Crowded::Opus, count);
    case Crowded::Wav:
    case Crowded::Aiff:
        return withId3Chunk(kind == Crowded::Aiff, count);
    case Crowded::OggFlac:
        return oggFlacWithComments(count);
    case Crowded::WavPack:
        return wavpackWithApeItems(count);
    }
    return {};
}

} // namespace ql::test
