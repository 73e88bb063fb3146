// Start-up, the settings commands and shutdown over substitutes, and the login item
// over a private configuration folder.
#include "AutostartEntry.h"
#include "ModelFixture.h"
#include "ServiceAddress.h"

#include <QDir>

namespace {
const QString hold = DetailText::holdToTalk;
QStringList calls(const char* text) {
    return QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}
} // namespace

// What start() and the switch do to the keys, in order, by stored setting, phase
// and failing step; a failure keeps the setting off (start) or unchanged (switch)
// and shows "<step> failed.".
TEST_F(ModelTest, StartAndTheMicrophoneSwitchApplyTheKeyInOrderAndSurviveEveryFailingStep) {
    enum Action { start, on, off };
    using P = Phase;
    const char *eM = "enableMicrophone", *e = "enable", *d = "disable";
    const struct {
        bool stored, orphan;
        P phase;
        Action action;
        const char *failing, *journal;
        bool after;
        QString detail = {};
    } rows[] = {
        {false, false, P::idle, start, "", "start", false, hold},
        {true, false, P::idle, start, "", "start enableMicrophone enable", true, hold},
        {true, false, P::idle, start, e, "start enableMicrophone enable disableMicrophone", false},
        {true, false, P::idle, start, "start", "start enableMicrophone enable", true},
        {false, true, P::idle, start, d, "start disable", false},
        {false, false, P::idle, on, "", "enableMicrophone enable", true,
         DetailText::microphoneKeyEnabled},
        {true, false, P::failed, off, "", "disable disableMicrophone", false,
         DetailText::microphoneKeyRestored},
        {false, false, P::recording, on, "", "", false, DetailText::releaseToTranscribe},
        {false, false, P::idle, on, eM, "enableMicrophone", false},
        {false, false, P::idle, on, e, "enableMicrophone enable disableMicrophone", false},
        {true, false, P::idle, off, d, "disable", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.journal);
        *keyboard = {};
        keyboard->remapped = row.orphan;
        defaults->setValue(ReradazIzavo::microphoneEnabledKey, row.stored);
        build();
        if (row.action != start) {
            model->start();
            driveTo(row.phase);
            keyboard->journal.clear();
        }
        keyboard->failing = calls(row.failing);
        row.action == start ? model->start() : model->setMicrophone(row.action == on);
        EXPECT_EQ(keyboard->journal, calls(row.journal));
        EXPECT_EQ(model->microphoneEnabled(), row.after);
        EXPECT_EQ(defaults->value(ReradazIzavo::microphoneEnabledKey), row.after);
        EXPECT_EQ(keyboard->reserved, row.after);
        EXPECT_EQ(model->detail(),
                  *row.failing ? row.failing + QStringLiteral(" failed.") : row.detail);
        EXPECT_TRUE(sleep->listening && focusWatchers == 1);
    }
}

// The dictation goes before the keyboard is restored; only a restored keyboard lets
// the rest stop.
TEST_F(ModelTest, ShutdownDiscardsTheDictationFirstAndStopsOnlyOnceTheKeyboardIsRestored) {
    for (const bool restores : {true, false}) {
        SCOPED_TRACE(restores);
        *keyboard = {}, *transcriber = {};
        build();
        model->start();
        model->startPermissionMonitoring();
        model->startPermissionMonitoring(); // replaces the first: one poll
        driveTo(Phase::transcribing);
        QStringList foldersAtRestore{QStringLiteral("not restored")};
        keyboard->watch = [&] { foldersAtRestore = recordingFolders(); };
        keyboard->failing = restores ? QStringList() : calls("disable");
        EXPECT_EQ(model->shutdown(), restores);
        EXPECT_EQ(foldersAtRestore, QStringList());
        EXPECT_TRUE(model->phase() == Phase::idle && transcriber->calls[0]->cancelled);
        EXPECT_EQ(keyboard->started, !restores);
        EXPECT_EQ(timers->running(), restores ? 0u : 1u); // the permission poll
        EXPECT_EQ(sleep->listening, !restores);
        EXPECT_EQ(focusWatchers, restores ? 0 : 1);
    }
}

