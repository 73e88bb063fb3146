// The triggers in every phase, the permission answer, settings, errors and sleep.
#include "ModelFixture.h"

#include "TransportError.h"

#include <map>
#include <thread>

using Phase = ReradazIzavo::Phase;

// One row per phase, one column per command: press and release in hold mode, press
// and release in toggle mode, cancel, retry. A cell is what follows: '.' nothing (no
// status shown, nothing asked for or uploaded), P asking for the microphone, T
// transcribing, I ready, K idle with "Keep holding". A restart discards the recording.
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
            permissions->answerAtOnce = false;
            const QString statusBefore = model->status();
            const int requests = permissions->requests;
            const size_t uploads = transcriber->calls.size();
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
                EXPECT_EQ(permissions->requests, requests);
                EXPECT_EQ(transcriber->calls.size(), uploads);
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
    permissions->answerAtOnce = false;
    model->key(true);
    model->key(true); // auto-repeat
    model->key(false);
    EXPECT_EQ(model->status(), StatusText::keepHolding);
    model->key(true);
    model->cancel(); // the key is still down; no release came
    model->key(true);
    ASSERT_EQ(permissions->waiting.size(), 3u);
    std::thread([&] {
        permissions->waiting[0](true);
        permissions->waiting[1](false);
    }).join();
    settle();
    EXPECT_EQ(model->phase(), Phase::requestingPermission);
    EXPECT_EQ(recorder->created, 0);

    permissions->waiting[2](false);
    EXPECT_EQ(model->phase(), Phase::requestingPermission);
    settle();
    EXPECT_EQ(model->phase(), Phase::idle);
    EXPECT_EQ(model->status(), StatusText::microphoneAccessNeeded);
    EXPECT_EQ(model->detail(), DetailText::allowMicrophoneInSettings);
    model->key(false);
    model->key(true);
    std::thread([&] { permissions->waiting.at(3)(true); }).join();
    settle();
    EXPECT_EQ(model->status(), StatusText::listening);
    EXPECT_EQ(model->detail(), DetailText::releaseToTranscribe);
}

// Restarting from a failed upload forgets the held key; its auto-repeat must not stop
// the recording that press just started.
TEST_F(ModelTest, ToggleModeRepeatAfterRestartingFromFailedDoesNotStopTheNewRecording) {
    model->setHoldToTalk(false);
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
}

TEST_F(ModelTest, StartsWithTheStoredSettingsIgnoringDamagedOnesAndStoresChanges) {
    defaults->setValue(ReradazIzavo::holdToTalkKey, false);
    defaults->setValue(ReradazIzavo::autoPasteKey, QStringLiteral("no"));
    defaults->setValue(ReradazIzavo::microphoneEnabledKey, true);
    trusted = false;
    build();
    EXPECT_EQ(model->detail(), DetailText::holdToTalk); // until the first update
    model->cancel();
    EXPECT_EQ(model->detail(), DetailText::pressToTalk);
    EXPECT_TRUE(model->autoPaste() && model->microphoneEnabled());
    EXPECT_FALSE(model->accessibilityGranted() || sleep->listening);
    model->setHoldToTalk(true);
    EXPECT_EQ(statuses.size(), 2); // the trigger mode changes what the update step shows
    model->setAutoPaste(false);
    EXPECT_EQ(defaults->value(ReradazIzavo::holdToTalkKey), QVariant(true));
    EXPECT_EQ(defaults->value(ReradazIzavo::autoPasteKey), QVariant(false));
}

TEST_F(ModelTest, ErrorsShowTheirSentenceOrTheFallback) {
    struct Unexplained final : LocalizedError {
        std::optional<QString> errorDescription() const override { return std::nullopt; }
    };
    const QString fallback = DetailText::somethingWentWrong;
    const std::pair<std::exception_ptr, QString> rows[] = {
        {std::make_exception_ptr(ZedazidEdize::message("Do this next.")), "Do this next."},
        {std::make_exception_ptr(Unexplained()), fallback},
        {std::make_exception_ptr(42), fallback},
        {std::make_exception_ptr(TransportError(QNetworkReply::TimeoutError, "Timed out")),
         DetailText::connectionFailed},
    };
    for (const auto& [error, detail] : rows) {
        model->report(error);
        EXPECT_EQ(model->status(), StatusText::needsAttention);
        EXPECT_EQ(model->detail(), detail);
    }
    keyboard->onGrabLost(QStringLiteral("That key was taken."));
    EXPECT_EQ(model->detail(), QStringLiteral("That key was taken."));
}

TEST_F(ModelTest, SleepResetsEveryPhaseButNotAControllerThatIsGone) {
    for (int phase = 0; phase < 5; ++phase) {
        SCOPED_TRACE(phase);
        build();
        driveTo(Phase(phase));
        const size_t uploads = transcriber->calls.size();
        sleep->fire();
        settle();
        EXPECT_EQ(model->phase(), Phase::idle);
        EXPECT_EQ(model->status(), StatusText::ready);
        EXPECT_TRUE(recordingFolders().isEmpty());
        EXPECT_EQ(timers->running(), 0u);
        EXPECT_EQ(transcriber->calls.size(), uploads);
        EXPECT_TRUE(phase != 3 || transcriber->calls.back().pending->cancelled);
    }
    *recorder = {};
    driveTo(Phase::recording);
    sleep->fire();
    model.reset();
    settle();
    EXPECT_FALSE(sleep->onWillSleep);
    EXPECT_EQ(recorder->stops, 0);
}
