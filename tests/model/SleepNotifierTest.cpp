// logind's sleep announcement over a private bus standing in for the system bus.
#include "LogindSleepNotifier.h"
#include "WaitUntil.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString loginService = QStringLiteral("org.freedesktop.login1");

// A dbus-daemon of its own, made the process's system bus before anything connects.
class PrivateSystemBus : public testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = new QTemporaryDir;
        const QString socket = dir->filePath(QStringLiteral("system_bus"));
        address = QStringLiteral("unix:path=") + socket;
        daemon = new QProcess;
        daemon->start(QStringLiteral("dbus-daemon"),
                      {QStringLiteral("--session"), QStringLiteral("--nofork"),
                       QStringLiteral("--nopidfile"), QStringLiteral("--address=") + address});
        ASSERT_TRUE(waitUntil([&] { return QFileInfo::exists(socket); }));
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", address.toUtf8());
    }
    static void TearDownTestSuite() {
        daemon->terminate();
        daemon->waitForFinished(5000);
        delete daemon;
        delete dir;
    }

    // Announces sleep (true) or wake-up (false) from `connection`.
    static void announce(QDBusConnection connection, bool beforeSleep) {
        QDBusMessage signal = QDBusMessage::createSignal(
            QStringLiteral("/org/freedesktop/login1"),
            QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"));
        signal << beforeSleep;
        connection.send(signal);
    }

    static QDBusConnection login() {
        QDBusConnection connection =
            QDBusConnection::connectToBus(address, QStringLiteral("login1"));
        connection.registerService(loginService);
        return connection;
    }

    static inline QTemporaryDir* dir = nullptr;
    static inline QProcess* daemon = nullptr;
    static inline QString address;
};

} // namespace

TEST_F(PrivateSystemBus, OnlyLogindsAnnouncementOfSleepIsPassedOn) {
    LogindSleepNotifier notifier;
    int sleeps = 0;
    notifier.onWillSleep = [&] { ++sleeps; };
    ASSERT_TRUE(notifier.start());
    QDBusConnection logind = login();
    ASSERT_TRUE(waitUntil([&] {
        return QDBusConnection::systemBus().interface()->isServiceRegistered(loginService).value();
    }));

    // The same signal from a client that is not logind, and logind's wake-up: ignored.
    // Signals arrive in order, so when the last one counts once, the others did not.
    QDBusConnection impostor = QDBusConnection::connectToBus(address, QStringLiteral("impostor"));
    announce(impostor, true);
    announce(logind, false);
    announce(logind, true);
    ASSERT_TRUE(waitUntil([&] { return sleeps >= 1; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(sleeps, 1);

    // A stopped notifier hears nothing; a second one, still listening, marks the moment.
    LogindSleepNotifier witness;
    int witnessed = 0;
    witness.onWillSleep = [&] { ++witnessed; };
    ASSERT_TRUE(witness.start());
    notifier.stop();
    announce(logind, true);
    ASSERT_TRUE(waitUntil([&] { return witnessed == 1; }));
    EXPECT_EQ(sleeps, 1);

    QDBusConnection::disconnectFromBus(QStringLiteral("impostor"));
    QDBusConnection::disconnectFromBus(QStringLiteral("login1"));
}
