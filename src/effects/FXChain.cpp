#include "effects/FXChain.h"

#include "effects/PluginCatalog.h"
#include "playback/RateText.h"

#include <algorithm>

namespace ql {

namespace {

QString dB0(double value) {
    return fixedText(value, 0);
}

// FNV-1a over the bytes, as a signed 64-bit number.
qint64 stateHash(const QByteArray& bytes) {
    return qint64(fnv1a64(bytes));
}

bool isActive(const FXState& state, bool bypass) {
    return state.enabled && !bypass;
}

double gain(const FXState& state, std::size_t band) {
    return band < state.gains.size() ? state.gains[band] : 0.0;
}

} // namespace

const std::vector<FXPreset>& fxPresets() {
    // clang-format off
    static const std::vector<FXPreset> rows{
        {QStringLiteral("끔"),                            {0, 0, 0, 0, 0}},
        {QStringLiteral("베이스 부스트"),                 {6, 3, 0, 0, 0}},
        {QStringLiteral("보컬 선명"),                     {-2, -1, 2, 4, 2}},
        {QStringLiteral("라우드니스 (작은 음량용)"),      {5, 2, 0, 2, 4}},
        {QStringLiteral("팝"),                            {-1, 2, 4, 2, -1}},
        {QStringLiteral("록"),                            {4, 2, -2, 3, 4}},
        {QStringLiteral("재즈"),                          {3, 2, -1, 2, 3}},
        {QStringLiteral("어쿠스틱·클래식"),               {2, 1, 0, 2, 3}, false, false, true},
        {QStringLiteral("일렉트로닉·댄스"),               {5, 3, 0, 1, 4}, false, true},
        {QStringLiteral("헤드폰 편안하게 (크로스피드)"),  {0, 0, 0, -1, -2}, true},
        {QStringLiteral("야간 모드 (작은 소리 키움)"),    {2, 0, 0, 1, 0}, false, false, false, true},
    };
    // clang-format on
    return rows;
}

const FXPreset* fxPreset(const QString& name) {
    for (const FXPreset& row : fxPresets())
        if (row.name == name)
            return &row;
    return nullptr;
}

const QStringList& fxBandNames() {
    static const QStringList names{QStringLiteral("60Hz 저음"), QStringLiteral("230Hz 중저음"),
                                   QStringLiteral("910Hz 중음"), QStringLiteral("3.6kHz 중고음"),
                                   QStringLiteral("14kHz 고음")};
    return names;
}

std::optional<QString> fxChain(const FXState& state, bool bypass) {
    if (!isActive(state, bypass))
        return std::nullopt;
    const bool flat =
        std::all_of(state.gains.begin(), state.gains.end(), [](double g) { return g == 0; });
    if (flat && !state.crossfeed && !state.wide && !state.room && !state.night)
        return std::nullopt;

    // Boosts could clip: lower the whole signal by most of the largest one,
    // and by more for the settings that add level of their own.
    double largest = 0;
    for (const double g : state.gains)
        largest = std::max(largest, g);
    double headroom = -(largest * 0.8);
    if (state.night)
        headroom -= 2;
    if (state.wide)
        headroom -= 1;

    QStringList parts;
    if (headroom < -0.1)
        parts << QStringLiteral("volume=") + fixedText(headroom, 1) + QStringLiteral("dB");
    if (gain(state, 0) != 0)
        parts << QStringLiteral("bass=g=") + dB0(gain(state, 0)) + QStringLiteral(":f=90:t=s");
    static constexpr int kPeaks[] = {230, 910, 3600};
    for (std::size_t band = 1; band <= 3; ++band)
        if (gain(state, band) != 0)
            parts << QStringLiteral("equalizer=f=%1:t=q:w=1:g=").arg(kPeaks[band - 1]) +
                         dB0(gain(state, band));
    if (gain(state, 4) != 0)
        parts << QStringLiteral("treble=g=") + dB0(gain(state, 4)) + QStringLiteral(":f=9000:t=s");
    if (state.crossfeed)
        parts << QStringLiteral("crossfeed=strength=0.25:range=0.5:slope=0.5");
    if (state.wide)
        parts << QStringLiteral("extrastereo=m=1.6");
    if (state.room)
        parts << QStringLiteral("aecho=0.85:0.75:25|45|70:0.22|0.16|0.10");
    if (state.night)
        parts << QStringLiteral(
            "acompressor=threshold=0.063:ratio=3:attack=20:release=300:makeup=2");
    // The limiter looks 5 ms ahead; without latency compensation its output
    // lags by those 5 ms, so the render (which keeps the input's length)
    // would start late and lose the track's last 5 ms. The chain text is
    // part of the signature, so renders made without it are never reused.
    parts << QStringLiteral("alimiter=limit=0.97:latency=1");
    return parts.join(u',');
}

std::vector<PluginSlot> fxActivePlugins(const FXState& state, bool bypass) {
    std::vector<PluginSlot> active;
    if (!isActive(state, bypass))
        return active;
    for (const PluginSlot& slot : state.plugins)
        if (!slot.name.isEmpty())
            active.push_back(slot);
    return active;
}

std::optional<QString> fxSignature(const FXState& state, bool bypass) {
    const std::vector<PluginSlot> plugins = fxActivePlugins(state, bypass);
    const std::optional<QString> chain = fxChain(state, bypass);
    if (!chain && plugins.empty())
        return std::nullopt;
    QStringList slotTexts;
    for (const PluginSlot& slot : plugins) {
        const QByteArray bytes = slot.state.value_or(QByteArray());
        slotTexts << QStringLiteral("%1-%2-%3-%4-%5")
                         .arg(slot.type)
                         .arg(slot.sub)
                         .arg(slot.man)
                         .arg(bytes.size())
                         .arg(slot.state ? stateHash(bytes) : 0);
    }
    return chain.value_or(QStringLiteral("-")) + u'|' + slotTexts.join(u',');
}

void fitFXLengths(FXState& state) {
    state.gains.resize(5, 0.0);
    state.plugins.resize(3);
}

} // namespace ql
