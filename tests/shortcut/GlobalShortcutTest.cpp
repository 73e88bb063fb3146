// The global shortcut against a real X server, driven by xdotool: what reaches
// onKey, what reaches the focused window instead, and what another program's
// grab does to it.
#include "GlobalShortcut.h"
#include "SystemShortcutsReader.h"
#include "ZedazidEdize.h"

#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QProcess>
#include <QRasterWindow>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QtGui/qguiapplication_platform.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <xcb/xcb.h>

namespace {

constexpr int eventTimeoutMs = 5000;
// Enough presses that the key must have auto-repeated while held.
constexpr std::size_t repeatedPresses = 4;
// On the evdev keymap Xvfb loads: the space bar, and KEY_F19 (189) plus the evdev
// offset (8), a key code without a keysym (xdotool presses it by number).
constexpr quint32 spaceKeyCode = 65;
constexpr quint32 micKeyCode = 197;
constexpr quint32 keysymF19 = 0xffd0;
const QString micKey = "197";
const QString fallbackKeys = "ctrl+alt+space";
const QStringList numAndCapsLock{"Num_Lock", "Caps_Lock"};
using Keys = std::vector<bool>;

struct FakeSystemShortcuts final : SystemShortcuts {
    std::vector<Entry> entries;
    bool unreadable = false;
    mutable int reads = 0;

    std::vector<Entry> list() const override {
        ++reads;
        if (unreadable)
            throw ZedazidEdize::message(QString::fromUtf8(unreadableMessage));
        return entries;
    }
};

// The focused application: records the X key code of every key it receives.
class KeyRecorder final : public QRasterWindow {
public:
    std::vector<quint32> pressed;
    bool received(quint32 keyCode) const {
        return std::count(pressed.begin(), pressed.end(), keyCode);
    }

protected:
    void keyPressEvent(QKeyEvent* event) override { pressed.push_back(event->nativeScanCode()); }
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

// Taps the lock keys and waits until the modifier state has (or lacks) the mask.
bool toggleLocks(const QStringList& keys, std::uint16_t mask, bool on) {
    xcb_connection_t* c =
        qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    return xdotool(QStringList{"key"} + keys) &&
           QTest::qWaitFor(
               [&] {
                   auto* reply = xcb_query_pointer_reply(c, xcb_query_pointer(c, root), nullptr);
                   const std::uint16_t set = reply ? reply->mask & mask : 0;
                   std::free(reply);
                   return set == (on ? mask : 0);
               },
               eventTimeoutMs);
}

class GlobalShortcutOnX11 : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(QGuiApplication::platformName(), "xcb");
        window.resize(240, 120);
        window.show();
        window.requestActivate();
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.isActive(); }, eventTimeoutMs));
        shortcut.onKey = [this](bool down) { keys.push_back(down); };
    }
    void TearDown() override {
        shortcut.stop();
        other.closeWriteChannel();
        other.waitForFinished(eventTimeoutMs);
    }

    bool waitForKeys(std::size_t count) {
        return QTest::qWaitFor([&] { return keys.size() >= count; }, eventTimeoutMs);
    }
    // True when the press reached onKey and the release followed.
    bool tap(const QString& key) {
        const std::size_t before = keys.size();
        return xdotool({"keydown", key}) && waitForKeys(before + 1) && xdotool({"keyup", key}) &&
               waitForKeys(before + 2);
    }
    // Taps until a press and its release reach onKey, for grabs that are about to move.
    bool tapUntilOnKey(const QString& key) {
        const std::size_t before = keys.size();
        return QTest::qWaitFor(
                   [&] {
                       return keys.size() > before || !xdotool({"key", key});
                   },
                   eventTimeoutMs) &&
               waitForKeys(before + 2) && keys[before] && !keys[before + 1];
    }
    // Taps a key that is not ours; true once the window got it.
    bool tapIntoWindow(const QString& key, quint32 keyCode) {
        return xdotool({"key", key}) &&
               QTest::qWaitFor([&] { return window.received(keyCode); }, eventTimeoutMs);
    }

    // Starts another program of ours (ShortcutGrabber.cpp) that holds the grab
    // until the test ends.
    bool grabElsewhere(const QString& key) {
        other.start(QStringLiteral(WISPEN_SHORTCUT_GRABBER), {key});
        return QTest::qWaitFor(
                   [&] { return other.canReadLine() || other.state() == QProcess::NotRunning; },
                   eventTimeoutMs) &&
               other.readLine().trimmed() == "grabbed";
    }

    QProcess other;
    std::shared_ptr<FakeSystemShortcuts> system = std::make_shared<FakeSystemShortcuts>();
    GlobalShortcut shortcut{system};
    KeyRecorder window;
    Keys keys;
};

