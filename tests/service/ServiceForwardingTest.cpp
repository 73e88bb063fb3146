// The forwarding recogniser against an OpenAI-compatible speech server run by the
// test on loopback: what it sends, and how the upstream's answers come back.

#include "ServiceHttp.h"
#include "ServiceProcess.h"
#include "SharedMedia.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <functional>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr const char* apiKey = "test-key-123";

// A speech server answering POST /base/v1/audio/transcriptions with `status` and
// `body`, keeping what it received; every field is guarded by `mutex`.
struct UpstreamServer {
    httplib::Server server;
    std::thread thread;
    int port = 0;
    std::mutex mutex;
    int status = 200;
    std::string body;
    int requests = 0;
    httplib::MultipartFormData file;
    std::string model;
    std::string authorization;
    std::function<void(httplib::Response&)> reply; // instead of status and body when set

    UpstreamServer() {
        server.Post("/base/v1/audio/transcriptions",
                    [this](const httplib::Request& request, httplib::Response& response) {
                        std::lock_guard lock(mutex);
                        ++requests;
                        file = request.get_file_value("file");
                        model = request.get_file_value("model").content;
                        authorization = request.get_header_value("Authorization");
                        response.status = status;
                        response.set_content(body, "application/json");
                        if (reply)
                            reply(response);
                    });
        port = server.bind_to_any_port("127.0.0.1");
        thread = std::thread([this] { server.listen_after_bind(); });
    }
    ~UpstreamServer() {
        server.stop();
        thread.join();
    }
    void answer(int newStatus, const std::string& newBody,
                std::function<void(httplib::Response&)> newReply = nullptr) {
        std::lock_guard lock(mutex);
        status = newStatus;
        body = newBody;
        reply = std::move(newReply);
    }
};

class ServiceForwardingTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        upstream = std::make_unique<UpstreamServer>();
        service = std::make_unique<ServiceProcess>(
            std::vector<std::string>{
                "--forward", "http://127.0.0.1:" + std::to_string(upstream->port) + "/base/",
                "--forward-model", "tiny-test-model"},
            std::map<std::string, std::string>{{"WISPEN_FORWARD_API_KEY", apiKey}});
    }
    static void TearDownTestSuite() {
        service.reset();
        upstream.reset();
    }

    static std::unique_ptr<UpstreamServer> upstream;
    static std::unique_ptr<ServiceProcess> service;
};

std::unique_ptr<UpstreamServer> ServiceForwardingTest::upstream;
std::unique_ptr<ServiceProcess> ServiceForwardingTest::service;

TEST_F(ServiceForwardingTest, TheRecordingGoesUpstreamAsItCameAndTheTextComesBack) {
    upstream->answer(200, R"({"text":"  forwarded words \n"})");
    const std::string audio = TestMedia::read(SharedMedia::sentenceFile(5));
    const auto reply = ServiceHttp::post(service->port(), ServiceHttp::body(audio));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);
    EXPECT_EQ(reply->body, R"({"text":"forwarded words"})");
    std::lock_guard lock(upstream->mutex);
    EXPECT_EQ(upstream->file.content, audio);
    EXPECT_EQ(upstream->file.content_type, "audio/mp4");
    EXPECT_FALSE(upstream->file.filename.empty());
    EXPECT_EQ(upstream->model, "tiny-test-model");
    EXPECT_EQ(upstream->authorization, std::string("Bearer ") + apiKey);
}

TEST_F(ServiceForwardingTest, UndecodableAudioIsRefusedWithoutBotheringUpstream) {
    const auto requests = [] {
        std::lock_guard lock(upstream->mutex);
        return upstream->requests;
    };
    const int before = requests();
    const auto reply =
        ServiceHttp::post(service->port(), ServiceHttp::body(std::string(5000, 'x')));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 422);
    EXPECT_EQ(requests(), before);
}

