// Every status of POST /api/transcribe through real HTTP, with requests a
// well-behaved client never sends.

#include "ServiceHttp.h"
#include "ServiceProcess.h"
#include "SharedMedia.h"
#include "TranscribeRequest.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

constexpr int idleTimeoutSec = 2;

// A folder of the service's own under the test's media folder.
std::string ownFolder(const std::string& name) {
    const std::string path = SharedMedia::folder() + "/" + name;
    std::filesystem::create_directory(path);
    return path;
}

// The service runs with a home, a temporary folder and a working folder of its own,
// so the last test can see that nothing was written to any of them.
ServiceProcess& service() {
    static ServiceProcess running({"--workers", "2", "--grammar", SharedMedia::grammarFile(),
                                   "--idle-timeout", std::to_string(idleTimeoutSec)},
                                  {{"HOME", ownFolder("home")},
                                   {"TMPDIR", ownFolder("tmp")},
                                   {"XDG_CACHE_HOME", ownFolder("cache")}},
                                  ownFolder("cwd"));
    return running;
}

TEST(ServiceStatus, SpeechIsTranscribedAndTheRequestIdEchoed) {
    const std::string id = "0F8FAD5B-D9CB-469F-A165-70867728950E";
    const auto reply = ServiceHttp::post(
        service().port(), ServiceHttp::body(SharedMedia::read(SharedMedia::sentenceFile(0))),
        {{"X-Request-ID", id}});
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->get_header_value("X-Request-ID"), id);
    EXPECT_EQ(reply->body, R"({"text":")" + SharedMedia::sentences()[0] + R"("})");
}

TEST(ServiceStatus, EachRefusalHasItsStatus) {
    const std::string mime = R"(","mimeType":"audio/mp4"})";
    const std::size_t limit = TranscribeRequest::maximumAudioBytes;
    // Bytes of 0xFF are all slashes in Base64; escaped, as the application's JSON
    // writer may do, each takes two characters, and white space fills the body to the
    // last byte allowed.
    std::string longest = QByteArray::fromStdString(ServiceHttp::body(std::string(limit, '\xff')))
                              .replace("/", "\\/")
                              .toStdString();
    longest.insert(longest.size() - 1, TranscribeRequest::maximumBodyBytes() - longest.size(), ' ');

    const std::tuple<std::string, std::string, int> cases[] = {
        {"not JSON", "audio=AAAA", 400},
        {"a top-level array", R"(["AAAA", "audio/mp4"])", 400},
        {"no MIME type", R"({"audio":"AAAA"})", 400},
        {"audio as a number", R"({"audio":12,"mimeType":"audio/mp4"})", 400},
        {"another MIME type", R"({"audio":"AAAA","mimeType":"audio/wav"})", 400},
        {"Base64 cut short", R"({"audio":"AAA)" + mime, 400},
        {"Base64 with a foreign letter", R"({"audio":"*AAA)" + mime, 400},
        {"audio over three mebibytes", ServiceHttp::body(std::string(limit + 1, '\0')), 413},
        // At the limit the size passes and the content decides.
        {"audio of three mebibytes", ServiceHttp::body(std::string(limit, '\0')), 422},
        {"the longest body allowed", longest, 422},
    };
    for (const auto& [name, body, status] : cases)
        EXPECT_EQ(ServiceHttp::status(service().port(), body), status) << name;
}

// Bodies are counted as they arrive whatever their framing, and refused while the
// client still sends, with the request's identifier.
TEST(ServiceStatus, OversizeUnframedOrMalformedBodiesAreRefusedAtOnce) {
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
        ServiceHttp::RawConnection connection(service().port());
        connection.send(request);
        const std::string reply = connection.receive(std::chrono::seconds(10)).text;
        EXPECT_EQ(ServiceHttp::statusOf(reply), status) << request.substr(0, 120);
        EXPECT_NE(reply.find("X-Request-ID: R-1"), std::string::npos) << reply;
    }
}

// Headers arrive whole, then the sender pauses: the pause limit, not the request's
// own, ends it.
TEST(ServiceStatus, ASenderPausingInTheBodyIsCutOff) {
    ServiceHttp::RawConnection stalled(service().port());
    ASSERT_TRUE(stalled.send(ServiceHttp::unfinishedPost));
    EXPECT_TRUE(stalled.receive(std::chrono::seconds(idleTimeoutSec * 5)).closed);
}

TEST(ServiceStatus, ASecondServiceOnTheSamePortFailsToStart) {
    const auto [exitCode, out, err] =
        ServiceProcess::run({"--port", std::to_string(service().port())});
    EXPECT_EQ(exitCode, 1);
    EXPECT_NE(err.find("Cannot listen"), std::string::npos);
}

// Runs last in this suite: after every kind of request above, nothing of them was
// printed or written.
TEST(ServiceStatus, NothingOfTheRequestsWasPrintedOrWritten) {
    EXPECT_EQ(service().errors(), "");
    EXPECT_EQ(service().output(), "wispen-service listening on http://127.0.0.1:" +
                                      std::to_string(service().port()) + "/\n");
    for (const char* name : {"home", "tmp", "cwd"})
        EXPECT_TRUE(std::filesystem::is_empty(ownFolder(name))) << name;
}

} // namespace
