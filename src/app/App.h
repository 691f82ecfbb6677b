// The one controller of the program: all state, and the verbs the interface
// calls. Its methods are glue: they read state, call pure units, drive platform
// objects and widgets, and report on the status line.
//
// The class is split across files by subsystem; each section below names the
// file that implements it. State is grouped in plain structs, one per
// subsystem, defined in their folders.
//
// Thread: main thread only. Background work returns through queued calls.
#pragma once

#include "analysis/ScanVerdict.h"
#include "analysis/StreamFacts.h"
#include "analysis/WaveformPeaks.h"
#include "app/CoreState.h"
#include "app/FailureText.h"
#include "app/Records.h"
#include "app/Services.h"
#include "effects/FXRender.h"
#include "library/LibraryState.h"
#include "listening/ListeningState.h"
#include "playback/FileOpen.h"
#include "playback/OutputDevice.h"
#include "playback/PlaybackState.h"
#include "remote/RemoteLink.h"
#include "ui/BrowserState.h"
#include "ui/WindowViews.h"

#include <QHash>
#include <QObject>
#include <QPoint>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QAction;
class QBoxLayout;
class QCheckBox;
class QComboBox;
class QFileDialog;
class QImage;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QMainWindow;
class QMenu;
class QProcess;
class QPushButton;
class QThreadPool;
class QTimer;
class QToolButton;
class QUrl;
class QWidget;

namespace ql {

namespace platform {
class AudioPlayer;
class ChildStop;
class PluginHost;
struct Platform;
} // namespace platform

namespace remote {
class RemoteServer;
} // namespace remote

struct AlbumCell;
struct AnalysisTools;
struct BackendCommand;
struct IntakeResult;
struct PluginSlot;
struct SignalPathReport;
class AudioScanPanel;
class ClickImageView;
class FXPanel;
class FlacFetcher;
class InputMonitor;
class LevelMeter;
class LyricsPanel;
class NowPlayingWindow;
class PullDownButton;
class SeekSlider;
class SymbolButton;
class SidebarButton;
class SignalPathPanel;
class StatusLabel;
class Surface;
class TabBar;
class WaveformView;

class App final : public QObject {
    Q_OBJECT
public:
    explicit App(platform::Platform& platform, AppServices services = AppServices::system());
    ~App() override;
    // A teardown left a background queue to a job that a disk holds: the
    // process is to end without waiting for it (main.cpp).
    static bool leftJobsRunning();
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    // The outside world: the program's own, or a test's fakes.
    const AppServices services;
    platform::Platform& platform;

    // ---- app/AppLaunch.cpp ------------------------------------------------
    // The start-up sequence, run once the application object exists.
    void applicationDidFinishLaunching();
    // Files the desktop asked us to open (arguments of a normal start, or a
    // second launch handing its files over). Before launch they wait.
    void applicationOpen(const QStringList& paths);
    // A second launch without files: bring the window back.
    void applicationShouldHandleReopen();
    // Deferred start-up check: offers to install missing external programs.
    void checkMissingTools();
    // The alert of that check, for the names found missing (none: no alert).
    void offerSetup(const QStringList& missing);

    // ---- app/AppTick.cpp --------------------------------------------------
    // The 0.5 s tick: translation, the backend work queue and catalog poll,
    // seek bar and clock, Now Playing; then extrasTick().
    void tick();
    // Playback housekeeping, device polling and the saving of changed stores;
    // called by tick() only.
    void extrasTick();
    // Tells, one at a time as status-line notices, each damaged file set
    // aside, each new cause of a failed save and the save that ended a told
    // failure (AppFileNotices.cpp).
    void tellStoreFaults();
    // Sets the damaged stores and settings aside at launch and queues the
    // message naming them and their kept copies.
    void setAsideDamagedFiles();
    // Whether the user holds the seek slider: left button down with the
    // pointer on it or just beside it. A slider not on screen is never held.
    bool seekHeld() const;
    // The current player's facts, none without a player.
    std::optional<PlayerFacts> playerFacts() const;

    // ---- library/AppLibrary.cpp ---------------------------------------------
    // Takes files into the catalog and plays the first: absolute paths or
    // "file:" URLs (other entries are dropped). Each file is imported by a
    // one-shot backend run, one after another in the background; returns at
    // once. Only the newest intake's results are applied.
    void openAudioFiles(const QStringList& paths);
    // The tail of an intake, on the main thread; reached only while its
    // intake is still the newest (library.fileOpenGeneration). Each file
    // that did not open gets its line on standard error; when none opened,
    // the last one's error is the status line's failure.
    void openFinished(const IntakeResult& result);
    // The menu command "음원 열기…": the open panel for audio files; the
    // chosen files go to openAudioFiles(), a cancel does nothing.
    void chooseAudioFile();

    // ---- library/AppBackend.cpp --------------------------------------------
    // Starts the long-lived library backend and asks it for the catalog; on
    // failure says so on the status line and sends nothing for the whole run.
    // Called once, at launch, after restoreCatalog().
    void startBackend();
    // The backend's part of the shutdown: no more replies are read, its
    // standard input is closed, which it takes as the sign to save its cache
    // and exit (the teardown waits for that, for a bounded while).
    void stopBackend();
    // The teardown's end of the backend: it is waited for until its save's
    // time (kBackendSaveMs from stopBackend) is up, then its process group is
    // killed, so nothing it started outlives the program. False when a disk
    // holds it even so (the process is then left to end with the program).
    bool endBackend();
    // How the backend is run (Tools::backendCommand).
    BackendCommand backendLaunch() const;
    // Sends one request line to the backend, unless one is in flight or the
    // backend has failed (then the request is dropped, not queued).
    void request(const QString& action, std::optional<qint64> id,
                 const std::optional<QString>& path);
    // Reads the backend's standard output from `fd` on the line reader's
    // thread (see LineReader.h): every line it completes is one reply,
    // handed to the catalog worker in order (see takeCatalogUpdate()).
    void startReader(int fd);
    // One reply line (a line too long to keep only ends the request).
    void takeReplyLine(QByteArray bytes, bool tooLong);
    // Menu actions: search the folders again; complete the current track's
    // information and cover from MusicBrainz.
    void scan();
    void enrich();

    // ---- library/AppCatalog.cpp ----------------------------------------------
    // The catalog worker, made on first use. Until runCatalogInBackground()
    // (the program calls it before the launch) its jobs run at once.
    CatalogWorker& catalogWork();
    void runCatalogInBackground();
    // Applies one update of the worker: the catalog (a reply's, or the
    // cache's at launch), the current track's entry, the count text and the
    // backend's message. An update made against a catalog no longer shown
    // is dropped.
    void takeCatalogUpdate(CatalogUpdate update);
    // Called after the main thread itself changed library.rows: the worker
    // compares the next replies with them.
    void catalogReplaced();
    // The catalog's entry for the current track when it must be shown in its
    // place (see refreshedCurrent in library/CatalogChange.h).
    const Track* refreshedEntry(const Track& current) const;
    // The catalog cache "native-catalog.json" in the application-support
    // folder: read at launch (nothing happens when it is missing, damaged or
    // empty), written whole on every change (failure: a status message).
    QString catalogURL() const;
    void restoreCatalog();
    void saveCatalog();
    void catalogSaved(CatalogSave result);

    // ---- library/AppArt.cpp -------------------------------------------------
    // Shows the track's cover in the transport bar: the default cover at once,
    // then the picture embedded in the file (else the one at its https `art`
    // address), provided the track is still current when it arrives.
    void loadArt(const Track& track);

    // ---- library/AppQuality.cpp ---------------------------------------------
    // Asks for the quality label of the track's file: one probe per path
    // while it is pending, whoever asks and however often. Probes run one at
    // a time on the quality queue; each result is stored, marked for saving
    // and redrawn in its one cell, and refilters the hi-res smart list 1.2 s
    // after the last result.
    void requestQuality(const Track& track);
    // The external program a probe runs (Tools::probeTool).
    QString probeTool(const QString& name) const;

