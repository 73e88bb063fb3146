#include "AccessibilitySettings.h"

#include <QProcess>

#include <array>

namespace {

struct Pane {
    const char* desktop;
    const char* program;
    const char* argument;
};

constexpr std::array panes{
    Pane{"GNOME", "gnome-control-center", "universal-access"},
    Pane{"KDE", "systemsettings", "kcm_access"},
    Pane{"XFCE", "xfce4-accessibility-settings", nullptr},
    Pane{"X-Cinnamon", "cinnamon-settings", "universal-access"},
    Pane{"Cinnamon", "cinnamon-settings", "universal-access"},
    Pane{"MATE", "mate-at-properties", nullptr},
};

} // namespace

std::optional<QStringList> AccessibilitySettings::commandFor(const QString& currentDesktop) {
    for (const QString& name : currentDesktop.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        for (const Pane& pane : panes) {
            if (name.trimmed().compare(QLatin1String(pane.desktop), Qt::CaseInsensitive) != 0)
                continue;
            QStringList command{QString::fromLatin1(pane.program)};
            if (pane.argument)
                command << QString::fromLatin1(pane.argument);
            return command;
        }
    }
    return std::nullopt;
}

void AccessibilitySettings::open() {
    const std::optional<QStringList> command =
        commandFor(qEnvironmentVariable("XDG_CURRENT_DESKTOP"));
    if (command)
        QProcess::startDetached(command->first(), command->mid(1));
}
