#include "ForwardingRecogniser.h"

#include "RequestRefused.h"

#include <httplib.h>

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdlib>
#include <regex>
#include <stdexcept>

namespace {

constexpr int statusOk = 200;
constexpr int firstServerError = 500;

bool isLoopback(const std::string& host) {
    return host == "localhost" || host == "[::1]" || host.starts_with("127.");
}

} // namespace

ForwardingRecogniser::ForwardingRecogniser(const std::string& baseUrl, const std::string& model)
    : m_model(model) {
    static const std::regex form(
        R"(^(https?)://(\[[0-9A-Fa-f:.]+\]|[A-Za-z0-9.-]+)(:[0-9]{1,5})?(/[^?#]*)?$)");
    std::smatch parts;
    if (!std::regex_match(baseUrl, parts, form))
        throw std::invalid_argument("--forward needs a URL such as http://127.0.0.1:8080, not \"" +
                                    baseUrl + "\".");
    const std::string scheme = parts[1];
    const std::string host = parts[2];
    if (scheme == "http" && !isLoopback(host))
        throw std::invalid_argument("--forward sends audio unencrypted; use https for " + host +
                                    ".");
    m_origin = scheme + "://" + host + parts[3].str();
    std::string prefix = parts[4];
    while (prefix.ends_with('/'))
        prefix.pop_back();
    m_path = prefix + transcriptionsPath;
    if (const char* key = std::getenv(apiKeyVariable))
        m_apiKey = key;
}

std::string ForwardingRecogniser::recognise(const Recording& recording, Deadline deadline) {
    using namespace std::chrono;
    const auto remaining = deadline.remaining();
    if (remaining.count() == 0)
        throw RequestRefused(RequestRefused::unavailable, "The request was abandoned.");

    httplib::Client client(m_origin);
    client.enable_server_certificate_verification(true);
    client.set_follow_location(false);
    const auto connectTimeout = std::min(remaining, milliseconds(connectTimeoutMs));
    client.set_connection_timeout(duration_cast<seconds>(connectTimeout).count(),
                                  duration_cast<microseconds>(connectTimeout % seconds(1)).count());
    client.set_read_timeout(duration_cast<seconds>(remaining).count(),
                            duration_cast<microseconds>(remaining % seconds(1)).count());
    client.set_write_timeout(duration_cast<seconds>(remaining).count(),
                             duration_cast<microseconds>(remaining % seconds(1)).count());

    httplib::Headers headers;
    if (!m_apiKey.empty())
        headers.emplace("Authorization", "Bearer " + m_apiKey);
    const httplib::MultipartFormDataItems items = {
        {"file", std::string(recording.file), "recording.m4a", "audio/mp4"},
        {"model", m_model, "", ""},
        {"response_format", "json", "", ""},
    };
    const auto reply = client.Post(m_path, headers, items);
    if (!reply)
        throw RequestRefused(RequestRefused::unavailable,
                             "The speech server at " + m_origin + " could not be reached.");
    if (reply->status == RequestRefused::busy)
        throw RequestRefused(RequestRefused::busy, "The speech server is busy.");
    if (reply->status == RequestRefused::tooLarge)
        throw RequestRefused(RequestRefused::tooLarge, "The speech server refused the size.");
    if (reply->status >= firstServerError)
        throw RequestRefused(RequestRefused::unavailable, "The speech server failed.");
    if (reply->status != statusOk)
        throw RequestRefused(RequestRefused::badGateway,
                             "The speech server refused the recording with status " +
                                 std::to_string(reply->status) + ".");

    const QJsonDocument document = QJsonDocument::fromJson(
        QByteArray::fromRawData(reply->body.data(), static_cast<qsizetype>(reply->body.size())));
    const QJsonValue text = document.object().value(QLatin1String("text"));
    if (!document.isObject() || !text.isString())
        throw RequestRefused(RequestRefused::badGateway,
                             "The speech server's reply has no \"text\".");
    return text.toString().trimmed().toStdString();
}

std::string ForwardingRecogniser::privacyNote() const {
    return "Speech is recognised by the server at " + m_origin +
           ", which this service was started to forward to: each recording is sent there "
           "once, and that server's own terms apply to it. This service itself stores "
           "nothing.";
}
