#pragma once

#include "UserDefaults.h"

#include <QString>

// The application's settings, kept in one JSON file in the user's configuration
// folder. Booleans, strings, numbers, dictionaries and arrays keep their types.
// Every change rewrites the file atomically. A file that cannot be read as
// settings is never overwritten: it is moved aside, with a ".corrupt" suffix, before
// the first change is written, so nothing is silently lost.
class FileUserDefaults final : public UserDefaults {
public:
    explicit FileUserDefaults(QString path = defaultPath());

    // ~/.config/wispen-rezuraz/settings.json, or its place under $XDG_CONFIG_HOME.
    static QString defaultPath();
    // The one store of the application's own settings, shared by every component.
    static FileUserDefaults& standard();

    QVariant value(const QString& key) const override;
    void setValue(const QString& key, const QVariant& value) override;
    void remove(const QString& key) override;

    QString path() const { return m_path; }
    // Whether the last change reached the disk; the values stay in memory either way.
    bool lastWriteSucceeded() const override { return m_lastWriteSucceeded; }

private:
    void load();
    void write();

    QString m_path;
    QVariantMap m_values;
    bool m_setAside = false; // the file on disk is unreadable and must be kept
    bool m_lastWriteSucceeded = true;
};
