// Guards against: a pause cut off in one sample, a resume that repeats or
// skips frames, a seek heard only after the whole queue, or a rendered track
// heard late, cut short or with silence inside it, on a sound server's shared
// device. (Track ends and the tracks that follow them: ServerJoinTest,
// ServerFollowTest, ServerDecodedTest.)
// Each row runs twice: on the simulated device in its sound-server mode (a
// delay that stays put once the queue has played out, no rewind), and on a
// private PipeWire graph, the program writing to ALSA "default" through
// pipewire-alsa and the test recording what reaches the null sink. The
// PipeWire rows are skipped only when pipewire cannot be started at all, or
// when every take was spoiled by the test's tools (SoundStage::unjudgeable).
#include "app/App.h"
#include "app/UserDefaults.h"
#include "effects/FXPanel.h"
#include "platform/alsa/AlsaPlatform.h"
#include "platform/audio/AudioPlayer.h"
#include "platform/sim/SimPlatform.h"
#include "platform/sim/SimSink.h"

#include "CaseRows.h"
#include "SimRigs.h"
#include "SoundServerGraph.h"
#include "SoundStage.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"
#include "TrackIds.h"

#include <QElapsedTimer>
#include <QTest>

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <utility>

using namespace ql;
using namespace ql::platform;
using test::addRows;
using test::tempFile;

