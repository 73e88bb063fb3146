#pragma once

#include "QtPrinters.h"
#include "ReradazIzavo.h"
#include "StatusText.h"
#include "Substitutes.h"
#include "TransportError.h"
#include "UserDefaults.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using Phase = ReradazIzavo::Phase;

// A controller over substitutes for every collaborator, recording into a private
// temporary directory.
class ModelTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tempDir.isValid());
        qputenv("TMPDIR", QFile::encodeName(tempDir.path()));
        build();
    }
    void TearDown() override {
        model.reset();
        qputenv("TMPDIR", previousTmpDir);
    }
    // (Re)builds the controller with the current collaborators and settings.
    void build() {
        model.reset();
        focusWatchers = 0;
        model = std::make_unique<ReradazIzavo>(collaborators());
        statuses.clear();
        model->onChange = [this] { statuses << model->status(); };
    }
    // The substitutes as a controller's collaborators.
    ReradazIzavo::Collaborators collaborators() {
        return {.transcriber = transcriber,
                .pasteboard = pasteboard,
                .requestMicrophoneAccess =
                    [this](std::function<void(bool)> done) {
                        ++microphoneRequests;
                        if (grantAtOnce)
                            done(true);
                        else
                            waitingAnswers.push_back(std::move(done));
                    },
                .accessibilityTrust = [this] { return trusted; },
                .recorderFactory = scriptedRecorderFactory(recorder),
                .pasteTargetCapture = scriptedCapture(capture),
                .sleepNotifier = sleep,
                .timers = timers,
                .defaults = defaults,
                .shortcut = keyboard,
                .microphoneKey = keyboard,
                .loginItem = loginItem,
                .promptForAccessibility = [this] { return ++prompts, promptGrants; },
                .openAccessibilitySettings = [this] { ++settingsPanesOpened; },
                .startWatchingFocus = [this] { ++focusWatchers; },
                .stopWatchingFocus = [this] { --focusWatchers; },
                .serviceAddress = serviceAddress};
    }
    // Runs the queued calls (permission answers, upload answers, ticks).
    static void settle() {
        for (int turn = 0; turn < 4; ++turn)
            QCoreApplication::processEvents();
    }
    // Drives the controller into a phase with toggle(); a recording is 1 s long, and
    // a failed upload fails as a connection that timed out.
    void driveTo(Phase phase) {
        if (phase == Phase::idle)
            return;
        grantAtOnce = phase != Phase::requestingPermission;
        recorder->currentTime = 1.0;
        model->toggle();
        settle();
        if (phase == Phase::requestingPermission || phase == Phase::recording)
            return;
        model->toggle();
        settle();
        if (phase == Phase::failed) {
            const TransportError timedOut(QNetworkReply::TimeoutError, QStringLiteral("Timed out"));
            transcriber->calls.back()->done({std::nullopt, std::make_exception_ptr(timedOut)});
            settle();
        }
    }
    // Recording folders in the private temporary directory.
    QStringList recordingFolders() const {
        return QDir(tempDir.path())
            .entryList({QStringLiteral("wispen-*")}, QDir::Dirs | QDir::Hidden);
    }

    QTemporaryDir tempDir;
    const QByteArray previousTmpDir = qgetenv("TMPDIR"); // Qt reads an empty one as unset
    std::shared_ptr<ScriptedTranscriber> transcriber = std::make_shared<ScriptedTranscriber>();
    std::shared_ptr<MemoryPasteboard> pasteboard = std::make_shared<MemoryPasteboard>();
    std::shared_ptr<RecorderScript> recorder = std::make_shared<RecorderScript>();
    std::shared_ptr<CaptureScript> capture = std::make_shared<CaptureScript>();
    std::shared_ptr<ManualSleepNotifier> sleep = std::make_shared<ManualSleepNotifier>();
    std::shared_ptr<ManualTimerSource> timers = std::make_shared<ManualTimerSource>();
    std::shared_ptr<MemoryUserDefaults> defaults = std::make_shared<MemoryUserDefaults>();
    std::shared_ptr<ScriptedKeyboard> keyboard = std::make_shared<ScriptedKeyboard>();
    std::shared_ptr<ScriptedLoginItem> loginItem = std::make_shared<ScriptedLoginItem>();
    std::optional<QString> serviceAddress;
    bool trusted = true, promptGrants = false;
    // Microphone requests, and the answers not given yet unless granted at once.
    bool grantAtOnce = true;
    std::vector<std::function<void(bool)>> waitingAnswers;
    int microphoneRequests = 0;
    int prompts = 0, settingsPanesOpened = 0, focusWatchers = 0;
    std::unique_ptr<ReradazIzavo> model;
    QStringList statuses; // every status the update step showed, in order
};
