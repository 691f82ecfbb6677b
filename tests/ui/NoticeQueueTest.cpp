// Guards against: failures and notices lost on the status line, or shown out of turn.
// The turns as the queue decides them; the store notices' own rows, with the
// tick and a track starting, are in tests/app/StoreNoticesTest.cpp.
#include "ui/NoticeQueue.h"

#include "CaseRows.h"
#include "TestUnits.h"

#include <QTest>

#include <vector>

using namespace ql;

namespace {

// What is told at a moment, or the tick's turn.
enum class Do {
    Message,
    Update,
    Failure,
    Notice,
    Tick,
    Withdraw,   // the failure or notice `text`
    SaveFails,  // of the file `text`, for the cause "denied"
    SaveFails2, // of the same file, for another cause
    Saved,      // the file `text` written again
};
struct Step {
    double at; // seconds
    Do what;
    const char* text;
    const char* reads; // the line afterwards
};
struct Case {
    const char* name;
    std::vector<Step> steps;
};

// clang-format off
const std::vector<Case> kCases{
    {"of two messages held back, the newer comes",
     {{0, Do::Notice, "N", "idle"}, {0, Do::Tick, "", "N"}, {1, Do::Message, "opening", "N"},
      {2, Do::Message, "playing", "N"}, {5, Do::Tick, "", "playing"}}},
    {"a failure during a notice is shown after it, then the message told after it",
     {{0, Do::Notice, "N", "idle"}, {0, Do::Tick, "", "N"}, {1, Do::Failure, "F", "N"},
      {2, Do::Message, "later", "N"}, {5, Do::Tick, "", "F"}, {9.9, Do::Tick, "", "F"},
      {10, Do::Tick, "", "later"}}},
    {"a failure drops an older waiting message",
     {{0, Do::Notice, "N", "idle"}, {0, Do::Tick, "", "N"}, {1, Do::Message, "older", "N"},
      {2, Do::Failure, "F", "N"}, {5, Do::Tick, "", "F"}, {10, Do::Tick, "", "F"}}},
    {"a failure on the line keeps a notice waiting for its 5 s",
     {{0, Do::Failure, "F", "F"}, {1, Do::Notice, "N", "F"}, {1, Do::Tick, "", "F"},
      {4.9, Do::Tick, "", "F"}, {5, Do::Tick, "", "N"}}},
    {"the user's next action replaces a failure on the line",
     {{0, Do::Failure, "F", "F"}, {1, Do::Message, "next", "next"}}},
    {"an update waits while a failure keeps its turn",
     {{0, Do::Failure, "F", "F"}, {1, Do::Update, "count", "F"}, {4.9, Do::Tick, "", "F"},
      {5, Do::Tick, "", "count"}}},
    {"an update once the failure's turn is over is shown at once",
     {{0, Do::Failure, "F", "F"}, {5, Do::Update, "count", "count"}}},
    {"a withdrawn failure on the line gives way at once",
     {{0, Do::Failure, "F1", "F1"}, {1, Do::Failure, "F2", "F1"}, {1, Do::Withdraw, "F1", "F2"},
      {5.9, Do::Tick, "", "F2"}}},
    {"a withdrawn failure that waits is never shown",
     {{0, Do::Notice, "N", "idle"}, {0, Do::Tick, "", "N"}, {1, Do::Failure, "F", "N"},
      {2, Do::Withdraw, "F", "N"}, {5, Do::Tick, "", "N"}}},
    {"a failure waits for the failure on the line",
     {{0, Do::Failure, "F1", "F1"}, {1, Do::Failure, "F2", "F1"}, {4.9, Do::Tick, "", "F1"},
      {5, Do::Tick, "", "F2"}}},
    {"a failure told again while it is on the line is told once",
     {{0, Do::Failure, "F", "F"}, {1, Do::Failure, "F", "F"}, {2, Do::Message, "count", "count"},
      {5, Do::Tick, "", "count"}}},
    {"a notice told again while it waits is told once",
     {{0, Do::Notice, "N", "idle"}, {0, Do::Notice, "N", "idle"}, {0, Do::Tick, "", "N"},
      {1, Do::Message, "M", "N"}, {5, Do::Tick, "", "M"}}},
    {"a message waiting behind a failure comes after it",
     {{0, Do::Failure, "F1", "F1"}, {1, Do::Failure, "F2", "F1"}, {2, Do::Message, "M", "F1"},
      {5, Do::Tick, "", "F2"}, {10, Do::Tick, "", "M"}}},
    {"notices take their turns in order",
     {{0, Do::Notice, "A", "idle"}, {0, Do::Notice, "B", "idle"}, {0, Do::Tick, "", "A"},
      {4.9, Do::Tick, "", "A"}, {5, Do::Tick, "", "B"}}},
    {"a failed save is told once per cause",
     {{0, Do::SaveFails, "loudness.json", "idle"}, {0, Do::Tick, "", "failed loudness.json"},
      {6, Do::Message, "M", "M"}, {7, Do::SaveFails, "loudness.json", "M"}, {7, Do::Tick, "", "M"},
      {8, Do::SaveFails2, "loudness.json", "M"}, {8, Do::Tick, "", "failed loudness.json"}}},
    {"an earlier saved notice survives a new failure saved before its turn",
     {{0, Do::SaveFails, "loudness.json", "idle"}, {0, Do::Tick, "", "failed loudness.json"},
      {6, Do::Notice, "N", "failed loudness.json"}, {6, Do::Tick, "", "N"},
      {7, Do::Saved, "loudness.json", "N"}, {8, Do::SaveFails2, "loudness.json", "N"},
      {9, Do::Saved, "loudness.json", "N"}, {11, Do::Tick, "", "saved loudness.json"}}},
};
// clang-format on

} // namespace

