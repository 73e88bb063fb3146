// The lifecycle against the shared test desktop: the real accessibility switch on
// the AT-SPI bus, and the real Control+Alt+Space grab on the X server.
#include "AccessibilityStatus.h"
#include "GlobalShortcut.h"
#include "ModelFixture.h"
#include "QtTimerSource.h"
#include "WaitUntil.h"

#include <QProcess>

TEST(LifecycleOnTheDesktop, RequestSwitchesAccessibilityOnAndOneStopEndsAPollStartedTwice) {
    ASSERT_TRUE(AccessibilityStatus::setEnabled(false));
    int polls = 0;
    ReradazIzavo::Collaborators c;
    c.defaults = std::make_shared<MemoryUserDefaults>();
    c.loginItem = std::make_shared<ScriptedLoginItem>();
    c.accessibilityTrust = [&] { return ++polls, AccessibilityStatus::isEnabled(); };
    c.timers = std::make_shared<QtTimerSource>();
    ReradazIzavo model(std::move(c));
    EXPECT_FALSE(model.accessibilityGranted());
    model.requestAccessibility();
    EXPECT_TRUE(AccessibilityStatus::isEnabled());
    model.startPermissionMonitoring(10'000'000);
    model.startPermissionMonitoring(10'000'000);
    EXPECT_TRUE(model.accessibilityGranted());
    ASSERT_TRUE(waitUntil([&] { return polls > 5; }));
    model.stopPermissionMonitoring();
    polls = 0;
    waitUntil([] { return false; }, std::chrono::milliseconds(200));
    EXPECT_EQ(polls, 0);
}

TEST_F(ModelTest, AfterShutdownAnotherProgramCanGrabControlAltSpace) {
    const auto anotherProgramGrabs = [] {
        QProcess grabber;
        grabber.start(QStringLiteral(WISPEN_SHORTCUT_GRABBER), {QStringLiteral("space")});
        grabber.closeWriteChannel();
        return grabber.waitForFinished() && grabber.exitCode() == 0;
    };
    shortcut = std::make_shared<GlobalShortcut>();
    build();
    model->start();
    EXPECT_FALSE(anotherProgramGrabs());
    EXPECT_TRUE(model->shutdown());
    EXPECT_TRUE(anotherProgramGrabs());
}