namespace {

constexpr int kRate = 48000;
constexpr int kWaitMs = 60000;
using test::Device;
using Stage = test::SoundStage;

// An App on the stage's device; not launched, so no gapless successor is
// ever armed.
struct Rig : test::TrackIds<Rig> {
    std::unique_ptr<App> owned;
    App& app;
    explicit Rig(Stage& s) : owned(std::make_unique<App>(*s.platform)), app(*owned) {
        UserDefaults().clear();
    }
};

// clang-format off
// The simulated device's clock runs on between the engine's last look and
// its drop, by as long as the main thread takes in between: a few frames,
// more on a loaded machine.
struct PauseCase { const char* name; Device device; std::int64_t within; };
const std::vector<PauseCase> pauseCases{
    {"simulated", Device::Simulated, kRate / 1000},
    {"pipewire", Device::PipeWire, 2},
};
struct RenderedCase { const char* name; Device device; };
const std::vector<RenderedCase> renderedCases{
    {"simulated", Device::Simulated},
    {"pipewire", Device::PipeWire},
};
// clang-format on

// The ramp's frame number in a sample of its left channel, when the sample is
// one of the ramp's (not faded); -1 otherwise.
std::int64_t rampFrame(double v) {
    const double f = (v + 1.0) * 2147483648.0 / double(test::kRampStep);
    const double whole = std::round(f);
    return std::abs(f - whole) < 1e-3 && whole >= 0 ? std::int64_t(whole) : -1;
}

// A 4 s ramp playing on the stage, what it plays recorded once `from`
// seconds of it were heard (its start, where a loaded machine may keep the
// device from being fed in time, is not what the rows judge); null when it
// cannot start.
std::unique_ptr<AudioPlayer> playRecordedRamp(Stage& stage, const char* name, double from) {
    const QString path = tempFile(name);
    if (!test::writeSamples(path, SF_FORMAT_WAV | SF_FORMAT_PCM_24,
                            test::ramp(0, 4 * kRate, kRate)))
        return nullptr;
    auto opened = AudioPlayer::open(*stage.platform->outputs, path);
    if (!opened.player || !opened.player->play() ||
        !QTest::qWaitFor([&] { return opened.player->currentTime() > from; }, kWaitMs) ||
        !stage.record())
        return nullptr;
    return std::move(opened.player);
}

// The recording's first frame at or after `from` that plays ramp frame
// `frame` (n: none).
std::size_t findRampFrame(const std::vector<double>& v, std::size_t from, std::int64_t frame) {
    const std::size_t n = v.size() / 2;
    while (from < n && rampFrame(v[2 * from]) != frame)
        ++from;
    return from;
}

// 2 s of white noise at kRate, the same in both channels; 32-bit float WAV.
// `samples`: the interleaved samples written.
QString noiseTrack(const QString& name, std::vector<double>& samples) {
    std::vector<double> v(std::size_t(2 * 2 * kRate));
    unsigned seed = 12345;
    for (std::size_t f = 0; f < v.size() / 2; ++f) {
        seed = seed * 1103515245u + 12345u;
        v[2 * f] = v[2 * f + 1] = 0.3 * (double(seed >> 8 & 0xffff) / 32768.0 - 1.0);
    }
    const QString path = tempFile(name);
    if (!test::writeFloatWav(path, kRate, 2, v))
        qFatal("cannot write %s", qPrintable(path));
    samples = v;
    return path;
}

// The left channel of a recording or of a sound file.
std::vector<double> leftOf(const std::vector<double>& interleaved) {
    std::vector<double> left(interleaved.size() / 2);
    for (std::size_t i = 0; i < left.size(); ++i)
        left[i] = interleaved[2 * i];
    return left;
}

// The lag within ±`reach` frames at which `heard` (from `at`) best matches
// `source` over `frames` frames from `from`.
int bestLag(const std::vector<double>& source, std::size_t from, const std::vector<double>& heard,
            std::size_t at, std::size_t frames, int reach) {
    int best = 0;
    double bestSum = -1e300;
    for (int lag = -reach; lag <= reach; ++lag) {
        double sum = 0;
        for (std::size_t i = 0; i < frames; ++i) {
            const auto j = std::ptrdiff_t(at + i) + lag;
            if (j >= 0 && std::size_t(j) < heard.size())
                sum += source[from + i] * heard[std::size_t(j)];
        }
        if (sum > bestSum) {
            bestSum = sum;
            best = lag;
        }
    }
    return best;
}

// The stretch of source the lags are measured over: 50 ms.
constexpr std::size_t kSpan = kRate / 20;

// The longest run of frames of exact zeros in a stereo recording or source.
std::size_t longestZeros(const std::vector<double>& v) {
    std::size_t longest = 0;
    for (std::size_t i = 0, run = 0; 2 * i + 1 < v.size(); ++i) {
        run = v[2 * i] == 0.0 && v[2 * i + 1] == 0.0 ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return longest;
}

// Stretches of a recording as text: where each starts and how long it is.
QString describe(const std::vector<test::Stretch>& parts) {
    QStringList told;
    for (const test::Stretch& s : parts)
        told << QStringLiteral("%1 %2 frames at %3 s")
                    .arg(s.silent ? QStringLiteral("silence") : QStringLiteral("sound"))
                    .arg(s.frames)
                    .arg(double(s.from) / kRate);
    return told.join(QStringLiteral("; "));
}

// A track played once, as a recording of it shows it: `fault` is empty when
// it is heard whole (one stretch of sound as long as the source, its first
// frame the source's first, its last the last), else says what was heard.
// `silences`: the silences inside the sound; `inPlace`: the sound, with them
// taken out, is the source whole, every part in its place (a device that
// ran dry puts silence in and loses no frame).
struct Heard {
    QString fault;
    std::int64_t silences = 0;
    bool inPlace = false;
};
Heard heardOnce(const std::vector<double>& source, const std::vector<double>& recorded,
                std::size_t longestQuiet) {
    Heard h;
    const std::vector<test::Stretch> parts = test::stretchesOf(recorded, longestQuiet);
    std::vector<test::Stretch> sound;
    std::copy_if(parts.begin(), parts.end(), std::back_inserter(sound),
                 [](const test::Stretch& s) { return !s.silent; });
    if (sound.empty()) {
        h.fault = QStringLiteral("nothing was heard");
        return h;
    }
    h.silences = std::int64_t(sound.size()) - 1;
    const std::vector<double> left = leftOf(recorded);
    std::vector<double> joined;
    for (const test::Stretch& s : sound)
        joined.insert(joined.end(), left.begin() + std::ptrdiff_t(s.from),
                      left.begin() + std::ptrdiff_t(s.end()));
    // Where the joined sound first moves off the source.
    QString where;
    const std::size_t n = std::min(source.size(), joined.size());
    for (std::size_t at = 0; at + kSpan <= n && where.isEmpty(); at += kSpan)
        if (const int lag = bestLag(source, at, joined, at, kSpan, 400); lag != 0)
            where = QStringLiteral("; %1 frames off from %2 s").arg(lag).arg(double(at) / kRate);
    const bool whole = std::abs(std::int64_t(joined.size()) - std::int64_t(source.size())) <= 2;
    if (whole && where.isEmpty() &&
        bestLag(source, source.size() - kSpan, joined, joined.size() - kSpan, kSpan, 400) != 0)
        where = QStringLiteral("; its end off");
    h.inPlace = whole && where.isEmpty();
    if (h.silences > 0 || !h.inPlace)
        h.fault = QStringLiteral("heard %1 of a %2-frame track%3")
                      .arg(describe(parts))
                      .arg(source.size())
                      .arg(where);
    return h;
}

// A pause of the pause row: the frame heard when it was called, and how
// long the call took.
struct PauseCall {
    double heardAtCall = 0, callSeconds = 0;
};
// Takes of the pause and seek rows at most: a loaded machine may starve the
// device in several takes in a row.
constexpr int kPauseTakes = 5;

// What a recording of the ramp paused and resumed at `pauses` shows wrong:
// a pause not heard, a step instead of a fade, a fade too short, a resume
// more than `within` frames off the next frame not heard, or every pause
// silent later than 50 ms after its call returned. Empty: nothing.
QString pausesHeardFault(const std::vector<double>& v, const std::vector<PauseCall>& pauses,
                         std::int64_t within) {
    const std::size_t n = v.size() / 2;
    const auto left = [&](std::size_t i) { return v[2 * i]; };

    std::size_t i = 0; // where the search for the next pause starts
    while (i < n && std::abs(left(i)) < 1e-6)
        ++i;
    double quickest = 1e9;
    QStringList told;
    for (const PauseCall& pause : pauses) {
        // The first silence of more than 20 ms from there.
        std::size_t quiet = 0, silentFrom = 0;
        for (; i < n && quiet < kRate / 50; ++i) {
            if (std::abs(left(i)) < 1e-6) {
                if (quiet++ == 0)
                    silentFrom = i;
            } else {
                quiet = 0;
            }
        }
        if (quiet < kRate / 50)
            return QStringLiteral("a pause is not heard");
        // The fade: from the last frame of the ramp to the silence.
        std::size_t a = silentFrom - 1;
        while (a > 0 &&
               !(rampFrame(left(a)) >= 0 && rampFrame(left(a)) == rampFrame(left(a - 1)) + 1))
            --a;
        const std::int64_t fadeOut = std::int64_t(silentFrom - 1 - a);
        double step = 0;
        for (std::size_t k = a; k < silentFrom; ++k)
            step = std::max(step, std::abs(left(k + 1) - left(k)));
        if (step > 1.0 / 8)
            return QStringLiteral("a step of %1 at a pause").arg(step);
        if (fadeOut < kRate * 3 / 1000)
            return QStringLiteral("a fade lasts %1 frames").arg(fadeOut);
        const std::int64_t lastHeard = rampFrame(left(a)) + fadeOut;
        const double late = double(lastHeard) / kRate - pause.heardAtCall - pause.callSeconds;
        quickest = std::min(quickest, late);
        told << QStringLiteral("%1 ms (the call took %2 ms)")
                    .arg(1000 * late, 0, 'f', 1)
                    .arg(1000 * pause.callSeconds, 0, 'f', 1);

        // The resume: its fade-in, then the ramp from the frame after the
        // fade-out.
        std::size_t s = silentFrom;
        while (s < n && std::abs(left(s)) < 1e-6)
            ++s;
        std::size_t b = s;
        while (b + 1 < n &&
               !(rampFrame(left(b)) >= 0 && rampFrame(left(b + 1)) == rampFrame(left(b)) + 1))
            ++b;
        if (b + 1 >= n)
            return QStringLiteral("a resume is not heard");
        const std::int64_t fadeIn = std::int64_t(b - s);
        const std::int64_t jump = rampFrame(left(b)) - fadeIn - lastHeard - 1;
        if (std::abs(jump) > within)
            return QStringLiteral("a resume is %1 frames off the next unheard one").arg(jump);
        i = b;
    }
    const QString heard =
        "the pauses are silent after the calls' return: " + told.join(QStringLiteral(", "));
    qInfo("%s", qPrintable(heard));
    return quickest <= 0.05 ? QString() : heard;
}

// Why a take that shows `fault` is not judged: the device ran dry while it
// was recorded, and its silence passes for a pause or for lateness. Empty
// (judged) when it shows none, or the device kept fed.
QString spoiledByDrySpells(const Stage& stage, const QString& fault) {
    return fault.isEmpty() || stage.dryGaps() == 0
               ? QString()
               : QStringLiteral("the device ran dry %1 times; %2").arg(stage.dryGaps()).arg(fault);
}

struct SeekCall {
    double after, to;         // seconds of the ramp
    std::int64_t heardAtCall; // its frame heard when the call was made
    double callSeconds;
};

// What a recording of the ramp sought at `seeks` shows wrong: the place of a
// call or a new place not heard, or every new place heard later than 50 ms
// after its call returned. For each seek the new place starts at the first
// of its frames (past the fade-in) less the fade-in's length; its lateness
// counts from the call's return. Empty: nothing.
QString seeksHeardFault(const std::vector<double>& v, const std::vector<SeekCall>& seeks) {
    const std::size_t n = v.size() / 2;
    std::size_t at = 0;
    double quickest = 1e9;
    QStringList told;
    for (const SeekCall& seek : seeks) {
        const std::size_t atCall = findRampFrame(v, at, seek.heardAtCall);
        if (atCall >= n)
            return QStringLiteral("the place of a call is not in the recording");
        const auto target = std::int64_t(std::llround(seek.to * kRate));
        std::size_t k = atCall;
        while (k < n &&
               !(rampFrame(v[2 * k]) >= target && rampFrame(v[2 * k]) < target + kRate / 10))
            ++k;
        if (k >= n)
            return QStringLiteral("a new place is never heard");
        const double newStart = double(k) - double(rampFrame(v[2 * k]) - target);
        const double late = (newStart - double(atCall)) / kRate - seek.callSeconds;
        quickest = std::min(quickest, late);
        told << QStringLiteral("%1 ms (the call took %2 ms)")
                    .arg(1000 * late, 0, 'f', 1)
                    .arg(1000 * seek.callSeconds, 0, 'f', 1);
        at = k;
    }
    const QString heard =
        "the new places are heard after the calls' return: " + told.join(QStringLiteral(", "));
    qInfo("%s", qPrintable(heard));
    return quickest <= 0.05 ? QString() : heard;
}

} // namespace

class SoundServerTest : public QObject {
    Q_OBJECT
private slots:
    // A track played through the effects (rendered with an EQ first) is
    // heard from its first frame to its last: as long as its source, every
    // part of it in its place, and no silence inside it (a run of exact
    // zeros longer than the source holds: frames cut, or silence put in).
    // The limiter's look-ahead once delayed the render by 5 ms, heard as a
    // late start and a lost end. Every take is judged, the device dry or
    // not: only silences a device that ran dry can have put in (no more of
    // them than its gaps, every frame heard in its place around them) make
    // the take again; any other fault fails the row at any load. The
    // simulated server holds a second, so that a loaded machine keeps it fed.
    void aRenderedTrackIsHeardWhole_data() { addRows(renderedCases); }
    void aRenderedTrackIsHeardWhole() {
        const RenderedCase& c = test::currentCase(renderedCases);
        Stage stage(c.device, test::SimServer{kRate, 1024, 0});
        if (!stage.skip.isEmpty())
            QSKIP(qPrintable(stage.skip));
        std::vector<double> written, recorded;
        const QString path = noiseTrack("noise.wav", written);
        std::vector<double> source = leftOf(written);
        for (double& v : source)
            v = double(float(v)); // float samples, as the file holds them
        Heard heard;
        const bool judged = test::judgeableTake(
            stage,
            [&] {
                Rig r(stage);
                r.add(3, path);
                r.show({3});
                r.app.playback.maxQuality = false;
                r.app.fxPanel->bypass = false;
                r.app.fxPanel->state.enabled = true;
                r.app.fxPanel->state.gains = {6, 3, 0, 0, 0};
                QVERIFY(r.app.fxNeeded(r.track(3)));
                QVERIFY(stage.record());
                r.app.play(r.track(3));
                QVERIFY(QTest::qWaitFor([&] { return r.app.isPlaying(); }, kWaitMs));
                QVERIFY(r.app.playback.cacheURL);              // it plays its render
                r.app.browser.filtered = std::vector<Track>{}; // nothing follows it
                const quint64 request = r.app.playback.generation;
                QVERIFY(QTest::qWaitFor([&] { return !r.app.isPlaying(); }, kWaitMs));
                QTest::qWait(300); // what the server still held
                QCOMPARE(r.app.playback.generation, request);
                recorded = stage.recording();
                heard = heardOnce(source, recorded, longestZeros(written));
            },
            Stage::DryDevice::IsJudged,
            [&] {
                return heard.fault.isEmpty() || heard.silences > stage.dryGaps() || !heard.inPlace
                           ? QString()
                           : QStringLiteral("the device ran dry %1 times; %2")
                                 .arg(stage.dryGaps())
                                 .arg(heard.fault);
            });
        if (judged)
            QVERIFY2(heard.fault.isEmpty(), qPrintable(heard.fault));
    }

