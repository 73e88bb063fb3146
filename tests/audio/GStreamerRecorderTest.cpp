// The GStreamer recorder against real sound servers: the desktop's PulseAudio with its
// virtual microphone for recordings, and a private PulseAudio per test for unplugging
// the microphone, freezing or stopping the server.
#include "GStreamerRecorder.h"
#include "SoundServer.h"
#include "WaitUntil.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSignalSpy>
#include <algorithm>
#include <csignal>
#include <gtest/gtest.h>
#include <numeric>
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

// Keeps refreshing the meters, as the controller's meter tick does, until `condition` holds.
bool recordUntil(GStreamerRecorder& recorder, const std::function<bool()>& condition,
                 std::chrono::milliseconds timeout) {
    return waitUntil([&] { return recorder.updateMeters(), condition(); }, timeout);
}

// Stops the recording and waits until its file is finished; true when it is complete.
bool finish(AudioRecorder& recorder) {
    QSignalSpy finished(&recorder, &AudioRecorder::finished);
    recorder.stop();
    return finished.wait(10000) && finished.at(0).at(0).toBool();
}

mode_t modeOf(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

QString discover(const QString& path) {
    return runTool("gst-discoverer-1.0", {"-v", path}).value_or("");
}

// A figure from gst-discoverer's report, such as "Bitrate" or "Duration" (h:mm:ss.s).
std::optional<double> figure(const QString& report, const QString& label) {
    const auto match =
        QRegularExpression("^\\s*" + label + ":\\s*([0-9.:]+)", QRegularExpression::MultilineOption)
            .match(report);
    if (!match.hasMatch())
        return std::nullopt;
    double value = 0;
    for (const QString& part : match.captured(1).split(':'))
        value = value * 60 + part.toDouble();
    return value;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

TEST(RecordedSpeech, IsOwnerOnlyAacAt24kHzMonoWithLevelsTenTimesASecondFollowingTheSpeech) {
    QTemporaryDir voice;
    const QString wav = voice.filePath("speech.wav");
    ASSERT_TRUE(runTool("espeak-ng", {"-w", wav,
                                      "Please write down this short sentence, "
                                      "then read it back to me slowly."}));
    Folder folder;
    GStreamerRecorder recorder(folder.recording());
    // Owner-only however permissive the umask, and only once recording starts.
    const mode_t previousUmask = ::umask(0);
    const bool prepared = recorder.prepareToRecord();
    const bool fileWhilePrepared = QFileInfo::exists(folder.recording());
    const bool started = recorder.record();
    ::umask(previousUmask);
    ASSERT_TRUE(prepared);
    EXPECT_FALSE(fileWhilePrepared);
    ASSERT_TRUE(started);
    EXPECT_EQ(modeOf(folder.recording()), 0600u);
    EXPECT_EQ(modeOf(folder.dir.path()), 0700u); // the folder is the controller's; left as it was
    ASSERT_TRUE(recordUntil(
        recorder, [&] { return recorder.hasCapturedAudio(); }, firstAudioTimeout));

    struct Reading {
        qint64 atMs;
        float power;
        bool speaking;
    };
    std::vector<Reading> readings;
    QElapsedTimer clock;
    clock.start();
    const auto sampleUntil = [&](bool speaking, const std::function<bool()>& done) {
        waitUntil(
            [&] {
                recorder.updateMeters();
                readings.push_back({clock.elapsed(), recorder.averagePower(0), speaking});
                return done();
            },
            30s);
    };
    const auto forMs = [&](qint64 ms) {
        return [&clock, until = clock.elapsed() + ms] { return clock.elapsed() >= until; };
    };
    sampleUntil(false, forMs(silenceBeforeSpeechMs));
    QProcess player;
    player.start("paplay", {"--device=vmic_sink", wav});
    ASSERT_TRUE(player.waitForStarted());
    sampleUntil(true, [&] { return player.state() == QProcess::NotRunning; });
    sampleUntil(false, forMs(silenceAfterSpeechMs));
    ASSERT_TRUE(finish(recorder));
    EXPECT_EQ(modeOf(folder.recording()), 0600u);

    const QString report = discover(folder.recording());
    EXPECT_TRUE(report.contains("ISO MP4/M4A")) << report.toStdString();
    EXPECT_TRUE(report.contains("MPEG-4 AAC")) << report.toStdString();
    EXPECT_EQ(figure(report, "Sample rate"), 24000);
    EXPECT_EQ(figure(report, "Channels"), 1);
    // The encoder's rate is an average: the pauses around the speech cost little.
    const double bitRate = figure(report, "Bitrate").value_or(0);
    EXPECT_GT(bitRate, 64000 * 0.6);
    EXPECT_LT(bitRate, 64000 * 1.05);
    // The file holds as much audio as the test heard.
    EXPECT_NEAR(figure(report, "Duration").value_or(0), readings.back().atMs / 1000.0, 0.5);

    // While speech plays every reading differs from the one before, so the intervals
    // between changes are the intervals between level messages.
    std::vector<double> intervals, silence, speech;
    std::optional<Reading> changed;
    for (const Reading& reading : readings) {
        if (reading.atMs > 200)
            (reading.speaking ? speech : silence).push_back(reading.power);
        if (!reading.speaking || (changed && reading.power == changed->power))
            continue;
        if (changed)
            intervals.push_back(static_cast<double>(reading.atMs - changed->atMs));
        changed = reading;
    }
    ASSERT_GT(intervals.size(), 10u);
    EXPECT_NEAR(median(intervals), 100, 25);
    ASSERT_FALSE(silence.empty());
    ASSERT_FALSE(speech.empty());
    EXPECT_GT(*std::max_element(speech.begin(), speech.end()), -40.0);
    EXPECT_LT(*std::max_element(silence.begin(), silence.end()), -80.0);
    EXPECT_GT(median(speech), median(silence) + 30.0);
}

// Which 10 ms windows of a recording are louder than -30 dBFS.
std::vector<bool> loudWindows(const QString& path) {
    QTemporaryDir dir;
    QFile raw(dir.filePath("decoded.raw"));
    runTool("gst-launch-1.0",
            {"-q", "filesrc", "location=" + path, "!", "decodebin", "!", "audioconvert", "!",
             "audio/x-raw,format=S16LE", "!", "filesink", "location=" + raw.fileName()});
    const QByteArray bytes = raw.open(QIODevice::ReadOnly) ? raw.readAll() : QByteArray();
    const auto* samples = reinterpret_cast<const qint16*>(bytes.constData());
    std::vector<bool> loud;
    for (const auto* w = samples; w + 240 <= samples + bytes.size() / 2; w += 240)
        loud.push_back(std::inner_product(w, w + 240, w, 0.0) / 240 > 1036.0 * 1036.0);
    return loud;
}

TEST(RecordedTone, EndingAtTheReleaseIsInTheRecording) {
    QTemporaryDir dir;
    const QString tone = dir.filePath("tone.wav");
    ASSERT_TRUE(runTool("sox", {"-n", "-r", "48000", "-c", "1", tone, "synth", "0.6", "sine", "440",
                                "vol", "0.5"}));
    Folder folder;
    GStreamerRecorder recorder(folder.recording());
    ASSERT_TRUE(recorder.record());
    ASSERT_TRUE(recordUntil(
        recorder, [&] { return recorder.hasCapturedAudio(); }, firstAudioTimeout));
    QProcess player;
    player.start("paplay", {"--device=vmic_sink", tone});
    // The player ends once the server has played its last sample: release right then.
    ASSERT_TRUE(recordUntil(
        recorder, [&] { return player.state() == QProcess::NotRunning; }, 10s));
    ASSERT_TRUE(finish(recorder));
    // All of the tone, then the moment after the release that was still on its way.
    const std::vector<bool> loud = loudWindows(folder.recording());
    const auto last = std::find(loud.rbegin(), loud.rend(), true) - loud.rbegin();
    EXPECT_GE(std::count(loud.begin(), loud.end(), true), 57);
    EXPECT_GE(last, 5);
}

class Recorder : public testing::Test {
protected:
    Folder folder;
};

TEST_F(Recorder, InputThatCannotStartMeansNoRecordingAndNoFile) {
    PrivateSoundServer silent, hung;
    ASSERT_TRUE(silent.start(PrivateSoundServer::Input::none));
    ASSERT_TRUE(hung.start());
    hung.signal(SIGSTOP);
    const struct {
        const char* name;
        const char* variable;
        QByteArray value;
        QString path;
    } cases[] = {
        {"no sound server", "PULSE_SERVER",
         QFile::encodeName("unix:" + folder.dir.filePath("none")), folder.recording()},
        {"no input device", "PULSE_SERVER", silent.address().toUtf8(), folder.recording()},
        {"hung sound server", "PULSE_SERVER", hung.address().toUtf8(), folder.recording()},
        {"unusable source", GStreamerRecorder::sourceVariable, "nosuchelement ! fakesink",
         folder.recording()},
        {"missing folder", nullptr, {}, folder.dir.filePath("gone/recording.m4a")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<ScopedEnvironment> environment;
        if (c.variable)
            environment.emplace(c.variable, c.value);
        GStreamerRecorder recorder(c.path);
        QElapsedTimer clock;
        clock.start();
        // Refused at once, or (a slow answer) a recording that ends without audio.
        if (recorder.record()) {
            EXPECT_TRUE(recordUntil(
                recorder, [&] { return !recorder.isRecording(); }, firstAudioTimeout));
        }
        EXPECT_LT(clock.elapsed(), hangBoundMs);
        EXPECT_FALSE(recorder.hasCapturedAudio());
        EXPECT_FALSE(finish(recorder));
        recorder.discard();
        EXPECT_FALSE(QFileInfo::exists(c.path));
    }
}

TEST_F(Recorder, ReplacedSourceIsMeteredInDecibelsOfFullScaleAndMayEndByItself) {
    // A sine at half of full scale has an RMS of 0.354, about -9 dB; 60 buffers of 1024
    // samples last well over a second.
    const ScopedEnvironment source(GStreamerRecorder::sourceVariable,
                                   "audiotestsrc is-live=true wave=sine volume=0.5 num-buffers=60");
    GStreamerRecorder recorder(folder.recording());
    EXPECT_EQ(recorder.averagePower(0), -160.0f);
    ASSERT_TRUE(recorder.record());
    ASSERT_TRUE(recordUntil(
        recorder, [&] { return recorder.averagePower(0) > -100; }, 3s));
    EXPECT_NEAR(recorder.averagePower(0), -9.03, 0.5);
    EXPECT_EQ(recorder.averagePower(1), -160.0f);
    ASSERT_TRUE(recordUntil(
        recorder, [&] { return recorder.currentTime() >= 0.5; }, 3s));
    const double before = recorder.currentTime();
    EXPECT_TRUE(recordUntil(
        recorder, [&] { return !recorder.isRecording(); }, interruptionTimeout));
    // What did arrive is still a complete file, as long as the recorder said.
    EXPECT_TRUE(finish(recorder));
    EXPECT_GE(recorder.currentTime(), before);
    EXPECT_NEAR(figure(discover(folder.recording()), "Duration").value_or(0),
                recorder.currentTime(), 0.3);
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
    ASSERT_TRUE(finish(recorder));
    EXPECT_NEAR(figure(discover(folder.recording()), "Bitrate").value_or(0), 64000, 64000 * 0.05);
}

// A recording from a private sound server that the test may disturb.
struct PrivateRecording {
    PrivateSoundServer server;
    Folder folder;
    std::unique_ptr<GStreamerRecorder> recorder;

    // Starts the server, then records from it until audio arrives.
    bool start() {
        if (!server.start())
            return false;
        const ScopedEnvironment address("PULSE_SERVER", server.address().toUtf8());
        recorder = std::make_unique<GStreamerRecorder>(folder.recording());
        return recorder->record() &&
               recordUntil(
                   *recorder, [&] { return recorder->hasCapturedAudio(); }, firstAudioTimeout);
    }
    bool endsWithin(std::chrono::milliseconds timeout) {
        return recordUntil(
            *recorder, [&] { return !recorder->isRecording(); }, timeout);
    }
};

TEST(PrivateServerRecording, InterruptionEndsItAndNeverHoldsUpTheCaller) {
    const struct {
        const char* name;
        QStringList pactl; // or, when empty, a signal to the server
        int signal;
        // Whether the file must still be finalised (the input stalls rather than fails).
        bool finalises;
    } cases[] = {
        // The sound server moves the stream to another source instead of failing it.
        {"unplugged microphone", {"unload-module", "module-remap-source"}, 0, false},
        {"stopped sound server", {}, SIGKILL, false},
        {"suspended microphone", {"suspend-source", "vmic", "1"}, 0, true},
        {"hung sound server", {}, SIGSTOP, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PrivateRecording recording;
        ASSERT_TRUE(recording.start());
        if (c.signal)
            recording.server.signal(c.signal);
        else
            ASSERT_TRUE(recording.server.pactl(c.pactl));
        EXPECT_TRUE(recording.endsWithin(interruptionTimeout));
        // A stalled input never passes end-of-stream on, and a hung server makes every
        // request wait half a minute: stopping and dropping the recorder wait for neither.
        QElapsedTimer clock;
        clock.start();
        const bool finalised = finish(*recording.recorder);
        recording.recorder.reset();
        EXPECT_LT(clock.elapsed(), hangBoundMs);
        if (c.finalises) {
            EXPECT_TRUE(finalised);
            EXPECT_TRUE(figure(discover(recording.folder.recording()), "Duration").has_value());
        }
    }
}

TEST(PrivateServerRecording, VolumeChangeIsNotAnInterruption) {
    // The server reports every change of the stream; only a move to another device counts.
    PrivateRecording recording;
    ASSERT_TRUE(recording.start());
    const QString stream = recording.server.pactl({"list", "short", "source-outputs"})
                               .value_or("")
                               .section('\t', 0, 0);
    ASSERT_TRUE(recording.server.pactl({"set-source-output-volume", stream, "50%"}));
    EXPECT_FALSE(recording.endsWithin(1s));
    EXPECT_TRUE(finish(*recording.recorder));
}

TEST(PrivateServerRecording, DestroyingTheRecorderReleasesTheMicrophone) {
    PrivateRecording recording;
    ASSERT_TRUE(recording.start());
    // Streams of clients, as opposed to the remapping module's own stream.
    const auto clientStreams = [&] {
        return recording.server.pactl({"list", "short", "source-outputs"})
            .value_or("")
            .count("protocol-native");
    };
    ASSERT_EQ(clientStreams(), 1);
    recording.recorder.reset();
    EXPECT_TRUE(waitUntil([&] { return clientStreams() == 0; }, interruptionTimeout));
}

} // namespace