    // ---- library/AppGenres.cpp -----------------------------------------------
    // Reads the genre tag of every catalog file without one, in the
    // background, merging and saving "genres.json" 40 files at a time.
    void startGenreScan();

    // ---- library/AppAdded.cpp ------------------------------------------------
    // Reads the added date of every catalog file without one, in the
    // background, then refilters with a new order; refilters at once when
    // every file has one.
    void warmAdded();
    // The same read, without the refilter when nothing is missing: false
    // then, and nothing is started. Files whose read is under way are not
    // read again (true while one is: its end refilters).
    bool readMissingAdded();

    // ---- library/AppTools.cpp ---------------------------------------------
    // Display names of the missing external programs ("Python 3", "FFmpeg").
    // Runs a short Python child to see that mutagen imports: off the main
    // thread where it can wait. Touches no state: any thread may call it.
    static QStringList missingTools();
    // Writes the setup script into a private folder of ours (the runtime
    // folder, else a fresh 0700 one under the temporary folder; see
    // library/SetupScript.h) and opens it in a terminal; beeps when it cannot
    // be written. Never waits for the script.
    void runSetupInTerminal();

    // ---- playback/AppNowPlaying.cpp ------------------------------------------
    // Offers the media commands to the desktop (once, at launch); each one's
    // work is queued to the main thread and the desktop answered at once.
    void registerRemote();
    // Refreshes the desktop's Now Playing information from the current track
    // and player; without a current track the last information stays.
    void publish();
    // Clears the desktop's Now Playing information and reports "stopped".
    void clearNowPlaying();

    // ---- playback/AppSignalPath.cpp --------------------------------------------
    // The signal-path report of the current playback; the source reads as
    // unknown until its probe (probeSignalSource) has come.
    SignalPathReport signalPathData() const;
    // The tools panel's action: opens or closes the signal-path panel.
    void showSignalPath();
    // While the signal-path panel is shown: refreshes it with the report.
    void refreshSignalPanel();
    // Probes the source facts of `path` for the report on its reader (UserFiles);
    // they are kept and the panel refreshed when they come for the current
    // track.
    void probeSignalSource(const QString& path);

    // ---- playback/AppModes.cpp -------------------------------------------------
    // The upsampling pop-up's action: stores "upMode", renders again.
    void upChanged();
    // The mode boxes' action (and the lock's): reads every box, keeps maximum
    // quality and bit-perfect apart, stores the modes and brings the player,
    // volume, controls and render into line.
    void playbackModeToggled();
    // The effects bypass and the controls the two exclusive modes govern.
    void applyBitState();
    // The lock button's action: flips bit-perfect.
    void toggleBitFromLock();
    // The lock icon, polled every 2 s.
    void updateLockIcon();

    // ---- playback/AppRateMatch.cpp -------------------------------------------
    // The standard rates the device takes, in standard order; empty when its
    // rate ranges cannot be read or it lists none.
    std::vector<double> supportedRates(platform::DeviceId device) const;
    // Runs the output device at the rate that suits a source of `rate` Hz
    // (the source's own when the device takes it), then matches its physical
    // format at that rate. Only a successful change is reported, and only a
    // change of rate waits 150 ms for the device to settle.
    void matchDeviceRate(double rate);
    // Gives the device's first output stream its deepest integer format at
    // `rate` (see playback/RateMatch.h); called by matchDeviceRate().
    void matchPhysicalFormat(platform::DeviceId device, double rate);

    // ---- playback/AppPlayRequest.cpp -----------------------------------------
    // The one entry that starts a track: history, generation, the previous
    // player stopped, labels and per-track work, then the direct road (the
    // file, or its cached render) or a fallback road.
    void play(const Track& track);
    // The per-track resets at the start of every play request, before its
    // road; the side work (cover, labels, look ahead) follows the road.
    void beginTrackExtras(const Track& track);
    // The direct road, or a fallback road, for the request `generation`.
    void takeRoad(const Track& track, quint64 generation);
    // The same for a prepared player that takes over (gapless, crossfade):
    // a running fade is left alone; a player still prepared is let go.
    void beginFadeKeep(const Track& track);
    // Sets `player` to the playback speed: a rate stage only for a speed
    // other than 1x, so that normal speed stays bit-exact.
    void applySpeed(platform::AudioPlayer& player) const;
    // Before a player is made from `path`: matches the device rate to the
    // file when rate matching or bit-perfect is on. Always true. Opens the
    // file: only for the program's own decoded and rendered files.
    bool preMatch(const QString& path);
    // The same with the rate of a file opened off the main thread.
    void preMatchRate(double rate);
    // Routes a player to the chosen device (bindPlayer), then matches the
    // device's rate to the player's when rate matching or bit-perfect is on.
    // False (and no rate match) when the player could not be moved there.
    bool matchOutputRate(platform::AudioPlayer& player);
    // The set-up every road gives its player: it becomes `audio`, reports its
    // end here, is routed and rate-matched, gets the speed and the effective
    // volume, is prepared, and takes the pending seek.
    void setUpPlayer(std::unique_ptr<platform::AudioPlayer> player);
    // Starts `audio`; when it starts, the seek range, the play button and Now
    // Playing follow. False when output did not start (nothing else changes).
    bool startPlayer();
    // The scheduled gapless successor, taken out of `prepared` by the caller
    // (which leaves it empty, so nothing of it is let go twice), becomes the
    // current track and player (no new generation; the output device is not
    // touched), its decoded file, if any, the current `cacheURL`.
    void promotePrepared(PreparedNext next);
    // Makes the player's end reach audioPlayerDidFinishPlaying().
    void watchEnd(platform::AudioPlayer& player);
    // When a retired player's decoder thread ends: now (AudioPlayer::stop),
    // or with the player on the next loop turn (AudioPlayer::retire), so
    // that a track starting now does not wait for it. Not for a player that
    // may be handing its stages to a successor: that hand-over must settle
    // first.
    enum class DecoderEnd { Now, WithPlayer };
    // Retires a player taken out of service: it is silenced at once (nothing
    // more is heard of it nor reported by it, its device let go) and
    // destroyed on the next turn of the event loop, never inside its own
    // end-of-file call.
    void retirePlayer(std::unique_ptr<platform::AudioPlayer> player,
                      DecoderEnd decoder = DecoderEnd::Now);

    // ---- playback/AppFileOpens.cpp ------------------------------------------------
    // Where the opens tell their answers: closed first when App goes.
    std::shared_ptr<FileOpen::Inbox> makeOpenInbox();
    // The open of `path` off the main thread (one per path: a running one,
    // also past its deadline, or a recently answered one is shared), started
    // when there is none.
    std::shared_ptr<FileOpen> openOffMain(const QString& path);
    // The open of `path`, started or joined, once it has answered or is
    // overdue; none while it runs. Its first kWaitMs are waited for; a later
    // ask reads what is known.
    std::shared_ptr<FileOpen> answerWithin(const QString& path);
    // Its answer, taken: the file is handed out once.
    FileOpen::Answer takeAnswer(const std::shared_ptr<FileOpen>& open);
    // For the play request `generation`: the answer of the open of `path`
    // (answerWithin); none when it has not come, and the request then waits
    // for it (`playback.openWait`): its answer, or its deadline, takes the
    // road again.
    std::optional<FileOpen::Answer> openedFor(const QString& path, quint64 generation);
    // For a check that prepares `next` on a later tick: a player of `file`
    // (its own, or its decode made ahead), once the open of its own file has
    // answered (answerWithin; `later` while it still runs). An open too slow
    // to answer leaves no player, like a file that does not open.
    std::unique_ptr<platform::AudioPlayer> playerOf(const Track& next, const QString& file,
                                                    bool& later);
    // An open's answer on the main thread.
    void fileOpened(const std::shared_ptr<FileOpen>& open);
    // The bar's times and slider at the start of `track`, before any player
    // of it (AppPlayRequest.cpp).
    void showTrackStart(const Track& track);
    // The request's wait for its open is over (its answer, its deadline or a
    // newer request): the status line stops saying that a file is opened.
    void openWaitEnded();
    // Answered opens no one took go after a few seconds: a file kept open
    // longer might be replaced on the disk meanwhile.
    void dropStaleOpens();
    // Upsampling is chosen, with a device and without effects or
    // bit-perfect output: a track's source rate decides whether it is
    // rendered.
    bool rateDecides() const;
    // The source rate of `track`, when not known, looked up: its open is
    // started (answerWithin), or ffprobe asked once our reader refused the
    // file. Called, where the rate decides, by whoever acts on fxNeeded for
    // a track about to play.
    void lookUpRate(const Track& track);
    // lookUpRate, and whether the rate of `track`, which decides whether it
    // is rendered, is still being read: whoever prepares it waits.
    bool rateAwaited(const Track& track);

