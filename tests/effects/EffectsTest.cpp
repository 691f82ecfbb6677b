// Guards what the effects settings do to the sound: the filter chain ffmpeg
// gets (exact text, C-locale numbers, accepted by the real ffmpeg), the
// signature that decides a render, and the panel's edit rules as saved.
#include "app/JSONStore.h"
#include "effects/FXChain.h"
#include "effects/FXPanel.h"
#include "playback/RateText.h"

#include "CaseRows.h"
#include "TestHome.h"

#include <QProcess>
#include <QTemporaryDir>

#include <clocale>
#include <functional>

using namespace ql;
using test::addRows;
using test::currentCase;

namespace {

FXState gains(std::vector<double> g, bool enabled = true) {
    FXState s;
    s.enabled = enabled;
    s.gains = std::move(g);
    return s;
}
FXState preset(const QString& name) {
    FXState s;
    choosePreset(s, name);
    return s;
}
template <class F> FXState with(FXState s, F change) {
    change(s);
    return s;
}
const PluginSlot kSlot{QStringLiteral("Reverb"), 1, 2, 3, QByteArray("abc")};

struct ChainCase {
    const char* name;
    FXState state;
    bool bypass;
    std::optional<QString> chain;
    std::optional<QString> signature; // "" = the chain followed by "|"
};

// clang-format off
const std::vector<ChainCase>& chainCases() {
    const QString limit = QStringLiteral("alimiter=limit=0.97:latency=1");
    static const std::vector<ChainCase> cases{
        {"bass boost", preset("베이스 부스트"), false,
         "volume=-4.8dB,bass=g=6:f=90:t=s,equalizer=f=230:t=q:w=1:g=3," + limit, ""},
        {"crossfeed: no headroom", preset("헤드폰 편안하게 (크로스피드)"), false,
         "equalizer=f=3600:t=q:w=1:g=-1,treble=g=-2:f=9000:t=s,"
         "crossfeed=strength=0.25:range=0.5:slope=0.5," + limit, ""},
        {"night alone", with(gains({0, 0, 0, 0, 0}), [](FXState& s) { s.night = true; }), false,
         "volume=-2.0dB,acompressor=threshold=0.063:ratio=3:attack=20:release=300:makeup=2," + limit, ""},
        {"electronic with wide", preset("일렉트로닉·댄스"), false,
         "volume=-5.0dB,bass=g=5:f=90:t=s,equalizer=f=230:t=q:w=1:g=3,equalizer=f=3600:t=q:w=1:g=1,"
         "treble=g=4:f=9000:t=s,extrastereo=m=1.6," + limit, ""},
        {"largest 0.1: no volume", gains({0.1, 0, 0, 0, 0}), false, "bass=g=0:f=90:t=s," + limit, ""},
        {"largest 1", gains({1, 0, 0, 0, 0}), false, "volume=-0.8dB,bass=g=1:f=90:t=s," + limit, ""},
        {"cuts only: no volume", gains({0, 0, -3, 0, 0}), false,
         "equalizer=f=910:t=q:w=1:g=-3," + limit, ""},
        {"-0.0 counts as 0", gains({-0.0, 0, 0, 0, 0}), false, std::nullopt, std::nullopt},
        {"switched off", with(preset("록"), [](FXState& s) { s.enabled = false; s.plugins[0] = kSlot; }),
         false, std::nullopt, std::nullopt},
        {"bypassed", with(preset("록"), [](FXState& s) { s.plugins[0] = kSlot; }), true,
         std::nullopt, std::nullopt},
        {"neutral with a plug-in", with(gains({0, 0, 0, 0, 0}), [](FXState& s) { s.plugins[1] = kSlot; }),
         false, std::nullopt, "-|1-2-3-3-"},
        {"a nameless slot is never active",
         with(gains({0, 0, 0, 0, 0}), [](FXState& s) { s.plugins[0] = {{}, 1, 2, 3, {}}; }), false,
         std::nullopt, std::nullopt},
    };
    return cases;
}
// clang-format on

struct RuleCase {
    const char* name;
    FXState before;
    std::function<void(FXPanel&)> edit;
    FXState after;
};

FXState custom(FXState s) {
    s.preset = kCustomPreset;
    return s;
}

// clang-format off
const std::vector<RuleCase>& ruleCases() {
    const FXState slotted = with(preset("록"), [](FXState& s) { s.plugins[2] = kSlot; });
    const FXState acoustic = preset("어쿠스틱·클래식");
    const auto boxes = [](const FXState& s) { return FXSwitches{s.enabled, s.crossfeed, s.wide, s.room, s.night}; };
    static const std::vector<RuleCase> cases{
        {"끔 keeps the slots", slotted, [](FXPanel& p) { p.presetChosen("끔"); },
         with(preset("끔"), [](FXState& s) { s.plugins[2] = kSlot; })},
        {"bass boost switches on", FXState(), [](FXPanel& p) { p.presetChosen("베이스 부스트"); },
         preset("베이스 부스트")},
        {"a slider after 록 keeps its other gains", preset("록"),
         [](FXPanel& p) { p.slidersApplied({4, 2, -2, 3, 1}); },
         custom(with(preset("록"), [](FXState& s) { s.gains[4] = 1; }))},
        {"halves away from zero", FXState(), [](FXPanel& p) { p.slidersApplied({2.5, -2.5, 0.4, 0, 0}); },
         custom(gains({3, -3, 0, 0, 0}))},
        {"the switch alone keeps the name", acoustic,
         [=](FXPanel& p) { p.changed(boxes(with(acoustic, [](FXState& s) { s.enabled = false; }))); },
         with(acoustic, [](FXState& s) { s.enabled = false; })},
        {"a flag off its row renames", acoustic,
         [=](FXPanel& p) { p.changed(boxes(with(acoustic, [](FXState& s) { s.wide = true; }))); },
         custom(with(acoustic, [](FXState& s) { s.wide = true; }))},
        {"custom stays custom", custom(acoustic), [=](FXPanel& p) { p.changed(boxes(acoustic)); },
         custom(acoustic)},
        {"a flag never switches on", FXState(), [](FXPanel& p) { p.changed({false, false, false, true, false}); },
         custom(with(FXState(), [](FXState& s) { s.room = true; }))},
        {"사용자 지정 only renames", preset("팝"), [](FXPanel& p) { p.presetChosen(kCustomPreset); },
         custom(preset("팝"))},
        {"reset at the defaults still saves", FXState(), [](FXPanel& p) { p.resetAll(); }, FXState()},
    };
    return cases;
}
// clang-format on

} // namespace

