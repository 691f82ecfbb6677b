// Guards against: a card reservation held against the sound server's rules.
// The card reservation client against a fake sound server, on the private
// session bus CTest gives it (dbus-run-session), never the desktop's.
//
// The fake server answers on a thread of its own: our client waits for its
// answer on the main thread, as the program does.
#include "platform/alsa/DeviceReservation.h"
#include "platform/alsa/CardReserver.h"

#include "TestHome.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusReply>
#include <QDBusVariant>
#include <QThread>

#include <atomic>
#include <memory>

using namespace ql::platform::alsa;

namespace {

const QString kName = QStringLiteral("org.freedesktop.ReserveDevice1.Audio0");
const QString kPath = QStringLiteral("/org/freedesktop/ReserveDevice1/Audio0");
const QString kIface = QStringLiteral("org.freedesktop.ReserveDevice1");

// Named connections to the test's own session bus (the test runs under
// dbus-run-session), closed with the object so no name outlives its row.
class PrivateBus {
public:
    ~PrivateBus() {
        for (const QString& n : m_names)
            QDBusConnection::disconnectFromBus(n);
    }
    QDBusConnection connect(const QString& name) {
        m_names << name;
        return QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
    }

private:
    QStringList m_names;
};

// A sound server holding card 0 at priority 0 (or another), answering on its
// own thread.
class FakeServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ReserveDevice1")
    Q_PROPERTY(int Priority READ priority)
public:
    std::atomic<int> asked{0};
    std::atomic<int> askedWith{-1};
    bool grant = true;
    int delayMs = 0;
    int ownPriority = 0;
    int priority() const { return ownPriority; }

public slots:
    Q_SCRIPTABLE bool RequestRelease(int p) {
        ++asked;
        askedWith = p;
        if (delayMs > 0)
            QThread::msleep(unsigned(delayMs));
        return grant && p > ownPriority;
    }
};

struct Scene {
    PrivateBus bus;
    QThread serverThread;
    FakeServer* server = nullptr;
    QDBusConnection serverBus{QString()};
    QDBusConnection ours{QString()};

    bool start(bool withServer, bool withInterface) {
        ours = bus.connect(QStringLiteral("ours"));
        if (!withServer)
            return ours.isConnected();
        serverBus = bus.connect(QStringLiteral("server"));
        server = new FakeServer;
        server->moveToThread(&serverThread);
        serverThread.start();
        if (withInterface &&
            !serverBus.registerObject(kPath, server,
                                      QDBusConnection::ExportScriptableSlots |
                                          QDBusConnection::ExportScriptableProperties))
            return false;
        const auto r = serverBus.interface()->registerService(
            kName, QDBusConnectionInterface::DontQueueService,
            QDBusConnectionInterface::AllowReplacement);
        return r.isValid() && r.value() == QDBusConnectionInterface::ServiceRegistered &&
               ours.isConnected();
    }
    ~Scene() {
        serverThread.quit();
        serverThread.wait();
        delete server;
    }
    QString owner() {
        const QDBusReply<QString> r = ours.interface()->serviceOwner(kName);
        return r.isValid() ? r.value() : QString();
    }
};

} // namespace