    // ---- playback/AppRoads.cpp ------------------------------------------------
    // A play request ends without playing, telling `cause` of `name`.
    void endUnplayable(Failure cause, const QString& name, const char* why);
    // The fallback roads of a play request, carrying its generation: the
    // effects render on a render job, the ffmpeg decode as a decode job.
    void startRenderRoad(const Track& track, quint64 generation);
    void startDecodeRoad(const Track& track, quint64 generation);
    // Stops the render the effects road waits for, if any: its child killed,
    // its files deleted by its job at once.
    void stopRoadRender();
    // Instead of the decode road, for a file our reader refused that ffmpeg
    // must not read either (AudioFile::Opened::keptFromFfmpeg): the track
    // ends with the message that its file cannot be read, or, refused at its
    // open for its tags alone, that it carries too many tags.
    // `readFailed`: our reader opened it, and its first read failed.
    void refuseUnreadable(const Track& track, bool readFailed = false);
    // The render's completion on the main thread: the rendered file (none:
    // the render failed). A completion whose generation is not the current
    // one only deletes its file.
    void renderFinished(const RenderResult& result, quint64 generation);
    // The status line for a render that plays: done, or its dropped stage.
    void showRenderNote(const std::optional<RenderNote>& note);
    // The decode job the decode road waits for has ended with `result`.
    void roadDecodeFinished(const DecodeOutcome& result);
    // The end of the current request's decode road: its decoded file plays,
    // or (none) the road fails, telling the work folder's fault when it was
    // that, else that the file cannot be played.
    void playDecoded(const std::optional<QString>& decoded,
                     WorkFileFault fault = WorkFileFault::None);
    // A render that made no file, not for the effects' fault (the work
    // folder took none, or ffmpeg may not read the source): the current
    // track takes the direct road without the processing (its fallback the
    // decode road), and the status line says why (`message`; `why` for the
    // log).
    void playUnprocessed(const QString& message, const char* why, quint64 generation);

    // ---- playback/AppDecodeAhead.cpp ----------------------------------------------
    // Starts a decode job of `track`'s file on the render queue (see
    // playback/DecodeAhead.h); `ahead`: for the look ahead (it reads the
    // file as our player would first, below the renders a request waits
    // for). Its result comes to decodeFinished.
    DecodeJob startDecode(const Track& track, bool ahead);
    // Stops a job: its ffmpeg killed, its output deleted now.
    void stopDecode(const DecodeJob& job);
    // A decode job's result on the main thread: the road's, the look
    // ahead's, or an overtaken one's (its file deleted).
    void decodeFinished(quint64 serial, const DecodeOutcome& result);
    // The look ahead at `path` (its decode made ahead, or its file's open)
    // has answered: when it is the successor's, the gapless check and the
    // opening ahead look at once instead of at the next tick.
    void successorAnswered(const QString& path);
    // Aims the look ahead (loudness, render, decode) at the track the end of
    // the current one will play, when that is not the one it was aimed at:
    // at every track start and every tick, so that a successor chosen later
    // (the catalog landing, shuffle, the radio, …) is prepared too.
    void aimLookAhead();
    // The decode road made ahead for `track` (the one that plays next), in
    // the background: whether our player reads its file as it is, else its
    // decoded file, kept in `playback.decodeAhead` (one entry; a look ahead
    // at another file stops and replaces it). For a track that needs the
    // effects, the entry goes (a render is made ahead instead).
    void prefetchDecode(const Track& track);
    // The file a player made before `next` is due reads: its own, or its
    // decode made ahead. None when that decode failed (the ordinary road
    // then tells why) or its file is slow (UserFiles), and, with `later`
    // set, while it still runs, while no recent check of its source by the
    // source's reader vouches for it, or when it has only now been begun (no
    // decode ahead was aimed at `next`, or the file changed since its decode).
    std::optional<QString> fileAhead(const Track& next, bool& later);
    // Checks of a decode made ahead asked since this vouch for it when a
    // player is made on it ahead (fileAhead hands out no other).
    static SteadyTime freshCheckSince();
    // Takes the decoded file of `source` out of the look ahead (the caller
    // owns it from then on), when a check of the source asked at or after
    // `checkedSince` found it as decoded. None when there is none; when the
    // source changed since it was decoded, or no such check answers within
    // the request's short wait (then it is deleted).
    std::optional<QString> takeDecoded(const QString& source, SteadyTime checkedSince);
    // Asks the source's reader whether the look ahead's decoded file still
    // stands for it; false when its reader refuses (the file is slow).
    bool askStampCheck();
    // A check's answer, on the main thread: kept with the entry it was
    // asked for.
    void stampChecked(const std::shared_ptr<StampCheck>& check);
    // A decoded file taken out and not played goes back to the look ahead
    // when it holds nothing else, else it is deleted.
    void giveBackDecoded(const QString& source, const QString& file);
    // Lets the look ahead go: its job stopped, its decoded file deleted.
    void dropDecodeAhead();

    // ---- playback/AppTransport.cpp ---------------------------------------------
    // Play/pause; with nothing loaded, plays the current or first visible track.
    void toggle();
    bool isPlaying() const;
    // skip(1).
    void next();
    // Moves `by` places in the visible list, the radio queue first when
    // `by` is positive.
    void skip(int by);
    // Rewinds after 3 s; else the previous visible track, or in shuffle mode
    // the last track of the history that is still visible.
    void previous();
    // The seek slider's action.
    void seekChanged();
    // Draws a new shuffle order (shuffle stays on).
    void toggleShuffle();
    // The end of a player's file: repeat, the gapless successor, an error
    // report or the next track. Ignored from any player but `audio`.
    void audioPlayerDidFinishPlaying(const platform::AudioPlayer& player, bool successfully);
    // Whether `player`, the current one, failed at its first read of a file
    // that the fallback road plays instead (its end hands the track over).
    bool readsOnAnotherRoad(const platform::AudioPlayer& player) const;
    // Lets the prepared next player go (playback.prepared, either kind)
    // before anything changes what plays next or where playback stands (a
    // track change, pause, seek, restart, speed, repeat, shuffle, a playback
    // mode, the effects or the output device): its player is retired (a
    // scheduled successor's decoder ends now; one opened ahead, never
    // started, leaves its decoder to its destruction so the action does not
    // wait on it), its decoded file goes back to the look ahead, and an id it
    // took from the radio queue goes back to the queue's front.
    void cancelPrepared();
    // Ends a running crossfade at once.
    void endFade();
    // Back to the start of the current track.
    void restartTrack();
    // The speed pop-up's action: stores "playRate" and applies it.
    void rateChanged();
    // The current player's length in seconds; none when no player is loaded.
    std::optional<double> audioDuration() const;
    // Moves the current player to `seconds`.
    void setAudioTime(double seconds);
    // The current player's position in seconds; none when no player is loaded.
    std::optional<double> audioCurrentTime() const;

    // ---- playback/AppPlayOrder.cpp ----------------------------------------------
    // The A-B button: set A, set B (at least 0.5 s after A), clear.
    void abCycle();
    // Each meter tick while playing: at or past B, back to A.
    void abTick();
    // The row menu's "다음에 재생": the clicked row's track to the radio
    // queue's front.
    void menuPlayNext();

