// The GStreamer recorder against real sound servers: the desktop's PulseAudio with its
// virtual microphone for recordings, and a private PulseAudio per test for unplugging
// the microphone or stopping the server.
#include "GStreamerRecorder.h"
#include "SoundServer.h"
#include "WaitUntil.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>

using namespace std::chrono_literals;

namespace {

constexpr auto firstAudioTimeout = 5s;
constexpr auto interruptionTimeout = 3s;
constexpr qint64 silenceBeforeSpeechMs = 800;
constexpr qint64 silenceAfterSpeechMs = 500;
// Far below the half minute a hung sound server makes its clients wait.
constexpr qint64 hangBoundMs = 10000;

struct Folder {
    QTemporaryDir dir;
    Folder() { ::chmod(QFile::encodeName(dir.path()).constData(), 0700); }
    QString recording() const { return dir.filePath("recording.m4a"); }
};

// Keeps refreshing the meters, as the controller's meter tick does, until the
// condition holds.
bool recordUntil(GStreamerRecorder& recorder, const std::function<bool()>& condition,
                 std::chrono::milliseconds timeout) {
    return waitUntil(
        [&] {
            recorder.updateMeters();
            return condition();
        },
        timeout);
}

mode_t modeOf(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
}

// What gst-discoverer-1.0 reports about a file.
struct Discovery {
    QString text;
    std::optional<double> number(const QString& label) const {
        const auto match = QRegularExpression("^\\s*" + label + ":\\s*([0-9.]+)",
                                              QRegularExpression::MultilineOption)
                               .match(text);
        if (!match.hasMatch())
            return std::nullopt;
        return match.captured(1).toDouble();
    }
    std::optional<double> durationSeconds() const {
        const auto match = QRegularExpression("Duration: (\\d+):(\\d+):([0-9.]+)").match(text);
        if (!match.hasMatch())
            return std::nullopt;
        return match.captured(1).toDouble() * 3600 + match.captured(2).toDouble() * 60 +
               match.captured(3).toDouble();
    }
};

Discovery discover(const QString& path) {
    return {runTool("gst-discoverer-1.0", {"-v", path}).output};
}

double median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// One recording of speech through the desktop's virtual microphone, made once and
// examined by several tests.
struct SpeechRecording {
    struct Reading {
        qint64 atMs;
        float power;
        bool speaking;
    };
    Folder folder;
    bool captured = false;
    bool stopped = false;
    double seconds = 0;
    std::vector<Reading> readings;
    QString error;
};

class RecordedSpeech : public testing::Test {
protected:
    static void SetUpTestSuite() {
        s_speech = new SpeechRecording;
        record(*s_speech);
    }
    static void TearDownTestSuite() {
        delete s_speech;
        s_speech = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(s_speech->error.isEmpty()) << s_speech->error.toStdString();
    }

    static void record(SpeechRecording& speech) {
        QTemporaryDir voice;
        const QString wav = voice.filePath("speech.wav");
        if (!runTool("espeak-ng", {"-w", wav,
                                   "Please write down this short sentence, "
                                   "then read it back to me slowly."})
                 .succeeded()) {
            speech.error = "espeak-ng could not make the test speech";
            return;
        }
        GStreamerRecorder recorder(speech.folder.recording());
        if (!recorder.prepareToRecord() || !recorder.record()) {
            speech.error = "the recorder did not start";
            return;
        }
        speech.captured = recordUntil(
            recorder, [&] { return recorder.hasCapturedAudio(); }, firstAudioTimeout);
        QElapsedTimer clock;
        clock.start();
        bool speaking = false;
        auto sample = [&] {
            recorder.updateMeters();
            speech.readings.push_back({clock.elapsed(), recorder.averagePower(0), speaking});
        };
        // Collects readings for a stretch of the recording.
        auto collectFor = [&](qint64 ms) {
            const qint64 until = clock.elapsed() + ms;
            waitUntil(
                [&] {
                    sample();
                    return clock.elapsed() >= until;
                },
                std::chrono::milliseconds(ms * 2));
        };
        collectFor(silenceBeforeSpeechMs);
        QProcess player;
        player.start("paplay", {"--device=vmic_sink", wav});
        speaking = player.waitForStarted();
        waitUntil(
            [&] {
                sample();
                return player.state() == QProcess::NotRunning;
            },
            30s);
        speaking = false;
        collectFor(silenceAfterSpeechMs);
        speech.seconds = recorder.currentTime();
        speech.stopped = recorder.stop();
    }

