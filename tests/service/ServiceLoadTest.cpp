// How the service behaves when it cannot take more: a full queue and a request
// past its time limit.

#include "Polling.h"
#include "ServiceHttp.h"
#include "ServiceProcess.h"
#include "SharedMedia.h"

#include <gtest/gtest.h>

#include <future>

namespace {

constexpr auto settleLimit = std::chrono::seconds(30);

std::future<httplib::Result> postLater(const ServiceProcess& service, const std::string& body) {
    return std::async(std::launch::async,
                      [port = service.port(), body] { return ServiceHttp::post(port, body); });
}

// The sentences spoken `rounds` times over in one recording.
std::string speechBody(int rounds, const std::string& name) {
    std::string all;
    for (int round = 0; round < rounds; ++round) {
        for (const auto& sentence : SharedMedia::sentences())
            all += sentence + ". ";
    }
    return ServiceHttp::body(TestMedia::read(SharedMedia::media().speech(all, name)));
}

TEST(ServiceLoad, WhenTheQueueIsFullTheNextRequestIsBusyAtOnceAndTheOthersAreAnswered) {
    ServiceProcess service({"--workers", "1", "--queue", "1"});
    // Long enough to keep the worker busy for a while.
    const std::string body = speechBody(1, "long");
    auto first = postLater(service, body);
    ASSERT_TRUE(Polling::until(
        settleLimit, [&] { return ServiceHttp::health(service.port(), "working") == 1; }));
    auto second = postLater(service, body);
    ASSERT_TRUE(Polling::until(
        settleLimit, [&] { return ServiceHttp::health(service.port(), "waiting") == 1; }));

    const auto third = ServiceHttp::post(service.port(), body);
    ASSERT_TRUE(third);
    EXPECT_EQ(third->status, 429);
    EXPECT_EQ(first.wait_for(std::chrono::seconds(0)), std::future_status::timeout)
        << "the refusal waited for the worker";
    for (auto* pending : {&first, &second}) {
        const auto reply = pending->get();
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->status, 200);
        EXPECT_NE(reply->body.find("the park"), std::string::npos) << reply->body;
    }
    EXPECT_EQ(ServiceHttp::health(service.port(), "working"), 0);
}

TEST(ServiceLoad, ARequestPastTheTimeLimitIsAbandonedAndItsWorkerFreed) {
    ServiceProcess service({"--workers", "1", "--time-limit", "1"});
    // Speech long enough to need several pieces: the first alone takes the recogniser
    // seconds, so the limit has passed when it looks between pieces.
    const auto reply = ServiceHttp::post(service.port(), speechBody(3, "very-long"));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 503);
    EXPECT_TRUE(Polling::until(settleLimit, [&] {
        return ServiceHttp::health(service.port(), "working") == 0 &&
               ServiceHttp::health(service.port(), "waiting") == 0;
    }));
}

} // namespace
