// Every status of POST /api/transcribe through real HTTP, with requests a
// well-behaved client never sends.

#include "MalformedMedia.h"
#include "ServiceHttp.h"
#include "ServiceProcess.h"
#include "SharedMedia.h"
#include "TranscribeRequest.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>
#include <httplib.h>

#include <filesystem>
#include <memory>

namespace {

constexpr int idleTimeoutSec = 2;
constexpr auto replyLimit = std::chrono::seconds(60);
constexpr auto atOnce = std::chrono::seconds(10);

std::string textOf(const std::string& body) {
    const auto object = QJsonDocument::fromJson(QByteArray::fromStdString(body)).object();
    return object.value("text").toString().toStdString();
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

    static httplib::Result post(const std::string& body, const httplib::Headers& headers = {}) {
        httplib::Client client("127.0.0.1", service->port());
        client.set_read_timeout(replyLimit);
        return client.Post("/api/transcribe", headers, body, "application/json");
    }

    static int statusFor(const std::string& body) {
        const auto reply = post(body);
        return reply ? reply->status : 0;
    }

    static std::unique_ptr<ServiceProcess> service;
};

std::unique_ptr<ServiceProcess> ServiceStatusTest::service;

TEST_F(ServiceStatusTest, SpeechIsTranscribedAndTheRequestIdEchoed) {
    const std::string id = "0F8FAD5B-D9CB-469F-A165-70867728950E";
    const auto reply = post(ServiceHttp::body(TestMedia::read(SharedMedia::sentenceFile(0))),
                            {{"X-Request-ID", id}});
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);
    EXPECT_EQ(reply->get_header_value("X-Request-ID"), id);
    EXPECT_EQ(reply->get_header_value("Content-Type"), "application/json");
    EXPECT_EQ(textOf(reply->body), SharedMedia::sentences()[0]);
}

TEST_F(ServiceStatusTest, EscapedSlashesAreReadLikePlainOnes) {
    const auto reply = post(ServiceHttp::body(TestMedia::read(SharedMedia::sentenceFile(2)), true));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);
    EXPECT_EQ(textOf(reply->body), SharedMedia::sentences()[2]);
}

TEST_F(ServiceStatusTest, SilenceIsAnEmptyTranscript) {
    const auto reply = post(ServiceHttp::body(TestMedia::read(SharedMedia::silenceFile())));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);
    EXPECT_EQ(reply->body, R"({"text":""})");
}

TEST_F(ServiceStatusTest, ABodyThatIsNotTheExpectedJsonIsABadRequest) {
    const std::string audio = ServiceHttp::base64(TestMedia::read(SharedMedia::sentenceFile(0)));
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"not JSON", "audio=" + audio},
        {"cut-off JSON", R"({"audio":")" + audio},
        {"a top-level array", R"([")" + audio + R"(", "audio/mp4"])"},
        {"no audio", R"({"mimeType":"audio/mp4"})"},
        {"no MIME type", R"({"audio":")" + audio + R"("})"},
        {"audio as a number", R"({"audio":12,"mimeType":"audio/mp4"})"},
        {"audio as null", R"({"audio":null,"mimeType":"audio/mp4"})"},
        {"another MIME type", R"({"audio":")" + audio + R"(","mimeType":"audio/wav"})"},
        {"Base64 cut short",
         R"({"audio":")" + audio.substr(0, audio.size() - 1) + R"(","mimeType":"audio/mp4"})"},
        {"Base64 with a foreign letter",
         R"({"audio":"*)" + audio.substr(1) + R"(","mimeType":"audio/mp4"})"},
        {"Base64 with line breaks", R"({"audio":")" + audio.substr(0, 76) + R"(\n)" +
                                        audio.substr(76) + R"(","mimeType":"audio/mp4"})"},
        {"an empty body", ""},
    };
    for (const auto& [name, body] : cases)
        EXPECT_EQ(statusFor(body), 400) << name;
}

TEST_F(ServiceStatusTest, AudioOverThreeMebibytesIsTooLarge) {
    const std::size_t limit = TranscribeRequest::maximumAudioBytes;
    EXPECT_EQ(statusFor(ServiceHttp::body(std::string(limit + 1, '\0'))), 413);
    // Exactly at the limit the size passes and the content decides.
    EXPECT_EQ(statusFor(ServiceHttp::body(std::string(limit, '\0'))), 422);
}

TEST_F(ServiceStatusTest, ABodyDeclaredTooLongIsRefusedBeforeItIsSent) {
    ServiceHttp::RawConnection connection(service->port());
    ASSERT_TRUE(connection.send(
        ServiceHttp::postHeaders(TranscribeRequest::maximumBodyBytes() + 1, "TOO-LONG")));
    const std::string reply = connection.receiveUntilClosed(atOnce);
    EXPECT_EQ(ServiceHttp::statusOf(reply), 413);
    EXPECT_NE(reply.find("X-Request-ID: TOO-LONG"), std::string::npos);
}