    // ---- playback/AppCrossfade.cpp ----------------------------------------------
    // Run by every tick after sleepTick(): in the last 5 s of a track, starts
    // the next one silent in a second player, makes it the current track and
    // fades the old one out over what is left.
    void crossfadeCheck();
    // The crossfade makes the change of track, rather than a gapless join or
    // a player opened ahead: switched on, and neither bit-perfect playback
    // nor maximum quality nor repeat in force.
    bool crossfadeInEffect() const;
    // One 0.1 s step of the running fade that began at `start` (monotonic
    // seconds) and lasts `length` seconds; the last step ends it.
    void fadeStep(double start, double length);
    // The clock the fades and the sleep timer run on, in seconds.
    double monotonicNow() const;

    // ---- playback/AppSleep.cpp -----------------------------------------------------
    // The sleep pop-up's action: item 1…4 sets a timer of 15, 30, 60 or 90
    // minutes, item 5 turns it off; item 0 (the face) does nothing.
    void sleepChanged(int index);
    // Run by every tick after countTick(): the countdown on the face, the
    // fade over the last 30 s, and the stop.
    void sleepTick();

    // ---- playback/AppLoudness.cpp ------------------------------------------------
    // Measures the track's loudness in the background when leveling wants it:
    // once per file, never twice at once, at most two files at a time.
    void ensureLoudness(const Track& track);
    // A measurement's result for `path` (none: no usable value).
    void loudnessMeasured(const QString& path, std::optional<double> lufs);
    // Stops the measurements of every file but `current`'s and `next`'s:
    // their tracks no longer play and are no longer next.
    void stopOtherLoudness(const std::optional<QString>& current,
                           const std::optional<QString>& next);

    // ---- playback/AppExclusive.cpp ---------------------------------------------
    // Takes (true) or gives back (false) exclusive use of `device` (none: the
    // device held, else the output device), with the status message of a
    // claim made or refused.
    void setHog(bool on, std::optional<platform::DeviceId> device);

    // ---- playback/AppPlayCount.cpp ---------------------------------------------
    // One 0.5 s tick of play counting for the current player.
    void countTick();
    // The same tick on facts given by the caller: whether the player plays,
    // its length in seconds and the time (seconds since 1970). A count saves
    // "play-stats.json" at once.
    void countTick(bool playing, double duration, double now);

    // ---- playback/AppSuccession.cpp --------------------------------------------
    // The track the next-track action would play; changes nothing.
    std::optional<Track> peekNext() const;
    // Run by every tick last of the playback checks: between 4.0 and 0.6 s
    // of listening before the end, prepares the successor's player and
    // schedules it on the device clock at the playing track's end.
    void gaplessCheck();
    // Run by the tick after it: in the same window, when no gapless join or
    // crossfade will make the transition, opens the file the end of the
    // track will play (the next one, or the same one on repeat) and, when
    // the device keeps its rate for it, binds it so that its first second
    // is decoded before the request comes (playback.prepared, OpenedAhead).
    void openAhead();
    // The successor is not known yet: the visible list still holds only the
    // files opened before the backend's first catalog, and the next track
    // would be the first of them again. The end of the track then waits for
    // the catalog, and the gapless and crossfade checks look again at a
    // later tick instead of giving up on the track.
    bool successorAwaited() const;
    // After a catalog came or the backend failed: a track end that waited
    // for the list goes on to the next track once there is one to go to.
    void resumeHeldEnd();

    // ---- playback/AppOutputDevice.cpp --------------------------------------
    // Output devices, asked of the platform's hardware on every call: App
    // keeps no id or value from them here. The hardware keeps what is costly
    // to learn (the ALSA backend its card list, made again when the cards
    // change or the device menu opens, and each device's rates: kept once a
    // probe answers; after a failed one, such as a DAC another program holds,
    // not asked again for 10 s unless the cards change, the menu opens or our
    // stream opens it);
    // the list the device menu was built from is kept in
    // playback.deviceList (refreshDevicePopup). Failures give fixed values
    // and are never reported.
    // Devices with output streams and a readable UID, in system order.
    std::vector<OutputDeviceEntry> listOutputDevices() const;
    std::optional<platform::DeviceId> deviceByUID(const QString& uid) const;
    QString deviceName(platform::DeviceId id) const;
    std::optional<QString> deviceUID(platform::DeviceId id) const;
    // The chosen device (playback.outputUID) while connected, else the
    // system default output; none when neither exists.
    std::optional<platform::DeviceId> outputDeviceID() const;
    // The current format of outputDeviceID(); none without a device.
    std::optional<OutputInfo> outputDeviceInfo() const;
    static QString khzText(double rate);

    // ---- playback/AppVolume.cpp -------------------------------------------------
    // The player volume 0…1 for `track` (none: the current track): slider,
    // loudness leveling, sleep fade, bit-perfect and hardware-volume rules.
    float effVol(const std::optional<Track>& track = std::nullopt) const;
    // A download preview's volume: effVol() of a track whose loudness is not
    // measured (a clip is never leveled).
    float previewVol() const;
    // Puts previewVol() on the downloader's preview, when one plays.
    void applyPreviewVolume();
    // Puts effVol() on the current player, scaled by a running crossfade.
    void applyVolume();
    // The volume slider's action: stores "playerVolume", drives the hardware
    // volume when it is in use, applies the volume, refreshes the dB label.
    void volumeChanged();
    // Sets every settable volume element of the output device to v (0…1).
    void setDeviceVolume(double v);
    void updateVolDB();
    // True when the system default output device has no settable hardware
    // volume: only then do the volume keys move our slider.
    bool needsSoftwareVolume() const;
    // Installs the volume-key filter on the application (once).
    void registerVolumeKeys();
    // A key event seen by that filter; true when it was a volume key that we
    // handled (the event is then swallowed).
    bool handleVolumeEvent(const QKeyEvent& event);
    // One volume key (0 up, 1 down, 7 mute); true when it is one of them.
    bool applyVolumeKey(int key, bool down, bool repeatKey = false);
    // The elements whose output volume exists and can be set: [0] alone,
    // else those of [1, 2]; empty when none.
    std::vector<platform::VolumeElement> volumeElements(platform::DeviceId device) const;
    // The output device's hardware volume 0…1: the mean of its readable
    // elements; none without a device or a readable element.
    std::optional<double> deviceVolume() const;

    // ---- playback/AppOutputChoice.cpp -------------------------------------------
    // Rebuilds the device pop-up when the set of devices changed (every 10 s).
    void refreshDevicePopup();
    // The device pop-up's action: stores the chosen device ("outputUID"),
    // moves the player to it, refreshes the volume and the DAC label. When the
    // player cannot be moved there, keeps the earlier choice and says so.
    void deviceChosen();
    // Routes a player to the chosen device, or to the system default. False
    // when the player refused the move and stays where it was.
    bool bindPlayer(platform::AudioPlayer& player);
    // The upsampling in effect: 0 in bit-perfect mode, 2 in maximum quality,
    // else the chosen mode.
    int effUpMode() const;
    // Hardware volume poll (every 2 s): whether the device has one, and the
    // slider kept in step with it.
    void updateHW();
    // Rewrites the DAC label (every 2 s and at every track start).
    void refreshDACLabel();
    // A player has started: on the start-up fallback without a sound device,
    // the first start of the run says on the status line that nothing is
    // heard.
    void tellSilentOutput();

    // ---- playback/AppBarActions.cpp ----------------------------------------------
    void volDown();
    void volUp();
    void toggleRepeat();
    // Pops the output-device menu up under `sender` (nullptr: builds it only).
    void showDeviceMenu(QWidget* sender);
    // A device menu item: selects its device by UID, or the system default;
    // a device that has gone since the menu opened changes nothing.
    void devicePicked(const QAction& item);

