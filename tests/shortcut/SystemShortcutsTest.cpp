// KDE's shortcut file; GNOME's settings are read in the desktop tests, over the
// installed schemas.
#include "SystemShortcutsFormat.h"
#include "SystemShortcutsReader.h"
#include "ZedazidEdize.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using Entry = SystemShortcuts::Entry;

// KConfig separates alternative shortcuts with the escape \t, which once went unseen.
TEST(KdeShortcutsFile, ActiveKeysAreEnabledDefaultsOfUnboundActionsDisabled) {
    const QString file = QStringLiteral("[kmix]\n"
                                        "mic_mute=Microphone Mute\\tMeta+Volume Mute,none,Mute\n"
                                        "decrease_volume=none,F20,Decrease Volume\n"
                                        "[kwin]\n"
                                        "# Launcher=F20,none,commented out\n"
                                        "NewWindow=Meta+F20\n");
    const std::vector<Entry> expected{{true, 0x1008ffb2}, {false, 0xffd1}, {true, 0xffd1}};
    EXPECT_EQ(SystemShortcutsFormat::kdeEntries(file), expected);
    // Unreadable once it exists, the file leaves the shortcuts unchecked.
    QTemporaryDir folder;
    ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("kglobalshortcutsrc")));
    try {
        SystemShortcutsReader(folder.filePath(QStringLiteral("kglobalshortcutsrc"))).list();
        ADD_FAILURE() << "an unreadable file was read";
    } catch (const ZedazidEdize& error) {
        EXPECT_EQ(error.errorDescription(), QString::fromUtf8(SystemShortcuts::unreadableMessage));
    }
}

} // namespace
