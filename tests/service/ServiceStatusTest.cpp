// Every status of POST /api/transcribe through real HTTP, with requests a
// well-behaved client never sends.

#include "ServiceHttp.h"
#include "ServiceProcess.h"
#include "SharedMedia.h"
#include "TranscribeRequest.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

namespace {

constexpr int idleTimeoutSec = 2;
constexpr auto atOnce = std::chrono::seconds(10);

std::string sentence(std::size_t index) {
    return TestMedia::read(SharedMedia::sentenceFile(index));
}

class ServiceStatusTest : public ::testing::Test {
protected:
    // The service runs with a home, a temporary folder and a working folder of its
    // own, so the last test can see that nothing was written to any of them.
    static void SetUpTestSuite() {
        const std::string root = SharedMedia::media().folder();
        for (const char* name : {"/home", "/tmp", "/cwd", "/cache"})
            std::filesystem::create_directory(root + name);
        service = std::make_unique<ServiceProcess>(
            std::vector<std::string>{"--workers", "2", "--grammar", SharedMedia::grammarFile(),
                                     "--idle-timeout", std::to_string(idleTimeoutSec)},
            std::map<std::string, std::string>{{"HOME", root + "/home"},
                                               {"TMPDIR", root + "/tmp"},
                                               {"XDG_CACHE_HOME", root + "/cache"}},
            root + "/cwd");
    }
    static void TearDownTestSuite() { service.reset(); }

    static std::unique_ptr<ServiceProcess> service;
};

std::unique_ptr<ServiceProcess> ServiceStatusTest::service;

TEST_F(ServiceStatusTest, SpeechAndSilenceAreTranscribedAndTheRequestIdEchoed) {
    const std::string id = "0F8FAD5B-D9CB-469F-A165-70867728950E";
    const struct {
        std::string audio;
        bool escapeSlashes;
        std::string text;
    } cases[] = {
        {sentence(0), false, SharedMedia::sentences()[0]},
        {sentence(2), true, SharedMedia::sentences()[2]},
        {TestMedia::read(SharedMedia::silenceFile()), false, ""},
    };
    for (const auto& [audio, escapeSlashes, text] : cases) {
        const auto reply = ServiceHttp::post(
            service->port(), ServiceHttp::body(audio, escapeSlashes), {{"X-Request-ID", id}});
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->get_header_value("X-Request-ID"), id);
        EXPECT_EQ(reply->body, R"({"text":")" + text + R"("})");
    }
}

TEST_F(ServiceStatusTest, EachRefusalHasItsStatus) {
    const std::string audio = ServiceHttp::base64(sentence(0));
    const std::string mime = R"(","mimeType":"audio/mp4"})";
    const std::size_t limit = TranscribeRequest::maximumAudioBytes;
    // Bytes of 0xFF are all slashes in Base64; escaped, each takes two characters,
    // and white space fills the body to the last byte allowed.
    std::string longest = ServiceHttp::body(std::string(limit, '\xff'), true);
    longest.insert(longest.size() - 1, TranscribeRequest::maximumBodyBytes() - longest.size(), ' ');

    std::vector<std::tuple<std::string, std::string, int>> cases = {
        {"not JSON", "audio=" + audio, 400},
        {"a top-level array", R"([")" + audio + R"(", "audio/mp4"])", 400},
        {"no MIME type", R"({"audio":")" + audio + R"("})", 400},
        {"audio as a number", R"({"audio":12,"mimeType":"audio/mp4"})", 400},
        {"another MIME type", R"({"audio":")" + audio + R"(","mimeType":"audio/wav"})", 400},
        {"Base64 cut short", R"({"audio":")" + audio.substr(0, audio.size() - 1) + mime, 400},
        {"Base64 with a foreign letter", R"({"audio":"*)" + audio.substr(1) + mime, 400},
        {"audio over three mebibytes", ServiceHttp::body(std::string(limit + 1, '\0')), 413},
        // At the limit the size passes and the content decides.
        {"audio of three mebibytes", ServiceHttp::body(std::string(limit, '\0')), 422},
        {"the longest body allowed", longest, 422},
    };
    for (const auto& [name, bytes] : SharedMedia::malformed())
        cases.emplace_back(name, ServiceHttp::body(bytes), 422);
    for (const auto& [name, body, status] : cases) {
        const auto reply = ServiceHttp::post(service->port(), body);
        EXPECT_EQ(reply ? reply->status : 0, status) << name;
    }
}

