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
        const CatalogReply* firstReply = reader.read(first);
        const std::shared_ptr<const std::vector<Track>> kept =
            firstReply ? firstReply->tracks : nullptr;
        const CatalogReply* got = reader.read(second);
        QCOMPARE(reader.lastWasRepeat(), repeat);
        QCOMPARE(got ? (*got->tracks)[0].title : QString(), title);
        // Tracks taken from the first reply outlive the second read.
        if (kept)
            QCOMPARE((*kept)[0].title, JsonCodec<Library>::decode(first)->tracks->at(0).title);
    }

    // A large reply equal to the catalog its owner holds is that catalog,
    // not a second copy of it; one that differs is decoded as it is.
    void holdsTheOwnersRows_data() {
        QTest::addColumn<int>("changedRow"); // of the owner's rows; -1: none
        QTest::addColumn<bool>("owners");    // the reply holds the owner's rows
        QTest::newRow("equal rows") << -1 << true;
        QTest::newRow("the first title differs") << 0 << false;
        QTest::newRow("the last title differs") << 3999 << false;
    }
    void holdsTheOwnersRows() {
        QFETCH(int, changedRow);
        QFETCH(bool, owners);
        std::vector<Track> tracks; // large enough to be read in batches
        for (int i = 1; i <= 4000; ++i)
            tracks.push_back(
                Track{i, "/m/" + QString::number(i) + ".flac", "제목", "가수", "앨범", 180, ""});
        const QByteArray line = *JsonCodec<Library>::encode(Library{tracks, false, {}});
        if (changedRow >= 0)
            tracks[std::size_t(changedRow)].title = "다른 제목";
        const auto own = std::make_shared<const std::vector<Track>>(tracks);
        ReplyReader reader;
        const CatalogReply* got = reader.read(line, own);
        QVERIFY(got && got->tracks);
        QCOMPARE(got->tracks == own, owners);
        QCOMPARE(*got->tracks, *JsonCodec<Library>::decode(line)->tracks);
    }
};

QL_TEST_UNIT(ReplyReaderTest)
#include "ReplyReaderTest.moc"
