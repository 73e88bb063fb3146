#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// The desktop's own accessibility settings, where the user switches on what lets
// Wispen read and paste into other applications.
namespace AccessibilitySettings {

// The program that opens them on a desktop named as in $XDG_CURRENT_DESKTOP (a
// colon-separated list, most specific first); nothing for a desktop we do not know.
std::optional<QStringList> commandFor(const QString& currentDesktop);

// Opens them on the current desktop; an unknown desktop opens nothing.
void open();

} // namespace AccessibilitySettings
