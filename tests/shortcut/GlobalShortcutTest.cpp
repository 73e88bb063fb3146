// The global shortcut against a real X server, driven by xdotool: what reaches
// onKey, what reaches the focused window instead, and what another program's
// grab does to it.
#include "GlobalShortcut.h"
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
constexpr int repeatedPresses = 4;
// KEY_F20 (190) plus the evdev offset (8) on the evdev keymap Xvfb loads, where
// the key carries XF86AudioMicMute.
constexpr quint32 stockMicrophoneKeyCode = 198;
constexpr quint32 keysymF20 = 0xffd1;
constexpr quint32 keysymAudioMicMute = 0x1008ffb2;
const QString microphoneKey = QStringLiteral("0x1008ffb2");
const QString fallbackKeys = QStringLiteral("ctrl+alt+space");

class FakeSystemShortcuts final : public SystemShortcuts {
public:
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
        return std::find(pressed.begin(), pressed.end(), keyCode) != pressed.end();
    }

protected:
    void keyPressEvent(QKeyEvent* event) override { pressed.push_back(event->nativeScanCode()); }
};

bool xdotool(const QStringList& arguments) {
    return QProcess::execute(QStringLiteral("xdotool"), arguments) == 0;
}

template <typename Operation> QString thrownSentence(Operation&& operation) {
    try {
        operation();
    } catch (const ZedazidEdize& error) {
        return error.errorDescription().value_or(QStringLiteral("(no description)"));
    }
    return {};
}

xcb_connection_t* connection() {
    return qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
}

xcb_window_t root() {
    return xcb_setup_roots_iterator(xcb_get_setup(connection())).data->root;
}

std::uint16_t modifierState() {
    xcb_query_pointer_reply_t* reply =
        xcb_query_pointer_reply(connection(), xcb_query_pointer(connection(), root()), nullptr);
    const std::uint16_t mask = reply ? reply->mask : 0;
    std::free(reply);
    return mask;
}

quint32 spaceKeyCode() {
    const xcb_setup_t* setup = xcb_get_setup(connection());
    const int count = setup->max_keycode - setup->min_keycode + 1;
    xcb_get_keyboard_mapping_reply_t* mapping = xcb_get_keyboard_mapping_reply(
        connection(), xcb_get_keyboard_mapping(connection(), setup->min_keycode, count), nullptr);
    quint32 keyCode = 0;
    const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(mapping);
    for (int i = 0; i < count && keyCode == 0; ++i) {
        if (keysyms[i * mapping->keysyms_per_keycode] == 0x20)
            keyCode = setup->min_keycode + i;
    }
    std::free(mapping);
    return keyCode;
}

// Another program of ours holding a grab until it is destroyed.
class Grabber {
public:
    explicit Grabber(const QStringList& arguments) {
        m_process.start(QStringLiteral(WISPEN_SHORTCUT_GRABBER), arguments);
        m_ready =
            m_process.waitForStarted(eventTimeoutMs) &&
            QTest::qWaitFor(
                [&] {
                    return m_process.canReadLine() || m_process.state() == QProcess::NotRunning;
                },
                eventTimeoutMs) &&
            m_process.readLine().trimmed() == "grabbed";
    }
    ~Grabber() {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(eventTimeoutMs))
            m_process.kill();
    }
    bool ready() const { return m_ready; }

private:
    QProcess m_process;
    bool m_ready = false;
};

class GlobalShortcutOnX11 : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
        window.resize(240, 120);
        window.show();
        window.requestActivate();
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.isActive(); }, eventTimeoutMs));
        shortcut.onKey = [this](bool down) { keys.push_back(down); };
        space = spaceKeyCode();
        ASSERT_NE(space, 0u);
    }

    void TearDown() override { shortcut.stop(); }

    bool waitForKeys(std::size_t count) {
        return QTest::qWaitFor([&] { return keys.size() >= count; }, eventTimeoutMs);
    }
    bool waitForWindow(quint32 keyCode) {
        return QTest::qWaitFor([&] { return window.received(keyCode); }, eventTimeoutMs);
    }
    // Presses and releases a key; true when the press reached onKey and the
    // release followed.
    bool tap(const QString& key) {
        const std::size_t before = keys.size();
        return xdotool({QStringLiteral("keydown"), key}) && waitForKeys(before + 1) &&
               xdotool({QStringLiteral("keyup"), key}) && waitForKeys(before + 2);
    }
    // Taps the key until a press and its release reach onKey, for grabs that are
    // about to move.
    bool tapUntilOnKey(const QString& key) {
        const std::size_t before = keys.size();
        const bool pressed = QTest::qWaitFor(
            [&] {
                if (keys.size() > before)
                    return true;
                xdotool({QStringLiteral("key"), key});
                return false;
            },
            eventTimeoutMs);
        return pressed && waitForKeys(before + 2) && keys[before] && !keys[before + 1];
    }
    // Presses and releases a key that is not ours; true once the window got it.
    bool tapIntoWindow(const QString& key, quint32 keyCode) {
        return xdotool({QStringLiteral("key"), key}) && waitForWindow(keyCode);
    }

    std::shared_ptr<FakeSystemShortcuts> system = std::make_shared<FakeSystemShortcuts>();
    GlobalShortcut shortcut{system};
    KeyRecorder window;
    std::vector<bool> keys;
    quint32 space = 0;
};

