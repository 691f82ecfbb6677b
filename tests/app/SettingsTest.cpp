// Guards against: settings lost, misread or written where they should not be.
#include "analysis/WaveformView.h"
#include "app/App.h"
#include "app/AppPaths.h"
#include "app/UserDefaults.h"
#include "effects/FXPanel.h"
#include "listening/NowPlayingWindow.h"
#include "platform/Platform.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"

#include "StoredSettings.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QSysInfo>

#include <cerrno>
#include <limits>

using namespace ql;
using test::readFile;
using test::writeFile;

namespace {
using Stats = QHash<QString, PlayStat>;

QString storePath(const char* name) {
    return appSupportDir() + QLatin1Char('/') + QLatin1String(name);
}

// Settings as a later start finds them: the one-time reset already ran.
void afterTheReset(UserDefaults& d) {
    d.set(keys::kFxResetV1, true);
}

struct Launched {
    platform::Platform plat;
    App app{plat};
    Launched() { app.loadExtras(); }
};
} // namespace

class SettingsTest : public QObject {
    Q_OBJECT
private slots:
    // Every test starts from empty settings and no data folder.
    void init() {
        test::clearSettings();
        QDir(appSupportDir()).removeRecursively();
    }

    void firstRun() {
        Launched l;
        const App& app = l.app;
        QVERIFY(app.playback.maxQuality);
        QVERIFY(app.playback.rateMatchOn);
        QVERIFY(app.playback.gaplessOn);
        QVERIFY(!app.playback.bitPerfect);
        QVERIFY(!app.playback.hogOn);
        QVERIFY(!app.listening.crossfadeOn);
        QVERIFY(!app.listening.levelingOn);
        QCOMPARE(app.browser.viewKind, 1);
        QCOMPARE(app.listening.smartMode, 0);
        QVERIFY(!app.listening.sonicOn);
        QCOMPARE(app.playback.playRate, 1.0);
        QCOMPARE(app.playback.upMode, 0);
        QCOMPARE(app.playback.outputUID, std::nullopt);
        QVERIFY(app.playback.stats.isEmpty());
        QVERIFY(app.listening.favorites.isEmpty());
        QVERIFY(app.fxPanel->bypass);

        // The one-time reset switched the effects off, wrote "fx.json" and
        // marked itself done.
        QVERIFY(!app.fxPanel->state.enabled);
        const auto fx = JSONStore().load<FXState>("fx.json");
        QVERIFY(fx);
        QCOMPARE(*fx, FXState{});
        UserDefaults d;
        QCOMPARE(d.boolIfPresent(keys::kFxResetV1), std::optional<bool>(true));
        QCOMPARE(d.boolIfPresent(keys::kMaxQuality), std::optional<bool>(true));
        QCOMPARE(d.boolIfPresent(keys::kBitPerfect), std::optional<bool>(false));

        QCOMPARE(app.smartPicker->currentIndex(), 0);
    }

    void resetKeepsEveryOtherEffectSetting() {
        FXState stored;
        stored.enabled = true;
        stored.preset = "록";
        stored.gains = {4, 2, -2, 3, 4};
        stored.wide = true;
        stored.plugins[2] = PluginSlot{"mda · Delay", 1, 2, 3, QByteArray("saved")};
        QVERIFY(JSONStore().save("fx.json", stored));
        UserDefaults d;
        d.set(keys::kMaxQuality, false);
        d.set(keys::kBitPerfect, true);

        Launched l;
        FXState expected = stored;
        expected.enabled = false;
        QCOMPARE(l.app.fxPanel->state, expected);
        QCOMPARE(JSONStore().load<FXState>("fx.json").value_or(FXState{}), expected);
        // The reset also puts the modes back to maximum quality.
        QVERIFY(l.app.playback.maxQuality);
        QVERIFY(!l.app.playback.bitPerfect);
    }

