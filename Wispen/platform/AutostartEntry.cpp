#include "AutostartEntry.h"

#include "ApplicationId.h"
#include "ZedazidEdize.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUrl>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <unistd.h>

namespace {

const QByteArray entryGroup = "[Desktop Entry]";

// The system's description of a failure, or an error without one.
[[noreturn]] void fail(const QString& description) {
    if (description.trimmed().isEmpty())
        throw std::runtime_error("the login item could not be changed");
    throw ZedazidEdize::message(description);
}

QString fileName() {
    return QLatin1String(ApplicationId::id) + QStringLiteral(".desktop");
}

QString autostartIn(const QString& configFolder) {
    return QDir(configFolder).filePath(QStringLiteral("autostart"));
}

std::optional<QByteArray> readFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

} // namespace

AutostartEntry::AutostartEntry(QString configHome, QStringList configDirs, QString executable)
    : m_configHome(std::move(configHome))
    , m_configDirs(std::move(configDirs))
    , m_executable(std::move(executable)) {}

AutostartEntry::AutostartEntry()
    : AutostartEntry(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation), {},
                     QCoreApplication::applicationFilePath()) {
    // Relative entries are invalid and ignored, as the base directory rules say.
    const QString dirs = qEnvironmentVariable("XDG_CONFIG_DIRS");
    for (const QString& dir : dirs.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        if (QDir::isAbsolutePath(dir))
            m_configDirs << dir;
    }
    if (m_configDirs.isEmpty())
        m_configDirs << QStringLiteral("/etc/xdg");
}

QString AutostartEntry::folder() const {
    return autostartIn(m_configHome);
}

QString AutostartEntry::path() const {
    return QDir(folder()).filePath(fileName());
}

bool AutostartEntry::isEnabled() const {
    // The first entry of that name along the search path is the one the desktop reads.
    QStringList candidates{path()};
    for (const QString& dir : m_configDirs)
        candidates << QDir(autostartIn(dir)).filePath(fileName());
    for (const QString& candidate : candidates) {
        if (!QFile::exists(candidate))
            continue;
        const std::optional<QByteArray> text = readFile(candidate);
        return text && isEnabledEntry(*text);
    }
    return false;
}

void AutostartEntry::setRegistered(bool registered) {
    if (!registered) {
        const QByteArray native = QFile::encodeName(path());
        if (::unlink(native.constData()) != 0 && errno != ENOENT)
            fail(QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    if (m_executable.isEmpty() || !QDir::isAbsolutePath(m_executable))
        fail({});
    std::error_code error;
    std::filesystem::create_directories(QFile::encodeName(folder()).toStdString(), error);
    if (error)
        fail(QString::fromStdString(error.message()));
    QSaveFile file(path());
    if (!file.open(QIODevice::WriteOnly))
        fail(file.errorString());
    const QByteArray text = contents(m_executable);
    if (file.write(text) != text.size() || !file.commit())
        fail(file.errorString());
}

void AutostartEntry::openSettings() {
    QDir().mkpath(folder());
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder()));
}

QByteArray AutostartEntry::contents(const QString& executable) {
    QByteArray text = entryGroup + '\n';
    text += "Type=Application\n";
    text += "Name=" + QByteArray(ApplicationId::displayName) + '\n';
    text += "Comment=Push-to-talk dictation\n";
    text += "Exec=" + execValue(executable).toUtf8() + '\n';
    text += "Icon=" + QByteArray(ApplicationId::id) + '\n';
    text += "Terminal=false\n";
    text += "X-GNOME-Autostart-enabled=true\n";
    return text;
}

QString AutostartEntry::execValue(const QString& executable) {
    // Quoted as one argument, with the characters that stay special inside quotes
    // escaped; then '%' (field codes) and the string value's own escapes.
    QString quoted = QStringLiteral("\"");
    for (const QChar c : executable) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
            c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    quoted += QLatin1Char('"');
    QString value;
    for (const QChar c : quoted) {
        if (c == QLatin1Char('\\'))
            value += QStringLiteral("\\\\");
        else if (c == QLatin1Char('%'))
            value += QStringLiteral("%%");
        else if (c == QLatin1Char('\n'))
            value += QStringLiteral("\\n");
        else if (c == QLatin1Char('\t'))
            value += QStringLiteral("\\t");
        else if (c == QLatin1Char('\r'))
            value += QStringLiteral("\\r");
        else
            value += c;
    }
    return value;
}

bool AutostartEntry::isEnabledEntry(const QByteArray& text) {
    bool inEntry = false, sawEntry = false;
    for (const QByteArray& raw : text.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith('[')) {
            inEntry = line == entryGroup;
            sawEntry = sawEntry || inEntry;
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (!inEntry || equals < 0)
            continue;
        const QByteArray key = line.left(equals).trimmed();
        const QByteArray value = line.mid(equals + 1).trimmed();
        if ((key == "Hidden" && value == "true") ||
            (key == "X-GNOME-Autostart-enabled" && value == "false"))
            return false;
    }
    return sawEntry;
}
