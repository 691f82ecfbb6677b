// Guards against: a full disk leaving an empty store or settings file in place of the user's data.
// Each row saves one of the program's files in a child process whose file
// size limit is a few bytes: the save must say it failed, leave the old file
// byte for byte, and save the data it kept in memory once the limit is
// lifted. The settings file comes out private (0600) in a private folder.
#include "app/JSONStore.h"
#include "app/Records.h"

#include "CaseRows.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>

#include <sys/stat.h>

using namespace ql;

namespace {
struct Row {
    const char* name;
    const char* mode;
    QString (*file)();
    QByteArray old;
};

QString storeFile() {
    return JSONStore().filePath(QString::fromLatin1(stores::kPlayStats));
}
QString settingsFile() {
    return qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/Quavelark/Quavelark.ini");
}

const std::vector<Row> kRows{
    {"play-stats.json with 48 plays", "store", storeFile,
     R"({"/music/kept.flac":{"plays":48,"last":1700000000}})"},
    {"the settings with the remote token", "settings", settingsFile,
     "[General]\nremoteToken=old-token\nlang=ko\n"},
};
} // namespace

class FullDiskTest : public QObject {
    Q_OBJECT
private slots:
    void savesFailWholeAndRetry_data() { test::addRows(kRows); }
    void savesFailWholeAndRetry() {
        const Row& row = test::currentCase(kRows);
        const QString file = row.file();
        QVERIFY(QDir().mkpath(QFileInfo(file).path()));
        QVERIFY(test::writeFile(file, row.old));

        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QStringLiteral(QL_FULL_DISK_CHILD), {row.mode, file});
        QVERIFY(child.waitForFinished(120000));
        QCOMPARE(child.exitCode(), 0);
        const QJsonObject said = QJsonDocument::fromJson(child.readAllStandardOutput()).object();
        QCOMPARE(said.value("limited"), QJsonValue(false)); // reported as failed
        QCOMPARE(said.value("oldKept"), QJsonValue(true));  // byte for byte
        QCOMPARE(said.value("told"), QJsonValue(true));     // waiting for the status line
        QCOMPARE(said.value("lifted"), QJsonValue(true));

        if (QLatin1String(row.mode) == QLatin1String("store")) {
            const auto stats =
                JSONStore().load<QHash<QString, PlayStat>>(QString::fromLatin1(stores::kPlayStats));
            QVERIFY(stats && stats->size() == 48);
            QCOMPARE(stats->value("/music/47.flac").plays, qint64(48));
        } else {
            const QSettings back(file, QSettings::IniFormat);
            QCOMPARE(back.value("remoteToken").toString(), QString("secret-token"));
            QCOMPARE(back.value("lang").toString(), QString("ko")); // read from the old file
            QCOMPARE(back.value("playerVolume").toDouble(), 37.5);
            struct stat st {};
            QCOMPARE(::stat(QFile::encodeName(file).constData(), &st), 0);
            QCOMPARE(st.st_mode & 0777, mode_t(0600));
        }
        QCOMPARE(QDir(QFileInfo(file).path()).entryList(QDir::Files).size(), 1);
    }
};

QL_TEST_MAIN_CORE(FullDiskTest)
#include "FullDiskTest.moc"