TEST_F(ModelTest, AccessibilityIsAskedForOnlyWhenMissingAndItsSettingsOpenOnlyWhenRefused) {
    // trusted, the prompt's answer -> prompts, settings panes opened so far
    for (const auto& [trust, grants, prompted, opened] :
         {std::tuple{true, false, 0, 0}, {false, true, 1, 0}, {false, false, 2, 1}}) {
        trusted = trust, promptGrants = grants;
        model->requestAccessibility();
        EXPECT_EQ(prompts, prompted);
        EXPECT_EQ(settingsPanesOpened, opened);
    }
}

TEST_F(ModelTest, LaunchAtLoginFollowsWhatTheDesktopReadsBackAndSaysWhyItDidNot) {
    // switch, the desktop overrides it, the write fails -> launchAtLogin, detail
    const QString allow = DetailText::allowBackgroundAccess, notDir = "Not a directory";
    for (const auto& [on, overridden, failure, after, detail] :
         {std::tuple{true, false, QString(), true, hold},
          {true, true, QString(), false, allow},
          {true, false, notDir, false, notDir},
          {false, true, QString(), false, hold}}) {
        *loginItem = {};
        loginItem->overridden = overridden;
        loginItem->failure = failure.isEmpty() ? std::nullopt : std::optional(failure);
        build();
        model->setLaunchAtLogin(on);
        EXPECT_EQ(model->launchAtLogin(), after);
        EXPECT_EQ(model->detail(), detail);
        EXPECT_EQ(loginItem->settingsOpened, detail == allow);
    }
}

TEST_F(ModelTest, AnUnusableStoredServiceAddressIsShownAndNeverUsedAndTheRunsOwnWins) {
    const QUrl bundled = ServiceAddress::baseUrl(), chosen("https://example.org/wispen");
    defaults->setValue(ReradazIzavo::serviceURLKey, QStringLiteral("http://192.0.2.1:8731"));
    for (const bool override : {false, true}) {
        serviceAddress = override ? std::optional(chosen.toString()) : std::nullopt;
        build();
        model->start();
        EXPECT_EQ(model->detail(), override ? hold
                                            : "Wispen only sends recordings over https, "
                                              "or over http to a service on this computer.");
        EXPECT_EQ(ServiceAddress::baseUrl(), override ? chosen : bundled);
    }
    ServiceAddress::configure(bundled.toString());
}

TEST(AutostartEntry, RegistersUnregistersAndReadsWhatTheDesktopWouldStart) {
    QTemporaryDir dir;
    const QString system = dir.filePath("system"), executable = dir.filePath("my \"$wispen\"");
    AutostartEntry entry(dir.filePath("home"), {system}, executable);
    EXPECT_EQ(AutostartEntry::execValue(executable), "\"" + dir.path() + R"(/my \\"\\$wispen\\"")");
    const auto write = [](const QString& path, const QByteArray& text) {
        QFile file(path);
        return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly) &&
               file.write(text) == text.size();
    };
    const QString systemEntry = system + "/autostart/" + QFileInfo(entry.path()).fileName();
    ASSERT_TRUE(write(systemEntry, "[Desktop Entry]\nHidden=true\n"));
    EXPECT_FALSE(entry.isEnabled());
    ASSERT_TRUE(write(entry.path(), "[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n"));
    EXPECT_FALSE(entry.isEnabled());
    entry.setRegistered(true);
    EXPECT_TRUE(entry.isEnabled()); // ours wins over the system's
    entry.setRegistered(false);
    EXPECT_FALSE(QFile::exists(entry.path()) || entry.isEnabled());
    EXPECT_TRUE(QFile::exists(systemEntry));
    AutostartEntry blocked(systemEntry, {}, executable); // its folder would be below a file
    EXPECT_THROW(blocked.setRegistered(true), ZedazidEdize);
}
