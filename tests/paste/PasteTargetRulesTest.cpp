// The capture and confirmation rules over a substitute desktop: the order of the
// checks, every refusal sentence, the digest rule and the terminal table.

#include "FakeFieldAccess.h"
#include "PasteTarget.h"
#include "TerminalApplications.h"

#include <QCryptographicHash>

#include <gtest/gtest.h>

#include <functional>

namespace {

const QString emptyTextDigest =
    QStringLiteral("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");

std::shared_ptr<FakeFieldAccess> fakeDesktop() {
    return std::make_shared<FakeFieldAccess>();
}

struct CaptureRow {
    const char* name;
    std::function<void(FakeFieldAccess&)> breakIt;
    QString failure;
};

class CaptureRefusal : public testing::TestWithParam<CaptureRow> {};

TEST_P(CaptureRefusal, SaysWhyAndCapturesNothing) {
    auto desktop = fakeDesktop();
    GetParam().breakIt(*desktop);
    std::optional<QString> failure = QStringLiteral("left over from before");
    const std::optional<PasteTarget> target = PasteTarget::capture(failure, desktop);
    EXPECT_FALSE(target.has_value());
    EXPECT_EQ(failure, GetParam().failure);
}

INSTANTIATE_TEST_SUITE_P(
    EachFailedStep, CaptureRefusal,
    testing::Values(
        CaptureRow{"NotTrusted", [](FakeFieldAccess& d) { d.trusted = false; },
                   PasteTarget::notTrusted},
        CaptureRow{"NoFrontmost", [](FakeFieldAccess& d) { d.frontmost.reset(); },
                   PasteTarget::noFrontmostField},
        CaptureRow{"OwnApplication", [](FakeFieldAccess& d) { d.frontmost->pid = d.ownPid; },
                   PasteTarget::noFrontmostField},
        CaptureRow{"TerminalByClass",
                   [](FakeFieldAccess& d) {
                       d.frontmost->identifiers = {"xterm", "XTerm"};
                   },
                   PasteTarget::terminal},
        CaptureRow{"TerminalByApplicationId",
                   [](FakeFieldAccess& d) {
                       d.frontmost->identifiers = {"org.gnome.Terminal", "gnome-terminal-server"};
                   },
                   PasteTarget::terminal},
        CaptureRow{"NoFocusedElement", [](FakeFieldAccess& d) { d.focus = {}; },
                   PasteTarget::noFocusedElement},
        CaptureRow{"PasswordField", [](FakeFieldAccess& d) { d.elementRole = "password text"; },
                   PasteTarget::passwordField},
        CaptureRow{"RoleUnreadable", [](FakeFieldAccess& d) { d.elementRole.reset(); },
                   PasteTarget::notTextField},
        CaptureRow{"PushButton", [](FakeFieldAccess& d) { d.elementRole = "push button"; },
                   PasteTarget::notTextField},
        CaptureRow{"NoWindow", [](FakeFieldAccess& d) { d.elementWindow.reset(); },
                   PasteTarget::noWindow},
        CaptureRow{"NoCursor", [](FakeFieldAccess& d) { d.elementSelection.reset(); },
                   PasteTarget::noCursor},
        CaptureRow{"NoTextAndNoCount",
                   [](FakeFieldAccess& d) {
                       d.elementText.reset();
                       d.elementCharacters.reset();
                   },
                   PasteTarget::noContents},
        CaptureRow{"NoTextButCharacters",
                   [](FakeFieldAccess& d) {
                       d.elementText.reset();
                       d.elementCharacters = 5;
                   },
                   PasteTarget::noContents}),
    [](const testing::TestParamInfo<CaptureRow>& info) { return std::string(info.param.name); });

TEST(PasteTargetCapture, ChecksInTheFixedOrderAndStopsAtTheFirstFailure) {
    auto desktop = fakeDesktop();
    desktop->elementRole = QStringLiteral("password text");
    desktop->elementWindow.reset();
    std::optional<QString> failure;
    EXPECT_FALSE(PasteTarget::capture(failure, desktop));
    EXPECT_EQ(failure, PasteTarget::passwordField);
    EXPECT_EQ(desktop->calls, QStringList({"trusted", "frontmost", "focused", "role"}));
}

TEST(PasteTargetCapture, RecordsTheFieldAndClearsAnEarlierFailure) {
    auto desktop = fakeDesktop();
    std::optional<QString> failure = QStringLiteral("earlier");
    const std::optional<PasteTarget> target = PasteTarget::capture(failure, desktop);
    ASSERT_TRUE(target.has_value());
    EXPECT_FALSE(failure.has_value());
    EXPECT_EQ(target->pid(), 4242);
    EXPECT_EQ(target->element(), desktop->focus);
    EXPECT_EQ(target->window(), *desktop->elementWindow);
    EXPECT_EQ(target->selection(), *desktop->elementSelection);
    EXPECT_EQ(target->contentDigest(),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(PasteTargetCapture, AcceptsEachTextRole) {
    for (const char* role : {"text", "entry", "paragraph", "combo box"}) {
        auto desktop = fakeDesktop();
        desktop->elementRole = QString::fromLatin1(role);
        std::optional<QString> failure;
        EXPECT_TRUE(PasteTarget::capture(failure, desktop)) << role;
    }
}

TEST(PasteTargetCapture, UnreadableTextWithZeroCharactersIsTheEmptyText) {
    auto desktop = fakeDesktop();
    desktop->elementText.reset();
    desktop->elementCharacters = 0;
    std::optional<QString> failure;
    const std::optional<PasteTarget> target = PasteTarget::capture(failure, desktop);
    ASSERT_TRUE(target.has_value());
    EXPECT_EQ(target->contentDigest(), emptyTextDigest);
}

TEST(PasteTargetDigest, HashesTheUtf8BytesInLowerCaseHex) {
    EXPECT_EQ(PasteTarget::digestOf(QString()), emptyTextDigest);
    // "é" is two bytes in UTF-8, "€" three; hashing anything else would differ.
    EXPECT_EQ(PasteTarget::digestOf(QStringLiteral("é€")),
              QString::fromLatin1(QCryptographicHash::hash(QByteArray("\xc3\xa9\xe2\x82\xac"),
                                                           QCryptographicHash::Sha256)
                                      .toHex()));
    EXPECT_EQ(PasteTarget::digestOf(QStringLiteral("abc")).size(), 64);
}

struct PasteRow {
    const char* name;
    std::function<void(FakeFieldAccess&)> change;
    QString failure;
};

class PasteRefusal : public testing::TestWithParam<PasteRow> {};

TEST_P(PasteRefusal, SendsNoKeystroke) {
    auto desktop = fakeDesktop();
    std::optional<QString> failure;
    const std::optional<PasteTarget> target = PasteTarget::capture(failure, desktop);
    ASSERT_TRUE(target.has_value());
    GetParam().change(*desktop);
    EXPECT_FALSE(target->paste(failure));
    EXPECT_EQ(failure, GetParam().failure);
    EXPECT_EQ(desktop->keystrokes, 0);
}

INSTANTIATE_TEST_SUITE_P(
    EachChange, PasteRefusal,
    testing::Values(
        PasteRow{"ModifierHeld", [](FakeFieldAccess& d) { d.heldModifier = true; },
                 PasteTarget::modifierHeld},
        PasteRow{"NoLongerTrusted", [](FakeFieldAccess& d) { d.trusted = false; },
                 PasteTarget::targetChanged},
        PasteRow{"OtherApplication", [](FakeFieldAccess& d) { d.frontmost->pid = 77; },
                 PasteTarget::targetChanged},
        PasteRow{"OtherField",
                 [](FakeFieldAccess& d) {
                     d.focus = {QStringLiteral(":1.7"), "/other"};
                 },
                 PasteTarget::targetChanged},
        PasteRow{"OtherWindow",
                 [](FakeFieldAccess& d) { d.elementWindow = AccessibleElement(":1.7", "/w2"); },
                 PasteTarget::targetChanged},
        PasteRow{"CaretMoved", [](FakeFieldAccess& d) { d.elementSelection->caret = 2; },
                 PasteTarget::targetChanged},
        PasteRow{"TextSelected",
                 [](FakeFieldAccess& d) {
                     d.elementSelection->ranges = {{0, 3}};
                 },
                 PasteTarget::targetChanged},
        PasteRow{"TextTyped", [](FakeFieldAccess& d) { d.elementText = "abcd"; },
                 PasteTarget::targetChanged},
        PasteRow{"TextUnreadable",
                 [](FakeFieldAccess& d) {
                     d.elementText.reset();
                     d.elementCharacters.reset();
                 },
                 PasteTarget::targetChanged},
        PasteRow{"KeystrokeRefused", [](FakeFieldAccess& d) { d.keystrokeWorks = false; },
                 PasteTarget::keystrokeFailed}),
    [](const testing::TestParamInfo<PasteRow>& info) { return std::string(info.param.name); });

TEST(PasteTargetPaste, UnchangedFieldGetsOneKeystrokeAndKeepsAnEarlierFailure) {
    auto desktop = fakeDesktop();
    std::optional<QString> failure;
    const std::optional<PasteTarget> target = PasteTarget::capture(failure, desktop);
    ASSERT_TRUE(target.has_value());
    EXPECT_TRUE(target->isStillFocused());
    failure = QStringLiteral("earlier");
    desktop->calls.clear();
    EXPECT_TRUE(target->paste(failure));
    EXPECT_EQ(failure, QStringLiteral("earlier"));
    EXPECT_EQ(desktop->keystrokes, 1);
    // The modifier check comes first and the keystroke last, after every confirmation.
    EXPECT_EQ(desktop->calls.constFirst(), "modifiers");
    EXPECT_EQ(desktop->calls.constLast(), "keystroke");
}

TEST(TerminalApplicationsTable, MatchesNamesExactly) {
    for (const char* name : {"com.apple.Terminal", "com.googlecode.iterm2", "com.mitchellh.ghostty",
                             "dev.warp.Warp-Stable", "XTerm", "org.gnome.Terminal", "konsole",
                             "Alacritty", "kitty", "foot", "st-256color", "URxvt"})
        EXPECT_TRUE(TerminalApplications::contains({QString::fromLatin1(name)})) << name;
    for (const char* name : {"", "Xterm", "xterm ", "org.gnome.TextEditor", "com.apple.terminal",
                             "firefox", "terminal"})
        EXPECT_FALSE(TerminalApplications::contains({QString::fromLatin1(name)})) << name;
}

} // namespace
