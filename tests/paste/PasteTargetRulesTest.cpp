// The capture and confirmation rules over a substitute desktop: the order of the
// checks, every refusal sentence, the keystrokes and the spacing rule.

#include "FieldAccess.h"
#include "PasteTarget.h"

#include <gtest/gtest.h>

namespace {

using Element = const AccessibleElement&;

// A desktop made of plain data: one frontmost application with one focused element,
// each of whose details can be missing. It records the keys it was asked to post.
struct FakeFieldAccess final : FieldAccess {
    bool trusted = true, keystrokeWorks = true, spaceWorks = true;
    std::optional<FrontmostApplication> frontmost = FrontmostApplication{4242, {"editor"}};
    AccessibleElement focus{":1.7", "/field"};
    std::optional<QString> elementRole = "entry";
    std::optional<AccessibleElement> elementWindow = AccessibleElement(":1.7", "/window");
    std::optional<TextSelection> elementSelection = TextSelection{3, {}};
    std::optional<QString> elementText = "abc";
    std::optional<qint64> elementCharacters = 3;
    KeyboardGrab grab = KeyboardGrab::none;
    QString posted; // " " for a space, "V" for the paste keystroke

    bool isTrusted() override { return trusted; }
    std::optional<FrontmostApplication> frontmostApplication() override { return frontmost; }
    qint64 ownProcessId() const override { return 1000; }
    AccessibleElement focusedElement(qint64 pid) override {
        return frontmost && pid == frontmost->pid ? focus : AccessibleElement();
    }
    std::optional<QString> role(Element) override { return elementRole; }
    std::optional<AccessibleElement> window(Element) override { return elementWindow; }
    std::optional<TextSelection> selection(Element) override { return elementSelection; }
    std::optional<QString> text(Element) override { return elementText; }
    std::optional<qint64> characterCount(Element) override { return elementCharacters; }
    bool modifierHeld() override { return false; }
    KeyboardGrab keyboardGrab() override { return grab; }
    bool postPasteKeystroke() override { return keystrokeWorks && !(posted += "V").isEmpty(); }
    bool postSpaceKeystroke() override { return spaceWorks && !(posted += " ").isEmpty(); }
};

using Change = void (*)(FakeFieldAccess&);

TEST(PasteTargetCapture, RefusesAtTheFirstFailedCheckOrRecordsTheField) {
    const struct {
        const char* name;
        Change change;
        std::optional<QString> failure; // nothing: captured
    } rows[] = {
        {"not trusted", [](auto& d) { d.trusted = false; }, PasteTarget::notTrusted},
        {"no frontmost", [](auto& d) { d.frontmost.reset(); }, PasteTarget::noFrontmostField},
        {"ourselves", [](auto& d) { d.frontmost->pid = 1000; }, PasteTarget::noFrontmostField},
        {"terminal", [](auto& d) { d.frontmost->identifiers = {"XTerm"}; }, PasteTarget::terminal},
        {"no focus", [](auto& d) { d.focus = {}; }, PasteTarget::noFocusedElement},
        // The role is checked before the window, and the secure role before the accepted ones.
        {"password", [](auto& d) { d.elementRole = "password text", d.elementWindow.reset(); },
         PasteTarget::passwordField},
        {"role unreadable", [](auto& d) { d.elementRole.reset(); }, PasteTarget::notTextField},
        {"button", [](auto& d) { d.elementRole = "push button"; }, PasteTarget::notTextField},
        {"no window", [](auto& d) { d.elementWindow.reset(); }, PasteTarget::noWindow},
        {"no cursor", [](auto& d) { d.elementSelection.reset(); }, PasteTarget::noCursor},
        {"no text, characters", [](auto& d) { d.elementText.reset(); }, PasteTarget::noContents},
        {"no text, empty", [](auto& d) { d.elementText.reset(), d.elementCharacters = 0; }, {}},
        {"entry", [](auto&) {}, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto desktop = std::make_shared<FakeFieldAccess>();
        row.change(*desktop);
        std::optional<QString> failure = "left over from before";
        // What a capture records is pinned by the confirmation below.
        EXPECT_EQ(PasteTarget::capture(failure, desktop).has_value(), !row.failure);
        EXPECT_EQ(failure, row.failure);
    }
}

TEST(PasteTargetPaste, TypesTheSpaceAndTheKeystrokeOnlyIntoTheUnchangedField) {
    const QString& changed = PasteTarget::targetChanged;
    const struct {
        const char* name;
        Change change;
        std::optional<QString> failure; // nothing: pasted
        QString posted = {};
    } rows[] = {
        // "abc" with the caret at its end: the words need a space before them.
        {"unchanged", [](auto&) {}, {}, " V"},
        {"no longer trusted", [](auto& d) { d.trusted = false; }, changed},
        {"other application", [](auto& d) { d.frontmost->pid = 77; }, changed},
        {"other field", [](auto& d) { d.focus = AccessibleElement(":1.7", "/other"); }, changed},
        {"caret moved", [](auto& d) { d.elementSelection->caret = 2; }, changed},
        {"text selected", [](auto& d) { d.elementSelection->ranges.emplace_back(0, 3); }, changed},
        {"text typed", [](auto& d) { d.elementText = "abcd"; }, changed},
        {"text unreadable", [](auto& d) { d.elementText.reset(); }, changed},
        {"grab holds the keyboard", [](auto& d) { d.grab = KeyboardGrab::held; }, changed},
        {"grab just released", [](auto& d) { d.grab = KeyboardGrab::justReleased; }, {}, " V"},
        {"keystroke refused", [](auto& d) { d.keystrokeWorks = false; },
         PasteTarget::keystrokeFailed, " "},
        {"space refused", [](auto& d) { d.spaceWorks = false; }, PasteTarget::keystrokeFailed},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto desktop = std::make_shared<FakeFieldAccess>();
        std::optional<QString> failure;
        const std::optional<PasteTarget> target = PasteTarget::capture(failure, desktop);
        ASSERT_TRUE(target.has_value());
        row.change(*desktop);
        EXPECT_EQ(target->isStillFocused(), row.failure != changed);
        failure = "earlier";
        EXPECT_EQ(target->paste("words", failure), !row.failure);
        EXPECT_EQ(failure, row.failure.value_or("earlier"));
        EXPECT_EQ(desktop->posted, row.posted);
        EXPECT_EQ(target->focusReturning(), desktop->grab != KeyboardGrab::none);
    }
}

TEST(PasteTargetSpacing, SeparatesTheTranscriptFromAWordBeforeTheCaret) {
    const struct {
        QString text;
        TextSelection selection;
        QString transcript;
        bool space;
    } rows[] = {{"said:", {5, {}}, "42", true},
                {"line\n", {5, {}}, "x", false},
                {"abc", {0, {}}, "hello", false},
                {"abc", {3, {}}, ",x", false},
                {"abc", {3, {}}, "", false},
                {"abc", {9, {}}, "x", false},
                // Offsets count characters, not UTF-16 units.
                {"😀 x", {2, {}}, "x", false},
                // A paste replaces the selection: what comes before it counts.
                {"ab cd", {5, {{3, 5}}}, "x", false},
                {"ab cd", {3, {{5, 3}}}, "x", false},
                {"ab cd", {5, {{4, 5}}}, "x", true}};
    for (const auto& row : rows) {
        SCOPED_TRACE((row.text + "|" + row.transcript).toStdString());
        EXPECT_EQ(PasteTarget::needsLeadingSpace(row.text, row.selection, row.transcript),
                  row.space);
    }
}

} // namespace
