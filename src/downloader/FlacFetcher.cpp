// The script runner: the form read into an argument list, the child process,
// its output, the end of a run, Stop and the stop at quit.
#include "downloader/FlacFetcher.h"

#include "app/UserDefaults.h"
#include "downloader/ScriptFile.h"
#include "library/ToolPaths.h"
#include "ui/l10n/L10n.h"
#include "ui/l10n/Translator.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>

#include <QMessageBox>

#include <csignal>
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

namespace ql {

namespace {

constexpr int kStartWaitMs = 3000; // a launch that takes longer counts as failed
constexpr int kEndDelayMs = 600;   // output still on its way is read first
constexpr int kStopGraceMs = 4000; // Stop: the interrupt, then the termination
constexpr int kQuitGraceMs = 300;  // quit: the same, sooner
constexpr int kMinCount = 1;
constexpr int kMaxCount = 300;

enum Mode { kPopular = 0, kAlbum = 1, kSingle = 2, kAll = 3 };

// The script's whole process group, while its leader runs: the group id is
// the leader's pid, which cannot be reused before the leader is reaped.
void signalGroup(QProcess* proc, int sig) {
    if (!proc || proc->state() != QProcess::Running)
        return;
    if (const qint64 pid = proc->processId(); pid > 0)
        ::kill(-pid_t(pid), sig);
}

// A count as typed: decimal digits with an optional "+", 1 to 300.
std::optional<int> parseCount(const QString& value) {
    bool ok = false;
    const int n = value.toInt(&ok, 10);
    if (!ok || n < kMinCount || n > kMaxCount)
        return std::nullopt;
    return n;
}

// The question before the user's own script runs, over the window.
bool askToRun(QWidget* parent, const QString& path, const QString& firstLines) {
    QMessageBox box(parent);
    // The texts come worded as they must show: the pass leaves them alone.
    Translator::exempt(&box);
    box.setIcon(QMessageBox::Warning);
    box.setText(L10n::tr(QStringLiteral("다운로드 폴더의 flac.py를 실행할까요?")));
    box.setInformativeText(
        L10n::tr(QStringLiteral("이 스크립트는 내 계정의 모든 권한으로 실행됩니다. 직접 넣은 "
                                "파일일 때만 실행하세요. 내용이 바뀌면 다시 묻습니다.")) +
        QStringLiteral("\n\n") + path + QStringLiteral("\n\n") + firstLines);
    // The file's own lines as written: markup in them must not restyle or hide
    // the rest. The box's own format setting leaves the informative text out.
    for (QLabel* label : box.findChildren<QLabel*>())
        label->setTextFormat(Qt::PlainText);
    QPushButton* run = box.addButton(L10n::tr(QStringLiteral("실행")), QMessageBox::AcceptRole);
    box.setDefaultButton(box.addButton(L10n::tr(QStringLiteral("취소")), QMessageBox::RejectRole));
    box.exec();
    return box.clickedButton() == run;
}

} // namespace

FetchFolders FetchFolders::standard() {
    return {ToolFolders::standard().resources, QDir::homePath()};
}

bool FlacFetcher::hasScript(const QString& resources) {
    return !resources.isEmpty() && QFileInfo(resources + QStringLiteral("/flac_fetch.py")).isFile();
}

std::optional<QString> FlacFetcher::chooseScript(QString& refusal, QString& warning,
                                                 ScriptFile& own) const {
    const QString path = m_folders.home + QStringLiteral("/Downloads/flac.py");
    if (QString reason; own.open(path, reason)) {
        if (reason.isEmpty())
            return path;
        warning = reason + path;
    }
    const QString shipped = m_folders.resources + QStringLiteral("/flac_fetch.py");
    if (QFileInfo(shipped).isFile())
        return shipped;
    refusal = QStringLiteral(
        "flac_fetch.py가 앱에 없습니다. ./scripts/run으로 Quavelark을 다시 설치하세요.");
    return std::nullopt;
}

// The user's own script runs once the user has agreed to exactly these contents.
bool FlacFetcher::mayRun(const ScriptFile& own) {
    UserDefaults defaults;
    if (defaults.string(keys::kFlacScriptApproved) == QString::fromLatin1(own.sha256()))
        return true;
    const QString path = m_folders.home + QStringLiteral("/Downloads/flac.py");
    const bool yes = confirmScript ? confirmScript(path, own.firstLines())
                                   : askToRun(m_window, path, own.firstLines());
    if (yes)
        defaults.set(keys::kFlacScriptApproved, QString::fromLatin1(own.sha256()));
    return yes;
}

void FlacFetcher::startFetch() {
    if (process)
        return;
    pausePreview();
    const std::optional<QStringList> preset = std::exchange(presetArgs, std::nullopt);
    const int modeIndex = selectedMode();
    const QString artist = artistField->text().trimmed();
    const QString value = valueField->text().trimmed();
    const QString browser = browserId();
    const bool firefox = browser == QLatin1String("firefox");
    const bool albumWithoutArtist = modeIndex == kAlbum && !firefox;
    auto refuse = [this](const QString& text) { summary->setText(text); };

    if (preset && firefox)
        return refuse(QStringLiteral("멜론 받기는 Aside 또는 Chrome에서만 동작합니다."));
    if (!preset && modeIndex != kAll && artist.isEmpty() && !albumWithoutArtist)
        return refuse(
            QStringLiteral("가수 이름을 입력하세요. (앨범 모드 + Aside/Chrome이면 비워도 됩니다)"));
    if (m_folders.resources.isEmpty())
        return;
    QString refusal;
    QString overrideWarning;
    ScriptFile own;
    const std::optional<QString> script = chooseScript(refusal, overrideWarning, own);
    if (!script)
        return refuse(refusal);
    const bool ownScript = own.descriptor() >= 0 && overrideWarning.isEmpty();

    QStringList args{QStringLiteral("-u"), ownScript ? own.runPath() : *script};
    // Python looks for imports first beside the script, which for the user's
    // own is Downloads: a browser-saved "json.py" there would run unasked.
    if (ownScript)
        args.prepend(QStringLiteral("-P"));
    QString header;
    if (preset) {
        args += *preset;
        header = QStringLiteral("▶ 오늘의 멜론 TOP100 → Melon 폴더");
    } else if (modeIndex == kAll || modeIndex == kPopular) {
        if (modeIndex == kAll && artist.isEmpty())
            return refuse(
                QStringLiteral("검색어를 '가수' 칸에 입력하세요. (가수·제목·앨범 무엇이든)"));
        if (modeIndex == kAll && firefox)
            return refuse(QStringLiteral("전체 모드는 Aside 또는 Chrome에서만 동작합니다."));
        const std::optional<int> count = parseCount(value);
        if (!count)
            return refuse(QStringLiteral("곡 수는 1~300 사이 숫자여야 합니다."));
        const QString countText = QString::number(*count);
        UserDefaults().set(modeIndex == kAll ? keys::kFlacAllCount : keys::kFlacCount, countText);
        if (modeIndex == kAll) {
            args << QStringLiteral("--all") << artist << QStringLiteral("--limit") << countText;
            header = QStringLiteral("▶ %1 전체 %2곡 → all").arg(artist, value);
        } else {
            args << artist << countText;
            header = QStringLiteral("▶ %1 인기곡 %2곡").arg(artist, value);
        }
    } else {
        const bool album = modeIndex == kAlbum;
        if (value.isEmpty())
            return refuse(album ? QStringLiteral("앨범명을 입력하세요.")
                                : QStringLiteral("곡 제목을 입력하세요."));
        args << artist << (album ? QStringLiteral("--album") : QStringLiteral("--song")) << value;
        header = QStringLiteral("▶ ") + artist + u' ' + value;
    }
    const bool warnAccessibility = firefox && accessibilityTrusted && !accessibilityTrusted();
    if (ownScript && !mayRun(own))
        return refuse(QStringLiteral("flac.py를 실행하지 않았습니다."));

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PATH"),
               m_folders.resources + QStringLiteral("/bin:") + m_folders.home +
                   QStringLiteral("/.local/bin:/opt/homebrew/bin:/usr/local/bin:/usr/bin:/bin"));
    env.insert(QStringLiteral("FLAC_HOME"), m_folders.home + QStringLiteral("/Downloads"));
    env.insert(QStringLiteral("PYTHONIOENCODING"), QStringLiteral("utf-8"));
    env.insert(QStringLiteral("FLAC_BROWSER"), browser);