    // An "fx.json" the reset cannot write: the effects are off for this run,
    // the file stays as it was, the failure is told, and the reset is done:
    // the next start keeps the modes the user chose meanwhile.
    void aResetThatCannotBeSavedRunsOnce() {
        L10n::setLanguage("en");
        FXState stored;
        stored.enabled = true;
        QVERIFY(JSONStore().save("fx.json", stored));
        const QByteArray before = readFile(storePath("fx.json"));
        QVERIFY(QFile::setPermissions(storePath("fx.json"), QFile::ReadOwner));
        JSONStore::takeOutcomes(); // those of earlier tests
        {
            Launched l;
            QVERIFY(!l.app.fxPanel->state.enabled);
            l.app.tellStoreFaults();
            QCOMPARE(l.app.status->stringValue(),
                     "Couldn't save: fx.json (" + qt_error_string(EACCES) + ")");
        }
        QCOMPARE(readFile(storePath("fx.json")), before);
        QCOMPARE(UserDefaults().boolIfPresent(keys::kFxResetV1), std::optional<bool>(true));

        // The user's choice of modes, after the reset.
        test::storeSetting(keys::kMaxQuality, false);
        test::storeSetting(keys::kBitPerfect, true);
        Launched l;
        QVERIFY(!l.app.playback.maxQuality);
        QVERIFY(l.app.playback.bitPerfect);
        QCOMPARE(readFile(storePath("fx.json")), before);
        QVERIFY(QFile::setPermissions(storePath("fx.json"), QFile::ReadOwner | QFile::WriteOwner));
    }

    void resetRunsOnlyOnce() {
        FXState stored;
        stored.enabled = true;
        QVERIFY(JSONStore().save("fx.json", stored));
        const QByteArray before = readFile(storePath("fx.json"));
        UserDefaults d;
        afterTheReset(d);
        d.set(keys::kMaxQuality, false);
        Launched l;
        QVERIFY(l.app.fxPanel->state.enabled);
        QCOMPARE(readFile(storePath("fx.json")), before);
        QVERIFY(!l.app.playback.maxQuality);
    }

    void modes_data() {
        QTest::addColumn<QVariant>("maxQuality"); // invalid: key absent
        QTest::addColumn<QVariant>("bitPerfect");
        QTest::addColumn<bool>("maxOn");
        QTest::addColumn<bool>("bitOn");
        QTest::addColumn<bool>("bypass");
        QTest::newRow("max off, bit-perfect on")
            << QVariant(false) << QVariant(true) << false << true << true;
        QTest::newRow("both on: maximum quality wins")
            << QVariant(true) << QVariant(true) << true << false << true;
        QTest::newRow("both off: effects not bypassed")
            << QVariant(false) << QVariant(false) << false << false << false;
        QTest::newRow("max absent counts as on")
            << QVariant() << QVariant(true) << true << false << true;
        QTest::newRow("stored as text \"0\" and \"yes\"")
            << QVariant("0") << QVariant("yes") << false << true << true;
        QTest::newRow("unreadable max falls back to on")
            << QVariant("maybe") << QVariant(true) << true << false << true;
        QTest::newRow("unreadable bit-perfect reads as off")
            << QVariant(false) << QVariant("sometimes") << false << false << false;
    }
    void modes() {
        QFETCH(QVariant, maxQuality);
        QFETCH(QVariant, bitPerfect);
        QFETCH(bool, maxOn);
        QFETCH(bool, bitOn);
        QFETCH(bool, bypass);
        UserDefaults d;
        afterTheReset(d);
        if (maxQuality.isValid())
            d.set(keys::kMaxQuality, maxQuality);
        d.set(keys::kBitPerfect, bitPerfect);
        Launched l;
        QCOMPARE(l.app.playback.maxQuality, maxOn);
        QCOMPARE(l.app.playback.bitPerfect, bitOn);
        QCOMPARE(l.app.fxPanel->bypass, bypass);
    }

