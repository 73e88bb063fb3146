#include "BundledService.h"

#include "ServiceAddress.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QUrl>

#include <csignal>
#include <sys/prctl.h>

namespace {

const QString executableName = QStringLiteral("wispen-service");

QUrl bundledUrl() {
    return QUrl(QString::fromLatin1(ServiceAddress::defaultBaseUrl));
}

} // namespace

BundledService::BundledService(QString program, QObject* parent)
    : QObject(parent)
    , m_program(std::move(program)) {}

BundledService::~BundledService() {
    stop();
}

QString BundledService::locate() {
    const QString beside = QDir(QCoreApplication::applicationDirPath()).filePath(executableName);
    if (QFileInfo(beside).isExecutable())
        return beside;
    return QStandardPaths::findExecutable(executableName);
}

bool BundledService::running() const {
    return m_process && m_process->state() != QProcess::NotRunning;
}

void BundledService::ensureRunning() {
    if (m_program.isEmpty() || running() || m_probe ||
        ServiceAddress::baseUrl().adjusted(QUrl::StripTrailingSlash) != bundledUrl())
        return;
    // A service that someone else started (a script, another user session's
    // choice) is used as it is; only a refused connection means nobody is there.
    m_probe = new QTcpSocket(this);
    connect(m_probe, &QTcpSocket::connected, this, [this] {
        m_probe->abort();
        m_probe->deleteLater();
        m_probe = nullptr;
    });
    connect(m_probe, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
        m_probe->deleteLater();
        m_probe = nullptr;
        start();
    });
    m_probe->connectToHost(bundledUrl().host(), quint16(bundledUrl().port()));
}

void BundledService::start() {
    if (running())
        return;
    if (!m_process) {
        m_process = new QProcess(this);
        // The service prints where it listens; nothing of ours is logged.
        m_process->setStandardOutputFile(QProcess::nullDevice());
        m_process->setStandardErrorFile(QProcess::nullDevice());
        // Should we die without stopping it, the kernel ends it with us.
        m_process->setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
        connect(m_process, &QProcess::started, this, &BundledService::started);
    }
    const QUrl url = bundledUrl();
    m_process->start(m_program, {QStringLiteral("--host"), url.host(), QStringLiteral("--port"),
                                 QString::number(url.port()), QStringLiteral("--exit-when-idle"),
                                 QString::number(idleExitSeconds)});
}

void BundledService::stop() {
    if (!running())
        return;
    m_process->terminate();
    if (!m_process->waitForFinished(stopGraceMs)) {
        m_process->kill();
        m_process->waitForFinished(stopGraceMs);
    }
}