    auto* proc = new QProcess(this);
    const std::optional<QString> python =
        findPython ? findPython() : pythonPath(ToolFolders::withResources(m_folders.resources));
    proc->setProgram(python.value_or(QStringLiteral("/usr/bin/python3")));
    proc->setArguments(args);
    proc->setProcessEnvironment(env);
    proc->setProcessChannelMode(QProcess::MergedChannels);
    proc->setStandardInputFile(QProcess::nullDevice());
    const int inherited = ownScript ? own.descriptor() : -1;
    proc->setChildProcessModifier([inherited] {
        ::setpgid(0, 0);
        if (inherited >= 0) // the one descriptor the script is read through
            ::fcntl(inherited, F_SETFD, 0);
    });
    connect(proc, &QProcess::readyReadStandardOutput, this, &FlacFetcher::readOutput);
    connect(proc, &QProcess::finished, this, [this, proc](int code, QProcess::ExitStatus) {
        // What is still in the pipe belongs to this run, before its summary.
        if (proc == process)
            readOutput();
        QTimer::singleShot(kEndDelayMs, this, [this, proc, code] { finished(proc, code); });
    });

    run = FetchRun{};
    buffer = FetchOutput{};
    log.clear();
    logQueue.clear();
    logView->clear();
    proc->start();
    if (!proc->waitForStarted(kStartWaitMs)) {
        refuse(QStringLiteral("실행 실패: ") + proc->errorString());
        proc->disconnect(this);
        proc->kill();
        proc->deleteLater();
        return;
    }
    process = proc;
    setRunning(true);
    summary->setText(QStringLiteral("진행 중…"));
    append(header);
    if (!overrideWarning.isEmpty())
        append(overrideWarning);
    if (warnAccessibility)
        append(
            QStringLiteral("⚠ 손쉬운 사용 권한이 필요합니다. 시스템 설정 → 개인정보 보호 및 보안 → "
                           "손쉬운 사용에서 Quavelark을 켠 뒤 다시 시작하세요."));
    flushLog();
}

