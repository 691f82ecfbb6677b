#include "platform/audio/FfmpegGate.h"

#include "app/FileStamp.h"
#include "platform/audio/FileWindow.h"
#include "platform/audio/FlacMetaMask.h"
#include "platform/audio/Id3Size.h"

#include <QFile>
#include <QHash>
#include <QMutex>

#include <algorithm>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ql::platform {

namespace {

constexpr std::int64_t kPast = FfmpegGate::kManyTags + 1;
// Headers one walk visits at most (boxes, chunks, pages, packets): a walk
// that needs more is of no real file, and its cost stays bounded.
constexpr std::int64_t kMostVisits = std::int64_t(1) << 20;

// ---- ID3v2 ----

// The frames of the tag of `version` and `flags` whose frames lie in
// [from, end), counted to just past the bound. A walk stopped by a header
// that names no frame, short of the end, counts as many more as the bytes
// left could hold: a tag written unsynchronised or in a way this walk does
// not follow is judged by its room.
std::int64_t framesIn(FileWindow& b, int version, std::uint8_t flags, std::int64_t from,
                      std::int64_t end) {
    if (version < 2 || version > 4)
        return 0; // not read by FFmpeg either
    std::int64_t at = from;
    if ((flags & 0x40) && version >= 3) { // an extended header
        const std::uint8_t* x = b.at(at, 4);
        if (!x)
            return 0;
        at += version == 3 ? 4 + be32(x) : id3Syncsafe(x);
    }
    const int head = version == 2 ? 6 : 10;
    const int idBytes = version == 2 ? 3 : 4;
    std::int64_t frames = 0;
    while (at + head <= end) {
        const std::uint8_t* f = b.at(at, head);
        if (!f || f[0] == 0)
            return frames; // the file ends, or padding
        const bool named = std::all_of(f, f + idBytes, [](std::uint8_t c) {
            return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        });
        if (!named)
            return frames + (end - at) / (head + 1);
        std::int64_t length = 0;
        if (version == 2)
            length = std::int64_t(f[3]) << 16 | std::int64_t(f[4]) << 8 | std::int64_t(f[5]);
        else if (version == 3 || (f[4] | f[5] | f[6] | f[7]) & 0x80)
            length = be32(f + 4); // (a 2.4 tag written with plain sizes)
        else
            length = id3Syncsafe(f + 4);
        if (++frames >= kPast)
            return frames;
        at += head + length;
    }
    return frames;
}

// The frames of the ID3v2 tag at `at` (none when no tag starts there), its
// bytes up to the file's end.
std::int64_t tagFrames(FileWindow& b, std::int64_t at) {
    const std::uint8_t* h = b.at(at, kId3Header);
    if (!h || std::memcmp(h, "ID3", 3) != 0)
        return 0;
    const std::int64_t end = at + kId3Header + id3Syncsafe(h + 6);
    return framesIn(b, h[3], h[5], at + kId3Header, std::min(end, b.size()));
}

// The frames of the ID3v2 tags at the file's start (FFmpeg reads them
// before any format's own header), and where they end.
std::int64_t leadingFrames(FileWindow& b, std::int64_t& after) {
    std::int64_t frames = 0;
    // Tags one after another, each taking at least its header.
    std::int64_t at = 0;
    for (; frames < kPast;) {
        const std::uint8_t* h = b.at(at, kId3Header);
        if (!h || std::memcmp(h, "ID3", 3) != 0)
            break;
        // The header of each tag after the first counted too: a file of many
        // empty tags is no file either.
        frames += (at > 0 ? 1 : 0) + tagFrames(b, at);
        at += id3TagBytes(h);
    }
    after = at;
    return std::min(frames, kPast);
}

// ---- Ogg ----

// One page's header: where its data starts, the length of each segment and
// how many of the bytes they claim the file holds.
struct Page {
    std::int64_t at = 0;
    std::uint32_t serial = 0;
    int segments = 0;
    std::uint8_t lacing[255] = {};
    std::int64_t data = 0;    // where the first segment starts
    std::int64_t claimed = 0; // the bytes its segments claim
    std::int64_t present = 0; // of them, those in the file (fewer on a cut-off page)
};

bool pageAt(FileWindow& b, std::int64_t at, Page& page) {
    const std::uint8_t* h = b.at(at, 27);
    if (!h || std::memcmp(h, "OggS", 4) != 0 || h[4] != 0)
        return false;
    page.at = at;
    page.serial = std::uint32_t(le32(h + 14));
    page.segments = h[26];
    const std::uint8_t* lacing = b.at(at + 27, page.segments);
    if (!lacing)
        return false;
    std::memcpy(page.lacing, lacing, std::size_t(page.segments));
    page.data = at + 27 + page.segments;
    page.claimed = 0;
    for (int i = 0; i < page.segments; ++i)
        page.claimed += page.lacing[i];
    page.present = std::min(page.claimed, b.size() - page.data);
    return true;
}

// The packets of the file's first logical stream, followed across pages:
// only the bytes the file holds are counted, however many a page's lacing
// claims.
class OggPackets {
public:
    OggPackets(FileWindow& b, std::int64_t at) : m_bytes(b) { m_valid = pageAt(b, at, m_page); }
    bool valid() const { return m_valid; }
    // Moves through up to `n` more bytes of the current packet, noting where
    // they lie; false when the stream (or the file) ends first. `ended`: the
    // packet ended (the next call reads the next packet).
    bool advance(std::int64_t n, bool& ended) {
        ended = false;
        for (;;) {
            if (m_segment == m_page.segments) {
                if (!nextPage())
                    return false;
                continue;
            }
            const std::int64_t lace = m_page.lacing[m_segment];
            // The bytes of this segment in the file.
            const std::int64_t here =
                std::clamp<std::int64_t>(m_page.present - m_segmentStart, 0, lace);
            const std::int64_t take = std::min(n, here - m_inSegment);
            if (take > 0) {
                m_spans.push_back({m_page.data + m_segmentStart + m_inSegment, take});
                m_held += take;
                n -= take;
                m_inSegment += take;
            }
            if (m_inSegment < lace)
                return n == 0; // spent within the segment, or the file ends in it
            m_segmentStart += lace;
            m_inSegment = 0;
            ++m_segment;
            if (lace < 255) {
                ended = true;
                return true;
            }
            if (n == 0)
                return true;
        }
    }
    // Passes the rest of the current packet; false when the stream ends first.
    bool skipPacket(bool& ended) {
        while (!ended) {
            startPacket();
            if (!advance(FileWindow::kBytes, ended))
                return false;
        }
        return true;
    }
    // `n` of the packet's bytes noted so far, from `offset`.
    bool read(std::int64_t offset, int n, std::uint8_t* out) {
        for (const auto& [at, length] : m_spans) {
            if (n == 0)
                break;
            if (offset >= length) {
                offset -= length;
                continue;
            }
            const std::int64_t count = std::min<std::int64_t>(n, length - offset);
            const std::uint8_t* bytes = m_bytes.at(at + offset, count);
            if (!bytes)
                return false;
            std::memcpy(out, bytes, std::size_t(count));
            out += count;
            n -= int(count);
            offset = 0;
        }
        return n == 0;
    }
    // Forgets the bytes noted: the next packet's start at offset 0.
    void startPacket() {
        m_spans.clear();
        m_held = 0;
    }
    std::int64_t held() const { return m_held; }

private:
    bool nextPage() {
        // Pages of other streams (none in a plain file) are passed over.
        std::int64_t next = m_page.data + m_page.claimed;
        while (++m_pages <= kMostVisits) {
            Page page;
            if (!pageAt(m_bytes, next, page))
                return false;
            if (page.serial == m_page.serial) {
                m_page = page;
                m_segment = 0;
                m_segmentStart = 0;
                m_inSegment = 0;
                return true;
            }
            next = page.data + page.claimed;
        }
        return false;
    }

