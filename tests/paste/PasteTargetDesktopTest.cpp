// The paste target against real applications on the private desktop: a Qt, a GTK 3 and
// a GTK 4 application of ours, xterm, and a window of this process, driven with xdotool.

#include "AccessibilityStatus.h"
#include "AtspiDesktop.h"
#include "GlobalShortcut.h"
#include "LinuxFieldAccess.h"
#include "PasteTarget.h"
#include "TargetApplication.h"

#include <QAbstractEventDispatcher>
#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScopeGuard>
#include <QWindow>

#include <gtest/gtest.h>

#include <map>
#include <memory>

#include <linux/input-event-codes.h>
#include <signal.h>

namespace {

// Captures until `accept` holds for an attempt; nothing when none did in time.
// `failure` keeps the last attempt's reason.
std::optional<PasteTarget>
captureUntil(std::optional<QString>& failure,
             const std::function<bool(const std::optional<PasteTarget>&)>& accept) {
    std::optional<PasteTarget> target;
    const bool accepted = pollUntil([&] { return accept(target = PasteTarget::capture(failure)); });
    return accepted ? target : std::nullopt;
}

// The failure capture settles on, or the last one when it never settles on `expected`.
std::optional<QString> captureFailure(const QString& expected) {
    std::optional<QString> failure;
    captureUntil(failure, [&](const auto&) { return failure == expected; });
    return failure;
}

// Our shortcut, grabbed as the application grabs it, with the presses it received.
struct HeldShortcut {
    HeldShortcut() {
        shortcut.onKey = [this](bool down) { presses += down ? 1 : 0; };
        shortcut.start();
    }
    GlobalShortcut shortcut;
    int presses = 0;
};

// Types `text` into the cleared field, then captures it as a dictation does: while our
// shortcut is held, once the application has seen its focus go to the grab. Returns the
// target once the shortcut is released and the field has the focus again.
std::optional<PasteTarget> captureWithText(TargetApplication& application, const QString& field,
                                           const QString& text, bool losesFocus) {
    static HeldShortcut held;
    const auto strictlyFocused = [&] {
        return !AtspiDesktop().focused(application.pid()).isNull();
    };
    const int presses = held.presses;
    std::optional<QString> failure;
    if (!application.focus(field) || !xdotool({"key", "--clearmodifiers", "ctrl+a", "BackSpace"}) ||
        (!text.isEmpty() && !xdotool({"type", "--delay", "5", text})) ||
        !captureUntil(failure,
                      [&](const auto& target) {
                          return target && target->contentDigest() == PasteTarget::digestOf(text);
                      }) ||
        !xdotool({"keydown", "ctrl+alt+space"}))
        return std::nullopt;
    const bool grabbed = pollUntil([&] {
        return held.presses > presses &&
               PasteTarget::desktop()->keyboardGrab() == KeyboardGrab::held &&
               strictlyFocused() != losesFocus;
    });
    std::optional<PasteTarget> target = PasteTarget::capture(failure);
    if (!xdotool({"keyup", "space", "alt", "ctrl"}) || !grabbed || !target ||
        target->pid() != application.pid() || !pollUntil([&] { return target->isStillFocused(); }))
        return std::nullopt;
    return target;
}

// Our Qt and GTK applications, shared by the tests of each toolkit.
class DesktopPaste : public testing::TestWithParam<QString> {
protected:
    static void SetUpTestSuite() {
        const QString gtk = WISPEN_PASTE_TEST_DIR "/gtk_fields.py";
        apps["Qt"] = std::make_unique<TargetApplication>(WISPEN_QT_FIELDS_APP, QStringList());
        apps["Gtk"] = std::make_unique<TargetApplication>("/usr/bin/python3", QStringList{gtk});
        apps["Gtk4"] =
            std::make_unique<TargetApplication>("/usr/bin/python3", QStringList{gtk, "4"});
    }
    static void TearDownTestSuite() { apps.clear(); }
    void SetUp() override { ASSERT_TRUE(application().isReady() && otherApplication().isReady()); }

    TargetApplication& application() const { return *apps.at(GetParam()); }
    TargetApplication& otherApplication() const {
        return *apps.at(GetParam() == "Qt" ? "Gtk" : "Qt");
    }
    // GTK reports its field unfocused while a key grab holds the keyboard; Qt does not.
    std::optional<PasteTarget> captureWithText(const QString& field, const QString& text) const {
        return ::captureWithText(application(), field, text, GetParam().startsWith("Gtk"));
    }

