// How the service behaves when it cannot take more: a full queue, a request past its
// time limit, clients that connect and hold on, and stopping while a client trickles.

#include "ServiceHttp.h"
#include "ServiceProcess.h"
#include "SharedMedia.h"

#include <gtest/gtest.h>

#include <future>
#include <memory>

namespace {

constexpr auto settleLimit = std::chrono::seconds(30);

std::string bodyOf(const std::string& file) {
    return ServiceHttp::body(SharedMedia::read(file));
}

bool load(int port, int working, int waiting) {
    return pollUntil(settleLimit, [&] {
        return ServiceHttp::health(port, "working") == working &&
               ServiceHttp::health(port, "waiting") == waiting;
    });
}

TEST(ServiceLoad, WhenTheQueueIsFullTheNextRequestIsBusyAtOnceAndTheOthersAreAnswered) {
    ServiceProcess service({"--workers", "1", "--queue", "1"});
    // Every sentence in one recording keeps the worker busy for a while.
    std::string all;
    for (const auto& sentence : SharedMedia::sentences())
        all += sentence + ". ";
    const std::string body = bodyOf(SharedMedia::speech(all, "long"));
    const auto post = [&] { return ServiceHttp::post(service.port(), body); };
    auto first = std::async(std::launch::async, post);
    ASSERT_TRUE(load(service.port(), 1, 0));
    auto second = std::async(std::launch::async, post);
    ASSERT_TRUE(load(service.port(), 1, 1));
    EXPECT_EQ(ServiceHttp::status(service.port(), body), 429);
    EXPECT_EQ(first.wait_for(std::chrono::seconds(0)), std::future_status::timeout)
        << "the refusal waited for the worker";
    for (auto* pending : {&first, &second}) {
        const auto reply = pending->get();
        EXPECT_NE(reply ? reply->body.find("the park") : std::string::npos, std::string::npos);
    }
}

TEST(ServiceLoad, ARequestPastTheTimeLimitIsAbandonedAndItsWorkerFreed) {
    ServiceProcess service({"--workers", "1", "--time-limit", "1"});
    // Speech long enough to need several pieces: the first alone takes the recogniser
    // seconds, so the limit has passed when it looks between pieces.
    EXPECT_EQ(ServiceHttp::status(service.port(), bodyOf(SharedMedia::minuteFile())), 503);
    EXPECT_TRUE(load(service.port(), 0, 0));
}

TEST(ServiceLoad, IdleAndSlowPoolsNeitherStallOthersNorOutstayTheirDeadlines) {
    // A pause limit far beyond the header deadline: only the deadline can end the slow ones.
    ServiceProcess service({"--workers", "1", "--idle-timeout", "60"});
    const int port = service.port();
    const auto client = [](int number) { return "127.0.0." + std::to_string(number); };
    // Fifty clients that send half a header from one address, two hundred idle ones from four.
    std::vector<std::unique_ptr<ServiceHttp::RawConnection>> pool;
    for (int i = 0; i < 250; ++i) {
        pool.push_back(std::make_unique<ServiceHttp::RawConnection>(port, client(2 + i / 50)));
        pool.back()->send(i < 50 ? "POST /api/transcribe HTTP/1.1\r\nHost: 1" : "");
    }
    EXPECT_EQ(ServiceHttp::status(port, bodyOf(SharedMedia::silenceFile())), 200);
    for (const auto& connection : pool)
        EXPECT_TRUE(connection->receive(std::chrono::seconds(20)).closed);

    // Per client, then in total, the next connection is refused before it says a word.
    for (int i = 0; i < 512; ++i)
        pool.push_back(std::make_unique<ServiceHttp::RawConnection>(port, client(7 + i / 64)));
    const std::pair<std::string, int> caps[] = {{client(7), 429}, {"127.0.1.1", 503}};
    for (const auto& [from, status] : caps)
        EXPECT_EQ(ServiceHttp::statusOf(
                      ServiceHttp::RawConnection(port, from).receive(std::chrono::seconds(5)).text),
                  status);
}

// A pause limit beyond what stop() waits for: only stopping can end the request
// still arriving.
TEST(ServiceLoad, StopAnswersARequestStillArrivingAndEndsAtOnce) {
    ServiceProcess service({"--workers", "1", "--idle-timeout", "60"});
    ServiceHttp::RawConnection sender(service.port());
    ASSERT_TRUE(sender.send(ServiceHttp::unfinishedPost));
    // Accepted after the sender's, so the sender's connection is open when this answers.
    ASSERT_EQ(ServiceHttp::health(service.port(), "working"), 0);
    EXPECT_EQ(service.stop(), 0) << "the service had to be killed";
    EXPECT_EQ(ServiceHttp::statusOf(sender.receive(std::chrono::seconds(5)).text), 503);
}

} // namespace
