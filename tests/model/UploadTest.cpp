// The upload against a real HTTP server through the real transcription client, and
// one dictation end to end through the real recorder and meter timer as well.
#include "ModelFixture.h"

#include "GStreamerRecorder.h"
#include "QtTimerSource.h"
#include "ServiceAddress.h"
#include "TestHttpServer.h"
#include "TranscriptionClient.h"
#include "WaitUntil.h"

#include <QTcpServer>

using Phase = ReradazIzavo::Phase;

namespace {

class UploadTest : public ModelTest {
protected:
    void SetUp() override {
        ModelTest::SetUp();
        ServiceAddress::configure(server.baseUrl().toString());
        auto client = std::make_shared<TranscriptionClient>();
        client->setTimeouts(2000, 3000);
        realTranscriber = client;
        recorder->audio = QByteArray(2048, '\x5a') + QByteArray("\xff\xfe/+", 4);
        build();
    }
    QByteArray received(int request) const {
        return audioSentIn(server.requests().at(request).body);
    }
    TestHttpServer server;
};

// The real recorder fed a loud tone, so the meter has something to show.
class RealRecorderTest : public UploadTest {
protected:
    void SetUp() override {
        previousSource = qgetenv(GStreamerRecorder::sourceVariable);
        qputenv(GStreamerRecorder::sourceVariable,
                "audiotestsrc is-live=true wave=sine freq=440 volume=0.5");
        realRecorderFactory = &makeGStreamerRecorder;
        realTimers = std::make_shared<QtTimerSource>();
        UploadTest::SetUp();
    }
    void TearDown() override {
        UploadTest::TearDown();
        if (previousSource.isEmpty())
            qunsetenv(GStreamerRecorder::sourceVariable);
        else
            qputenv(GStreamerRecorder::sourceVariable, previousSource);
    }
    QByteArray previousSource;
};

} // namespace

TEST_F(UploadTest, TheRecordingReachesTheServiceAndTheTranscriptIsPasted) {
    server.reply({200, R"({"text":"Hello from the service."})"});
    driveTo(Phase::transcribing);
    ASSERT_TRUE(waitUntil([&] { return model->phase() == Phase::idle; }));
    EXPECT_EQ(model->status(), StatusText::pasteSent);
    EXPECT_EQ(pasteboard->contents, QStringLiteral("Hello from the service."));
    ASSERT_EQ(server.requestCount(), 1);
    EXPECT_EQ(server.requests()[0].method, "POST");
    EXPECT_EQ(server.requests()[0].path, "/api/transcribe");
    EXPECT_EQ(received(0), recorder->audio);
    EXPECT_TRUE(recordingFolders().isEmpty());
}

TEST_F(UploadTest, AServiceRefusalKeepsTheRecordingForARetryThatCopies) {
    server.reply({503, R"({"error":"down"})"});
    driveTo(Phase::transcribing);
    ASSERT_TRUE(waitUntil([&] { return model->phase() == Phase::failed; }));
    EXPECT_EQ(model->status(), StatusText::needsAttention);
    EXPECT_EQ(model->detail(),
              QStringLiteral("Dictation is temporarily unavailable. Try again shortly."));
    EXPECT_EQ(recordingFolders().size(), 1);

    server.reply({200, R"({"text":"Second time lucky."})"});
    model->retry();
    ASSERT_TRUE(waitUntil([&] { return model->phase() == Phase::idle; }));
    EXPECT_EQ(model->status(), StatusText::copied);
    EXPECT_EQ(capture->pastes, 0);
    ASSERT_EQ(server.requestCount(), 2);
    EXPECT_EQ(received(1), recorder->audio);
    EXPECT_NE(server.requests()[0].header("X-Request-ID"),
              server.requests()[1].header("X-Request-ID"));
}

TEST_F(UploadTest, AnUnreachableServiceAsksToRetryWhenOnline) {
    // A port that was just free and is closed again refuses the connection.
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    ServiceAddress::configure(QStringLiteral("http://127.0.0.1:%1").arg(port));
    driveTo(Phase::transcribing);
    ASSERT_TRUE(waitUntil([&] { return model->phase() == Phase::failed; }));
    EXPECT_EQ(model->status(), StatusText::needsAttention);
    EXPECT_EQ(model->detail(), DetailText::connectionFailed);
    EXPECT_EQ(recordingFolders().size(), 1);
}

TEST_F(UploadTest, ACancelledUploadNeverDelivers) {
    server.reply({200,
                  R"({"text":"Too late."})",
                  {},
                  "application/json; charset=utf-8",
                  TestHttpServer::Stall::silent});
    driveTo(Phase::transcribing);
    ASSERT_TRUE(waitUntil([&] { return server.requestCount() == 1; }));
    model->cancel();
    server.release();
    settle();
    EXPECT_EQ(model->phase(), Phase::idle);
    EXPECT_EQ(model->status(), StatusText::ready);
    EXPECT_TRUE(model->lastTranscript().isEmpty());
    EXPECT_EQ(pasteboard->writes, 0);
    EXPECT_TRUE(recordingFolders().isEmpty());
}

TEST_F(RealRecorderTest, ARecordedToneIsMeteredUploadedAndPasted) {
    server.reply({200, R"({"text":"A tone."})"});
    model->toggle();
    ASSERT_TRUE(waitUntil([&] { return model->phase() == Phase::recording; }))
        << model->status().toStdString() << ": " << model->detail().toStdString();
    ASSERT_EQ(recordingFolders().size(), 1);
    const QString folder = tempDir.filePath(recordingFolders()[0]);
    EXPECT_EQ(modeOf(folder), 0700u);
    EXPECT_EQ(modeOf(folder + QStringLiteral("/recording.m4a")), 0600u);

    ASSERT_TRUE(waitUntil([&] { return model->seconds() >= 1 && model->level() > 0.3; }))
        << "seconds " << model->seconds() << ", level " << model->level();
    model->toggle();
    ASSERT_TRUE(waitUntil([&] { return model->phase() == Phase::idle; }));
    EXPECT_EQ(model->status(), StatusText::pasteSent);
    EXPECT_EQ(model->level(), 0.0);
    EXPECT_TRUE(recordingFolders().isEmpty());
    ASSERT_EQ(server.requestCount(), 1);
    const QByteArray audio = received(0);
    EXPECT_EQ(audio.mid(4, 4), "ftyp"); // an MPEG-4 file, finalised
    EXPECT_GT(audio.size(), 4000);      // about a second at 64 kbit/s
}
