// One dictation end to end through the real recorder, meter timer and transcription
// client: known audio from a test source, uploaded to a real HTTP server.
#include "ModelFixture.h"

#include "GStreamerRecorder.h"
#include "QtTimerSource.h"
#include "ServiceAddress.h"
#include "TestHttpServer.h"
#include "TranscriptionClient.h"
#include "WaitUntil.h"

#include <sys/stat.h>

using Phase = ReradazIzavo::Phase;

namespace {

// A loud tone, so the meter has something to show.
const QByteArray toneSource = "audiotestsrc is-live=true wave=sine freq=440 volume=0.5";

class RealRecorderTest : public ModelTest {
protected:
    void SetUp() override {
        previousSource = qgetenv(GStreamerRecorder::sourceVariable);
        qputenv(GStreamerRecorder::sourceVariable, toneSource);
        ModelTest::SetUp();
        ServiceAddress::configure(server.baseUrl().toString());
        realTranscriber = std::make_shared<TranscriptionClient>();
        realRecorderFactory = &makeGStreamerRecorder;
        realTimers = std::make_shared<QtTimerSource>();
        build();
    }
    void TearDown() override {
        ModelTest::TearDown();
        if (previousSource.isEmpty())
            qunsetenv(GStreamerRecorder::sourceVariable);
        else
            qputenv(GStreamerRecorder::sourceVariable, previousSource);
    }
    QByteArray previousSource;
    TestHttpServer server;
};

mode_t modeOf(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
}

} // namespace

TEST_F(RealRecorderTest, ARecordedToneIsMeteredUploadedAndPasted) {
    server.reply({200, R"({"text":"A tone."})"});
    model->toggle();
    ASSERT_TRUE(waitUntil([&] { return model->phase() == Phase::recording; }))
        << model->status().toStdString() << ": " << model->detail().toStdString();
    const QStringList folders = recordingFolders();
    ASSERT_EQ(folders.size(), 1);
    const QString folder = tempDir.filePath(folders[0]);
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
    const QByteArray body = server.requests()[0].body;
    const qsizetype start = body.indexOf("\"audio\":\"") + 9;
    QByteArray base64 = body.mid(start, body.indexOf('"', start) - start);
    base64.replace("\\/", "/");
    const QByteArray audio = QByteArray::fromBase64(base64);
    EXPECT_EQ(audio.mid(4, 4), "ftyp"); // an MPEG-4 file, finalised
    EXPECT_GT(audio.size(), 4000);      // about a second at 64 kbit/s
}
