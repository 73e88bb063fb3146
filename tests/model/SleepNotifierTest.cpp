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

// Announces sleep (true) or wake-up (false) from `connection`.
void announce(QDBusConnection connection, bool beforeSleep) {
    QDBusMessage signal = QDBusMessage::createSignal(
        QStringLiteral("/org/freedesktop/login1"), QStringLiteral("org.freedesktop.login1.Manager"),
        QStringLiteral("PrepareForSleep"));
    signal << beforeSleep;
    connection.send(signal);
}

} // namespace

TEST(LogindSleepNotifier, OnlyLogindsAnnouncementOfSleepIsPassedOn) {
    // A dbus-daemon of its own, made the process's system bus before anything connects.
    QTemporaryDir dir;
    const QString socket = dir.filePath(QStringLiteral("system_bus"));
    const QString address = QStringLiteral("unix:path=") + socket;
    QProcess daemon;
    daemon.start(QStringLiteral("dbus-daemon"),
                 {QStringLiteral("--session"), QStringLiteral("--nofork"),
                  QStringLiteral("--nopidfile"), QStringLiteral("--address=") + address});
    ASSERT_TRUE(waitUntil([&] { return QFileInfo::exists(socket); }));
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", address.toUtf8());

    LogindSleepNotifier notifier;
    int sleeps = 0;
    notifier.onWillSleep = [&] { ++sleeps; };
    QDBusConnection logind = QDBusConnection::connectToBus(address, QStringLiteral("login1"));
    logind.registerService(loginService);
    ASSERT_TRUE(waitUntil([&] {
        return QDBusConnection::systemBus().interface()->isServiceRegistered(loginService).value();
    }));
    // As on a real system, logind is there first: the notifier learns its owner as it
    // starts, instead of from a name change it may still be processing.
    ASSERT_TRUE(notifier.start());

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
