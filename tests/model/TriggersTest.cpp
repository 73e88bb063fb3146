// The triggers, the permission answer, the update step and error reporting.
#include "ModelFixture.h"

#include "TransportError.h"

#include <QSignalSpy>

using Phase = ReradazIzavo::Phase;

namespace {

enum class Command { pressHold, releaseHold, pressToggle, releaseToggle, cancel, retry };

struct CommandRow {
    const char* name;
    Phase from;
    Command command;
    Phase after;
    // Empty: the status is left as it was and nothing new is started.
    QString status;
};

void PrintTo(const CommandRow& row, std::ostream* os) {
    *os << row.name;
}

class CommandByPhase : public ModelTest, public testing::WithParamInterface<CommandRow> {};

const CommandRow commandRows[] = {
    {"idle_pressHold", Phase::idle, Command::pressHold, Phase::requestingPermission,
     StatusText::allowMicrophone},
    {"idle_releaseHold", Phase::idle, Command::releaseHold, Phase::idle, {}},
    {"idle_pressToggle", Phase::idle, Command::pressToggle, Phase::requestingPermission,
     StatusText::allowMicrophone},
    {"idle_releaseToggle", Phase::idle, Command::releaseToggle, Phase::idle, {}},
    {"idle_cancel", Phase::idle, Command::cancel, Phase::idle, StatusText::ready},
    {"idle_retry", Phase::idle, Command::retry, Phase::idle, {}},

    {"permission_pressHold",
     Phase::requestingPermission,
     Command::pressHold,
     Phase::requestingPermission,
     {}},
    {"permission_releaseHold", Phase::requestingPermission, Command::releaseHold, Phase::idle,
     StatusText::keepHolding},
    {"permission_pressToggle",
     Phase::requestingPermission,
     Command::pressToggle,
     Phase::requestingPermission,
     {}},
    {"permission_releaseToggle",
     Phase::requestingPermission,
     Command::releaseToggle,
     Phase::requestingPermission,
     {}},
    {"permission_cancel", Phase::requestingPermission, Command::cancel, Phase::idle,
     StatusText::ready},
    {"permission_retry",
     Phase::requestingPermission,
     Command::retry,
     Phase::requestingPermission,
     {}},

    {"recording_pressHold", Phase::recording, Command::pressHold, Phase::recording, {}},
    {"recording_releaseHold", Phase::recording, Command::releaseHold, Phase::transcribing,
     StatusText::transcribing},
    {"recording_pressToggle", Phase::recording, Command::pressToggle, Phase::transcribing,
     StatusText::transcribing},
    {"recording_releaseToggle", Phase::recording, Command::releaseToggle, Phase::recording, {}},
    {"recording_cancel", Phase::recording, Command::cancel, Phase::idle, StatusText::ready},
    {"recording_retry", Phase::recording, Command::retry, Phase::recording, {}},

    {"transcribing_pressHold", Phase::transcribing, Command::pressHold, Phase::transcribing, {}},
    {"transcribing_releaseHold",
     Phase::transcribing,
     Command::releaseHold,
     Phase::transcribing,
     {}},
    {"transcribing_pressToggle",
     Phase::transcribing,
     Command::pressToggle,
     Phase::transcribing,
     {}},
    {"transcribing_releaseToggle",
     Phase::transcribing,
     Command::releaseToggle,
     Phase::transcribing,
     {}},
    {"transcribing_cancel", Phase::transcribing, Command::cancel, Phase::idle, StatusText::ready},
    {"transcribing_retry", Phase::transcribing, Command::retry, Phase::transcribing, {}},

    {"failed_pressHold", Phase::failed, Command::pressHold, Phase::requestingPermission,
     StatusText::allowMicrophone},
    {"failed_releaseHold", Phase::failed, Command::releaseHold, Phase::failed, {}},
    {"failed_pressToggle", Phase::failed, Command::pressToggle, Phase::requestingPermission,
     StatusText::allowMicrophone},
    {"failed_releaseToggle", Phase::failed, Command::releaseToggle, Phase::failed, {}},
    {"failed_cancel", Phase::failed, Command::cancel, Phase::idle, StatusText::ready},
    {"failed_retry", Phase::failed, Command::retry, Phase::transcribing, StatusText::transcribing},
};

} // namespace

