// Guards against: a script run started wrong, misread, or left running after Stop.
#include "downloader/FlacFetcher.h"
#include "app/App.h"
#include "downloader/ScriptFile.h"

#include "app/UserDefaults.h"
#include "ui/l10n/L10n.h"
#include "ui/l10n/Translator.h"

#include "CaseRows.h"
#include "LaunchedApp.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QApplication>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace ql;
using ql::test::addRows;
using ql::test::currentCase;

// Memory files made for a copy of the user's script, counted at the C
// library's door.
static std::atomic<int> g_scriptCopies{0};
extern "C" int memfd_create(const char* name, unsigned int flags) {
    using Fn = int (*)(const char*, unsigned int);
    static const Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "memfd_create"));
    if (name && std::strcmp(name, "flac.py") == 0)
        ++g_scriptCopies;
    return real(name, flags);
}

namespace {

const QString kStandIn = QStringLiteral(QL_TEST_SUPPORT_DIR "/fetch_standin.py");

// A form to fill: the mode segment, the two fields, the browser, and the
// chart count for a preset run (0: a form run).
struct Form {
    int mode = 0;
    QString artist, value;
    int browser = 0, melon = 0;
};

// A fetcher over a temporary resources folder holding the stand-in as the
// shipped script, and a temporary home.
struct Rig {
    QTemporaryDir dir;
    QString resources = dir.filePath(QStringLiteral("res"));
    QString home = dir.filePath(QStringLiteral("home"));
    QString record = dir.filePath(QStringLiteral("record.json"));
    FlacFetcher fetcher{{resources, home}};
    QStringList saved;
    int finishedWith = -1;
    QStringList asked; // the first lines shown, one entry a question
    std::function<bool()> answer = [] { return true; };

