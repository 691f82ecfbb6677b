// ---- playback: audio files opened off the main thread ----
//
// Every file of the user's that a player reads is opened on `openQueue`
// (FileOpen.h), never on the main thread: a tag block of a hundred thousand
// entries takes FFmpeg or libsndfile tens of seconds to read, and the window,
// MPRIS and the remote would get no answer meanwhile. (The program's own
// decoded and rendered files hold no tags and are opened where they are
// played.) One open per path serves every asker: the rate look (trackRate),
// the play request, the gapless check, the player opened ahead and the
// crossfade.
//
// The play request waits a short while (kWaitMs) for its open: an ordinary
// file answers well within it, so the track starts in the request itself, as
// it always has, and the request and what follows it (the labels, the look
// ahead, MPRIS told 'Playing') keep their order. An open that has not
// answered by then leaves the track being prepared (`loading`, the button's
// preparing title) like a fallback road does: its answer takes the road
// again, unless a newer request overtook it, and so does its deadline
// (FileOpen::kLimitMs), after which the file is refused as unreadable. The
// checks that prepare the next track wait the same short while, so that an
// ordinary successor is armed in the tick that asks for it; one that has
// not answered by then is asked for again at the next tick.
//
// An answered open that no one takes is dropped after kKeepMs: a file held
// open longer might be replaced on the disk before it plays.
#include "app/App.h"

#include "app/ControllerLogCategories.h"
#include "app/Delivery.h"
#include "platform/Platform.h"
#include "platform/audio/AudioPlayer.h"

#include <QThreadPool>
#include <QTimer>

namespace ql {

namespace {
constexpr int kWaitMs = FileOpen::kWaitMs;
constexpr int kKeepMs = 5000;
} // namespace

std::shared_ptr<FileOpen> App::openOffMain(const QString& path) {
    PlaybackState& p = playback;
    if (const auto known = p.opens.constFind(path);
        known != p.opens.constEnd() && (*known)->answerAge() < kKeepMs)
        return *known;
    std::shared_ptr<FileOpen> open =
        FileOpen::start(*openQueue, path, [delivery = Delivery(this), path] {
            delivery.post([path](App& app) {
                if (const std::shared_ptr<FileOpen> open = app.playback.opens.value(path))
                    app.fileOpened(open);
            });
        });
    p.opens.insert(path, open);
    return open;
}

void App::fileOpened(const std::shared_ptr<FileOpen>& open) {
    PlaybackState& p = playback;
    if (!open->answered())
        return;
    if (const double rate = open->rate(); rate > 0)
        p.rateCache.insert(open->path(), rate);
    QTimer::singleShot(kKeepMs, this, [this] { dropStaleOpens(); });
    if (p.openWait && p.openWait->path == open->path()) {
        const OpenWait wait = *std::exchange(p.openWait, std::nullopt);
        if (wait.generation == p.generation && p.current)
            takeRoad(*p.current, wait.generation);
        return;
    }
    // The rate read may send the next track down the effects road: its
    // render made ahead starts now rather than at its turn.
    if (const std::optional<Track> next = peekNext(); next && next->path == open->path())
        prefetchFX(*next);
    successorAnswered(open->path());
}

void App::dropStaleOpens() {
    for (auto it = playback.opens.begin(); it != playback.opens.end();)
        it = (*it)->answerAge() >= kKeepMs ? playback.opens.erase(it) : std::next(it);
}

std::optional<FileOpen::Answer> App::openedFor(const QString& path, quint64 generation) {
    PlaybackState& p = playback;
    const std::shared_ptr<FileOpen> open = openOffMain(path);
    if (!open->wait(kWaitMs) && !open->overdue()) {
        qCDebug(lcPlayback, "request %llu waits for its file to open",
                static_cast<unsigned long long>(generation));
        p.openWait = OpenWait{path, generation};
        // Its deadline ends the wait, whenever the open itself ends.
        QTimer::singleShot(open->msLeft() + 1, this, [this, open, generation] {
            PlaybackState& p = playback;
            if (p.openWait && p.openWait->generation == generation &&
                p.openWait->path == open->path() && p.generation == generation && p.current) {
                p.openWait.reset();
                takeRoad(*p.current, generation);
            }
        });
        return std::nullopt;
    }
    p.opens.remove(path);
    FileOpen::Answer answer = open->take();
    if (answer.file)
        p.rateCache.insert(path, answer.file->sampleRate());
    return answer;
}

std::unique_ptr<platform::AudioPlayer> App::playerOf(const Track& next, const QString& file,
                                                     bool& later) {
    later = false;
    if (!platform.outputs)
        return nullptr;
    if (file != next.path)
        return platform::AudioPlayer::openPlayable(*platform.outputs, file).player;
    const std::shared_ptr<FileOpen> open = openOffMain(file);
    later = !open->wait(kWaitMs) && !open->overdue();
    if (later)
        return nullptr;
    playback.opens.remove(file);
    FileOpen::Answer answer = open->take();
    return platform::AudioPlayer::openPlayable(*platform.outputs, std::move(answer.file),
                                               answer.error)
        .player;
}

bool App::rateAwaited(const Track& track) const {
    const PlaybackState& p = playback;
    if (p.bitPerfect || effUpMode() <= 0 || !outputDeviceID() || fxSignature() ||
        trackRate(track) > 0)
        return false;
    const std::shared_ptr<FileOpen> open = p.opens.value(track.path);
    return open && !open->answered() && !open->overdue();
}

} // namespace ql