TEST_F(GlobalShortcutOnX11, PressAndReleaseCallOnKeyOnceAndAHeldKeyReleasesOnce) {
    shortcut.start();
    // xdotool lets go of Control and Alt before the space bar.
    ASSERT_TRUE(tap(fallbackKeys));
    EXPECT_EQ(keys, (Keys{true, false}));

    keys.clear();
    ASSERT_TRUE(xdotool({"keydown", fallbackKeys}));
    ASSERT_TRUE(waitForKeys(repeatedPresses));
    ASSERT_TRUE(xdotool({"keyup", fallbackKeys}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !keys.back(); }, eventTimeoutMs));
    // A second tap behind the first flushes out any late release of the hold.
    ASSERT_TRUE(tap(fallbackKeys));
    Keys expected(keys.size() - 3, true);
    expected.insert(expected.end(), {false, true, false});
    EXPECT_EQ(keys, expected);
    EXPECT_FALSE(window.received(spaceKeyCode));

    // Without a callback the keys are still taken, and keys typed into our own
    // windows pass on.
    shortcut.onKey = nullptr;
    ASSERT_TRUE(xdotool({"key", fallbackKeys}));
    EXPECT_TRUE(tapIntoWindow("space", spaceKeyCode));
    EXPECT_EQ(std::count(window.pressed.begin(), window.pressed.end(), spaceKeyCode), 1);
}

TEST_F(GlobalShortcutOnX11, FiresWithNumLockAndCapsLockOn) {
    shortcut.start();
    const std::uint16_t locks = XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2;
    const bool locked = toggleLocks(numAndCapsLock, locks, true);
    const bool fired = locked && tap(fallbackKeys);
    ASSERT_TRUE(toggleLocks(numAndCapsLock, locks, false));
    ASSERT_TRUE(locked);
    EXPECT_TRUE(fired);
    EXPECT_EQ(keys, (Keys{true, false}));
}

TEST_F(GlobalShortcutOnX11, FallbackHeldByAnotherProgramStillLetsTheMicrophoneKeyWork) {
    // The other program holds only one lock variant, so our other variants succeed
    // first and must be given back.
    ASSERT_TRUE(grabElsewhere("space"));
    EXPECT_EQ(thrownSentence([&] { shortcut.start(); }),
              QString::fromUtf8(GlobalShortcut::fallbackInUseMessage));
    EXPECT_TRUE(tapIntoWindow(fallbackKeys, spaceKeyCode));

    shortcut.enableMicrophone();
    EXPECT_TRUE(tap(micKey));
    EXPECT_EQ(keys, (Keys{true, false}));
}

// What enableMicrophone makes of the desktop's shortcuts and of another program's
// grab, read once: a second call does nothing.
struct MicrophoneCase {
    const char* name;
    std::vector<SystemShortcuts::Entry> entries;
    const char* refusal = nullptr;
    bool unreadable = false;
    bool grabbedElsewhere = false;
    bool enabledBefore = false;
};

class SystemShortcutsOnTheMicrophoneKey : public GlobalShortcutOnX11,
                                          public ::testing::WithParamInterface<MicrophoneCase> {};