void FlacFetcher::readOutput() {
    if (!process)
        return;
    for (const QString& line : buffer.consume(process->readAllStandardOutput()))
        handle(line);
    flushLog();
}

void FlacFetcher::handle(const QString& raw) {
    const FetchLine line = classifyLine(raw);
    switch (line.kind) {
    case FetchLineKind::Ignored:
        return;
    case FetchLineKind::Saved:
        ++run.saved;
        append(line.log);
        summary->setText(run.savedSummary());
        if (onSaved)
            onSaved(line.path);
        return;
    case FetchLineKind::Error:
        run.sawError = true;
        break;
    case FetchLineKind::Summary:
        summary->setText(line.text);
        break;
    case FetchLineKind::Skipped:
    case FetchLineKind::Progress:
        break;
    }
    append(line.log);
}

void appendToLog(FetchLog& log, QPlainTextEdit* view, const QStringList& lines) {
    bool cut = false;
    for (const QString& line : lines)
        cut = log.append(line) > 0 || cut;
    if (cut)
        view->setPlainText(log.text().chopped(1)); // the oldest part went
    else if (!lines.isEmpty())
        view->appendPlainText(lines.join(u'\n'));
    view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum());
}

void FlacFetcher::append(const QString& line) {
    logQueue << line;
}

void FlacFetcher::flushLog() {
    appendToLog(log, logView, logQueue);
    logQueue.clear();
}

void FlacFetcher::finished(QProcess* ended, int status) {
    ended->deleteLater();
    if (ended != process)
        return;
    if (buffer.hasRest())
        handle(buffer.takeRest());
    process = nullptr;
    setRunning(false);
    summary->setText(run.outcome(status));
    append(QStringLiteral("■ ") + summary->text());
    flushLog();
    if (onFinished)
        onFinished(run.saved);
}

void FlacFetcher::stopFetch() {
    if (!process || process->state() != QProcess::Running)
        return;
    run.stopRequested = true;
    summary->setText(QStringLiteral("중지하는 중…"));
    signalGroup(process, SIGINT);
    // Holds the process, not the fetcher; a process already ended is skipped.
    const QPointer<QProcess> target = process;
    QTimer::singleShot(kStopGraceMs, target, [target] { signalGroup(target, SIGTERM); });
}

void FlacFetcher::terminateIfRunning() {
    if (!process || process->state() != QProcess::Running)
        return;
    signalGroup(process, SIGINT);
    if (!process->waitForFinished(kQuitGraceMs))
        signalGroup(process, SIGTERM);
}

} // namespace ql
