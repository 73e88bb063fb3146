// Recording: folder and file, meter, limits, interruptions and clean-up.
#include "ModelFixture.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <cmath>
#include <sys/stat.h>

using Phase = ReradazIzavo::Phase;

namespace {

mode_t modeOf(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
}

} // namespace

TEST_F(ModelTest, RecordsIntoAPrivateFolderAndFile) {
    ::umask(022);
    driveTo(Phase::recording);
    const QStringList folders = recordingFolders();
    ASSERT_EQ(folders.size(), 1);
    EXPECT_TRUE(
        QRegularExpression(
            QStringLiteral("^wispen-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"))
            .match(folders[0])
            .hasMatch())
        << folders[0].toStdString();
    const QString folder = QDir(tempDir.path()).filePath(folders[0]);
    EXPECT_EQ(recorder->lastPath, QDir(folder).filePath(QStringLiteral("recording.m4a")));
    EXPECT_EQ(modeOf(folder), 0700u);
    EXPECT_EQ(modeOf(recorder->lastPath), 0600u);
    EXPECT_EQ(model->seconds(), 0);
    EXPECT_EQ(timers->running(), 1u);
    EXPECT_EQ(timers->lastInterval, std::chrono::milliseconds(100));
}

TEST_F(ModelTest, TheListeningDetailFollowsTheTriggerMode) {
    model->setHoldToTalk(false);
    driveTo(Phase::recording);
    EXPECT_EQ(model->status(), StatusText::listening);
    EXPECT_EQ(model->detail(), DetailText::pressAgainToTranscribe);
}

TEST_F(ModelTest, LevelFollowsTheAveragePower) {
    const struct {
        float power;
        double level;
    } rows[] = {
        {-160.0f, 0.0}, {-700.0f, 0.0}, {-55.0f, 0.0}, {-27.5f, 0.5},
        {0.0f, 1.0},    {6.0f, 1.0},    {NAN, 0.0},    {-INFINITY, 0.0},
    };
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
        QString status;
        QString detail;
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
        build();
        model->setHoldToTalk(row.hold);
        const size_t uploads = transcriber->calls.size();
        driveTo(Phase::recording);
        recorder->currentTime = row.duration;
        model->toggle();
        EXPECT_EQ(model->phase(), row.phase);
        EXPECT_EQ(model->status(), row.status);
        EXPECT_EQ(model->detail(), row.detail);
        EXPECT_EQ(model->level(), 0.0);
        EXPECT_EQ(transcriber->calls.size(), uploads + (row.phase == Phase::transcribing ? 1 : 0));
        EXPECT_EQ(recordingFolders().size(), row.phase == Phase::transcribing ? 1 : 0);
        model->cancel();
    }
    EXPECT_FALSE(model->acceptRecordingDuration(NAN));
    EXPECT_TRUE(model->acceptRecordingDuration(0.3));
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

TEST_F(ModelTest, ARecorderThatStopsByItselfEndsTheDictation) {
    driveTo(Phase::recording);
    recorder->inputAlive = false;
    timers->tick();
    settle();
    EXPECT_EQ(model->phase(), Phase::idle);
    EXPECT_EQ(model->status(), StatusText::interrupted);
    EXPECT_EQ(model->detail(), DetailText::interrupted);
    EXPECT_TRUE(recordingFolders().isEmpty());
    EXPECT_TRUE(transcriber->calls.empty());
    EXPECT_EQ(pasteboard->writes, 0);
    EXPECT_EQ(timers->running(), 0u);
}

TEST_F(ModelTest, AFileThatCouldNotBeFinalisedIsNeverUploaded) {
    driveTo(Phase::recording);
    recorder->finaliseFails = true;
    model->toggle();
    EXPECT_EQ(model->phase(), Phase::idle);
    EXPECT_EQ(model->status(), StatusText::interrupted);
    EXPECT_TRUE(transcriber->calls.empty());
    EXPECT_TRUE(recordingFolders().isEmpty());
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
    const struct {
        const char* name;
        void (*arrange)(RecorderScript&);
    } rows[] = {
        {"no recorder", [](RecorderScript& s) { s.factoryFails = true; }},
        {"prepare fails", [](RecorderScript& s) { s.prepareFails = true; }},
        {"record fails", [](RecorderScript& s) { s.recordFails = true; }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        *recorder = RecorderScript();
        row.arrange(*recorder);
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

TEST_F(ModelTest, EveryEndingButAFailedUploadRemovesTheFolder) {
    const struct {
        const char* name;
        Phase from;
        std::function<void()> end;
    } rows[] = {
        {"cancel while recording", Phase::recording, [this] { model->cancel(); }},
        {"cancel while transcribing", Phase::transcribing, [this] { model->cancel(); }},
        {"cancel a failed upload", Phase::failed, [this] { model->cancel(); }},
        {"toggle a failed upload", Phase::failed,
         [this] {
             permissions->answerAtOnce = false;
             model->toggle();
         }},
        {"sleep while recording", Phase::recording,
         [this] {
             sleep->fire();
             settle();
         }},
        {"too short", Phase::recording,
         [this] {
             recorder->currentTime = 0.1;
             model->toggle();
         }},
        {"interrupted", Phase::recording,
         [this] {
             recorder->inputAlive = false;
             timers->tick();
             settle();
         }},
        {"transcript delivered", Phase::transcribing,
         [this] {
             transcriber->answer(0, QStringLiteral("hello"));
             settle();
         }},
        {"no speech", Phase::transcribing,
         [this] {
             transcriber->answer(0, QString());
             settle();
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        *transcriber = ScriptedTranscriber();
        *recorder = RecorderScript();
        build();
        driveTo(row.from);
        ASSERT_EQ(recordingFolders().size(), 1u);
        row.end();
        EXPECT_TRUE(recordingFolders().isEmpty());
    }
}

TEST_F(ModelTest, AFailedUploadKeepsTheRecordingUntilCancelled) {
    driveTo(Phase::failed);
    EXPECT_EQ(model->status(), StatusText::needsAttention);
    EXPECT_EQ(model->detail(), QStringLiteral("The service said no."));
    const QStringList folders = recordingFolders();
    ASSERT_EQ(folders.size(), 1);
    const QString file =
        QDir(QDir(tempDir.path()).filePath(folders[0])).filePath(QStringLiteral("recording.m4a"));
    EXPECT_TRUE(QFileInfo::exists(file));

    model->cancel();
    EXPECT_FALSE(QFileInfo::exists(file));
    EXPECT_TRUE(recordingFolders().isEmpty());
}