    FileWindow& m_bytes;
    Page m_page;
    bool m_valid = false;
    std::int64_t m_pages = 0; // followed so far
    int m_segment = 0;
    std::int64_t m_segmentStart = 0; // of the current segment, within the page's data
    std::int64_t m_inSegment = 0;
    std::vector<std::pair<std::int64_t, std::int64_t>> m_spans;
    std::int64_t m_held = 0;
};

// The packet that starts now: its first `n` bytes into `out`; false when it
// holds fewer.
bool packetOpening(OggPackets& packets, int n, std::uint8_t* out, bool& ended) {
    packets.startPacket();
    return packets.advance(n, ended) && packets.held() >= n && packets.read(0, n, out);
}

// The entries of the comment list that follows the `head` bytes already read
// of the current packet (with four more: the vendor string's length, in
// `vendorWord`): as many as it declares, no more than the packet's bytes in
// the file hold (four at least each), up to just past the bound.
std::int64_t listedComments(OggPackets& packets, std::int64_t head, const std::uint8_t* vendorWord,
                            bool& ended) {
    if (ended)
        return 0;
    // A vendor string is a few dozen bytes: one that takes more is no
    // encoder's, and walking it would not be cheap.
    const std::int64_t vendor = le32(vendorWord);
    constexpr std::int64_t kLongestVendor = std::int64_t(1) << 16;
    if (vendor > kLongestVendor) {
        // One that runs past its packet is no comment packet at all.
        packets.advance(kLongestVendor, ended);
        return packets.held() - head - 4 >= kLongestVendor ? kPast : 0;
    }
    std::uint8_t word[4] = {};
    if (!packets.advance(vendor + 4, ended) || packets.held() < head + 8 + vendor ||
        !packets.read(head + 4 + vendor, 4, word))
        return 0;
    const std::int64_t declared = le32(word);
    const std::int64_t before = packets.held();
    if (!ended)
        packets.advance(4 * kPast, ended);
    return std::min({declared, (packets.held() - before) / 4, kPast});
}

// The comments of an Ogg stream at `at`: Vorbis, Opus and Speex keep them in
// their second packet, FLAC in any header packet whose block is a comment
// block.
std::int64_t oggCommentsAt(FileWindow& b, std::int64_t at) {
    OggPackets packets(b, at);
    if (!packets.valid())
        return 0;
    bool ended = false;
    std::uint8_t first[8] = {};
    if (!packetOpening(packets, 8, first, ended) || !packets.skipPacket(ended))
        return 0;
    std::uint8_t head[12] = {};
    if (std::memcmp(first, "\x7F" "FLAC", 5) == 0) {
        // Header packets, each a metadata block, until the first frame.
        std::int64_t comments = 0;
        for (std::int64_t n = 0; n < kMostVisits && comments < kPast; ++n) {
            packets.startPacket();
            const bool whole = packets.advance(8, ended);
            if (packets.held() == 0 || !packets.read(0, int(packets.held()), head) ||
                head[0] == 0xFF)
                break;
            if ((head[0] & 0x7F) == 4 && whole && packets.held() == 8)
                comments += listedComments(packets, 4, head + 4, ended);
            if (!packets.skipPacket(ended))
                break;
        }
        return std::min(comments, kPast);
    }
    struct Kind {
        const char* first;
        int firstBytes;
        const char* comments;
        int head;
    };
    static const Kind kKinds[] = {{"\x01vorbis", 7, "\x03vorbis", 7},
                                  {"OpusHead", 8, "OpusTags", 8},
                                  {"Speex   ", 8, "", 0}};
    for (const Kind& kind : kKinds) {
        if (std::memcmp(first, kind.first, std::size_t(kind.firstBytes)) != 0)
            continue;
        if (!packetOpening(packets, kind.head + 4, head, ended) ||
            std::memcmp(head, kind.comments, std::size_t(kind.head)) != 0)
            return 0;
        return listedComments(packets, kind.head, head + kind.head, ended);
    }
    return 0;
}

// ---- chunks: RIFF (WAV, RF64, BW64), AIFF, Wave64, DSF ----

// Tags FFmpeg reads from a RIFF or AIFF file's chunks: the frames of the
// ID3v2 tag in an "id3 " or "ID3 " chunk, each item of a WAV's LIST INFO
// chunk, each of an AIFF's text chunks.
std::int64_t riffTags(FileWindow& b, std::int64_t start) {
    const std::uint8_t* h = b.at(start, 12);
    if (!h)
        return 0;
    const bool wav = (std::memcmp(h, "RIFF", 4) == 0 || std::memcmp(h, "RF64", 4) == 0 ||
                      std::memcmp(h, "BW64", 4) == 0) &&
                     std::memcmp(h + 8, "WAVE", 4) == 0;
    const bool aiff = std::memcmp(h, "FORM", 4) == 0 &&
                      (std::memcmp(h + 8, "AIFF", 4) == 0 || std::memcmp(h + 8, "AIFC", 4) == 0);
    if (!wav && !aiff)
        return 0;
    std::int64_t tags = 0, visits = 0;
    std::int64_t dataSize = -1; // an RF64's, from its ds64 chunk
    for (std::int64_t at = start + 12; tags < kPast && ++visits <= kMostVisits;) {
        const std::uint8_t* c = b.at(at, 8);
        if (!c)
            break;
        std::int64_t size = wav ? le32(c + 4) : be32(c + 4);
        const std::int64_t body = at + 8;
        const auto named = [c](const char* id) { return std::memcmp(c, id, 4) == 0; };
        if (wav && named("ds64")) {
            if (const std::uint8_t* d = b.at(body + 8, 8))
                dataSize = le64(d);
        }
        if (wav && named("data") && size == 0xFFFFFFFF) {
            if (dataSize < 0)
                break; // its length is nowhere: nothing after it is found
            size = dataSize;
        }
        const std::int64_t end = size > b.size() - body ? b.size() : body + size;
        if (named("id3 ") || named("ID3 ")) {
            tags += tagFrames(b, body);
        } else if (wav && named("LIST")) {
            const std::uint8_t* list = b.at(body, 4);
            if (list && std::memcmp(list, "INFO", 4) == 0) {
                for (std::int64_t item = body + 4; item + 8 <= end && tags < kPast &&
                                                   ++visits <= kMostVisits;) {
                    const std::uint8_t* i = b.at(item, 8);
                    if (!i)
                        break;
                    ++tags;
                    item += 8 + le32(i + 4) + (le32(i + 4) & 1);
                }
            }
        } else if (aiff && (named("NAME") || named("AUTH") || named("(c) ") || named("ANNO"))) {
            ++tags;
        }
        if (size >= b.size() - body)
            break; // nothing after it is in the file
        at = body + size + (size & 1);
    }
    // A chunk's tag may claim more than its chunk (FFmpeg reads it whole),
    // so the tags of several chunks may lie over the same bytes: however
    // often they are read, no more tags are gathered than the bytes present
    // hold (seven at least each).
    return std::min({tags, (b.size() - start) / 7, kPast});
}

// The entries of a Wave64 file's summary list.
std::int64_t w64Tags(FileWindow& b, std::int64_t start) {
    static const std::uint8_t kRiff[16] = {'r',  'i',  'f',  'f',  0x2E, 0x91, 0xCF, 0x11,
                                           0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00};
    static const std::uint8_t kSummary[16] = {0xBC, 0x94, 0x5F, 0x92, 0x5A, 0x52, 0xD2, 0x11,
                                              0x86, 0xDC, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};
    const std::uint8_t* h = b.at(start, 16);
    if (!h || std::memcmp(h, kRiff, 16) != 0)
        return 0;
    std::int64_t tags = 0, visits = 0;
    // Chunks of a 16-byte name and an 8-byte size (its header's included),
    // each starting on 8 bytes.
    for (std::int64_t at = start + 40; tags < kPast && ++visits <= kMostVisits;) {
        const std::uint8_t* c = b.at(at, 24);
        if (!c)
            break;
        const std::int64_t size = le64(c + 16);
        if (size < 24)
            break;
        const std::int64_t end = std::min(at + size, b.size());
        if (std::memcmp(c, kSummary, 16) == 0) {
            if (const std::uint8_t* count = b.at(at + 24, 4))
                tags += std::min(le32(count), std::max<std::int64_t>(0, end - at - 28) / 8);
        }
        if (size > b.size() - at)
            break;
        at += (size + 7) / 8 * 8;
    }
    return std::min(tags, kPast);
}

// The frames of a DSF file's ID3v2 tag, where its header points.
std::int64_t dsfTags(FileWindow& b, std::int64_t start) {
    const std::uint8_t* h = b.at(start, 28);
    if (!h || std::memcmp(h, "DSD ", 4) != 0)
        return 0;
    const std::int64_t tag = le64(h + 20);
    return tag >= start + 28 ? tagFrames(b, tag) : 0; // (after the header)
}

// ---- APEv2 ----

// The items of an APEv2 tag whose footer ends the file (as FFmpeg looks for
// one): as many as it declares, no more than its bytes in the file after
// `start` (past the tags at the start) hold.
std::int64_t apeItems(FileWindow& b, std::int64_t start) {
    constexpr std::int64_t kFooter = 32;
    // A length and flags, a key of a character and its end: ten bytes.
    constexpr std::int64_t kSmallestItem = 10;
    const std::uint8_t* f = b.at(b.size() - kFooter, kFooter);
    if (!f || std::memcmp(f, "APETAGEX", 8) != 0)
        return 0;
    const std::int64_t items = std::min(le32(f + 12), b.size() - start) - kFooter;
    return std::clamp<std::int64_t>(std::min(le32(f + 16), items / kSmallestItem), 0, kPast);
}

// ---- MPEG-4 ----

struct Box {
    char type[4] = {};
    std::int64_t body = 0;
    std::int64_t end = 0;
};

// The box at `at` inside [.., limit), or false when none fits there.
bool boxAt(FileWindow& b, std::int64_t at, std::int64_t limit, Box& box) {
    const std::uint8_t* h = b.at(at, 8);
    if (!h || at + 8 > limit)
        return false;
    std::memcpy(box.type, h + 4, 4);
    std::int64_t size = be32(h);
    box.body = at + 8;
    if (size == 1) {
        const std::uint8_t* large = b.at(at + 8, 8);
        if (!large || (large[0] & 0x80))
            return false;
        size = be32(large) << 32 | be32(large + 4);
        box.body = at + 16;
    } else if (size == 0) {
        size = limit - at; // to the end of what holds it
    }
    if (size < box.body - at || size > limit - at)
        return false;
    box.end = at + size;
    return true;
}

bool is(const Box& box, const char* type) {
    return std::memcmp(box.type, type, 4) == 0;
}

// Walks boxes, each visit counted against a bound shared by the whole walk.
struct BoxWalk {
    FileWindow& bytes;
    std::int64_t visits = 0;

