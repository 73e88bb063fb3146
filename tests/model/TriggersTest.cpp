// The triggers, the permission answer, settings, error reporting and the sleep reset.
#include "ModelFixture.h"

#include "ShortcutTrigger.h"
#include "TransportError.h"

#include <QSignalSpy>
#include <thread>

using Phase = ReradazIzavo::Phase;

namespace {

enum class Command { pressHold, releaseHold, pressToggle, releaseToggle, cancel, retry };
const char* const commandNames[] = {"pressHold",     "releaseHold", "pressToggle",
                                    "releaseToggle", "cancel",      "retry"};
const char* const phaseNames[] = {"idle", "permission", "recording", "transcribing", "failed"};
const QString unchanged; // the status stays and nothing new is started

struct CommandRow {
    Phase from;
    Command command;
    Phase after;
    QString status;
};

class CommandByPhase : public ModelTest, public testing::WithParamInterface<CommandRow> {};

using P = Phase;
using C = Command;
const CommandRow commandRows[] = {
    {P::idle, C::pressHold, P::requestingPermission, StatusText::allowMicrophone},
    {P::idle, C::releaseHold, P::idle, unchanged},
    {P::idle, C::pressToggle, P::requestingPermission, StatusText::allowMicrophone},
    {P::idle, C::releaseToggle, P::idle, unchanged},
    {P::idle, C::cancel, P::idle, StatusText::ready},
    {P::idle, C::retry, P::idle, unchanged},
    {P::requestingPermission, C::pressHold, P::requestingPermission, unchanged},
    {P::requestingPermission, C::releaseHold, P::idle, StatusText::keepHolding},
    {P::requestingPermission, C::pressToggle, P::requestingPermission, unchanged},
    {P::requestingPermission, C::releaseToggle, P::requestingPermission, unchanged},
    {P::requestingPermission, C::cancel, P::idle, StatusText::ready},
    {P::requestingPermission, C::retry, P::requestingPermission, unchanged},
    {P::recording, C::pressHold, P::recording, unchanged},
    {P::recording, C::releaseHold, P::transcribing, StatusText::transcribing},
    {P::recording, C::pressToggle, P::transcribing, StatusText::transcribing},
    {P::recording, C::releaseToggle, P::recording, unchanged},
    {P::recording, C::cancel, P::idle, StatusText::ready},
    {P::recording, C::retry, P::recording, unchanged},
    {P::transcribing, C::pressHold, P::transcribing, unchanged},
    {P::transcribing, C::releaseHold, P::transcribing, unchanged},
    {P::transcribing, C::pressToggle, P::transcribing, unchanged},
    {P::transcribing, C::releaseToggle, P::transcribing, unchanged},
    {P::transcribing, C::cancel, P::idle, StatusText::ready},
    {P::transcribing, C::retry, P::transcribing, unchanged},
    {P::failed, C::pressHold, P::requestingPermission, StatusText::allowMicrophone},
    {P::failed, C::releaseHold, P::failed, unchanged},
    {P::failed, C::pressToggle, P::requestingPermission, StatusText::allowMicrophone},
    {P::failed, C::releaseToggle, P::failed, unchanged},
    {P::failed, C::cancel, P::idle, StatusText::ready},
    {P::failed, C::retry, P::transcribing, StatusText::transcribing},
};

} // namespace

