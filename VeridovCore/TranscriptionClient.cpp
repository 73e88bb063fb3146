#include "TranscriptionClient.h"

#include "HttpReplyReader.h"
#include "TranscriptionContract.h"
#include "TransportError.h"
#include "ZedazidEdize.h"

#include <QSslSocket>
#include <QTimer>

#include <algorithm>

namespace {

const QString notHttp = QStringLiteral("Wispen couldn\u2019t read the response.");
const QString stalled = QStringLiteral("The transcription service stopped sending data.");
const QString tooSlow = QStringLiteral("The transcription service took too long to answer.");
const QString shutDown = QStringLiteral("The transcription client has been shut down.");
const QString cutShort =
    QStringLiteral("The transcription service closed the connection before it answered.");

TranscriptionOutcome failure(std::exception_ptr error) {
    return {std::nullopt, error};
}

template <typename Error> TranscriptionOutcome failure(const Error& error) {
    return failure(std::make_exception_ptr(error));
}

QNetworkReply::NetworkError networkError(QAbstractSocket::SocketError error) {
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return QNetworkReply::ConnectionRefusedError;
    case QAbstractSocket::RemoteHostClosedError:
        return QNetworkReply::RemoteHostClosedError;
    case QAbstractSocket::HostNotFoundError:
        return QNetworkReply::HostNotFoundError;
    case QAbstractSocket::SocketTimeoutError:
        return QNetworkReply::TimeoutError;
    case QAbstractSocket::SslHandshakeFailedError:
        return QNetworkReply::SslHandshakeFailedError;
    default:
        return QNetworkReply::UnknownNetworkError;
    }
}

// The request line and headers; the body follows as it is.
QByteArray head(const TranscriptionContract::Request& built) {
    const QUrl url = built.request.url();
    const QByteArray path = url.path(QUrl::FullyEncoded).toLatin1();
    QByteArray head = built.method + ' ' + (path.isEmpty() ? "/" : path) + " HTTP/1.1\r\n" +
                      "Host: " + url.authority(QUrl::FullyEncoded).toLatin1() + "\r\n";
    for (const QByteArray& name : built.request.rawHeaderList())
        head += name + ": " + built.request.rawHeader(name) + "\r\n";
    head += "Content-Length: " + QByteArray::number(built.body.size()) + "\r\n";
    head += "Connection: close\r\n\r\n";
    return head;
}

TranscriptionOutcome outcomeOf(HttpReplyReader::Result result, const HttpReplyReader& reader) {
    using Result = HttpReplyReader::Result;
    try {
        switch (result) {
        case Result::complete:
            return {TranscriptionContract::transcript(reader.body(), reader.status()), nullptr};
        case Result::headersTooLarge:
        case Result::bodyTooLarge:
            return failure(TranscriptionContract::oversizedReply());
        case Result::notHttp:
            return failure(ZedazidEdize::message(notHttp));
        case Result::truncated:
        case Result::reading:
            break;
        }
    } catch (...) {
        return failure(std::current_exception());
    }
    return failure(TransportError(QNetworkReply::RemoteHostClosedError, cutShort));
}

} // namespace

class TranscriptionClient::Call final : public PendingTranscription {
public:
    Call(TranscriptionClient* client, Completion done)
        : client(client)
        , done(std::move(done)) {}

    void cancel() override {
        if (cancelled)
            return;
        cancelled = true;
        done = nullptr;
        if (client)
            client->close(*this);
    }

    QPointer<TranscriptionClient> client;
    Completion done;
    QPointer<QTcpSocket> socket;
    QPointer<QTimer> idle;
    HttpReplyReader reader{TranscriptionContract::maximumReplyBytes};
    bool cancelled = false;
    bool delivered = false;
};

TranscriptionClient::TranscriptionClient(QObject* parent)
    : QObject(parent) {}

TranscriptionClient::~TranscriptionClient() {
    const auto calls = m_calls;
    for (const auto& call : calls)
        call->cancel();
}

void TranscriptionClient::setTimeouts(int idleMs, int totalMs) {
    m_idleTimeoutMs = idleMs;
    m_totalTimeoutMs = totalMs;
}

std::shared_ptr<PendingTranscription> TranscriptionClient::transcribe(const QByteArray& audio,
                                                                      Completion done) {
    auto call = std::make_shared<Call>(this, std::move(done));
    if (m_invalidated) {
        deliverLater(call,
                     failure(TransportError(QNetworkReply::OperationCanceledError, shutDown)));
        return call;
    }
    try {
        start(call, TranscriptionContract::request(audio, QUuid::createUuid()));
    } catch (...) {
        deliverLater(call, failure(std::current_exception()));
    }
    return call;
}

