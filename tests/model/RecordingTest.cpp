// Recording: folder and file, meter, limits, interruptions and clean-up.
#include "ModelFixture.h"
#include "RecordingFolders.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <cmath>
#include <csignal>
#include <sys/stat.h>

// Permission bits of a file or folder; 0 when it does not exist.
static mode_t modeOf(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// The meter and the clock start from zero for every recording and the meter drops
// to zero as soon as the recording stops or goes; a tick queued before the stop
// finds the recording over.
TEST_F(ModelTest, LevelAndSecondsFollowTheRecorderAndStartFromZero) {
    for (const auto& [power, level] :
         {std::pair{-55.0f, 0.0}, {-27.5f, 0.5}, {6.0f, 1.0}, {float(NAN), 0.0}})
        EXPECT_DOUBLE_EQ(ReradazIzavo::levelForPower(power), level) << power;

    recorder->averagePower = -27.5f;
    driveTo(Phase::recording);
    recorder->currentTime = 2.9;
    timers->tick();
    settle();
    EXPECT_DOUBLE_EQ(model->level(), 0.5);
    EXPECT_EQ(model->seconds(), 2);
    EXPECT_EQ(recorder->meterUpdates, 1);
    model->cancel();
    EXPECT_EQ(model->level(), 0.0);
    driveTo(Phase::recording);
    EXPECT_EQ(model->seconds(), 0);
    timers->tick();
    settle();
    timers->tick(); // queued, not yet run
    model->toggle();
    EXPECT_EQ(model->level(), 0.0);
    settle();
    EXPECT_EQ(model->level(), 0.0);
    EXPECT_EQ(recorder->meterUpdates, 2);
}

// Only a recording long enough and finished whole is uploaded: a short one is thrown
// away, the time limit submits without the user, and an input that goes away or a
// file that cannot be finalised ends the dictation unsent.
TEST_F(ModelTest, ARecordingIsSubmittedOnlyWhenLongEnoughAndComplete) {
    namespace DT = DetailText;
    const struct {
        bool hold;
        double time;
        bool byTick, inputAlive, capturedAudio, finaliseFails;
        QString detail;
    } rows[] = {
        {true, 0.29, false, true, true, false, DT::keepHolding},
        {false, NAN, false, true, true, false, DT::tooShort},
        {true, 0.3, false, true, true, false, DT::transcribing},
        {true, 179.95, true, true, true, false, DT::releaseToTranscribe},
        {true, 180, true, true, true, false, DT::transcribing},
        {true, 1, true, false, true, false, DT::interrupted},
        {true, 1, true, false, false, false, DT::microphoneUnavailable}, // it never started
        {true, 1, false, true, true, true, DT::interrupted},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.time << " " << row.detail.toStdString());
        *transcriber = {}, *recorder = {};
        recorder->capturedAudio = row.capturedAudio, recorder->finaliseFails = row.finaliseFails;
        build();
        model->setHoldToTalk(row.hold);
        driveTo(Phase::recording);
        recorder->currentTime = row.time, recorder->inputAlive = row.inputAlive;
        row.byTick ? timers->tick() : model->toggle();
        settle();
        const bool submitted = row.detail == DT::transcribing;
        const bool going = row.detail == DT::releaseToTranscribe;
        EXPECT_EQ(model->phase(), submitted ? Phase::transcribing
                                  : going   ? Phase::recording
                                            : Phase::idle);
        EXPECT_EQ(model->detail(), row.detail);
        ASSERT_EQ(transcriber->calls.size(), submitted ? 1u : 0u);
        EXPECT_TRUE(!submitted || transcriber->calls[0]->audio == recorder->audio);
        EXPECT_EQ(recordingFolders().size(), submitted || going ? 1 : 0);
        EXPECT_EQ(timers->running(), going ? 1u : 0u);
        model->cancel();
    }
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
    EXPECT_TRUE(recorder->lastPath.isEmpty());
}

// A failed upload keeps its recording, private to the user and named after this
// process, for a retry, which fails with the reason when the file has gone; a cancel
// removes the folder and forgets it, so a later clean-up never touches whatever takes
// its place.
TEST_F(ModelTest, AFailedUploadKeepsItsPrivateRecordingUntilCancelled) {
    ::umask(022);
    driveTo(Phase::failed);
    EXPECT_EQ(model->detail(), DetailText::connectionFailed);
    ASSERT_EQ(recordingFolders().size(), 1);
    const QString folder = tempDir.filePath(recordingFolders()[0]);
    EXPECT_EQ(RecordingFolders::ownerOf(recordingFolders()[0]), RecordingFolders::self());
    EXPECT_EQ(recorder->lastPath, folder + QStringLiteral("/recording.m4a"));
    EXPECT_EQ(modeOf(folder), 0700u);
    EXPECT_EQ(modeOf(recorder->lastPath), 0600u);
    ASSERT_TRUE(QFile::remove(recorder->lastPath));
    model->retry();
    settle();
    EXPECT_EQ(model->phase(), Phase::failed);
    EXPECT_TRUE(model->detail().startsWith(QStringLiteral("The recording could not be read")))
        << model->detail().toStdString();
    EXPECT_EQ(transcriber->calls.size(), 1u);
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
