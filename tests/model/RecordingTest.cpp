// Recording: folder and file, meter, limits, interruptions and clean-up.
#include "ModelFixture.h"
#include "RecordingFolders.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <cmath>
#include <csignal>
#include <sys/stat.h>

using Phase = ReradazIzavo::Phase;

TEST_F(ModelTest, RecordsIntoAPrivateFolderAndFile) {
    ::umask(022);
    driveTo(Phase::recording);
    const QStringList folders = recordingFolders();
    ASSERT_EQ(folders.size(), 1);
    EXPECT_EQ(RecordingFolders::ownerOf(folders[0]), RecordingFolders::self())
        << folders[0].toStdString();
    const QString folder = tempDir.filePath(folders[0]);
    EXPECT_EQ(recorder->lastPath, folder + QStringLiteral("/recording.m4a"));
    EXPECT_EQ(modeOf(folder), 0700u);
    EXPECT_EQ(modeOf(recorder->lastPath), 0600u);
    EXPECT_EQ(model->seconds(), 0);
    EXPECT_EQ(timers->running(), 1u);
    EXPECT_EQ(timers->lastInterval, std::chrono::milliseconds(100));
}

TEST_F(ModelTest, LevelFollowsTheAveragePower) {
    const struct {
        float power;
        double level;
    } rows[] = {{-160.0f, 0.0}, {-700.0f, 0.0}, {-55.0f, 0.0}, {-27.5f, 0.5},
                {0.0f, 1.0},    {6.0f, 1.0},    {NAN, 0.0},    {-INFINITY, 0.0}};
    for (const auto& row : rows)
        EXPECT_DOUBLE_EQ(ReradazIzavo::levelForPower(row.power), row.level) << row.power;

    driveTo(Phase::recording);
    recorder->averagePower = -27.5f;
    recorder->currentTime = 2.9;
    timers->tick();
    settle();
    EXPECT_DOUBLE_EQ(model->level(), 0.5);
    EXPECT_EQ(model->seconds(), 2);
    EXPECT_EQ(recorder->meterUpdates, 1);
}

TEST_F(ModelTest, RecordingsShorterThanTheMinimumAreDiscarded) {
    const struct {
        double duration;
        bool hold;
        Phase phase;
        QString status, detail;
    } rows[] = {
        {0.29, true, Phase::idle, StatusText::keepHolding, DetailText::keepHolding},
        {0.29, false, Phase::idle, StatusText::tooShort, DetailText::tooShort},
        {0.0, false, Phase::idle, StatusText::tooShort, DetailText::tooShort},
        {NAN, true, Phase::idle, StatusText::keepHolding, DetailText::keepHolding},
        {0.3, true, Phase::transcribing, StatusText::transcribing, DetailText::transcribing},
        {0.3, false, Phase::transcribing, StatusText::transcribing, DetailText::transcribing},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.duration);
        *transcriber = ScriptedTranscriber();
        *recorder = RecorderScript();
        build();
        model->setHoldToTalk(row.hold);
        driveTo(Phase::recording);
        recorder->currentTime = row.duration;
        model->toggle();
        settle();
        const bool submitted = row.phase == Phase::transcribing;
        EXPECT_EQ(model->phase(), row.phase);
        EXPECT_EQ(model->status(), row.status);
        EXPECT_EQ(model->detail(), row.detail);
        EXPECT_EQ(model->level(), 0.0);
        ASSERT_EQ(transcriber->calls.size(), submitted ? 1u : 0u);
        if (submitted) {
            EXPECT_EQ(transcriber->calls[0].audio, recorder->audio);
        }
        EXPECT_EQ(recordingFolders().size(), submitted ? 1 : 0);
        EXPECT_EQ(recorder->stops, submitted ? 1 : 0);
        model->cancel();
    }
}

TEST_F(ModelTest, TheTimeLimitSubmitsWithoutTheUser) {
    driveTo(Phase::recording);
    recorder->currentTime = 179.95;
    timers->tick();
    settle();
    EXPECT_EQ(model->phase(), Phase::recording);
    EXPECT_EQ(model->seconds(), 179);

    recorder->currentTime = 180.0;
    timers->tick();
    settle();
    EXPECT_EQ(model->phase(), Phase::transcribing);
    EXPECT_EQ(model->seconds(), 180);
    ASSERT_EQ(transcriber->calls.size(), 1u);
    EXPECT_EQ(transcriber->calls[0].audio, recorder->audio);
    EXPECT_EQ(timers->running(), 0u);
}