TEST_F(ServiceForwardingTest, UpstreamAnswersMapToTheStatusesTheApplicationReads) {
    const std::string body = ServiceHttp::body(TestMedia::read(SharedMedia::silenceFile()));
    const std::vector<std::tuple<int, std::string, int>> cases = {
        {429, R"({"error":"slow down"})", 429},
        {503, "", 503},
        {500, "", 503},
        {400, R"({"error":"bad"})", 502},
        {200, R"({"transcript":"wrong member"})", 502},
        {200, "not json", 502},
    };
    for (const auto& [upstreamStatus, answer, expected] : cases) {
        upstream->answer(upstreamStatus, answer);
        const auto reply = ServiceHttp::post(service->port(), body);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->status, expected) << upstreamStatus << " " << answer;
    }
}

TEST_F(ServiceForwardingTest, ATricklingLongOrEndlessReplyIsCutOffAtTheLimits) {
    // The providers may outlive a case the service gave up on, so they own their text.
    static const std::string start = R"({"text":")";
    using Provider = std::function<bool(std::size_t, httplib::DataSink&)>;
    const std::pair<std::function<void(httplib::Response&)>, int> cases[] = {
        {[&](httplib::Response& response) { // forty bytes, one each half second
             response.set_content_provider(
                 40, "application/json", [&](std::size_t at, std::size_t, httplib::DataSink& sink) {
                     std::this_thread::sleep_for(std::chrono::milliseconds(500));
                     const std::string text = start + std::string(40, ' ');
                     return sink.write(&text[at], 1);
                 });
         },
         503},
        {[&](httplib::Response& response) {
             response.set_content(start + std::string(2000000, 'a') + R"("})", "application/json");
         },
         502},
        {[&](httplib::Response& response) { // a header that was once read whole
             response.set_header("X-Padding", std::string(2000000, 'a'));
             response.set_content(start + R"(words"})", "application/json");
         },
         502},
        {[&](httplib::Response& response) { // endless, but a failing run still ends
             response.set_chunked_content_provider(
                 "application/json",
                 Provider([&, sent = std::size_t(0)](std::size_t, httplib::DataSink& sink) mutable {
                     const std::string piece = sent == 0 ? start : std::string(65536, 'a');
                     if ((sent += piece.size()) < 64000000)
                         return sink.write(piece.data(), piece.size());
                     sink.write("\"}", 2);
                     sink.done();
                     return true;
                 }));
         },
         502},
    };
    ServiceProcess limited({"--forward",
                            "http://127.0.0.1:" + std::to_string(upstream->port) + "/base/",
                            "--time-limit", "3"});
    const std::string body = ServiceHttp::body(TestMedia::read(SharedMedia::silenceFile()));
    for (const auto& [reply, status] : cases) {
        upstream->answer(200, "", reply);
        const auto answer = ServiceHttp::post(limited.port(), body);
        EXPECT_EQ(answer ? answer->status : 0, status);
    }
    upstream->answer(200, "");
}

TEST_F(ServiceForwardingTest, AClosedOrSilentUpstreamIsUnavailableWithinTheTimeLimit) {
    for (const bool listening : {false, true}) {
        SCOPED_TRACE(listening ? "listening but never accepting" : "closed port");
        const int upstreamSocket = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ASSERT_EQ(bind(upstreamSocket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ASSERT_EQ(getsockname(upstreamSocket, reinterpret_cast<sockaddr*>(&address), &length), 0);
        if (listening)
            ASSERT_EQ(listen(upstreamSocket, 4), 0);
        else
            close(upstreamSocket);
        ServiceProcess forwarding({"--forward",
                                   "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)),
                                   "--time-limit", "2"});
        const auto reply = ServiceHttp::post(
            forwarding.port(), ServiceHttp::body(TestMedia::read(SharedMedia::silenceFile())));
        if (listening)
            close(upstreamSocket);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->status, 503);
    }
}

TEST_F(ServiceForwardingTest, ThePrivacyPageNamesWhereTheAudioGoes) {
    const auto page = httplib::Client("127.0.0.1", service->port()).Get("/privacy");
    ASSERT_TRUE(page);
    EXPECT_NE(page->body.find("http://127.0.0.1:"), std::string::npos);
    EXPECT_EQ(page->body.find("never leave this computer"), std::string::npos);
}

} // namespace
