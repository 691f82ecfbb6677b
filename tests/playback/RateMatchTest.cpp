// Guards against: a device rate or format chosen wrongly for a track.
// The device-rate and physical-format choices as plain data.
#include "playback/RateMatch.h"

#include "CaseRows.h"
#include "TestHome.h"
#include "TestUnits.h"

#include <limits>

using namespace ql;
using platform::PhysicalFormat;
using platform::RateRange;
using test::addRows;
using test::currentCase;

namespace {

std::vector<RateRange> singles(std::initializer_list<double> rates) {
    std::vector<RateRange> out;
    for (double r : rates)
        out.push_back({r, r});
    return out;
}

PhysicalFormat pcm(double rate, int bits, bool isFloat, int bytesPerSample, int channels = 2,
                   bool linear = true) {
    return PhysicalFormat{rate, bits, isFloat, channels, bytesPerSample * channels, linear};
}

struct RateCase {
    const char* name;
    double source;
    std::vector<RateRange> ranges;
    std::optional<double> target;
};

const std::vector<RateCase> kRates = {
    {"88.2k stays in its family below the source", 88200, singles({44100, 48000, 96000}), 44100},
    {"11025 counts in the 48k family", 11025, singles({44100, 48000}), 48000},
    {"a range minimum 0.4 Hz above the source still takes it", 44100, {{44100.4, 48000}}, 44100},
    {"a range minimum 0.6 Hz above the source does not",
     44100,
     {{44100.6, 44100.6}, {48000, 48000}},
     48000},
    {"a source the device takes is kept, not snapped", 44099.7, singles({44100}), 44099.7},
    {"no standard rate and not the source", 44100, {{1000, 2000}}, std::nullopt},
    {"no ranges", 44100, {}, std::nullopt},
    {"a zero source never reaches the device", 0, {{0, 192000}}, std::nullopt},
    {"a NaN source never reaches the device",
     std::numeric_limits<double>::quiet_NaN(),
     {{8000, 192000}},
     std::nullopt},
};

struct FormatCase {
    const char* name;
    std::vector<PhysicalFormat> formats;
    double rate;
    std::optional<std::size_t> best;
};

const std::vector<FormatCase> kFormats = {
    {"the deepest integer format",
     {pcm(44100, 24, false, 4), pcm(44100, 32, true, 4), pcm(44100, 32, false, 4)},
     44100,
     2},
    {"the first of equal formats", {pcm(44100, 24, false, 3), pcm(44100, 24, false, 4)}, 44100, 0},
    {"formats at another rate", {pcm(48000, 24, false, 4)}, 44100, std::nullopt},
    {"a rate within 1 Hz qualifies", {pcm(44100, 24, false, 4)}, 44100.9, 0},
    {"a format that is not linear PCM is passed over",
     {pcm(44100, 32, false, 4, 2, false), pcm(44100, 16, false, 2)},
     44100,
     1},
};

struct WriteCase {
    const char* name;
    PhysicalFormat current;
    PhysicalFormat best;
    bool write;
};

const std::vector<WriteCase> kWrites = {
    {"same bits and kind, another rate", pcm(48000, 24, false, 4), pcm(44100, 24, false, 4), false},
    {"packed against padded 24-bit", pcm(44100, 24, false, 3), pcm(44100, 24, false, 4), true},
};

// clang-format off
const std::vector<double> kDevice{44100, 48000, 88200, 96000, 176400, 192000};
struct UpCase { const char* name; double source; int mode; std::vector<double> rates; std::optional<double> target; };
const std::vector<UpCase> kUps = {
    {"44.1k, mode 1: the largest power-of-two multiple", 44100, 1, kDevice, 176400},
    {"44.1k, mode 2: the family's largest", 44100, 2, kDevice, 176400},
    {"96k on a device topping at 96k: none", 96000, 2, {44100, 48000, 88200, 96000}, std::nullopt},
    {"44100.5 keeps 88.2k as a power of two", 44100.5, 1, {44100, 88200}, 88200},
    {"32k, mode 1: no power-of-two multiple", 32000, 1, kDevice, std::nullopt},
    {"32k, mode 2: the 48k family's largest", 32000, 2, kDevice, 192000},
    {"rate 0 (a failed probe): none", 0, 2, kDevice, std::nullopt},
    {"a negative rate: none", -1, 2, kDevice, std::nullopt},
    {"NaN: none", std::numeric_limits<double>::quiet_NaN(), 2, kDevice, std::nullopt},
    {"no rates: none", 44100, 2, {}, std::nullopt},
};
// clang-format on

} // namespace

class RateMatchTest : public QObject {
    Q_OBJECT
private slots:
    void deviceRate_data() { addRows(kRates); }
    void deviceRate() {
        const RateCase& c = currentCase(kRates);
        QCOMPARE(deviceRateFor(c.source, c.ranges), c.target);
    }

    void upsampleTarget_data() { addRows(kUps); }
    void upsampleTarget() {
        const UpCase& c = currentCase(kUps);
        QCOMPARE(ql::upsampleTarget(c.source, c.mode, c.rates), c.target);
    }

    void bestFormat_data() { addRows(kFormats); }
    void bestFormat() {
        const FormatCase& c = currentCase(kFormats);
        QCOMPARE(bestPhysicalFormat(c.formats, c.rate), c.best);
    }

    void formatWrite_data() { addRows(kWrites); }
    void formatWrite() {
        const WriteCase& c = currentCase(kWrites);
        QCOMPARE(formatNeedsWrite(c.current, c.best), c.write);
    }
};

QL_TEST_UNIT(RateMatchTest)
#include "RateMatchTest.moc"
