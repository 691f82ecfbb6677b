// The synced-lyrics panel: a small window on top near the right edge of the
// screen that shows the lyrics of the track being played. Timed (LRC) lyrics
// are drawn line by line, the line being sung larger, bold and in the accent
// colour, earlier lines dimmer; the view follows playback, and a press on a
// line asks onSeek to jump to that line's time. Untimed lyrics show as plain
// text; short grey messages stand in while lyrics are looked for or when
// there are none. Messages and lyrics are never translated (they are in a
// text view); the title "가사 · <title>" is set already translated, so the
// track's own title never goes through the translation table.
//
// Where lyrics come from (load), first that answers:
//  1. the cache: "lyrics/<track id>.json" in the stores' folder, a LyricsData
//     the web service gave earlier;
//  2. the sidecar file beside the audio file (sidecarPath), strict UTF-8, a
//     regular file of at most kMaxSidecarBytes; taken as LRC text;
//  3. the web service at `serviceBase` (LyricsLookup.h), at most two requests,
//     no retry. A found answer is stored in the cache (the folder is made
//     then) and shown; nothing is stored for a failed look-up, so the next
//     load asks again. An answer that arrives after a newer load started
//     (another `generation`) is dropped unseen and unstored.
// Failures are silent: an unreadable cache or sidecar counts as absent, a
// failed cache write still shows the lyrics.
//
// The owner calls setTrack() at every track start (it loads only while the
// panel is shown), update() with the playback position while a player plays,
// and toggle() for the lyrics button; it sets onSeek.
//
// Main thread only; the web answer comes back to the main thread through a
// Delivery (app/Delivery.h), which drops it once the panel is gone or a newer
// load has begun. Writes nothing but the cache.
#pragma once

#include "app/Records.h"
#include "listening/LyricsData.h"
#include "listening/LyricsText.h"

#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QTextCharFormat;
class QWidget;

namespace ql {

class ClickableText;

class LyricsPanel final : public QObject {
public:
    // A larger sidecar file counts as absent (it would be read on the main
    // thread, and no lyrics come near it).
    static constexpr qint64 kMaxSidecarBytes = 10 * 1024 * 1024;

    // `storesDir`: the folder of the JSON stores; `serviceBase`: the web
    // service's base address.
    LyricsPanel(QString storesDir, QUrl serviceBase);
    ~LyricsPanel() override;
    LyricsPanel(const LyricsPanel&) = delete;
    LyricsPanel& operator=(const LyricsPanel&) = delete;

    // Asks playback to jump to a time in seconds (a press on a timed line).
    std::function<void(double seconds)> onSeek;

    // Shows the panel if hidden (at its place near the right edge, loading
    // the followed track when its lyrics are not the ones loaded), hides it
    // if shown.
    void toggle();
    // Follows a track start; loads its lyrics while the panel is shown.
    void setTrack(const Track& track);
    // The playback position in seconds: moves the highlight (shown panel,
    // timed lyrics only; redraws only when the line changes).
    void update(double position);
    bool visible() const;

    // The whole content becomes one grey centred message.
    void message(const QString& text);
    // Shows lyrics: timed lines when the LRC text has any, else the plain
    // text, else the no-lyrics message.
    void apply(const LyricsData& lyrics);
    // Looks for the track's lyrics in the cache, the sidecar, then the web.
    void load(const Track& track);
    // "lyrics" in the stores' folder.
    QString cacheDir() const;

    // The web look-up: calls `done` exactly once on the network thread, with
    // the lyrics found or nothing. Touches no panel state.
    static void fetch(const QUrl& serviceBase, const Track& track,
                      std::function<void(std::optional<LyricsData>)> done);

    const std::unique_ptr<QWidget> window;
    ClickableText* text = nullptr;

    std::vector<int> lineStarts; // where each drawn timed line begins
    std::vector<LyricLine> lines;
    QString plain;
    qint64 loadedID = -1;
    std::optional<Track> currentTrack;
    // The highlighted line; -1 none yet, -2 not followed since new lyrics.
    int active = -2;
    quint64 generation = 0;

private:
    void render(int activeIndex);
    void spans(int from, int to, int lit,
               const std::function<void(int, int, const QTextCharFormat&)>& run) const;
    int lineEnd(int line) const;
    void clicked(int index);
    // The web answer for the newest load, on the main thread.
    void answered(qint64 id, const std::optional<LyricsData>& lyrics);

    // The lit line of the timed lines the view shows (-1 none); none while
    // it shows something else.
    std::optional<int> m_drawnLit;
    QString m_storesDir;
    QUrl m_serviceBase;
};

} // namespace ql
