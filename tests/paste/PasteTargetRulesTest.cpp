// The capture and confirmation rules over a substitute desktop: the order of the
// checks, every refusal sentence, the digest rule and the terminal table.

#include "FieldAccess.h"
#include "PasteTarget.h"
#include "TerminalApplications.h"

#include <QCryptographicHash>
#include <QStringList>

#include <gtest/gtest.h>

namespace {

using Element = const AccessibleElement&;

// A desktop made of plain data: one frontmost application with one focused element,
// each of whose details can be missing. Logs its calls, so tests can tell where a
// check stopped.
class FakeFieldAccess final : public FieldAccess {
public:
    bool trusted = true;
    std::optional<FrontmostApplication> frontmost = FrontmostApplication{4242, {"editor"}};
    qint64 ownPid = 1000;
    AccessibleElement focus{":1.7", "/field"};
    std::optional<QString> elementRole = "entry";
    std::optional<AccessibleElement> elementWindow = AccessibleElement(":1.7", "/window");
    std::optional<TextSelection> elementSelection = TextSelection{3, {}};
    std::optional<QString> elementText = "abc";
    std::optional<qint64> elementCharacters = 3;
    bool heldModifier = false;
    KeyboardGrab grab = KeyboardGrab::none;
    bool keystrokeWorks = true, spaceWorks = true;
    int keystrokes = 0;
    QStringList calls;

    bool isTrusted() override { return log("trusted", trusted); }
    std::optional<FrontmostApplication> frontmostApplication() override {
        return log("frontmost", frontmost);
    }
    qint64 ownProcessId() const override { return ownPid; }
    AccessibleElement focusedElement(qint64 pid) override {
        return log("focused", frontmost && pid == frontmost->pid ? focus : AccessibleElement());
    }
    std::optional<QString> role(Element) override { return log("role", elementRole); }
    std::optional<AccessibleElement> window(Element) override {
        return log("window", elementWindow);
    }
    std::optional<TextSelection> selection(Element) override {
        return log("selection", elementSelection);
    }
    std::optional<QString> text(Element) override { return log("text", elementText); }
    std::optional<qint64> characterCount(Element) override {
        return log("characters", elementCharacters);
    }
    bool modifierHeld() override { return log("modifiers", heldModifier); }
    bool postPasteKeystroke() override {
        keystrokes += keystrokeWorks ? 1 : 0;
        return log("keystroke", keystrokeWorks);
    }
    KeyboardGrab keyboardGrab() override { return grab; }
    bool postSpaceKeystroke() override { return log("space", spaceWorks); }

