// Reading the desktop's configured shortcuts: GNOME accelerators, KDE's file, and
// the reader over the tests' stand-in GNOME schemas in GSettings' memory backend.
#include "SystemShortcutsFormat.h"
#include "SystemShortcutsReader.h"
#include "ZedazidEdize.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <gio/gio.h>

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

// Every binding of the schemas (malformed ones and the number key skipped), a
// custom binding behind malformed paths, and KDE's file, unreadable as a folder.
TEST(SystemShortcutsReader, SeesTheMicrophoneKeyWhereverItIsBound) {
    QTemporaryDir folder;
    const QString kdeFile = folder.filePath(QStringLiteral("kglobalshortcutsrc"));
    const auto listed = [&](Entry entry) {
        const std::vector<Entry> entries = SystemShortcutsReader(kdeFile).list();
        return std::count(entries.begin(), entries.end(), entry);
    };
    EXPECT_EQ(SystemShortcutsReader(kdeFile).list().size(), 3u);
    for (std::uint32_t keysym : {0xff50, 0xffc1, 0x6c}) // Home, F4, l
        EXPECT_EQ(listed({true, keysym}), 1) << keysym;

    const char* path = "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/custom0/";
    GSettings* custom = g_settings_new_with_path(
        "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding", path);
    g_settings_set_string(custom, "binding", "<Super>F20");
    g_object_unref(custom);
    GSettings* mediaKeys = g_settings_new("org.gnome.settings-daemon.plugins.media-keys");
    const char* paths[] = {"no-slashes", "//", path, nullptr};
    g_settings_set_strv(mediaKeys, "custom-keybindings", paths);
    g_object_unref(mediaKeys);
    EXPECT_EQ(listed({true, keysymF20}), 1);

    QFile file(kdeFile);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("[kwin]\nMic=F20,none,Mic\n"));
    file.close();
    EXPECT_EQ(listed({true, keysymF20}), 2);
    ASSERT_TRUE(file.remove() && QDir(folder.path()).mkdir(QStringLiteral("kglobalshortcutsrc")));
    try {
        SystemShortcutsReader(kdeFile).list();
        ADD_FAILURE() << "an unreadable file was read";
    } catch (const ZedazidEdize& error) {
        EXPECT_EQ(error.errorDescription(), QString::fromUtf8(SystemShortcuts::unreadableMessage));
    }
}

} // namespace
