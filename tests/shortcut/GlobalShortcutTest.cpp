// The global shortcut against a real X server, driven by xdotool: what reaches
// onKey, what reaches the focused window instead, and what another client's
// grab or a keyboard mapping change does to it; and the desktop's shortcuts it
// checks first.
#include "GlobalShortcut.h"
#include "SystemShortcutsFormat.h"
#include "SystemShortcutsReader.h"
#include "ZedazidEdize.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QProcess>
#include <QRasterWindow>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <gio/gio.h>
#include <xcb/xcb.h>

namespace {

constexpr int eventTimeoutMs = 5000;
// On the evdev keymap Xvfb loads: the space bar, and KEY_F19 (189) plus the evdev
// offset (8), a key code without a keysym (xdotool presses it by number).
constexpr int spaceKeyCode = 65, micKeyCode = 197;
const QString micKey = "197", fallbackKeys = "ctrl+alt+space";
using Keys = std::vector<bool>;

struct FakeSystemShortcuts final : SystemShortcuts {
    std::vector<Entry> entries;
    std::vector<Entry> list() const override { return entries; }
};

bool xdotool(const QStringList& arguments) {
    return QProcess::execute("xdotool", arguments) == 0;
}

template <typename Operation> QString thrownSentence(Operation&& operation) {
    try {
        operation();
    } catch (const ZedazidEdize& error) {
        return error.errorDescription().value_or("(no description)");
    }
    return {};
}

// The fixture is also the focused application: it records the X key code of
// every key it receives, released ones negated, so a key held back from it shows.
class GlobalShortcutOnX11 : public ::testing::Test, public QRasterWindow {
protected:
    void SetUp() override {
        ASSERT_EQ(QGuiApplication::platformName(), "xcb");
        resize(240, 120);
        show();
        requestActivate();
        ASSERT_TRUE(QTest::qWaitFor([&] { return isActive(); }, eventTimeoutMs));
        shortcut.onKey = [this](bool down) { keys.push_back(down); };
    }
    void TearDown() override {
        shortcut.stop();
        xcb_disconnect(other);
    }
    void keyPressEvent(QKeyEvent* event) override { received.push_back(event->nativeScanCode()); }
    void keyReleaseEvent(QKeyEvent* event) override {
        received.push_back(-int(event->nativeScanCode()));
    }

