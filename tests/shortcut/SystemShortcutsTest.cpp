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

constexpr std::uint32_t keysymF4 = 0xffc1;
constexpr std::uint32_t keysymF20 = 0xffd1;
constexpr std::uint32_t keysymHome = 0xff50;
constexpr std::uint32_t keysymAudioMicMute = 0x1008ffb2;
constexpr const char* mediaKeys = "org.gnome.settings-daemon.plugins.media-keys";

using Entry = SystemShortcuts::Entry;

bool contains(const std::vector<Entry>& entries, Entry wanted) {
    return std::find(entries.begin(), entries.end(), wanted) != entries.end();
}

TEST(GnomeAccelerators, NameTheirKeyOrNothing) {
    const std::pair<const char*, std::optional<std::uint32_t>> cases[] = {
        {"F20", keysymF20},
        {"<Primary><Shift>f20", keysymF20},
        {"XF86AudioMicMute", keysymAudioMicMute},
        {"AudioMicMute", keysymAudioMicMute},
        {"<Control><Alt>l", 0x6c},
        {"", std::nullopt},
        {"disabled", std::nullopt},
        {"<Super", std::nullopt},
        {"<Super>", std::nullopt},
        {"Super>F20", std::nullopt}};
    for (const auto& [accelerator, keysym] : cases)
        EXPECT_EQ(SystemShortcutsFormat::gnomeAcceleratorKeysym(QString::fromUtf8(accelerator)),
                  keysym)
            << accelerator;
}

TEST(KdeShortcutsFile, ActiveKeysAreEnabledAndDefaultsOfUnboundActionsDisabled) {
    const QString file = QStringLiteral("[$Version]\n"
                                        "update_info=kglobalaccel.upd:kde6\n"
                                        "\n"
                                        "[kmix]\n"
                                        "_k_friendly_name=Audio Volume\n"
                                        "mic_mute=Microphone Mute\\tMeta+Volume Mute,Microphone "
                                        "Mute\tMeta+Volume Mute,Mute Microphone\n"
                                        "decrease_volume=none,F20,Decrease Volume\n"
                                        "\n"
                                        "[kwin]\n"
                                        "Window Close=Alt+F4,Alt+F4,Close Window\n"
                                        "Show Desktop=,none,Peek at Desktop\n"
                                        "broken line without equals\n"
                                        "=F20,F20,nameless\n"
                                        "Bogus=Meta+NoSuchKey,none,Unknown key\n"
                                        "# Launcher=F20,none,commented out\n"
                                        "\n"
                                        "[services][org.kde.dolphin.desktop]\n"
                                        "_launch=Meta+F20\n"
                                        "NewWindow=Meta+F20\n");
    const std::vector<Entry> expected{
        {true, keysymAudioMicMute}, {false, keysymF20}, {true, keysymF4}, {true, keysymF20}};
    EXPECT_EQ(SystemShortcutsFormat::kdeEntries(file), expected);
}

// GSettings keeps every value in memory for the whole test run; the fixture resets
// the keys the tests change.
class SystemShortcutsReaderOverGSettings : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(folder.isValid()); }
    void TearDown() override {
        GSettings* settings = g_settings_new(mediaKeys);
        for (const char* key : {"mic-mute", "custom-keybindings"})
            g_settings_reset(settings, key);
        g_object_unref(settings);
    }

    static void setStrv(const char* key, std::initializer_list<const char*> values) {
        std::vector<const char*> list(values);
        list.push_back(nullptr);
        GSettings* settings = g_settings_new(mediaKeys);
        g_settings_set_strv(settings, key, list.data());
        g_object_unref(settings);
    }

    QString kdeFile() const { return folder.filePath(QStringLiteral("kglobalshortcutsrc")); }

    QTemporaryDir folder;
};

TEST_F(SystemShortcutsReaderOverGSettings, ReadsEveryBindingOfTheInstalledSchemas) {
    // Malformed defaults ("not a key", "<Super") and the number key are skipped.
    const std::vector<Entry> entries = SystemShortcutsReader(kdeFile()).list();
    EXPECT_EQ(entries.size(), 3u);
    for (Entry expected : {Entry{true, keysymHome}, Entry{true, keysymF4}, Entry{true, 0x6c}})
        EXPECT_TRUE(contains(entries, expected)) << expected.keysym;
}

// Each source in turn: GNOME's media keys, a custom binding behind malformed
// paths, KDE's file.
TEST_F(SystemShortcutsReaderOverGSettings, SeesTheMicrophoneKeyWhereverItIsBound) {
    const auto listed = [&](Entry entry) {
        return contains(SystemShortcutsReader(kdeFile()).list(), entry);
    };
    setStrv("mic-mute", {"XF86AudioMicMute"});
    EXPECT_TRUE(listed({true, keysymAudioMicMute}));

    const char* path = "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/custom0/";
    GSettings* custom = g_settings_new_with_path(
        "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding", path);
    g_settings_set_string(custom, "binding", "<Super>F20");
    setStrv("custom-keybindings", {"no-slashes", "//", path});
    EXPECT_TRUE(listed({true, keysymF20}));
    g_settings_reset(custom, "binding");
    g_object_unref(custom);
    EXPECT_FALSE(listed({true, keysymF20}));

    QFile file(kdeFile());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[kwin]\nMic=F20,none,Microphone\n");
    file.close();
    EXPECT_TRUE(listed({true, keysymF20}));
}

TEST_F(SystemShortcutsReaderOverGSettings, UnreadableKdeFileCannotBeChecked) {
    ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("kglobalshortcutsrc")));
    try {
        SystemShortcutsReader(kdeFile()).list();
        ADD_FAILURE() << "an unreadable file was read";
    } catch (const ZedazidEdize& error) {
        EXPECT_EQ(error.errorDescription(), QString::fromUtf8(SystemShortcuts::unreadableMessage));
    }
}

} // namespace
