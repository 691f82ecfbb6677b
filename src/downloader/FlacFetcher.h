// The FLAC downloader: its window, and the external download script it runs.
//
// One FlacFetcher lives as long as the application. Its window is made hidden
// at start-up and only hidden on close, so the form, the log and a running
// download survive; show() brings it back.
//
// A run starts the script (the user's own "flac.py" in Downloads when it is a
// safe file, else the shipped "flac_fetch.py") as a child process in a process
// group of its own. The user's own script runs only after the user agreed to
// it, asked with its path and first lines before its first run and again
// whenever its contents change (the agreed content is kept by its SHA-256). It
// is opened once and checked through that descriptor; its bytes (1 MiB at
// most: a larger or growing file is refused) are read once into a sealed
// in-memory copy, which is hashed, shown and run
// ("/proc/self/fd/N"), so neither a file put in its place nor the file
// rewritten in place after the yes is ever the one run; Python's safe path (-P)
// keeps whatever else lies in Downloads out of its imports. The process group
// lets Stop and quit reach the script's children too. Its output is read on the
// main thread as it arrives and read by the protocol of FetchProtocol.h: every
// saved file goes to onSaved, the end of the run to onFinished with the count.
//
// The preview ("▶ 30초 미리듣기", FetchPreview.cpp) looks the form's words up
// in the iTunes Search service (PreviewSearch.h) and plays the candidates'
// clips one per press through a player that makePreviewPlayer makes for an
// address (the application binds it to the chosen output device and sets
// its volume). Answers are applied in the order they arrive, each replacing
// the candidates; one that arrives after the window closed plays nothing.
// The preview pauses when a download starts and when the window closes, and
// as nothing resumes it, its player and decoder end there too.
//
// Folders and the accessibility answer are injectable for tests. Main thread.
#pragma once

#include "downloader/FetchProtocol.h"
#include "downloader/PreviewSearch.h"

#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QButtonGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QWidget;

namespace ql {

namespace platform {
class AudioPlayer;
}

class ScriptFile; // the user's own script, held open (ScriptFile.h)

struct FetchFolders {
    QString resources; // the shipped script and the "bin" folder put first on PATH
    QString home;      // the user's home ("Downloads" inside it)

    static FetchFolders standard();
};

// Adds lines to the bounded log and its view, and shows the log's end. The
// lines of one read go in together: the view lays out and scrolls once.
void appendToLog(FetchLog& log, QPlainTextEdit* view, const QStringList& lines);

class FlacFetcher final : public QObject {
    Q_OBJECT
public:
    explicit FlacFetcher(FetchFolders folders = FetchFolders::standard());
    ~FlacFetcher() override;

    std::function<void()> onPreviewStart;        // a preview began playing
    std::function<void(const QString&)> onSaved; // the script saved this file
    std::function<void(int)> onFinished;         // a run ended (count of files)
    // Whether the program may drive other programs (asked for "firefox").
    // Linux asks no such permission: trusted.
    std::function<bool()> accessibilityTrusted = [] { return true; };
    // Asks whether to run the user's own script (its path and first lines);
    // unset, a warning dialog over the window asks.
    std::function<bool(const QString& path, const QString& firstLines)> confirmScript;
    // The interpreter; none means "/usr/bin/python3".
    std::function<std::optional<QString>()> findPython;
    // A player for a preview address, on the chosen output device; none
    // when it cannot be made (the preview then stays silent).
    std::function<std::unique_ptr<platform::AudioPlayer>(const QUrl&)> makePreviewPlayer;

    // Whether the shipped script is in the resources folder.
    static bool hasScript(const QString& resources);

    void show();
    void runMelon(int count);
    void prefillSong(const QString& artist, const QString& title);
    void windowWillClose();
    void modeChanged();
    void browserChanged();
    void startFetch();
    void stopFetch();
    // The preview button: searches the form's words, or plays the next
    // candidate of the last search for the same words.
    void previewTapped();
    // Plays candidate previewIndex and names it in the summary.
    void playPreview();
    // The volume of the preview playing now (the application's slider).
    void setPreviewVolume(float volume);
    // At quit: interrupt, wait at most 0.3 s, then terminate.
    void terminateIfRunning();

    bool isRunning() const { return process != nullptr; }
    const FetchFolders& folders() const { return m_folders; }
    void setFolders(FetchFolders folders) { m_folders = std::move(folders); }
    QWidget* window() const { return m_window; }

private:
    void build();
    void previewAnswered(const QString& words, const std::optional<QJsonValue>& answer);
    void pausePreview();
    QString browserId() const;
    int selectedMode() const;
    std::optional<QString> chooseScript(QString& refusal, QString& warning, ScriptFile& own) const;
    bool mayRun(const ScriptFile& own);
    void readOutput();
    void handle(const QString& line);
    void append(const QString& line); // to the log at the next flushLog()
    void flushLog();
    void finished(QProcess* ended, int status);
    void setRunning(bool running);

    FetchFolders m_folders;
    QWidget* m_window = nullptr; // owned here (top-level)
    QButtonGroup* mode = nullptr;
    QLineEdit* artistField = nullptr;
    QLineEdit* valueField = nullptr;
    QLabel* valueLabel = nullptr;
    QPushButton* startButton = nullptr;
    QPushButton* stopButton = nullptr;
    QProgressBar* spinner = nullptr;
    QLabel* summary = nullptr;
    QPlainTextEdit* logView = nullptr;
    QComboBox* browserPopup = nullptr;
    QPushButton* previewButton = nullptr;

    QPointer<QProcess> process;
    FetchOutput buffer;
    FetchRun run;
    FetchLog log;
    QStringList logQueue; // lines not yet in the view
    bool centered = false;
    std::optional<QStringList> presetArgs;

    std::unique_ptr<platform::AudioPlayer> previewPlayer;
    std::vector<PreviewItem> previewItems; // of the last search answered
    int previewIndex = 0;                  // the candidate played last
    QString previewTerm;                   // the words of the last search answered
};

} // namespace ql