    bool waitForKeys(std::size_t count) {
        return QTest::qWaitFor([&] { return keys.size() >= count; }, eventTimeoutMs);
    }
    // Taps until a press and then its release reach onKey (at once for a grab in
    // place; grabs about to move to a new mapping may let the first taps through).
    bool tap(const QString& key) {
        const std::size_t before = keys.size();
        const auto fired = [&] { return keys.size() > before || !xdotool({"key", key}); };
        return QTest::qWaitFor(fired, eventTimeoutMs) && waitForKeys(before + 2) && keys[before] &&
               !keys[before + 1];
    }
    // Taps a key that is not ours; true once the window got its press and release.
    bool tapIntoWindow(const QString& key, int keyCode) {
        received.clear();
        const auto got = [&] {
            return std::count(received.begin(), received.end(), keyCode) &&
                   std::count(received.begin(), received.end(), -keyCode);
        };
        return xdotool({"key", key}) && QTest::qWaitFor(got, eventTimeoutMs);
    }
    // Another X client holds one variant of a key on the root window until release().
    bool grabElsewhere(std::uint16_t modifiers, int keyCode) {
        const xcb_void_cookie_t grab = xcb_grab_key_checked(
            other, 0, root, modifiers, keyCode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        xcb_generic_error_t* error = xcb_request_check(other, grab);
        std::free(error);
        return !error;
    }
    // Released once the reply behind the ungrab arrives, so the server has seen it.
    void release() {
        xcb_ungrab_key(other, XCB_GRAB_ANY, root, XCB_MOD_MASK_ANY);
        std::free(xcb_get_input_focus_reply(other, xcb_get_input_focus(other), nullptr));
    }
    // Taps the lock keys and waits until the modifier state has (or lacks) the mask.
    bool toggleLocks(const QStringList& keys, std::uint16_t mask, bool on) {
        const auto locked = [&] {
            auto* reply = xcb_query_pointer_reply(other, xcb_query_pointer(other, root), nullptr);
            const bool set = reply && (reply->mask & mask) == mask;
            std::free(reply);
            return set == on;
        };
        return xdotool(QStringList{"key"} + keys) && QTest::qWaitFor(locked, eventTimeoutMs);
    }

    xcb_connection_t* other = xcb_connect(nullptr, nullptr);
    xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(other)).data->root;
    std::shared_ptr<FakeSystemShortcuts> system = std::make_shared<FakeSystemShortcuts>();
    GlobalShortcut shortcut{system};
    std::vector<int> received;
    Keys keys;
};

// While another client holds one lock variant of the fallback, start() gives back
// the variants it got and says so; a second call retries. A held key auto-repeats as
// presses only and is released once; keys typed into our own windows pass on. Once released or
// stopped, the keys are the focused window's again; stopping while the fallback is held ends the
// grab without a release.
TEST_F(GlobalShortcutOnX11, AHeldKeyIsPressedUntilItsOneReleaseAndStopGivesTheKeysBack) {
    ASSERT_TRUE(
        grabElsewhere(XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_LOCK, spaceKeyCode));
    EXPECT_EQ(thrownSentence([&] { shortcut.start(); }), GlobalShortcut::fallbackInUseMessage);
    EXPECT_TRUE(tapIntoWindow(fallbackKeys, spaceKeyCode));
    release();
    shortcut.start();
    ASSERT_TRUE(xdotool({"keydown", fallbackKeys}) && waitForKeys(4));
    ASSERT_TRUE(xdotool({"keyup", fallbackKeys}) &&
                QTest::qWaitFor([&] { return !keys.back(); }, eventTimeoutMs));
    // A second tap behind the first flushes out any late release of the hold.
    ASSERT_TRUE(tap(fallbackKeys));
    Keys expected(keys.size() - 3, true);
    expected.insert(expected.end(), {false, true, false});
    EXPECT_EQ(keys, expected);
    EXPECT_TRUE(tapIntoWindow("space", spaceKeyCode));

    // Neither a disabled desktop binding on F19 nor microphone mute beside it refuses the key.
    system->entries = {{false, 0xffd0}, {true, 0x1008ffb2}};
    shortcut.enableMicrophone();
    shortcut.disableMicrophone();
    EXPECT_TRUE(tapIntoWindow(micKey, micKeyCode));
    shortcut.enableMicrophone();
    keys.clear();
    ASSERT_TRUE(xdotool({"keydown", fallbackKeys}) && waitForKeys(1));
    shortcut.stop();
    ASSERT_TRUE(xdotool({"keyup", fallbackKeys}));
    EXPECT_TRUE(tapIntoWindow(micKey, micKeyCode));
    EXPECT_TRUE(tapIntoWindow(fallbackKeys, spaceKeyCode));
    EXPECT_EQ(keys, Keys(keys.size(), true));
}

// Swaps the modifier rows Mod2 and Mod3 of the server's mapping: Num Lock moves to
// Mod3, and a second call puts it back.
bool swapMod2AndMod3(xcb_connection_t* c) {
    auto* mapping = xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), nullptr);
    if (!mapping)
        return false;
    const int per = mapping->keycodes_per_modifier;
    const xcb_keycode_t* first = xcb_get_modifier_mapping_keycodes(mapping);
    std::vector<xcb_keycode_t> codes(first, first + 8 * per);
    std::free(mapping);
    std::swap_ranges(codes.begin() + 4 * per, codes.begin() + 5 * per, codes.begin() + 5 * per);
    auto* set = xcb_set_modifier_mapping_reply(
        c, xcb_set_modifier_mapping(c, std::uint8_t(per), codes.data()), nullptr);
    const bool swapped = set && set->status == XCB_MAPPING_STATUS_SUCCESS;
    std::free(set);
    return swapped;
}

