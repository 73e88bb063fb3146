// The paste target against real applications on the private desktop: a Qt and a GTK
// application of ours, xterm, and a window of this process, driven with xdotool.

#include "AccessibilityStatus.h"
#include "LinuxFieldAccess.h"
#include "PasteTarget.h"
#include "TargetApplication.h"

#include <QAbstractEventDispatcher>
#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScopeGuard>
#include <QWindow>

#include <gtest/gtest.h>

#include <memory>

#include <signal.h>

namespace {

constexpr int captureTimeoutMs = 5000;

// Captures until the result satisfies `accept` or the time-out passes; returns the last
// attempt and its failure.
std::optional<PasteTarget> captureUntil(
    std::optional<QString>& failure,
    const std::function<bool(const std::optional<PasteTarget>&, const std::optional<QString>&)>&
        accept) {
    std::optional<PasteTarget> target;
    pollUntil(
        [&] {
            target = PasteTarget::capture(failure);
            return accept(target, failure);
        },
        captureTimeoutMs);
    return target;
}

// The failure capture settles on, or the success it could not avoid.
std::optional<QString> captureFailure(const QString& expected) {
    std::optional<QString> failure;
    captureUntil(failure, [&](const auto&, const auto& reason) { return reason == expected; });
    return failure;
}

// Types `text` into the cleared field and captures it once the application shows it.
std::optional<PasteTarget> captureWithText(TargetApplication& application, const QString& field,
                                           const QString& text) {
    if (!application.focus(field) || !xdotool({"key", "--clearmodifiers", "ctrl+a", "BackSpace"}) ||
        (!text.isEmpty() && !xdotool({"type", "--delay", "5", text})))
        return std::nullopt;
    const QString digest = PasteTarget::digestOf(text);
    std::optional<QString> failure;
    std::optional<PasteTarget> target =
        captureUntil(failure, [&](const auto& captured, const auto&) {
            return captured && captured->pid() == application.pid() &&
                   captured->contentDigest() == digest;
        });
    if (!target || target->pid() != application.pid() || target->contentDigest() != digest)
        return std::nullopt;
    return target;
}

// Holds a key down for the life of the value.
class HeldKey {
public:
    explicit HeldKey(QString key)
        : key_(std::move(key)) {
        held_ = xdotool({"keydown", key_});
    }
    ~HeldKey() { xdotool({"keyup", key_}); }
    bool isHeld() const { return held_; }

private:
    QString key_;
    bool held_ = false;
};

// Switches accessibility off for the life of the value and always back on.
class AccessibilitySwitchedOff {
public:
    AccessibilitySwitchedOff() { switched_ = AccessibilityStatus::setEnabled(false); }
    ~AccessibilitySwitchedOff() { AccessibilityStatus::setEnabled(true); }
    bool isOff() const { return switched_; }

private:
    bool switched_ = false;
};

class DesktopPaste : public testing::TestWithParam<QString> {
protected:
    static void SetUpTestSuite() {
        qt = new TargetApplication(QStringLiteral(WISPEN_QT_FIELDS_APP), {});
        gtk = new TargetApplication(QStringLiteral("/usr/bin/python3"),
                                    {QStringLiteral(WISPEN_PASTE_TEST_DIR "/gtk_fields.py")});
    }
    static void TearDownTestSuite() {
        delete qt;
        delete gtk;
        qt = gtk = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(qt->isReady());
        ASSERT_TRUE(gtk->isReady());
    }

    TargetApplication& application() const { return GetParam() == "Qt" ? *qt : *gtk; }
    TargetApplication& otherApplication() const { return GetParam() == "Qt" ? *gtk : *qt; }

