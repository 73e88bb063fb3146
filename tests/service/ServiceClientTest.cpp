// The application's own TranscriptionClient against the real service: the replies
// the service gives arrive as the sentence the user should read.

#include "LocalizedError.h"
#include "ServiceAddress.h"
#include "ServiceProcess.h"
#include "SharedMedia.h"
#include "TranscriptionClient.h"
#include "TranscriptionContract.h"
#include "WaitUntil.h"

#include <gtest/gtest.h>

namespace {

const QString tooLong = QStringLiteral("Keep each recording under three minutes.");

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
    if (!waitUntil([&] { return outcome.has_value(); }, std::chrono::seconds(120)))
        return QStringLiteral("(no completion)");
    try {
        return outcome->get();
    } catch (const LocalizedError& error) {
        return error.errorDescription().value_or(QStringLiteral("(no description)"));
    }
}

TEST(ServiceClient, SpeechComesBackAsItsWordsAndRefusalsAsTheirSentences) {
    ServiceProcess service({"--workers", "1", "--grammar", SharedMedia::grammarFile()});
    EXPECT_EQ(transcribe(service.baseUrl(), bytes(TestMedia::read(SharedMedia::sentenceFile(4)))),
              QString::fromStdString(SharedMedia::sentences()[4]));
    EXPECT_EQ(transcribe(service.baseUrl(), "not a recording"), tooLong);
    // 3 MiB of bytes that are all slashes in Base64: the client's longest body. The
    // service reads it and finds no audio in it, rather than refusing its size.
    EXPECT_EQ(
        transcribe(service.baseUrl(), QByteArray(TranscriptionContract::maximumBytes, '\xff')),
        tooLong);

    ServiceProcess withoutModel({"--model", "/nonexistent/model"});
    EXPECT_EQ(
        transcribe(withoutModel.baseUrl(), bytes(TestMedia::read(SharedMedia::silenceFile()))),
        QStringLiteral("Dictation is temporarily unavailable. Try again shortly."));
    EXPECT_EQ(withoutModel.stop(), 0) << "a termination request ends it cleanly";
    ServiceAddress::configure(QString::fromLatin1(ServiceAddress::defaultBaseUrl));
}

} // namespace