// Both keys follow Num Lock to Mod3 and back, with Caps Lock too, and leave no grab
// behind. When another client holds the microphone key with Mod3, that grab cannot
// follow: it is reported once and taken back at the next change.
TEST_F(GlobalShortcutOnX11, AMappingChangeMovesTheGrabsOrReportsTheLostOnce) {
    QStringList lost;
    shortcut.onGrabLost = [&](const QString& sentence) { lost << sentence; };
    shortcut.start();
    shortcut.enableMicrophone();
    ASSERT_TRUE(swapMod2AndMod3(other));
    const bool moved = toggleLocks({"Num_Lock"}, XCB_MOD_MASK_3, true) && tap(fallbackKeys) &&
                       tap(micKey) && toggleLocks({"Num_Lock"}, XCB_MOD_MASK_3, false);
    ASSERT_TRUE(swapMod2AndMod3(other));
    const std::uint16_t locks = XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2;
    const bool back = toggleLocks({"Num_Lock", "Caps_Lock"}, locks, true) && tap(fallbackKeys);
    ASSERT_TRUE(toggleLocks({"Num_Lock", "Caps_Lock"}, locks, false) && moved && back);
    ASSERT_TRUE(grabElsewhere(XCB_MOD_MASK_3, micKeyCode));
    ASSERT_TRUE(swapMod2AndMod3(other));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !lost.isEmpty(); }, eventTimeoutMs));
    release();
    ASSERT_TRUE(swapMod2AndMod3(other));
    EXPECT_TRUE(tap(micKey));
    EXPECT_EQ(lost, QStringList{GlobalShortcut::microphoneNotReservedMessage});
}

// Over the installed GNOME schemas and a stock Plasma file: each binds microphone
// mute (on F20's key) once and nothing on F19's key, so the key is free; a custom
// GNOME binding on F19, listed behind malformed paths, takes it.
using StockDesktop = GlobalShortcutOnX11;
TEST_F(StockDesktop, LeavesTheRemappedMicrophoneKeyFreeUnlessACustomBindingTakesIt) {
    const auto reader = std::make_shared<SystemShortcutsReader>(WISPEN_STOCK_KDE_FILE);
    const std::vector<SystemShortcuts::Entry> entries = reader->list();
    EXPECT_EQ(std::count(entries.begin(), entries.end(), SystemShortcuts::Entry{true, 0x1008ffb2}),
              2);
    GlobalShortcut stock(reader);
    stock.onKey = shortcut.onKey;
    stock.start();
    stock.enableMicrophone();
    EXPECT_TRUE(tap(micKey));
    stock.disableMicrophone();

    const char* path = "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/custom0/";
    GSettings* custom = g_settings_new_with_path(SystemShortcutsReader::gnomeCustomSchema, path);
    g_settings_set_string(custom, SystemShortcutsReader::gnomeCustomKey, "<Super>F19");
    g_object_unref(custom);
    GSettings* list = g_settings_new(SystemShortcutsReader::gnomeCustomListSchema);
    const char* paths[] = {"no-slashes", "//", path, nullptr};
    g_settings_set_strv(list, SystemShortcutsReader::gnomeCustomListKey, paths);
    g_object_unref(list);
    EXPECT_EQ(thrownSentence([&] { stock.enableMicrophone(); }),
              GlobalShortcut::microphoneUsedBySystemMessage);
}

// Without an X server there is nothing to grab, and start() says so. KDE's file is read
// without one: active keys are enabled, defaults of unbound actions disabled, and
// KConfig's escape \t separates alternatives (it once went unseen); a file that exists
// but cannot be read leaves the shortcuts unchecked and says so.
TEST(WithoutDisplay, TheShortcutIsNotInstalledAndKdesFileIsRead) {
    ASSERT_NE(QGuiApplication::platformName(), "xcb");
    GlobalShortcut shortcut(std::make_shared<FakeSystemShortcuts>());
    EXPECT_EQ(thrownSentence([&] { shortcut.start(); }), GlobalShortcut::notInstalledMessage);
    const QString file = QStringLiteral("[kmix]\n"
                                        "mic_mute=Microphone Mute\\tMeta+Volume Mute,none,Mute\n"
                                        "decrease_volume=none,F20,Decrease Volume\n"
                                        "[kwin]\n"
                                        "# Launcher=F20,none,commented out\n"
                                        "NewWindow=Meta+F20\n");
    const std::vector<SystemShortcuts::Entry> expected{
        {true, 0x1008ffb2}, {false, 0xffd1}, {true, 0xffd1}};
    EXPECT_EQ(SystemShortcutsFormat::kdeEntries(file), expected);
    QTemporaryDir folder;
    EXPECT_THROW(SystemShortcutsReader(folder.path()).list(), ZedazidEdize);
}

} // namespace