class DeviceReservationTest : public QObject {
    Q_OBJECT
private slots:
    void acquire_data() {
        QTest::addColumn<bool>("withServer");
        QTest::addColumn<bool>("withInterface");
        QTest::addColumn<bool>("grant");
        QTest::addColumn<int>("serverPriority");
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<int>("asked");
        using O = DeviceReservation::Outcome;
        QTest::newRow("nobody holds the card")
            << false << false << false << 0 << 0 << int(O::Acquired) << 0;
        QTest::newRow("server lets go") << true << true << true << 0 << 0 << int(O::Acquired) << 1;
        QTest::newRow("server refuses") << true << true << false << 0 << 0 << int(O::Refused) << 1;
        QTest::newRow("server of equal priority keeps it")
            << true << true << true << 10 << 0 << int(O::Refused) << 1;
        QTest::newRow("holder without the reservation interface")
            << true << false << true << 0 << 0 << int(O::Refused) << 0;
        QTest::newRow("holder that does not answer in time")
            << true << true << true << 0 << 1500 << int(O::Refused) << 1;
    }
    void acquire() {
        QFETCH(bool, withServer);
        QFETCH(bool, withInterface);
        QFETCH(bool, grant);
        QFETCH(int, serverPriority);
        QFETCH(int, delayMs);
        QFETCH(int, outcome);
        QFETCH(int, asked);
        Scene scene;
        QVERIFY(scene.start(withServer, withInterface));
        if (scene.server) {
            scene.server->grant = grant;
            scene.server->ownPriority = serverPriority;
            scene.server->delayMs = delayMs;
        }
        DeviceReservation r(scene.ours, QStringLiteral("Audio0"), 10, QStringLiteral("Quavelark"),
                            QStringLiteral("USB Audio DAC"));
        // A holder that answers gets all the time a loaded machine needs; the
        // silent one is given 300 ms against its 1.5 s delay.
        QCOMPARE(int(r.acquire(delayMs > 0 ? 300 : 5000)), outcome);
        if (scene.server) {
            QTRY_COMPARE(scene.server->asked.load(), asked);
            if (asked > 0)
                QCOMPARE(scene.server->askedWith.load(), 10);
        }
        const bool ours = outcome == int(DeviceReservation::Outcome::Acquired);
        QCOMPARE(r.isHeld(), ours);
        QCOMPARE(scene.owner(), ours ? scene.ours.baseService() : scene.serverBus.baseService());
    }

    void whileHeldWeShowWhoWeAre() {
        Scene scene;
        QVERIFY(scene.start(false, false));
        DeviceReservation r(scene.ours, QStringLiteral("Audio0"), 10, QStringLiteral("Quavelark"),
                            QStringLiteral("USB Audio DAC"));
        QCOMPARE(r.acquire(1000), DeviceReservation::Outcome::Acquired);
        QDBusConnection other = scene.bus.connect(QStringLiteral("other"));
        auto get = [&](const QString& property) -> QVariant {
            QDBusMessage m = QDBusMessage::createMethodCall(
                kName, kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                QStringLiteral("Get"));
            m << kIface << property;
            // Our object answers on this (main) thread: wait with events running.
            QDBusPendingCall pc = other.asyncCall(m, 5000);
            if (!QTest::qWaitFor([&] { return pc.isFinished(); }, 10000))
                return {};
            const QDBusMessage reply = pc.reply();
            if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
                return {};
            return reply.arguments().front().value<QDBusVariant>().variant();
        };
        QCOMPARE(get(QStringLiteral("Priority")).toInt(), 10);
        QCOMPARE(get(QStringLiteral("ApplicationName")).toString(), QStringLiteral("Quavelark"));
        QCOMPARE(get(QStringLiteral("ApplicationDeviceName")).toString(),
                 QStringLiteral("USB Audio DAC"));
    }

    void releaseGivesTheCardBack() {
        Scene scene;
        QVERIFY(scene.start(true, true));
        DeviceReservation r(scene.ours, QStringLiteral("Audio0"), 10, QStringLiteral("Quavelark"),
                            QString());
        QCOMPARE(r.acquire(1000), DeviceReservation::Outcome::Acquired);
        // While we hold it, the server cannot simply take it back without asking.
        auto again = scene.serverBus.interface()->registerService(
            kName, QDBusConnectionInterface::DontQueueService,
            QDBusConnectionInterface::AllowReplacement);
        QVERIFY(again.isValid());
        QCOMPARE(again.value(), QDBusConnectionInterface::ServiceNotRegistered);
        r.release();
        QVERIFY(!r.isHeld());
        QCOMPARE(scene.owner(), QString());
        again = scene.serverBus.interface()->registerService(
            kName, QDBusConnectionInterface::DontQueueService,
            QDBusConnectionInterface::AllowReplacement);
        QCOMPARE(again.value(), QDBusConnectionInterface::ServiceRegistered);
    }

