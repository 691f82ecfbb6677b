// Guards against: ambiguous or misordered folder labels.
#include "ui/FolderList.h"
#include "ui/TrackPath.h"

#include "TestHome.h"
#include "TestUnits.h"

#include <QRandomGenerator>

using namespace ql;

namespace {

Track at(const QString& path, qint64 id) {
    return Track{id, path, {}, {}, {}, 0, {}};
}

// Tracks, one per folder path given (file name "x.flac").
std::vector<Track> tracksIn(const QStringList& folders) {
    std::vector<Track> rows;
    for (const QString& f : folders)
        rows.push_back(at(f + "/x.flac", qint64(rows.size()) + 1));
    return rows;
}

QStringList labelsOf(const std::vector<FolderEntry>& list) {
    QStringList out;
    for (const FolderEntry& e : list)
        out << e.label;
    return out;
}

} // namespace

class FolderListTest : public QObject {
    Q_OBJECT
private slots:
    void folderOfPath_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("folder");
        // clang-format off
        QTest::newRow("plain") << "/Music/A/01.flac" << "/Music/A";
        QTest::newRow("doubled slash") << "/Music//A/01.flac" << "/Music/A";
        QTest::newRow("file at the root") << "/01.flac" << "/";
        QTest::newRow("no folder at all") << "01.flac" << "";
        // clang-format on
    }
    void folderOfPath() {
        QFETCH(QString, path);
        QFETCH(QString, folder);
        QCOMPARE(folderOf(path), folder);
    }

    void labels_data() {
        QTest::addColumn<QStringList>("paths");
        QTest::addColumn<QStringList>("labels");
        QTest::newRow("same name in two places, and a unique one")
            << QStringList{"/Music/Albums/Jazz", "/Downloads/Jazz", "/Music/Rock"}
            << QStringList{"Jazz — Albums", "Jazz — Downloads", "Rock"};
        QTest::newRow("one path is the tail of the other")
            << QStringList{"/x/Jazz", "/y/x/Jazz"} << QStringList{"Jazz — x", "Jazz — y/x"};
        QTest::newRow("three of a name: each its shortest unique run")
            << QStringList{"/a/b/CD 1", "/a/c/CD 1", "/d/b/CD 1"}
            << QStringList{"CD 1 — a/b", "CD 1 — c", "CD 1 — d/b"};
        // The top-level folder has one part: its run of two takes all it has.
        QTest::newRow("fewer parts than the run")
            << QStringList{"/Jazz", "/x/Jazz"} << QStringList{"Jazz — ", "Jazz — x"};
        QTest::newRow("names differing only in case are different names")
            << QStringList{"/a/jazz", "/b/Jazz"} << QStringList{"jazz", "Jazz"};
    }
    void labels() {
        QFETCH(QStringList, paths);
        QFETCH(QStringList, labels);
        const QHash<QString, QString> batch = folderLabels(paths);
        for (qsizetype i = 0; i < paths.size(); ++i) {
            QCOMPARE(folderLabel(paths[i], paths), labels[i]);
            QCOMPARE(batch.value(paths[i]), labels[i]);
        }
    }

    // The labels computed once for a whole list are those of the rule applied
    // to each path on its own, over many lists crowded with shared names.
    void batchLabelsAgreeWithTheRule() {
        QRandomGenerator rng(42);
        const QStringList pool{"a", "b", "Jazz", "CD 1", "x"};
        for (int round = 0; round < 200; ++round) {
            QStringList paths;
            const int n = 2 + int(rng.bounded(10));
            for (int i = 0; i < n; ++i) {
                QString p;
                const int depth = 1 + int(rng.bounded(4));
                for (int d = 0; d < depth; ++d)
                    p += "/" + pool[int(rng.bounded(pool.size()))];
                if (!paths.contains(p))
                    paths << p;
            }
            const QHash<QString, QString> batch = folderLabels(paths);
            for (const QString& p : paths)
                QCOMPARE(batch.value(p), folderLabel(p, paths));
        }
    }

    void popupOrder_data() {
        QTest::addColumn<QStringList>("folders");
        QTest::addColumn<QStringList>("order");
        QTest::newRow("numbers by value") << QStringList{"/m/CD 10", "/m/CD 2", "/m/CD 1"}
                                          << QStringList{"CD 1", "CD 2", "CD 10"};
        QTest::newRow("letter case does not matter")
            << QStringList{"/m/beta", "/m/Alpha", "/m/alps", "/m/Gamma"}
            << QStringList{"Alpha", "alps", "beta", "Gamma"};
    }
    void popupOrder() {
        QFETCH(QStringList, folders);
        QFETCH(QStringList, order);
        QCOMPARE(labelsOf(folderList(tracksIn(folders), QLocale(QLocale::English))), order);
    }

    void countsOnlyDirectTracks() {
        const std::vector<Track> rows{at("/M/A/1.flac", 1), at("/M/A/2.flac", 2),
                                      at("/M/A/B/3.flac", 3), at("loose.flac", 4)};
        const std::vector<FolderEntry> list = folderList(rows);
        QCOMPARE(list.size(), std::size_t(2));
        QCOMPARE(list[0].path, QString("/M/A"));
        QCOMPARE(list[0].count, 2);
        QCOMPARE(list[1].path, QString("/M/A/B"));
        QCOMPARE(list[1].label, QString("B"));
        QCOMPARE(list[1].count, 1);
    }
};

QL_TEST_UNIT(FolderListTest)
#include "FolderListTest.moc"