    // A pause fades out over at least 3 ms and is silent within 50 ms of the
    // call; the resume goes on with the next frame not heard. Three pauses,
    // each faded and resumed in place, their time judged by the quickest: a
    // loaded machine can hold the fade past a cycle of the server at some of
    // them, while a pause that waits for the queue is late at every one.
    // Every take is judged, the device dry or not: only a take that fails
    // while the device ran dry (its silence passes for a pause, its gap for
    // lateness) is made again, up to kPauseTakes times.
    void pauseFadesAndResumeContinues_data() { addRows(pauseCases); }
    void pauseFadesAndResumeContinues() {
        const PauseCase& c = test::currentCase(pauseCases);
        Stage stage(c.device);
        if (!stage.skip.isEmpty())
            QSKIP(qPrintable(stage.skip));
        std::vector<PauseCall> pauses(3);
        std::vector<double> v;
        QString fault; // what the last take's recording shows wrong; empty: nothing
        const bool judged = test::judgeableTake(
            stage,
            [&] {
                const auto played = playRecordedRamp(stage, "ramp.wav", 0.8);
                QVERIFY(played);
                AudioPlayer& player = *played;
                double after = 1.0;
                for (PauseCall& pause : pauses) {
                    QVERIFY(QTest::qWaitFor([&] { return player.currentTime() > after; }, kWaitMs));
                    // What a loaded machine keeps the call itself from running
                    // (the feeder stopped and joined, the fade written) is heard
                    // meanwhile: the bound on the pause counts from the call's
                    // return.
                    QElapsedTimer call;
                    call.start();
                    pause.heardAtCall = player.currentTime();
                    player.pause();
                    pause.callSeconds = double(call.nsecsElapsed()) / 1e9;
                    QTest::qWait(300);
                    QVERIFY(player.play());
                    after = pause.heardAtCall + 0.4;
                }
                QVERIFY(QTest::qWaitFor([&] { return player.currentTime() > after; }, kWaitMs));
                player.stop();
                v = stage.recording();
                fault = pausesHeardFault(v, pauses, c.within);
            },
            Stage::DryDevice::IsJudged, [&] { return spoiledByDrySpells(stage, fault); },
            kPauseTakes);
        if (judged)
            QVERIFY2(fault.isEmpty(), qPrintable(fault));
    }