TEST_F(ModelTest, ARecorderThatStopsOrCannotFinaliseEndsTheDictationUnsent) {
    const struct {
        const char* name;
        bool capturedAudio, finaliseFails;
        QString status, detail;
    } rows[] = {
        {"stops by itself", true, false, StatusText::interrupted, DetailText::interrupted},
        {"never started", false, false, StatusText::needsAttention,
         DetailText::microphoneUnavailable},
        {"cannot finalise", true, true, StatusText::interrupted, DetailText::interrupted},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        *recorder = RecorderScript();
        recorder->capturedAudio = row.capturedAudio, recorder->finaliseFails = row.finaliseFails;
        build();
        driveTo(Phase::recording);
        if (row.finaliseFails) {
            model->toggle();
        } else {
            recorder->inputAlive = false;
            timers->tick();
        }
        settle();
        EXPECT_EQ(model->phase(), Phase::idle);
        EXPECT_EQ(model->status(), row.status);
        EXPECT_EQ(model->detail(), row.detail);
        EXPECT_EQ(recorder->stops, row.finaliseFails ? 1 : 0); // thrown away unfinished
        EXPECT_TRUE(recordingFolders().isEmpty());
        EXPECT_TRUE(transcriber->calls.empty());
        EXPECT_EQ(pasteboard->writes, 0);
        EXPECT_EQ(timers->running(), 0u);
    }
}

TEST_F(ModelTest, ATickQueuedBeforeTheStopDoesNothing) {
    driveTo(Phase::recording);
    recorder->averagePower = 0;
    timers->tick(); // queued, not yet run
    model->toggle();
    ASSERT_EQ(model->phase(), Phase::transcribing);
    settle();
    EXPECT_EQ(model->level(), 0.0);
    EXPECT_EQ(recorder->meterUpdates, 0);
}

TEST_F(ModelTest, AnUnavailableMicrophoneIsReportedAndLeavesNothingBehind) {
    bool RecorderScript::*const failures[] = {
        &RecorderScript::factoryFails, &RecorderScript::prepareFails, &RecorderScript::recordFails};
    for (auto failure : failures) {
        *recorder = RecorderScript();
        (*recorder).*failure = true;
        build();
        model->toggle();
        settle();
        EXPECT_EQ(model->phase(), Phase::idle);
        EXPECT_EQ(model->status(), StatusText::needsAttention);
        EXPECT_EQ(model->detail(), DetailText::microphoneUnavailable);
        EXPECT_TRUE(recordingFolders().isEmpty());
        EXPECT_EQ(timers->running(), 0u);
    }
}

TEST_F(ModelTest, AFolderThatCannotBeCreatedIsReportedWithTheSystemsReason) {
    qputenv("TMPDIR", QFile::encodeName(tempDir.filePath(QStringLiteral("missing"))));
    model->toggle();
    settle();
    EXPECT_EQ(model->phase(), Phase::idle);
    EXPECT_EQ(model->status(), StatusText::needsAttention);
    EXPECT_TRUE(model->detail().contains(QString::fromLocal8Bit(std::strerror(ENOENT))))
        << model->detail().toStdString();
    EXPECT_EQ(recorder->created, 0);
}

TEST_F(ModelTest, AFailedUploadKeepsTheRecordingUntilCancelled) {
    driveTo(Phase::failed);
    EXPECT_EQ(model->status(), StatusText::needsAttention);
    EXPECT_EQ(model->detail(), QStringLiteral("The service said no."));
    ASSERT_EQ(recordingFolders().size(), 1);
    const QString file = tempDir.filePath(recordingFolders()[0] + QStringLiteral("/recording.m4a"));
    EXPECT_TRUE(QFileInfo::exists(file));
    model->cancel();
    EXPECT_FALSE(QFileInfo::exists(file));
    EXPECT_TRUE(recordingFolders().isEmpty());
}

// Folders of a process killed while it recorded go at the next start; those of
// running processes, links and names that are not ours stay.
TEST_F(ModelTest, TheStartUpSweepRemovesOnlyFoldersOfEndedProcesses) {
    using namespace RecordingFolders;
    driveTo(Phase::failed);
    QProcess child;
    child.start("sleep", {"60"});
    ASSERT_TRUE(child.waitForStarted());
    const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const Owner childOwner{child.processId(), self().boot};
    const QString link = name(childOwner, QUuid::createUuid());
    const struct {
        QString folder;
        bool keptWhileRunning, keptWhenKilled;
    } rows[] = {{recordingFolders().at(0), true, true},
                {name(childOwner, QUuid::createUuid()), true, false},
                {name({self().pid, id}, QUuid::createUuid()), false, false}, // another boot
                {"wispen-" + id.toUpper(), true, true},
                {link + "/kept", true, true}};
    for (const auto& row : rows)
        ASSERT_TRUE(row.folder == link + "/kept" || QDir(tempDir.path()).mkpath(row.folder));
    ASSERT_TRUE(QDir(tempDir.path()).mkpath("elsewhere/kept"));
    ASSERT_TRUE(QFile::link(tempDir.filePath("elsewhere"), tempDir.filePath(link)));

    for (const bool killed : {false, true}) {
        if (killed && ::kill(child.processId(), SIGKILL) == 0)
            child.waitForFinished();
        sweep(tempDir.path());
        for (const auto& row : rows)
            EXPECT_EQ(QFileInfo::exists(tempDir.filePath(row.folder)),
                      killed ? row.keptWhenKilled : row.keptWhileRunning)
                << row.folder.toStdString() << (killed ? " after the kill" : "");
    }
}