    // ---- effects/AppEffects.cpp: render identity, render cache --------------------
    // Reaction to any change of the effects or upsampling settings: the cache
    // is dropped and the current track rendered again (or played plain) from
    // where it stood.
    void fxChanged();
    // Shows or hides the effects panel (seam: the tools panel's button calls it).
    void toggleFXPanel();
    // The effect signature; none when no effect applies.
    std::optional<QString> fxSignature() const;
    // Whether `track` (none: no track) is played through the effects road.
    // The ticks ask about the playing track every 0.5 s; it starts nothing
    // and never waits: the source rate is what trackRate knows (lookUpRate
    // looks it up).
    bool fxNeeded(const std::optional<Track>& track) const;
    // The render identity of the effects road: the signature, with the
    // upsampling mode appended while one is in effect; none in bit-perfect.
    std::optional<QString> fxChainActive() const;
    // The render cache's key of a track under a signature.
    static QString fxKey(const Track& track, const QString& signature);
    // Renders the track into the render cache in the background when it
    // needs processing and no render of it is cached or running; a render
    // ahead of another track still running is stopped (the look ahead moved
    // on from it).
    void prefetchFX(const Track& track);
    // A prefetch's result back on the main thread, with the key it rendered.
    void prefetchFinished(const QString& key, const Track& track, const RenderResult& result);
    // What a render of `track` needs, read now on the main thread.
    RenderSnapshot renderSnapshot(const Track& track) const;
    // Runs a render job on the render queue; `done` gets its result on the
    // main thread (dropped when App is gone). Prefetches run below plays.
    void queueRender(const RenderSnapshot& snapshot, bool prefetch,
                     std::function<void(const RenderResult&)> done);
    // The upsampling target for a source rate under the mode in force; none
    // without an output device.
    std::optional<double> upsampleTarget(double rate) const;
    // The source rate of a track as known: from `rateCache`, else from the
    // answer of its open (AppFileOpens.cpp), else 0 (while that runs, while
    // ffprobe is asked (probeRate), or when nothing has asked: lookUpRate
    // does). A file whose probe was cut short stays at 0, without another
    // probe, until it is played again.
    double trackRate(const Track& track) const;
    // Asks ffprobe for the rate of `path` on its reader (UserFiles).
    void probeRate(const QString& path);
    // Runs ffprobe on `path` on its reader (UserFiles), within the probes'
    // time limit; `done` gets its facts on the main thread, and whether the
    // run was cut short (its limit, no ffprobe, a file refused as slow). Nothing comes once App is
    // gone.
    void probeOffMain(const QString& path,
                      std::function<void(App&, const StreamFacts&, bool cutShort)> done);
    // Its answer on the main thread: a rate (0 for none) is kept, a cut-short
    // run remembered; for the current track the effects decision is made
    // again, and a request still waiting for its decode that now needs
    // upsampling is sent again.
    void rateProbed(const QString& path, double rate, bool cutShort);
    // Loads the plug-in host on the render queue at launch; the main thread
    // takes it, and fills the panel's list, when it is ready.
    void discoverPlugins();
    // The plug-in host (editing instances); none until discovery ends.
    std::shared_ptr<platform::PluginHost> pluginHost;
    // The running child programs (renders, probes); the quit ends them.
    std::shared_ptr<platform::ChildRegistry> children = std::make_shared<platform::ChildRegistry>();

    // ---- listening/AppListening.cpp: favourites and the radio queue ------------
    void showNowPlaying();
    // The hearts of the transport bar, the tools panel and the now-playing
    // window: the selected row's track, else the current one; without
    // either, a status message.
    void toggleFavorite();
    // The row menu's "♥ 즐겨찾기 추가/해제": the right-clicked row's track.
    void menuFavorite();
    // Adds or removes the track's heart, saves "favorites.json" whole,
    // refreshes the marks and the list, and says which it was.
    void toggleFav(const Track& track);
    // The favourite marks of the tools panel and the transport bar, for the
    // current track.
    void updateFavButton();
    // The similar-track radio's button: fills the radio queue with the 40
    // tracks most like the current one (else the first visible one) and
    // starts the first when nothing plays; a press while the queue holds
    // anything empties it instead.
    void startRadio();
    // Takes ids from the radio queue's front until one names a catalog
    // track; none when the queue runs empty. The guest DJ refills a queue
    // running low first.
    std::optional<Track> popRadio();
    // ---- listening/AppGuestDj.cpp: the guest DJ and the Sonic Adventure -------
    // The DJ pull-down's items: 1…3 turn a style on (queue and memory
    // cleared, the first picks queued from the current track), 4 turns the
    // DJ off (queue emptied, memory kept); others do nothing.
    void djChanged(int index);
    // Appends the style's picks, continuing from the last queued track (else
    // the current one), to the radio queue; remembers the last 40 picks.
    void djRefill();
    // From the current track to the selected row's: queues up to 10 tracks
    // stepping between their sounds and the goal, turns the DJ off, plays the
    // first. Refuses, with a message, without both or with too few analysed.
    void sonicAdventure();
    // The Adventure once the start's and goal's features are known.
    void buildAdventure(const Track& start, const Track& goal);
    // What the DJ and the Adventure compare of a track, and of every row.
    SoundRow soundRow(const Track& track) const;
    const std::vector<SoundRow>& soundRows();
    // The pull-down's face for the current style, translated.
    void showDjFace();

    // ---- listening/AppListenModes.cpp: smart lists and listen actions -----------
    // The smart-list pop-up's action: the chosen list, its facts asked for,
    // the list recomputed.
    void smartChanged();
    // Stores the smart list (also under "smartMode") and selects it in the
    // pop-up; does not refilter.
    void setSmart(int n);
    // The tracks of the given list that belong to the stored smart list, in
    // its order; a number outside the lists passes them unchanged.
    std::vector<Track> smartFilter(const std::vector<Track>& tracks) const;
    // The same for the filter pass, over catalog rows by index (`matched`,
    // catalog order), with listening.smartMemo keeping what the rows look up.
    std::vector<std::size_t> smartRows(const std::vector<Track>& rows,
                                       const std::vector<std::size_t>& matched);
    // Plays the visible list's first track and reports "▶ <label>: <n>곡";
    // with an empty list, says there is nothing to play.
    void startFirst(const QString& label);
    // The listening actions of the sidebar and the tool row: the whole list
    // in order or shuffled, favourites only, hi-res only, one random album.
    void listenAll();
    void listenShuffle();
    void listenFavorites();
    void listenHiRes();
    void listenRandomAlbum();

    // ---- listening/AppToolsPanel.cpp ----------------------------------------
    // The tools panel of the page: three rows of playback switches and tool
    // entries, built once by the window build (which keeps it hidden unless
    // "toolsOpen"). It also installs the effects window's change callback,
    // gives the track table its row menu and starts the meter timer.
    QWidget* buildExtras();
    // The crossfade and leveling boxes' action: both wishes follow their
    // boxes and are stored; leveling asks for the current track's loudness;
    // the volume is applied again.
    void extrasToggled();
    // The tools button's action: shows or hides the panel and stores
    // "toolsOpen"; nothing before the window is built.
    void toggleTools();
    // Run after every committed change of the effects window: active effects
    // end maximum quality and bit-perfect (stored, unticked, said once), then
    // the current track plays again through the new settings.
    void effectsEdited();

    // ---- listening/AppLyrics.cpp ---------------------------------------------
    // The lyrics button's action: the panel follows the current track (without
    // loading it yet) and is shown or hidden.
    void toggleLyrics();
    // The tools panel's "🎤 가사" button with its tooltip, calling toggleLyrics.
    QPushButton* makeLyricsButton();
    // Installs the lyrics panel's seek: a press on a line drops the prepared
    // successor, moves the player (when there is one) to the line's time and
    // republishes Now Playing; each step is skipped once App is gone.
    void installLyricsSeek();

