// The application's own TranscriptionClient against the real service: a refusal the
// service gives arrives as the sentence the user should read. Words coming back are
// checked end to end by the dictation test.

#include "LocalizedError.h"
#include "ServiceAddress.h"
#include "ServiceProcess.h"
#include "SharedMedia.h"
#include "TranscriptionClient.h"
#include "WaitUntil.h"

#include <gtest/gtest.h>

namespace {

TEST(ServiceClient, AServiceWithoutItsModelReadsAsUnavailableAndEndsCleanly) {
    ServiceProcess withoutModel({"--model", "/nonexistent/model"});
    ServiceAddress::configure(QStringLiteral("http://127.0.0.1:%1").arg(withoutModel.port()));
    TranscriptionClient client;
    std::optional<TranscriptionOutcome> outcome;
    client.transcribe(QByteArray::fromStdString(SharedMedia::read(SharedMedia::silenceFile())),
                      [&](const TranscriptionOutcome& done) { outcome = done; });
    ASSERT_TRUE(waitUntil([&] { return outcome.has_value(); }, std::chrono::seconds(120)));
    try {
        outcome->get();
        ADD_FAILURE() << "transcribed without a model";
    } catch (const LocalizedError& error) {
        EXPECT_EQ(error.errorDescription().value_or(QString()),
                  QStringLiteral("Dictation is temporarily unavailable. Try again shortly."));
    }
    EXPECT_EQ(withoutModel.stop(), 0) << "a termination request ends it cleanly";
    ServiceAddress::configure(QString::fromLatin1(ServiceAddress::defaultBaseUrl));
}

} // namespace
