// ---- playback: audio files opened off the main thread ----
//
// Every file of the user's that a player reads is opened by a FileOpen, on a
// thread of its own (FileOpen.h), never on the main thread: a tag block of a
// hundred thousand entries takes FFmpeg or libsndfile tens of seconds to
// read, a network mount may take as long to open a file at all, and the
// window, MPRIS and the remote would get no answer meanwhile. (The program's
// own decoded and rendered files hold no tags and are opened where they are
// played.) One open per path serves every asker, for as long as it runs
// (also past its deadline: asking again joins it rather than start another
// beside it) and for a few seconds after it answered: the rate look
// (lookUpRate), the play request, the gapless check, the player opened
// ahead and the crossfade.
//
// An open's first kWaitMs are waited for by whoever asks for it then
// (answerWithin), and a play request waits kWaitMs in all, counted from its
// start, whatever number of files it asks for: a request that looks up its
// own file, then the next track's, waits for the second only what the first
// left of it. An ordinary file answers well within that, so a play
// request starts its track in the request itself, as it always has, and the
// request and what follows it (the labels, the look ahead, MPRIS told
// 'Playing') keep their order; and the checks that prepare the next track
// arm an ordinary successor in the tick that asks for it. Later asks read
// what is known. A request whose open has not answered by then leaves the
// track being prepared (`loading`, the button's preparing title) like a
// fallback road does: its answer takes the road again, unless a newer
// request overtook it, and so does its deadline (FileOpen::kLimitMs), after
// which the file is refused as too slow to open. A check that finds the open
// still running asks again at its next tick.
//
// A request still waiting a second after its open began says so on the
// status line ("음원 여는 중…"): the bar already shows the track asked for,
// and nothing else would tell that its file is being read. When the wait
// ends (the answer, its deadline, a newer request), the line shows the
// track count again, unless another text has taken it meanwhile; a refusal
// then takes the line as any failure does.
//
// Opens still unanswered are capped (FileOpen::kMostRunning): past the cap
// a file is refused at once as too slow, without a thread.
//
// An answered open that no one takes is dropped after kKeepMs: a file held
// open longer might be replaced on the disk before it plays.
#include "app/App.h"

#include "app/ControllerLogCategories.h"
#include "app/Delivery.h"
#include "library/CatalogChange.h"
#include "platform/Platform.h"
#include "platform/UserFiles.h"
#include "platform/audio/AudioPlayer.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"

#include <QTimer>

#include <algorithm>