TEST_P(CommandByPhase, DoesWhatTheTableSays) {
    const CommandRow& row = GetParam();
    model->setHoldToTalk(row.command != C::pressToggle && row.command != C::releaseToggle);
    driveTo(row.from);
    ASSERT_EQ(model->phase(), row.from);
    permissions->answerAtOnce = false;
    const QString statusBefore = model->status();
    const int requestsBefore = permissions->requests;
    const size_t uploadsBefore = transcriber->calls.size();
    statuses.clear();

    if (row.command == C::cancel)
        model->cancel();
    else if (row.command == C::retry)
        model->retry();
    else
        model->key(row.command == C::pressHold || row.command == C::pressToggle);
    settle();

    EXPECT_EQ(model->phase(), row.after);
    if (row.status.isEmpty()) {
        EXPECT_EQ(model->status(), statusBefore);
        EXPECT_TRUE(statuses.isEmpty()) << statuses.join(QLatin1Char('|')).toStdString();
        EXPECT_EQ(permissions->requests, requestsBefore);
        EXPECT_EQ(transcriber->calls.size(), uploadsBefore);
    } else {
        EXPECT_EQ(model->status(), row.status);
    }
    if (row.after == Phase::idle || row.after == Phase::requestingPermission) {
        EXPECT_TRUE(recordingFolders().isEmpty()); // a restart discards the failed recording
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, CommandByPhase, testing::ValuesIn(commandRows),
                         [](const auto& info) {
                             return std::string(phaseNames[int(info.param.from)]) + "_" +
                                    commandNames[int(info.param.command)];
                         });

TEST_F(ModelTest, StartsReadyWithTheStoredSettingsAndStoresAndAnnouncesChanges) {
    defaults->setValue(QStringLiteral("holdToTalk"), false);
    defaults->setValue(QStringLiteral("autoPaste"), QStringLiteral("no"));
    defaults->setValue(QStringLiteral("microphoneEnabled"), true);
    trusted = false;
    build();
    EXPECT_EQ(model->status(), StatusText::ready);
    EXPECT_EQ(model->detail(), DetailText::holdToTalk);
    EXPECT_FALSE(model->holdToTalk());
    EXPECT_TRUE(model->autoPaste());
    EXPECT_TRUE(model->microphoneEnabled());
    EXPECT_FALSE(model->accessibilityGranted());
    EXPECT_FALSE(sleep->listening);
    model->cancel();
    EXPECT_EQ(model->detail(), DetailText::pressToTalk);

    // Only the trigger mode changes what the update step shows.
    QSignalSpy holdSpy(model.get(), &ReradazIzavo::holdToTalkChanged);
    int changes = 0;
    model->onChange = [&] { ++changes; };
    model->setHoldToTalk(true);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(holdSpy.count(), 1);
    EXPECT_EQ(defaults->value(QStringLiteral("holdToTalk")), QVariant(true));
    model->setProperty("autoPaste", false);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(defaults->value(QStringLiteral("autoPaste")), QVariant(false));

    QSignalSpy status(model.get(), &ReradazIzavo::statusChanged);
    QSignalSpy phase(model.get(), &ReradazIzavo::phaseChanged);
    driveTo(Phase::recording);
    EXPECT_EQ(model->property("phase").toInt(), static_cast<int>(Phase::recording));
    EXPECT_EQ(model->property("status").toString(), StatusText::listening);
    EXPECT_EQ(phase.count(), 2);
    EXPECT_EQ(status.count(), 2);
}

TEST_F(ModelTest, KeyRepeatStartsOneDictationAndEveryResetForgetsTheHeldKey) {
    permissions->answerAtOnce = false;
    model->key(true);
    model->key(true);
    model->key(true);
    EXPECT_EQ(permissions->requests, 1);
    EXPECT_EQ(statuses, QStringList{StatusText::allowMicrophone});
    model->cancel(); // the key is still down, no release came
    model->key(true);
    EXPECT_EQ(permissions->requests, 2);
    EXPECT_EQ(model->phase(), Phase::requestingPermission);
}

TEST_F(ModelTest, ReleaseBeforeThePermissionAnswerAbandonsAndALateGrantIsIgnored) {
    permissions->answerAtOnce = false;
    model->key(true);
    model->key(false);
    EXPECT_EQ(model->phase(), Phase::idle);
    EXPECT_EQ(model->status(), StatusText::keepHolding);
    EXPECT_EQ(model->detail(), DetailText::keepHolding);
    permissions->waiting.at(0)(true);
    settle();
    EXPECT_EQ(model->phase(), Phase::idle);
    EXPECT_EQ(recorder->created, 0);
    EXPECT_EQ(model->status(), StatusText::keepHolding);
}

TEST_F(ModelTest, ThePermissionAnswerIsAppliedOnALaterTurnFromAnyThread) {
    permissions->answerAtOnce = false;
    model->key(true);
    std::thread([&] { permissions->waiting.at(0)(true); }).join();
    EXPECT_EQ(model->phase(), Phase::requestingPermission);
    settle();
    EXPECT_EQ(model->phase(), Phase::recording);
    EXPECT_EQ(model->status(), StatusText::listening);
    EXPECT_EQ(model->detail(), DetailText::releaseToTranscribe);
}

TEST_F(ModelTest, PressWhileFailedDiscardsAndStartsOverInOneCall) {
    driveTo(Phase::failed);
    ASSERT_EQ(recordingFolders().size(), 1);
    permissions->answerAtOnce = false;
    statuses.clear();
    model->key(true);
    EXPECT_EQ(statuses, (QStringList{StatusText::ready, StatusText::allowMicrophone}));
    EXPECT_EQ(model->phase(), Phase::requestingPermission);
    EXPECT_TRUE(recordingFolders().isEmpty());
}

TEST_F(ModelTest, ToggleModeRepeatAfterRestartingFromFailedDoesNotStopTheNewRecording) {
    model->setHoldToTalk(false);
    driveTo(Phase::failed);
    model->key(true);
    settle();
    ASSERT_EQ(model->phase(), Phase::recording);
    EXPECT_EQ(model->detail(), DetailText::pressAgainToTranscribe);
    model->key(true); // auto-repeat of the same press
    EXPECT_EQ(model->phase(), Phase::recording);
    model->key(false);
    model->key(true);
    EXPECT_EQ(model->phase(), Phase::transcribing);
}

TEST_F(ModelTest, DeniedMicrophoneLeavesIdleAndTheNextPressAsksAgain) {
    permissions->granted = false;
    model->key(true);
    settle();
    EXPECT_EQ(model->phase(), Phase::idle);
    EXPECT_EQ(model->status(), StatusText::microphoneAccessNeeded);
    EXPECT_EQ(model->detail(), DetailText::allowMicrophoneInSettings);
    EXPECT_EQ(recorder->created, 0);
    model->key(false);
    model->key(true);
    settle();
    EXPECT_EQ(permissions->requests, 2);
}

TEST_F(ModelTest, ReportShowsTheErrorsSentenceOrTheFallback) {
    struct Unexplained final : LocalizedError {
        std::optional<QString> errorDescription() const override { return std::nullopt; }
    };
    const struct {
        std::exception_ptr error;
        QString detail;
    } rows[] = {
        {std::make_exception_ptr(ZedazidEdize::message(QStringLiteral("Do this next."))),
         QStringLiteral("Do this next.")},
        {std::make_exception_ptr(Unexplained()), DetailText::somethingWentWrong},
        {std::make_exception_ptr(std::runtime_error("internal")), DetailText::somethingWentWrong},
        {std::make_exception_ptr(42), DetailText::somethingWentWrong},
        {std::make_exception_ptr(TransportError(QNetworkReply::TimeoutError,
                                                QStringLiteral("Socket operation timed out"))),
         DetailText::connectionFailed},
    };
    for (const auto& row : rows) {
        model->report(row.error);
        EXPECT_EQ(model->status(), StatusText::needsAttention);
        EXPECT_EQ(model->detail(), row.detail);
        EXPECT_EQ(model->phase(), Phase::idle);
    }
}

TEST_F(ModelTest, SleepResetsEveryPhase) {
    for (Phase phase :
         {P::idle, P::requestingPermission, P::recording, P::transcribing, P::failed}) {
        SCOPED_TRACE(phaseNames[int(phase)]);
        build();
        driveTo(phase);
        const size_t uploads = transcriber->calls.size();
        sleep->fire();
        settle();
        EXPECT_EQ(model->phase(), Phase::idle);
        EXPECT_EQ(model->status(), StatusText::ready);
        EXPECT_EQ(model->detail(), DetailText::holdToTalk);
        EXPECT_TRUE(recordingFolders().isEmpty());
        EXPECT_EQ(timers->running(), 0u);
        if (phase == Phase::transcribing) {
            EXPECT_TRUE(transcriber->calls.back().pending->cancelled);
        }
        EXPECT_EQ(transcriber->calls.size(), uploads);
    }
}

TEST_F(ModelTest, SleepAnnouncedAsTheModelGoesAwayIsDropped) {
    driveTo(Phase::recording);
    sleep->fire();
    model.reset();
    settle();
    EXPECT_FALSE(static_cast<bool>(sleep->onWillSleep));
    EXPECT_EQ(recorder->stops, 0);
}

TEST_F(ModelTest, AKeyLostToAnotherProgramIsShownWithTheShortcutsSentence) {
    struct Keys final : ShortcutTrigger {
        void start() override {}
        void enableMicrophone() override {}
        void disableMicrophone() override {}
        void stop() override {}
    };
    shortcut = std::make_shared<Keys>();
    build();
    shortcut->onGrabLost(QStringLiteral("That key was taken."));
    EXPECT_EQ(model->status(), StatusText::needsAttention);
    EXPECT_EQ(model->detail(), QStringLiteral("That key was taken."));
}
