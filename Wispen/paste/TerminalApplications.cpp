#include "TerminalApplications.h"

const QStringList& TerminalApplications::identifiers() {
    static const QStringList table{
        // Application ids of the terminals other desktops ship.
        QStringLiteral("com.apple.Terminal"),
        QStringLiteral("com.googlecode.iterm2"),
        QStringLiteral("com.mitchellh.ghostty"),
        QStringLiteral("dev.warp.Warp-Stable"),
        // Application ids (desktop file names) of Linux terminals.
        QStringLiteral("org.gnome.Terminal"),
        QStringLiteral("org.gnome.Console"),
        QStringLiteral("org.gnome.Ptyxis"),
        QStringLiteral("org.kde.konsole"),
        QStringLiteral("org.kde.yakuake"),
        QStringLiteral("com.gexperts.Tilix"),
        QStringLiteral("org.wezfurlong.wezterm"),
        QStringLiteral("org.codeberg.dnkl.foot"),
        QStringLiteral("io.elementary.terminal"),
        QStringLiteral("com.raggesilver.BlackBox"),
        // Window classes: instance name and class name as X11 clients set them.
        QStringLiteral("xterm"),
        QStringLiteral("XTerm"),
        QStringLiteral("uxterm"),
        QStringLiteral("UXTerm"),
        QStringLiteral("gnome-terminal"),
        QStringLiteral("gnome-terminal-server"),
        QStringLiteral("Gnome-terminal"),
        QStringLiteral("konsole"),
        QStringLiteral("xfce4-terminal"),
        QStringLiteral("Xfce4-terminal"),
        QStringLiteral("tilix"),
        QStringLiteral("Tilix"),
        QStringLiteral("terminator"),
        QStringLiteral("Terminator"),
        QStringLiteral("kitty"),
        QStringLiteral("Alacritty"),
        QStringLiteral("alacritty"),
        QStringLiteral("wezterm"),
        QStringLiteral("foot"),
        QStringLiteral("footclient"),
        QStringLiteral("ghostty"),
        QStringLiteral("st"),
        QStringLiteral("st-256color"),
        QStringLiteral("urxvt"),
        QStringLiteral("URxvt"),
        QStringLiteral("rxvt"),
        QStringLiteral("Rxvt"),
        QStringLiteral("lxterminal"),
        QStringLiteral("Lxterminal"),
        QStringLiteral("mate-terminal"),
        QStringLiteral("Mate-terminal"),
        QStringLiteral("qterminal"),
        QStringLiteral("terminology"),
        QStringLiteral("Terminology"),
        QStringLiteral("sakura"),
        QStringLiteral("Sakura"),
        QStringLiteral("guake"),
        QStringLiteral("Guake"),
        QStringLiteral("tilda"),
        QStringLiteral("Tilda"),
        QStringLiteral("kgx"),
        QStringLiteral("yakuake"),
        QStringLiteral("cool-retro-term"),
        QStringLiteral("Eterm"),
    };
    return table;
}

bool TerminalApplications::contains(const QStringList& applicationIdentifiers) {
    for (const QString& name : applicationIdentifiers) {
        if (identifiers().contains(name, Qt::CaseSensitive))
            return true;
    }
    return false;
}
