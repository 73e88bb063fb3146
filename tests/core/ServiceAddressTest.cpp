#include "ServiceAddress.h"
#include "QtPrinters.h"
#include "TranscriptionContract.h"
#include "ZedazidEdize.h"

#include <QScopeGuard>

#include <gtest/gtest.h>

namespace {

// The accepted address, or the sentence it was refused with.
QString acceptedOrRefusal(const QString& text) {
    try {
        return ServiceAddress::accept(text).toString();
    } catch (const ZedazidEdize& error) {
        return *error.errorDescription();
    }
}

} // namespace

TEST(ServiceAddress, AcceptsHttpsAnywhereAndHttpOnlyOnLoopback) {
    const QString refused = "The transcription service address ";
    // Each outcome with the addresses that must give it; an empty outcome: accepted unchanged.
    const std::pair<QString, QStringList> rows[] = {
        {{},
         {"https://192.168.1.20", "http://127.8.9.10:1234", "http://[::1]:8731",
          "http://localhost:8731"}},
        {"https://speech.example.com:8443", {"  HTTPS://Speech.Example.com:8443/  "}},
        {"http://localhost", {"http://LocalHost"}},
        {"Wispen only sends recordings over https, or over http to a service on this computer.",
         {"http://example.com", "http://128.0.0.1", "http://localhost.example.com",
          "ftp://127.0.0.1"}},
        {refused + "is not a valid web address.",
         {"   ", "127.0.0.1:8731", "https://", "http:/api"}},
        {refused + "must not contain a user name or password.", {"http://user@localhost"}},
        {refused + "must not contain a query or a fragment.",
         {"https://example.com/?", "https://example.com/#top"}}};
    for (const auto& [outcome, texts] : rows)
        for (const QString& text : texts)
            EXPECT_EQ(acceptedOrRefusal(text), outcome.isEmpty() ? text : outcome)
                << text.toStdString();
}

// A refused address leaves the service in use.
TEST(ServiceAddress, EndpointKeepsABasePathOfTheServiceInUse) {
    const auto restore = qScopeGuard(
        [] { ServiceAddress::configure(QString::fromLatin1(ServiceAddress::defaultBaseUrl)); });
    EXPECT_EQ(TranscriptionContract::endpoint(),
              QUrl(QStringLiteral("http://127.0.0.1:8731/api/transcribe")));
    const std::pair<QString, QLatin1String> rows[] = {
        {"https://example.com/wispen//",
         QLatin1String("https://example.com/wispen/api/transcribe")},
        {"https://example.com/a%20b", QLatin1String("https://example.com/a%20b/api/transcribe")}};
    for (const auto& [base, endpoint] : rows) {
        ServiceAddress::configure(base);
        EXPECT_THROW(ServiceAddress::configure(QStringLiteral("http://example.com")), ZedazidEdize);
        EXPECT_EQ(TranscriptionContract::endpoint().toString(QUrl::FullyEncoded), endpoint);
    }
}
