// Guards the wiring of the device match: what the controller writes to the
// device, what the status line says, when the main thread pauses (the choice
// of rate and format itself is the rate-match unit's table), and two tracks of
// different rates played bit-perfect, each reaching the device unchanged.
#include "app/App.h"
#include "app/UserDefaults.h"
#include "platform/audio/AudioPlayer.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"

#include "CaseRows.h"
#include "RiggedApp.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QDir>

#include <QFile>
#include <algorithm>

#include <sndfile.h>

using namespace ql;
using namespace ql::platform;
using test::addRows;
using test::currentCase;

namespace {

const QString kUid = QStringLiteral("usb:dac");

PhysicalFormat pcm(double rate, int bits, bool isFloat, int channels = 2) {
    const int bytes = bits <= 8 ? 1 : bits == 16 ? 2 : 4;
    return PhysicalFormat{rate, bits, isFloat, channels, bytes * channels, true};
}

// 16-bit, 24-bit and 32-bit integer and 32-bit float at each rate.
std::vector<PhysicalFormat> ladder(std::initializer_list<double> rates) {
    std::vector<PhysicalFormat> out;
    for (double r : rates)
        for (const auto& f :
             {pcm(r, 16, false), pcm(r, 24, false), pcm(r, 32, true), pcm(r, 32, false)})
            out.push_back(f);
    return out;
}

std::vector<RateRange> singles(std::initializer_list<double> rates) {
    std::vector<RateRange> out;
    for (double r : rates)
        out.push_back({r, r});
    return out;
}

struct MatchCase {
    const char* name;
    std::vector<RateRange> ranges;
    double deviceRate;
    std::vector<PhysicalFormat> formats;
    PhysicalFormat current; // at the device rate
    std::set<SimOp> failing;
    double source;
    // Expected.
    int rateWrites;
    int formatWrites;
    double rateAfter;
    int bitsAfter;
    bool floatAfter;
    const char* status; // "" = nothing shown
};

// clang-format off
const std::vector<MatchCase> kCases = {
    {"rate and format written, the format's message last",
     singles({44100, 48000, 96000}), 44100, ladder({44100, 48000, 96000}), pcm(44100, 24, false), {},
     96000, 1, 1, 96000, 32, false, "🔊 출력 형식 96000Hz / 32bit로 맞췄습니다"},
    {"192k source on a device up to 96k",
     singles({44100, 48000, 88200, 96000}), 44100, ladder({44100, 96000}), pcm(44100, 32, false), {},
     192000, 1, 0, 96000, 32, false, "🔊 출력 장치를 96000Hz로 맞췄습니다 (원본 192000Hz)"},
    {"failed writes show nothing, the format step still runs",
     singles({44100, 96000}), 44100, ladder({44100, 96000}), pcm(44100, 24, false),
     {SimOp::SetNominalRate, SimOp::SetPhysicalFormat},
     96000, 1, 1, 44100, 24, false, ""},
    {"unreadable rate data does nothing",
     singles({44100}), 44100, ladder({44100}), pcm(44100, 16, false), {SimOp::AvailableNominalRates},
     44100, 0, 0, 44100, 16, false, ""},
};
// clang-format on

SimRig rigFor(const MatchCase& c) {
    SimDevice d = SimDevice::output(QStringLiteral("DAC"), kUid);
    d.nominalRates = c.ranges;
    d.nominalRate = c.deviceRate;
    d.outputStreams.front().available = c.formats;
    d.outputStreams.front().format = c.current;
    d.failing = c.failing;
    SimRig rig;
    rig.devices = {d};
    rig.defaultOutputUid = kUid;
    return rig;
}

QString writeTone(const QString& name, int rate, int format) {
    return test::writeTemp(name, {format, rate, 2, rate / 2});
}

} // namespace

Q_DECLARE_METATYPE(ql::platform::SimClock)

class DeviceMatchTest : public QObject {
    Q_OBJECT
private slots:
    void init() { L10n::setLanguage("ko"); }

    void match_data() { addRows(kCases); }
    void match() {
        const MatchCase& c = currentCase(kCases);
        test::RiggedApp r(rigFor(c));
        QList<unsigned long> pauses;
        test::fakes(r.app).clock.settle = [&](unsigned long us) { pauses << us; };
        r.app.status->setSilently(QString());

        r.app.matchDeviceRate(c.source);

        SimHardware& hw = r.hw();
        const DeviceId id = hw.idOf(kUid);
        QCOMPARE(hw.writeCalls().nominalRate, c.rateWrites);
        QCOMPARE(hw.writeCalls().physicalFormat, c.formatWrites);
        QCOMPARE(hw.device(id)->nominalRate, c.rateAfter);
        const PhysicalFormat after = hw.device(id)->outputStreams.front().format;
        QCOMPARE(after.bits, c.bitsAfter);
        QCOMPARE(after.isFloat, c.floatAfter);
        QCOMPARE(r.app.status->stringValue(), QString::fromUtf8(c.status));
        // The pause follows a change of rate, and only that.
        const bool rateChanged = hw.writesApplied().nominalRate > 0;
        QCOMPARE(pauses, rateChanged ? QList<unsigned long>{150000} : QList<unsigned long>{});
    }

