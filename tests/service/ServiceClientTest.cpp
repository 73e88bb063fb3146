// The application's own TranscriptionClient against the real service: every reply
// the service can give the client arrives as the sentence the user should read.

#include "LocalizedError.h"
#include "MalformedMedia.h"
#include "Polling.h"
#include "ServiceAddress.h"
#include "ServiceHttp.h"
#include "ServiceProcess.h"
#include "SharedMedia.h"
#include "TranscriptionClient.h"
#include "TranscriptionContract.h"
#include "WaitUntil.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>
#include <httplib.h>

#include <future>
#include <memory>

namespace {

constexpr auto replyLimit = std::chrono::seconds(120);
const QString tooLong = QStringLiteral("Keep each recording under three minutes.");
const QString busy = QStringLiteral("Wispen is busy. Try again in a moment.");
const QString unavailable =
    QStringLiteral("Dictation is temporarily unavailable. Try again shortly.");

QByteArray bytes(const std::string& text) {
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
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

TEST_F(ServiceClientTest, SpeechComesBackAsItsWords) {
    EXPECT_EQ(transcribe(service->baseUrl(), bytes(TestMedia::read(SharedMedia::sentenceFile(4)))),
              QString::fromStdString(SharedMedia::sentences()[4]));
}

TEST_F(ServiceClientTest, SilenceComesBackAsAnEmptyTranscript) {
    EXPECT_EQ(transcribe(service->baseUrl(), bytes(TestMedia::read(SharedMedia::silenceFile()))),
              QString());
}

TEST_F(ServiceClientTest, UndecodableAndOverlongAudioReadAsTheThreeMinuteSentence) {
    for (const auto& malformed : MalformedMedia::cases()) {
        if (malformed.bytes.empty())
            continue; // the client refuses empty audio itself
        EXPECT_EQ(transcribe(service->baseUrl(), bytes(malformed.bytes)), tooLong)
            << malformed.name;
    }
    EXPECT_EQ(transcribe(service->baseUrl(),
                         bytes(TestMedia::read(SharedMedia::media().silence(181.5, "overlong")))),
              tooLong);
}

TEST_F(ServiceClientTest, TheLargestRecordingTheClientSendsIsReadWhole) {
    // 3 MiB of bytes that are all slashes in Base64: the client's longest body. The
    // service reads it and finds no audio in it, rather than refusing its size.
    const QByteArray largest(TranscriptionContract::maximumBytes, '\xff');
    EXPECT_EQ(transcribe(service->baseUrl(), largest), tooLong);
}

TEST_F(ServiceClientTest, AFullServiceReadsAsBusy) {
    // Nearly three minutes of audio keep the only worker busy for a while.
    const std::string body =
        ServiceHttp::body(TestMedia::read(SharedMedia::media().silence(170, "client-long")));
    auto occupying = std::async(std::launch::async, [port = service->port(), body] {
        httplib::Client client("127.0.0.1", port);
        client.set_read_timeout(replyLimit);
        return client.Post("/api/transcribe", body, "application/json");
    });
    httplib::Client health("127.0.0.1", service->port());
    ASSERT_TRUE(Polling::until(std::chrono::seconds(30), [&] {
        const auto reply = health.Get("/healthz");
        return reply && QJsonDocument::fromJson(QByteArray::fromStdString(reply->body))
                                .object()
                                .value("working")
                                .toInt() == 1;
    }));
    EXPECT_EQ(transcribe(service->baseUrl(), bytes(TestMedia::read(SharedMedia::silenceFile()))),
              busy);
    const auto occupied = occupying.get();
    ASSERT_TRUE(occupied);
    EXPECT_EQ(occupied->status, 200);
}

TEST_F(ServiceClientTest, AServiceWithoutARecogniserReadsAsUnavailable) {
    ServiceProcess withoutModel({"--model", "/nonexistent/model"});
    EXPECT_EQ(
        transcribe(withoutModel.baseUrl(), bytes(TestMedia::read(SharedMedia::silenceFile()))),
        unavailable);
}

} // namespace
