#include "ForwardingRecogniser.h"

#include "RequestRefused.h"
#include "ServiceAddress.h"
#include "ZedazidEdize.h"

#include "HttpReplyReader.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpSocket>

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <memory>
#include <random>
#include <stdexcept>

namespace {

constexpr int statusOk = 200;
constexpr int firstServerError = 500;
constexpr qint64 readChunkBytes = 64 * 1024;

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

// What came back from the speech server: its status and body, or why there is none.
struct Exchange {
    HttpReplyReader::Result result = HttpReplyReader::Result::reading;
    int status = 0;
    std::string body;
    bool timedOut = false;
    bool unreachable = false;
};

int millisecondsLeft(Deadline deadline, std::chrono::milliseconds cap) {
    return static_cast<int>(std::min(deadline.remaining(), cap).count());
}

// Sends `request` and reads the reply with the same reader the application uses for
// ours, so the status line and headers, the body and the time taken are all bounded
// whatever the server sends: a server that trickles, never ends a header line or
// never ends its body costs at most the limits. Blocking is fine on a worker thread.
Exchange exchange(const QUrl& origin, const QByteArray& request, Deadline deadline) {
    using namespace std::chrono;
    const bool secure = origin.scheme() == QLatin1String("https");
    std::unique_ptr<QTcpSocket> socket =
        secure ? std::make_unique<QSslSocket>() : std::make_unique<QTcpSocket>();
    // Bytes wait in the socket only until the reader takes them.
    socket->setReadBufferSize(readChunkBytes);
    const quint16 port = static_cast<quint16>(origin.port(secure ? 443 : 80));
    const milliseconds connectLimit(ForwardingRecogniser::connectTimeoutMs);
    Exchange out;
    bool connected = false;
    if (secure) {
        auto* tls = static_cast<QSslSocket*>(socket.get());
        // Like OpenSSL's own clients, trust the certificates SSL_CERT_FILE names
        // instead of the system's when it is set.
        if (const char* file = std::getenv("SSL_CERT_FILE")) {
            QSslConfiguration configuration = tls->sslConfiguration();
            configuration.setCaCertificates(
                QSslCertificate::fromPath(QString::fromLocal8Bit(file)));
            tls->setSslConfiguration(configuration);
        }
        tls->connectToHostEncrypted(origin.host(), port);
        connected = tls->waitForEncrypted(millisecondsLeft(deadline, connectLimit));
    } else {
        socket->connectToHost(origin.host(), port);
        connected = socket->waitForConnected(millisecondsLeft(deadline, connectLimit));
    }
    if (!connected) {
        out.timedOut = deadline.passed();
        out.unreachable = !out.timedOut;
        return out;
    }
    const milliseconds uncapped(std::numeric_limits<int>::max());
    socket->write(request);
    while (socket->bytesToWrite() > 0)
        if (!socket->waitForBytesWritten(millisecondsLeft(deadline, uncapped))) {
            out.timedOut = deadline.passed();
            out.unreachable = !out.timedOut;
            return out;
        }
    HttpReplyReader reader(static_cast<qint64>(ForwardingRecogniser::maximumReplyBytes));
    while (out.result == HttpReplyReader::Result::reading) {
        if (socket->bytesAvailable() > 0) {
            out.result = reader.read(socket->read(readChunkBytes));
        } else if (socket->state() != QAbstractSocket::ConnectedState) {
            out.result = reader.end();
        } else if (deadline.passed()) {
            out.timedOut = true;
            return out;
        } else {
            socket->waitForReadyRead(millisecondsLeft(deadline, uncapped));
        }
    }
    out.status = reader.status();
    out.body = reader.body().toStdString();
    return out;
}

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
    m_origin = url.adjusted(QUrl::RemovePath);
    m_path = url.path(QUrl::FullyEncoded).toStdString() + transcriptionsPath;
    if (const char* key = std::getenv(apiKeyVariable))
        m_apiKey = key;
}

std::string ForwardingRecogniser::recognise(const Recording& recording, Deadline deadline) {
    if (deadline.passed())
        throw RequestRefused(RequestRefused::unavailable, "The request was abandoned.");

    Multipart form;
    form.add("file", recording.file, "recording.m4a", "audio/mp4");
    form.add("model", m_model);
    form.add("response_format", "json");
    const std::string body = form.finished();
    std::string head = "POST " + m_path + " HTTP/1.1\r\nHost: " +
                       m_origin.authority(QUrl::FullyEncoded).toStdString() +
                       "\r\nContent-Type: multipart/form-data; boundary=" + form.boundary +
                       "\r\nContent-Length: " + std::to_string(body.size()) +
                       "\r\nAccept: application/json\r\nConnection: close\r\n";
    if (!m_apiKey.empty())
        head += "Authorization: Bearer " + m_apiKey + "\r\n";
    const QByteArray request = QByteArray::fromStdString(head + "\r\n" + body);

    using Result = HttpReplyReader::Result;
    const Exchange reply = exchange(m_origin, request, deadline);
    if (reply.timedOut)
        throw RequestRefused(RequestRefused::unavailable,
                             "The speech server did not answer in time.");
    if (reply.result == Result::bodyTooLarge || reply.result == Result::headersTooLarge)
        throw RequestRefused(RequestRefused::badGateway, "The speech server's reply is too long.");
    if (reply.result == Result::notHttp)
        throw RequestRefused(RequestRefused::badGateway, "The speech server's reply is not HTTP.");
    if (reply.result != Result::complete)
        throw RequestRefused(RequestRefused::unavailable,
                             "The speech server at " + originText() + " could not be reached.");
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
        QByteArray::fromRawData(reply.body.data(), static_cast<qsizetype>(reply.body.size())));
    const QJsonValue text = document.object().value(QLatin1String("text"));
    if (!document.isObject() || !text.isString())
        throw RequestRefused(RequestRefused::badGateway,
                             "The speech server's reply has no \"text\".");
    return text.toString().trimmed().toStdString();
}

std::string ForwardingRecogniser::originText() const {
    return m_origin.toString(QUrl::FullyEncoded).toStdString();
}

std::string ForwardingRecogniser::privacyNote() const {
    return "Speech is recognised by the server at " + originText() +
           ", which this service was started to forward to: each recording is sent there "
           "once, and that server's own terms apply to it. This service itself stores "
           "nothing.";
}
