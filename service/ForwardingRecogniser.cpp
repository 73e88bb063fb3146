#include "ForwardingRecogniser.h"

#include "RequestRefused.h"
#include "ServiceAddress.h"
#include "ZedazidEdize.h"

#include <httplib.h>

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <random>
#include <stdexcept>
#include <thread>

namespace {

constexpr int statusOk = 200;
constexpr int firstServerError = 500;

// The multipart body of an OpenAI-style transcription request. The boundary is
// random, so no recording can contain it by accident.
struct Multipart {
    std::string boundary;
    std::string body;

    Multipart() {
        std::random_device random;
        static constexpr char digits[] = "0123456789abcdef";
        boundary = "wispen-";
        for (int i = 0; i < 32; ++i)
            boundary += digits[random() % 16];
    }

    void add(const std::string& name, std::string_view content, const std::string& file = {},
             const std::string& type = {}) {
        body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + '"';
        if (!file.empty())
            body += "; filename=\"" + file + '"';
        body += "\r\n";
        if (!type.empty())
            body += "Content-Type: " + type + "\r\n";
        body += "\r\n";
        body += content;
        body += "\r\n";
    }

    std::string finished() { return body + "--" + boundary + "--\r\n"; }
};

// Ends a client's exchange when the request's deadline passes, however slowly the
// upstream trickles: the library's own time-outs only bound each read.
class Watchdog {
public:
    Watchdog(httplib::Client& client, Deadline deadline)
        : m_thread([this, &client, deadline] {
            std::unique_lock lock(m_mutex);
            if (!m_done.wait_until(lock, deadline.at(), [this] { return m_finished; })) {
                m_fired = true;
                client.stop();
            }
        }) {}
    ~Watchdog() {
        {
            std::lock_guard lock(m_mutex);
            m_finished = true;
        }
        m_done.notify_one();
        m_thread.join();
    }
    bool fired() {
        std::lock_guard lock(m_mutex);
        return m_fired;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    bool m_fired = false;
    std::thread m_thread;
};

} // namespace

// The same rule as the application's own service address: https anywhere, plain
// http only to a loopback address literal or "localhost", no credentials or query.
ForwardingRecogniser::ForwardingRecogniser(const std::string& baseUrl, const std::string& model)
    : m_model(model) {
    QUrl url;
    try {
        url = ServiceAddress::accept(QString::fromStdString(baseUrl));
    } catch (const ZedazidEdize& error) {
        throw std::invalid_argument("--forward " + baseUrl + ": " +
                                    error.errorDescription().value_or(QString()).toStdString());
    }
    m_origin = url.adjusted(QUrl::RemovePath).toString(QUrl::FullyEncoded).toStdString();
    m_path = url.path(QUrl::FullyEncoded).toStdString() + transcriptionsPath;
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

    Multipart form;
    form.add("file", recording.file, "recording.m4a", "audio/mp4");
    form.add("model", m_model);
    form.add("response_format", "json");
    httplib::Request request;
    request.method = "POST";
    request.path = m_path;
    if (!m_apiKey.empty())
        request.headers.emplace("Authorization", "Bearer " + m_apiKey);
    request.headers.emplace("Content-Type", "multipart/form-data; boundary=" + form.boundary);
    request.body = form.finished();
    // The reply is counted as it arrives, so an endless one costs at most the cap.
    std::string body;
    bool tooLong = false;
    request.content_receiver = [&](const char* data, std::size_t size, std::uint64_t,
                                   std::uint64_t) {
        tooLong = body.size() + size > maximumReplyBytes;
        if (!tooLong)
            body.append(data, size);
        return !tooLong;
    };

    httplib::Response reply;
    httplib::Error error = httplib::Error::Success;
    bool timedOut = false;
    bool sent = false;
    {
        Watchdog watchdog(client, deadline);
        sent = client.send(request, reply, error);
        timedOut = watchdog.fired();
    }
    if (timedOut)
        throw RequestRefused(RequestRefused::unavailable,
                             "The speech server did not answer in time.");
    if (tooLong)
        throw RequestRefused(RequestRefused::badGateway, "The speech server's reply is too long.");
    if (!sent)
        throw RequestRefused(RequestRefused::unavailable,
                             "The speech server at " + m_origin + " could not be reached.");
    if (reply.status == RequestRefused::busy)
        throw RequestRefused(RequestRefused::busy, "The speech server is busy.");
    if (reply.status == RequestRefused::tooLarge)
        throw RequestRefused(RequestRefused::tooLarge, "The speech server refused the size.");
    if (reply.status >= firstServerError)
        throw RequestRefused(RequestRefused::unavailable, "The speech server failed.");
    if (reply.status != statusOk)
        throw RequestRefused(RequestRefused::badGateway,
                             "The speech server refused the recording with status " +
                                 std::to_string(reply.status) + ".");

    const QJsonDocument document = QJsonDocument::fromJson(
        QByteArray::fromRawData(body.data(), static_cast<qsizetype>(body.size())));
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