    void requestsFromOthersFollowPriority_data() {
        QTest::addColumn<int>("theirPriority");
        QTest::addColumn<bool>("weAgree");
        QTest::addColumn<bool>("granted");
        QTest::addColumn<int>("callbacks");
        QTest::newRow("higher priority, we close the card") << 20 << true << true << 1;
        QTest::newRow("higher priority, we cannot close it") << 20 << false << false << 1;
        QTest::newRow("equal priority is refused unasked") << 10 << true << false << 0;
    }
    void requestsFromOthersFollowPriority() {
        QFETCH(int, theirPriority);
        QFETCH(bool, weAgree);
        QFETCH(bool, granted);
        QFETCH(int, callbacks);
        Scene scene;
        QVERIFY(scene.start(false, false));
        DeviceReservation r(scene.ours, QStringLiteral("Audio0"), 10, QStringLiteral("Quavelark"),
                            QString());
        int called = 0;
        r.onReleaseRequested = [&] {
            ++called;
            return weAgree;
        };
        QCOMPARE(r.acquire(1000), DeviceReservation::Outcome::Acquired);
        QDBusConnection jack = scene.bus.connect(QStringLiteral("jack"));
        QDBusMessage m =
            QDBusMessage::createMethodCall(kName, kPath, kIface, QStringLiteral("RequestRelease"));
        m << qint32(theirPriority);
        QDBusPendingCall pc = jack.asyncCall(m, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(pc.isFinished(), 10000);
        QCOMPARE(pc.reply().type(), QDBusMessage::ReplyMessage);
        QCOMPARE(pc.reply().arguments().value(0).toBool(), granted);
        QCOMPARE(called, callbacks);
    }

    void takenOverWeAreTold() {
        Scene scene;
        QVERIFY(scene.start(false, false));
        DeviceReservation r(scene.ours, QStringLiteral("Audio0"), 10, QStringLiteral("Quavelark"),
                            QString());
        bool lost = false;
        r.onLost = [&] { lost = true; };
        QCOMPARE(r.acquire(1000), DeviceReservation::Outcome::Acquired);
        QDBusConnection jack = scene.bus.connect(QStringLiteral("jack"));
        const auto taken = jack.interface()->registerService(
            kName, QDBusConnectionInterface::ReplaceExistingService,
            QDBusConnectionInterface::DontAllowReplacement);
        QCOMPARE(taken.value(), QDBusConnectionInterface::ServiceRegistered);
        QTRY_VERIFY(lost);
        QVERIFY(!r.isHeld());
    }

    void withoutABusNothingIsReserved() {
        const QDBusConnection none(QStringLiteral("never-connected"));
        DeviceReservation r(none, QStringLiteral("Audio0"), 10, QStringLiteral("Quavelark"),
                            QString());
        QCOMPARE(r.acquire(100), DeviceReservation::Outcome::Unavailable);
        DBusCardReserver reserver(none);
        QCOMPARE(reserver.reserve(0, QStringLiteral("x")), CardReserver::Outcome::Unavailable);
    }

    void cardReserverNamesTheCardByNumber() {
        Scene scene;
        QVERIFY(scene.start(false, false));
        DBusCardReserver reserver(scene.ours);
        QCOMPARE(reserver.reserve(2, QStringLiteral("DAC")), CardReserver::Outcome::Acquired);
        const QDBusReply<QString> owner = scene.ours.interface()->serviceOwner(
            QStringLiteral("org.freedesktop.ReserveDevice1.Audio2"));
        QCOMPARE(owner.value(), scene.ours.baseService());
        int asked = -1;
        reserver.onReleaseRequested = [&](int card) {
            asked = card;
            return true;
        };
        QDBusConnection jack = scene.bus.connect(QStringLiteral("jack"));
        QDBusMessage m =
            QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.ReserveDevice1.Audio2"),
                                           QStringLiteral("/org/freedesktop/ReserveDevice1/Audio2"),
                                           kIface, QStringLiteral("RequestRelease"));
        m << qint32(100);
        QDBusPendingCall pc = jack.asyncCall(m, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(pc.isFinished(), 10000);
        QCOMPARE(pc.reply().arguments().value(0).toBool(), true);
        QCOMPARE(asked, 2);
        reserver.release(2);
        QCOMPARE(scene.ours.interface()
                     ->serviceOwner(QStringLiteral("org.freedesktop.ReserveDevice1.Audio2"))
                     .value(),
                 QString());
    }
};

QL_TEST_MAIN_CORE(DeviceReservationTest)
#include "DeviceReservationTest.moc"