    static inline TargetApplication* qt = nullptr;
    static inline TargetApplication* gtk = nullptr;
};

TEST_P(DesktopPaste, CapturesTheLineAndTheMultiLineField) {
    for (const QString& field : {QStringLiteral("line"), QStringLiteral("area")}) {
        const std::optional<PasteTarget> target =
            captureWithText(application(), field, QStringLiteral("hello world"));
        ASSERT_TRUE(target.has_value()) << field.toStdString();
        EXPECT_TRUE(target->isStillFocused());
        EXPECT_EQ(target->selection().caret, 11);
    }
}

TEST_P(DesktopPaste, CapturesAnEmptyFieldWithTheDigestOfNoText) {
    const std::optional<PasteTarget> target = captureWithText(application(), "line", QString());
    ASSERT_TRUE(target.has_value());
    EXPECT_EQ(target->contentDigest(),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST_P(DesktopPaste, RefusesThePasswordField) {
    ASSERT_TRUE(application().focus("secret"));
    EXPECT_EQ(captureFailure(PasteTarget::passwordField), PasteTarget::passwordField);
}

TEST_P(DesktopPaste, RefusesAButton) {
    ASSERT_TRUE(application().focus("button"));
    EXPECT_EQ(captureFailure(PasteTarget::notTextField), PasteTarget::notTextField);
}

TEST_P(DesktopPaste, TypingBeforeThePasteRefusesIt) {
    const std::optional<PasteTarget> target = captureWithText(application(), "line", "abc");
    ASSERT_TRUE(target.has_value());
    ASSERT_TRUE(xdotool({"type", "d"}));
    ASSERT_TRUE(pollUntil([&] { return readFieldText(application().pid(), "line") == "abcd"; }));
    std::optional<QString> failure;
    EXPECT_FALSE(target->paste(failure));
    EXPECT_EQ(failure, PasteTarget::targetChanged);
}

TEST_P(DesktopPaste, MovingTheCaretBeforeThePasteRefusesIt) {
    const std::optional<PasteTarget> target = captureWithText(application(), "line", "abc");
    ASSERT_TRUE(target.has_value());
    ASSERT_TRUE(xdotool({"key", "Left"}));
    ASSERT_TRUE(pollUntil(
        [&] { return PasteTarget::desktop()->selection(target->element())->caret == 2; }));
    std::optional<QString> failure;
    EXPECT_FALSE(target->paste(failure));
    EXPECT_EQ(failure, PasteTarget::targetChanged);
}

TEST_P(DesktopPaste, SwitchingFieldOrApplicationBeforeThePasteRefusesIt) {
    const std::optional<PasteTarget> target = captureWithText(application(), "line", "abc");
    ASSERT_TRUE(target.has_value());
    ASSERT_TRUE(otherApplication().activate());
    std::optional<QString> failure;
    EXPECT_FALSE(target->paste(failure));
    EXPECT_EQ(failure, PasteTarget::targetChanged);

    const std::optional<PasteTarget> again = captureWithText(application(), "line", "abc");
    ASSERT_TRUE(again.has_value());
    ASSERT_TRUE(application().focus("area"));
    ASSERT_TRUE(pollUntil([&] {
        return !(PasteTarget::desktop()->focusedElement(application().pid()) == again->element());
    }));
    failure.reset();
    EXPECT_FALSE(again->paste(failure));
    EXPECT_EQ(failure, PasteTarget::targetChanged);
}

TEST_P(DesktopPaste, AHeldModifierRefusesThePaste) {
    for (const QString& key : {QStringLiteral("shift"), QStringLiteral("alt")}) {
        const std::optional<PasteTarget> target = captureWithText(application(), "line", "abc");
        ASSERT_TRUE(target.has_value());
        std::optional<QString> failure;
        {
            const HeldKey held(key);
            ASSERT_TRUE(held.isHeld());
            EXPECT_FALSE(target->paste(failure)) << key.toStdString();
        }
        EXPECT_EQ(failure, PasteTarget::modifierHeld) << key.toStdString();
        EXPECT_EQ(readFieldText(application().pid(), "line"), "abc");
    }
}

TEST_P(DesktopPaste, AnUnchangedFieldReceivesTheClipboard) {
    for (const QString& field : {QStringLiteral("line"), QStringLiteral("area")}) {
        const std::optional<PasteTarget> target =
            captureWithText(application(), field, QStringLiteral("said: "));
        ASSERT_TRUE(target.has_value()) << field.toStdString();
        QGuiApplication::clipboard()->setText(QStringLiteral("dictated “words”"));
        std::optional<QString> failure = QStringLiteral("left by the capture");
        ASSERT_TRUE(target->paste(failure)) << field.toStdString();
        EXPECT_EQ(failure, QStringLiteral("left by the capture"));
        // The application fetches the clipboard from our event loop, which keeps running.
        std::optional<QString> text;
        EXPECT_TRUE(pollUntil([&] {
            text = readFieldText(application().pid(), field);
            return text == QStringLiteral("said: dictated “words”");
        })) << field.toStdString()
            << " holds " << text.value_or("(unreadable)").toStdString();
    }
}

TEST_P(DesktopPaste, FindsAFieldFocusedBeforeFocusWasFollowed) {
    ASSERT_TRUE(captureWithText(application(), "line", "abc").has_value());
    // A reader made now has seen no focus event; it has to look the field up.
    const auto late = std::make_shared<LinuxFieldAccess>();
    std::optional<QString> failure;
    const std::optional<PasteTarget> target = PasteTarget::capture(failure, late);
    ASSERT_TRUE(target.has_value()) << failure.value_or("").toStdString();
    EXPECT_EQ(target->pid(), application().pid());
    EXPECT_EQ(target->contentDigest(), PasteTarget::digestOf("abc"));
}

INSTANTIATE_TEST_SUITE_P(Toolkits, DesktopPaste, testing::Values("Qt", "Gtk"),
                         [](const auto& info) { return info.param.toStdString(); });

TEST(DesktopCapture, RefusesWhileAccessibilityIsOff) {
    const TargetApplication qt(QStringLiteral(WISPEN_QT_FIELDS_APP), {});
    ASSERT_TRUE(qt.isReady());
    const AccessibilitySwitchedOff off;
    ASSERT_TRUE(off.isOff());
    EXPECT_EQ(captureFailure(PasteTarget::notTrusted), PasteTarget::notTrusted);
}

TEST(DesktopCapture, AccessibilityStatusFollowsTheSessionSwitch) {
    ASSERT_TRUE(AccessibilityStatus::isEnabled());
    {
        const AccessibilitySwitchedOff off;
        ASSERT_TRUE(off.isOff());
        EXPECT_FALSE(AccessibilityStatus::isEnabled());
    }
    EXPECT_TRUE(AccessibilityStatus::isEnabled());
}

TEST(DesktopCapture, RefusesOurOwnWindow) {
    QLineEdit ownField;
    ownField.setWindowTitle(QStringLiteral("Own field"));
    ownField.show();
    ASSERT_TRUE(
        pollUntil([&] { return ownField.windowHandle() && ownField.windowHandle()->isExposed(); }));
    ASSERT_TRUE(xdotool({"windowactivate", "--sync", QString::number(ownField.winId())}));
    EXPECT_EQ(captureFailure(PasteTarget::noFrontmostField), PasteTarget::noFrontmostField);
    EXPECT_EQ(PasteTarget::desktop()->frontmostApplication()->pid,
              QCoreApplication::applicationPid());
}

TEST(DesktopCapture, RefusesATerminal) {
    QProcess xterm;
    xterm.start(QStringLiteral("xterm"),
                {QStringLiteral("-title"), QStringLiteral("paste-terminal")});
    const auto stop = qScopeGuard([&] {
        xterm.kill();
        xterm.waitForFinished();
    });
    ASSERT_TRUE(
        xdotool({"search", "--sync", "--name", "paste-terminal", "windowactivate", "--sync"}));
    EXPECT_EQ(captureFailure(PasteTarget::terminal), PasteTarget::terminal);
}

TEST(DesktopCapture, AnApplicationStartedWithoutAccessibilityExposesNoField) {
    // Qt reads the switch once at start-up: started while it is off, the application
    // stays invisible to assistive technologies after it is switched on again.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"));
    std::unique_ptr<TargetApplication> unaware;
    {
        const AccessibilitySwitchedOff off;
        ASSERT_TRUE(off.isOff());
        unaware = std::make_unique<TargetApplication>(QStringLiteral(WISPEN_QT_FIELDS_APP),
                                                      QStringList(), environment);
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
    const TargetApplication frozen(QStringLiteral(WISPEN_QT_FIELDS_APP), {});
    ASSERT_TRUE(frozen.isReady());
    ASSERT_TRUE(frozen.focus("line"));
    std::optional<QString> failure;
    ASSERT_TRUE(captureUntil(failure, [&](const auto& captured, const auto&) {
        return captured && captured->pid() == frozen.pid();
    }));
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