    static SpeechRecording* s_speech;
};

SpeechRecording* RecordedSpeech::s_speech = nullptr;

TEST_F(RecordedSpeech, FileIsMpeg4AacAt24kHzMonoNear64kbps) {
    ASSERT_TRUE(s_speech->captured);
    ASSERT_TRUE(s_speech->stopped);
    const Discovery file = discover(s_speech->folder.recording());
    EXPECT_TRUE(file.text.contains("ISO MP4/M4A")) << file.text.toStdString();
    EXPECT_TRUE(file.text.contains("MPEG-4 AAC")) << file.text.toStdString();
    EXPECT_EQ(file.number("Sample rate"), 24000);
    EXPECT_EQ(file.number("Channels"), 1);
    // The encoder's rate is an average: the pauses around the speech cost little.
    const double bitRate = file.number("Bitrate").value_or(0);
    EXPECT_GT(bitRate, 64000 * 0.6);
    EXPECT_LT(bitRate, 64000 * 1.05);
}

TEST_F(RecordedSpeech, FileHoldsAsMuchAudioAsTheRecorderReported) {
    ASSERT_TRUE(s_speech->stopped);
    const double recorded = s_speech->readings.back().atMs / 1000.0;
    const auto duration = discover(s_speech->folder.recording()).durationSeconds();
    ASSERT_TRUE(duration.has_value());
    EXPECT_NEAR(*duration, s_speech->seconds, 0.3);
    EXPECT_NEAR(*duration, recorded, 0.5);
}

TEST_F(RecordedSpeech, LevelsArriveTenTimesASecond) {
    // While speech plays every reading differs from the one before, so the intervals
    // between changes are the intervals between level messages.
    std::vector<double> intervals;
    std::optional<SpeechRecording::Reading> previous;
    for (const auto& reading : s_speech->readings) {
        if (!reading.speaking)
            continue;
        if (previous && reading.power != previous->power) {
            intervals.push_back(static_cast<double>(reading.atMs - previous->atMs));
            previous = reading;
        }
        if (!previous)
            previous = reading;
    }
    ASSERT_GT(intervals.size(), 10u);
    EXPECT_NEAR(median(intervals), 100, 25);
}

TEST_F(RecordedSpeech, LevelsFollowTheSpeech) {
    std::vector<double> silence, speech;
    for (const auto& reading : s_speech->readings)
        if (reading.atMs > 200)
            (reading.speaking ? speech : silence).push_back(reading.power);
    ASSERT_FALSE(silence.empty());
    ASSERT_FALSE(speech.empty());
    const double loudest = *std::max_element(speech.begin(), speech.end());
    EXPECT_GT(loudest, -40.0);
    EXPECT_LT(*std::max_element(silence.begin(), silence.end()), -80.0);
    EXPECT_GT(median(speech), median(silence) + 30.0);
}

class Recorder : public testing::Test {
protected:
    Folder folder;
};

TEST_F(Recorder, FileIsOwnerOnlyAsSoonAsRecordingStarts) {
    const mode_t previous = ::umask(0);
    GStreamerRecorder recorder(folder.recording());
    const bool started = recorder.record();
    ::umask(previous);
    ASSERT_TRUE(started);
    EXPECT_EQ(modeOf(folder.recording()), 0600u);
    EXPECT_EQ(modeOf(folder.dir.path()), 0700u);
    ASSERT_TRUE(recordUntil(
        recorder, [&] { return recorder.hasCapturedAudio(); }, firstAudioTimeout));
    EXPECT_TRUE(recorder.stop());
    EXPECT_EQ(modeOf(folder.recording()), 0600u);
}

TEST_F(Recorder, NoSoundServerMeansNoRecordingAndNoFile) {
    const ScopedEnvironment noServer("PULSE_SERVER",
                                     QFile::encodeName("unix:" + folder.dir.filePath("none")));
    GStreamerRecorder recorder(folder.recording());
    EXPECT_FALSE(recorder.prepareToRecord());
    EXPECT_FALSE(recorder.record());
    EXPECT_FALSE(recorder.isRecording());
    EXPECT_FALSE(recorder.stop());
    EXPECT_FALSE(QFileInfo::exists(folder.recording()));
}

TEST_F(Recorder, NoInputDeviceMeansNoRecordingAndNoFile) {
    PrivateSoundServer server;
    ASSERT_TRUE(server.start(PrivateSoundServer::Input::none));
    const ScopedEnvironment address("PULSE_SERVER", server.address().toUtf8());
    GStreamerRecorder recorder(folder.recording());
    EXPECT_FALSE(recorder.record());
    EXPECT_FALSE(recorder.isRecording());
    EXPECT_FALSE(QFileInfo::exists(folder.recording()));
}

TEST_F(Recorder, HungSoundServerMeansNoRecordingWithoutHoldingUpTheCaller) {
    PrivateSoundServer server;
    ASSERT_TRUE(server.start());
    server.freeze(true);
    const ScopedEnvironment address("PULSE_SERVER", server.address().toUtf8());
    GStreamerRecorder recorder(folder.recording());
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(recorder.prepareToRecord());
    EXPECT_LT(clock.elapsed(), hangBoundMs);
    EXPECT_FALSE(QFileInfo::exists(folder.recording()));
    server.freeze(false);
}

TEST_F(Recorder, MissingFolderMeansNoRecordingAndNoFile) {
    const QString path = folder.dir.filePath("gone/recording.m4a");
    GStreamerRecorder recorder(path);
    EXPECT_FALSE(recorder.record());
    EXPECT_FALSE(recorder.isRecording());
    EXPECT_FALSE(QFileInfo::exists(path));
}

TEST_F(Recorder, StopWithoutRecordingFinalisesNothing) {
    GStreamerRecorder recorder(folder.recording());
    ASSERT_TRUE(recorder.prepareToRecord());
    EXPECT_FALSE(recorder.stop());
    EXPECT_FALSE(QFileInfo::exists(folder.recording()));
    EXPECT_EQ(recorder.currentTime(), 0.0);
}

TEST_F(Recorder, ReplacedSourceIsMeteredInDecibelsOfFullScale) {
    // A sine at half of full scale has an RMS of 0.354, about -9 dB.
    const ScopedEnvironment source(GStreamerRecorder::sourceVariable,
                                   "audiotestsrc is-live=true wave=sine volume=0.5");
    GStreamerRecorder recorder(folder.recording());
    EXPECT_EQ(recorder.averagePower(0), -160.0f);
    ASSERT_TRUE(recorder.record());
    ASSERT_TRUE(recordUntil(
        recorder, [&] { return recorder.averagePower(0) > -100; }, 3s));
    EXPECT_NEAR(recorder.averagePower(0), -9.03, 0.5);
    EXPECT_EQ(recorder.averagePower(1), -160.0f);
    EXPECT_TRUE(recorder.isRecording());
    ASSERT_TRUE(recordUntil(
        recorder, [&] { return recorder.currentTime() >= 0.5; }, 3s));
    const double before = recorder.currentTime();
    EXPECT_TRUE(recorder.stop());
    EXPECT_FALSE(recorder.isRecording());
    EXPECT_GE(recorder.currentTime(), before);
    const auto duration = discover(folder.recording()).durationSeconds();
    ASSERT_TRUE(duration.has_value());
    EXPECT_NEAR(*duration, recorder.currentTime(), 0.3);
}

TEST_F(Recorder, EncodesAtSixtyFourKilobitsPerSecond) {
    // Noise uses every bit the encoder may spend, so the file shows its exact rate (the
    // encoder's own default would come out near 69 kbit/s).
    const ScopedEnvironment source(GStreamerRecorder::sourceVariable,
                                   "audiotestsrc is-live=true wave=white-noise volume=0.3");
    GStreamerRecorder recorder(folder.recording());
    ASSERT_TRUE(recorder.record());
    ASSERT_TRUE(recordUntil(
        recorder, [&] { return recorder.currentTime() >= 3.0; }, 6s));
    ASSERT_TRUE(recorder.stop());
    EXPECT_NEAR(discover(folder.recording()).number("Bitrate").value_or(0), 64000, 64000 * 0.05);
}

TEST_F(Recorder, InputThatEndsByItselfEndsTheRecording) {
    const ScopedEnvironment source(GStreamerRecorder::sourceVariable,
                                   "audiotestsrc is-live=true num-buffers=5");
    GStreamerRecorder recorder(folder.recording());
    ASSERT_TRUE(recorder.record());
    EXPECT_TRUE(recordUntil(
        recorder, [&] { return !recorder.isRecording(); }, interruptionTimeout));
    // What did arrive is still a complete file.
    EXPECT_TRUE(recorder.stop());
}

TEST_F(Recorder, UnusableSourceDescriptionFailsToPrepare) {
    const ScopedEnvironment source(GStreamerRecorder::sourceVariable, "nosuchelement ! fakesink");
    GStreamerRecorder recorder(folder.recording());
    EXPECT_FALSE(recorder.prepareToRecord());
    EXPECT_FALSE(recorder.record());
    EXPECT_FALSE(QFileInfo::exists(folder.recording()));
}

// Recordings from a private sound server that the tests may disturb.
class PrivateServerRecorder : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.start());
        const ScopedEnvironment address("PULSE_SERVER", server.address().toUtf8());
        recorder = std::make_unique<GStreamerRecorder>(folder.recording());
        ASSERT_TRUE(recorder->record());
        ASSERT_TRUE(recordUntil(
            *recorder, [&] { return recorder->hasCapturedAudio(); }, firstAudioTimeout));
        ASSERT_TRUE(recorder->isRecording());
    }

    bool interrupted() {
        return recordUntil(
            *recorder, [&] { return !recorder->isRecording(); }, interruptionTimeout);
    }

    PrivateSoundServer server;
    Folder folder;
    std::unique_ptr<GStreamerRecorder> recorder;
};

