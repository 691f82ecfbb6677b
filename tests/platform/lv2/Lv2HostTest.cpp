// Guards against: a plug-in render that alters sound wrongly or hides a plug-in failure.
// The LV2 host and the offline plug-in render, with the system's swh and mda
// plug-ins and the test bundle built beside this test: what a render leaves
// in the output file, what is offered under which title and codes, what a
// saved state restores, and how each failure reaches the render pipeline.
#include "effects/FXRender.h"
#include "library/ToolPaths.h"
#include "platform/PluginHost.h"
#include "platform/lv2/Lv2World.h"
#include "platform/audio/AudioFile.h"
#include "playback/InFlightFiles.h"

#include "CaseRows.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QDir>
#include <QProcess>

#include <sndfile.h>

#include <cmath>
#include <functional>

using namespace ql;
using test::tempFile;

namespace {

const QString kAmp = QStringLiteral("http://plugin.org.uk/swh-plugins/amp");
const QString kLimiter = QStringLiteral("http://drobilla.net/plugins/mda/Limiter");
const QString kPlate = QStringLiteral("http://plugin.org.uk/swh-plugins/plate");
const QString kSumDiff = QStringLiteral("urn:quavelark:test:sumdiff");
const QString kNeedsFeature = QStringLiteral("urn:quavelark:test:needsfeature");
const QString kAborts = QStringLiteral("urn:quavelark:test:aborts");
const QString kNoAudio = QStringLiteral("urn:quavelark:test:noaudio");
const QString kHangs = QStringLiteral("urn:quavelark:test:hangs");
constexpr int kTail = 88200;

platform::PluginHost& host() {
    static const std::unique_ptr<platform::PluginHost> made = platform::makePluginHost();
    return *made;
}

PluginSlot slotFor(const QString& uri, const QString& name, bool midi = false) {
    const PluginCodes c = pluginCodes(uri, midi);
    return PluginSlot{name, c.type, c.sub, c.man, std::nullopt};
}

// A slot of the amp whose saved state sets its gain.
PluginSlot amp(double gain) {
    PluginSlot slot = slotFor(kAmp, QStringLiteral("Amp"));
    std::unique_ptr<platform::PluginEditor> editor = host().openEditor(slot);
    editor->setValue(0, float(gain));
    slot.state = editor->state();
    return slot;
}

struct Audio {
    int channels = 0;
    std::vector<double> data;
    std::int64_t frames() const { return channels ? std::int64_t(data.size()) / channels : 0; }
    double peak(int channel) const {
        double p = 0;
        for (std::size_t i = std::size_t(channel); i < data.size(); i += std::size_t(channels))
            p = std::max(p, std::abs(data[i]));
        return p;
    }
};

Audio read(const QString& path) {
    Audio a;
    const platform::AudioFile::Opened f = platform::AudioFile::open(path);
    if (!f.file)
        return a;
    a.channels = f.file->channels();
    a.data.resize(std::size_t(f.file->frames() * a.channels));
    if (f.file->read(a.data.data(), f.file->frames()) != f.file->frames())
        a.data.clear();
    return a;
}

// A 1 kHz sine of amplitude 0.5 at 44.1 kHz as a float WAV.
QString sine(int channels, std::int64_t frames) {
    const QString path = tempFile(QStringLiteral("sine-%1-%2.wav").arg(channels).arg(frames));
    std::vector<double> data;
    for (std::int64_t f = 0; f < frames; ++f)
        data.insert(data.end(), std::size_t(channels),
                    0.5 * std::sin(2 * M_PI * 1000 * f / 44100.0));
    return test::writeFloatWav(path, 44100, channels, data) ? path : QString();
}

PluginRun pluginRun(const QString& program = QStringLiteral(QL_LV2_RENDER),
                    int loadLimitMs = kPluginLoadLimitMs) {
    return {program, std::make_shared<platform::ChildRegistry>(), 60'000, loadLimitMs};
}

// Renders `input` through the slots; the output, or empty audio on an error.
Audio render(const QString& input, const std::vector<PluginSlot>& plugins) {
    const QString out = tempFile(QStringLiteral("rendered.caf"));
    QFile::remove(out);
    if (renderAU(input, out, plugins, pluginRun()))
        return {};
    return read(out);
}

// clang-format off
struct RenderCase {
    const char* name; int channels; std::int64_t frames; std::vector<PluginSlot> plugins;
    std::function<bool(const Audio& in, const Audio& out)> holds;
};
bool peaksAre(const Audio& out, double peak) {
    for (int c = 0; c < out.channels; ++c)
        if (std::abs(out.peak(c) - peak) > 1e-4)
            return false;
    return true;
}
bool inputThenSilence(const Audio& in, const Audio& out) {
    for (std::size_t i = 0; i < out.data.size(); ++i)
        if (out.data[i] != (i < in.data.size() ? in.data[i] : 0.0))
            return false;
    return true;
}
const std::vector<RenderCase>& renderCases() {
    static const std::vector<RenderCase> cases{
        {"−6.0206 dB halves a mono sine", 1, 44100, {amp(-6.0206)}, [](const Audio&, const Audio& o) { return peaksAre(o, 0.25); }},
        {"a stereo file gets an instance per channel", 2, 44100, {amp(-6.0206)}, [](const Audio&, const Audio& o) { return peaksAre(o, 0.25); }},
        {"two amps in a row give a quarter", 1, 44100, {amp(-6.0206), amp(-6.0206)}, [](const Audio&, const Audio& o) { return peaksAre(o, 0.125); }},
        {"no slot: the input, then two seconds of zeros", 2, 44100, {}, inputThenSilence},
        {"an empty input renders only the tail", 1, 0, {amp(-6.0206)}, [](const Audio&, const Audio& o) { return o.peak(0) == 0; }},
        {"a mono file feeds both inputs of a stereo plug-in, output (L + R) / 2", 1, 44100, {slotFor(kSumDiff, "SumDiff", true)}, inputThenSilence},
        {"a stereo file goes through a stereo plug-in as it is", 2, 44100, {slotFor(kSumDiff, "SumDiff", true)}, [](const Audio& in, const Audio& o) {
            for (std::size_t f = 0; f < std::size_t(in.frames()); ++f)
                if (o.data[2 * f] != float(in.data[2 * f] + in.data[2 * f + 1]) || o.data[2 * f + 1] != float(in.data[2 * f] - in.data[2 * f + 1]))
                    return false;
            return true;
        }},
        {"+20 dB before the limiter peaks unlike the limiter before +20 dB", 1, 44100, {amp(20), slotFor(kLimiter, "Limiter")}, [](const Audio& in, const Audio& o) {
            const Audio reverse = render(sine(1, in.frames()), {slotFor(kLimiter, "Limiter"), amp(20)});
            return reverse.frames() == o.frames() && std::abs(reverse.peak(0) - o.peak(0)) > 0.1;
        }},
    };
    return cases;
}

struct OrderCase { const char* name; std::vector<FoundPlugin> found; QStringList titles; };
const std::vector<OrderCase>& orderCases() {
    static const std::vector<OrderCase> cases{
        {"Apple's listed units after everyone else, under their Korean titles", {{"a", "Apple", "AUDelay", false}, {"b", "Zeta", "Echo", false}, {"c", "Apple", "AUPeakLimiter", false}}, {"Zeta · Echo", "Apple · 딜레이", "Apple · 피크 리미터"}},
        {"an Apple unit missing from the table is not offered", {{"a", "Apple", "AUSampler", false}, {"b", "LV2", "Gain", false}}, {"LV2 · Gain"}},
        {"code-point order, duplicates kept", {{"a", "b", "x", false}, {"b", "\U0001F3B5", "x", false}, {"c", "\uFF21", "x", false}, {"d", "b", "x", false}}, {"b · x", "b · x", "\uFF21 · x", "\U0001F3B5 · x"}},
    };
    return cases;
}

struct StateCase { const char* name; std::function<std::optional<QByteArray>()> state; float gain; };
const std::vector<StateCase>& stateCases() {
    static const std::vector<StateCase> cases{
        {"a captured −6 restores as −6", [] { return amp(-6).state; }, -6.0f},
        {"no state keeps the default", [] { return std::nullopt; }, 0.0f},
        {"another plug-in's state keeps the default", [] {
            PluginSlot s = slotFor(kLimiter, "Limiter");
            return host().openEditor(s)->state(); }, 0.0f},
        {"text that is not Turtle keeps the default", [] { return QByteArray("gain = -6; }}} @@"); }, 0.0f},
        {"a binary property list keeps the default", [] { return QByteArray("bplist00\xd1\x01\x02Tgain#\xc0\x18\x00\x00\x00\x00\x00\x00\x08\x0b", 28); }, 0.0f},
    };
    return cases;
}

struct ErrorCase { const char* name; std::vector<PluginSlot> plugins; int channels; RenderNote note; };
const QString kNotLoaded = QStringLiteral("플러그인을 불러오지 못했습니다: ");
const std::vector<ErrorCase>& errorCases() {
    static const std::vector<ErrorCase> cases{
        {"a plug-in that is not installed", {amp(-6), PluginSlot{"Gone Echo", 1, 2, 3, {}}}, 1, {2, kNotLoaded, "Gone Echo", {}}},
        {"a plug-in needing a missing feature", {slotFor(kNeedsFeature, "Needy")}, 1, {2, kNotLoaded, "Needy", {}}},
        {"one input, two outputs on a stereo file", {slotFor(kPlate, "Plate")}, 2, {2, kNotLoaded, "Plate", QStringLiteral(" (이 플러그인의 채널 구성은 지원하지 않습니다)")}},
        {"a plug-in that aborts", {slotFor(kAborts, "Crashy")}, 1, {3, QStringLiteral("오프라인 렌더링 오류"), {}, {}}},
        {"a plug-in that never loads, killed at the deadline", {slotFor(kHangs, "Stuck")}, 1, {2, kNotLoaded, "Stuck", {}}},
    };
    return cases;
}
// clang-format on

} // namespace

class Lv2HostTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QStringList path{QStringLiteral(QL_TEST_LV2_DIR)};
        for (const char* dir : {"/usr/lib/lv2", "/usr/lib/x86_64-linux-gnu/lv2"})
            if (QDir(dir).exists())
                path << dir;
        qputenv("LV2_PATH", path.join(':').toUtf8());
    }

    void renders_data() { test::addRows(renderCases()); }
    void renders() {
        const RenderCase& c = test::currentCase(renderCases());
        const QString input = sine(c.channels, c.frames);
        const Audio in = read(input), out = render(input, c.plugins);
        QCOMPARE(out.channels, c.channels);
        QCOMPARE(out.frames(), c.frames + kTail);
        QVERIFY2(c.holds(in, out), qPrintable(QString::number(out.peak(0))));
    }

    void agreesWithLv2apply() {
        const QString wav = sine(1, 44100), ref = tempFile("peer-ref.wav");
        QProcess peer;
        peer.start(QStringLiteral("lv2apply"), {"-i", wav, "-o", ref, "-c", "gain", "-6", kAmp});
        QVERIFY(peer.waitForFinished(30'000) && peer.exitCode() == 0);
        const Audio want = read(ref), got = render(wav, {amp(-6)});
        QCOMPARE(got.frames(), want.frames() + kTail);
        double largest = 0;
        for (std::size_t i = 0; i < want.data.size(); ++i)
            largest = std::max(largest, std::abs(want.data[i] - got.data[i]));
        QVERIFY2(largest < 1e-6, qPrintable(QString::number(largest)));
    }

    void offers() {
        const std::vector<OfferedEffect>& offered = host().installedEffects();
        QCOMPARE(platform::makePluginHost()->installedEffects(), offered);
        const auto find = [&](const QString& uri) -> const OfferedEffect* {
            for (const OfferedEffect& e : offered)
                if (e.uri == uri)
                    return &e;
            return nullptr;
        };
        const quint64 h = fnv1a64(kAmp.toUtf8());
        QCOMPARE(*find(kAmp), (OfferedEffect{QStringLiteral("Steve Harris · Simple amplifier"),
                                             {1635083896, quint32(h), quint32(h >> 32)},
                                             kAmp}));
        QCOMPARE(find(kSumDiff)->codes.type, quint32(1635085670));
        QCOMPARE(find(kAborts)->title, QStringLiteral("LV2 · Aborts"));
        QVERIFY(!find(kNoAudio));
        QVERIFY(!find(kNeedsFeature));
        for (std::size_t i = 1; i < offered.size(); ++i)
            QVERIFY2(offered[i - 1].title.toUcs4() <= offered[i].title.toUcs4(),
                     qPrintable(offered[i].title));
    }

    // The renderer resolves its slots without listing every plug-in; it must
    // land on the plug-in the listed world offers under the same codes.
    void resolvesWithoutTheList() {
        const std::vector<OfferedEffect>& offered = host().installedEffects();
        QVERIFY(!offered.empty());
        const platform::Lv2World unlisted;
        for (const OfferedEffect& e : offered) {
            const LilvPlugin* plugin =
                unlisted.resolve(PluginSlot{e.title, e.codes.type, e.codes.sub, e.codes.man, {}});
            QVERIFY2(plugin, qPrintable(e.uri));
            QCOMPARE(QString::fromUtf8(lilv_node_as_uri(lilv_plugin_get_uri(plugin))), e.uri);
        }
        for (const QString& uri : {kNoAudio, kNeedsFeature}) {
            const PluginCodes c = pluginCodes(uri, false);
            QVERIFY2(!unlisted.resolve(PluginSlot{QStringLiteral("x"), c.type, c.sub, c.man, {}}),
                     qPrintable(uri));
        }
    }

    void orders_data() { test::addRows(orderCases()); }
    void orders() {
        const OrderCase& c = test::currentCase(orderCases());
        QStringList titles;
        for (const OfferedEffect& e : offeredEffects(c.found))
            titles << e.title;
        QCOMPARE(titles, c.titles);
    }

    void restores_data() { test::addRows(stateCases()); }
    void restores() {
        const StateCase& c = test::currentCase(stateCases());
        PluginSlot slot = slotFor(kAmp, QStringLiteral("Amp"));
        slot.state = c.state();
        const std::unique_ptr<platform::PluginEditor> editor = host().openEditor(slot);
        QVERIFY(editor);
        QCOMPARE(editor->value(0), std::optional<float>(c.gain));
    }

    void describesControls() {
        const std::unique_ptr<platform::PluginEditor> editor =
            host().openEditor(slotFor(kSumDiff, "SumDiff", true));
        QVERIFY(editor);
        QCOMPARE(editor->state(), editor->state());
        const std::vector<platform::PluginControl>& c = editor->controls();
        QCOMPARE(c.size(), std::size_t(3));
        QCOMPARE((std::tuple{c[0].name, c[0].unit, c[0].minimum, c[0].maximum, c[0].logarithmic}),
                 (std::tuple{QStringLiteral("Trim"), QStringLiteral("dB"), 0.01f, 10.0f, true}));
        QVERIFY(c[1].integer && c[1].enumeration && !c[1].toggled);
        QCOMPARE(c[1].scalePoints,
                 (std::vector<std::pair<float, QString>>{{0, "Sum"}, {1, "Swap"}}));
        QVERIFY(c[2].toggled && c[2].notOnGui && !c[2].integer);
        QVERIFY(!editor->setValue(3, 1));
    }

    void failures_data() { test::addRows(errorCases()); }
    void failures() {
        const ErrorCase& c = test::currentCase(errorCases());
        const QString source = tempFile(QStringLiteral("source.wav"));
        test::AudioShape shape;
        shape.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        shape.channels = c.channels;
        QVERIFY(test::writeAudio(source, shape));
        const QStringList before = QDir::temp().entryList(QDir::AllEntries);
        RenderSnapshot snapshot;
        snapshot.path = source;
        snapshot.duration = 1;
        snapshot.plugins = c.plugins;
        snapshot.ffmpeg = toolPath(QStringLiteral("ffmpeg"));
        snapshot.pluginRenderer = QStringLiteral(QL_LV2_RENDER);
        snapshot.tempDir = QDir::tempPath();
        snapshot.children = std::make_shared<platform::ChildRegistry>();
        const RenderResult result = renderFXBlocking(snapshot);
        QCOMPARE(result.note, std::optional<RenderNote>(c.note));
        // The ffmpeg stage's file is what plays, and nothing else is left.
        QVERIFY(result.file);
        QCOMPARE(read(*result.file).frames(), std::int64_t(44100));
        QCOMPARE(test::fxFiles().size(), 1);
        QProcess pgrep;
        pgrep.start(QStringLiteral("pgrep"),
                    {"-P", QString::number(QCoreApplication::applicationPid()), "-f",
                     "quavelark-lv2render"});
        pgrep.waitForFinished();
        QCOMPARE(pgrep.readAllStandardOutput(), QByteArray());
        test::removeFxFiles();
        QCOMPARE(QDir::temp().entryList(QDir::AllEntries), before); // nothing else in TMPDIR
    }

    void namesTheSlotThatHangs() {
        const QString program = tempFile(QStringLiteral("hangs.sh"));
        QVERIFY(test::writeExecutable(program,
                                      "echo 'loading 0' >&2; echo 'loading 1' >&2; exec sleep 60"));
        const std::optional<RenderNote> note =
            renderAU(sine(1, 10), tempFile("never.caf"),
                     {amp(-6), slotFor(kAborts, QStringLiteral("Slow"))}, pluginRun(program, 300));
        QCOMPARE(note, std::optional<RenderNote>(RenderNote{2, kNotLoaded, "Slow", {}}));
    }
};

QL_TEST_MAIN_CORE(Lv2HostTest)
#include "Lv2HostTest.moc"