    // A seek is heard within 50 ms of the call, as a pause is: the new place
    // follows what the device still had to play of the old one (its fade)
    // rather than the whole queue. Three seeks, judged by the quickest: a
    // loaded machine can keep the decoder from the new place past a cycle
    // of the server at some of them, while a seek that waits for the queue
    // is late at every one. Every take is judged: only one that is late
    // while the device ran dry (the machine did not keep it fed, and its
    // silence reads as lateness) is made again, up to kPauseTakes times.
    void seekIsHeardWithinAPeriod_data() { addRows(pauseCases); }
    void seekIsHeardWithinAPeriod() {
        const PauseCase& c = test::currentCase(pauseCases);
        Stage stage(c.device);
        if (!stage.skip.isEmpty())
            QSKIP(qPrintable(stage.skip));
        std::vector<SeekCall> seeks{{1.5, 0.5, 0, 0}, {0.9, 2.5, 0, 0}, {2.9, 0.5, 0, 0}};
        QString fault; // what the last take's recording shows wrong; empty: nothing
        const bool judged = test::judgeableTake(
            stage,
            [&] {
                const auto played = playRecordedRamp(stage, "seek-ramp.wav", 1.2);
                QVERIFY(played);
                AudioPlayer& player = *played;
                for (SeekCall& seek : seeks) {
                    QVERIFY(QTest::qWaitFor([&] { return player.currentTime() > seek.after; },
                                            kWaitMs));
                    QElapsedTimer call;
                    call.start();
                    seek.heardAtCall = std::int64_t(std::llround(player.currentTime() * kRate));
                    player.setCurrentTime(seek.to);
                    seek.callSeconds = double(call.nsecsElapsed()) / 1e9;
                }
                QVERIFY(QTest::qWaitFor([&] { return player.currentTime() > 0.9; }, kWaitMs));
                player.stop();
                fault = seeksHeardFault(stage.recording(), seeks);
            },
            Stage::DryDevice::IsJudged, [&] { return spoiledByDrySpells(stage, fault); },
            kPauseTakes);
        if (judged)
            QVERIFY2(fault.isEmpty(), qPrintable(fault));
    }
};

QL_TEST_MAIN(SoundServerTest)
#include "SoundServerTest.moc"
