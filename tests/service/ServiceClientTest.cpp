// The application's own TranscriptionClient against the real service: every reply
// the service can give the client arrives as the sentence the user should read.

#include "LocalizedError.h"
#include "Polling.h"
#include "ServiceAddress.h"
#include "ServiceHttp.h"
#include "ServiceProcess.h"
#include "SharedMedia.h"
#include "TranscriptionClient.h"
#include "TranscriptionContract.h"
#include "WaitUntil.h"

#include <gtest/gtest.h>

#include <future>
#include <memory>

namespace {

constexpr auto replyLimit = std::chrono::seconds(120);
const QString tooLong = QStringLiteral("Keep each recording under three minutes.");

QByteArray bytes(const std::string& text) {
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

QByteArray silence() {
    return bytes(TestMedia::read(SharedMedia::silenceFile()));
}

// Sends `audio` with a fresh client to the service at `baseUrl` and returns the
// transcript, or the sentence of the error it ended with.
QString transcribe(const std::string& baseUrl, const QByteArray& audio) {
    ServiceAddress::configure(QString::fromStdString(baseUrl));
    TranscriptionClient client;
    std::optional<TranscriptionOutcome> outcome;
    client.transcribe(audio, [&](const TranscriptionOutcome& done) { outcome = done; });
    if (!waitUntil([&] { return outcome.has_value(); }, replyLimit))
        return QStringLiteral("(no completion)");
    try {
        return outcome->get();
    } catch (const LocalizedError& error) {
        return error.errorDescription().value_or(QStringLiteral("(no description)"));
    }
}

class ServiceClientTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        service = std::make_unique<ServiceProcess>(std::vector<std::string>{
            "--workers", "1", "--queue", "0", "--grammar", SharedMedia::grammarFile()});
    }
    static void TearDownTestSuite() { service.reset(); }
    void TearDown() override {
        ServiceAddress::configure(QString::fromLatin1(ServiceAddress::defaultBaseUrl));
    }

    static std::unique_ptr<ServiceProcess> service;
};

std::unique_ptr<ServiceProcess> ServiceClientTest::service;

TEST_F(ServiceClientTest, SpeechComesBackAsItsWordsAndSilenceAsNothing) {
    EXPECT_EQ(transcribe(service->baseUrl(), bytes(TestMedia::read(SharedMedia::sentenceFile(4)))),
              QString::fromStdString(SharedMedia::sentences()[4]));
    EXPECT_EQ(transcribe(service->baseUrl(), silence()), QString());
}

TEST_F(ServiceClientTest, UndecodableAndLargestAudioReadAsTheThreeMinuteSentence) {
    for (const auto& [name, audio] : SharedMedia::malformed()) {
        if (!audio.empty()) { // the client refuses empty audio itself
            EXPECT_EQ(transcribe(service->baseUrl(), bytes(audio)), tooLong) << name;
        }
    }
    // 3 MiB of bytes that are all slashes in Base64: the client's longest body. The
    // service reads it and finds no audio in it, rather than refusing its size.
    EXPECT_EQ(
        transcribe(service->baseUrl(), QByteArray(TranscriptionContract::maximumBytes, '\xff')),
        tooLong);
}

TEST_F(ServiceClientTest, AFullServiceReadsAsBusy) {
    // Nearly three minutes of audio keep the only worker busy for a while.
    auto occupying = std::async(std::launch::async, [port = service->port()] {
        return ServiceHttp::post(
            port, ServiceHttp::body(TestMedia::read(SharedMedia::media().silence(170, "long"))));
    });
    ASSERT_TRUE(Polling::until(std::chrono::seconds(30), [&] {
        return ServiceHttp::health(service->port(), "working") == 1;
    }));
    EXPECT_EQ(transcribe(service->baseUrl(), silence()),
              QStringLiteral("Wispen is busy. Try again in a moment."));
    const auto occupied = occupying.get();
    ASSERT_TRUE(occupied);
    EXPECT_EQ(occupied->status, 200);
}

TEST_F(ServiceClientTest, AServiceWithoutARecogniserReadsAsUnavailable) {
    ServiceProcess withoutModel({"--model", "/nonexistent/model"});
    const auto health = httplib::Client("127.0.0.1", withoutModel.port()).Get("/healthz");
    ASSERT_TRUE(health);
    EXPECT_EQ(health->status, 503);
    EXPECT_EQ(transcribe(withoutModel.baseUrl(), silence()),
              QStringLiteral("Dictation is temporarily unavailable. Try again shortly."));
    // A body that is not the expected JSON is still a bad request.
    const auto bad = ServiceHttp::post(withoutModel.port(), "{}");
    ASSERT_TRUE(bad);
    EXPECT_EQ(bad->status, 400);
    EXPECT_EQ(withoutModel.stop(), 0) << "a termination request ends it cleanly";
}

} // namespace
