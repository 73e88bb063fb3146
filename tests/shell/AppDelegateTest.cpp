// The delegate over a controller of substitutes, on the offscreen platform with two
// screens side by side.

#include "ModelFixture.h"

#include "AppDelegate.h"
#include "BundledService.h"
#include "PublishedState.h"
#include "StatusText.h"

#include <QApplication>
#include <QCursor>
#include <QMessageBox>
#include <QScreen>
#include <QSystemTrayIcon>

#include <map>

namespace {

using Phase = ReradazIzavo::Phase;

class Delegate : public ModelTest {
protected:
    void SetUp() override {
        ModelTest::SetUp();
        launch();
    }
    void TearDown() override {
        delegate.reset();
        ModelTest::TearDown();
    }
    void launch(AppDelegate::Options options = {}) {
        delegate.reset();
        delegate = std::make_unique<AppDelegate>(options, collaborators(), defaults, nullptr);
        delegate->launch();
        settle();
    }
    // Publishes a phase and status the way an update step does.
    void show(Phase phase, const QString& status) {
        PublishedState::setPhase(delegate->model(), phase);
        PublishedState::setStatus(delegate->model(), status);
        delegate->refresh();
        settle();
    }
    bool hudShown() const { return delegate->hud()->isVisible(); }

    std::unique_ptr<AppDelegate> delegate;
};

TEST_F(Delegate, TheHudLingersOnAnOutcomeUntilTheNextChangeOrItsTime) {
    const struct {
        const char* outcome;
        bool changeAgain; // another update before the linger ends
        bool shownAfterOutcome;
    } rows[] = {
        {"Copied", false, true},
        {"Copied", true, true},
        {"Ready", false, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.outcome);
        show(Phase::recording, StatusText::listening);
        EXPECT_TRUE(hudShown());
        show(Phase::idle, QString::fromLatin1(row.outcome));
        EXPECT_EQ(hudShown(), row.shownAfterOutcome);
        if (row.changeAgain) {
            show(Phase::idle, StatusText::pasteSent);
            EXPECT_FALSE(hudShown()) << "a later change hides the lingering HUD at once";
        }
        timers->tick();
        EXPECT_FALSE(hudShown());
    }
    EXPECT_EQ(timers->lastInterval, std::chrono::milliseconds(2500));
}

TEST_F(Delegate, TheTrayShowsTheSameIconForTheSameStateInEveryDictation) {
    // Qt caches an icon's renderings under that icon's key: a new icon per change
    // grew the process with every dictation.
    std::map<Phase, qint64> keys;
    for (int dictation = 0; dictation < 2; ++dictation)
        for (const Phase phase : {Phase::recording, Phase::failed, Phase::idle}) {
            show(phase, StatusText::ready);
            const qint64 key = delegate->trayIcon()->icon().cacheKey();
            EXPECT_EQ(keys.try_emplace(phase, key).first->second, key);
        }
    EXPECT_NE(keys[Phase::recording], keys[Phase::idle]);
}

TEST_F(Delegate, TheHudSitsAboveTheBottomOfTheScreenUnderThePointer) {
    const QList<QScreen*> screens = QGuiApplication::screens();
    ASSERT_EQ(screens.size(), 2) << "run with the two-screen offscreen configuration";
    for (QScreen* screen : screens) {
        QCursor::setPos(screen->geometry().center());
        show(Phase::recording, StatusText::listening);
        const QRect available = screen->availableGeometry();
        const QRect hud = delegate->hud()->frameGeometry();
        EXPECT_EQ(hud.bottom(), available.bottom() - 28);
        EXPECT_LE(std::abs(hud.center().x() - available.center().x()), 1);
        show(Phase::idle, StatusText::ready);
    }
}

TEST_F(Delegate, TheSettingsWindowIsReusedAndPollsOnlyWhileOpen) {
    const size_t before = timers->running();
    delegate->settings();
    QWidget* window = delegate->window();
    ASSERT_TRUE(window);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Wispen Rezuraz Settings"));
    EXPECT_EQ(timers->running(), before + 1);
    window->close();
    EXPECT_EQ(timers->running(), before);
    delegate->settings();
    EXPECT_EQ(delegate->window(), window);
    EXPECT_EQ(timers->running(), before + 1);
}

TEST_F(Delegate, QuitIsRefusedWithTheAlertWhileTheKeyboardStaysRemapped) {
    keyboard->remapped = true;
    keyboard->failing << QStringLiteral("disable");
    EXPECT_FALSE(delegate->applicationShouldTerminate());
    ASSERT_TRUE(delegate->alert());
    EXPECT_EQ(delegate->alert()->text(), QStringLiteral("Restore the microphone key first"));
    EXPECT_TRUE(delegate->window() && delegate->window()->isVisible());
    keyboard->failing.clear();
    EXPECT_TRUE(delegate->applicationShouldTerminate());
}

TEST_F(Delegate, OnlyTheFirstLaunchOpensThePanelAndSettingsWinOverIt) {
    // SetUp launched for the first time.
    EXPECT_TRUE(delegate->panel()->isVisible());
    EXPECT_TRUE(defaults->boolValue(QStringLiteral("hasOpened")));
    launch();
    EXPECT_FALSE(delegate->panel()->isVisible());
    defaults->remove(QStringLiteral("hasOpened"));
    launch({.showSettings = true});
    EXPECT_FALSE(delegate->panel()->isVisible());
    EXPECT_TRUE(delegate->window() && delegate->window()->isVisible());
    EXPECT_FALSE(defaults->value(QStringLiteral("hasOpened")).isValid());
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
