// Reading the desktop's configured shortcuts: GNOME accelerators, KDE's file, and
// the reader over the tests' stand-in GNOME schemas in GSettings' memory backend.
#include "SystemShortcutsFormat.h"
#include "SystemShortcutsReader.h"
#include "ZedazidEdize.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// Found by GoogleTest beside the type it prints.
void PrintTo(const SystemShortcuts::Entry& entry, std::ostream* out) {
    *out << "{" << (entry.enabled ? "enabled" : "disabled") << ", 0x" << std::hex << entry.keysym
         << "}";
}

namespace {

constexpr std::uint32_t keysymF20 = 0xffd1;
constexpr std::uint32_t keysymAudioMicMute = 0x1008ffb2;

using Entry = SystemShortcuts::Entry;

TEST(GnomeAccelerators, NameTheirKeyOrNothing) {
    const std::pair<const char*, std::optional<std::uint32_t>> cases[] = {
        {"<Primary><Shift>f20", keysymF20}, {"AudioMicMute", keysymAudioMicMute},
        {"disabled", std::nullopt},         {"<Super", std::nullopt},
        {"<Super>", std::nullopt},          {"Super>F20", std::nullopt}};
    for (const auto& [accelerator, keysym] : cases)
        EXPECT_EQ(SystemShortcutsFormat::gnomeAcceleratorKeysym(QString::fromUtf8(accelerator)),
                  keysym)
            << accelerator;
}

// KConfig separates alternative shortcuts with the escape \t, which once went unseen.
TEST(KdeShortcutsFile, ActiveKeysAreEnabledAndDefaultsOfUnboundActionsDisabled) {
    const QString file = QStringLiteral("[kmix]\n"
                                        "_k_friendly_name=Audio Volume\n"
                                        "mic_mute=Microphone Mute\\tMeta+Volume Mute,none,Mute\n"
                                        "decrease_volume=none,F20,Decrease Volume\n"
                                        "[kwin]\n"
                                        "Show Desktop=,none,Peek at Desktop\n"
                                        "=F20,F20,nameless\n"
                                        "# Launcher=F20,none,commented out\n"
                                        "NewWindow=Meta+F20\n");
    const std::vector<Entry> expected{
        {true, keysymAudioMicMute}, {false, keysymF20}, {true, keysymF20}};
    EXPECT_EQ(SystemShortcutsFormat::kdeEntries(file), expected);
}

// Unreadable once it exists: the shortcuts then cannot be checked.
TEST(KdeShortcutsFile, ThatCannotBeReadCannotBeChecked) {
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