    // A 96 kHz ALAC file, then a 44.1 kHz WAV, in bit-perfect mode with
    // rate matching on: the device follows each file's rate, pauses once
    // per change, and each file is heard sample for sample (on a card that
    // keeps time, with nothing cut off the end of the first by the reopen).
    void bitPerfectTracksFollowTheirRates_data() {
        QTest::addColumn<SimClock>("clock");
        QTest::newRow("untimed") << SimClock::Untimed;
        QTest::newRow("card keeping time") << SimClock::RealTime;
    }
    void bitPerfectTracksFollowTheirRates() {
        QFETCH(SimClock, clock);
        UserDefaults().clear();
        auto sink = std::make_shared<SimSinkControl>(clock, 8 << 20, 16384);
        SimRig rig;
        rig.devices = {SimDevice::output(QStringLiteral("DAC"), kUid)};
        rig.defaultOutputUid = kUid;
        test::RiggedApp r(rig, SimOutputs{clock, {{kUid, sink}}});
        App& app = r.app;
        app.playback.bitPerfect = true;
        app.playback.maxQuality = false;
        app.playback.rateMatchOn = true;

        const QString broken = QDir::temp().filePath("broken.wav");
        QVERIFY(test::writeFile(broken, "not audio"));
        const QString hiWav = writeTone("hi.wav", 96000, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
        const QString hiAlac = QDir::temp().filePath("hi.m4a");
        QVERIFY(test::runFfmpeg({"-i", hiWav, "-c:a", "alac", "-sample_fmt", "s32p", hiAlac}));
        const std::vector<Track> tracks = {
            {1, hiAlac, "Hi", {}, {}, 0.5, {}},
            {2,
             writeTone("cd.wav", 44100, SF_FORMAT_WAV | SF_FORMAT_PCM_16),
             "CD",
             {},
             {},
             0.5,
             {}},
            // Stops the run: its road is taken by the seam below.
            {3, broken, "Broken", {}, {}, 0.5, {}},
        };
        app.library.rows = tracks;
        app.browser.filtered = tracks;
        QStringList roads;
        test::fakes(app).observer.fallbackRoad = [&](const char* road, const Track& t, quint64) {
            roads << QString::fromLatin1(road) + ':' + QString::number(t.id);
        };
        QList<unsigned long> pauses;
        test::fakes(app).clock.settle = [&](unsigned long us) { pauses << us; };
        SimHardware& hw = r.hw();
        const DeviceId id = hw.idOf(kUid);
        QList<double> rates;
        hw.addObserver([&](DeviceId d, SimEvent e) {
            if (d == id && e == SimEvent::NominalRate)
                rates << hw.device(id)->nominalRate;
        });
        QCOMPARE(app.supportedRates(id), (std::vector<double>{44100, 48000, 88200, 96000, 192000}));

        app.play(tracks[0]);
        QTRY_COMPARE_WITH_TIMEOUT(roads, QStringList{"decode:3"}, 20000);

        QCOMPARE(rates, (QList<double>{96000, 44100}));
        QCOMPARE(pauses, (QList<unsigned long>{150000, 150000}));
        QCOMPARE(sink->opens(), 2);
        for (int s = 0; s < 2; ++s) {
            const test::Samples ref = test::readSamples(s == 0 ? hiWav : tracks[1].path);
            const StreamFormat& f = sink->sessions()[std::size_t(s)].format;
            QCOMPARE(f.rate, double(ref.rate));
            // A card plays silence once a file is over, until it is reopened.
            std::vector<std::int32_t> got = sink->recordedInt32(s);
            const bool silentAfter = got.size() >= ref.data.size() &&
                                     std::all_of(got.begin() + std::ptrdiff_t(ref.data.size()),
                                                 got.end(), [](std::int32_t v) { return v == 0; });
            got.resize(std::min(got.size(), ref.data.size()));
            QVERIFY2(got == ref.data && silentAfter,
                     qPrintable(QStringLiteral("session %1 differs from its file").arg(s)));
        }
    }
};

QL_TEST_MAIN(DeviceMatchTest)
#include "DeviceMatchTest.moc"