    explicit Rig(const QString& steps = {}, bool ignoreInt = false,
                 const QString& script = kStandIn) {
        QDir().mkpath(resources);
        QDir().mkpath(home + QStringLiteral("/Downloads"));
        QFile::copy(script, resources + QStringLiteral("/flac_fetch.py"));
        qputenv("STANDIN_RECORD", record.toUtf8());
        qputenv("STANDIN_STEPS", steps.toUtf8());
        ignoreInt ? qputenv("STANDIN_IGNORE_INT", "1") : qunsetenv("STANDIN_IGNORE_INT");
        fetcher.onSaved = [this](const QString& path) { saved << path; };
        fetcher.onFinished = [this](int count) { finishedWith = count; };
        fetcher.confirmScript = [this](const QString& path, const QString& firstLines) {
            asked << firstLines;
            return path == ownScript() && answer();
        };
    }
    QString ownScript() const { return home + QStringLiteral("/Downloads/flac.py"); }
    template <typename T> T* find(const char* name) const {
        return fetcher.window()->findChild<T*>(QLatin1String(name));
    }
    QString summary() const { return find<QLabel>("summary")->text(); }
    QStringList log() const { return find<QPlainTextEdit>("logView")->toPlainText().split(u'\n'); }
    QJsonObject recorded() const {
        QFile file(record);
        return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object()
                                              : QJsonObject{};
    }
    void start(const Form& form) {
        find<QPushButton>(qPrintable(QStringLiteral("mode%1").arg(form.mode)))->click();
        find<QLineEdit>("artistField")->setText(form.artist);
        if (!form.value.isNull())
            find<QLineEdit>("valueField")->setText(form.value);
        find<QComboBox>("browserPopup")->setCurrentIndex(form.browser);
        form.melon ? fetcher.runMelon(form.melon) : fetcher.startFetch();
    }
    bool waitEnd(int ms = 10000) {
        return QTest::qWaitFor([this] { return !fetcher.isRunning(); }, ms);
    }
};

struct ArgsCase {
    const char* name;
    Form form;
    QStringList args; // after the script path
    QString header;
    const char* countKey;
};

// clang-format off
const std::vector<ArgsCase> kArgs = {
    {"popular", {0, "Queen", " +05 "}, {"Queen", "5"}, "▶ Queen 인기곡 +05곡", keys::kFlacCount},
    {"all", {3, "love", "12"}, {"--all", "love", "--limit", "12"}, "▶ love 전체 12곡 → all", keys::kFlacAllCount},
    {"album without artist", {1, "", "aside"}, {"", "--album", "aside"}, "▶  aside", nullptr},
    {"single", {2, "-x", "-y"}, {"-x", "--song", "-y"}, "▶ -x -y", nullptr},
    {"melon", {0, "", {}, 1, 10}, {"--melon", "--limit", "10"}, "▶ 오늘의 멜론 TOP100 → Melon 폴더", nullptr},
};

struct RefusalCase {
    const char* name;
    Form form;
    QString summary;
};

const QString kCountMessage = QStringLiteral("곡 수는 1~300 사이 숫자여야 합니다.");
const QString kArtistMessage =
    QStringLiteral("가수 이름을 입력하세요. (앨범 모드 + Aside/Chrome이면 비워도 됩니다)");
// The longest hint, in each language, in the smallest window and a small one.
struct HintCase {
    const char* name;
    const char* lang;
    QSize size;
};
const std::vector<HintCase> kHints = {
    {"Korean, the smallest window", "ko", {480, 460}},
    {"Korean, a small window", "ko", {540, 500}},
    {"English, the smallest window", "en", {480, 460}},
    {"English, a small window", "en", {540, 500}},
};
const std::vector<RefusalCase> kRefusals = {
    {"zero", {0, "Queen", "0"}, kCountMessage},
    {"301", {0, "Queen", "301"}, kCountMessage},
    {"not a number", {0, "Queen", "abc"}, kCountMessage},
    {"empty count", {0, "Queen", ""}, kCountMessage},
    {"no artist", {0, "", "30"}, kArtistMessage},
    {"album without artist on firefox", {1, "", "a", 2}, kArtistMessage},
    {"all without term", {3, "", "10"}, "검색어를 '가수' 칸에 입력하세요. (가수·제목·앨범 무엇이든)"},
    {"all on firefox", {3, "x", "10", 2}, "전체 모드는 Aside 또는 Chrome에서만 동작합니다."},
    {"melon on firefox", {0, "", {}, 2, 10}, "멜론 받기는 Aside 또는 Chrome에서만 동작합니다."},
    {"no album", {1, "x", ""}, "앨범명을 입력하세요."},
    {"no title", {2, "x", ""}, "곡 제목을 입력하세요."},
};

QString hex(const QString& text) {
    return QString::fromLatin1(text.toUtf8().toHex());
}

// Scripted output: the log after the header, its last line the outcome.
struct OutputCase {
    const char* name;
    QStringList steps;
    QStringList log;
    QStringList saved;
};

const QByteArray kKorean = QStringLiteral("완료 [1/1]: /m/가나.flac\n").toUtf8();
const std::vector<OutputCase> kOutputs = {
    {"lines across reads", {"out " + hex("abc\ndef"), "sleep 0.1", "out 0a"}, {"abc", "def", "■ 완료 · 저장 0곡"}, {}},
    {"saved with blanks", {"out " + hex("  완료 [3/30]: /home/u/Downloads/Melon/Song.flac  \n \n")},
     {"✓ Song", "■ 완료 · 저장 1곡"}, {"/home/u/Downloads/Melon/Song.flac"}},
    {"character split between flushes", {"out " + kKorean.first(18).toHex(), "sleep 0.1", "out " + kKorean.sliced(18).toHex()},
     {"✓ 가나", "■ 완료 · 저장 1곡"}, {"/m/가나.flac"}},
    {"every kind of line", {"out " + hex("완료 [1/2]: /x/A b.flac\r\n완료 [3/30] x\n \t \n미완료 2곡\n새 요청 중단\n건너뜀 a\n")},
     {"✓ A b", "완료 [3/30] x", "⚠ 미완료 2곡", "⚠ 새 요청 중단", "↷ 건너뜀 a", "■ 중단됨 · 저장 1곡 (로그 확인)"}, {"/x/A b.flac"}},
    {"error and batch", {"out " + hex("이번 묶음 2곡\n중단: x\n")}, {"이번 묶음 2곡", "⚠ 중단: x", "■ 중단됨 · 저장 0곡 (로그 확인)"}, {}},
    {"exit code, rest at the end", {"out " + hex("tail"), "exit 1"}, {"tail", "■ 종료 코드 1 · 저장 0곡"}, {}},
    {"killed", {"kill 9"}, {"■ 종료 코드 9 · 저장 0곡"}, {}},
};
// clang-format on

// The user's own flac.py: its mode, whether it is a link, its size (0: the
// stand-in as it is), whether it runs, else the warning before its path, and
// how many copies of it were made.
struct ChoiceCase {
    const char* name;
    int perms;
    bool link;
    qint64 size;
    bool own;
    const char* warning;
    int copies;
};
const qint64 kMiB = qint64(1) << 20;
const std::vector<ChoiceCase> kChoices = {
    {"0644", 0644, false, 0, true, nullptr, 1},
    {"0666", 0666, false, 0, false, "⚠ 다른 사용자가 고칠 수 있는 flac.py는 쓰지 않습니다: ", 0},
    {"link", 0644, true, 0, false, "⚠ flac.py가 링크라서 쓰지 않습니다: ", 0},
    {"1 MiB, the most taken", 0644, false, kMiB, true, nullptr, 1},
    // Refused by its size: no copy made, no question asked.
    {"2 MiB", 0644, false, 2 * kMiB, false, "⚠ flac.py가 1 MiB보다 커서 쓰지 않습니다: ", 0},
};

// A script read into its copy: its size, how the copy ends, how many bytes
// were read from it.
struct CopyCase {
    const char* name;
    qint64 size;
    ScriptCopy end;
    qint64 read;
};
const std::vector<CopyCase> kCopies = {
    {"at the bound", kMiB, ScriptCopy::Whole, kMiB},
    {"one byte over", kMiB + 1, ScriptCopy::TooLarge, kMiB + 1},
    // Its size is not asked again: as a file that grew after it was judged.
    {"3 MiB", 3 * kMiB, ScriptCopy::TooLarge, kMiB + 1},
};

// The user's own flac.py across two presses of Start: what the user answers,
// what happens to the file meanwhile, and what runs.
enum class Meanwhile { Nothing, Edit, SwapDuringQuestion, RewriteDuringQuestion };
struct ConsentCase {
    const char* name;
    Meanwhile meanwhile;
    QList<bool> answers;   // to each question in turn
    QList<int> askedAfter; // questions asked after each press
    QList<bool> ran;       // whether the user's script ran on each press
};
const std::vector<ConsentCase> kConsents = {
    {"new, cancelled", Meanwhile::Nothing, {false, false}, {1, 2}, {false, false}},
    {"new, run, then kept", Meanwhile::Nothing, {true}, {1, 1}, {true, true}},
    {"changed after the yes", Meanwhile::Edit, {true, true}, {1, 2}, {true, true}},
    // The second question is about the file put in place; it is refused.
    {"swapped during the question",
     Meanwhile::SwapDuringQuestion,
     {true, false},
     {1, 2},
     {true, false}},
    // The file rewritten in place (same file, new bytes) after the user saw
    // it: the bytes agreed to run, and the new ones are asked about.
    {"rewritten in place during the question",
     Meanwhile::RewriteDuringQuestion,
     {true, false},
     {1, 2},
     {true, false}},
};

struct StopCase {
    const char* name;
    bool ignoreInt, atQuit;
    QList<int> received;
    int minMs;
};

const std::vector<StopCase> kStops = {
    {"exits on interrupt", false, false, {SIGINT}, 0},
    {"ignores interrupt", true, false, {SIGINT, SIGTERM}, 3500},
    {"quit, ignores interrupt", true, true, {SIGINT, SIGTERM}, 250},
};

} // namespace

class FlacFetcherTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        for (const char* key :
             {keys::kFlacBrowser, keys::kFlacCount, keys::kFlacAllCount, keys::kFlacScriptApproved})
            UserDefaults().remove(key);
    }

    void arguments_data() { addRows(kArgs); }
    void arguments() {
        const ArgsCase& c = currentCase(kArgs);
        Rig rig;
        rig.fetcher.findPython = [] { return std::nullopt; };
        rig.start(c.form);
        QVERIFY(rig.waitEnd());
        const QJsonObject got = rig.recorded();
        QCOMPARE(got[u"python"].toString(), "/usr/bin/python3");
        QStringList args = got[u"args"].toVariant().toStringList();
        QCOMPARE(args.takeFirst(), rig.resources + "/flac_fetch.py");
        QCOMPARE(args, c.args);
        QCOMPARE(rig.log().first(), c.header);
        if (c.countKey)
            QCOMPARE(UserDefaults().string(c.countKey), c.args.last());
        const QString path = "/.local/bin:/opt/homebrew/bin:/usr/local/bin:/usr/bin:/bin";
        const QString browser = QStringList({"aside", "chrome", "firefox"}).at(c.form.browser);
        QCOMPARE(got[u"env"].toObject(),
                 QJsonObject({{"PATH", rig.resources + "/bin:" + rig.home + path},
                              {"FLAC_HOME", rig.home + "/Downloads"},
                              {"PYTHONIOENCODING", "utf-8"},
                              {"FLAC_BROWSER", browser}}));
        QCOMPARE(got[u"cwd"].toString(), QDir::currentPath());
    }

    void refusals_data() { addRows(kRefusals); }
    void refusals() {
        const RefusalCase& c = currentCase(kRefusals);
        Rig rig;
        rig.start(c.form);
        QCOMPARE(rig.summary(), c.summary);
        QVERIFY(!rig.fetcher.isRunning());
        QVERIFY(!UserDefaults().contains(keys::kFlacCount));
        // The preset served that press only: the next one reads the form.
        if (c.form.melon) {
            rig.fetcher.startFetch();
            QCOMPARE(rig.summary(), kArtistMessage);
        }
    }

    // Every word of the hint can be read: inside its label, and the label in
    // the window under no other control.
    void hintShownWhole_data() { addRows(kHints); }
    void hintShownWhole() {
        const HintCase& c = currentCase(kHints);
        L10n::setLanguage(c.lang);
        Rig rig;
        rig.start({0, "", "30"});
        QWidget* window = rig.fetcher.window();
        Translator::translateWindow(window);
        L10n::setLanguage("ko");
        rig.fetcher.show();
        window->resize(c.size);
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QTRY_COMPARE_WITH_TIMEOUT(window->size(), c.size, ql::test::kOutcomeMs);
        const QLabel* hint = rig.find<QLabel>("summary");
        QCOMPARE(L10n::hasHangul(hint->text()), QByteArray(c.lang) == "ko"); // the premise

        const QRect room = hint->contentsRect();
        const int flags = int(hint->alignment()) | (hint->wordWrap() ? Qt::TextWordWrap : 0);
        const QRect text = hint->fontMetrics().boundingRect(room, flags, hint->text());
        QVERIFY2(room.contains(text), qPrintable(hint->text()));
        const QRect at(hint->mapTo(window, QPoint()), hint->size());
        QVERIFY(window->rect().contains(at));
        for (const QWidget* other : window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (other != hint && other->isVisible())
                QVERIFY2(!QRect(other->pos(), other->size()).intersects(at),
                         qPrintable(other->objectName() + " " + other->metaObject()->className()));
    }

    // Started without standard input, the program gets descriptor 0 for the
    // script; the child's own standard input must not take its place.
    void scriptWithoutStandardInput() {
        Rig rig;
        QVERIFY(QFile::copy(kStandIn, rig.ownScript()));
        QFile::setPermissions(rig.ownScript(), QFile::ReadOwner | QFile::WriteOwner);
        const int input = ::dup(0);
        ::close(0);
        rig.start({0, "Queen", "3"});
        ::dup2(input, 0);
        ::close(input);
        QVERIFY(rig.waitEnd());
        QCOMPARE(rig.asked.size(), 1);
        QVERIFY(QFile::exists(rig.record));
    }

    void scriptChoice_data() { addRows(kChoices); }
    void scriptChoice() {
        const ChoiceCase& c = currentCase(kChoices);
        Rig rig;
        const QString user = rig.home + "/Downloads/flac.py";
        const QString target = c.link ? rig.dir.filePath("elsewhere.py") : user;
        QFile standIn(kStandIn);
        QVERIFY(standIn.open(QIODevice::ReadOnly));
        QByteArray script = standIn.readAll();
        if (c.size) // padded to its size by a comment line
            script += '#' + QByteArray(c.size - script.size() - 2, 'x') + '\n';
        QVERIFY(ql::test::writeFile(target, script));
        QCOMPARE(::chmod(QFile::encodeName(target).constData(), mode_t(c.perms)), 0);
        if (c.link)
            QFile::link(target, user);
        rig.fetcher.accessibilityTrusted = [] { return false; };
        g_scriptCopies = 0;
        rig.start({0, "Queen", "3", 2});
        QCOMPARE(g_scriptCopies.load(), c.copies);
        QVERIFY(rig.waitEnd());
        const QString ran = rig.recorded()[u"args"].toArray().at(0).toString();
        QVERIFY2(c.own ? ran.startsWith("/proc/self/fd/") : ran == rig.resources + "/flac_fetch.py",
                 qPrintable(ran));
        QCOMPARE(rig.asked.size(), c.own ? 1 : 0);
        if (!c.own)
            QCOMPARE(rig.log().at(1), L10n::tr(QString::fromUtf8(c.warning)) + user);
        QVERIFY(rig.log().contains(
            QStringLiteral("⚠ 손쉬운 사용 권한이 필요합니다. 시스템 설정 → 개인정보 보호 및 보안 → "
                           "손쉬운 사용에서 Quavelark을 켠 뒤 다시 시작하세요.")));
    }

    // Reading stops one byte past the bound, whatever the file holds.
    void scriptCopy_data() { addRows(kCopies); }
    void scriptCopy() {
        const CopyCase& c = currentCase(kCopies);
        QTemporaryDir dir;
        const QString path = dir.filePath("flac.py");
        QVERIFY(ql::test::writeFile(path, QByteArray(c.size, '#')));
        const int from = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        QFile copy(dir.filePath("copy"));
        QVERIFY(from >= 0 && copy.open(QIODevice::ReadWrite));
        QCryptographicHash hash(QCryptographicHash::Sha256);
        QByteArray head;
        QCOMPARE(copyBounded(from, copy.handle(), ScriptFile::kMaxBytes, hash, head), c.end);
        QCOMPARE(qint64(::lseek(from, 0, SEEK_CUR)), c.read);
        QVERIFY(copy.size() <= ScriptFile::kMaxBytes);
        ::close(from);
    }

    // A script a browser saved in Downloads never runs unasked, and what runs
    // is exactly what the user agreed to.
    void consent_data() { addRows(kConsents); }
    void consent() {
        const ConsentCase& c = currentCase(kConsents);
        Rig rig;
        const QString user = rig.ownScript();
        QVERIFY(QFile::copy(kStandIn, user));
        QFile::setPermissions(user, QFile::ReadOwner | QFile::WriteOwner);
        // What a swap puts in place: it would leave a mark if it ever ran.
        const QString mark = rig.dir.filePath("impostor-ran");
        const QString impostor = rig.dir.filePath("impostor.py");
        QVERIFY(ql::test::writeFile(impostor, ("open('" + mark + "', 'w').close()\n").toUtf8()));
        // Saved beside it by a browser: a module the script imports must not come from there.
        QVERIFY(ql::test::writeFile(rig.home + "/Downloads/json.py",
                                    ("open('" + mark + "', 'w').close()\n").toUtf8()));
        rig.answer = [&] {
            if (c.meanwhile == Meanwhile::SwapDuringQuestion && rig.asked.size() == 1)
                [&] {
                    QVERIFY(::rename(QFile::encodeName(impostor), QFile::encodeName(user)) == 0);
                }();
            if (c.meanwhile == Meanwhile::RewriteDuringQuestion && rig.asked.size() == 1)
                [&] {
                    QFile file(user); // the same inode, truncated and written anew
                    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
                    QFile source(impostor);
                    QVERIFY(source.open(QIODevice::ReadOnly));
                    QVERIFY(file.write(source.readAll()) > 0);
                }();
            return c.answers.value(rig.asked.size() - 1);
        };
        for (int press = 0; press < 2; ++press) {
            QFile::remove(rig.record);
            rig.start({0, "Queen", "3"});
            QVERIFY(rig.waitEnd());
            QCOMPARE(rig.asked.size(), c.askedAfter[press]);
            QCOMPARE(QFile::exists(rig.record), c.ran[press]);
            if (!c.ran[press])
                QCOMPARE(rig.summary(), "flac.py를 실행하지 않았습니다.");
            QVERIFY(!QFile::exists(mark));
            if (c.meanwhile == Meanwhile::Edit && press == 0) {
                QFile file(user);
                QVERIFY(file.open(QIODevice::Append));
                file.write("# edited\n");
            }
        }
        QVERIFY(rig.asked.first().startsWith("# Guards against: (fixture)"));
        if (c.meanwhile == Meanwhile::SwapDuringQuestion ||
            c.meanwhile == Meanwhile::RewriteDuringQuestion)
            QVERIFY(rig.asked.last().startsWith("open("));
    }

    // The question itself, in English: what the file is and how it begins; the
    // safe answer is the default.
    void question() {
        Rig rig;
        rig.fetcher.confirmScript = nullptr;
        // Markup in the file must show as written, never hide what follows.
        QFile standIn(kStandIn);
        QVERIFY(standIn.open(QIODevice::ReadOnly));
        QVERIFY(ql::test::writeFile(rig.ownScript(), "<h1 hidden>\n" + standIn.readAll()));
        QFile::setPermissions(rig.ownScript(), QFile::ReadOwner | QFile::WriteOwner);
        L10n::setLanguage("en");
        QString seen;
        bool markupShown = false;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            seen =
                box->text() + "\n" + box->informativeText() + "\n" + box->defaultButton()->text();
            for (const QLabel* label : box->findChildren<QLabel*>())
                if (label->text().contains("<h1 hidden>"))
                    markupShown = label->textFormat() == Qt::PlainText;
            box->defaultButton()->click();
        });
        poll.start(20);
        rig.start({0, "Queen", "3"});
        L10n::setLanguage("ko");
        QVERIFY(seen.startsWith("Run flac.py from the Downloads folder?\nThis script runs with "
                                "all of your account's rights."));
        QVERIFY(seen.contains("\n\n" + rig.ownScript() +
                              "\n\n<h1 hidden>\n# Guards against: (fixture)"));
        QVERIFY(markupShown);
        QVERIFY(seen.endsWith("\nCancel"));
        QVERIFY(!rig.fetcher.isRunning());
        QVERIFY(!QFile::exists(rig.record));
    }

    void output_data() { addRows(kOutputs); }
    void output() {
        const OutputCase& c = currentCase(kOutputs);
        Rig rig(c.steps.join(u'\n'));
        rig.start({0, "Queen", "3"});
        QVERIFY(rig.waitEnd());
        QCOMPARE(rig.log().mid(1), c.log);
        QCOMPARE("■ " + rig.summary(), c.log.last());
        QCOMPARE(rig.saved, c.saved);
        QCOMPARE(rig.finishedWith, int(c.saved.size()));
        QVERIFY(rig.find<QPushButton>("startButton")->isEnabled());
    }

    void stop_data() { addRows(kStops); }
    void stop() {
        const StopCase& c = currentCase(kStops);
        Rig rig("child\nhang", c.ignoreInt);
        rig.start({0, "Queen", "3"});
        QTRY_VERIFY_WITH_TIMEOUT(!rig.recorded()[u"children"].toArray().isEmpty(),
                                 ql::test::kOutcomeMs);
        const int child = rig.recorded()[u"children"].toArray().at(0).toInt();
        const QJsonValue pid = rig.recorded()[u"pid"];
        rig.fetcher.startFetch(); // a press during a run starts nothing more
        rig.fetcher.runMelon(10);
        QCOMPARE(rig.summary(), "이미 받는 중입니다. 끝난 뒤 다시 눌러 주세요.");
        QTest::qWait(300);
        QCOMPARE(rig.recorded()[u"pid"], pid);
        QElapsedTimer clock;
        clock.start();
        c.atQuit ? rig.fetcher.terminateIfRunning() : rig.fetcher.stopFetch();
        QVERIFY(rig.waitEnd(8000));
        QVERIFY(clock.elapsed() >= c.minMs);
        QList<int> got;
        for (const auto& sig : rig.recorded()[u"signals"].toArray())
            got << sig.toInt();
        QCOMPARE(got, c.received);
        QTRY_VERIFY(::kill(child, 0) != 0); // the script's child went with it
        if (!c.atQuit)
            QCOMPARE(rig.summary(), "중지됨 · 저장 0곡");
    }

    void shippedScript() {
        Rig rig({}, false, QStringLiteral(QL_TEST_SUPPORT_DIR "/../../resources/flac_fetch.py"));
        rig.start({0, "Queen", "3"});
        QVERIFY(rig.waitEnd());
        QCOMPARE(rig.summary(), "중단됨 · 저장 0곡 (로그 확인)");
        QVERIFY(rig.log().at(2).startsWith("⚠ 중단: "));
        QCOMPARE(QDir(rig.home + "/Downloads").entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 QStringList{});
    }

    void window() {
        UserDefaults().set(keys::kFlacBrowser, QStringLiteral("chrome"));
        UserDefaults().set(keys::kFlacCount, QStringLiteral("25"));
        Rig rig;
        QCOMPARE(rig.find<QComboBox>("browserPopup")->currentText(), "Chrome");
        QCOMPARE(rig.find<QLineEdit>("valueField")->text(), "25");
        QVERIFY(!rig.find<QPushButton>("stopButton")->isEnabled());
        QCOMPARE(rig.summary(), "대기 중");
        rig.find<QPushButton>("mode3")->click();
        QCOMPARE(rig.find<QLineEdit>("valueField")->text(), "10");
        rig.find<QPushButton>("mode0")->click();
        QCOMPARE(rig.find<QLineEdit>("valueField")->text(), "25");
        for (const char* stored : {"ego", "safari"}) {
            UserDefaults().set(keys::kFlacBrowser, QString::fromLatin1(stored));
            QCOMPARE(Rig().find<QComboBox>("browserPopup")->currentText(), "Aside");
        }
        QComboBox* popup = rig.find<QComboBox>("browserPopup");
        popup->setCurrentIndex(2);
        emit popup->activated(2);
        QCOMPARE(UserDefaults().string(keys::kFlacBrowser), "firefox");
        // Centred once; a moved window stays where the user left it.
        rig.fetcher.show();
        rig.fetcher.window()->move(3, 4);
        rig.fetcher.window()->close();
        QVERIFY(!rig.fetcher.window()->isVisible());
        rig.fetcher.show();
        QCOMPARE(rig.fetcher.window()->pos(), QPoint(3, 4));
        QVERIFY(!FlacFetcher::hasScript(rig.dir.filePath("none")));
    }

    // Through the launched program: what the script saved goes to the library
    // backend as one "add" per file, then one "scan".
    void savedFilesReachTheBackend() {
        QTemporaryDir dir;
        const QString res = dir.filePath("res"), home = dir.filePath("home");
        QDir().mkpath(res);
        QDir().mkpath(home + "/Downloads/Melon");
        QFile::copy(kStandIn, res + "/flac_fetch.py");
        QStringList saved, steps;
        for (const char* name : {"a.flac", "b.flac"}) {
            saved << home + "/Downloads/Melon/" + name;
            steps << "out " + ("완료 [1/2]: " + saved.last() + "\n").toUtf8().toHex();
        }
        qputenv("STANDIN_RECORD", dir.filePath("record.json").toUtf8());
        qputenv("STANDIN_STEPS", (steps.join('\n') + "\nexit 0").toUtf8());
        test::LaunchedApp app("ko");
        QStringList sent;
        test::fakes(*app).tools.backendWrite = [&sent](const QByteArray& line) {
            const QJsonObject r = QJsonDocument::fromJson(line).object();
            if (r.value("action").toString() != "list")
                sent << r.value("action").toString() + ' ' + r.value("path").toString();
        };
        app->fetcher->setFolders({res, home});
        app->runMelon();
        QTRY_VERIFY_WITH_TIMEOUT(app->core.needsScan, 10000);
        for (int i = 0; i < 4; ++i) {
            app->tick();
            app->library.pending = false; // the backend's reply
        }
        QCOMPARE(sent, QStringList({"add " + saved[0], "add " + saved[1], "scan "}));
    }
};

QL_TEST_MAIN(FlacFetcherTest)
#include "FlacFetcherTest.moc"
