#pragma once

#include <QString>
#include <QStringList>

// Terminal emulators, into which dictation is never pasted automatically: a paste
// there can run a command. Known by application id or window class (instance and
// class name), matched exactly.
namespace TerminalApplications {

const QStringList& identifiers();

// True when any of an application's names is a terminal's.
bool contains(const QStringList& applicationIdentifiers);

} // namespace TerminalApplications