class NoticeQueueTest : public QObject {
    Q_OBJECT
private slots:
    void turns_data() { test::addRows(kCases); }
    void turns() {
        const Case& c = test::currentCase(kCases);
        NoticeQueue queue;
        QString line = "idle";
        const auto show = [&line](const std::optional<NoticeQueue::Entry>& e) {
            if (e)
                line = e->text;
        };
        for (const Step& s : c.steps) {
            const qint64 now = qint64(s.at * 1000 + 0.5);
            const QString text = QString::fromUtf8(s.text);
            switch (s.what) {
            case Do::Message:
            case Do::Update:
            case Do::Failure:
            case Do::Notice: {
                const NoticeQueue::Kind kind = s.what == Do::Message   ? NoticeQueue::Kind::Message
                                               : s.what == Do::Update  ? NoticeQueue::Kind::Update
                                               : s.what == Do::Failure ? NoticeQueue::Kind::Failure
                                                                       : NoticeQueue::Kind::Notice;
                show(queue.tell({text, true, kind, {}, false}, now));
                break;
            }
            case Do::Tick:
                show(queue.next(now));
                break;
            case Do::Withdraw:
                show(queue.withdraw(text, now));
                break;
            case Do::SaveFails:
            case Do::SaveFails2:
                queue.fileFailed(text, s.what == Do::SaveFails ? "denied" : "no room",
                                 "failed " + text);
                break;
            case Do::Saved:
                show(queue.fileSaved(text, "saved " + text, now));
                break;
            }
            QVERIFY2(line == QString::fromUtf8(s.reads),
                     qPrintable(QString("at %1 s: %2").arg(s.at).arg(line)));
        }
    }

    // The automatic count may take the line only when nothing keeps it and
    // nothing waits.
    void idleOnlyWhenNothingWaits() {
        NoticeQueue queue;
        QVERIFY(queue.idle(0));
        queue.tell({"N", true, NoticeQueue::Kind::Notice, {}, false}, 0);
        QVERIFY(!queue.idle(0)); // waits for the tick
        QVERIFY(queue.next(0));
        QVERIFY(!queue.idle(4999));
        QVERIFY(queue.idle(5000));
    }
};

QL_TEST_UNIT(NoticeQueueTest)
#include "NoticeQueueTest.moc"