    // ---- remote/AppRemote.cpp ------------------------------------------------
    // The remote button's action: makes the token once, starts the server when
    // none runs and shows the page's address as text and QR code, with copy,
    // close and turn-off buttons. Reports a failed start or a missing local
    // address on the status line instead.
    void showRemote();
    // What a phone is told: the current track, the player and the volume.
    QVariantMap remoteState() const;
    // Runs a phone's command ("toggle", "next", "prev", "radio", "vol",
    // "seek", "play"; anything else does nothing) and answers the state.
    QVariantMap remoteCommand(const QString& command, const QHash<QString, QString>& query);
    // The first 40 catalog rows the query matches, in catalog order.
    QVariantList remoteSearch(const QString& query);
    // The tools panel's "📱 리모컨" button, wired to showRemote().
    QPushButton* makeRemoteButton(QWidget* parent);
    // At launch: a stored token too weak to keep (isWeakToken) is replaced by
    // a new one before any server uses it, and the status line says the old
    // address no longer works; the next dialog says so again.
    void renewWeakRemoteToken();
    // The running server, none until a successful start and after turning it
    // off; the port the next server listens on (0: any free one).
    std::unique_ptr<::ql::remote::RemoteServer> remote;
    quint16 remotePort = 8766;
    // A weak token was replaced this run and no dialog has said so yet.
    bool remoteTokenReplaced = false;

    // ---- listening/AppSonic.cpp ----------------------------------------------
    // The sonic feature index `listening.sonic`: its vectors, analyses on
    // demand and the background scan of the catalog.
    // The vector of the track's entry; none when it has none or a failed one.
    std::optional<std::vector<double>> sonicVec(const Track& track) const;
    // Makes sure every track has an entry, then calls `done` on the main
    // thread: at once when none is missing, else after the missing ones were
    // analysed off the main thread, merged and saved. A quit drops `done`.
    void withSonic(const std::vector<Track>& tracks, std::function<void()> done);
    // Starts the background scan of every file without an entry (the current
    // track first), unless one runs; turns "sonicOn" on.
    void startSonicScan();
    // The delayed start of the tools panel's build: when "sonicOn" is set now,
    // one scan 20 s later (Clock::sonicScanDelayMs) while App lives.
    void scheduleSonicScan();

    // ---- downloader/AppDownloader.cpp ---------------------------------------
    // Whether the download script "flac_fetch.py" is in the downloader's
    // resources folder (asked on each call).
    bool hasFetcher() const;
    // Shows the downloader window; starts a chart run of the top 10.
    void showFetch();
    void runMelon();
    // Hands the selected track (else the current one) to the downloader in
    // single-track mode when its quality label marks it lossy; otherwise
    // says why on the status line.
    void upgradeFlac();
    // The row menu's item: the clicked row becomes the only selection, then
    // upgradeFlac(); nothing outside the rows.
    void menuUpgrade();
    // The tools panel's "⬆ FLAC로 받기" button (placed by the panel only when
    // hasFetcher() at its build), and the row menu's item of the same name,
    // added only when hasFetcher(); made already translated (the pass does
    // not visit context menus).
    QPushButton* makeUpgradeButton(QWidget* parent);
    void addUpgradeItem(QMenu* rowMenu);
    // The downloader's preview player for an address: an ffmpeg decoder of
    // the stream on the chosen output device; none when either fails.
    std::unique_ptr<platform::AudioPlayer> makePreviewPlayer(const QUrl& address);

    // ---- app/AppWorkFolder.cpp ------------------------------------------------
    // The folder where decodes and renders write (see app/WorkFolder.h),
    // opened on first use and made again when it was removed; empty when no
    // private folder can be made anywhere (then nothing is written at all).
    QString workDir() const;
    // The folder a user can look at in a message about the work folder: the
    // base of this run's folder, else the first base looked for.
    QString workBase() const;

    // ---- app/AppShutdown.cpp --------------------------------------------------
    // The quit: temporary files, exclusive use, stores, helpers and child
    // processes, late results, Now Playing, in that order; runs once
    // (connected to the application's aboutToQuit at launch).
    void applicationWillTerminate();

    // ---- app/AppSettings.cpp ------------------------------------------------------
    // Once, before the first window: settings, stores, the one-time effects
    // reset, callback wiring, the smart-list pop-up.
    void loadExtras();
    // Once, at quit: writes the stores the run keeps in memory.
    void saveExtras();
    // A seek from a waveform view, as a fraction of the track: only while a
    // player with a positive length is loaded.
    void waveformSeek(double fraction);

    // ---- ui/AppWindow.cpp --------------------------------------------------
    // The window's content, built once at launch before the window shows:
    // window base, transport bar, top bar, sidebar, page; then it brings the
    // fresh window into step with the restored state.
    void buildMainUI();

    // ---- ui/AppNowPlayingLabels.cpp -------------------------------------------
    // While the now-playing window is on screen, copies the transport bar's
    // now-playing state into it; nothing while it is hidden.
    void updateNowPlaying();
    // The elapsed and remaining time labels, from the current player.
    void refreshTimes();

    // ---- ui/AppMenuBar.cpp ------------------------------------------------
    // The menu bar, built once by the launch before the window's content.
    void buildMenu();

    // ---- ui/AppLanguage.cpp -------------------------------------------------
    // A language item of the gear menu: tag 0 English, any other Korean.
    // Stores a language other than the running one and offers a restart.
    void setLanguage(int tag);

    // ---- ui/AppInput.cpp ----------------------------------------------------
    // The launch's last two steps: the main window's navigation input (scroll
    // gestures, side buttons, swipes) and its transport keys.
    void installPointerMonitor();
    void installKeyMonitor();
    // One step back or forward in the browser's history; nothing at its end
    // (ui/AppNavigation.cpp).
    void navBack();
    void navForward();

    // ---- ui/AppInfoLabels.cpp -----------------------------------------------
    // The transport bar's artist line at once, and its format line once the
    // background probe of the track's file has answered.
    void updateInfoLabels(const Track& track);

    // ---- analysis/AppWaveform.cpp --------------------------------------------
    // Shows the track's waveform in the transport bar's waveform view: the
    // cached peaks at once, else the flat line at once and the peaks computed
    // in the background, shown if the track is still current then.
    void loadWaveform(const Track& track);
    // A finished computation for `path`, on the main thread.
    void waveformComputed(const QString& path, const WavePeaks& peaks);
    // Stops the computation under way, if any (its track no longer plays).
    void stopWaveform();
    // Computed peaks per file, for this run only (see storeWaveform()).
    QHash<QString, WavePeaks> waveCache;
    // The file whose peaks are being computed, and the stop of that run.
    std::optional<std::pair<QString, std::shared_ptr<platform::ChildStop>>> waveRun;

    // ---- analysis/AppMeter.cpp ------------------------------------------------
    // The 50 ms tick: while a player plays, the level meter from its metering,
    // then the lyrics highlight, the A-B loop, the time labels and both
    // waveforms' progress, in that order; otherwise the meter only falls.
    void meterTick();
    // Starts the repeating meter timer, once (the tools panel's build).
    void startMeterTimer();
    // Starts the meter timer again when playback starts (it sleeps at rest).
    void wakeMeter();

    // ---- analysis/AppAudioScan.cpp ------------------------------------------
    // The quality analysis of the selected row's track, else of the playing
    // one, in the analysis window; without either, a status message.
    void showAudioScan();
    // The programs and the child registry the file analyses run with.
    AnalysisTools analysisTools() const;
    // Stops the analysis the window shows, when a newer one replaces it.
    std::shared_ptr<platform::ChildStop> scanStop;

    // ---- ui/AppWindowParts.cpp ---------------------------------------------
    // Building blocks of the main window.
    // A capsule of the pill colour holding the views in a row (centred
    // vertically, `pad` inside at the left and right), `height` high; its
    // width follows its content.
    static Surface* pill(const QList<QWidget*>& views, double spacing = 12, double height = 34,
                         double pad = 14);
    // A sidebar entry: set up with the symbol and the (Korean) label, the tag,
    // 36 high; a click runs sidebarClicked(tag). Appended to
    // views.sidebarButtons.
    SidebarButton* sideButton(const QString& icon, const QString& label, int tag);
    // A sidebar section heading: the text as given, 11 pt semibold, dim.
    static QLabel* section(const QString& text);
    // One settings-menu action item (nothing without a menu).
    static void addMenuItem(QMenu* menu, const QString& title, std::function<void()> action);
    // The library items of the settings menu, after its language part; the two
    // download items only when the downloader script is present.
    void addSettingsItems(QMenu* menu, bool withFetcher);
    // A control's action: runs the verb while the controller is alive.
    std::function<void()> weakCall(void (App::*action)());
    // An empty view that takes the free room of a row; no size of its own.
    static QWidget* spacer();
    // A push button with the title as given (not translated) and the action.
    static QPushButton* button(const QString& title, std::function<void()> action);
    // Adds the views to a container, or to a stack, in list order.
    static void addSubviews(QWidget* container, const QList<QWidget*>& views);
    static void addArranged(QBoxLayout* stack, const QList<QWidget*>& views);