TEST_P(CommandByPhase, DoesWhatTheTableSays) {
    const CommandRow& row = GetParam();
    const bool hold = row.command == Command::pressHold || row.command == Command::releaseHold ||
                      row.command == Command::cancel || row.command == Command::retry;
    model->setHoldToTalk(hold);
    driveTo(row.from);
    ASSERT_EQ(model->phase(), row.from);
    permissions->answerAtOnce = false;
    const QString statusBefore = model->status();
    const int requestsBefore = permissions->requests;
    const size_t uploadsBefore = transcriber->calls.size();
    statuses.clear();

    switch (row.command) {
    case Command::pressHold:
    case Command::pressToggle:
        model->key(true);
        break;
    case Command::releaseHold:
    case Command::releaseToggle:
        model->key(false);
        break;
    case Command::cancel:
        model->cancel();
        break;
    case Command::retry:
        model->retry();
        break;
    }
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
    if (row.after == Phase::idle) {
        EXPECT_TRUE(recordingFolders().isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, CommandByPhase, testing::ValuesIn(commandRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ModelTest, StartsReadyWithTheHoldHintAndTheStoredSettings) {
    defaults->setValue(QStringLiteral("holdToTalk"), false);
    defaults->setValue(QStringLiteral("autoPaste"), QStringLiteral("no"));
    defaults->setValue(QStringLiteral("microphoneEnabled"), true);
    trusted = false;
    build();
    EXPECT_EQ(model->status(), StatusText::ready);
    EXPECT_EQ(model->detail(), DetailText::holdToTalk);
    EXPECT_EQ(model->phase(), Phase::idle);
    EXPECT_FALSE(model->holdToTalk());
    EXPECT_TRUE(model->autoPaste());
    EXPECT_TRUE(model->microphoneEnabled());
    EXPECT_FALSE(model->accessibilityGranted());
    EXPECT_FALSE(sleep->listening);

    model->cancel();
    EXPECT_EQ(model->detail(), DetailText::pressToTalk);
}

TEST_F(ModelTest, SettingsAreStoredAndOnlyHoldToTalkCallsOnChange) {
    QSignalSpy holdSpy(model.get(), &ReradazIzavo::holdToTalkChanged);
    int changes = 0;
    model->onChange = [&] { ++changes; };

    model->setHoldToTalk(false);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(holdSpy.count(), 1);
    EXPECT_EQ(defaults->value(QStringLiteral("holdToTalk")), QVariant(false));

    model->setProperty("autoPaste", false);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(defaults->value(QStringLiteral("autoPaste")), QVariant(false));
    EXPECT_FALSE(model->autoPaste());
}

TEST_F(ModelTest, PublishedPropertiesAnnounceTheirChanges) {
    QSignalSpy status(model.get(), &ReradazIzavo::statusChanged);
    QSignalSpy phase(model.get(), &ReradazIzavo::phaseChanged);
    driveTo(Phase::recording);
    EXPECT_EQ(model->property("phase").toInt(), static_cast<int>(Phase::recording));
    EXPECT_EQ(model->property("status").toString(), StatusText::listening);
    EXPECT_EQ(phase.count(), 2);
    EXPECT_EQ(status.count(), 2);
}

TEST_F(ModelTest, KeyRepeatStartsOneDictation) {
    permissions->answerAtOnce = false;
    model->key(true);
    model->key(true);
    model->key(true);
    EXPECT_EQ(permissions->requests, 1);
    EXPECT_EQ(statuses, QStringList{StatusText::allowMicrophone});
}

TEST_F(ModelTest, EveryResetForgetsTheHeldKey) {
    permissions->answerAtOnce = false;
    model->key(true);
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

    permissions->answer(0, true);
    settle();
    EXPECT_EQ(model->phase(), Phase::idle);
    EXPECT_EQ(recorder->created, 0);
    EXPECT_EQ(model->status(), StatusText::keepHolding);
}

TEST_F(ModelTest, ThePermissionAnswerIsAppliedOnALaterTurnFromAnyThread) {
    permissions->answerAtOnce = false;
    model->key(true);
    std::thread([&] { permissions->answer(0, true); }).join();
    EXPECT_EQ(model->phase(), Phase::requestingPermission);
    settle();
    EXPECT_EQ(model->phase(), Phase::recording);
    EXPECT_EQ(model->status(), StatusText::listening);
    EXPECT_EQ(model->detail(), DetailText::releaseToTranscribe);
}

TEST_F(ModelTest, PressWhileFailedDiscardsAndStartsOverInOneCall) {
    driveTo(Phase::failed);
    const QStringList failedFolders = recordingFolders();
    ASSERT_EQ(failedFolders.size(), 1);
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

TEST_F(ModelTest, AutoPasteOffCapturesNothing) {
    model->setAutoPaste(false);
    driveTo(Phase::recording);
    EXPECT_EQ(capture->captures, 0);
}

namespace {

class Unexplained final : public LocalizedError {
public:
    std::optional<QString> errorDescription() const override { return std::nullopt; }
};

} // namespace

TEST_F(ModelTest, ReportShowsTheErrorsSentenceOrTheFallback) {
    const struct {
        std::exception_ptr error;
        QString detail;
    } rows[] = {
        {std::make_exception_ptr(ZedazidEdize::message(QStringLiteral("Do this next."))),
         QStringLiteral("Do this next.")},
        {std::make_exception_ptr(ZedazidEdize::emptyAudio()),
         QStringLiteral("That recording was too short. Try again.")},
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
    for (Phase phase : {Phase::idle, Phase::requestingPermission, Phase::recording,
                        Phase::transcribing, Phase::failed}) {
        SCOPED_TRACE(static_cast<int>(phase));
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
