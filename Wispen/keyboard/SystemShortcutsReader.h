#pragma once

#include "SystemShortcuts.h"

#include <QString>

// The shortcuts of the Linux desktops: GNOME's keybinding schemas through
// GSettings (only those installed) and KDE's global shortcuts file (only when
// present). A plain window manager has neither, which is an empty list.
class SystemShortcutsReader final : public SystemShortcuts {
public:
    // The GNOME schemas whose keys are all key bindings.
    static constexpr const char* gnomeKeybindingSchemas[] = {
        "org.gnome.desktop.wm.keybindings",
        "org.gnome.mutter.keybindings",
        "org.gnome.mutter.wayland.keybindings",
        "org.gnome.shell.keybindings",
        "org.gnome.settings-daemon.plugins.media-keys",
    };
    // The user's own commands: a list of paths, each holding one binding.
    static constexpr const char* gnomeCustomListSchema =
        "org.gnome.settings-daemon.plugins.media-keys";
    static constexpr const char* gnomeCustomListKey = "custom-keybindings";
    static constexpr const char* gnomeCustomSchema =
        "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding";
    static constexpr const char* gnomeCustomKey = "binding";

    // KDE's file in the user's configuration folder.
    SystemShortcutsReader();
    explicit SystemShortcutsReader(QString kdeFile);

    // Throws ZedazidEdize with unreadableMessage when KDE's file exists but cannot
    // be read; GNOME's settings always read.
    std::vector<Entry> list() const override;

private:
    QString m_kdeFile;
};
