// The triggers in every phase, the permission answer, settings, errors and sleep.
#include "ModelFixture.h"

#include <map>
#include <thread>

// One row per phase, one column per command: press and release in hold mode, press
// and release in toggle mode, cancel, retry. A cell is what follows: '.' nothing (no
// status shown), P asking for the microphone, T
// transcribing, I ready, K idle with "Keep holding". A restart discards the recording.
// Asking for the microphone and uploading both show a status, so "no status shown"
// also says that neither happened.
TEST_F(ModelTest, EachCommandInEachPhaseDoesWhatTheTableSays) {
    const char* const table[] = {"P.P.I.", ".K..I.", ".TT.I.", "....I.", "P.P.IT"};
    const std::map<char, std::pair<Phase, QString>> outcomes = {
        {'P', {Phase::requestingPermission, StatusText::allowMicrophone}},
        {'T', {Phase::transcribing, StatusText::transcribing}},
        {'I', {Phase::idle, StatusText::ready}},
        {'K', {Phase::idle, StatusText::keepHolding}}};
    for (int from = 0; from < 5; ++from) {
        for (int command = 0; command < 6; ++command) {
            SCOPED_TRACE(testing::Message() << "phase " << from << ", command " << command);
            model->setHoldToTalk(command != 2 && command != 3);
            driveTo(Phase(from));
            grantAtOnce = false;
            statuses.clear();
            if (command == 4)
                model->cancel();
            else if (command == 5)
                model->retry();
            else
                model->key(command % 2 == 0);
            settle();
            const char cell = table[from][command];
            if (cell == '.') {
                EXPECT_EQ(model->phase(), Phase(from));
                EXPECT_EQ(statuses, QStringList());
            } else {
                EXPECT_EQ(model->phase(), outcomes.at(cell).first);
                EXPECT_EQ(model->status(), outcomes.at(cell).second);
            }
            if (model->phase() == Phase::idle || model->phase() == Phase::requestingPermission) {
                EXPECT_TRUE(recordingFolders().isEmpty());
            }
            model->cancel();
            model->key(false);
        }
    }
}

// Answers come on a later turn from any thread and count only for the attempt that
// asked: a stale grant or denial must not touch the attempt waiting now.
TEST_F(ModelTest, ThePermissionAnswerCountsOnlyForTheAttemptThatAsked) {
    grantAtOnce = false;
    model->key(true);
    model->key(false);
    model->key(true);
    model->cancel(); // the key is still down; no release came
    model->key(true);
    ASSERT_EQ(waitingAnswers.size(), 3u);
    std::thread([&] {
        waitingAnswers[0](true);
        waitingAnswers[1](false);
    }).join();
    settle();
    EXPECT_EQ(model->phase(), Phase::requestingPermission);
    EXPECT_TRUE(recorder->lastPath.isEmpty());

    waitingAnswers[2](false);
    EXPECT_EQ(model->phase(), Phase::requestingPermission);
    settle();
    EXPECT_EQ(model->phase(), Phase::idle);
    EXPECT_EQ(model->status(), StatusText::microphoneAccessNeeded);
    EXPECT_EQ(model->detail(), DetailText::allowMicrophoneInSettings);
    model->key(false);
    model->key(true);
    std::thread([&] { waitingAnswers.at(3)(true); }).join();
    settle();
    EXPECT_EQ(model->status(), StatusText::listening);
}

// The trigger mode comes from the store, where a damaged value never turns a feature
// off. Restarting from a failed upload forgets the held key; its auto-repeat must not
// stop the recording that press just started.
TEST_F(ModelTest, InStoredToggleModeARepeatAfterRestartingFromFailedDoesNotStopTheRecording) {
    defaults->setValue(ReradazIzavo::holdToTalkKey, false);
    defaults->setValue(ReradazIzavo::autoPasteKey, QStringLiteral("no"));
    build();
    EXPECT_TRUE(model->autoPaste());
    driveTo(Phase::failed);
    model->key(true);
    settle();
    ASSERT_EQ(model->phase(), Phase::recording);
    EXPECT_EQ(model->detail(), DetailText::pressAgainToTranscribe);
    model->key(true);
    EXPECT_EQ(model->phase(), Phase::recording);
    model->key(false);
    model->key(true);
    EXPECT_EQ(model->phase(), Phase::transcribing);
    model->setAutoPaste(false);
    EXPECT_EQ(defaults->value(ReradazIzavo::autoPasteKey), QVariant(false));
}

// A failure without a sentence of its own, even one that is no exception, still shows
// the fallback; the transport's sentence is checked with every failed upload.
TEST_F(ModelTest, ErrorsShowTheirSentenceOrTheFallback) {
    struct Unexplained final : LocalizedError {
        std::optional<QString> errorDescription() const override { return std::nullopt; }
    };
    for (const auto& error :
         {std::make_exception_ptr(Unexplained()), std::make_exception_ptr(42)}) {
        model->report(error);
        EXPECT_EQ(model->detail(), DetailText::somethingWentWrong);
    }
    keyboard->onGrabLost(QStringLiteral("That key was taken."));
    EXPECT_EQ(model->detail(), QStringLiteral("That key was taken."));
}

TEST_F(ModelTest, SleepResetsEveryPhaseButNotAControllerThatIsGone) {
    for (int phase = 0; phase < 5; ++phase) {
        SCOPED_TRACE(phase);
        build();
        driveTo(Phase(phase));
        sleep->onWillSleep();
        settle();
        EXPECT_EQ(model->phase(), Phase::idle);
        EXPECT_EQ(model->status(), StatusText::ready);
        EXPECT_TRUE(recordingFolders().isEmpty());
        EXPECT_EQ(timers->running(), 0u);
        EXPECT_TRUE(phase != 3 || transcriber->calls.back()->cancelled);
    }
    *recorder = {};
    driveTo(Phase::recording);
    sleep->onWillSleep();
    model.reset();
    settle();
    EXPECT_FALSE(sleep->onWillSleep);
    EXPECT_EQ(recorder->stops, 0);
}
