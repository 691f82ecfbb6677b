// The simulated Now Playing backend: keeps what the controller publishes, in
// order, and lets a test send the commands a desktop would send. A command
// goes straight to the registered callback, as the bus backend does on the
// main thread. Header only.
#pragma once

#include "platform/NowPlaying.h"

#include <vector>

namespace ql::platform {

class SimNowPlaying final : public NowPlaying {
public:
    struct Publication {
        std::optional<NowPlayingInfo> info; // none: cleared
        PlaybackStatus status = PlaybackStatus::Stopped;
    };

    void registerCommands(RemoteCommands c) override { commands = std::move(c); }
    void publish(const NowPlayingInfo& info, PlaybackStatus status) override {
        publications.push_back({info, status});
    }
    void clear() override { publications.push_back({std::nullopt, PlaybackStatus::Stopped}); }

    RemoteCommands commands;
    std::vector<Publication> publications;
};

} // namespace ql::platform
