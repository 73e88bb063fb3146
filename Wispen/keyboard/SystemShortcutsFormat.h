#pragma once

#include "SystemShortcuts.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

// How the desktops write their configured shortcuts, read down to the key each
// binding uses. Anything that does not parse is not a binding and is skipped.
namespace SystemShortcutsFormat {

// A GNOME accelerator such as "<Super>F20" or "XF86AudioMicMute": the keysym of
// its key, or nothing for "", "disabled" and text that names no key.
std::optional<std::uint32_t> gnomeAcceleratorKeysym(const QString& accelerator);

// The keysym of a Qt key code (as KDE stores keys), or nothing for keys without
// a fixed keysym.
std::optional<std::uint32_t> qtKeyKeysym(int qtKey);

// The bindings of a kglobalshortcutsrc file: each action's active keys as enabled
// entries, and when it has none ("none" or empty), its default keys as disabled ones.
std::vector<SystemShortcuts::Entry> kdeEntries(const QString& fileText);

} // namespace SystemShortcutsFormat