TEST_F(GlobalShortcutOnX11, PressAndReleaseEachCallOnKeyOnce) {
    shortcut.start();
    ASSERT_TRUE(xdotool({QStringLiteral("keydown"), fallbackKeys}));
    ASSERT_TRUE(waitForKeys(1));
    EXPECT_EQ(keys, std::vector<bool>{true});
    // xdotool lets go of Control and Alt before the space bar.
    ASSERT_TRUE(xdotool({QStringLiteral("keyup"), fallbackKeys}));
    ASSERT_TRUE(waitForKeys(2));
    EXPECT_EQ(keys, (std::vector<bool>{true, false}));
    EXPECT_FALSE(window.received(space));
}

TEST_F(GlobalShortcutOnX11, HeldKeyRepeatsAsPressesWithExactlyOneRelease) {
    shortcut.start();
    ASSERT_TRUE(xdotool({QStringLiteral("keydown"), fallbackKeys}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return keys.size() >= repeatedPresses; }, eventTimeoutMs));
    ASSERT_TRUE(xdotool({QStringLiteral("keyup"), fallbackKeys}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !keys.back(); }, eventTimeoutMs));
    // A second tap behind the first flushes out any late release of the hold.
    ASSERT_TRUE(tap(fallbackKeys));
    ASSERT_GE(keys.size(), std::size_t(repeatedPresses + 3));
    std::vector<bool> expected(keys.size() - 3, true);
    expected.insert(expected.end(), {false, true, false});
    EXPECT_EQ(keys, expected);
}

TEST_F(GlobalShortcutOnX11, FiresWithNumLockAndCapsLockOn) {
    shortcut.start();
    ASSERT_TRUE(
        xdotool({QStringLiteral("key"), QStringLiteral("Num_Lock"), QStringLiteral("Caps_Lock")}));
    const std::uint16_t locks = XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2;
    const bool locked =
        QTest::qWaitFor([&] { return (modifierState() & locks) == locks; }, eventTimeoutMs);
    const bool fired = locked && tap(fallbackKeys);
    xdotool({QStringLiteral("key"), QStringLiteral("Num_Lock"), QStringLiteral("Caps_Lock")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return (modifierState() & locks) == 0; }, eventTimeoutMs));
    ASSERT_TRUE(locked);
    EXPECT_TRUE(fired);
    EXPECT_EQ(keys, (std::vector<bool>{true, false}));
}

TEST_F(GlobalShortcutOnX11, FallbackHeldByAnotherProgramStillLetsTheMicrophoneKeyWork) {
    // The other program holds only the Caps Lock variant, so our other variants
    // succeed first and must be given back.
    Grabber other({QStringLiteral("space"), QStringLiteral("lock")});
    ASSERT_TRUE(other.ready());
    EXPECT_EQ(thrownSentence([&] { shortcut.start(); }),
              QString::fromUtf8(GlobalShortcut::fallbackInUseMessage));
    EXPECT_TRUE(tapIntoWindow(fallbackKeys, space));

    shortcut.enableMicrophone();
    EXPECT_TRUE(tap(microphoneKey));
    EXPECT_EQ(keys, (std::vector<bool>{true, false}));
}

TEST_F(GlobalShortcutOnX11, MicrophoneKeyHeldByAnotherProgramIsNotReserved) {
    shortcut.start();
    Grabber other({QStringLiteral("microphone"), QStringLiteral("numlock")});
    ASSERT_TRUE(other.ready());
    EXPECT_EQ(thrownSentence([&] { shortcut.enableMicrophone(); }),
              QString::fromUtf8(GlobalShortcut::microphoneNotReservedMessage));
    EXPECT_TRUE(tapIntoWindow(microphoneKey, stockMicrophoneKeyCode));
    EXPECT_TRUE(keys.empty());
}

