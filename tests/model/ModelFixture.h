#pragma once

#include "ManualSleepNotifier.h"
#include "ManualTimerSource.h"
#include "MemoryPasteboard.h"
#include "ReradazIzavo.h"
#include "ScriptedCapture.h"
#include "ScriptedRecorder.h"
#include "ScriptedTranscriber.h"
#include "StatusText.h"
#include "UserDefaults.h"
#include "ZedazidEdize.h"

#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// Readable failure messages for the texts the tests compare.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

// Microphone answers the test gives by hand, or at once when `answerAtOnce` is set.
struct PermissionDesk {
    bool answerAtOnce = true;
    bool granted = true;
    std::vector<std::function<void(bool)>> waiting;
    int requests = 0;

    void answer(size_t request, bool grant) { waiting.at(request)(grant); }
};

// A controller over substitutes for every collaborator, recording into a private
// temporary directory.
class ModelTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Builds the controller; tests that need other stored settings call it again.
    void build();
    // Runs the queued calls (permission answers, upload answers, ticks).
    void settle();
    // Drives a fresh controller into a phase with toggle(); a recording is 1 s long.
    void driveTo(ReradazIzavo::Phase phase);
    // Recording folders that exist in the private temporary directory.
    QStringList recordingFolders() const;

    QTemporaryDir tempDir;
    QByteArray previousTmpDir;
    std::shared_ptr<ScriptedTranscriber> transcriber = std::make_shared<ScriptedTranscriber>();
    // Replace the scripted transcriber, recorder and manual timers when set before build().
    std::shared_ptr<Transcriber> realTranscriber;
    AudioRecorderFactory realRecorderFactory;
    std::shared_ptr<TimerSource> realTimers;
    std::shared_ptr<MemoryPasteboard> pasteboard = std::make_shared<MemoryPasteboard>();
    std::shared_ptr<PermissionDesk> permissions = std::make_shared<PermissionDesk>();
    std::shared_ptr<RecorderScript> recorder = std::make_shared<RecorderScript>();
    std::shared_ptr<CaptureScript> capture = std::make_shared<CaptureScript>();
    std::shared_ptr<ManualSleepNotifier> sleep = std::make_shared<ManualSleepNotifier>();
    std::shared_ptr<ManualTimerSource> timers = std::make_shared<ManualTimerSource>();
    std::shared_ptr<MemoryUserDefaults> defaults = std::make_shared<MemoryUserDefaults>();
    bool trusted = true;
    std::unique_ptr<ReradazIzavo> model;
    // Every status the update step showed, in order.
    QStringList statuses;
};