// Bodies are counted as they arrive whatever their framing, and refused while the
// client still sends, with the request's identifier.
TEST_F(ServiceStatusTest, OversizeUnframedOrMalformedBodiesAreRefusedAtOnce) {
    const std::string post = "POST /api/transcribe HTTP/1.1\r\nHost: a\r\nX-Request-ID: R-1\r\n";
    std::string mebibyteChunks = post + "Transfer-Encoding: chunked\r\n\r\n";
    for (int i = 0; i < 9; ++i)
        mebibyteChunks += "100000\r\n" + std::string(0x100000, 'a') + "\r\n";
    const std::pair<std::string, int> cases[] = {
        {mebibyteChunks, 413},
        {post + "\r\n" + std::string(100000, 'a'), 411},
        {post + "Content-Length: 99999999999999999999999\r\n\r\n{}", 400},
        {post + "Content-Length: " + std::to_string(TranscribeRequest::maximumBodyBytes() + 1) +
             "\r\n\r\n",
         413},
    };
    for (const auto& [request, status] : cases) {
        ServiceHttp::RawConnection connection(service->port());
        connection.send(request);
        const std::string reply = connection.receive(atOnce).text;
        EXPECT_EQ(ServiceHttp::statusOf(reply), status) << request.substr(0, 120);
        EXPECT_NE(reply.find("X-Request-ID: R-1"), std::string::npos) << reply;
    }
}

TEST_F(ServiceStatusTest, ASlowSenderIsCutOffWhileOthersAreServed) {
    const std::string body = ServiceHttp::body(sentence(0));
    ServiceHttp::RawConnection stalled(service->port());
    ASSERT_TRUE(stalled.send(ServiceHttp::postHeaders(body.size()) + body.substr(0, 1000)));
    ServiceHttp::RawConnection silent(service->port());
    EXPECT_EQ(ServiceHttp::health(service->port(), "working"), 0) << "others are not served";
    EXPECT_TRUE(stalled.receive(std::chrono::seconds(idleTimeoutSec * 5)).closed);
    EXPECT_TRUE(silent.receive(std::chrono::seconds(idleTimeoutSec * 5)).closed);
}

TEST_F(ServiceStatusTest, PrivacyPageAnswersAndASecondServiceOnTheSamePortFailsToStart) {
    const auto privacy = httplib::Client("127.0.0.1", service->port()).Get("/privacy");
    ASSERT_TRUE(privacy);
    EXPECT_NE(privacy->body.find("neither the audio nor the text is written to disk"),
              std::string::npos);
    const auto finished = ServiceProcess::run(
        {"--port", std::to_string(service->port()), "--grammar", SharedMedia::grammarFile()});
    EXPECT_EQ(finished.exitCode, 1);
    EXPECT_NE(finished.err.find("Cannot listen"), std::string::npos);
}

// Runs last in this suite: after every kind of request above, nothing of them was
// printed or written.
TEST_F(ServiceStatusTest, NothingOfTheRequestsWasPrintedOrWritten) {
    EXPECT_EQ(service->errors(), "");
    EXPECT_EQ(service->output(), "wispen-service listening on http://127.0.0.1:" +
                                     std::to_string(service->port()) + "/\n");
    const std::string root = SharedMedia::media().folder();
    for (const char* name : {"/home", "/tmp", "/cwd"})
        EXPECT_TRUE(std::filesystem::is_empty(root + name)) << name;
}

} // namespace