TEST_F(GlobalShortcutOnX11, MicrophoneKeyCodePressAndReleaseReachOnKey) {
    shortcut.start();
    EXPECT_EQ(shortcut.microphoneKeyCode(), std::optional<std::uint8_t>(stockMicrophoneKeyCode));
    shortcut.enableMicrophone();
    EXPECT_TRUE(tap(microphoneKey));
    EXPECT_EQ(keys, (std::vector<bool>{true, false}));
    EXPECT_FALSE(window.received(stockMicrophoneKeyCode));
}

TEST_F(GlobalShortcutOnX11, SecondEnableMicrophoneDoesNothing) {
    shortcut.start();
    shortcut.enableMicrophone();
    system->entries = {{true, keysymF20}};
    EXPECT_EQ(thrownSentence([&] { shortcut.enableMicrophone(); }), QString());
    EXPECT_EQ(system->reads, 1);
    EXPECT_TRUE(tap(microphoneKey));
}

struct SystemShortcutCase {
    const char* name;
    std::vector<SystemShortcuts::Entry> entries;
    bool refused;
};

class SystemShortcutsOnTheMicrophoneKey : public GlobalShortcutOnX11,
                                          public ::testing::WithParamInterface<SystemShortcutCase> {
};

TEST_P(SystemShortcutsOnTheMicrophoneKey, RefuseOnlyWhenEnabled) {
    shortcut.start();
    system->entries = GetParam().entries;
    const QString sentence = thrownSentence([&] { shortcut.enableMicrophone(); });
    if (GetParam().refused) {
        EXPECT_EQ(sentence, QString::fromUtf8(GlobalShortcut::microphoneUsedBySystemMessage));
        EXPECT_TRUE(tapIntoWindow(microphoneKey, stockMicrophoneKeyCode));
        EXPECT_TRUE(keys.empty());
    } else {
        EXPECT_EQ(sentence, QString());
        EXPECT_TRUE(tap(microphoneKey));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Entries, SystemShortcutsOnTheMicrophoneKey,
    ::testing::Values(SystemShortcutCase{"EnabledF20", {{false, 0x74}, {true, keysymF20}}, true},
                      SystemShortcutCase{
                          "EnabledMicMuteOnTheSameKey", {{true, keysymAudioMicMute}}, true},
                      SystemShortcutCase{"DisabledF20", {{false, keysymF20}}, false},
                      SystemShortcutCase{"OtherKeys", {{true, 0xffc9}, {true, 0x20}}, false},
                      SystemShortcutCase{"NoEntries", {}, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(GlobalShortcutOnX11, UnreadableSystemShortcutsLeaveTheMicrophoneKeyFree) {
    shortcut.start();
    system->unreadable = true;
    EXPECT_EQ(thrownSentence([&] { shortcut.enableMicrophone(); }),
              QString::fromUtf8(SystemShortcuts::unreadableMessage));
    EXPECT_TRUE(tapIntoWindow(microphoneKey, stockMicrophoneKeyCode));
    EXPECT_TRUE(keys.empty());
}

TEST_F(GlobalShortcutOnX11, AfterDisableMicrophoneTheKeyReachesTheFocusedWindow) {
    shortcut.start();
    shortcut.enableMicrophone();
    shortcut.disableMicrophone();
    shortcut.disableMicrophone();
    EXPECT_TRUE(tapIntoWindow(microphoneKey, stockMicrophoneKeyCode));
    EXPECT_TRUE(tap(fallbackKeys));
    EXPECT_EQ(keys, (std::vector<bool>{true, false}));
}

TEST_F(GlobalShortcutOnX11, AfterStopBothKeysReachTheFocusedWindowAndNotOnKey) {
    shortcut.start();
    shortcut.enableMicrophone();
    shortcut.stop();
    shortcut.stop();
    EXPECT_TRUE(tapIntoWindow(microphoneKey, stockMicrophoneKeyCode));
    EXPECT_TRUE(tapIntoWindow(fallbackKeys, space));
    EXPECT_TRUE(keys.empty());
}

TEST_F(GlobalShortcutOnX11, StopWhileHeldEndsTheGrabWithoutAnotherCall) {
    shortcut.start();
    ASSERT_TRUE(xdotool({QStringLiteral("keydown"), fallbackKeys}));
    ASSERT_TRUE(waitForKeys(1));
    shortcut.stop();
    ASSERT_TRUE(xdotool({QStringLiteral("keyup"), fallbackKeys}));
    EXPECT_TRUE(tapIntoWindow(microphoneKey, stockMicrophoneKeyCode));
    EXPECT_EQ(keys, std::vector<bool>{true});
}

// Also: keys typed into our own windows pass on.
TEST_F(GlobalShortcutOnX11, WithoutACallbackTheKeysAreStillTaken) {
    shortcut.onKey = nullptr;
    shortcut.start();
    ASSERT_TRUE(xdotool({QStringLiteral("key"), fallbackKeys}));
    EXPECT_TRUE(tapIntoWindow(QStringLiteral("space"), space));
    EXPECT_EQ(std::count(window.pressed.begin(), window.pressed.end(), space), 1);
}

// Loads a changed keyboard mapping for the life of the object: the space bar moved
// to the key of F13 and Num Lock moved to Mod3. The server's own mapping comes back
// afterwards.
class MovedSpaceAndNumLock {
public:
    MovedSpaceAndNumLock() {
        if (!m_folder.isValid() || !xkbcomp({display(), original()}))
            return;
        QFile file(original());
        if (!file.open(QIODevice::ReadOnly))
            return;
        QString keymap = QString::fromUtf8(file.readAll());
        keymap.replace(QRegularExpression(QStringLiteral("key <SPCE> \\{[^}]*\\};")),
                       QStringLiteral("key <SPCE> { [ NoSymbol ] };"));
        keymap.replace(QRegularExpression(QStringLiteral("key <FK13> \\{[^}]*\\};")),
                       QStringLiteral("key <FK13> { [ space ] };"));
        keymap.replace(QStringLiteral("modifier_map Mod2 { <NMLK> };"),
                       QStringLiteral("modifier_map Mod3 { <NMLK> };"));
        QFile changed(m_folder.filePath(QStringLiteral("changed.xkb")));
        m_loaded = changed.open(QIODevice::WriteOnly) && changed.write(keymap.toUtf8()) > 0;
        changed.close();
        m_loaded = m_loaded && xkbcomp({changed.fileName(), display()});
    }
    ~MovedSpaceAndNumLock() {
        if (m_loaded)
            xkbcomp({original(), display()});
    }
    bool loaded() const { return m_loaded; }

private:
    static QString display() { return qEnvironmentVariable("DISPLAY"); }
    static bool xkbcomp(QStringList arguments) {
        arguments.prepend(QStringLiteral("-w0"));
        return QProcess::execute(QStringLiteral("xkbcomp"), arguments) == 0;
    }
    QString original() const { return m_folder.filePath(QStringLiteral("original.xkb")); }

    QTemporaryDir m_folder;
    bool m_loaded = false;
};

TEST_F(GlobalShortcutOnX11, KeyboardMappingChangesMoveTheGrabs) {
    shortcut.start();
    shortcut.enableMicrophone();
    {
        MovedSpaceAndNumLock changed;
        ASSERT_TRUE(changed.loaded());
        ASSERT_TRUE(xdotool({QStringLiteral("key"), QStringLiteral("Num_Lock")}));
        const bool locked = QTest::qWaitFor([&] { return (modifierState() & XCB_MOD_MASK_3) != 0; },
                                            eventTimeoutMs);
        // Our new grabs follow the mapping notification, so the first taps may
        // still reach the window.
        const bool fallbackFired = locked && tapUntilOnKey(fallbackKeys);
        const bool microphoneFired = locked && tap(microphoneKey);
        xdotool({QStringLiteral("key"), QStringLiteral("Num_Lock")});
        ASSERT_TRUE(QTest::qWaitFor([&] { return (modifierState() & XCB_MOD_MASK_3) == 0; },
                                    eventTimeoutMs));
        EXPECT_TRUE(locked);
        EXPECT_TRUE(fallbackFired);
        EXPECT_TRUE(microphoneFired);
    }
    keys.clear();
    EXPECT_TRUE(tapUntilOnKey(fallbackKeys));
}

TEST(WithoutDisplay, StartThrowsThatTheShortcutCouldNotBeInstalled) {
    ASSERT_NE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    auto system = std::make_shared<FakeSystemShortcuts>();
    GlobalShortcut shortcut(system);
    EXPECT_EQ(thrownSentence([&] { shortcut.start(); }),
              QString::fromUtf8(GlobalShortcut::notInstalledMessage));
    EXPECT_EQ(thrownSentence([&] { shortcut.enableMicrophone(); }),
              QString::fromUtf8(GlobalShortcut::microphoneNotReservedMessage));
    EXPECT_EQ(shortcut.microphoneKeyCode(), std::nullopt);
    shortcut.disableMicrophone();
    shortcut.stop();
}

} // namespace