namespace ql {

namespace {
constexpr int kWaitMs = FileOpen::kWaitMs;
constexpr int kKeepMs = 5000;
// How long an open runs before the status line says a file is being opened.
constexpr int kShowOpeningMs = 1000;
const char* const kOpening = "음원 여는 중…";
} // namespace

std::shared_ptr<FileOpen::Inbox> App::makeOpenInbox() {
    return std::make_shared<FileOpen::Inbox>([delivery = Delivery(this)](const QString& path) {
        delivery.post([path](App& app) {
            if (const std::shared_ptr<FileOpen> open = app.playback.opens.value(path))
                app.fileOpened(open);
        });
    });
}

std::shared_ptr<FileOpen> App::openOffMain(const QString& path) {
    PlaybackState& p = playback;
    // A running open is joined however long it runs: a disk that holds one
    // open of the file would hold another just the same.
    if (const auto known = p.opens.constFind(path);
        known != p.opens.constEnd() && (*known)->answerAge() < kKeepMs)
        return *known;
    // Opens still unanswered are never dropped from `opens`: a count of them
    // there is a count of their threads. Past the cap the file is refused,
    // and not kept: asked again once a place is free, it is opened.
    if (std::count_if(p.opens.cbegin(), p.opens.cend(),
                      [](const std::shared_ptr<FileOpen>& o) { return !o->answered(); }) >=
        FileOpen::kMostRunning) {
        qCDebug(lcPlayback, "%d opens are held by their disks: another is refused",
                FileOpen::kMostRunning);
        return FileOpen::turnAway(path);
    }
    std::shared_ptr<FileOpen> open = FileOpen::start(path, openInbox);
    p.opens.insert(path, open);
    return open;
}

std::shared_ptr<FileOpen> App::answerWithin(const QString& path) {
    const std::shared_ptr<FileOpen> open = openOffMain(path);
    if (open->answered() || open->overdue())
        return open;
    qint64 left = std::max<qint64>(kWaitMs - open->age(), 0);
    std::optional<RequestWaits>& request = playback.requestWaits;
    if (request)
        left = std::min(left, std::max<qint64>(kWaitMs - request->since.elapsed(), 0));
    if (left <= 0)
        return nullptr;
    if (request) {
        ++request->count;
        request->until = std::max(request->until, request->since.elapsed() + left);
    }
    return open->wait(int(left)) ? open : nullptr;
}

FileOpen::Answer App::takeAnswer(const std::shared_ptr<FileOpen>& open) {
    PlaybackState& p = playback;
    // An open still running (past its deadline) stays, so that asking again
    // joins it; an answered one hands its file out once.
    if (open->answered())
        p.opens.remove(open->path());
    FileOpen::Answer answer = open->take();
    if (answer.tooSlow) // its readers leave it alone too
        platform::UserFiles::tooSlow(open->path());
    if (answer.file)
        p.rateCache.insert(open->path(), answer.file->sampleRate());
    return answer;
}

void App::fileOpened(const std::shared_ptr<FileOpen>& open) {
    PlaybackState& p = playback;
    if (!open->answered())
        return;
    if (const double rate = open->rate(); rate > 0)
        p.rateCache.insert(open->path(), rate);
    if (!open->tooSlow())
        platform::UserFiles::answered(open->path());
    QTimer::singleShot(kKeepMs, this, [this] { dropStaleOpens(); });
    if (p.openWait && p.openWait->path == open->path()) {
        const OpenWait wait = *std::exchange(p.openWait, std::nullopt);
        if (wait.generation == p.generation && p.current)
            takeRoad(*p.current, wait.generation);
        return;
    }
    // The rate read may send the next track down the effects road: its
    // render made ahead starts now rather than at its turn.
    if (const std::optional<Track> next = peekNext(); next && next->path == open->path()) {
        if (rateDecides())
            lookUpRate(*next);
        prefetchFX(*next);
    }
    successorAnswered(open->path());
}

void App::dropStaleOpens() {
    for (auto it = playback.opens.begin(); it != playback.opens.end();)
        it = (*it)->answerAge() >= kKeepMs ? playback.opens.erase(it) : std::next(it);
}

std::optional<FileOpen::Answer> App::openedFor(const QString& path, quint64 generation) {
    PlaybackState& p = playback;
    const std::shared_ptr<FileOpen> open = answerWithin(path);
    if (!open) {
        qCDebug(lcPlayback, "request %llu waits for its file to open",
                static_cast<unsigned long long>(generation));
        const std::shared_ptr<FileOpen> running = p.opens.value(path);
        p.openWait = OpenWait{path, generation};
        QTimer::singleShot(std::max<qint64>(kShowOpeningMs - running->age(), 0), this,
                           [this, running, generation] {
                               const std::optional<OpenWait>& wait = playback.openWait;
                               if (!wait || wait->generation != generation ||
                                   wait->path != running->path())
                                   return;
                               status->setStringValue(L10n::tr(QString::fromUtf8(kOpening)));
                               playback.openingShown = true;
                           });
        // Its deadline ends the wait, whenever the open itself ends.
        QTimer::singleShot(running->msLeft() + 1, this, [this, running, generation] {
            PlaybackState& p = playback;
            if (p.openWait && p.openWait->generation == generation &&
                p.openWait->path == running->path() && p.generation == generation && p.current) {
                p.openWait.reset();
                takeRoad(*p.current, generation);
            }
        });
        return std::nullopt;
    }
    return takeAnswer(open);
}

void App::openWaitEnded() {
    PlaybackState& p = playback;
    p.openWait.reset();
    if (std::exchange(p.openingShown, false) &&
        status->stringValue() == L10n::tr(QString::fromUtf8(kOpening)))
        status->setUpdate(L10n::tr(catalogCountText(qsizetype(browser.filtered.size()),
                                                    qsizetype(library.rows.size()), false)));
}

std::unique_ptr<platform::AudioPlayer> App::playerOf(const Track& next, const QString& file,
                                                     bool& later) {
    later = false;
    if (!platform.outputs)
        return nullptr;
    if (file != next.path)
        return platform::AudioPlayer::openPlayable(*platform.outputs, file).player;
    const std::shared_ptr<FileOpen> open = answerWithin(file);
    later = !open;
    if (later)
        return nullptr;
    FileOpen::Answer answer = takeAnswer(open);
    return platform::AudioPlayer::openPlayable(*platform.outputs, std::move(answer.file),
                                               answer.error)
        .player;
}

bool App::rateDecides() const {
    return !playback.bitPerfect && effUpMode() > 0 && outputDeviceID() && !fxSignature();
}

void App::lookUpRate(const Track& track) {
    PlaybackState& p = playback;
    if (trackRate(track) > 0 || p.rateProbing.contains(track.path) ||
        p.rateCutShort.contains(track.path))
        return;
    // The player's own reader takes the rate from the stream's header, never
    // from the tags, which can make ffprobe take minutes.
    const std::shared_ptr<FileOpen> open = answerWithin(track.path);
    // Refused by our reader (not for its time): ffprobe is asked.
    if (open && open->answered() && open->rate() <= 0 && !open->tooSlow())
        probeRate(track.path);
}

bool App::rateAwaited(const Track& track) {
    if (!rateDecides())
        return false;
    lookUpRate(track);
    if (trackRate(track) > 0)
        return false;
    const std::shared_ptr<FileOpen> open = playback.opens.value(track.path);
    return open && !open->answered() && !open->overdue();
}

} // namespace ql
