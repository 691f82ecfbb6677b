// The outside world as the controller meets it, in a few services: the clock
// and the timing knobs (Clock). App holds one bundle of them (AppServices),
// given to its constructor; the program passes the system's own, the tests
// pass fakes that stand in for one call at a time.
//
// The system implementations hold no state of their own: any thread may call
// them unless a call says otherwise. A call that takes the App does the
// controller's own work and is for the main thread only.
#pragma once

#include <memory>
#include <optional>

namespace ql {

class App;

// What the current player tells of itself.
struct PlayerFacts {
    double duration = 0;    // seconds
    double currentTime = 0; // seconds
    bool playing = false;
};

class Clock {
public:
    virtual ~Clock() = default;
    // Seconds on a monotonic clock; the crossfade and the sleep timer read it.
    virtual double monotonic() const = 0;
    // Pauses the main thread while the output device settles after a change
    // of its rate.
    virtual void settle(unsigned long microseconds) const = 0;
    // The time limit of one file's import.
    virtual int importLimitMs() const = 0;
    // From the tools panel's build to its delayed sonic scan.
    virtual int sonicScanDelayMs() const = 0;
    // The current player's position and length: none without a player.
    virtual std::optional<PlayerFacts> player(const App& app) const = 0;
};

class SystemClock : public Clock {
public:
    double monotonic() const override;
    void settle(unsigned long microseconds) const override;
    int importLimitMs() const override;
    int sonicScanDelayMs() const override;
    std::optional<PlayerFacts> player(const App& app) const override;
};

// Shared, so a background job that calls a service keeps it alive however
// long it outlasts the controller.
struct AppServices {
    std::shared_ptr<const Clock> clock;

    // The system's own services.
    static AppServices system();
};

} // namespace ql