TEST_F(ServiceStatusTest, TheLongestPossibleBodyOfThreeMebibytesIsRead) {
    // Bytes of 0xFF are all slashes in Base64; escaped, each takes two characters,
    // and white space fills the body to the last byte allowed.
    std::string body =
        ServiceHttp::body(std::string(TranscribeRequest::maximumAudioBytes, '\xff'), true);
    ASSERT_LE(body.size(), TranscribeRequest::maximumBodyBytes());
    body.insert(body.size() - 1, TranscribeRequest::maximumBodyBytes() - body.size(), ' ');
    EXPECT_EQ(statusFor(body), 422);
}

TEST_F(ServiceStatusTest, MalformedAudioIsUnprocessable) {
    for (const auto& malformed : MalformedMedia::cases())
        EXPECT_EQ(statusFor(ServiceHttp::body(malformed.bytes)), 422) << malformed.name;
}

TEST_F(ServiceStatusTest, RecordingsOverThreeMinutesAreUnprocessable) {
    EXPECT_EQ(statusFor(ServiceHttp::body(
                  TestMedia::read(SharedMedia::media().silence(181.5, "too-long")))),
              422);
}

TEST_F(ServiceStatusTest, BytesBeyondTheDeclaredLengthAreNotReadAsAnotherRequest) {
    const std::string body = ServiceHttp::body(TestMedia::read(SharedMedia::sentenceFile(3)));
    const std::string smuggled = "GET /healthz HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    ServiceHttp::RawConnection connection(service->port());
    ASSERT_TRUE(connection.send(ServiceHttp::postHeaders(body.size()) + body + smuggled));
    const std::string reply = connection.receiveUntilClosed(replyLimit);
    EXPECT_EQ(ServiceHttp::statusOf(reply), 200);
    EXPECT_NE(reply.find(SharedMedia::sentences()[3]), std::string::npos);
    EXPECT_EQ(reply.find("HTTP/1.1", 1), std::string::npos) << "a second reply followed";
}

TEST_F(ServiceStatusTest, ABodyShorterThanDeclaredIsNotTranscribed) {
    const std::string body = ServiceHttp::body(TestMedia::read(SharedMedia::sentenceFile(3)));
    ServiceHttp::RawConnection connection(service->port());
    ASSERT_TRUE(connection.send(ServiceHttp::postHeaders(body.size() + 100) + body));
    const std::string reply = connection.receiveUntilClosed(replyLimit);
    EXPECT_NE(ServiceHttp::statusOf(reply), 200);
    EXPECT_EQ(reply.find(SharedMedia::sentences()[3]), std::string::npos);
}

TEST_F(ServiceStatusTest, ASlowSenderIsCutOffWhileOthersAreServed) {
    const std::string body = ServiceHttp::body(TestMedia::read(SharedMedia::sentenceFile(0)));
    ServiceHttp::RawConnection stalled(service->port());
    ASSERT_TRUE(stalled.send(ServiceHttp::postHeaders(body.size()) + body.substr(0, 1000)));
    ServiceHttp::RawConnection silent(service->port());

    httplib::Client client("127.0.0.1", service->port());
    const auto health = client.Get("/healthz");
    ASSERT_TRUE(health);
    EXPECT_EQ(health->status, 200);

    EXPECT_TRUE(stalled.closedWithin(std::chrono::seconds(idleTimeoutSec * 5)));
    EXPECT_TRUE(silent.closedWithin(std::chrono::seconds(idleTimeoutSec * 5)));
}

TEST_F(ServiceStatusTest, PrivacyAndHealthPagesAnswer) {
    httplib::Client client("127.0.0.1", service->port());
    const auto privacy = client.Get("/privacy");
    ASSERT_TRUE(privacy);
    EXPECT_EQ(privacy->status, 200);
    EXPECT_NE(privacy->get_header_value("Content-Type").find("text/html"), std::string::npos);
    EXPECT_NE(privacy->body.find("on this machine"), std::string::npos);
    EXPECT_NE(privacy->body.find("neither the audio nor the text is written to disk"),
              std::string::npos);

    const auto health = client.Get("/healthz");
    ASSERT_TRUE(health);
    EXPECT_EQ(health->status, 200);
    EXPECT_NE(health->body.find(R"("status":"ready")"), std::string::npos);
}

TEST_F(ServiceStatusTest, ASecondServiceOnTheSamePortFailsToStart) {
    const auto finished =
        ServiceProcess::run({"--port", std::to_string(service->port()), "--workers", "1",
                             "--grammar", SharedMedia::grammarFile()});
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