    // ---- ui/AppTranslate.cpp -----------------------------------------------
    // The interface translation pass (English mode only): every window and the
    // menu bar, then one view tree or one menu. The tick runs translateUI()
    // once a second.
    void translateUI();
    void translateView(QWidget* view);
    void translateMenu(QMenu* menu);

    // ---- ui/AppBrowser.cpp --------------------------------------------------
    // The catalog filter: the only writer of browser.filtered. resetOrder asks
    // for a new shuffle order (actions of the user); false keeps the order
    // (background updates, whose count waits while a failure keeps the status
    // line). Saves the view state, refreshes the views and the status line.
    void filter(bool resetOrder = false);
    // Writes "librarySearch" (the field's text as typed) and
    // "visibleTrackOrder" to the settings.
    void saveViewState();
    bool cellFilterMatches(const Track& track) const;
    // The track's genre, "" while unknown.
    QString genreOf(const Track& track) const;
    // Sets a one-column filter, empties the search field and refilters.
    void applyCellFilter(const QString& key, const QString& value);
    static QString normalizedSearch(const QString& text);
    static bool trackMatches(const Track& track, const QString& query);
    // The search field was edited by the user: ends the cell filter, refilters.
    void controlTextDidChange();
    // Brings the window forward and selects the search field's text.
    void focusSearch();
    bool albumMode() const { return browser.albumMode(); }

    // ---- ui/AppFolders.cpp --------------------------------------------------
    // Refills the folder pop-up from the catalog and, with forgetMissing, forgets
    // a chosen folder that holds no tracks any more (not while a scan may still
    // find them). Does not refilter.
    void rebuildFolders(bool forgetMissing = true);
    // The same with the folders already listed (by the catalog worker).
    void showFolders(const std::vector<FolderEntry>& folders, bool forgetMissing);
    // The folder pop-up's action.
    void folderChanged();

    // ---- ui/AppBrowserViews.cpp ---------------------------------------------
    // browser.albums made afresh from the visible tracks, for the view kind
    // and the sort mode; reloads nothing.
    void rebuildAlbums();
    // rebuildAlbums() and the grid reloaded, for a filter pass; a large list
    // is grouped away from the main thread (see AppBrowserViews.cpp).
    void refreshAlbums();
    // The pool grouping of the state as it is now (browser.pool), and its
    // end on the main thread.
    void startPoolGrouping();
    void poolGroupingDone(quint64 pass, int viewKind, std::vector<AlbumItem> albums);
    // The count label from every tile the grid holds (scrolled into view or
    // not) in a grid, from the visible tracks in the track list.
    void showCount();
    // Shows the page header for a smart list or a cell filter (title,
    // subtitle, cover) and always refreshes the count label.
    void updateHeader();

    // ---- ui/AppViewModes.cpp ---------------------------------------------------
    // The view tabs' action (also run by the tab entries of the sidebar).
    void viewModeChanged();
    // A sidebar entry, by its tag: a tab, a smart list or a listening action.
    void sidebarClicked(int tag);
    // The view tabs, the highlighted sidebar entry and the tools button's
    // title brought into step with the current view.
    void syncTabs();
    // Shows the table or the grid for browser.viewKind, then tabs, header
    // and, in a grid, the tiles.
    void applyViewMode();
    // No folder, search, cell filter or smart list; neither refilters nor
    // records history.
    void resetFilters();
    // The track list, without a history entry.
    void showListView();
    // What the view on screen reads in the background when its tab is
    // chosen, read for a catalog that arrives under it: the genre grid's
    // genre scan, the date lists' and the date order's dates added, the
    // hi-res list's quality labels.
    void warmShownView();

    // ---- ui/AppNavigation.cpp -----------------------------------------------
    // The live browser as a history entry.
    NavState currentNav() const;
    // Records the current view as a history entry; refreshes the arrows.
    void pushNav();
    // Restores an entry (records nothing), refiltering once.
    void applyNav(const NavState& entry);
    // White arrows where a step is possible, dim ones at the ends.
    void updateNavButtons();

    // ---- ui/AppAlbumGrid.cpp ----------------------------------------------------
    // Builds the tile grid and the letter bar in `host` over the table's place
    // and shows the one that suits the view (applyViewMode).
    void setupAlbumView(QWidget* host, QWidget* tableScroll);
    // The grid shows browser.albums afresh: every tile is configured again
    // as it comes into view.
    void reloadAlbumGrid();
    // The tile size from browser.gridSize (cover gridSize, tile gridSize + 42);
    // nothing before the grid exists.
    void applyGridSize();
    // The tile-size slider's action: gridSize = its value rounded, halves
    // away from zero.
    void gridChanged();
    // The sort pop-up's action: the mode is the chosen item; "최근 추가"
    // reads the missing dates (which refilters); in a grid the others
    // regroup and reload at once, in the track list they are only stored.
    void sortChanged();
    // A letter of the letter bar: in a grid with tiles, the first tile whose
    // jump key qualifies (ui/GridRules.h) scrolls to the top.
    void letterTapped(const QString& letter);
    // One tile's cell, configured when it comes into view: texts, the default
    // cover, the badge, a quality probe for an unlabelled album tile, and its
    // cover asked for while the ticket is wanted (the tile stays in view),
    // which lands only while the row still shows the tile.
    AlbumCell albumCell(int index, const CoverTicket& ticket);
    // A click on tile `index` of browser.albums: the list filtered to it,
    // shown as a history step, its own first track played, and a status line.
    // Nothing for an index outside the tiles.
    void tileClicked(int index);
    // A quality label arrived: the "HD" badge of the album tile whose first
    // track it belongs to follows it.
    void tileQualityChanged(const QString& path);

    // ---- ui/AppTrackTable.cpp -----------------------------------------------
    // The rows changed: the table shows browser.filtered afresh.
    void reloadTable();
    // Selects the row alone, without scrolling; out of range clears.
    void selectTableRow(int row);
    void scrollTableToTop();
    // Seconds as m:ss, truncated; negative, NaN and infinite give "0:00".
    static QString time(double seconds);
    // One cell's text, by column identifier.
    QString cellText(const Track& track, const QString& identifier);
    // The quality column's text: the stored label, else "…" after asking for
    // one.
    QString qualityText(const Track& track);
    // A row's thumbnail: the album's cover when known, else the default
    // cover; asks for the cover once per album until the next reload.
    QImage titleThumbnail(const Track& track);
    // Lets go of the title cells' cover requests that no row on screen shows
    // (after a scroll; all of them while the table is hidden).
    void keepShownTitleCovers();
    // The track of the table's clicked row; none outside the rows.
    std::optional<Track> rowTrack() const;
    // The selected row's track, else the current one; none without either.
    std::optional<Track> selectedOrCurrent() const;
    // A double-click on a row (the table's clicked cell): filters by its
    // album or artist, else plays the row.
    void selected();
    // A double-click on a column title: filters by the selected row's value
    // (else the current track's) in that column.
    void headerDoubleClicked(int column);
    // A label or cover arrived: repaints the cells on screen that show it.
    void qualityChanged(const QString& path);
    void coverChanged(const QString& albumKey);