    // Calls `each` for every box in [from, to); false when the visits run out.
    template <typename F> bool children(std::int64_t from, std::int64_t to, F&& each) {
        Box box;
        for (std::int64_t at = from; at < to && boxAt(bytes, at, to, box); at = box.end) {
            if (++visits > kMostVisits || !each(box))
                return false;
        }
        return true;
    }
    // The items of an "ilst" inside the "meta" box `meta`, added to `items`.
    bool metaItems(const Box& meta, std::int64_t& items) {
        // ISO's meta is a full box (four bytes of version and flags); the
        // QuickTime one is not.
        const std::uint8_t* word = bytes.at(meta.body, 4);
        const std::int64_t first = word && be32(word) == 0 ? meta.body + 4 : meta.body;
        return children(first, meta.end, [&](const Box& box) {
            if (is(box, "ilst"))
                return children(box.body, box.end, [&](const Box&) { return ++items < kPast; });
            return true;
        });
    }
};


// The items of the metadata of the movie header of an MPEG-4 file at
// `start`; -1 when none starts there.
std::int64_t mp4ItemsAt(FileWindow& b, std::int64_t start) {
    Box first;
    static const char* const kOpening[] = {"ftyp", "moov", "mdat", "wide", "free", "skip"};
    if (!boxAt(b, start, b.size(), first) ||
        std::none_of(std::begin(kOpening), std::end(kOpening),
                     [&](const char* type) { return is(first, type); }))
        return -1;
    BoxWalk walk{b};
    std::int64_t items = 0;
    const bool whole = walk.children(start, b.size(), [&](const Box& top) {
        if (!is(top, "moov"))
            return true;
        return walk.children(top.body, top.end, [&](const Box& box) {
            if (is(box, "meta"))
                return walk.metaItems(box, items);
            if (!is(box, "udta"))
                return true;
            // A QuickTime item is a box of the user data itself.
            return walk.children(box.body, box.end, [&](const Box& item) {
                if (is(item, "meta"))
                    return walk.metaItems(item, items);
                return ++items < kPast;
            });
        });
    });
    // A walk cut off by its bound of boxes is of no real file.
    if (!whole && walk.visits > kMostVisits)
        return kPast;
    return std::min(items, kPast);
}

// What the walks found of the file open as `b`.
FfmpegGate::Verdict verdictOf(FileWindow& b) {
    using Verdict = FfmpegGate::Verdict;
    const FlacLayout layout = FlacMetaMask::walk(b);
    if (layout.kind == FlacLayout::Kind::Unsound)
        return Verdict::Unsound;
    std::int64_t after = 0;
    std::int64_t tags = leadingFrames(b, after);
    if (layout.kind == FlacLayout::Kind::Sound)
        tags += layout.commentEntries;
    else if (const std::uint8_t* magic = b.at(after, 4);
             magic && std::memcmp(magic, "OggS", 4) == 0)
        tags += oggCommentsAt(b, after);
    else if (magic && (std::memcmp(magic, "RIFF", 4) == 0 || std::memcmp(magic, "RF64", 4) == 0 ||
                       std::memcmp(magic, "BW64", 4) == 0 || std::memcmp(magic, "FORM", 4) == 0))
        tags += riffTags(b, after);
    else if (magic && std::memcmp(magic, "riff", 4) == 0)
        tags += w64Tags(b, after);
    else if (magic && std::memcmp(magic, "DSD ", 4) == 0)
        tags += dsfTags(b, after);
    else if (const std::int64_t items = mp4ItemsAt(b, after); items >= 0)
        tags += items;
    else
        tags += apeItems(b, after); // MP3, APE, WavPack, Musepack, TTA, TAK, ...
    return tags > FfmpegGate::kManyTags ? Verdict::Crowded : Verdict::Free;
}

} // namespace

