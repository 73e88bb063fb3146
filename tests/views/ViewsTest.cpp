// The three views over the real controller: what each state shows, what each control
// calls, and that every state fits its documented layout.
#include "ModelFixture.h"

#include "ActionButton.h"
#include "LevelMeter.h"
#include "PanelContent.h"
#include "PublishedState.h"
#include "RecordingHUD.h"
#include "SettingsView.h"
#include "SwitchControl.h"
#include "Symbol.h"
#include "ViewStyle.h"

#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QTest>

using S = PublishedState;

namespace {

// Every visible identified child in order: name, [symbol], =text, +hint, ?tooltip,
// on/off and the row's tooltip's start for switches, "-" when disabled.
QString describe(QWidget* root) {
    QStringList parts;
    for (QWidget* w : root->findChildren<QWidget*>()) {
        if (w->objectName().isEmpty() || !w->isVisibleTo(root))
            continue;
        QString part = w->objectName();
        if (auto* b = qobject_cast<ActionButton*>(w)) {
            part += (b->symbol().isEmpty() ? "" : '[' + b->symbol() + ']') +
                    (b->text().isEmpty() ? "" : '=' + b->text()) +
                    (b->hint().isEmpty() ? "" : '+' + b->hint());
            EXPECT_EQ(b->accessibleName(), b->text().isEmpty() ? b->toolTip() : b->text());
        } else if (auto* s = qobject_cast<SymbolImage*>(w)) {
            part += '[' + s->symbol() + ']';
        } else if (auto* sw = qobject_cast<SwitchControl*>(w)) {
            part += (sw->isChecked() ? "=on" : "=off") + sw->parentWidget()->toolTip().left(8);
            EXPECT_TRUE(sw->accessibleName().size() > 8);
        } else if (w->property("text").isValid()) { // a label or a standard button
            part += '=' + w->property("text").toString();
        }
        part += (w->toolTip().isEmpty() ? "" : '?' + w->toolTip()) + (w->isEnabled() ? "" : "-");
        parts << part;
    }
    return parts.join(QStringLiteral("; "));
}

template <typename Widget = QWidget> Widget* find(QWidget* root, const char* name) {
    auto* widget = root->findChild<Widget*>(QString::fromLatin1(name));
    EXPECT_TRUE(widget) << name;
    return widget;
}

// Where a child's left edge lies in `root`.
int leftIn(QWidget* root, const char* name) {
    return find(root, name)->mapTo(root, QPoint()).x();
}

struct State {
    Phase phase = Phase::idle;
    QString status = StatusText::ready;
    std::optional<QString> hint = std::nullopt;
    QString transcript = {};
    int seconds = 0;
    bool granted = true, holdToTalk = true;
};

enum class View { panel, hud, settings };

// Receives the addresses the views open.
class Browser : public QObject {
    Q_OBJECT
public:
    Q_INVOKABLE void open(const QUrl& url) { opened << url.toString(); }
    QStringList opened;
};

class Views : public ModelTest {
protected:
    std::unique_ptr<QWidget> make(View view) {
        if (view == View::panel)
            return std::make_unique<PanelContent>(
                *model, [this] { ++settings; }, [this] { ++quits; });
        if (view == View::hud)
            return std::make_unique<RecordingHUD>(*model);
        return std::make_unique<SettingsView>(*model);
    }
    void apply(const State& s) {
        S::setPhase(*model, s.phase), S::setStatus(*model, s.status);
        S::setDetail(*model, QStringLiteral("The detail.")), S::setPasteHint(*model, s.hint);
        S::setLastTranscript(*model, s.transcript), S::setSeconds(*model, s.seconds);
        S::setAccessibilityGranted(*model, s.granted), model->setHoldToTalk(s.holdToTalk);
    }
    int settings = 0, quits = 0;
};

const QString record = "record-action[mic.fill]=Record+Ctrl+Alt+Space; ",
              tail = "divider; open-settings=Settings…; quit-app=Quit",
              detail = "dictation-detail=The detail.; ",
              hold = "shortcut-reminder=Hold Ctrl+Alt+Space to talk. Release to transcribe.; ";
const struct {
    View view;
    State state;
    QString shows;
} rows[] = {
    {View::panel, {}, "dictation-status=Ready; " + record + tail},
    {View::panel,
     {.status = "Copied", .transcript = "t"},
     "dictation-status=Copied; " + record + "copy-last[doc.on.clipboard]=Copy last text; " + tail},
    {View::panel,
     {.status = "Copied", .hint = ""},
     "dictation-status=Copied; " + detail + record + tail},
    {View::panel,
     {.status = "Microphone access needed"},
     "dictation-status=Microphone access needed; " + detail + record + tail},
    {View::panel,
     {.phase = Phase::requestingPermission, .status = "Allow microphone"},
     "dictation-status=Allow microphone; permission-prompt=Choose Allow in the microphone prompt.; "
     "secondary-action=Cancel; " +
         tail},
    {View::panel,
     {.phase = Phase::recording, .status = "Listening", .seconds = 600},
     "dictation-status=Listening; elapsed-time=10:00; record-action[stop.fill]=Stop and "
     "transcribe; secondary-action=Discard recording; " +
         tail},
    {View::panel,
     {.phase = Phase::transcribing, .status = "Transcribing"},
     "dictation-status=Transcribing; transcribing-progress; secondary-action=Cancel; " + tail},
    {View::panel,
     {.phase = Phase::failed, .status = "Couldn’t connect"},
     "dictation-status=Couldn’t connect; " + detail +
         "record-action[mic.fill]=Retry transcription; secondary-action=Discard recording; " +
         tail},
    {View::hud,
     {.phase = Phase::recording, .seconds = 185},
     "hud-symbol[mic.fill]; hud-time=3:05; hud-level; hud-stop[stop.fill]?Stop and transcribe"},
    {View::hud,
     {.phase = Phase::transcribing},
     "hud-spinner; hud-text=Transcribing…; hud-stop[xmark]?Cancel"},
    {View::hud,
     {.phase = Phase::requestingPermission},
     "hud-spinner; hud-text=Allow microphone…; hud-stop[xmark]?Cancel"},
    {View::hud, {.status = "Copied"}, "hud-symbol[checkmark]; hud-text=Copied"},
    {View::hud,
     {.status = "Keep holding to record"},
     "hud-symbol[mic]; hud-text=Keep holding to record"},
    {View::hud,
     {.phase = Phase::failed, .status = "Couldn’t connect"},
     "hud-symbol[exclamationmark.circle]; hud-text=Couldn’t connect"},
    {View::settings,
     {},
     hold + "hold-to-talk=onTurn off; auto-paste=onFalls ba; microphone-key=offOptional; "
            "open-at-login=off; privacy-link=Privacy"},
    {View::settings,
     {.status = StatusText::needsAttention, .granted = false, .holdToTalk = false},
     "shortcut-reminder=Press Ctrl+Alt+Space to start and stop.; hold-to-talk=offTurn off; "
     "auto-paste=onFalls ba; accessibility-hint=Allow Accessibility to paste. Copy works without "
     "it.; allow-accessibility=Allow…; accessibility-reopen=Already enabled? Applications started "
     "before Accessibility was turned on must be reopened before Wispen Rezuraz can paste into "
     "them.; microphone-key=offOptional; open-at-login=off; settings-detail=The detail.; "
     "privacy-link=Privacy"},
    {View::settings,
     {.phase = Phase::transcribing, .status = "Needs attention!"},
     hold + "hold-to-talk=onTurn off-; auto-paste=onFalls ba-; microphone-key=offOptional-; "
            "open-at-login=off-; privacy-link=Privacy"},
};

} // namespace

