#include "FileUserDefaults.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>

#include <sys/stat.h>

namespace {

// A settings file larger than this is not settings; it is set aside unread.
constexpr qint64 maximumFileBytes = 4 * 1024 * 1024;

} // namespace

FileUserDefaults::FileUserDefaults(QString path)
    : m_path(std::move(path)) {
    load();
}

QString FileUserDefaults::defaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/wispen-rezuraz/settings.json");
}

FileUserDefaults& FileUserDefaults::standard() {
    static FileUserDefaults defaults;
    return defaults;
}

QVariant FileUserDefaults::value(const QString& key) const {
    return m_values.value(key);
}

void FileUserDefaults::setValue(const QString& key, const QVariant& value) {
    m_values.insert(key, value);
    write();
}

void FileUserDefaults::remove(const QString& key) {
    if (m_values.remove(key) > 0)
        write();
}

void FileUserDefaults::load() {
    QFile file(m_path);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly) || file.size() > maximumFileBytes) {
        m_setAside = true;
        return;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        m_setAside = true;
        return;
    }
    m_values = document.object().toVariantMap();
}

void FileUserDefaults::write() {
    m_lastWriteSucceeded = false;
    // The settings are the user's alone (they name the service used and what was
    // done to the keyboard): the folder is 0700 and the file 0600, whatever the umask.
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!QDir().mkpath(folder) || ::chmod(QFile::encodeName(folder).constData(), 0700) != 0)
        return;
    if (m_setAside && QFile::exists(m_path)) {
        const QString aside =
            m_path + QStringLiteral(".corrupt-") +
            QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddThhmmsszzz"));
        if (!QFile::rename(m_path, aside))
            return;
    }
    m_setAside = false;
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly) ||
        !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return;
    file.write(
        QJsonDocument(QJsonObject::fromVariantMap(m_values)).toJson(QJsonDocument::Indented));
    m_lastWriteSucceeded = file.commit();
}