    static inline std::map<QString, std::unique_ptr<TargetApplication>> apps;
};

// Captures each kind of field while our shortcut is held, refuses the paste while a
// modifier is held, and pastes the clipboard once it is released, after a space where
// the words would run together, as read back from a separate process.
TEST_P(DesktopPaste, CapturesEachFieldAndPastesOnlyWithoutAModifier) {
    const struct {
        QString field, text, modifier, space;
    } rows[] = {
        {"line", "said:", "shift", " "}, {"area", "said: ", "alt", ""}, {"line", "", "shift", ""}};
    const QString words = "dictated “words”";
    QGuiApplication::clipboard()->setText(words);
    for (const auto& [field, text, modifier, space] : rows) {
        SCOPED_TRACE((field + " holding \"" + text + "\", " + modifier).toStdString());
        const std::optional<PasteTarget> target = captureWithText(field, text);
        ASSERT_TRUE(target.has_value());
        EXPECT_TRUE(target->isStillFocused());
        EXPECT_EQ(target->selection().caret, text.size());
        // A reader made now has seen no focus event; it has to look the field up.
        std::optional<QString> failure;
        const auto late = PasteTarget::capture(failure, std::make_shared<LinuxFieldAccess>());
        ASSERT_TRUE(late.has_value()) << failure.value_or("").toStdString();
        EXPECT_EQ(late->pid(), application().pid());
        EXPECT_EQ(late->contentDigest(), target->contentDigest());

        ASSERT_TRUE(xdotool({"keydown", modifier}));
        EXPECT_FALSE(target->paste(words, failure));
        ASSERT_TRUE(xdotool({"keyup", modifier}));
        EXPECT_EQ(failure, PasteTarget::modifierHeld);
        EXPECT_EQ(readFieldText(application().pid(), field), text);

        ASSERT_TRUE(pollUntil([] { return !PasteTarget::desktop()->modifierHeld(); }));
        failure = "left by the capture";
        ASSERT_TRUE(target->paste(words, failure));
        EXPECT_EQ(failure, "left by the capture");
        // The application fetches the clipboard from our event loop, which keeps running.
        std::optional<QString> pasted;
        EXPECT_TRUE(pollUntil([&] {
            return (pasted = readFieldText(application().pid(), field)) == text + space + words;
        })) << "holds "
            << pasted.value_or("(unreadable)").toStdString();
    }
}

TEST_P(DesktopPaste, RefusesThePasswordFieldAndAButton) {
    const std::pair<QString, QString> rows[] = {{"secret", PasteTarget::passwordField},
                                                {"button", PasteTarget::notTextField}};
    for (const auto& [field, sentence] : rows) {
        SCOPED_TRACE(field.toStdString());
        ASSERT_TRUE(application().focus(field));
        EXPECT_EQ(captureFailure(sentence), sentence);
    }
}

TEST_P(DesktopPaste, AnyChangeBetweenCaptureAndPasteRefusesIt) {
    const auto keys = [](const QStringList& arguments) {
        return [=] { return xdotool(arguments); };
    };
    const std::pair<const char*, std::function<bool()>> changes[] = {
        {"typed", keys({"type", "d"})},
        {"caret moved", keys({"key", "Left"})},
        {"other application", [&] { return otherApplication().activate(); }},
        {"other field", [&] { return application().focus("area"); }},
    };
    for (const auto& [name, change] : changes) {
        SCOPED_TRACE(name);
        const std::optional<PasteTarget> target = captureWithText("line", "abc");
        ASSERT_TRUE(target.has_value());
        ASSERT_TRUE(change());
        ASSERT_TRUE(pollUntil([&] { return !target->isStillFocused(); }));
        std::optional<QString> failure;
        EXPECT_FALSE(target->paste("words", failure));
        EXPECT_EQ(failure, PasteTarget::targetChanged);
    }
}

INSTANTIATE_TEST_SUITE_P(Toolkits, DesktopPaste, testing::Values("Qt", "Gtk", "Gtk4"),
                         [](const auto& info) { return info.param.toStdString(); });

TEST(DesktopCapture, RefusesWhileAccessibilityIsOff) {
    ASSERT_TRUE(AccessibilityStatus::isEnabled());
    {
        const auto on = qScopeGuard([] { AccessibilityStatus::setEnabled(true); });
        ASSERT_TRUE(AccessibilityStatus::setEnabled(false));
        EXPECT_FALSE(AccessibilityStatus::isEnabled());
        EXPECT_EQ(captureFailure(PasteTarget::notTrusted), PasteTarget::notTrusted);
    }
    EXPECT_TRUE(AccessibilityStatus::isEnabled());
}

TEST(DesktopCapture, RefusesOurOwnWindow) {
    QLineEdit ownField;
    ownField.show();
    ASSERT_TRUE(
        pollUntil([&] { return ownField.windowHandle() && ownField.windowHandle()->isExposed(); }));
    ASSERT_TRUE(xdotool({"windowactivate", "--sync", QString::number(ownField.winId())}));
    EXPECT_EQ(captureFailure(PasteTarget::noFrontmostField), PasteTarget::noFrontmostField);
    EXPECT_EQ(PasteTarget::desktop()->frontmostApplication()->pid,
              QCoreApplication::applicationPid());
}

// A keymap without any Latin layout has no V: the keystroke goes to the key that
// carries V on a Latin keyboard, which toolkits read as paste with Control.
TEST(DesktopKeystroke, AKeymapWithoutVStillGetsControlV) {
    struct Keys : QWidget {
        std::vector<std::pair<quint32, Qt::KeyboardModifiers>> pressed;
        void keyPressEvent(QKeyEvent* event) override {
            pressed.emplace_back(event->nativeScanCode(), event->modifiers());
        }
    } keys;
    keys.show();
    ASSERT_TRUE(pollUntil([&] { return keys.windowHandle() && keys.windowHandle()->isExposed(); }));
    ASSERT_TRUE(xdotool({"windowactivate", "--sync", QString::number(keys.winId())}));
    const auto latin = qScopeGuard([] { QProcess::execute("setxkbmap", {"us"}); });
    ASSERT_EQ(QProcess::execute("setxkbmap", {"ru"}), 0);
    ASSERT_TRUE(PasteTarget::desktop()->postPasteKeystroke());
    const std::pair<quint32, Qt::KeyboardModifiers> controlV{KEY_V + 8, Qt::ControlModifier};
    EXPECT_TRUE(pollUntil(
        [&] { return std::count(keys.pressed.begin(), keys.pressed.end(), controlV) == 1; }));
}

TEST(DesktopCapture, RefusesATerminal) {
    QProcess xterm;
    xterm.start("xterm", {"-title", "paste-terminal"});
    const auto stop = qScopeGuard([&] { xterm.kill(), xterm.waitForFinished(); });
    ASSERT_TRUE(
        xdotool({"search", "--sync", "--name", "paste-terminal", "windowactivate", "--sync"}));
    EXPECT_EQ(captureFailure(PasteTarget::terminal), PasteTarget::terminal);
}

TEST(DesktopCapture, AnApplicationStartedWithoutAccessibilityExposesNoField) {
    // Qt reads the switch once at start-up: started while it is off, the application
    // stays invisible to assistive technologies after it is switched on again.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("QT_LINUX_ACCESSIBILITY_ALWAYS_ON");
    std::unique_ptr<TargetApplication> unaware;
    {
        const auto on = qScopeGuard([] { AccessibilityStatus::setEnabled(true); });
        ASSERT_TRUE(AccessibilityStatus::setEnabled(false));
        unaware =
            std::make_unique<TargetApplication>(WISPEN_QT_FIELDS_APP, QStringList(), environment);
        ASSERT_TRUE(unaware->isReady());
    }
    ASSERT_TRUE(AccessibilityStatus::isEnabled());
    ASSERT_TRUE(unaware->focus("line"));
    EXPECT_EQ(captureFailure(PasteTarget::noFocusedElement), PasteTarget::noFocusedElement);
    // Not a passing moment before the focus arrived: the application is not on the bus.
    EXPECT_EQ(PasteTarget::desktop()->frontmostApplication()->pid, unaware->pid());
    EXPECT_FALSE(readFieldText(unaware->pid(), "line").has_value());
}

TEST(DesktopCapture, AFrozenApplicationIsRefusedInsteadOfWaitedFor) {
    const TargetApplication frozen(WISPEN_QT_FIELDS_APP, {});
    ASSERT_TRUE(frozen.isReady() && frozen.focus("line"));
    std::optional<QString> failure;
    ASSERT_TRUE(captureUntil(
        failure, [&](const auto& target) { return target && target->pid() == frozen.pid(); }));
    ASSERT_EQ(::kill(static_cast<pid_t>(frozen.pid()), SIGSTOP), 0);
    const auto thaw = qScopeGuard([&] { ::kill(static_cast<pid_t>(frozen.pid()), SIGCONT); });
    // Every call to the stopped application runs into the bounded time-out.
    EXPECT_FALSE(PasteTarget::capture(failure).has_value());
    EXPECT_EQ(failure, PasteTarget::noFocusedElement);
}

TEST(DesktopCapture, FocusEventsArriveThroughQtsGlibEventLoop) {
    ASSERT_NE(QAbstractEventDispatcher::instance(), nullptr);
    EXPECT_TRUE(QAbstractEventDispatcher::instance()->inherits("QEventDispatcherGlib"));
}

} // namespace
