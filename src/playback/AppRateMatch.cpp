// ---- playback: matching the output device's rate and format to a track ----
//
// The choices are the pure unit playback/RateMatch; this file reads the
// device through the audio hardware, writes what the choice asks and reports
// it. Every hardware failure ends the step silently and leaves the device as
// it was: only a change that took is shown on the status line.
//
// After a successful write the device's output engine is told at once, on
// every backend, so its open stream is reopened at the new rate or format
// before the next player starts on it (the simulated rig also tells it
// through its observer; a second telling finds the stream current and does
// nothing).
//
// A change of rate is followed by a 150 ms pause of the main thread so the
// device has settled before playback starts (Clock::settle).
#include "app/App.h"

#include "platform/Platform.h"
#include "playback/RateMatch.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"

namespace ql {

namespace {

constexpr unsigned long kSettleMicroseconds = 150'000;

void tellEngine(platform::Platform& platform, platform::DeviceId device) {
    if (!platform.outputs)
        return;
    // A stream that does not reopen ends its voices as failed; the end of
    // the track reports it.
    QString error;
    platform.outputs->deviceFormatChanged(device, error);
}

} // namespace

std::vector<double> App::supportedRates(platform::DeviceId device) const {
    const platform::AudioHardware* hw = platform.hardware.get();
    if (!hw)
        return {};
    const auto ranges = hw->availableNominalRates(device);
    if (!ranges)
        return {};
    return supportedStandardRates(*ranges);
}

void App::matchDeviceRate(double rate) {
    platform::AudioHardware* hw = platform.hardware.get();
    const auto device = outputDeviceID();
    if (!hw || !device)
        return;
    const auto ranges = hw->availableNominalRates(*device);
    if (!ranges || ranges->empty())
        return;
    const auto target = deviceRateFor(rate, *ranges);
    if (!target)
        return;
    // An unreadable rate counts as 0, so the device is written.
    const double current = hw->nominalRate(*device).value_or(0);
    if (rateNeedsWrite(current, *target) && hw->setNominalRate(*device, *target)) {
        tellEngine(platform, *device);
        status->setStringValue(L10n::tr(rateMatchedText(*target, rate)));
        services.clock->settle(kSettleMicroseconds);
    }
    matchPhysicalFormat(*device, *target);
}

void App::matchPhysicalFormat(platform::DeviceId device, double rate) {
    platform::AudioHardware* hw = platform.hardware.get();
    if (!hw)
        return;
    const auto streams = hw->outputStreams(device);
    if (!streams || streams->empty())
        return;
    const platform::StreamId stream = streams->front();
    const auto formats = hw->availablePhysicalFormats(stream);
    if (!formats)
        return;
    const auto best = bestPhysicalFormat(*formats, rate);
    if (!best)
        return;
    const platform::PhysicalFormat& chosen = (*formats)[*best];
    const auto current = hw->physicalFormat(stream);
    if (!current || !formatNeedsWrite(*current, chosen))
        return;
    if (!hw->setPhysicalFormat(stream, chosen))
        return;
    tellEngine(platform, device);
    status->setStringValue(L10n::tr(formatMatchedText(rate, chosen.bits)));
}

} // namespace ql