    void unreadableText(std::optional<qint64> characters = {}) {
        elementText.reset();
        elementCharacters = characters;
    }

private:
    template <typename T> T log(const char* call, T result) {
        calls.append(QString::fromLatin1(call));
        return result;
    }
};

using Change = void (*)(FakeFieldAccess&);

const QString abcDigest = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const QString emptyDigest = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

TEST(PasteTargetCapture, RefusesAtTheFirstFailedCheckOrRecordsTheField) {
    const struct {
        const char* name;
        Change change;
        std::optional<QString> failure; // nothing: captured, with `digest`
        QString digest = abcDigest;
    } rows[] = {
        {"not trusted", [](auto& d) { d.trusted = false; }, PasteTarget::notTrusted},
        {"no frontmost", [](auto& d) { d.frontmost.reset(); }, PasteTarget::noFrontmostField},
        {"own application", [](auto& d) { d.frontmost->pid = d.ownPid; },
         PasteTarget::noFrontmostField},
        {"terminal class",
         [](auto& d) {
             d.frontmost->identifiers = {"xterm", "XTerm"};
         },
         PasteTarget::terminal},
        {"terminal id",
         [](auto& d) {
             d.frontmost->identifiers = {"org.gnome.Terminal", "gnome-terminal-server"};
         },
         PasteTarget::terminal},
        {"no focus", [](auto& d) { d.focus = {}; }, PasteTarget::noFocusedElement},
        // The role is checked before the window, and the secure role before the accepted ones.
        {"password", [](auto& d) { d.elementRole = "password text", d.elementWindow.reset(); },
         PasteTarget::passwordField},
        {"role unreadable", [](auto& d) { d.elementRole.reset(); }, PasteTarget::notTextField},
        {"button", [](auto& d) { d.elementRole = "push button"; }, PasteTarget::notTextField},
        {"no window", [](auto& d) { d.elementWindow.reset(); }, PasteTarget::noWindow},
        {"no cursor", [](auto& d) { d.elementSelection.reset(); }, PasteTarget::noCursor},
        {"no text, no count", [](auto& d) { d.unreadableText(); }, PasteTarget::noContents},
        {"no text, characters", [](auto& d) { d.unreadableText(5); }, PasteTarget::noContents},
        {"no text, no characters", [](auto& d) { d.unreadableText(0); }, {}, emptyDigest},
        {"entry", [](auto&) {}, {}},
        {"text", [](auto& d) { d.elementRole = "text"; }, {}},
        {"paragraph", [](auto& d) { d.elementRole = "paragraph"; }, {}},
        {"combo box", [](auto& d) { d.elementRole = "combo box"; }, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto desktop = std::make_shared<FakeFieldAccess>();
        row.change(*desktop);
        std::optional<QString> failure = "left over from before";
        const std::optional<PasteTarget> target = PasteTarget::capture(failure, desktop);
        EXPECT_EQ(failure, row.failure);
        ASSERT_EQ(target.has_value(), !row.failure);
        if (target) {
            EXPECT_EQ(target->pid(), 4242);
            EXPECT_EQ(target->element(), desktop->focus);
            EXPECT_EQ(target->window(), *desktop->elementWindow);
            EXPECT_EQ(target->selection(), *desktop->elementSelection);
            EXPECT_EQ(target->contentDigest(), row.digest);
        }
    }
}

TEST(PasteTargetDigest, HashesTheUtf8BytesInLowerCaseHex) {
    EXPECT_EQ(PasteTarget::digestOf(QString()), emptyDigest);
    // "é" is two bytes in UTF-8, "€" three; hashing anything else would differ.
    const QByteArray utf8("\xc3\xa9\xe2\x82\xac");
    EXPECT_EQ(
        PasteTarget::digestOf("é€"),
        QString::fromLatin1(QCryptographicHash::hash(utf8, QCryptographicHash::Sha256).toHex()));
}

TEST(PasteTargetPaste, PostsOneKeystrokeOnlyIntoTheUnchangedField) {
    const QString& changed = PasteTarget::targetChanged;
    const struct {
        const char* name;
        Change change;
        std::optional<QString> failure; // nothing: pasted
    } rows[] = {
        {"unchanged", [](auto&) {}, {}},
        {"modifier held", [](auto& d) { d.heldModifier = true; }, PasteTarget::modifierHeld},
        {"no longer trusted", [](auto& d) { d.trusted = false; }, changed},
        {"other application", [](auto& d) { d.frontmost->pid = 77; }, changed},
        {"other field", [](auto& d) { d.focus = AccessibleElement(":1.7", "/other"); }, changed},
        {"other window", [](auto& d) { d.elementWindow = AccessibleElement(":1.7", "/w2"); },
         changed},
        {"caret moved", [](auto& d) { d.elementSelection->caret = 2; }, changed},
        {"text selected",
         [](auto& d) { d.elementSelection->ranges.push_back(TextSelection::Range(0, 3)); },
         changed},
        {"text typed", [](auto& d) { d.elementText = "abcd"; }, changed},
        {"text unreadable", [](auto& d) { d.unreadableText(); }, changed},
        {"grab holds the keyboard", [](auto& d) { d.grab = KeyboardGrab::held; }, changed},
        {"grab just released", [](auto& d) { d.grab = KeyboardGrab::justReleased; }, {}},
        {"keystroke refused", [](auto& d) { d.keystrokeWorks = false; },
         PasteTarget::keystrokeFailed},
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
        desktop->calls.clear();
        failure = "earlier";
        // "abc" with the caret at its end: the words need a space before them.
        EXPECT_EQ(target->paste("words", failure), !row.failure);
        EXPECT_EQ(failure, row.failure.value_or("earlier"));
        EXPECT_EQ(desktop->keystrokes, row.failure ? 0 : 1);
        EXPECT_EQ(target->focusReturning(), desktop->grab != KeyboardGrab::none);
        // The modifier check comes first; after the keystroke nothing waits on the target.
        EXPECT_EQ(desktop->calls.constFirst(), "modifiers");
        if (!row.failure) {
            EXPECT_EQ(desktop->calls.mid(desktop->calls.size() - 2),
                      QStringList({"space", "keystroke"}));
        }
    }
}

TEST(PasteTargetSpacing, SeparatesTheTranscriptFromAWordBeforeTheCaret) {
    const struct {
        QString text;
        TextSelection selection;
        QString transcript;
        bool space;
    } rows[] = {
        {"said:", {5, {}}, "hello", true},
        {"abc", {3, {}}, "42", true},
        {"abc", {3, {}}, "Émile", true},
        {"abc", {1, {}}, "x", true},
        {"said: ", {6, {}}, "hello", false},
        {"line\n", {5, {}}, "x", false},
        {"a\u00a0", {2, {}}, "x", false},
        {"", {0, {}}, "hello", false},
        {"abc", {0, {}}, "hello", false},
        {"abc", {3, {}}, " hello", false},
        {"abc", {3, {}}, ",x", false},
        {"abc", {3, {}}, "", false},
        {"abc", {9, {}}, "x", false},
        // Offsets count characters, not UTF-16 units.
        {"😀 x", {2, {}}, "x", false},
        {"😀x", {1, {}}, "x", true},
        // A paste replaces the selection: what comes before it counts.
        {"ab cd", {5, {{3, 5}}}, "x", false},
        {"ab cd", {3, {{5, 3}}}, "x", false},
        {"ab cd", {5, {{4, 5}}}, "x", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE((row.text + "|" + row.transcript).toStdString());
        EXPECT_EQ(PasteTarget::needsLeadingSpace(row.text, row.selection, row.transcript),
                  row.space);
    }
}

TEST(TerminalApplicationsTable, MatchesNamesExactly) {
    for (const char* name : {"com.apple.Terminal", "com.googlecode.iterm2", "com.mitchellh.ghostty",
                             "dev.warp.Warp-Stable", "XTerm", "org.gnome.Terminal", "konsole",
                             "Alacritty", "kitty", "foot", "st-256color", "URxvt"})
        EXPECT_TRUE(TerminalApplications::contains({name})) << name;
    for (const char* name : {"", "Xterm", "xterm ", "org.gnome.TextEditor", "com.apple.terminal",
                             "firefox", "terminal"})
        EXPECT_FALSE(TerminalApplications::contains({name})) << name;
}

} // namespace