class EffectsTest : public QObject {
    Q_OBJECT
private slots:
    void chain_data() { addRows(chainCases()); }
    void chain() {
        const ChainCase& c = currentCase(chainCases());
        QCOMPARE(fxChain(c.state, c.bypass), c.chain);
        std::optional<QString> signature = fxSignature(c.state, c.bypass);
        if (signature && signature->startsWith("-|")) // the hash part is the run's own
            signature = signature->section(u'-', 0, 4) + u'-';
        QCOMPARE(signature, c.signature && c.signature->isEmpty() ? *c.chain + u'|' : c.signature);
        QCOMPARE(fxActivePlugins(c.state, c.bypass).size(), size_t(c.state.plugins[1] == kSlot));
    }

    // Every preset's chain, alone and with the four flags, as Debian's ffmpeg
    // takes it; a comma-decimal locale changes no byte.
    void ffmpegTakesEveryChain() {
        const auto allChains = [] {
            QStringList chains;
            for (const FXPreset& row : fxPresets())
                for (const bool flags : {false, true})
                    if (row.name != QStringLiteral("끔"))
                        chains << *fxChain(with(preset(row.name), [&](FXState& s) {
                            if (flags)
                                s.crossfeed = s.wide = s.room = s.night = true;
                        }), false);
            return chains;
        };
        const QStringList chains = allChains();
        for (const QString& chain : chains) {
            QProcess ffmpeg;
            ffmpeg.start("ffmpeg", {"-v", "error", "-f", "lavfi", "-i", "sine=d=1", "-ac", "2", "-af",
                                    chain, "-f", "null", "-"});
            QVERIFY(ffmpeg.waitForFinished(60000));
            QVERIFY2(ffmpeg.exitCode() == 0, qPrintable(chain + ffmpeg.readAllStandardError()));
        }
        if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
            QSKIP("the de_DE.UTF-8 locale is not installed here");
        QLocale::setDefault(QLocale::German);
        const QStringList again = allChains();
        std::setlocale(LC_ALL, "C");
        QLocale::setDefault(QLocale::c());
        QCOMPARE(again, chains);
    }

    void rules_data() { addRows(ruleCases()); }
    void rules() {
        const RuleCase& c = currentCase(ruleCases());
        QTemporaryDir dir;
        const JSONStore store(dir.path());
        QVERIFY(store.save(QString::fromLatin1(stores::kFX), c.before));
        FXPanel panel(store);
        int changes = 0;
        panel.onChange = [&] { ++changes; };
        c.edit(panel);
        QCOMPARE(panel.state, c.after);
        QCOMPARE(store.load<FXState>(QString::fromLatin1(stores::kFX)), std::optional(c.after));
        QCOMPARE(changes, 1);
    }

    void signedTextAndOddLengths() {
        const std::vector<std::pair<double, QString>> rows{
            {0, "+0"}, {-0.0, "+0"}, {-0.3, "+0"}, {6, "+6"}, {-2, "-2"}, {2.5, "+2"}};
        for (const auto& [value, text] : rows)
            QCOMPARE(signedFixedText(value, 0), text);
        QTemporaryDir dir;
        const JSONStore store(dir.path());
        FXState odd = gains({3, 0, 0});
        odd.plugins = {kSlot};
        QVERIFY(store.save(QString::fromLatin1(stores::kFX), odd));
        const FXPanel panel(store);
        QCOMPARE(panel.state.gains, (std::vector<double>{3, 0, 0, 0, 0}));
        QCOMPARE(panel.state.plugins, (std::vector<PluginSlot>{kSlot, {}, {}}));
        QVERIFY(panel.chain()->startsWith("volume=-2.4dB,bass=g=3"));
    }
};

QL_TEST_MAIN(EffectsTest)
#include "EffectsTest.moc"