std::int64_t FfmpegGate::id3Frames(int fd) {
    FileWindow b(fd);
    std::int64_t after = 0;
    return leadingFrames(b, after);
}

std::int64_t FfmpegGate::oggComments(int fd) {
    FileWindow b(fd);
    std::int64_t after = 0;
    leadingFrames(b, after);
    return oggCommentsAt(b, after);
}

std::int64_t FfmpegGate::mp4Items(int fd) {
    FileWindow b(fd);
    std::int64_t after = 0;
    leadingFrames(b, after);
    return std::max<std::int64_t>(mp4ItemsAt(b, after), 0);
}

std::int64_t FfmpegGate::chunkTags(int fd) {
    FileWindow b(fd);
    std::int64_t after = 0;
    leadingFrames(b, after);
    return std::max({riffTags(b, after), w64Tags(b, after), dsfTags(b, after)});
}

std::int64_t FfmpegGate::apeItems(int fd) {
    FileWindow b(fd);
    std::int64_t after = 0;
    leadingFrames(b, after);
    return ::ql::platform::apeItems(b, after);
}

FfmpegGate::Verdict FfmpegGate::verdict(int fd) {
    FileWindow b(fd);
    return verdictOf(b);
}

bool FfmpegGate::crowded(int fd) {
    return verdict(fd) != Verdict::Free;
}

