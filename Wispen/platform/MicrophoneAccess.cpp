#include "MicrophoneAccess.h"

#include <QDir>
#include <QFile>
#include <QTimer>
#include <QtGlobal>

#include <cerrno>
#include <unistd.h>

QString MicrophoneAccess::serverSocketPath() {
    // PULSE_SERVER lists servers separated by spaces, each "unix:/path", "tcp:host",
    // "{machine-id}unix:/path" or a bare path; the first local socket is the one used.
    const QStringList servers =
        qEnvironmentVariable("PULSE_SERVER").split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (QString server : servers) {
        if (server.startsWith(QLatin1Char('{')))
            server = server.mid(server.indexOf(QLatin1Char('}')) + 1);
        if (server.startsWith(QLatin1String("unix:")))
            return server.mid(5);
        if (server.startsWith(QLatin1Char('/')))
            return server;
    }
    if (!servers.isEmpty())
        return {};
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty())
        return {};
    return QDir(runtime).filePath(QStringLiteral("pulse/native"));
}

bool MicrophoneAccess::isGranted() {
    const QString path = serverSocketPath();
    if (path.isEmpty())
        return true;
    const QByteArray native = QFile::encodeName(path);
    if (::access(native.constData(), F_OK) != 0)
        return true;
    return ::access(native.constData(), R_OK | W_OK) == 0 || errno != EACCES;
}

void MicrophoneAccess::request(std::function<void(bool granted)> completion) {
    QTimer::singleShot(0, [completion = std::move(completion)] { completion(isGranted()); });
}