TEST_P(SystemShortcutsOnTheMicrophoneKey, RefuseOnlyWhenTheKeyIsTaken) {
    const MicrophoneCase& c = GetParam();
    shortcut.start();
    EXPECT_EQ(shortcut.microphoneKeyCode(), std::optional<std::uint8_t>(micKeyCode));
    if (c.enabledBefore)
        shortcut.enableMicrophone();
    system->entries = c.entries;
    system->unreadable = c.unreadable;
    if (c.grabbedElsewhere) {
        ASSERT_TRUE(grabElsewhere("microphone"));
    }
    EXPECT_EQ(thrownSentence([&] { shortcut.enableMicrophone(); }), QString::fromUtf8(c.refusal));
    EXPECT_EQ(system->reads, 1);
    if (c.refusal) {
        EXPECT_TRUE(tapIntoWindow(micKey, micKeyCode));
        EXPECT_TRUE(keys.empty());
    } else {
        EXPECT_TRUE(tap(micKey));
        EXPECT_EQ(keys, (Keys{true, false}));
        EXPECT_FALSE(window.received(micKeyCode));
    }
}

const char* const usedBySystem = GlobalShortcut::microphoneUsedBySystemMessage;
const MicrophoneCase microphoneCases[] = {
    {"EnabledF19", {{false, 0x74}, {true, keysymF19}}, usedBySystem},
    {"DisabledF19", {{false, keysymF19}}},
    // Microphone mute sits on F20's key, the one beside ours.
    {"OtherKeys", {{true, 0xffc9}, {true, 0x20}, {true, 0x1008ffb2}, {true, 0xffd1}}},
    {"Unreadable", {}, SystemShortcuts::unreadableMessage, true},
    {"GrabbedByAnotherProgram", {}, GlobalShortcut::microphoneNotReservedMessage, false, true},
    {"SecondEnableIgnoresNewEntries", {{true, keysymF19}}, nullptr, false, false, true},
};
INSTANTIATE_TEST_SUITE_P(Entries, SystemShortcutsOnTheMicrophoneKey,
                         ::testing::ValuesIn(microphoneCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Stopping while the fallback is held ends the grab without a release.
TEST_F(GlobalShortcutOnX11, AfterDisableMicrophoneAndStopTheKeysReachTheFocusedWindow) {
    shortcut.start();
    shortcut.enableMicrophone();
    shortcut.disableMicrophone();
    shortcut.disableMicrophone();
    EXPECT_TRUE(tapIntoWindow(micKey, micKeyCode));
    EXPECT_TRUE(tap(fallbackKeys));

    shortcut.enableMicrophone();
    ASSERT_TRUE(xdotool({"keydown", fallbackKeys}));
    ASSERT_TRUE(waitForKeys(3));
    shortcut.stop();
    shortcut.stop();
    ASSERT_TRUE(xdotool({"keyup", fallbackKeys}));
    window.pressed.clear();
    EXPECT_TRUE(tapIntoWindow(micKey, micKeyCode));
    EXPECT_TRUE(tapIntoWindow(fallbackKeys, spaceKeyCode));
    EXPECT_EQ(keys, (Keys{true, false, true}));
}

bool xkbcomp(const QString& from, const QString& to) {
    return QProcess::execute("xkbcomp", {"-w0", from, to}) == 0;
}

// For the life of the object: the space bar moved to the key of F13 and Num Lock
// to Mod3. The server's own mapping comes back afterwards.
class MovedSpaceAndNumLock {
public:
    MovedSpaceAndNumLock() {
        QFile file(m_original), changed(m_folder.filePath("changed.xkb"));
        if (!xkbcomp(display, m_original) || !file.open(QIODevice::ReadOnly) ||
            !changed.open(QIODevice::WriteOnly))
            return;
        QString keymap = QString::fromUtf8(file.readAll());
        keymap
            .replace(QRegularExpression("key <SPCE> \\{[^}]*\\};"), "key <SPCE> { [ NoSymbol ] };")
            .replace(QRegularExpression("key <FK13> \\{[^}]*\\};"), "key <FK13> { [ space ] };")
            .replace("modifier_map Mod2 { <NMLK> };", "modifier_map Mod3 { <NMLK> };");
        m_loaded = changed.write(keymap.toUtf8()) > 0 && changed.flush() &&
                   xkbcomp(changed.fileName(), display);
    }
    ~MovedSpaceAndNumLock() {
        if (m_loaded)
            xkbcomp(m_original, display);
    }
    bool loaded() const { return m_loaded; }

private:
    const QString display = qEnvironmentVariable("DISPLAY");
    QTemporaryDir m_folder;
    const QString m_original = m_folder.filePath("original.xkb");
    bool m_loaded = false;
};

TEST_F(GlobalShortcutOnX11, KeyboardMappingChangesMoveTheGrabs) {
    shortcut.start();
    shortcut.enableMicrophone();
    {
        MovedSpaceAndNumLock changed;
        ASSERT_TRUE(changed.loaded());
        const bool locked = toggleLocks({"Num_Lock"}, XCB_MOD_MASK_3, true);
        // Our new grabs follow the mapping notification, so the first taps may
        // still reach the window.
        const bool fallbackFired = locked && tapUntilOnKey(fallbackKeys);
        const bool microphoneFired = locked && tap(micKey);
        ASSERT_TRUE(toggleLocks({"Num_Lock"}, XCB_MOD_MASK_3, false));
        EXPECT_TRUE(locked);
        EXPECT_TRUE(fallbackFired);
        EXPECT_TRUE(microphoneFired);
    }
    keys.clear();
    EXPECT_TRUE(tapUntilOnKey(fallbackKeys));
}

// Another program holds the microphone key with the modifier that becomes Num Lock,
// so our grab cannot follow the change; restoring the mapping gives it back.
TEST_F(GlobalShortcutOnX11, AKeyLostInAMappingChangeIsReportedOnceAndTakenBackAtTheNext) {
    QStringList lost;
    shortcut.onGrabLost = [&](const QString& sentence) { lost << sentence; };
    shortcut.start();
    shortcut.enableMicrophone();
    ASSERT_TRUE(grabElsewhere("microphone-mod3"));
    {
        MovedSpaceAndNumLock changed;
        ASSERT_TRUE(changed.loaded());
        EXPECT_TRUE(QTest::qWaitFor([&] { return !lost.isEmpty(); }, eventTimeoutMs));
        EXPECT_TRUE(tapUntilOnKey(fallbackKeys));
        other.closeWriteChannel();
        ASSERT_TRUE(other.waitForFinished(eventTimeoutMs));
    }
    keys.clear();
    EXPECT_TRUE(tapUntilOnKey(micKey));
    EXPECT_EQ(lost, QStringList{QString::fromUtf8(GlobalShortcut::microphoneNotReservedMessage)});
}

// Run over the installed GNOME schemas and a stock Plasma file: each binds
// microphone mute (on F20's key) once, and nothing on F19's key.
using StockDesktop = GlobalShortcutOnX11;
TEST_F(StockDesktop, LeavesTheRemappedMicrophoneKeyFree) {
    const auto reader = std::make_shared<SystemShortcutsReader>(WISPEN_STOCK_KDE_FILE);
    const std::vector<SystemShortcuts::Entry> entries = reader->list();
    EXPECT_EQ(std::count(entries.begin(), entries.end(), SystemShortcuts::Entry{true, 0x1008ffb2}),
              2);
    GlobalShortcut stock(reader);
    stock.onKey = shortcut.onKey;
    stock.start();
    stock.enableMicrophone();
    EXPECT_TRUE(tap(micKey));
    EXPECT_EQ(keys, (Keys{true, false}));
}

TEST(WithoutDisplay, StartThrowsThatTheShortcutCouldNotBeInstalled) {
    ASSERT_NE(QGuiApplication::platformName(), "xcb");
    GlobalShortcut shortcut(std::make_shared<FakeSystemShortcuts>());
    EXPECT_EQ(thrownSentence([&] { shortcut.start(); }),
              QString::fromUtf8(GlobalShortcut::notInstalledMessage));
    EXPECT_EQ(thrownSentence([&] { shortcut.enableMicrophone(); }),
              QString::fromUtf8(GlobalShortcut::microphoneNotReservedMessage));
    EXPECT_EQ(shortcut.microphoneKeyCode(), std::nullopt);
    shortcut.disableMicrophone();
    shortcut.stop();
}

} // namespace
