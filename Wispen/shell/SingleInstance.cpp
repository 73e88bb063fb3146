#include "SingleInstance.h"

#include "ApplicationId.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace {

const QString objectPath = QStringLiteral("/org/wispenrezuraz/WispenRezuraz");

} // namespace

SingleInstance::SingleInstance(QObject* parent)
    : QObject(parent) {}

SingleInstance::Claim SingleInstance::claim(bool showSettings) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return Claim::noBus;
    const QString name = QString::fromLatin1(ApplicationId::id);
    // The object is there before the name, so a reopen call never finds it missing.
    bus.registerObject(objectPath, this, QDBusConnection::ExportScriptableSlots);
    const auto reply =
        bus.interface()->registerService(name, QDBusConnectionInterface::DontQueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered)
        return Claim::first;
    bus.unregisterObject(objectPath);
    if (!reply.isValid() && !bus.interface()->isServiceRegistered(name))
        return Claim::noBus;
    QDBusMessage call =
        QDBusMessage::createMethodCall(name, objectPath, name, QStringLiteral("Reopen"));
    call << showSettings;
    bus.call(call, QDBus::Block, reopenTimeoutMs);
    return Claim::another;
}

void SingleInstance::Reopen(bool showSettings) {
    emit reopenRequested(showSettings);
}