// Every state shows its children and fits the documented width and margins with no
// label needing more room than it has.
TEST_F(Views, EachStateShowsItsChildrenAndFits) {
    for (const auto& row : rows) {
        apply(row.state);
        const auto view = make(row.view);
        EXPECT_EQ(describe(view.get()), row.shows);
        view->show();
        const int width = row.view == View::panel ? 316 : row.view == View::settings ? 420 : 0;
        if (width)
            view->resize(width, view->heightForWidth(width));
        QCoreApplication::processEvents();
        // The documented width, or margins: 16 in the panel, 14 in the HUD's capsule.
        if (width) {
            EXPECT_EQ(view->width(), width);
        } else if (row.state.phase == Phase::recording) {
            EXPECT_GE(view->width(), 150);
            EXPECT_EQ(leftIn(view.get(), "hud-symbol"), 14);
        }
        if (row.view == View::panel && row.state.phase == Phase::idle) {
            EXPECT_EQ(leftIn(view.get(), "record-action"), 16);
        }
        for (QLabel* label : view->findChildren<QLabel*>()) {
            const QRect need = label->fontMetrics().boundingRect(
                label->contentsRect(), label->wordWrap() ? Qt::TextWordWrap : 0, label->text());
            EXPECT_TRUE(!label->isVisibleTo(view.get()) || label->contentsRect().contains(need) ||
                        (need.height() <= label->height() && need.width() <= label->width()))
                << label->text().toStdString() << " needs " << need.width() << "x" << need.height();
        }
    }
}

