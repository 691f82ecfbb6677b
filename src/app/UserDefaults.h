// The program's settings: plain keys in one INI file (QSettings, organisation
// and application "Quavelark": ~/.config/Quavelark/Quavelark.ini).
//
// One settings object serves the whole run: every UserDefaults made without
// a file name is a handle on it, so a read sees every earlier write at once;
// the file is read at the first use, and again at a write only when another
// program changed it meanwhile (this run's own changes win). Writes are coalesced: the file is
// written once, kWriteDelayMs after the last change of a burst (a slider drag, a run of search
// keystrokes), on a pool thread started by a timer of the main thread's event loop; sync() writes
// at once (the quit calls it). Each write replaces the file whole through the checked path of
// JSONStore (mode 0600: it holds the remote token; the folder 0700 when it is made), its text
// made in a scratch file beside it (no other folder needs room; what a killed
// write leaves there is removed at the next launch), so a crash
// loses at most the last second of changes, and a full disk loses nothing: a
// failed write keeps the changes pending for the next one, and the failure
// is kept for JSONStore::takeOutcomes(). The text is QSettings' INI format,
// so the file reads as before. A file that does not read is set aside as
// damaged before the first write over it.
//
// A handle on another INI file (tests, tools) has its own QSettings object,
// which QSettings writes at the next turn of the event loop or when it goes.
//
// A key is present when the file holds any value under it. Every typed read
// checks its conversion: the INI file keeps text, so "true", "1" or "yes"
// read as a boolean, "2" or "2.0" as an integer, and so on; a value that does
// not convert (or a non-finite number) reads as absent, so the setting takes
// its default instead of a made-up value.
//
//   xIfPresent(key): the value, or nothing when absent or not convertible;
//   boolean/integer/real(key): the same with false, 0, 0.0 in place of nothing.
//
// The conversions are public (toBool, toInteger, toDouble, toText) so their
// rules can be checked on their own. Main thread only: the run's object is
// made by the first handle, on the main thread.
#pragma once

#include <QAnyStringView>
#include <QByteArray>
#include <QMap>
#include <QString>
#include <QVariant>

#include <functional>
#include <memory>
#include <optional>

class QSettings;

namespace ql {

// Settings keys, spelled as stored.
namespace keys {
inline constexpr const char* kFxResetV1 = "fxResetV1";
inline constexpr const char* kMaxQuality = "maxQuality";
inline constexpr const char* kUpMode = "upMode";
inline constexpr const char* kRateMatch = "rateMatch";
inline constexpr const char* kOutputUID = "outputUID";
inline constexpr const char* kGapless = "gapless";
inline constexpr const char* kBitPerfect = "bitPerfect";
inline constexpr const char* kHogMode = "hogMode";
inline constexpr const char* kCrossfade = "crossfade";
inline constexpr const char* kLeveling = "leveling";
inline constexpr const char* kViewKind = "viewKind";
// Set once a genre scan has read again the Ogg files an older reader stored
// without a genre (library/GenreRecheck.h).
inline constexpr const char* kGenreStreamTags = "genreStreamTags";
inline constexpr const char* kSmartMode = "smartMode";
inline constexpr const char* kSonicOn = "sonicOn";
inline constexpr const char* kPlayRate = "playRate";
inline constexpr const char* kShuffle = "shuffle";
inline constexpr const char* kVisibleTrackOrder = "visibleTrackOrder";
inline constexpr const char* kSelectedFolder = "selectedFolder";
inline constexpr const char* kPlayerVolume = "playerVolume";
inline constexpr const char* kLibrarySearch = "librarySearch";
inline constexpr const char* kToolsOpen = "toolsOpen";
inline constexpr const char* kLang = "lang";
inline constexpr const char* kRemoteToken = "remoteToken";
inline constexpr const char* kFlacBrowser = "flacBrowser";
inline constexpr const char* kFlacCount = "flacCount";
inline constexpr const char* kFlacAllCount = "flacAllCount";
// The SHA-256 (hex) of the Downloads flac.py the user last agreed to run.
inline constexpr const char* kFlacScriptApproved = "flacScriptApproved";
// The synced-lyrics service's base address (absent: the public service).
inline constexpr const char* kLyricsBaseURL = "lyricsBaseURL";
// The preview search service's base address (absent: the public iTunes endpoint).
inline constexpr const char* kItunesBaseURL = "itunesBaseURL";
} // namespace keys

class UserDefaults {
public:
    // How long after the last change of a burst the run's file is written.
    static constexpr int kWriteDelayMs = 1000;

    // The program's own settings: the run's one object.
    UserDefaults();
    // Another INI file (the validation suite, tests).
    explicit UserDefaults(const QString& iniFile);
    ~UserDefaults();
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    bool contains(QAnyStringView key) const;

    std::optional<bool> boolIfPresent(QAnyStringView key) const;
    std::optional<qint64> integerIfPresent(QAnyStringView key) const;
    std::optional<int> intIfPresent(QAnyStringView key) const; // outside int: not convertible
    std::optional<double> realIfPresent(QAnyStringView key) const;
    std::optional<QString> string(QAnyStringView key) const;
    // The stored value as QSettings gives it (lists: see StoredOrder.h).
    QVariant value(QAnyStringView key) const;

    bool boolean(QAnyStringView key) const { return boolIfPresent(key).value_or(false); }
    qint64 integer(QAnyStringView key) const { return integerIfPresent(key).value_or(0); }
    double real(QAnyStringView key) const { return realIfPresent(key).value_or(0.0); }

    void set(QAnyStringView key, const QVariant& value);
    // Like set(), with the value made only when it is read or written to the
    // file: a large value that changes on every keystroke (the shuffle order)
    // is then converted once per write, not once per change. On another
    // file's handle the value is made at once.
    void setLater(QAnyStringView key, std::function<QVariant()> make);
    void remove(QAnyStringView key);
    // Removes every key (a fresh start: tests, the validation suite).
    void clear();
    // Writes pending changes to the file now, after taking in a file another
    // program changed meanwhile; whether the file holds them.
    bool sync();
    QString fileName() const;

    // How many times the run's settings file was written (benchmarks, tests).
    static quint64 fileWrites();
    // Seam: stands in for the run's file write, which is still counted (tests
    // of how often large values are written; empty: QSettings writes).
    static void standInForWrites(std::function<void()> write);

    static std::optional<bool> toBool(const QVariant& v);
    static std::optional<qint64> toInteger(const QVariant& v);
    static std::optional<double> toDouble(const QVariant& v);
    static std::optional<QString> toText(const QVariant& v);

private:
    void changed(const std::optional<QString>& key);
    // Makes a value set with setLater() before `key` is read.
    void resolve(QAnyStringView key) const;

    std::unique_ptr<QSettings> m_own; // a handle on another file
};

// The INI text of `values` as QSettings writes it, checked to read back as
// the same values; nothing (and a description in `error`) when it cannot be
// made whole. QSettings makes the text in a scratch file in `scratchFolder`
// (removed again): the folder of the file it is for, so a save needs no room
// anywhere else (a full /tmp never stops it).
std::optional<QByteArray> settingsText(const QMap<QString, QVariant>& values,
                                       const QString& scratchFolder, QString* error = nullptr);

// Removes what settings writes killed midway left in `folder`: their scratch
// files (".Quavelark-settings-*", a copy of the settings with the remote
// token) and QSettings' locks and copies beside them. Never a file a live
// write still needs: with a write under way in any process it removes
// nothing. How many files it removed. At launch.
int clearSettingsScratch(const QString& folder);

} // namespace ql
