// Guards against: a changed catalog taken for a repeat of the last one (and
// so never shown), or a repeat decoded again for nothing.
#include "library/ReplyReader.h"

#include "app/JsonCodec.h"

#include "TestHome.h"
#include "TestUnits.h"

using namespace ql;

namespace {

QByteArray reply(const QString& title) {
    const std::vector<Track> tracks{Track{1, "/m/1.flac", title, "가수", "앨범", 180, ""}};
    return *JsonCodec<Library>::encode(Library{tracks, false, {}});
}

} // namespace

class ReplyReaderTest : public QObject {
    Q_OBJECT
private slots:
    void repeats_data() {
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<QByteArray>("second");
        QTest::addColumn<bool>("repeat");
        QTest::addColumn<QString>("title"); // of the second reply, "" when it does not decode
        QTest::newRow("the same bytes again") << reply("가") << reply("가") << true << "가";
        QTest::newRow("one character changed, same length")
            << reply("ab") << reply("ac") << false << "ac";
        QTest::newRow("a line that does not decode")
            << reply("가") << QByteArray("{") << false << "";
        QTest::newRow("after a line that did not decode")
            << QByteArray("{") << reply("가") << false << "가";
    }
    void repeats() {
        QFETCH(QByteArray, first);
        QFETCH(QByteArray, second);
        QFETCH(bool, repeat);
        QFETCH(QString, title);
        ReplyReader reader;
        reader.read(first);
        const std::shared_ptr<const std::vector<Track>> kept = reader.sharedTracks();
        const Library* got = reader.read(second);
        QCOMPARE(reader.lastWasRepeat(), repeat);
        QCOMPARE(got ? (*got->tracks)[0].title : QString(), title);
        // Tracks taken from the first reply outlive the second read.
        if (kept)
            QCOMPARE((*kept)[0].title, JsonCodec<Library>::decode(first)->tracks->at(0).title);
    }
};

QL_TEST_UNIT(ReplyReaderTest)
#include "ReplyReaderTest.moc"
