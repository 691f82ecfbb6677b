// What the desktop shows of the track that plays, and the media commands it
// sends back (keyboard media keys, headphone buttons, the desktop's player
// widget).
//
// The controller publishes the current track and the playback status after
// every change a viewer can see, and clears both once at quit. The commands
// arrive as callbacks on the main thread; each callback must only queue its
// work and return, since the desktop waits for the answer.
//
// Backends: MPRIS 2 on the session bus (platform/mpris/MprisNowPlaying.h) and
// a simulated one that records what it is given (platform/sim/SimNowPlaying.h).
// Without a session bus the MPRIS backend is inactive and says nothing.
#pragma once

#include <QString>

#include <functional>
#include <optional>

namespace ql::platform {

enum class PlaybackStatus { Playing, Paused, Stopped };

// One publication: the track and where its playback stands.
struct NowPlayingInfo {
    qint64 trackId = 0;
    QString title;
    QString artist;
    QString album;
    double duration = 0; // seconds
    double elapsed = 0;  // seconds
    double rate = 0;     // 1.0 while playing, else 0.0

    bool operator==(const NowPlayingInfo&) const = default;
};

// The commands and the live values a client may ask for. Unset members are
// not offered.
struct RemoteCommands {
    std::function<void()> play;
    std::function<void()> pause;
    std::function<void()> togglePlayPause;
    std::function<void()> stop;
    std::function<void()> next;
    std::function<void()> previous;
    // Moves playback of the current track to this time (seconds).
    std::function<void(double seconds)> changePosition;
    // Brings the window forward; ends the program through its normal quit.
    std::function<void()> raise;
    std::function<void()> quit;

    // The player's time in seconds; none without a player.
    std::function<std::optional<double>()> position;
    // The volume, 0 … 1, and the playback speed (1.0 = normal).
    std::function<double()> volume;
    std::function<double()> speed;
};

class NowPlaying {
public:
    virtual ~NowPlaying() = default;
    // Offers the commands to the desktop; called once.
    virtual void registerCommands(RemoteCommands commands) = 0;
    // Replaces the whole information and sets the status.
    virtual void publish(const NowPlayingInfo& info, PlaybackStatus status) = 0;
    // No track, status stopped; the desktop has been told before this returns.
    virtual void clear() = 0;
};

} // namespace ql::platform
