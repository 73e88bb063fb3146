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
    ASSERT_EQ(recordingFolders().size(), 1);
    const QString folder = recordingFolders()[0];
    EXPECT_EQ(RecordingFolders::ownerOf(folder), RecordingFolders::self()) << folder.toStdString();
    EXPECT_EQ(recorder->lastPath, tempDir.filePath(folder) + QStringLiteral("/recording.m4a"));
    EXPECT_EQ(modeOf(tempDir.filePath(folder)), 0700u);
    EXPECT_EQ(modeOf(recorder->lastPath), 0600u);
}

// The meter and the clock start from zero for every recording and the meter drops
// to zero as soon as the recording stops or goes.
TEST_F(ModelTest, LevelAndSecondsFollowTheRecorderAndStartFromZero) {
    for (const auto& [power, level] : {std::pair{-55.0f, 0.0}, {-27.5f, 0.5}, {6.0f, 1.0}})
        EXPECT_DOUBLE_EQ(ReradazIzavo::levelForPower(power), level) << power;
    EXPECT_EQ(ReradazIzavo::levelForPower(NAN), 0.0);

    recorder->averagePower = -27.5f;
    driveTo(Phase::recording);
    recorder->currentTime = 2.9;
    timers->tick();
    settle();
    EXPECT_DOUBLE_EQ(model->level(), 0.5);
    EXPECT_EQ(model->seconds(), 2);
    EXPECT_EQ(recorder->meterUpdates, 1);
    model->toggle();
    EXPECT_EQ(model->level(), 0.0);
    model->cancel();
    driveTo(Phase::recording);
    EXPECT_EQ(model->seconds(), 0);
    timers->tick();
    settle();
    model->cancel();
    EXPECT_EQ(model->level(), 0.0);
}

TEST_F(ModelTest, RecordingsShorterThanTheMinimumAreDiscarded) {
    const struct {
        double duration;
        bool hold;
        QString status;
    } rows[] = {{0.29, true, StatusText::keepHolding},
                {NAN, false, StatusText::tooShort},
                {0.3, true, StatusText::transcribing}};
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
        const bool submitted = row.status == StatusText::transcribing;
        EXPECT_EQ(model->phase(), submitted ? Phase::transcribing : Phase::idle);
        EXPECT_EQ(model->status(), row.status);
        EXPECT_EQ(transcriber->calls.size(), submitted ? 1u : 0u);
        EXPECT_EQ(recordingFolders().size(), submitted ? 1 : 0);
        EXPECT_EQ(recorder->stops, submitted ? 1 : 0); // a short one is thrown away unfinished
        model->cancel();
    }
}

TEST_F(ModelTest, TheTimeLimitSubmitsWithoutTheUser) {
    driveTo(Phase::recording);
    for (const double time : {179.95, 180.0}) {
        recorder->currentTime = time;
        timers->tick();
        settle();
        EXPECT_EQ(model->phase(), time < 180 ? Phase::recording : Phase::transcribing);
    }
    EXPECT_EQ(model->seconds(), 180);
    ASSERT_EQ(transcriber->calls.size(), 1u);
    EXPECT_EQ(transcriber->calls[0].audio, recorder->audio);
    EXPECT_EQ(timers->running(), 0u);
}

TEST_F(ModelTest, ARecorderThatStopsOrCannotFinaliseEndsTheDictationUnsent) {
    const struct {
        bool capturedAudio, finaliseFails;
        QString detail;
    } rows[] = {{true, false, DetailText::interrupted},
                {false, false, DetailText::microphoneUnavailable}, // it never started
                {true, true, DetailText::interrupted}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.detail.toStdString());
        *recorder = RecorderScript();
        recorder->capturedAudio = row.capturedAudio, recorder->finaliseFails = row.finaliseFails;
        build();
        driveTo(Phase::recording);
        recorder->inputAlive = row.finaliseFails;
        row.finaliseFails ? model->toggle() : timers->tick();
        settle();
        EXPECT_EQ(model->phase(), Phase::idle);
        EXPECT_EQ(model->detail(), row.detail);
        EXPECT_TRUE(recordingFolders().isEmpty());
        EXPECT_TRUE(transcriber->calls.empty());
        EXPECT_EQ(timers->running(), 0u);
    }
}

TEST_F(ModelTest, ATickQueuedBeforeTheStopDoesNothing) {
    driveTo(Phase::recording);
    recorder->averagePower = 0;
    timers->tick(); // queued, not yet run
    model->toggle();
    settle();
    EXPECT_EQ(model->level(), 0.0);
    EXPECT_EQ(recorder->meterUpdates, 0);
}

TEST_F(ModelTest, AnUnavailableMicrophoneOrFolderIsReportedAndLeavesNothingBehind) {
    for (bool RecorderScript::*failure :
         {&RecorderScript::factoryFails, &RecorderScript::prepareFails,
          &RecorderScript::recordFails}) {
        *recorder = RecorderScript();
        (*recorder).*failure = true;
        build();
        model->toggle();
        settle();
        EXPECT_EQ(model->phase(), Phase::idle);
        EXPECT_EQ(model->detail(), DetailText::microphoneUnavailable);
        EXPECT_TRUE(recordingFolders().isEmpty());
        EXPECT_EQ(timers->running(), 0u);
    }
    qputenv("TMPDIR", QFile::encodeName(tempDir.filePath(QStringLiteral("missing"))));
    *recorder = RecorderScript();
    model->toggle();
    settle();
    EXPECT_EQ(model->status(), StatusText::needsAttention);
    EXPECT_TRUE(model->detail().contains(QString::fromLocal8Bit(std::strerror(ENOENT))))
        << model->detail().toStdString();
    EXPECT_EQ(recorder->created, 0);
}

// A failed upload keeps its recording for a retry; a cancel removes it and forgets
// the folder, so a later clean-up never touches whatever takes its place.
TEST_F(ModelTest, AFailedUploadKeepsTheRecordingUntilCancelled) {
    driveTo(Phase::failed);
    EXPECT_EQ(model->detail(), QStringLiteral("The service said no."));
    ASSERT_EQ(recordingFolders().size(), 1);
    const QString folder = tempDir.filePath(recordingFolders()[0]);
    EXPECT_TRUE(QFileInfo::exists(folder + QStringLiteral("/recording.m4a")));
    model->cancel();
    EXPECT_TRUE(recordingFolders().isEmpty());
    ASSERT_TRUE(QDir().mkdir(folder));
    model->cancel();
    EXPECT_TRUE(QFileInfo::exists(folder));
}

// Folders of a process killed while it recorded go at the next start; those of
// running processes, links and names that are not ours stay.
TEST_F(ModelTest, TheStartUpSweepRemovesOnlyFoldersOfEndedProcesses) {
    using namespace RecordingFolders;
    QProcess child;
    child.start("sleep", {"60"});
    ASSERT_TRUE(child.waitForStarted());
    const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const Owner childOwner{child.processId(), self().boot};
    const QString link = name(childOwner, QUuid::createUuid());
    const struct {
        QString folder;
        bool keptWhileRunning, keptWhenKilled;
    } rows[] = {{name(self(), QUuid::createUuid()), true, true},
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
