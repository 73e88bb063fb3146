// The two delays of the recorder a user feels, measured against the desktop's virtual
// microphone (run inside a desktop: tests/harness/in-desktop.sh DIR bench_audio):
// key press to the first captured audio buffer (a slow start clips the first word),
// and key release to the start of the upload (end-of-stream, finalising the file and
// reading it into memory). Each is reported as median and 95th percentile of 20 runs.
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
#include <thread>

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
        const auto released = Clock::now();
        const bool finalised = recorder.stop();
        QFile file(folder.recording());
        const QByteArray audio = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        const auto uploadStarts = Clock::now();
        player.kill();
        player.waitForFinished();
        if (!finalised || audio.isEmpty()) {
            state.SkipWithError("the recording was not finalised");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(uploadStarts - released).count());
        state.counters["bytes"] = static_cast<double>(audio.size());
    }
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
