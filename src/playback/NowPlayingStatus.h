// Whether a viewer is told that the current track plays: the desktop's Now
// Playing (playback/AppNowPlaying.cpp) and the phone remote's answers say
// the same. Defined in playback/AppNowPlaying.cpp.
#pragma once

namespace ql {

class App;

// It plays, or it was asked to and nobody paused it: its file still being
// opened, rendered or decoded, handed to another road, or its end waiting
// to be handled.
bool playsAsAsked(const App& app);

} // namespace ql
