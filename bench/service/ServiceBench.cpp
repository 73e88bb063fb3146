// The bundled transcription service's speed, accuracy and memory:
// - Recognition/synthetic and Recognition/recorded: real-time factor (processing
//   time over audio length, decoding included) and word error rate with the open
//   language model, one decoder, on espeak-ng sentences and on the spoken-word
//   recordings of pocketsphinx-testdata, both after the application's AAC round trip;
// - Service/clients:N: requests per second and 95th-percentile latency of the real
//   service (default workers) for a five-second clip, N clients sending at once;
// - MemoryPerWorker: resident memory of the service per loaded worker.
#include "AudioDecoder.h"
#include "PocketSphinxRecogniser.h"
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
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int requestsPerClient = 4;
constexpr auto replyLimit = std::chrono::seconds(120);
constexpr const char* fiveSecondSentence =
    "please send the final report to my manager before noon on friday if you can";

double seconds(Clock::duration span) {
    return std::chrono::duration<double>(span).count();
}

double percentile95(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(0.95 * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(rank, values.size() - 1)];
}

// Resident memory of a process in megabytes.
double residentMegabytes(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmRSS:"))
            return std::stod(line.substr(6)) / 1024.0;
    }
    return 0.0;
}

std::vector<std::pair<std::string, std::string>> speechSet(bool recorded) {
    std::vector<std::pair<std::string, std::string>> files;
    if (!recorded) {
        for (std::size_t i = 0; i < SharedMedia::sentences().size(); ++i)
            files.emplace_back(SharedMedia::sentenceFile(i), SharedMedia::sentences()[i]);
        return files;
    }
    int index = 0;
    for (const auto& reference : TestMedia::testDataRecordings())
        files.emplace_back(
            SharedMedia::media().encodeWav(reference.wavPath, "recorded" + std::to_string(index++)),
            reference.transcript);
    return files;
}

void Recognition(benchmark::State& state) {
    const bool recorded = state.range(0) == 1;
    AudioDecoder::initialise();
    const auto files = speechSet(recorded);
    PocketSphinxRecogniser recogniser(ServiceOptions::defaultModelDir, "", 1);
    if (!recogniser.available()) {
        state.SkipWithError(recogniser.problem().c_str());
        return;
    }
    double audioSec = 0;
    double busySec = 0;
    std::size_t errors = 0;
    std::size_t words = 0;
    for (auto _ : state) {
        for (const auto& [path, said] : files) {
            const std::string file = TestMedia::read(path);
            const auto start = Clock::now();
            const auto samples = AudioDecoder::decode(file, Deadline::after(replyLimit));
            const std::string heard =
                recogniser.recognise({file, samples}, Deadline::after(replyLimit));
            busySec += seconds(Clock::now() - start);
            audioSec += static_cast<double>(samples.size()) / AudioDecoder::sampleRateHz;
            errors += WordErrorRate::errors(said, heard);
            words += WordErrorRate::wordCount(said);
        }
    }
    state.SetLabel(recorded ? "pocketsphinx-testdata" : "espeak-ng en-us+f5 160 wpm");
    state.counters["audio_s"] = audioSec / static_cast<double>(state.iterations());
    state.counters["rtf"] = busySec / audioSec;
    state.counters["wer_pct"] = 100.0 * static_cast<double>(errors) / static_cast<double>(words);
}
BENCHMARK(Recognition)
    ->ArgName("recorded")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

void Service(benchmark::State& state) {
    const int clients = static_cast<int>(state.range(0));
    static const std::string clip =
        TestMedia::read(SharedMedia::media().speech(fiveSecondSentence, "five-seconds"));
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

void MemoryPerWorker(benchmark::State& state) {
    const std::string body = ServiceHttp::body(TestMedia::read(SharedMedia::sentenceFile(0)));
    // Resident memory once every worker has recognised one recording.
    auto measure = [&](int workers) {
        ServiceProcess service({"--workers", std::to_string(workers)});
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
        return residentMegabytes(service.pid());
    };
    double one = 0;
    double three = 0;
    for (auto _ : state) {
        one = measure(1);
        three = measure(3);
    }
    state.counters["rss_1_worker_MB"] = one;
    state.counters["rss_3_workers_MB"] = three;
    state.counters["per_worker_MB"] = (three - one) / 2;
}
BENCHMARK(MemoryPerWorker)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
