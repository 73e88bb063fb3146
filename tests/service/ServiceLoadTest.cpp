// How the service behaves when it cannot take more: a full queue, a request past its
// time limit, clients that connect and hold on, and stopping while a client trickles.

#include "ServiceHttp.h"
#include "ServiceProcess.h"
#include "SharedMedia.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>

namespace {

constexpr auto settleLimit = std::chrono::seconds(30);

// The sentences spoken `rounds` times over in one recording.
std::string speechBody(int rounds, const std::string& name) {
    std::string all;
    for (int round = 0; round < rounds; ++round) {
        for (const auto& sentence : SharedMedia::sentences())
            all += sentence + ". ";
    }
    return ServiceHttp::body(TestMedia::read(SharedMedia::media().speech(all, name)));
}

bool load(int port, int working, int waiting) {
    return pollUntil(settleLimit, [&] {
        return ServiceHttp::health(port, "working") == working &&
               ServiceHttp::health(port, "waiting") == waiting;
    });
}

TEST(ServiceLoad, WhenTheQueueIsFullTheNextRequestIsBusyAtOnceAndTheOthersAreAnswered) {
    ServiceProcess service({"--workers", "1", "--queue", "1"});
    // Long enough to keep the worker busy for a while.
    const std::string body = speechBody(1, "long");
    const auto post = [&] { return ServiceHttp::post(service.port(), body); };
    auto first = std::async(std::launch::async, post);
    ASSERT_TRUE(load(service.port(), 1, 0));
    auto second = std::async(std::launch::async, post);
    ASSERT_TRUE(load(service.port(), 1, 1));
    const auto third = post();
    EXPECT_EQ(third ? third->status : 0, 429);
    EXPECT_EQ(first.wait_for(std::chrono::seconds(0)), std::future_status::timeout)
        << "the refusal waited for the worker";
    for (auto* pending : {&first, &second}) {
        const auto reply = pending->get();
        ASSERT_TRUE(reply);
        EXPECT_NE(reply->body.find("the park"), std::string::npos) << reply->body;
    }
}

TEST(ServiceLoad, ARequestPastTheTimeLimitIsAbandonedAndItsWorkerFreed) {
    ServiceProcess service({"--workers", "1", "--time-limit", "1"});
    // Speech long enough to need several pieces: the first alone takes the recogniser
    // seconds, so the limit has passed when it looks between pieces.
    const auto reply = ServiceHttp::post(service.port(), speechBody(3, "very-long"));
    EXPECT_EQ(reply ? reply->status : 0, 503);
    EXPECT_TRUE(load(service.port(), 0, 0));
}

using Pool = std::vector<std::unique_ptr<ServiceHttp::RawConnection>>;

// `count` connections from loopback address `from`, each having sent `bytes`.
void open(Pool& pool, int port, int count, const std::string& from, const std::string& bytes) {
    for (int i = 0; i < count; ++i) {
        pool.push_back(std::make_unique<ServiceHttp::RawConnection>(port, from.c_str()));
        pool.back()->send(bytes);
    }
}

TEST(ServiceLoad, IdleAndSlowPoolsNeitherStallOthersNorOutstayTheirDeadlines) {
    // A pause limit far beyond the header deadline: only the deadline can end the slow ones.
    ServiceProcess service({"--workers", "1", "--idle-timeout", "60"});
    const int port = service.port();
    Pool idle;
    Pool slow;
    for (int client = 2; client < 6; ++client)
        open(idle, port, 50, "127.0.0." + std::to_string(client), "");
    open(slow, port, 50, "127.0.0.6", "POST /api/transcribe HTTP/1.1\r\nHost: 1");

    EXPECT_EQ(ServiceHttp::health(port, "working"), 0);
    const auto reply =
        ServiceHttp::post(port, ServiceHttp::body(TestMedia::read(SharedMedia::silenceFile())));
    EXPECT_EQ(reply ? reply->status : 0, 200);
    for (const auto& connection : slow)
        EXPECT_TRUE(connection->receive(std::chrono::seconds(20)).closed);

    // Per client, then in total, the next connection is refused before it says a word.
    Pool full;
    for (int client = 7; client < 15; ++client)
        open(full, port, 64, "127.0.0." + std::to_string(client), "");
    const std::pair<const char*, int> caps[] = {{"127.0.0.7", 429}, {"127.0.1.1", 503}};
    for (const auto& [from, status] : caps) {
        ServiceHttp::RawConnection refused(port, from);
        EXPECT_EQ(ServiceHttp::statusOf(refused.receive(std::chrono::seconds(5)).text), status);
    }
}

TEST(ServiceLoad, StopAnswersATricklingSenderAndEndsAtOnce) {
    ServiceProcess service({"--workers", "1"});
    const std::string body = ServiceHttp::body(TestMedia::read(SharedMedia::silenceFile()));
    ServiceHttp::RawConnection sender(service.port());
    sender.send(ServiceHttp::postHeaders(body.size()));
    std::atomic<bool> answered = false;
    auto trickle = std::async(std::launch::async, [&] {
        for (std::size_t at = 0; at < body.size() && !answered; ++at) {
            sender.send(body.substr(at, 1));
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    });
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_EQ(service.stop(), 0) << "the service had to be killed";
    EXPECT_EQ(ServiceHttp::statusOf(sender.receive(std::chrono::seconds(5)).text), 503);
    answered = true;
}

} // namespace
