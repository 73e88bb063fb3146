// The paste target against real applications on the private desktop: our Qt, GTK 3 and
// GTK 4 target applications, driven with xdotool.

#include "AccessibilityStatus.h"
#include "AtspiDesktop.h"
#include "GlobalShortcut.h"
#include "LinuxFieldAccess.h"
#include "PasteTarget.h"
#include "TargetApplication.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QScopeGuard>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

#include <memory>

#include <linux/input-event-codes.h>

namespace {

// Captures until `accept` holds for an attempt; nothing when none did in time.
// `failure` keeps the last attempt's reason.
std::optional<PasteTarget>
captureUntil(std::optional<QString>& failure,
             const std::function<bool(const std::optional<PasteTarget>&)>& accept) {
    std::optional<PasteTarget> target;
    const bool accepted = waitUntil([&] { return accept(target = PasteTarget::capture(failure)); });
    return accepted ? target : std::nullopt;
}

// The failure capture settles on, or the last one when it never settles on `expected`.
std::optional<QString> captureFailure(const QString& expected) {
    std::optional<QString> failure;
    captureUntil(failure, [&](const auto&) { return failure == expected; });
    return failure;
}

using DesktopPaste = testing::TestWithParam<QString>;

// Captures each kind of field while our shortcut is held, refuses the paste while a
// modifier is held, and pastes the clipboard once it is released, after a space where
// the words would run together, as read back from a separate process; refuses the
// password field and a button. GTK 4 answers reads up to its end offset -1 with no text,
// and marks its containers visible but not showing, where a reader that has seen no
// focus event has to look for the field.
TEST_P(DesktopPaste, PastesIntoEachTextFieldOnlyWithoutAModifierAndRefusesTheOthers) {
    const bool gtk = GetParam() != "Qt";
    TargetApplication application(
        gtk ? "/usr/bin/python3" : WISPEN_QT_FIELDS_APP,
        gtk ? QStringList{WISPEN_PASTE_TEST_DIR "/gtk_fields.py", GetParam() == "Gtk4" ? "4" : "3"}
            : QStringList());
    ASSERT_TRUE(application.isReady());
    const struct {
        QString field, text, modifier, space;
    } rows[] = {
        {"line", "said:", "shift", " "}, {"area", "said: ", "alt", ""}, {"line", "", "shift", ""}};
    const QString words = "dictated “words”";
    QGuiApplication::clipboard()->setText(words);
    for (const auto& [field, text, modifier, space] : rows) {
        SCOPED_TRACE((field + " holding \"" + text + "\", " + modifier).toStdString());
        // Types the text into the cleared field, then captures it as a dictation does:
        // while our shortcut is held, once the application has seen its focus go to the
        // grab (GTK reports its field unfocused then, Qt does not).
        std::optional<QString> failure;
        ASSERT_TRUE(application.focus(field) &&
                    xdotool({"key", "--clearmodifiers", "ctrl+a", "BackSpace"}) &&
                    (text.isEmpty() || xdotool({"type", "--delay", "5", text})));
        ASSERT_TRUE(captureUntil(failure, [&](const auto& target) {
            return target && target->contentDigest() == PasteTarget::digestOf(text);
        }));
        ASSERT_TRUE(xdotool({"keydown", "ctrl+alt+space"}));
        const bool grabbed = waitUntil([&] {
            return PasteTarget::desktop()->keyboardGrab() == KeyboardGrab::held &&
                   AtspiDesktop().focused(application.pid()).isNull() == gtk;
        });
        const std::optional<PasteTarget> target = PasteTarget::capture(failure);
        ASSERT_TRUE(xdotool({"keyup", "space", "alt", "ctrl"}) && grabbed && target);
        // Once the shortcut is released the field has the focus again.
        EXPECT_EQ(target->pid(), application.pid());
        ASSERT_TRUE(waitUntil([&] { return target->isStillFocused(); }));
        // A reader that has seen no focus event looks for the field (its search is bounded
        // in time, so a loaded machine may need another try).
        std::optional<PasteTarget> late;
        ASSERT_TRUE(waitUntil([&] {
            late = PasteTarget::capture(failure, std::make_shared<LinuxFieldAccess>());
            return late.has_value();
        })) << failure.value_or("").toStdString();
        EXPECT_EQ(late->pid(), application.pid());
        EXPECT_EQ(late->contentDigest(), target->contentDigest());

        ASSERT_TRUE(xdotool({"keydown", modifier}));
        EXPECT_FALSE(target->paste(words, failure));
        ASSERT_TRUE(xdotool({"keyup", modifier}));
        EXPECT_EQ(failure, PasteTarget::modifierHeld);
        EXPECT_EQ(readFieldText(application.pid(), field), text);

        ASSERT_TRUE(waitUntil([] { return !PasteTarget::desktop()->modifierHeld(); }));
        ASSERT_TRUE(target->paste(words, failure = std::nullopt));
        // The application fetches the clipboard from our event loop, which keeps running.
        waitUntil([&] { return readFieldText(application.pid(), field) == text + space + words; });
        EXPECT_EQ(readFieldText(application.pid(), field), text + space + words);
    }
    for (const auto& [field, sentence] : {std::pair{"secret", PasteTarget::passwordField},
                                          std::pair{"button", PasteTarget::notTextField}}) {
        SCOPED_TRACE(field);
        ASSERT_TRUE(application.focus(field));
        EXPECT_EQ(captureFailure(sentence), sentence);
    }
}

INSTANTIATE_TEST_SUITE_P(Toolkits, DesktopPaste, testing::Values("Qt", "Gtk", "Gtk4"),
                         [](const auto& info) { return info.param.toStdString(); });

TEST(DesktopCapture, RefusesEverythingWhileAccessibilityIsOff) {
    const auto on = qScopeGuard([] { AccessibilityStatus::setEnabled(true); });
    ASSERT_TRUE(AccessibilityStatus::setEnabled(false));
    EXPECT_EQ(captureFailure(PasteTarget::notTrusted), PasteTarget::notTrusted);
}

// A field focused before we listened: once our grab holds the keyboard GTK reports it
// unfocused, and only what the background search learned before still finds it.
TEST(DesktopCapture, LearnsTheFieldFocusedBeforeItListened) {
    TargetApplication application("/usr/bin/python3",
                                  {WISPEN_PASTE_TEST_DIR "/gtk_fields.py", "3"});
    ASSERT_TRUE(application.isReady() && application.focus("area"));
    AtspiDesktop learned;
    learned.stopFollowingFocus();
    learned.learnFocus(application.pid());
    ASSERT_TRUE(waitUntil([&] { return !learned.isLearning(); }));
    ASSERT_TRUE(xdotool({"keydown", "ctrl+alt+space"}));
    const auto release = qScopeGuard([] { xdotool({"keyup", "space", "alt", "ctrl"}); });
    ASSERT_TRUE(waitUntil([&] {
        return PasteTarget::desktop()->keyboardGrab() == KeyboardGrab::held &&
               AtspiDesktop().focused(application.pid()).isNull();
    }));
    EXPECT_FALSE(learned.focused(application.pid(), true).isNull());
}

// A keymap without any Latin layout has no V: the keystroke goes to the key that
// carries V on a Latin keyboard, which toolkits read as paste with Control.
TEST(DesktopKeystroke, AKeymapWithoutVStillGetsControlV) {
    struct Keys : QWidget {
        int controlV = 0;
        void keyPressEvent(QKeyEvent* event) override {
            controlV +=
                event->nativeScanCode() == KEY_V + 8 && event->modifiers() == Qt::ControlModifier;
        }
    } keys;
    keys.show();
    ASSERT_TRUE(waitUntil([&] { return keys.windowHandle() && keys.windowHandle()->isExposed(); }));
    ASSERT_TRUE(xdotool({"windowactivate", "--sync", QString::number(keys.winId())}));
    const auto latin = qScopeGuard([] { QProcess::execute("setxkbmap", {"us"}); });
    ASSERT_EQ(QProcess::execute("setxkbmap", {"ru"}), 0);
    ASSERT_TRUE(PasteTarget::desktop()->postPasteKeystroke());
    EXPECT_TRUE(waitUntil([&] { return keys.controlV == 1; }));
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    // Follow the focus from the start, and grab our shortcut, as the application does.
    PasteTarget::startWatchingFocus();
    GlobalShortcut shortcut;
    shortcut.start();
    return RUN_ALL_TESTS();
}
