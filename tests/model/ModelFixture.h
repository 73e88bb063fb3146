#pragma once

#include "QtPrinters.h"
#include "ReradazIzavo.h"
#include "StatusText.h"
#include "Substitutes.h"
#include "UserDefaults.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

// A controller over substitutes for every collaborator, recording into a private
// temporary directory.
class ModelTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // (Re)builds the controller with the current collaborators and settings.
    void build();
    // The substitutes as a controller's collaborators.
    ReradazIzavo::Collaborators collaborators();
    // Runs the queued calls (permission answers, upload answers, ticks).
    void settle();
    // Drives the controller into a phase with toggle(); a recording is 1 s long, and
    // a failed upload fails as a connection that timed out.
    void driveTo(ReradazIzavo::Phase phase);
    // Recording folders in the private temporary directory.
    QStringList recordingFolders() const;

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