    void exclusiveModeIsNeverCarriedOver() {
        UserDefaults d;
        d.set(keys::kHogMode, true);
        d.sync();
        Launched l;
        QVERIFY(!l.app.playback.hogOn);
        QVERIFY(!UserDefaults().contains(keys::kHogMode));
        QVERIFY(!readFile(UserDefaults().fileName()).contains("hogMode"));
    }

    // Stored values the launch must not take as they are; each row stores
    // one key and reads one field back as text.
    void storedValues_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("value");
        QTest::newRow("view kind unreadable: 1") << "viewKind" << QVariant("grid") << "viewKind"
                                                 << "1";
        QTest::newRow("smart mode 9 kept") << "smartMode" << QVariant(9) << "smartMode"
                                           << "9";
        QTest::newRow("smart mode 9: pop-up on its last item")
            << "smartMode" << QVariant(9) << "picker"
            << "6";
        QTest::newRow("smart mode -2: pop-up on all tracks")
            << "smartMode" << QVariant(-2) << "picker"
            << "0";
        QTest::newRow("speed 7 kept as stored") << "playRate" << QVariant(7.0) << "playRate"
                                                << "7";
        QTest::newRow("speed unreadable: 1.0") << "playRate" << QVariant("fast") << "playRate"
                                               << "1";
        QTest::newRow("speed NaN: 1.0") << "playRate" << QVariant("nan") << "playRate"
                                        << "1";
        QTest::newRow("device UID with a comma")
            << "outputUID" << QVariant("hw:CARD=PCH,DEV=0") << "outputUID"
            << "hw:CARD=PCH,DEV=0";
    }
    void storedValues() {
        QFETCH(QString, key);
        QFETCH(QVariant, stored);
        QFETCH(QString, field);
        QFETCH(QString, value);
        UserDefaults d;
        afterTheReset(d);
        d.set(key, stored);
        d.sync();
        Launched l;
        const App& a = l.app;
        const QHash<QString, QString> fields{
            {"viewKind", QString::number(a.browser.viewKind)},
            {"smartMode", QString::number(a.listening.smartMode)},
            {"picker", QString::number(a.smartPicker->currentIndex())},
            {"playRate", QString::number(a.playback.playRate)},
            {"outputUID", a.playback.outputUID.value_or("<none>")},
        };
        QCOMPARE(fields.value(field, "<no such field>"), value);
    }

    void storesAreLoaded() {
        const JSONStore store;
        QVERIFY(store.save("play-stats.json", Stats{{"/a", {3, 100.5}}}));
        QVERIFY(store.save("loudness.json", QHash<QString, double>{{"/a", -9.5}}));
        QVERIFY(store.save("quality.json", QHash<QString, QString>{{"/a", "★"}}));
        QVERIFY(store.save("genres.json", QHash<QString, QString>{{"/a", "Jazz"}}));
        QVERIFY(writeFile(storePath("favorites.json"), "[\"/a\",\"/b\",\"/a\"]"));
        QVERIFY(store.save("sonic.json",
                           QHash<QString, Sonic>{{"/a", {120, -12, 4, 0.1, 1999, true}}}));
        Launched l;
        const App& a = l.app;
        QCOMPARE(a.playback.stats, (Stats{{"/a", {3, 100.5}}}));
        QCOMPARE(a.playback.loud, (QHash<QString, double>{{"/a", -9.5}}));
        QCOMPARE(a.library.qual, (QHash<QString, QString>{{"/a", "★"}}));
        QCOMPARE(a.library.genres.toHash(), (QHash<QString, QString>{{"/a", "Jazz"}}));
        QCOMPARE(a.listening.favorites, (QSet<QString>{"/a", "/b"}));
        QCOMPARE(a.listening.sonic.value("/a"), (Sonic{120, -12, 4, 0.1, 1999, true}));
    }

    // A settings write killed midway left its scratch copy of the settings
    // (the remote token in it) and QSettings' lock: the next start removes
    // them and keeps the settings themselves.
    void aKilledSettingsWriteLeavesNothingAfterTheNextStart() {
        UserDefaults d;
        d.set(keys::kRemoteToken, QStringLiteral("kept-token"));
        QVERIFY(d.sync());
        const QString folder = QFileInfo(d.fileName()).path();
        const QString scratch = folder + "/.Quavelark-settings-K1lled.ini";
        QVERIFY(writeFile(scratch, "[General]\nremoteToken=kept-token\n"));
        // The lock of a process that is gone, on this machine.
        QVERIFY(writeFile(scratch + ".lock",
                          "999999999\nquavelark\n" + QSysInfo::machineHostName().toUtf8() + '\n'));
        Launched l;
        QVERIFY(!QFile::exists(scratch));
        QVERIFY(!QFile::exists(scratch + ".lock"));
        QCOMPARE(UserDefaults().string(keys::kRemoteToken), std::optional<QString>("kept-token"));
    }

    // One damaged store starts empty (its copy is kept by the store on the
    // next save); the others still load.
    void aDamagedStoreStartsEmpty() {
        QVERIFY(JSONStore().save("quality.json", QHash<QString, QString>{{"/a", "★"}}));
        QVERIFY(writeFile(storePath("play-stats.json"), "{\"/b\":{\"plays\":2}}"));
        Launched l;
        QVERIFY(l.app.playback.stats.isEmpty());
        QCOMPARE(l.app.library.qual.size(), 1);
    }

    // A damaged store is moved aside at launch, after every store was read
    // and before any save, and the status line names it and its copy in the
    // language of the interface, once.
    void aDamagedStoreIsSetAsideAndTold_data() {
        QTest::addColumn<QString>("lang");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("sentence");
        const QString en = "A damaged file was set aside: ";
        const QString ko = "손상된 파일을 따로 보관했습니다: ";
        QTest::newRow("empty play counts, English") << "en"
                                                    << "play-stats.json" << QByteArray() << en;
        QTest::newRow("cut favourites, Korean") << "ko"
                                                << "favorites.json" << QByteArray("[\"/a\",") << ko;
    }
    void aDamagedStoreIsSetAsideAndTold() {
        QFETCH(QString, lang);
        QFETCH(QString, file);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, sentence);
        L10n::setLanguage(lang);
        JSONStore::takeOutcomes(); // those of earlier tests
        QVERIFY(JSONStore().save("quality.json", QHash<QString, QString>{{"/a", "★"}}));
        QVERIFY(writeFile(storePath(file.toLatin1().constData()), bytes));
        Launched l;
        const QStringList copies = QDir(appSupportDir()).entryList({file + ".corrupt-*"});
        QCOMPARE(copies.size(), 1);
        QCOMPARE(readFile(appSupportDir() + "/" + copies[0]), bytes);
        QVERIFY(!QFile::exists(storePath(file.toLatin1().constData())));
        QCOMPARE(l.app.library.qual.size(), 1); // the others loaded
        l.app.tellStoreFaults();
        QCOMPARE(l.app.status->stringValue(), sentence + file + " → " + copies[0]);
        l.app.status->setStringValue("next");
        l.app.status->setClock([] { return std::numeric_limits<qint64>::max() / 2; });
        l.app.tellStoreFaults();
        QCOMPARE(l.app.status->stringValue(), QString("next"));
        L10n::setLanguage("en");
    }

    // A save that fails is told once per cause; the play counts stay in
    // memory, marked for the tick to write again (TickTest).
    void aFailedSaveIsToldOnceAndRetried() {
        L10n::setLanguage("en");
        JSONStore::takeOutcomes(); // those of earlier tests
        QVERIFY(JSONStore().save("play-stats.json", Stats{{"/old", {1, 1}}}));
        QVERIFY(QFile::setPermissions(storePath("play-stats.json"), QFile::ReadOwner));
        Launched l;
        App& a = l.app;
        a.playback.current = Track{1, "/m/a.flac", {}, {}, {}, 10, {}};
        for (int i = 0; i < 10; ++i)
            a.countTick(true, 10, 1000);
        QVERIFY(a.playback.counted && a.playback.statsDirty);
        a.tellStoreFaults();
        QCOMPARE(a.status->stringValue(),
                 "Couldn't save: play-stats.json (" + qt_error_string(EACCES) + ")");
        a.status->setStringValue("next");
        a.status->setClock([] { return std::numeric_limits<qint64>::max() / 2; });
        QVERIFY(!JSONStore().save("play-stats.json", a.playback.stats)); // the same cause again
        a.tellStoreFaults();
        QCOMPARE(a.status->stringValue(), QString("next"));
        QVERIFY(QFile::setPermissions(storePath("play-stats.json"),
                                      QFile::ReadOwner | QFile::WriteOwner));
    }

    // A change whose save failed (a read-only or full folder) is still this
    // run's own when another program writes the file before the next save:
    // the next save keeps it beside the other program's keys.
    void anUnsavedChangeOutlivesAnOutsideWrite() {
        UserDefaults d;
        d.set("kept", "first");
        QVERIFY(d.sync());
        const QString file = d.fileName();
        const QString folder = QFileInfo(file).path();
        const auto all = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
        d.set("kept", "changed");
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        const bool saved = d.sync();
        QVERIFY(QFile::setPermissions(folder, all));
        QVERIFY(!saved);
        {
            QSettings other(file, QSettings::IniFormat);
            other.setValue("kept", "theirs");
            other.setValue("added", "theirs");
        }
        QVERIFY(d.sync());
        const QSettings back(file, QSettings::IniFormat);
        QCOMPARE(back.value("kept").toString(), QString("changed"));
        QCOMPARE(back.value("added").toString(), QString("theirs"));
        QCOMPARE(d.string("kept"), std::optional<QString>("changed"));
        JSONStore::takeOutcomes();
    }

    void saveExtrasWritesTheFiveStoresAndNoSetting() {
        UserDefaults d;
        d.set(keys::kPlayRate, 1.25);
        Launched l;
        App& a = l.app;
        UserDefaults().sync();
        const QByteArray settingsBefore = readFile(UserDefaults().fileName());
        const QByteArray fxBefore = readFile(storePath("fx.json"));
        a.playback.stats = {{"/a", {2, 10}}};
        a.playback.loud = {{"/a", -8.25}};
        a.library.qual = {{"/a", "⬆"}};
        a.library.genres = {{"/a", "Rock"}};
        a.listening.favorites = {"/a", "/c"};
        a.listening.sonic = {{"/a", Sonic{}}};
        a.playback.playRate = 2.0;
        a.fxPanel->state.enabled = true;

        a.saveExtras();

        QStringList files = QDir(appSupportDir()).entryList(QDir::Files);
        files.sort();
        QCOMPARE(files, (QStringList{"favorites.json", "fx.json", "loudness.json",
                                     "play-stats.json", "quality.json", "sonic.json"}));
        QCOMPARE(readFile(storePath("fx.json")), fxBefore);
        UserDefaults().sync();
        QCOMPARE(readFile(UserDefaults().fileName()), settingsBefore);
        QVERIFY(a.listening.sonicStop->load());

        const JSONStore store;
        QCOMPARE(store.load<Stats>("play-stats.json").value_or(Stats{}), a.playback.stats);
        QCOMPARE((store.load<QHash<QString, double>>("loudness.json")
                      .value_or(QHash<QString, double>{})),
                 a.playback.loud);
        QCOMPARE((store.load<QHash<QString, QString>>("quality.json")
                      .value_or(QHash<QString, QString>{})),
                 a.library.qual);
        QCOMPARE(store.load<QSet<QString>>("favorites.json").value_or(QSet<QString>{}),
                 a.listening.favorites);
        QCOMPARE(
            (store.load<QHash<QString, Sonic>>("sonic.json").value_or(QHash<QString, Sonic>{})),
            a.listening.sonic);
    }

    void countTickCountsOnceAndSavesAtOnce() {
        Launched l;
        App& a = l.app;
        a.playback.current = Track{1, "/m/a.flac", {}, {}, {}, 20, {}};
        a.playback.stats = {{"/m/a.flac", {4, 100}}, {"/m/b.flac", {1, 50}}};
        for (int i = 0; i < 19; ++i)
            a.countTick(true, 20, 1000);
        QVERIFY(!a.playback.counted);
        QVERIFY(!QFile::exists(storePath("play-stats.json")));
        a.countTick(true, 20, 1712345678.5);
        QVERIFY(a.playback.counted);
        const Stats expected{{"/m/a.flac", {5, 1712345678.5}}, {"/m/b.flac", {1, 50}}};
        QCOMPARE(a.playback.stats, expected);
        QCOMPARE(JSONStore().load<Stats>("play-stats.json").value_or(Stats{}), expected);
        for (int i = 0; i < 100; ++i)
            a.countTick(true, 20, 2000);
        QCOMPARE(a.playback.stats.value("/m/a.flac").plays, 5);
    }

    void countTickWaitsForPlayAndATrack_data() {
        QTest::addColumn<bool>("playing");
        QTest::addColumn<bool>("hasTrack");
        QTest::newRow("paused") << false << true;
        QTest::newRow("no current track") << true << false;
    }
    void countTickWaitsForPlayAndATrack() {
        QFETCH(bool, playing);
        QFETCH(bool, hasTrack);
        Launched l;
        App& a = l.app;
        if (hasTrack)
            a.playback.current = Track{1, "/m/a.flac", {}, {}, {}, 4, {}};
        for (int i = 0; i < 40; ++i)
            a.countTick(playing, 4, 1000);
        QCOMPARE(a.playback.playedSecs, 0.0);
        QVERIFY(!a.playback.counted);
        QVERIFY(a.playback.stats.isEmpty());
        // With no player loaded the live tick counts nothing either.
        a.playback.current = Track{1, "/m/a.flac", {}, {}, {}, 4, {}};
        a.countTick();
        QCOMPARE(a.playback.playedSecs, 0.0);
    }

    void peekNextReadsTheControllerState() {
        Launched l;
        App& a = l.app;
        a.library.rows = {Track{1, "/1", {}, {}, {}, 1, {}}, Track{2, "/2", {}, {}, {}, 1, {}},
                          Track{3, "/3", {}, {}, {}, 1, {}}};
        a.browser.filtered = {a.library.rows[0], a.library.rows[1]};
        a.playback.current = a.library.rows[1];
        QCOMPARE(a.peekNext().value_or(Track{}).id, 1);
        a.listening.radioQueue = {42, 3};
        QCOMPARE(a.peekNext().value_or(Track{}).id, 3);
        QCOMPARE(a.listening.radioQueue, (QList<qint64>{42, 3})); // nothing consumed
    }

    // Nothing is loaded: a seek from either waveform changes nothing.
    void seekWithoutAPlayerChangesNothing() {
        Launched l;
        App& a = l.app;
        a.playback.current = Track{1, "/m/a.flac", {}, {}, {}, 100, {}};
        a.wave->onSeek(0.5);
        a.nowPlaying->wave->onSeek(std::numeric_limits<double>::quiet_NaN());
        QCOMPARE(a.playback.current->id, 1);
        QCOMPARE(a.playback.playedSecs, 0.0);
    }
};

QL_TEST_MAIN(SettingsTest)
#include "SettingsTest.moc"