TEST_F(PrivateServerRecorder, UnpluggingTheMicrophoneInterrupts) {
    // The sound server moves the stream to another source instead of failing it.
    ASSERT_TRUE(server.pactl({"unload-module", "module-remap-source"}).succeeded());
    EXPECT_TRUE(interrupted());
    recorder->stop();
}

TEST_F(PrivateServerRecorder, StoppingTheSoundServerInterrupts) {
    server.kill();
    EXPECT_TRUE(interrupted());
    recorder->stop();
}

TEST_F(PrivateServerRecorder, SuspendedMicrophoneStallsAndStillFinalises) {
    ASSERT_TRUE(server.pactl({"suspend-source", "vmic", "1"}).succeeded());
    EXPECT_TRUE(interrupted());
    // The stalled input never passes end-of-stream on; stop must not wait for it.
    EXPECT_TRUE(recorder->stop());
    EXPECT_TRUE(discover(folder.recording()).durationSeconds().has_value());
}

TEST_F(PrivateServerRecorder, HungSoundServerNeverHoldsUpTheCaller) {
    // A server that stops answering makes every request to it wait half a minute; the
    // recording still ends, and stopping and dropping the recorder do not wait for it.
    server.freeze(true);
    EXPECT_TRUE(interrupted());
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(recorder->stop());
    recorder.reset();
    EXPECT_LT(clock.elapsed(), hangBoundMs);
    server.freeze(false);
}

TEST_F(PrivateServerRecorder, VolumeChangeIsNotAnInterruption) {
    // The server reports every change of the stream; only a move to another device counts.
    const QString stream =
        server.pactl({"list", "short", "source-outputs"}).output.section('\t', 0, 0);
    ASSERT_TRUE(server.pactl({"set-source-output-volume", stream, "50%"}).succeeded());
    const bool ended = recordUntil(
        *recorder, [&] { return !recorder->isRecording(); }, 1s);
    EXPECT_FALSE(ended);
    EXPECT_TRUE(recorder->stop());
}

TEST_F(PrivateServerRecorder, DestroyingTheRecorderReleasesTheMicrophone) {
    // Streams of clients, as opposed to the remapping module's own stream.
    auto clientStreams = [&] {
        return server.pactl({"list", "short", "source-outputs"}).output.count("protocol-native");
    };
    ASSERT_EQ(clientStreams(), 1);
    recorder.reset();
    EXPECT_TRUE(waitUntil([&] { return clientStreams() == 0; }, interruptionTimeout));
}

} // namespace
