#pragma once

#include "LoginItem.h"

#include <QString>
#include <QStringList>

// The login item as an XDG autostart entry: "<application id>.desktop" in
// $XDG_CONFIG_HOME/autostart (~/.config/autostart). The user's entry wins over a
// system one of the same name in $XDG_CONFIG_DIRS/autostart; it is enabled unless
// it says Hidden=true or X-GNOME-Autostart-enabled=false. Registering writes our
// entry atomically, with Exec naming the running executable; unregistering removes
// only that file.
class AutostartEntry final : public LoginItem {
public:
    // `configHome` is the user's configuration folder, `configDirs` the system's, in
    // order of precedence; `executable` the absolute path the entry starts.
    AutostartEntry(QString configHome, QStringList configDirs, QString executable);
    // The user's and the system's folders from the environment, and this executable.
    AutostartEntry();

    bool isEnabled() const override;
    void setRegistered(bool registered) override;
    void openSettings() override;

    // Our entry in the user's autostart folder.
    QString path() const;
    QString folder() const;

    // The entry's text for an executable.
    static QByteArray contents(const QString& executable);
    // An Exec value that starts exactly this program, whatever its path holds.
    static QString execValue(const QString& executable);
    // Whether an entry's text leaves it enabled.
    static bool isEnabledEntry(const QByteArray& text);

private:
    QString m_configHome;
    QStringList m_configDirs;
    QString m_executable;
};
