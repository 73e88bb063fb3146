// Floods the real service the way hostile or broken clients would and prints the
// figures the service's README promises (bounded; about half a minute):
//   bench_service_flood [idle connections, default 200] [slow connections, default 50]
// - /healthz latency (median, 95th percentile, worst of 50 probes) while the idle
//   and slow pools are open, the slow ones sending a header byte every 200 ms;
// - the status and the service's resident memory after a 400 MB chunked upload;
// - how long SIGTERM takes while the slow pool still trickles.
#include "ServiceHttp.h"
#include "ServiceProcess.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int probes = 50;
constexpr int perAddress = 50;
constexpr std::size_t uploadBytes = 400u << 20;
constexpr std::size_t chunkBytes = 1u << 20;

double milliseconds(Clock::duration span) {
    return std::chrono::duration<double, std::milli>(span).count();
}

long residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("VmRSS:"))
            return std::stol(line.substr(6));
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    const int idleCount = argc > 1 ? std::stoi(argv[1]) : 200;
    const int slowCount = argc > 2 ? std::stoi(argv[2]) : 50;
    ServiceProcess service({"--workers", "1"});
    const int port = service.port();

    std::vector<std::unique_ptr<ServiceHttp::RawConnection>> idle;
    std::vector<std::unique_ptr<ServiceHttp::RawConnection>> slow;
    for (int i = 0; i < idleCount; ++i)
        idle.push_back(std::make_unique<ServiceHttp::RawConnection>(
            port, ("127.0.1." + std::to_string(1 + i / perAddress)).c_str()));
    for (int i = 0; i < slowCount; ++i)
        slow.push_back(std::make_unique<ServiceHttp::RawConnection>(
            port, ("127.0.2." + std::to_string(1 + i / perAddress)).c_str()));
    std::atomic<bool> trickling = true;
    std::thread trickle([&] {
        const std::string header = "POST /api/transcribe HTTP/1.1\r\nHost: 127.0.0.1\r\n";
        for (std::size_t at = 0; trickling; at = (at + 1) % header.size()) {
            for (auto& connection : slow)
                connection->send(header.substr(at, 1));
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    });

    std::vector<double> latencies;
    for (int i = 0; i < probes; ++i) {
        const auto start = Clock::now();
        const int working = ServiceHttp::health(port, "working").toInt(-1);
        latencies.push_back(working < 0 ? 1e9 : milliseconds(Clock::now() - start));
    }
    std::sort(latencies.begin(), latencies.end());
    std::printf("/healthz with %d idle and %d slow connections: median %.1f ms, p95 %.1f ms, "
                "worst %.1f ms\n",
                idleCount, slowCount, latencies[probes / 2], latencies[probes * 95 / 100],
                latencies.back());

    ServiceHttp::RawConnection upload(port);
    upload.send("POST /api/transcribe HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                "Transfer-Encoding: chunked\r\n\r\n");
    char size[16];
    std::snprintf(size, sizeof size, "%zx\r\n", chunkBytes);
    const std::string chunk = size + std::string(chunkBytes, 'a') + "\r\n";
    for (std::size_t sent = 0; sent < uploadBytes && upload.send(chunk); sent += chunkBytes) {
    }
    std::printf("400 MB chunked upload: status %d, service resident %ld KiB\n",
                ServiceHttp::statusOf(upload.receive(std::chrono::seconds(5)).text),
                residentKiB(service.pid()));

    const auto stopping = Clock::now();
    const int exitCode = service.stop();
    std::printf("SIGTERM with %d slow senders trickling: exit %d after %.0f ms\n", slowCount,
                exitCode, milliseconds(Clock::now() - stopping));
    trickling = false;
    trickle.join();
    return 0;
}
