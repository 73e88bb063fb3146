// How the service behaves when it cannot take more: a full queue, a request past
// its time limit, and no recogniser at all.

#include "Polling.h"
#include "ServiceHttp.h"
#include "ServiceProcess.h"
#include "SharedMedia.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>
#include <httplib.h>

#include <future>

namespace {

constexpr auto replyLimit = std::chrono::seconds(120);
constexpr auto settleLimit = std::chrono::seconds(30);

struct Load {
    int working = -1;
    int waiting = -1;
};

Load loadOf(const ServiceProcess& service) {
    httplib::Client client("127.0.0.1", service.port());
    const auto reply = client.Get("/healthz");
    if (!reply)
        return {};
    const auto object = QJsonDocument::fromJson(QByteArray::fromStdString(reply->body)).object();
    return {object.value("working").toInt(-1), object.value("waiting").toInt(-1)};
}

std::future<httplib::Result> postLater(const ServiceProcess& service, const std::string& body) {
    return std::async(std::launch::async, [port = service.port(), body] {
        httplib::Client client("127.0.0.1", port);
        client.set_read_timeout(replyLimit);
        return client.Post("/api/transcribe", body, "application/json");
    });
}

// All six sentences in one recording: long enough to keep a worker busy for a while.
const std::string& longSpeechBody() {
    static const std::string body = [] {
        std::string all;
        for (const auto& sentence : SharedMedia::sentences())
            all += sentence + ". ";
        return ServiceHttp::body(TestMedia::read(SharedMedia::media().speech(all, "long")));
    }();
    return body;
}

TEST(ServiceLoad, WhenTheQueueIsFullTheNextRequestIsBusyAtOnceAndTheOthersAreAnswered) {
    ServiceProcess service({"--workers", "1", "--queue", "1"});
    const std::string& body = longSpeechBody();

    auto first = postLater(service, body);
    ASSERT_TRUE(Polling::until(settleLimit, [&] { return loadOf(service).working == 1; }));
    auto second = postLater(service, body);
    ASSERT_TRUE(Polling::until(settleLimit, [&] { return loadOf(service).waiting == 1; }));

    httplib::Client client("127.0.0.1", service.port());
    const auto third = client.Post("/api/transcribe", body, "application/json");
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
    EXPECT_EQ(loadOf(service).working, 0);
}

TEST(ServiceLoad, ARequestPastTheTimeLimitIsAbandonedAndItsWorkerFreed) {
    ServiceProcess service({"--workers", "1", "--time-limit", "1"});
    // Speech long enough to need several pieces: the first alone takes the recogniser
    // seconds, so the limit has passed when it looks between pieces.
    std::string all;
    for (int round = 0; round < 3; ++round) {
        for (const auto& sentence : SharedMedia::sentences())
            all += sentence + ". ";
    }
    const auto reply =
        postLater(service,
                  ServiceHttp::body(TestMedia::read(SharedMedia::media().speech(all, "very-long"))))
            .get();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 503);
    EXPECT_TRUE(Polling::until(settleLimit, [&] {
        const Load load = loadOf(service);
        return load.working == 0 && load.waiting == 0;
    }));
}

TEST(ServiceLoad, WithoutASpeechModelEveryRequestIsUnavailable) {
    ServiceProcess service({"--model", "/nonexistent/model"});
    httplib::Client client("127.0.0.1", service.port());
    const auto health = client.Get("/healthz");
    ASSERT_TRUE(health);
    EXPECT_EQ(health->status, 503);
    const auto reply = client.Post("/api/transcribe",
                                   ServiceHttp::body(TestMedia::read(SharedMedia::silenceFile())),
                                   "application/json");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 503);
    // A body that is not the expected JSON is still a bad request.
    const auto bad = client.Post("/api/transcribe", "{}", "application/json");
    ASSERT_TRUE(bad);
    EXPECT_EQ(bad->status, 400);
    EXPECT_EQ(service.stop(), 0) << "a termination request ends it cleanly";
}

} // namespace
