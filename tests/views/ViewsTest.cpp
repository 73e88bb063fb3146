// The three views as tables over the real controller: what each phase shows, what
// each control calls, and how each renders.
#include "ModelFixture.h"

#include "ActionButton.h"
#include "BrandIcon.h"
#include "LevelMeter.h"
#include "MicrophoneKeyControl.h"
#include "PanelContent.h"
#include "PublishedState.h"
#include "RecordingHUD.h"
#include "SettingsView.h"
#include "ShortcutTrigger.h"
#include "SwitchControl.h"
#include "Symbol.h"
#include "ViewStyle.h"

#include <QAccessible>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTest>

using Phase = ReradazIzavo::Phase;
using S = PublishedState;

namespace {

struct Keys final : ShortcutTrigger, MicrophoneKeyControl {
    void start() override {}
    void enableMicrophone() override {}
    void disableMicrophone() override {}
    void stop() override {}
    void enable() override { ++calls, fails ? throw ZedazidEdize::message("No.") : void(); }
    void disable() override { enable(); }
    bool ownsMapping() const override { return false; }
    bool fails = false;
    int calls = 0;
};

// Every visible identified child in order: name, [symbol], =text, +hint, ?tooltip,
// on/off for switches, "-" when disabled.
QString describe(QWidget* root) {
    QStringList parts;
    for (QWidget* w : root->findChildren<QWidget*>()) {
        if (w->objectName().isEmpty() || !w->isVisibleTo(root))
            continue;
        QString part = w->objectName();
        if (auto* b = qobject_cast<ActionButton*>(w)) {
            if (!b->symbol().isEmpty())
                part += '[' + b->symbol() + ']';
            part += (b->text().isEmpty() ? "" : '=' + b->text()) +
                    (b->hint().isEmpty() ? "" : '+' + b->hint());
            EXPECT_EQ(b->accessibleName(), b->text().isEmpty() ? b->toolTip() : b->text());
        } else if (auto* s = qobject_cast<SymbolImage*>(w)) {
            part += '[' + s->symbol() + ']';
        } else if (auto* l = qobject_cast<QLabel*>(w)) {
            part += '=' + l->text();
        } else if (auto* p = qobject_cast<QPushButton*>(w)) {
            part += '=' + p->text();
        } else if (auto* sw = qobject_cast<SwitchControl*>(w)) {
            part += (sw->isChecked() ? "=on" : "=off") + sw->parentWidget()->toolTip().left(8);
            EXPECT_TRUE(sw->accessibleName().size() > 8);
        }
        if (!w->toolTip().isEmpty())
            part += '?' + w->toolTip();
        if (!w->isEnabled())
            part += '-';
        parts << part;
    }
    return parts.join(QStringLiteral("; "));
}

template <typename Widget> Widget* find(QWidget* root, const char* name) {
    auto* widget = root->findChild<Widget*>(QString::fromLatin1(name));
    EXPECT_TRUE(widget) << name;
    return widget;
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

struct Row {
    View view;
    State state;
    const char* shows;
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

const QString needs = StatusText::needsAttention;
const Row rows[] = {
    {View::panel,
     {},
     "dictation-status=Ready; record-action[mic.fill]=Record+Ctrl+Alt+Space; divider; "
     "open-settings=Settings…; quit-app=Quit"},
    {View::panel,
     {.status = "Copied", .transcript = "t"},
     "dictation-status=Copied; record-action[mic.fill]=Record+Ctrl+Alt+Space; "
     "copy-last[doc.on.clipboard]=Copy last text; divider; open-settings=Settings…; quit-app=Quit"},
    {View::panel,
     {.status = "Copied", .hint = ""},
     "dictation-status=Copied; dictation-detail=The detail.; "
     "record-action[mic.fill]=Record+Ctrl+Alt+Space; divider; open-settings=Settings…; "
     "quit-app=Quit"},
    {View::panel,
     {.status = "Microphone access needed"},
     "dictation-status=Microphone access needed; dictation-detail=The detail.; "
     "record-action[mic.fill]=Record+Ctrl+Alt+Space; divider; open-settings=Settings…; "
     "quit-app=Quit"},
    {View::panel,
     {.phase = Phase::requestingPermission, .status = "Allow microphone"},
     "dictation-status=Allow microphone; permission-prompt=Choose Allow in the microphone prompt.; "
     "secondary-action=Cancel; divider; open-settings=Settings…; quit-app=Quit"},
    {View::panel,
     {.phase = Phase::recording, .status = "Listening", .seconds = 600},
     "dictation-status=Listening; elapsed-time=10:00; record-action[stop.fill]=Stop and "
     "transcribe; secondary-action=Discard recording; divider; open-settings=Settings…; "
     "quit-app=Quit"},
    {View::panel,
     {.phase = Phase::recording, .status = "Listening", .seconds = 59},
     "dictation-status=Listening; elapsed-time=0:59; record-action[stop.fill]=Stop and transcribe; "
     "secondary-action=Discard recording; divider; open-settings=Settings…; quit-app=Quit"},
    {View::panel,
     {.phase = Phase::transcribing, .status = "Transcribing"},
     "dictation-status=Transcribing; transcribing-progress; secondary-action=Cancel; divider; "
     "open-settings=Settings…; quit-app=Quit"},
    {View::panel,
     {.phase = Phase::failed, .status = "Couldn’t connect"},
     "dictation-status=Couldn’t connect; dictation-detail=The detail.; "
     "record-action[mic.fill]=Retry transcription; secondary-action=Discard recording; divider; "
     "open-settings=Settings…; quit-app=Quit"},
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
    {View::hud, {.status = "Paste sent"}, "hud-symbol[checkmark]; hud-text=Paste sent"},
    {View::hud,
     {.status = "Keep holding to record"},
     "hud-symbol[mic]; hud-text=Keep holding to record"},
    {View::hud, {.status = "Recording too short"}, "hud-symbol[mic]; hud-text=Recording too short"},
    {View::hud,
     {.phase = Phase::failed, .status = "Couldn’t connect"},
     "hud-symbol[exclamationmark.circle]; hud-text=Couldn’t connect"},
    {View::settings,
     {},
     "shortcut-reminder=Hold Ctrl+Alt+Space to talk. Release to transcribe.; hold-to-talk=onTurn "
     "off; auto-paste=onFalls ba; microphone-key=offOptional; open-at-login=off; "
     "privacy-link=Privacy"},
    {View::settings,
     {.status = needs, .granted = false, .holdToTalk = false},
     "shortcut-reminder=Press Ctrl+Alt+Space to start and stop.; hold-to-talk=offTurn off; "
     "auto-paste=onFalls ba; accessibility-hint=Allow Accessibility to paste. Copy works without "
     "it.; allow-accessibility=Allow…; accessibility-reopen=Already enabled? Applications started "
     "before Accessibility was turned on must be reopened before Wispen Rezuraz can paste into "
     "them.; microphone-key=offOptional; open-at-login=off; settings-detail=The detail.; "
     "privacy-link=Privacy"},
    {View::settings,
     {.phase = Phase::transcribing, .status = "Needs attention!", .granted = false},
     "shortcut-reminder=Hold Ctrl+Alt+Space to talk. Release to transcribe.; hold-to-talk=onTurn "
     "off-; auto-paste=onFalls ba-; accessibility-hint=Allow Accessibility to paste. Copy works "
     "without it.-; allow-accessibility=Allow…-; accessibility-reopen=Already enabled? "
     "Applications started before Accessibility was turned on must be reopened before Wispen "
     "Rezuraz can paste into them.-; microphone-key=offOptional-; open-at-login=off-; "
     "privacy-link=Privacy"},
};

} // namespace

TEST_F(Views, EachStateShowsItsChildren) {
    for (const Row& row : rows) {
        apply(row.state);
        const auto view = make(row.view);
        EXPECT_EQ(describe(view.get()), QString::fromUtf8(row.shows));
    }
}

// Each control calls exactly its command once, seen on the real controller's
// collaborators: a begin asks for the microphone, a stop or retry uploads, a cancel
// abandons the upload, a copy writes the clipboard.
TEST_F(Views, EachControlCallsItsCommandOnce) {
    struct Action {
        View view;
        Phase from;
        const char* control;
        std::function<void()> check;
    };
    const auto uploads = [this](size_t n) {
        return [this, n] { EXPECT_EQ(transcriber->calls.size(), n); };
    };
    const auto cancelled = [this] {
        EXPECT_EQ(model->phase(), Phase::idle);
        EXPECT_EQ(model->status(), StatusText::ready);
        EXPECT_TRUE(recordingFolders().isEmpty());
    };
    Browser browser;
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &browser, "open");
    const Action actions[] = {
        {View::panel, Phase::idle, "record-action",
         [this] { EXPECT_EQ(permissions->requests, 1); }},
        {View::panel, Phase::recording, "record-action", uploads(1)},
        {View::panel, Phase::failed, "record-action",
         [&] {
             uploads(2)();
             EXPECT_EQ(permissions->requests, 1);
         }},
        {View::panel, Phase::recording, "secondary-action", cancelled},
        {View::panel, Phase::transcribing, "secondary-action", cancelled},
        {View::panel, Phase::failed, "secondary-action", cancelled},
        {View::panel, Phase::idle, "copy-last", [this] { EXPECT_EQ(pasteboard->writes, 1); }},
        {View::panel, Phase::idle, "open-settings",
         [this] { EXPECT_EQ(settings + 10 * quits, 1); }},
        {View::panel, Phase::idle, "quit-app", [this] { EXPECT_EQ(settings + 10 * quits, 10); }},
        {View::hud, Phase::recording, "hud-stop", uploads(1)},
        {View::hud, Phase::transcribing, "hud-stop", cancelled},
        {View::hud, Phase::requestingPermission, "hud-stop", cancelled},
        {View::settings, Phase::idle, "allow-accessibility",
         [this] { EXPECT_TRUE(model->accessibilityGranted()); }},
        {View::settings, Phase::idle, "privacy-link",
         [&] { EXPECT_EQ(browser.opened, QStringList{"http://127.0.0.1:8731/privacy"}); }},
    };
    for (const Action& action : actions) {
        SCOPED_TRACE(action.control);
        transcriber->calls.clear(), *permissions = {}, settings = quits = 0;
        for (const QString& folder : recordingFolders())
            QDir(tempDir.filePath(folder)).removeRecursively();
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

// The model decides: a switch shows what the model holds after its setter ran, and
// a setter that fails leaves it where it was.
TEST_F(Views, SwitchesCallTheSettersAndShowTheOutcome) {
    const auto keys = std::make_shared<Keys>();
    shortcut = keys, microphoneKey = keys;
    build();
    SettingsView view(*model);
    for (const bool fails : {true, false, true}) {
        keys->fails = fails;
        const bool before = model->microphoneEnabled();
        auto* control = find<SwitchControl>(&view, "microphone-key");
        control->setFocus();
        QTest::keyClick(control, Qt::Key_Space);
        EXPECT_EQ(model->microphoneEnabled(), fails ? before : !before);
        EXPECT_EQ(control->isChecked(), model->microphoneEnabled());
        EXPECT_EQ(model->status(),
                  fails ? StatusText::needsAttention : StatusText::microphoneKeyEnabled);
    }
    EXPECT_EQ(keys->calls, 3);
    loginItem->overridden = true; // written, but the desktop does not start it
    find<SwitchControl>(&view, "open-at-login")->click();
    EXPECT_FALSE(find<SwitchControl>(&view, "open-at-login")->isChecked());
    find<SwitchControl>(&view, "auto-paste")->click();
    EXPECT_FALSE(model->autoPaste());
    EXPECT_EQ(defaults->value(QStringLiteral("autoPaste")), QVariant(false));
    EXPECT_FALSE(find<SwitchControl>(&view, "auto-paste")->isChecked());
}

TEST_F(Views, ALevelRepaintsTheMeterAlone) {
    RecordingHUD hud(*model);
    S::setPhase(*model, Phase::recording);
    hud.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&hud));
    const QSize size = hud.size();
    // Every repaint, as a rectangle of the HUD, and every re-layout.
    struct Counter : QObject {
        QWidget* hud;
        QRect painted;
        int layouts = 0;
        bool eventFilter(QObject* o, QEvent* e) override {
            if (e->type() == QEvent::LayoutRequest)
                ++layouts;
            if (e->type() == QEvent::Paint) {
                auto* w = static_cast<QWidget*>(o);
                const QRect r = static_cast<QPaintEvent*>(e)->rect();
                painted |= QRect(w->mapTo(hud, r.topLeft()), r.size());
            }
            return false;
        }
    } counter;
    counter.hud = &hud;
    QList<QWidget*> widgets = hud.findChildren<QWidget*>();
    for (QWidget* w : widgets << &hud)
        w->installEventFilter(&counter);
    auto* meter = find<LevelMeter>(&hud, "hud-level");
    for (const double level : {0.5, 1.0, 0.0}) {
        counter.painted = {};
        S::setLevel(*model, level);
        QTest::qWait(30);
        EXPECT_EQ(counter.painted, QRect(meter->mapTo(&hud, QPoint()), meter->size()));
        EXPECT_EQ(LevelMeter::fillWidth(level), std::vector<double>({3, 27, 54})[int(level * 2)]);
    }
    EXPECT_EQ(counter.layouts, 0);
    EXPECT_EQ(hud.size(), size);
}

// Every view in every state of the table, light and dark, at pixel ratios 1 and 2:
// the documented widths, and no label that needs more room than it has.
TEST_F(Views, RendersFitInLightAndDark) {
    QDir().mkpath(QStringLiteral("view-renders"));
    const QPalette dark = ViewStyle::darkPalette();
    const QPalette light = ViewStyle::lightPalette();
    int index = 0;
    for (const Row& row : rows) {
        apply(row.state);
        for (const bool isDark : {false, true}) {
            QApplication::setPalette(isDark ? dark : light);
            const auto view = make(row.view);
            view->show();
            const int width = row.view == View::panel ? 316 : row.view == View::settings ? 420 : 0;
            if (width)
                view->resize(width, view->heightForWidth(width));
            QCoreApplication::processEvents();
            if (width) {
                EXPECT_EQ(view->width(), width);
            } else if (row.state.phase == Phase::recording) {
                EXPECT_GE(view->width(), 150);
            }
            for (QLabel* label : view->findChildren<QLabel*>()) {
                if (!label->isVisibleTo(view.get()))
                    continue;
                const QRect need = label->fontMetrics().boundingRect(
                    label->contentsRect(), label->wordWrap() ? Qt::TextWordWrap : 0, label->text());
                EXPECT_TRUE(label->contentsRect().contains(need) ||
                            (need.height() <= label->height() && need.width() <= label->width()))
                    << label->text().toStdString() << " needs " << need.width() << "x"
                    << need.height();
            }
            for (const qreal ratio : {1.0, 2.0}) {
                QPixmap image(view->size() * ratio);
                image.setDevicePixelRatio(ratio);
                image.fill(Qt::transparent);
                view->render(&image);
                EXPECT_TRUE(image.save(QStringLiteral("view-renders/%1-%2-%3x.png")
                                           .arg(index)
                                           .arg(isDark ? "dark" : "light")
                                           .arg(ratio)));
            }
        }
        ++index;
    }
    QApplication::setPalette(QPalette());
}

// A few of the documented sizes, measured between laid-out widgets.
TEST_F(Views, KeepsTheDocumentedSpacing) {
    const auto gap = [](QWidget* root, const char* above, const char* below, bool vertical) {
        const QRect a(find<QWidget>(root, above)->mapTo(root, QPoint()),
                      find<QWidget>(root, above)->size());
        const QRect b(find<QWidget>(root, below)->mapTo(root, QPoint()),
                      find<QWidget>(root, below)->size());
        return vertical ? b.top() - a.bottom() - 1 : b.left() - a.right() - 1;
    };
    for (const View view : {View::panel, View::hud, View::settings}) {
        S::setPhase(*model, view == View::hud ? Phase::recording : Phase::idle);
        const auto widget = make(view);
        widget->show();
        QCoreApplication::processEvents();
        if (view == View::panel) {
            EXPECT_EQ(gap(widget.get(), "record-action", "divider", true), 14);
            EXPECT_EQ(find<QWidget>(widget.get(), "record-action")->x(), 16);
        } else if (view == View::hud) {
            EXPECT_EQ(gap(widget.get(), "hud-time", "hud-level", false), 10);
            EXPECT_EQ(find<QWidget>(widget.get(), "hud-symbol")->x(), 14);
        } else {
            EXPECT_EQ(gap(widget.get(), "hold-to-talk", "auto-paste", true), 16);
            EXPECT_EQ(
                find<QWidget>(widget.get(), "privacy-link")->mapTo(widget.get(), QPoint()).x() +
                    find<QWidget>(widget.get(), "privacy-link")->width(),
                420 - 24);
        }
    }
}

TEST(BrandIcon, FillsItsSquareAndScreenReadersSkipIt) {
    for (const int size : {32, 44}) {
        BrandIcon icon(size);
        EXPECT_EQ(icon.size(), QSize(size, size));
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&icon);
        EXPECT_TRUE(accessible->text(QAccessible::Name).isEmpty());
        EXPECT_NE(accessible->role(), QAccessible::Graphic);
        QImage image(size * 2, size * 2, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(2);
        image.fill(Qt::transparent);
        icon.render(&image);
        EXPECT_EQ(image.pixelColor(size, size * 54 / 100), Qt::white) << "the microphone";
        EXPECT_EQ(image.pixelColor(size / 4, size).rgb(), QColor(40, 118, 247).rgb());
    }
}

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

#include "ViewsTest.moc"
