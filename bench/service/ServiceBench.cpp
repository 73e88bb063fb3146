// The bundled transcription service's speed, accuracy and memory:
// - Recognition/engine/recorded: per local engine, real-time factor (processing
//   time over audio length, decoding included), word error rate and load time, one
//   worker, on espeak-ng sentences (six alone, then eighteen in a minute with
//   pauses) and on the spoken-word recordings of
//   pocketsphinx-testdata, both after the application's AAC round trip;
// - Service/clients:N: requests per second and 95th-percentile latency of the real
//   service (default workers) for a five-second clip, N clients sending at once;
// - Memory/engine: peak resident memory of the service with one and two workers,
//   each having recognised, and so the cost of a worker.
#include "AudioDecoder.h"
#include "LocalEngine.h"
#include "ServiceHttp.h"
#include "ServiceOptions.h"
#include "ServiceProcess.h"
#include "SharedMedia.h"
#include "WordErrorRate.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <fstream>
#include <httplib.h>
#include <sys/resource.h>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int requestsPerClient = 4;
constexpr auto replyLimit = std::chrono::seconds(900);
constexpr const char* fiveSecondSentence =
    "please send the final report to my manager before noon on friday if you can";

// Processor time of this process, every thread included.
double processorSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double seconds(Clock::duration span) {
    return std::chrono::duration<double>(span).count();
}

double percentile95(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(0.95 * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(rank, values.size() - 1)];
}

std::vector<std::pair<std::string, std::string>> speechSet(bool recorded) {
    std::vector<std::pair<std::string, std::string>> files;
    if (!recorded) {
        for (std::size_t i = 0; i < SharedMedia::sentences().size(); ++i)
            files.emplace_back(SharedMedia::sentenceFile(i), SharedMedia::sentences()[i]);
        std::string minute;
        for (const auto& sentence : SharedMedia::minuteOfSentences())
            minute += sentence + " ";
        files.emplace_back(SharedMedia::minuteFile(), minute);
        return files;
    }
    int index = 0;
    for (const auto& reference : SharedMedia::testDataRecordings())
        files.emplace_back(
            SharedMedia::encodeWav(reference.wavPath, "recorded" + std::to_string(index++)),
            reference.transcript);
    return files;
}

const std::vector<std::string> engines = {LocalEngine::moonshineBase, LocalEngine::moonshineTiny,
                                          LocalEngine::pocketsphinx};

void Recognition(benchmark::State& state) {
    const std::string& engine = engines.at(static_cast<std::size_t>(state.range(0)));
    const bool recorded = state.range(1) == 1;
    AudioDecoder::initialise();
    const auto files = speechSet(recorded);
    ServiceOptions options;
    options.engine = engine;
    options.workers = 1;
    const auto loading = Clock::now();
    const auto recogniser = LocalEngine::make(options);
    const double loadSec = seconds(Clock::now() - loading);
    if (!recogniser->available()) {
        state.SkipWithError(recogniser->problem().c_str());
        return;
    }
    double audioSec = 0;
    double busySec = 0;
    double processorSec = 0;
    std::size_t errors = 0;
    std::size_t words = 0;
    for (auto _ : state) {
        for (const auto& [path, said] : files) {
            const std::string file = SharedMedia::read(path);
            const auto start = Clock::now();
            const double startProcessor = processorSeconds();
            const auto samples = AudioDecoder::decode(file, Deadline::after(replyLimit));
            const std::string heard =
                recogniser->recognise({file, samples}, Deadline::after(replyLimit));
            busySec += seconds(Clock::now() - start);
            processorSec += processorSeconds() - startProcessor;
            audioSec += static_cast<double>(samples.size()) / AudioDecoder::sampleRateHz;
            errors += WordErrorRate::errors(said, heard);
            words += WordErrorRate::words(said).size();
        }
    }
    state.SetLabel(engine +
                   (recorded ? ", pocketsphinx-testdata" : ", espeak-ng en-us+f5 160 wpm"));
    state.counters["load_s"] = loadSec;
    state.counters["audio_s"] = audioSec / static_cast<double>(state.iterations());
    state.counters["rtf"] = busySec / audioSec;
    // Less sensitive to other programs' load than the clock: processor time of all
    // threads per second of audio. On an idle machine the real-time factor lies
    // between this over the cores used and this itself.
    state.counters["cpu_per_audio_s"] = processorSec / audioSec;
    state.counters["wer_pct"] = 100.0 * static_cast<double>(errors) / static_cast<double>(words);
}
BENCHMARK(Recognition)
    ->ArgNames({"engine", "recorded"})
    ->ArgsProduct({{0, 1, 2}, {0, 1}})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