void TranscriptionClient::start(const std::shared_ptr<Call>& call,
                                const TranscriptionContract::Request& request) {
    const QUrl url = request.request.url();
    const bool secure = url.scheme() == QLatin1String("https");
    QTcpSocket* socket = secure ? new QSslSocket(this) : new QTcpSocket(this);
    // The socket takes no more than this from the system until the reply is read:
    // a reply over the limits costs the reader's limits, not the sender's pace.
    socket->setReadBufferSize(readBufferBytes);
    call->socket = socket;
    m_calls.push_back(call);

    auto* idle = new QTimer(socket);
    idle->setSingleShot(true);
    idle->setInterval(m_idleTimeoutMs);
    call->idle = idle;
    connect(idle, &QTimer::timeout, this, [this, call] {
        settle(call, failure(TransportError(QNetworkReply::TimeoutError, stalled)));
    });
    auto* whole = new QTimer(socket);
    whole->setSingleShot(true);
    whole->setTimerType(Qt::PreciseTimer);
    connect(whole, &QTimer::timeout, this, [this, call] {
        settle(call, failure(TransportError(QNetworkReply::TimeoutError, tooSlow)));
    });

    auto send = [socket, idle, message = head(request), body = request.body] {
        idle->start();
        socket->write(message);
        socket->write(body);
    };
    if (secure)
        connect(static_cast<QSslSocket*>(socket), &QSslSocket::encrypted, this, send);
    else
        connect(socket, &QTcpSocket::connected, this, send);
    connect(socket, &QTcpSocket::bytesWritten, idle, qOverload<>(&QTimer::start));
    connect(socket, &QTcpSocket::readyRead, this, [this, call] { readReply(call, false); });
    connect(socket, &QTcpSocket::disconnected, this, [this, call] { readReply(call, true); });
    connect(socket, &QTcpSocket::errorOccurred, this,
            [this, call, socket](QAbstractSocket::SocketError error) {
                // The server closing is the end of the reply; `disconnected` reads it.
                if (error == QAbstractSocket::RemoteHostClosedError)
                    return;
                settle(call, failure(TransportError(networkError(error), socket->errorString())));
            });

    const quint16 port = quint16(url.port(secure ? 443 : 80));
    idle->start();
    whole->start(m_totalTimeoutMs);
    if (secure)
        static_cast<QSslSocket*>(socket)->connectToHostEncrypted(url.host(), port);
    else
        socket->connectToHost(url.host(), port);
}

void TranscriptionClient::readReply(const std::shared_ptr<Call>& call, bool ended) {
    QTcpSocket* socket = call->socket;
    if (!socket)
        return;
    call->idle->start();
    HttpReplyReader::Result result = HttpReplyReader::Result::reading;
    while (result == HttpReplyReader::Result::reading && socket->bytesAvailable() > 0)
        result = call->reader.read(socket->read(readBufferBytes));
    if (result == HttpReplyReader::Result::reading && ended)
        result = call->reader.end();
    if (result != HttpReplyReader::Result::reading)
        settle(call, outcomeOf(result, call->reader));
}

void TranscriptionClient::settle(const std::shared_ptr<Call>& call, TranscriptionOutcome outcome) {
    if (!call->socket)
        return;
    close(*call);
    if (!call->cancelled)
        deliverLater(call, std::move(outcome));
}

void TranscriptionClient::close(Call& call) {
    if (QTcpSocket* socket = call.socket) {
        call.socket = nullptr;
        disconnect(socket, nullptr, this, nullptr);
        if (call.idle)
            call.idle->stop();
        socket->abort();
        socket->deleteLater();
    }
    forget(&call);
}

void TranscriptionClient::deliverLater(const std::shared_ptr<Call>& call,
                                       TranscriptionOutcome outcome) {
    // Queued even when the outcome is known at once, so that the caller never sees
    // its completion run inside transcribe(), invalidate() or cancel().
    QMetaObject::invokeMethod(
        this,
        [call, outcome = std::move(outcome)] {
            if (call->cancelled || call->delivered)
                return;
            call->delivered = true;
            Completion done = std::move(call->done);
            call->done = nullptr;
            if (done)
                done(outcome);
        },
        Qt::QueuedConnection);
}

void TranscriptionClient::forget(const Call* call) {
    m_calls.erase(std::remove_if(m_calls.begin(), m_calls.end(),
                                 [call](const auto& held) { return held.get() == call; }),
                  m_calls.end());
}

void TranscriptionClient::invalidate() {
    m_invalidated = true;
    const auto calls = m_calls;
    for (const auto& call : calls)
        settle(call, failure(TransportError(QNetworkReply::OperationCanceledError, shutDown)));
}
