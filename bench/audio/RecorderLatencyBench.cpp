// The delays of the recorder a user feels, measured against the desktop's virtual
// microphone (run inside a desktop: tests/harness/in-desktop.sh DIR bench_audio):
// key press to the first captured audio buffer (a slow start clips the first word);
// key release to the start of the upload (the tail after the release, end-of-stream,
// finishing the file in the background and reading it into memory); and the longest
// single recorder call on the main thread while recording, cancelling, and with a
// sound server that never answers (the interface freezes for as long as a call
// waits). Each is reported as median and 95th percentile of 20 runs.
#include "GStreamerRecorder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QUuid>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int runs = 20;
constexpr auto firstBufferTimeout = 5s;
constexpr double recordedSeconds = 2.0;
constexpr auto recordingTimeout = 10s;
// How often the waits look again; small against the delays measured.
constexpr auto pollInterval = 100us;

double percentile95(const std::vector<double>& values) {
    std::vector<double> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    const auto rank = static_cast<std::size_t>(0.95 * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(rank, sorted.size() - 1)];
}

bool pollUntil(const std::function<bool()>& condition, Clock::duration timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(pollInterval);
    }
    return true;
}

// Speech played into the virtual microphone while the release benchmark records, so the
// file it finalises and reads is the size of a real dictation.
struct Speech {
    QTemporaryDir dir;
    QString wav = dir.filePath("speech.wav");
    bool ready = QProcess::execute("espeak-ng", {"-w", wav,
                                                 "This sentence keeps the microphone busy while "
                                                 "the recorder runs, as a dictation would."}) == 0;
};

// A recording folder as the controller makes it, removed with its file afterwards.
struct RecordingFolder {
    QTemporaryDir base;
    QString path =
        base.filePath("wispen-" + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
    bool make() const {
        return QDir().mkdir(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QString recording() const { return path + "/recording.m4a"; }
};

void pressToFirstBuffer(benchmark::State& state) {
    for (auto _ : state) {
        RecordingFolder folder;
        const auto pressed = Clock::now();
        if (!folder.make()) {
            state.SkipWithError("cannot make the recording folder");
            break;
        }
        GStreamerRecorder recorder(folder.recording());
        if (!recorder.prepareToRecord() || !recorder.record()) {
            state.SkipWithError("the recorder did not start");
            break;
        }
        if (!pollUntil([&] { return recorder.hasCapturedAudio(); }, firstBufferTimeout)) {
            state.SkipWithError("no audio arrived");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - pressed).count());
        recorder.stop();
    }
}

void releaseToUploadStart(benchmark::State& state) {
    for (auto _ : state) {
        RecordingFolder folder;
        if (!folder.make()) {
            state.SkipWithError("cannot make the recording folder");
            break;
        }
        static const Speech speech;
        QProcess player;
        if (speech.ready)
            player.start("paplay", {"--device=vmic_sink", speech.wav});
        GStreamerRecorder recorder(folder.recording());
        const bool recorded =
            recorder.record() && pollUntil(
                                     [&] {
                                         recorder.updateMeters();
                                         return recorder.currentTime() >= recordedSeconds;
                                     },
                                     recordingTimeout);
        if (!recorded) {
            state.SkipWithError("the recorder did not record");
            break;
        }
        std::optional<bool> finalised;
        QObject::connect(&recorder, &AudioRecorder::finished,
                         [&](bool complete) { finalised = complete; });
        const auto released = Clock::now();
        recorder.stop();
        pollUntil(
            [&] {
                QCoreApplication::processEvents();
                return finalised.has_value();
            },
            recordingTimeout);
        QFile file(folder.recording());
        const QByteArray audio = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        const auto uploadStarts = Clock::now();
        player.kill();
        player.waitForFinished();
        if (!finalised.value_or(false) || audio.isEmpty()) {
            state.SkipWithError("the recording was not finalised");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(uploadStarts - released).count());
        state.counters["bytes"] = static_cast<double>(audio.size());
    }
}

// A sound server that takes the connection and never answers, as a hung one does.
struct SilentServer {
    QTemporaryDir dir;
    QString path = dir.filePath("native");
    int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool listening = [this] {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray name = QFile::encodeName(path);
        std::copy(name.begin(), name.end(), address.sun_path);
        return ::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
               ::listen(socket, 16) == 0;
    }();
    ~SilentServer() { ::close(socket); }
};

// Runs one call and keeps the longest time any call took.
template <typename Call> auto timed(Clock::duration& longest, Call call) {
    const auto start = Clock::now();
    auto result = call();
    longest = std::max(longest, Clock::now() - start);
    return result;
}

// How a recording ends in mainThreadCalls.
enum Ending { stopped, cancelled, hungServer };

void mainThreadCalls(benchmark::State& state) {
    const auto ending = static_cast<Ending>(state.range(0));
    const SilentServer silent;
    const QByteArray previousServer = qgetenv("PULSE_SERVER");
    if (ending == hungServer)
        qputenv("PULSE_SERVER", "unix:" + QFile::encodeName(silent.path));
    for (auto _ : state) {
        RecordingFolder folder;
        if (!folder.make()) {
            state.SkipWithError("cannot make the recording folder");
            break;
        }
        Clock::duration longest{};
        bool finished = false;
        auto recorder = std::make_unique<GStreamerRecorder>(folder.recording());
        QObject::connect(recorder.get(), &AudioRecorder::finished, [&] { finished = true; });
        // The controller prepares and starts in one turn of the main thread.
        const bool started =
            timed(longest, [&] { return recorder->prepareToRecord() && recorder->record(); });
        if (!started && ending != hungServer) {
            state.SkipWithError("the recorder did not start");
            break;
        }
        pollUntil(
            [&] {
                timed(longest, [&] { return recorder->updateMeters(), true; });
                return recorder->currentTime() >= 0.5 || !recorder->isRecording();
            },
            recordingTimeout);
        if (ending == stopped) {
            timed(longest, [&] { return recorder->stop(), true; });
            pollUntil(
                [&] {
                    timed(longest, [] { return QCoreApplication::processEvents(), true; });
                    return finished;
                },
                recordingTimeout);
        } else {
            timed(longest, [&] { return recorder->discard(), true; });
        }
        timed(longest, [&] { return recorder.reset(), true; });
        state.SetIterationTime(std::chrono::duration<double>(longest).count());
    }
    qputenv("PULSE_SERVER", previousServer);
}

void configure(benchmark::internal::Benchmark* benchmark) {
    benchmark->UseManualTime()
        ->Iterations(1)
        ->Repetitions(runs)
        ->ComputeStatistics("p95", percentile95)
        ->DisplayAggregatesOnly(true)
        ->Unit(benchmark::kMillisecond);
}

BENCHMARK(pressToFirstBuffer)->Apply(configure);
BENCHMARK(releaseToUploadStart)->Apply(configure);
BENCHMARK(mainThreadCalls)
    ->ArgName("stopped0cancelled1hung2")
    ->Arg(stopped)
    ->Arg(cancelled)
    ->Arg(hungServer)
    ->Apply(configure);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    // As the application does at start-up, so the first run is not a cold start.
    preloadGStreamerRecorder();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