    // ---- ui/AppCovers.cpp ----------------------------------------------------
    // normalizedSearch(album) + "|" + normalizedSearch(artist).
    static QString albumKey(const Track& track);
    // The album's cover, from the memory cache, the covers folder or the
    // picture embedded in its first track. `done` is called once on the main
    // thread with it (a null image when there is none): before the call
    // returns when the cover is cached, later otherwise; never when the
    // ticket is no longer wanted as the request's turn comes on the cover
    // queue (ui/CoverTicket.h): nothing is read or extracted then.
    void albumCover(const AlbumItem& item, std::function<void(const QImage&)> done,
                    const CoverTicket& ticket = {});
    // Any tile's cover: an album's as albumCover, an artist's or a genre's the
    // mosaic of its first four albums. Same calling rules.
    void groupCover(const AlbumItem& item, std::function<void(const QImage&)> done,
                    const CoverTicket& ticket = {});
    // "covers" in the data folder.
    QString coverFolder() const;
    // "Quavelark.png" of the resources folder; null when it is missing.
    static QImage defaultCover();

    // ---- state --------------------------------------------------------------
    CoreState core;
    PlaybackState playback;
    LibraryState library;
    ListeningState listening;
    BrowserState browser;
    WindowViews views;

    // Windows and panels, made once at construction, alive for the whole run.
    std::unique_ptr<QMainWindow> window;
    QTimer* timer = nullptr;
    // The main window's navigation and transport input (ui/AppInput.cpp),
    // watched from the end of the launch; a child of App.
    InputMonitor* inputMonitor = nullptr;
    StatusLabel* status = nullptr;
    // Controls made with the controller, placed by the window build. Until a
    // window takes them they belong to App.
    SeekSlider* seek = nullptr;       // the seek bar, 0 … 1 until a track plays
    QLabel* clock = nullptr;          // "0:00 / 0:00"
    ClickImageView* art = nullptr;    // the cover in the transport bar
    WaveformView* wave = nullptr;     // the transport bar's waveform
    LevelMeter* meter = nullptr;      // the level meter of the tools panel
    QTimer* meterTimer = nullptr;     // runs meterTick() every 50 ms once started
    QComboBox* smartPicker = nullptr; // the smart-list pop-up
    // The tools panel's heart, "♥ 즐겨찾기" or "♡ 즐겨찾기" for the current
    // track; the panel places it and connects it to toggleFavorite().
    QPushButton* favButton = nullptr;
    // The search field (text from "librarySearch") and the folder pop-up
    // ("모든 폴더" until the folder list is first built).
    QLineEdit* search = nullptr;
    QComboBox* folderPicker = nullptr;
    // Output controls (playback/AppOutputChoice.cpp): the volume slider's dB
    // label (the slider is views.volume), the DAC label, the repeat button,
    // and the device pop-up, which is never placed: it is the model the device
    // menu selects through. deviceMenu is the last device menu built.
    QLabel* volDB = nullptr;
    QLabel* dacLabel = nullptr;
    SymbolButton* repeatBtn = nullptr;
    QComboBox* devicePopup = nullptr;
    std::unique_ptr<QMenu> deviceMenu;
    // Playback controls of the tools panel (playback/AppTransport.cpp), made
    // empty with App; the tools panel gives them their items and titles.
    QComboBox* ratePopup = nullptr; // the speed list, index 3 = 1x
    // The playback mode boxes (playback/AppModes.cpp), checked from the
    // settings at launch, and the upsampling pop-up (index = mode 0…2).
    QCheckBox* maxBox = nullptr;
    QCheckBox* bitBox = nullptr;
    QCheckBox* gaplessBox = nullptr;
    QCheckBox* rateBox = nullptr;
    QCheckBox* crossfadeBox = nullptr;
    QCheckBox* levelingBox = nullptr;
    QComboBox* upPopup = nullptr;
    QPushButton* abButton = nullptr; // the A-B loop, "A-B 반복" while idle
    // The sleep timer; its text is the face the countdown rewrites.
    QToolButton* sleepPopup = nullptr;
    // The guest DJ's pull-down; its face shows the style (items 1…4 act).
    PullDownButton* djPopup = nullptr;
    std::unique_ptr<FlacFetcher> fetcher;
    std::unique_ptr<LyricsPanel> lyricsPanel;
    std::unique_ptr<NowPlayingWindow> nowPlaying;
    std::unique_ptr<TabBar> viewModeControl;
    std::unique_ptr<AudioScanPanel> scanPanel;
    std::unique_ptr<SignalPathPanel> signalPathPanel;
    std::unique_ptr<FXPanel> fxPanel;

    // Serial work queues, one thread each.
    std::unique_ptr<QThreadPool> qualityQueue;
    std::unique_ptr<QThreadPool> sonicQueue;
    std::unique_ptr<QThreadPool> genreQueue;
    std::unique_ptr<QThreadPool> coverQueue;
    // Effects renders of the render road (several may run at once).
    std::unique_ptr<QThreadPool> renderQueue;
    // Loudness measurements, two at a time in arrival order.
    std::unique_ptr<QThreadPool> loudQueue;
    // Work the user asked for over several files (sonic features of a
    // list), each file read through UserFiles: never Qt's shared pool.
    std::unique_ptr<QThreadPool> askQueue;
    // Files handed to the program (a second start, File → Open): their own,
    // behind no reader of other files.
    std::unique_ptr<QThreadPool> intakeQueue;
    // Where the opens of audio files for the main thread tell their answers
    // (playback/FileOpen.h); each open runs on a thread of its own.
    std::shared_ptr<FileOpen::Inbox> openInbox;

private:
    void step(const char* name, const QStringList& files = {});
    // app/AppLaunch.cpp: a modal alert with two buttons (Desktop::alert);
    // 0 when the first was chosen, else 1.
    int askAlert(const QString& text, const QString& info, const QStringList& buttons,
                 bool warning = false);
    // remote/AppRemote.cpp: the remote dialog for the address
    // (Desktop::alert); the index of the chosen button, -1 for none.
    int askRemote(const QString& address);
    // listening/AppSonic.cpp: the sonic analyses' share of a quit: no result
    // is taken any more; waits at most `waitMs` for the jobs still running
    // (their child programs were ended before).
    void endSonicJobs(int waitMs = 1000);
    // The analysis a sonic job runs (Analysers::analyzeSonic).
    std::function<std::optional<Sonic>(const QString&)> sonicAnalyser() const;
    // Merges a batch of results into the index; `passing`: files whose
    // analysis gave nothing this time, marked failed for the run only.
    void mergeSonic(const QHash<QString, Sonic>& batch, const QSet<QString>& passing = {});
    // Writes "sonic.json" whole, without the run-only failures.
    void saveSonic();
    // app/AppShutdown.cpp: stops the decode jobs still running, then
    // deletes the outputs still in flight; returns how many there were.
    int endDecodes();
    // ui/AppBrowser.cpp: the search field and folder pop-up, and the view
    // state stored by the last run.
    void makeBrowserControls();
    // playback/AppOutputChoice.cpp: the volume and output controls.
    void makeOutputControls();
    // playback/AppTransport.cpp: the speed pop-up, the mode boxes, the A-B
    // button and the seek slider's action.
    void makePlaybackControls();
    // ui/AppWindow.cpp: the window's fixed controls, and the stretches of the
    // window build.
    void makeWindowViews();
    void buildWindowBase();
    void buildTopBar();
    void buildSidebar();
    void buildPage();
    // The calls that end the window build, each traced by its name.
    void finishWindowBuild();
    // library/AppBackend.cpp: the backend did not start; a write to it
    // failed; the backend process ended by itself.
    void backendStartFailed(const QString& description);
    void backendWriteFailed();
    void backendEnded();
    // What each of the three leaves: no request is sent any more, and no
    // catalog is waited for.
    void backendFailed();
    // The process has exited, or its output has ended: the backend counts
    // as ended once both have happened (its last replies read first).
    void backendFinished();
    void backendOutputEnded();
    // library/AppCatalog.cpp: a message of the backend on the status line.
    void showBackendMessage(const QString& message);
    // ui/AppTransportBar.cpp: the bar's controls (with the window's fixed
    // controls), and its stretch of the window build.
    void makeTransportControls();
    void buildTransportBar();
};

} // namespace ql
