// The forwarding recogniser against an OpenAI-compatible speech server run by the
// test on loopback: what it sends, and how the upstream's answers come back.

#include "ServiceHttp.h"
#include "ServiceProcess.h"
#include "SharedMedia.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <arpa/inet.h>
#include <atomic>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr auto replyLimit = std::chrono::seconds(60);
constexpr const char* apiKey = "test-key-123";

// A speech server answering POST /base/v1/audio/transcriptions with a set status
// and body, keeping what it received.
class UpstreamServer {
public:
    UpstreamServer() {
        m_server.Post("/base/v1/audio/transcriptions",
                      [this](const httplib::Request& request, httplib::Response& response) {
                          std::lock_guard lock(m_mutex);
                          ++m_requests;
                          m_file = request.get_file_value("file");
                          m_model = request.get_file_value("model").content;
                          m_authorization = request.get_header_value("Authorization");
                          response.status = m_status;
                          response.set_content(m_body, "application/json");
                      });
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
    }
    ~UpstreamServer() {
        m_server.stop();
        m_thread.join();
    }

    void answer(int status, const std::string& body) {
        std::lock_guard lock(m_mutex);
        m_status = status;
        m_body = body;
    }
    std::string baseUrl() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/base/"; }
    int requests() {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }
    httplib::MultipartFormData file() {
        std::lock_guard lock(m_mutex);
        return m_file;
    }
    std::string model() {
        std::lock_guard lock(m_mutex);
        return m_model;
    }
    std::string authorization() {
        std::lock_guard lock(m_mutex);
        return m_authorization;
    }

private:
    httplib::Server m_server;
    std::thread m_thread;
    int m_port = 0;
    std::mutex m_mutex;
    int m_status = 200;
    std::string m_body;
    int m_requests = 0;
    httplib::MultipartFormData m_file;
    std::string m_model;
    std::string m_authorization;
};

class ServiceForwardingTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        upstream = std::make_unique<UpstreamServer>();
        service = std::make_unique<ServiceProcess>(
            std::vector<std::string>{"--forward", upstream->baseUrl(), "--forward-model",
                                     "tiny-test-model"},
            std::map<std::string, std::string>{{"WISPEN_FORWARD_API_KEY", apiKey}});
    }
    static void TearDownTestSuite() {
        service.reset();
        upstream.reset();
    }

    static httplib::Result post(const std::string& audio) {
        httplib::Client client("127.0.0.1", service->port());
        client.set_read_timeout(replyLimit);
        return client.Post("/api/transcribe", ServiceHttp::body(audio), "application/json");
    }

    static std::unique_ptr<UpstreamServer> upstream;
    static std::unique_ptr<ServiceProcess> service;
};

std::unique_ptr<UpstreamServer> ServiceForwardingTest::upstream;
std::unique_ptr<ServiceProcess> ServiceForwardingTest::service;

TEST_F(ServiceForwardingTest, TheRecordingGoesUpstreamAsItCameAndTheTextComesBack) {
    upstream->answer(200, R"({"text":"  forwarded words \n"})");
    const std::string audio = TestMedia::read(SharedMedia::sentenceFile(5));
    const auto reply = post(audio);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);
    EXPECT_EQ(reply->body, R"({"text":"forwarded words"})");
    EXPECT_EQ(upstream->file().content, audio);
    EXPECT_EQ(upstream->file().content_type, "audio/mp4");
    EXPECT_FALSE(upstream->file().filename.empty());
    EXPECT_EQ(upstream->model(), "tiny-test-model");
    EXPECT_EQ(upstream->authorization(), std::string("Bearer ") + apiKey);
}

TEST_F(ServiceForwardingTest, UndecodableAudioIsRefusedWithoutBotheringUpstream) {
    const int before = upstream->requests();
    const auto reply = post(std::string(5000, 'x'));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 422);
    EXPECT_EQ(upstream->requests(), before);
}

TEST_F(ServiceForwardingTest, UpstreamAnswersMapToTheStatusesTheApplicationReads) {
    const std::string audio = TestMedia::read(SharedMedia::silenceFile());
    const std::vector<std::tuple<int, std::string, int>> cases = {
        {429, R"({"error":"slow down"})", 429},
        {503, "", 503},
        {500, "", 503},
        {400, R"({"error":"bad"})", 502},
        {200, R"({"transcript":"wrong member"})", 502},
        {200, "not json", 502},
    };
    for (const auto& [upstreamStatus, body, expected] : cases) {
        upstream->answer(upstreamStatus, body);
        const auto reply = post(audio);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->status, expected) << upstreamStatus << " " << body;
    }
}

TEST_F(ServiceForwardingTest, AnUnreachableUpstreamIsUnavailable) {
    // A port that was free a moment ago: bound, looked up and closed again.
    int closedPort = 0;
    {
        const int probe = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ASSERT_EQ(getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length), 0);
        closedPort = ntohs(address.sin_port);
        close(probe);
    }
    ServiceProcess forwarding({"--forward", "http://127.0.0.1:" + std::to_string(closedPort)});
    httplib::Client client("127.0.0.1", forwarding.port());
    client.set_read_timeout(replyLimit);
    const auto reply = client.Post("/api/transcribe",
                                   ServiceHttp::body(TestMedia::read(SharedMedia::silenceFile())),
                                   "application/json");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 503);
}

TEST_F(ServiceForwardingTest, ASilentUpstreamIsAbandonedAtTheTimeLimit) {
    // Listens but never accepts: connections are taken by the system and never answered.
    const int silent = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(silent, 4), 0);
    ASSERT_EQ(getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length), 0);

    ServiceProcess forwarding({"--forward",
                               "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)),
                               "--time-limit", "2"});
    httplib::Client client("127.0.0.1", forwarding.port());
    client.set_read_timeout(replyLimit);
    const auto reply = client.Post("/api/transcribe",
                                   ServiceHttp::body(TestMedia::read(SharedMedia::silenceFile())),
                                   "application/json");
    close(silent);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 503);
}

TEST_F(ServiceForwardingTest, ThePrivacyPageNamesWhereTheAudioGoes) {
    httplib::Client client("127.0.0.1", service->port());
    const auto page = client.Get("/privacy");
    ASSERT_TRUE(page);
    EXPECT_NE(page->body.find("http://127.0.0.1:"), std::string::npos);
    EXPECT_EQ(page->body.find("never leave this computer"), std::string::npos);
}

} // namespace
