// The forwarding recogniser against an OpenAI-compatible speech server run by the
// test on loopback: what it sends, and how the upstream's answers come back.

#include "ServiceHttp.h"
#include "ServiceProcess.h"
#include "SharedMedia.h"
#include "TestHttpServer.h"

#include <gtest/gtest.h>

namespace {

using Stall = TestHttpServer::Stall;

TEST(ServiceForwarding, TheRecordingGoesUpstreamAsItCameAndEachAnswerMapsToAStatus) {
    TestHttpServer upstream;
    const std::string origin = upstream.baseUrl().toString().toStdString();
    ServiceProcess service(
        {"--forward", origin + "/base/", "--forward-model", "tiny-model", "--time-limit", "3"},
        {{"WISPEN_FORWARD_API_KEY", "test-key-123"}});
    upstream.reply({200, R"({"text":"  forwarded words \n"})"});
    const std::string audio = SharedMedia::read(SharedMedia::sentenceFile(5));
    const auto reply = ServiceHttp::post(service.port(), ServiceHttp::body(audio));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->body, R"({"text":"forwarded words"})");
    ASSERT_EQ(upstream.requests().size(), 1u);
    const auto sent = upstream.requests()[0];
    EXPECT_EQ(sent.path, "/base/v1/audio/transcriptions");
    EXPECT_EQ(sent.header("Authorization"), "Bearer test-key-123");
    EXPECT_TRUE(
        sent.body.contains("\nrecording.m4a\naudio/mp4\n" + QByteArray::fromStdString(audio)));
    EXPECT_TRUE(sent.body.contains("model\n\n\ntiny-model\n")) << sent.body.left(200).toStdString();
    EXPECT_TRUE(sent.body.contains("response_format\n\n\njson\n")) << "else the text comes plain";
    const auto page = httplib::Client("127.0.0.1", service.port()).Get("/privacy");
    EXPECT_NE(page ? page->body.find(origin) : std::string::npos, std::string::npos);

    // Undecodable audio never reaches upstream.
    EXPECT_EQ(ServiceHttp::status(service.port(), ServiceHttp::body(std::string(500, 'x'))), 422);
    EXPECT_EQ(upstream.requests().size(), 1u);

    // A header line that was once read whole, however long, and an endless reply are
    // cut off at the size limit as they arrive; a trickling or silent upstream meets
    // the time limit.
    const std::pair<TestHttpServer::Reply, int> cases[] = {
        {{429, R"({"error":"slow down"})"}, 429},
        {{500, ""}, 503},
        {{400, R"({"error":"bad"})"}, 502},
        {{200, R"({"transcript":"wrong member"})"}, 502},
        {{200, R"({"text":"words"})", {{"X-Padding", QByteArray(2000000, 'a')}}}, 502},
        {{200, R"({"text":"late"})", {}, Stall::flood}, 502},
        {{200, R"({"text":"late"})", {}, Stall::trickle}, 503},
        {{200, R"({"text":"late"})", {}, Stall::silent}, 503},
    };
    const std::string silence = ServiceHttp::body(SharedMedia::read(SharedMedia::silenceFile()));
    for (const auto& [answer, status] : cases) {
        upstream.reply(answer);
        EXPECT_EQ(ServiceHttp::status(service.port(), silence), status)
            << answer.status << " " << int(answer.stall);
    }
    upstream.stop();
    EXPECT_EQ(ServiceHttp::status(service.port(), silence), 503) << "a closed port";
}

} // namespace
