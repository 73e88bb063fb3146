#include "LogindSleepNotifier.h"

#include <QDBusConnection>

namespace {

const char* const loginService = "org.freedesktop.login1";
const char* const loginPath = "/org/freedesktop/login1";
const char* const managerInterface = "org.freedesktop.login1.Manager";
const char* const sleepSignal = "PrepareForSleep";

} // namespace

LogindSleepNotifier::~LogindSleepNotifier() {
    stop();
}

bool LogindSleepNotifier::start() {
    if (m_listening)
        return true;
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return false;
    m_listening = bus.connect(QString::fromLatin1(loginService), QString::fromLatin1(loginPath),
                              QString::fromLatin1(managerInterface),
                              QString::fromLatin1(sleepSignal), this, SLOT(prepareForSleep(bool)));
    return m_listening;
}

void LogindSleepNotifier::stop() {
    if (!m_listening)
        return;
    QDBusConnection::systemBus().disconnect(
        QString::fromLatin1(loginService), QString::fromLatin1(loginPath),
        QString::fromLatin1(managerInterface), QString::fromLatin1(sleepSignal), this,
        SLOT(prepareForSleep(bool)));
    m_listening = false;
}

void LogindSleepNotifier::prepareForSleep(bool beforeSleep) {
    // The same signal announces the wake-up with false; only the way down matters.
    if (beforeSleep && onWillSleep)
        onWillSleep();
}