namespace {

struct Answer {
    FileStamp stamp;
    FfmpegGate::Verdict verdict = FfmpegGate::Verdict::Free;
};

// Answers kept, a few thousand paths at most (a library's worth is walked
// again after that, which costs little).
constexpr qsizetype kMostAnswers = 8192;

QMutex answersLock;
QHash<QString, Answer>& answers() {
    static QHash<QString, Answer> held;
    return held;
}

QString fileOf(const QString& path) {
    const QLatin1String scheme("file:");
    return path.startsWith(scheme) ? path.mid(scheme.size()) : path;
}

void remember(const QString& file, const Answer& answer) {
    const QMutexLocker lock(&answersLock);
    if (answers().size() >= kMostAnswers)
        answers().clear();
    answers().insert(file, answer);
}

} // namespace

namespace {

// The answer kept for `file` while it still has the stamp of `st`.
std::optional<bool> keptBefore(const QString& file, const struct stat& st) {
    const QMutexLocker lock(&answersLock);
    const auto it = answers().constFind(file);
    if (it != answers().constEnd() && it->stamp == fileStamp(st))
        return it->verdict != FfmpegGate::Verdict::Free;
    return std::nullopt;
}

// Walks the regular file open as `fd` (as `st` found it) and keeps the answer.
bool walkOpen(const QString& file, int fd, const struct stat& st) {
    Answer answer;
    answer.stamp = fileStamp(st);
    answer.verdict = FfmpegGate::verdict(fd);
    remember(file, answer);
    return answer.verdict != FfmpegGate::Verdict::Free;
}

} // namespace

bool FfmpegGate::kept(const QString& path) {
    const QString file = fileOf(path);
    const QByteArray name = QFile::encodeName(file);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    if (const std::optional<bool> before = keptBefore(file, st))
        return *before;
    // Not blocking: a file replaced by a named pipe must not hold the caller.
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    const bool kept = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && walkOpen(file, fd, st);
    ::close(fd);
    return kept;
}

bool FfmpegGate::kept(const QString& path, int fd) {
    const QString file = fileOf(path);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    if (const std::optional<bool> before = keptBefore(file, st))
        return *before;
    return walkOpen(file, fd, st);
}

std::optional<FfmpegGate::Verdict> FfmpegGate::knownVerdict(const QString& path) {
    const QMutexLocker lock(&answersLock);
    const auto it = answers().constFind(fileOf(path));
    if (it == answers().constEnd())
        return std::nullopt;
    return it->verdict;
}

std::optional<bool> FfmpegGate::known(const QString& path) {
    const std::optional<Verdict> verdict = knownVerdict(path);
    if (!verdict)
        return std::nullopt;
    return *verdict != Verdict::Free;
}

} // namespace ql::platform
