// The GStreamer recorder against real sound servers: the desktop's PulseAudio with its
// virtual microphone, a replaced input, and a private PulseAudio per test for unplugging
// the microphone, freezing or stopping the server.
#include "GStreamerRecorder.h"
#include "WaitUntil.h"

#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <numeric>
#include <sys/stat.h>

using namespace std::chrono_literals;

namespace {

constexpr auto firstAudioTimeout = 5s;
constexpr auto interruptionTimeout = 3s;
// Far below the half minute a hung sound server makes its clients wait.
constexpr auto hangBound = 10s;

// Sets an environment variable until the returned guard goes, then restores it.
auto setVariable(const char* name, const QByteArray& value) {
    const QByteArray previous = qgetenv(name);
    qputenv(name, value);
    return qScopeGuard([=] { previous.isNull() ? qunsetenv(name) : qputenv(name, previous); });
}

// A PulseAudio of the test's own, with a virtual microphone "vmic" fed through the sink
// "vmic_sink", that a test may unplug, freeze or stop.
struct PrivateSoundServer {
    PrivateSoundServer() {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"XDG_RUNTIME_DIR", "PULSE_RUNTIME_PATH", "PULSE_STATE_PATH"})
            environment.insert(name, dir.path());
        // Off the session bus: the desktop's server already holds its well-known name there.
        environment.remove("DBUS_SESSION_BUS_ADDRESS");
        server.setProcessEnvironment(environment);
        server.setStandardErrorFile(QProcess::nullDevice());
        server.start(
            "pulseaudio",
            {"-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no", "-L",
             "module-native-protocol-unix auth-anonymous=1 socket=" + dir.filePath("native"), "-L",
             "module-null-sink sink_name=vmic_sink", "-L",
             "module-remap-source master=vmic_sink.monitor source_name=vmic"});
        ready = waitUntil([this] { return pactl({"info"}).has_value(); }, 15s) &&
                pactl({"set-default-source", "vmic"});
        // A silent stream keeps the null sink running, as on the desktop, so the first
        // buffer comes in tens of milliseconds.
        keepAlive.start("pacat", {"--server=" + address(), "--playback", "--device=vmic_sink",
                                  "--latency-msec=20", "/dev/zero"});
    }
    ~PrivateSoundServer() {
        for (QProcess* process : {&keepAlive, &server})
            process->kill(), process->waitForFinished();
    }
    // SIGSTOP freezes the server, SIGKILL ends it as a crash would.
    void signal(int number) {
        if (const qint64 pid = server.processId())
            ::kill(static_cast<pid_t>(pid), number);
    }
    QString address() const { return "unix:" + dir.filePath("native"); }
    std::optional<QString> pactl(const QStringList& arguments) const {
        return runTool("pactl", QStringList{"--server=" + address()} + arguments);
    }

    QTemporaryDir dir;
    QProcess server, keepAlive;
    bool ready = false;
};

// Keeps refreshing the meters, as the controller's meter tick does, until `condition` holds.
bool recordUntil(GStreamerRecorder& recorder, std::chrono::milliseconds timeout,
                 const std::function<bool()>& condition) {
    return waitUntil([&] { return recorder.updateMeters(), condition(); }, timeout);
}

// Stops the recording and waits until its file is finished; true when it is complete.
bool finish(AudioRecorder& recorder) {
    QSignalSpy finished(&recorder, &AudioRecorder::finished);
    recorder.stop();
    return finished.wait(10000) && finished.at(0).at(0).toBool();
}

QString discover(const QString& path) {
    return runTool("gst-discoverer-1.0", {"-v", path}).value_or("");
}

// A figure from gst-discoverer's report, such as "Bitrate" or "Duration" (h:mm:ss.s);
// 0 when it is missing.
double figure(const QString& report, const QString& label) {
    double value = 0;
    const auto match = QRegularExpression(label + ":\\s*([0-9.:]+)").match(report);
    for (const QString& part : match.captured(1).split(':'))
        value = value * 60 + part.toDouble();
    return value;
}

