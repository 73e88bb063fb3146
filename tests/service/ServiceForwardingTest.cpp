// The forwarding recogniser against an OpenAI-compatible speech server run by the
// test on loopback: what it sends, and how the upstream's answers come back.

#include "ServiceHttp.h"
#include "ServiceProcess.h"
#include "SharedMedia.h"
#include "TestHttpServer.h"

#include <gtest/gtest.h>

namespace {

using Stall = TestHttpServer::Stall;

std::string silence() {
    return ServiceHttp::body(TestMedia::read(SharedMedia::silenceFile()));
}

// The status `service` answers for silence.
int statusFor(ServiceProcess& service) {
    const auto reply = ServiceHttp::post(service.port(), silence());
    return reply ? reply->status : 0;
}

std::string forwardTo(const TestHttpServer& upstream) {
    return upstream.baseUrl().toString().toStdString() + "/base/";
}

TEST(ServiceForwarding, TheRecordingGoesUpstreamAsItCameAndTheAnswersMapToStatuses) {
    TestHttpServer upstream;
    ServiceProcess service({"--forward", forwardTo(upstream), "--forward-model", "tiny-model"},
                           {{"WISPEN_FORWARD_API_KEY", "test-key-123"}});
    upstream.reply({200, R"({"text":"  forwarded words \n"})"});
    const std::string audio = TestMedia::read(SharedMedia::sentenceFile(5));
    const auto reply = ServiceHttp::post(service.port(), ServiceHttp::body(audio));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->body, R"({"text":"forwarded words"})");
    ASSERT_EQ(upstream.requestCount(), 1);
    const auto sent = upstream.requests()[0];
    EXPECT_EQ(sent.path, "/base/v1/audio/transcriptions");
    EXPECT_EQ(sent.header("Authorization"), "Bearer test-key-123");
    EXPECT_TRUE(
        sent.body.contains("\nrecording.m4a\naudio/mp4\n" + QByteArray::fromStdString(audio)));
    EXPECT_TRUE(sent.body.contains("model\n\n\ntiny-model\n")) << sent.body.left(200).toStdString();

    // Undecodable audio never reaches upstream.
    const auto refused =
        ServiceHttp::post(service.port(), ServiceHttp::body(std::string(500, 'x')));
    EXPECT_EQ(refused ? refused->status : 0, 422);
    EXPECT_EQ(upstream.requestCount(), 1);

    const std::tuple<int, QByteArray, int> cases[] = {
        {429, R"({"error":"slow down"})", 429},
        {500, "", 503},
        {400, R"({"error":"bad"})", 502},
        {200, R"({"transcript":"wrong member"})", 502},
    };
    for (const auto& [upstreamStatus, answer, expected] : cases) {
        upstream.reply({upstreamStatus, answer});
        EXPECT_EQ(statusFor(service), expected) << upstreamStatus << " " << answer.data();
    }
    // A header line that was once read whole, however long.
    upstream.reply({200, R"({"text":"words"})", {{"X-Padding", QByteArray(2000000, 'a')}}});
    EXPECT_EQ(statusFor(service), 502);
    const auto page = httplib::Client("127.0.0.1", service.port()).Get("/privacy");
    ASSERT_TRUE(page);
    EXPECT_NE(page->body.find(upstream.baseUrl().toString().toStdString()), std::string::npos);
}

// A trickling or silent upstream meets the time limit; an endless reply is cut off at
// the size limit as it arrives; a closed port is unavailable.
TEST(ServiceForwarding, AStalledEndlessOrClosedUpstreamIsCutOff) {
    TestHttpServer upstream;
    ServiceProcess service({"--forward", forwardTo(upstream), "--time-limit", "3"});
    const std::pair<Stall, int> cases[] = {
        {Stall::flood, 502}, {Stall::trickle, 503}, {Stall::silent, 503}};
    for (const auto& [stall, status] : cases) {
        upstream.reply({200, R"({"text":"late"})", {}, {}, stall});
        EXPECT_EQ(statusFor(service), status) << int(stall);
    }
    upstream.stop();
    EXPECT_EQ(statusFor(service), 503);
}

} // namespace
