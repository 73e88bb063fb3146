#include "AccessibilityStatus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>

namespace {

const char* const busService = "org.a11y.Bus";
const char* const busPath = "/org/a11y/bus";
const char* const propertiesInterface = "org.freedesktop.DBus.Properties";
const char* const statusInterface = "org.a11y.Status";

} // namespace

bool AccessibilityStatus::isEnabled() {
    QDBusMessage call = QDBusMessage::createMethodCall(busService, busPath, propertiesInterface,
                                                       QStringLiteral("Get"));
    call << QString::fromLatin1(statusInterface) << QStringLiteral("IsEnabled");
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, busTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return false;
    const QVariant value = reply.arguments().constFirst().value<QDBusVariant>().variant();
    return value.typeId() == QMetaType::Bool && value.toBool();
}

bool AccessibilityStatus::setEnabled(bool enabled) {
    QDBusMessage call = QDBusMessage::createMethodCall(busService, busPath, propertiesInterface,
                                                       QStringLiteral("Set"));
    call << QString::fromLatin1(statusInterface) << QStringLiteral("IsEnabled")
         << QVariant::fromValue(QDBusVariant(enabled));
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, busTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage && isEnabled() == enabled;
}
