#include "effects/PluginCatalog.h"

#include <algorithm>

namespace ql {

quint64 fnv1a64(const QByteArray& bytes) {
    quint64 h = 14695981039346656037ull;
    for (const char c : bytes) {
        h ^= quint8(c);
        h *= 1099511628211ull;
    }
    return h;
}

PluginCodes pluginCodes(const QString& uri, bool takesMidi) {
    const quint64 h = fnv1a64(uri.toUtf8());
    return {takesMidi ? kMusicEffectType : kEffectType, quint32(h & 0xffffffffu), quint32(h >> 32)};
}

const QHash<QString, QString>& appleNames() {
    static const QHash<QString, QString> names{
        {QStringLiteral("AUGraphicEQ"), QStringLiteral("그래픽 EQ (10/31밴드)")},
        {QStringLiteral("AUNBandEQ"), QStringLiteral("N밴드 EQ (최대 16밴드)")},
        {QStringLiteral("AUParametricEQ"), QStringLiteral("파라메트릭 EQ")},
        {QStringLiteral("AUMatrixReverb"), QStringLiteral("리버브 (홀·룸·플레이트 프리셋)")},
        {QStringLiteral("AUReverb2"), QStringLiteral("리버브 2")},
        {QStringLiteral("AUDynamicsProcessor"), QStringLiteral("컴프레서")},
        {QStringLiteral("AUMultibandCompressor"), QStringLiteral("멀티밴드 컴프레서 (마스터링)")},
        {QStringLiteral("AUPeakLimiter"), QStringLiteral("피크 리미터")},
        {QStringLiteral("AUDelay"), QStringLiteral("딜레이")},
        {QStringLiteral("AUDistortion"), QStringLiteral("디스토션·새추레이션")},
        {QStringLiteral("AUNewPitch"), QStringLiteral("피치 시프트")},
        {QStringLiteral("AUSoundIsolation"), QStringLiteral("음성 분리 (보컬 강조)")},
    };
    return names;
}

std::vector<OfferedEffect> offeredEffects(const std::vector<FoundPlugin>& found) {
    struct Entry {
        OfferedEffect effect;
        bool apple = false;
    };
    std::vector<Entry> entries;
    for (const FoundPlugin& p : found) {
        Entry e;
        e.effect.codes = pluginCodes(p.uri, p.takesMidi);
        e.effect.uri = p.uri;
        if (p.maker == QLatin1String("Apple")) {
            const auto title = appleNames().constFind(p.name);
            if (title == appleNames().constEnd())
                continue;
            e.effect.title = QStringLiteral("Apple · ") + *title;
            e.apple = true;
        } else {
            e.effect.title = p.maker + QStringLiteral(" · ") + p.name;
        }
        entries.push_back(std::move(e));
    }
    // QString's operator< compares UTF-16 code units; compare code points, so
    // a title with a character beyond the BMP sorts where its code point says.
    const auto codePoints = [](const QString& a, const QString& b) {
        const QList<uint> x = a.toUcs4(), y = b.toUcs4();
        return std::lexicographical_compare(x.begin(), x.end(), y.begin(), y.end());
    };
    std::stable_sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
        if (a.apple != b.apple)
            return !a.apple;
        return codePoints(a.effect.title, b.effect.title);
    });
    std::vector<OfferedEffect> out;
    out.reserve(entries.size());
    for (Entry& e : entries)
        out.push_back(std::move(e.effect));
    return out;
}

std::optional<std::size_t> resolveSlot(const std::vector<OfferedEffect>& offered,
                                       const PluginSlot& slot) {
    if (slot.name.isEmpty())
        return std::nullopt;
    const PluginCodes codes{slot.type, slot.sub, slot.man};
    for (std::size_t i = 0; i < offered.size(); ++i)
        if (offered[i].codes == codes)
            return i;
    return std::nullopt;
}

} // namespace ql