// Each control calls its command, seen on the real controller's collaborators.
TEST_F(Views, EachControlCallsItsCommand) {
    const auto uploads = [this](size_t n) {
        return [this, n] { EXPECT_EQ(transcriber->calls.size(), n); };
    };
    const auto cancelled = [this] { EXPECT_EQ(model->status(), StatusText::ready); };
    Browser browser;
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &browser, "open");
    const struct {
        View view;
        Phase from;
        const char* control;
        std::function<void()> check;
    } actions[] = {
        {View::panel, Phase::idle, "record-action", [this] { EXPECT_EQ(microphoneRequests, 1); }},
        {View::panel, Phase::failed, "record-action", uploads(2)},
        {View::panel, Phase::failed, "secondary-action", cancelled},
        {View::panel, Phase::idle, "copy-last", [this] { EXPECT_EQ(pasteboard->writes, 1); }},
        {View::panel, Phase::idle, "open-settings",
         [this] { EXPECT_EQ(settings + 10 * quits, 1); }},
        {View::panel, Phase::idle, "quit-app", [this] { EXPECT_EQ(settings + 10 * quits, 10); }},
        {View::hud, Phase::recording, "hud-stop", uploads(1)},
        {View::hud, Phase::transcribing, "hud-stop", cancelled},
        {View::settings, Phase::idle, "allow-accessibility",
         [this] { EXPECT_TRUE(model->accessibilityGranted()); }},
        {View::settings, Phase::idle, "privacy-link",
         [&] { EXPECT_EQ(browser.opened, QStringList{"http://127.0.0.1:8731/privacy"}); }},
    };
    for (const auto& action : actions) {
        SCOPED_TRACE(action.control);
        transcriber->calls.clear(), microphoneRequests = settings = quits = 0;
        build();
        driveTo(action.from);
        S::setLastTranscript(*model, QStringLiteral("last")), pasteboard->writes = 0;
        trusted = false, model->refreshPermissions(), trusted = true;
        const auto view = make(action.view);
        find<QAbstractButton>(view.get(), action.control)->click();
        settle();
        action.check();
    }
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
}

// The model decides: a switch shows what the model holds after its setter ran, so a
// setter that fails, or a login item the desktop does not start, leaves it where it was.
TEST_F(Views, SwitchesCallTheSettersAndShowTheOutcome) {
    SettingsView view(*model);
    loginItem->overridden = true;
    for (const auto& [name, failing] : {std::pair{"microphone-key", true},
                                        {"microphone-key", false},
                                        {"open-at-login", false},
                                        {"auto-paste", false}}) {
        keyboard->failing = failing ? QStringList{"enable"} : QStringList();
        auto* control = find<SwitchControl>(&view, name);
        QTest::keyClick(control, Qt::Key_Space);
        EXPECT_EQ(control->isChecked(), name == std::string("microphone-key") && !failing) << name;
    }
    EXPECT_TRUE(model->microphoneEnabled() && !model->autoPaste());
}

// A settings window left open while the desktop turns dark recolours its quieter texts
// as one opened in the dark would.
TEST_F(Views, SecondaryTextsFollowAPaletteChange) {
    const auto colour = [](QWidget* view) {
        return find<QLabel>(view, "shortcut-reminder")->palette().color(QPalette::WindowText);
    };
    QApplication::setPalette(ViewStyle::lightPalette());
    SettingsView open(*model);
    const QColor light = colour(&open);
    QApplication::setPalette(ViewStyle::darkPalette());
    QCoreApplication::processEvents();
    SettingsView fresh(*model);
    EXPECT_NE(colour(&fresh), light);
    EXPECT_EQ(colour(&open), colour(&fresh));
    QApplication::setPalette(QPalette());
}

// A new level reaches the open HUD's meter.
TEST_F(Views, ALevelReachesTheMeter) {
    RecordingHUD hud(*model);
    S::setLevel(*model, 0.5);
    EXPECT_EQ(find<LevelMeter>(&hud, "hud-level")->level(), 0.5);
}

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

#include "ViewsTest.moc"