// Which 10 ms windows of a recording are louder than -30 dBFS.
std::vector<bool> loudWindows(const QString& path) {
    QFile raw(path + ".raw");
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

// A tone played into the desktop's microphone, released the moment it has been played.
TEST(RecordedTone, IsAnOwnerOnlyAacFileThatKeepsTheSoundEndingAtTheReleaseAndFreesTheMicrophone) {
    QTemporaryDir dir;
    const QString tone = dir.filePath("tone.wav"), path = dir.filePath("recording.m4a");
    ASSERT_TRUE(runTool("sox", {"-n", "-r", "48000", "-c", "1", tone, "synth", "0.6", "sine", "440",
                                "vol", "0.5"}));
    GStreamerRecorder recorder(path);
    // Owner-only however permissive the umask, and only once recording starts.
    const auto umask = qScopeGuard([previous = ::umask(0)] { ::umask(previous); });
    ASSERT_TRUE(recorder.prepareToRecord() && recorder.prepareToRecord());
    EXPECT_FALSE(QFile::exists(path));
    ASSERT_TRUE(recorder.record());
    EXPECT_EQ(QFile::permissions(path),
              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    ASSERT_TRUE(
        recordUntil(recorder, firstAudioTimeout, [&] { return recorder.hasCapturedAudio(); }));
    // The server reports every change of our stream; only a move to another device counts.
    const auto streams = [] {
        const auto list = runTool("pactl", {"list", "short", "source-outputs"});
        return list.value_or("").split('\n').filter("protocol-native");
    };
    ASSERT_EQ(streams().size(), 1);
    const QString stream = streams()[0].section('\t', 0, 0);
    ASSERT_TRUE(runTool("pactl", {"set-source-output-volume", stream, "99%"}));
    QProcess player;
    player.start("paplay", {"--device=vmic_sink", tone});
    // The player ends once the server has played its last sample: release right then.
    ASSERT_TRUE(recordUntil(recorder, 10s, [&] { return player.state() == QProcess::NotRunning; }));
    EXPECT_TRUE(recorder.isRecording());
    ASSERT_TRUE(finish(recorder));
    // Once the recording is finished, the microphone is free again.
    EXPECT_TRUE(waitUntil([&] { return streams().isEmpty(); }, 3s));

    const QString report = discover(path);
    EXPECT_TRUE(report.contains("ISO MP4/M4A") && report.contains("MPEG-4 AAC"))
        << report.toStdString();
    EXPECT_EQ(figure(report, "Sample rate"), 24000);
    EXPECT_EQ(figure(report, "Channels"), 1);
    // All of the tone, then the moment after the release that was still on its way.
    const std::vector<bool> loud = loudWindows(path);
    EXPECT_GE(std::count(loud.begin(), loud.end(), true), 57);
    EXPECT_GE(std::find(loud.rbegin(), loud.rend(), true) - loud.rbegin(), 5);
}

TEST(ReplacedSource, IsMeteredEncodedAt64KbitPerSecondAndEndsByItselfOrRightAfterTheRelease) {
    // Uniform noise at 0.3 of full scale has an RMS of 0.173, about -15.2 dB, and uses
    // every bit the encoder may spend, so the file shows its exact rate (the encoder's own
    // default would come out near 69 kbit/s); 100 buffers of 1024 samples at the 24 kHz
    // it settles on last 4.3 s.
    const auto source =
        setVariable(GStreamerRecorder::sourceVariable,
                    "audiotestsrc is-live=true wave=white-noise volume=0.3 num-buffers=100");
    QTemporaryDir dir;
    GStreamerRecorder recorder(dir.filePath("recording.m4a"));
    EXPECT_EQ(recorder.averagePower(0), -160.0f);
    ASSERT_TRUE(recorder.record());
    ASSERT_TRUE(recordUntil(recorder, 3s, [&] { return recorder.averagePower(0) > -100; }));
    EXPECT_NEAR(recorder.averagePower(0), -15.23, 0.5);
    EXPECT_EQ(recorder.averagePower(1), -160.0f);
    // Longer than an input may take to deliver its first buffer: steady input is no stall.
    ASSERT_TRUE(recordUntil(recorder, 7s, [&] { return recorder.currentTime() >= 3.5; }));
    EXPECT_TRUE(recorder.isRecording());
    EXPECT_TRUE(
        recordUntil(recorder, interruptionTimeout, [&] { return !recorder.isRecording(); }));
    // What did arrive is still a complete file, as long as the recorder said.
    EXPECT_TRUE(finish(recorder));
    const QString report = discover(dir.filePath("recording.m4a"));
    EXPECT_NEAR(figure(report, "Duration"), recorder.currentTime(), 0.3);
    EXPECT_NEAR(figure(report, "Bitrate"), 64000, 64000 * 0.05);
    // Stopped while the input runs on, it ends with the moment after the release, not later.
    GStreamerRecorder stopped(dir.filePath("stopped.m4a"));
    ASSERT_TRUE(stopped.record());
    ASSERT_TRUE(recordUntil(stopped, 3s, [&] { return stopped.currentTime() >= 0.5; }));
    ASSERT_TRUE(finish(stopped));
    // The input's time at the release, plus a tenth of a second still on its way: a file
    // that ran on until the stream was cut off would be half a second longer.
    EXPECT_LT(figure(discover(dir.filePath("stopped.m4a")), "Duration"),
              stopped.currentTime() + 0.4);
}

TEST(Recorder, InputThatCannotStartMeansNoRecordingAndNoFile) {
    QTemporaryDir dir;
    PrivateSoundServer hung;
    ASSERT_TRUE(hung.ready);
    hung.signal(SIGSTOP);
    const struct {
        const char* name;
        const char* variable;
        QByteArray value;
        const char* file = "recording.m4a";
    } cases[] = {
        {"no sound server", "PULSE_SERVER", QFile::encodeName("unix:" + dir.filePath("none"))},
        {"hung sound server", "PULSE_SERVER", hung.address().toUtf8()},
        {"unusable source", GStreamerRecorder::sourceVariable, "nosuchelement ! fakesink"},
        {"missing folder", GStreamerRecorder::sourceVariable, "", "gone/recording.m4a"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto variable = setVariable(c.variable, c.value);
        const QString path = dir.filePath(c.file);
        GStreamerRecorder recorder(path);
        const auto started = std::chrono::steady_clock::now();
        // Refused at once, or (a slow answer) a recording that ends without audio.
        if (recorder.record()) {
            EXPECT_TRUE(
                recordUntil(recorder, firstAudioTimeout, [&] { return !recorder.isRecording(); }));
        }
        EXPECT_LT(std::chrono::steady_clock::now() - started, hangBound);
        EXPECT_FALSE(finish(recorder));
        recorder.discard();
        EXPECT_FALSE(QFile::exists(path));
    }
}

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
        PrivateSoundServer server;
        QTemporaryDir dir;
        auto recorder = std::make_unique<GStreamerRecorder>(dir.filePath("recording.m4a"));
        {
            const auto address = setVariable("PULSE_SERVER", server.address().toUtf8());
            ASSERT_TRUE(server.ready && recorder->record());
        }
        ASSERT_TRUE(recordUntil(*recorder, firstAudioTimeout,
                                [&] { return recorder->hasCapturedAudio(); }));
        if (c.signal)
            server.signal(c.signal);
        else
            ASSERT_TRUE(server.pactl(c.pactl));
        EXPECT_TRUE(
            recordUntil(*recorder, interruptionTimeout, [&] { return !recorder->isRecording(); }));
        // A stalled input never passes end-of-stream on, and a hung server makes every
        // request wait half a minute: stopping and dropping the recorder wait for neither.
        const auto started = std::chrono::steady_clock::now();
        const bool finalised = finish(*recorder);
        recorder.reset();
        EXPECT_LT(std::chrono::steady_clock::now() - started, hangBound);
        if (c.finalises) {
            EXPECT_TRUE(finalised);
            EXPECT_GT(figure(discover(dir.filePath("recording.m4a")), "Duration"), 0);
        }
    }
}

} // namespace