void Service(benchmark::State& state) {
    const int clients = static_cast<int>(state.range(0));
    static const std::string clip =
        SharedMedia::read(SharedMedia::speech(fiveSecondSentence, "five-seconds"));
    static const std::string body = ServiceHttp::body(clip);
    static ServiceProcess service({"--queue", "16"});

    std::vector<double> latencies;
    std::mutex guard;
    int failures = 0;
    double wallSec = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        std::vector<std::thread> threads;
        for (int c = 0; c < clients; ++c) {
            threads.emplace_back([&] {
                httplib::Client client("127.0.0.1", service.port());
                client.set_read_timeout(replyLimit);
                for (int r = 0; r < requestsPerClient; ++r) {
                    const auto sent = Clock::now();
                    const auto reply = client.Post("/api/transcribe", body, "application/json");
                    std::lock_guard lock(guard);
                    if (!reply || reply->status != 200)
                        ++failures;
                    latencies.push_back(seconds(Clock::now() - sent) * 1000.0);
                }
            });
        }
        for (auto& thread : threads)
            thread.join();
        wallSec += seconds(Clock::now() - start);
    }
    state.counters["clip_s"] =
        static_cast<double>(AudioDecoder::decode(clip, Deadline::after(replyLimit)).size()) /
        AudioDecoder::sampleRateHz;
    state.counters["req_per_s"] = static_cast<double>(latencies.size()) / wallSec;
    state.counters["p95_ms"] = percentile95(latencies);
    state.counters["failed"] = failures;
}
BENCHMARK(Service)->ArgName("clients")->Arg(1)->Arg(2)->Arg(4)->Iterations(1)->UseRealTime()->Unit(
    benchmark::kSecond);

// Peak resident memory of a process in megabytes.
double peakMegabytes(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmHWM:"))
            return std::stod(line.substr(6)) / 1024.0;
    }
    return 0.0;
}

void Memory(benchmark::State& state) {
    const std::string& engine = engines.at(static_cast<std::size_t>(state.range(0)));
    const std::string body = ServiceHttp::body(SharedMedia::read(SharedMedia::sentenceFile(0)));
    // Peak memory once every worker has recognised one recording.
    auto measure = [&](int workers) {
        ServiceProcess service({"--engine", engine, "--workers", std::to_string(workers)});
        std::vector<std::thread> threads;
        for (int w = 0; w < workers; ++w) {
            threads.emplace_back([&] {
                httplib::Client client("127.0.0.1", service.port());
                client.set_read_timeout(replyLimit);
                client.Post("/api/transcribe", body, "application/json");
            });
        }
        for (auto& thread : threads)
            thread.join();
        return peakMegabytes(service.pid());
    };
    double one = 0;
    double two = 0;
    for (auto _ : state) {
        one = measure(1);
        two = measure(2);
    }
    state.SetLabel(engine);
    state.counters["peak_1_worker_MB"] = one;
    state.counters["peak_2_workers_MB"] = two;
    state.counters["per_worker_MB"] = two - one;
}
BENCHMARK(Memory)->ArgName("engine")->Arg(0)->Arg(1)->Arg(2)->Iterations(1)->Unit(
    benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
