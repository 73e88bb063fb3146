#include "RecordingFolders.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <cerrno>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString prefix = QStringLiteral("wispen-");

QString readBootId() {
    QFile file(QStringLiteral("/proc/sys/kernel/random/boot_id"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QString id = QString::fromLatin1(file.read(64)).trimmed();
    return QUuid::fromString(id).isNull() ? QString() : id;
}

// Signal 0 only asks whether the process exists; EPERM means it does, as someone
// else's.
bool isRunning(qint64 pid) {
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

} // namespace

namespace RecordingFolders {

Owner self() {
    static const QString boot = readBootId();
    return {static_cast<qint64>(::getpid()), boot};
}

QString name(const Owner& owner, const QUuid& id) {
    const QString unique = id.toString(QUuid::WithoutBraces).toUpper();
    if (owner.boot.isEmpty())
        return prefix + unique;
    return prefix + QStringLiteral("%1-%2-%3").arg(owner.pid).arg(owner.boot, unique);
}

std::optional<Owner> ownerOf(const QString& name) {
    static const QRegularExpression pattern(
        QStringLiteral("^wispen-([1-9][0-9]{0,9})-([0-9a-f-]{36})-[0-9A-F-]{36}$"));
    const QRegularExpressionMatch match = pattern.match(name);
    if (!match.hasMatch() || QUuid::fromString(match.capturedView(2)).isNull())
        return std::nullopt;
    return Owner{match.captured(1).toLongLong(), match.captured(2)};
}

bool isAbandoned(const Owner& owner, const QString& currentBoot,
                 const std::function<bool(qint64 pid)>& isRunning) {
    if (currentBoot.isEmpty())
        return false;
    return owner.boot != currentBoot || !isRunning(owner.pid);
}

void sweep(const QString& directory) {
    if (directory.isEmpty() || QDir::isRelativePath(directory))
        return;
    const QDir parent(directory);
    const QString boot = self().boot;
    for (const QString& entry : parent.entryList({prefix + QLatin1Char('*')},
                                                 QDir::Dirs | QDir::NoSymLinks | QDir::Hidden)) {
        const std::optional<Owner> owner = ownerOf(entry);
        if (!owner || !isAbandoned(*owner, boot, isRunning))
            continue;
        // Checked again without following links: only our own real folders go.
        const QString path = parent.filePath(entry);
        struct stat status {};
        if (::lstat(QFile::encodeName(path).constData(), &status) != 0 ||
            !S_ISDIR(status.st_mode) || status.st_uid != ::geteuid())
            continue;
        QDir(path).removeRecursively();
    }
}

} // namespace RecordingFolders
