#include "TranscriptionClient.h"

#include "TranscriptionContract.h"
#include "TransportError.h"
#include "ZedazidEdize.h"

#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QTimer>

#include <algorithm>

namespace {

const QString notHttp = QStringLiteral("Wispen couldn\u2019t read the response.");
const QString stalled = QStringLiteral("The transcription service stopped sending data.");
const QString tooSlow = QStringLiteral("The transcription service took too long to answer.");
const QString shutDown = QStringLiteral("The transcription client has been shut down.");

// A cookie jar that keeps nothing and offers nothing.
class NoCookies final : public QNetworkCookieJar {
public:
    using QNetworkCookieJar::QNetworkCookieJar;
    QList<QNetworkCookie> cookiesForUrl(const QUrl&) const override { return {}; }
    bool setCookiesFromUrl(const QList<QNetworkCookie>&, const QUrl&) override { return false; }
    bool insertCookie(const QNetworkCookie&) override { return false; }
    bool updateCookie(const QNetworkCookie&) override { return false; }
};

// Failures of the connection itself (codes 1 to 199: refused, closed, host not
// found, time-out, TLS, proxy): whatever status arrived, the body is incomplete.
bool isTransportFailure(QNetworkReply::NetworkError error) {
    return error != QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied;
}

TranscriptionOutcome failure(std::exception_ptr error) {
    return {std::nullopt, error};
}

template <typename Error> TranscriptionOutcome failure(const Error& error) {
    return failure(std::make_exception_ptr(error));
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
        if (reply)
            reply->abort();
        if (client)
            client->forget(this);
    }

    QPointer<TranscriptionClient> client;
    Completion done;
    QPointer<QNetworkReply> reply;
    QByteArray body;
    bool cancelled = false;
    bool delivered = false;
    bool overran = false;
    bool timedOut = false;
    bool invalidated = false;
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

QNetworkAccessManager* TranscriptionClient::ensureSession() {
    if (!m_session) {
        auto* session = new QNetworkAccessManager(this);
        session->setCookieJar(new NoCookies(session));
        session->setCache(nullptr);
        session->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
        session->setAutoDeleteReplies(false);
        m_session = session;
    }
    return m_session;
}

std::shared_ptr<PendingTranscription> TranscriptionClient::transcribe(const QByteArray& audio,
                                                                      Completion done) {
    auto call = std::make_shared<Call>(this, std::move(done));
    if (m_invalidated) {
        deliverLater(call,
                     failure(TransportError(QNetworkReply::OperationCanceledError, shutDown)));
        return call;
    }

    TranscriptionContract::Request built;
    try {
        built = TranscriptionContract::request(audio, QUuid::createUuid());
    } catch (...) {
        deliverLater(call, failure(std::current_exception()));
        return call;
    }

    QNetworkRequest request = built.request;
    request.setTransferTimeout(m_idleTimeoutMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    start(call, ensureSession()->sendCustomRequest(request, built.method, built.body));
    return call;
}

void TranscriptionClient::start(const std::shared_ptr<Call>& call, QNetworkReply* reply) {
    call->reply = reply;
    m_calls.push_back(call);

    // The body is collected as it arrives so that a reply larger than any answer the
    // service may give is cut off instead of filling memory.
    connect(reply, &QNetworkReply::readyRead, this, [call, reply] {
        if (call->overran)
            return;
        call->body += reply->readAll();
        if (call->body.size() > TranscriptionContract::maximumReplyBytes) {
            call->overran = true;
            // Not from inside the reply's own signal: Qt expects the read to return first.
            QMetaObject::invokeMethod(reply, &QNetworkReply::abort, Qt::QueuedConnection);
        }
    });
    connect(reply, &QNetworkReply::finished, this, [this, call] { finish(call); });

    auto* whole = new QTimer(reply);
    whole->setSingleShot(true);
    whole->setTimerType(Qt::PreciseTimer);
    connect(whole, &QTimer::timeout, reply, [call, reply] {
        call->timedOut = true;
        reply->abort();
    });
    whole->start(m_totalTimeoutMs);
}

void TranscriptionClient::finish(const std::shared_ptr<Call>& call) {
    QNetworkReply* reply = call->reply;
    if (!reply)
        return;
    call->reply = nullptr;
    reply->deleteLater();
    forget(call.get());
    if (call->cancelled)
        return;

    if (!call->overran && reply->isOpen())
        call->body += reply->readAll();
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const QNetworkReply::NetworkError error = reply->error();

    TranscriptionOutcome outcome;
    try {
        if (call->overran) {
            // The size rule comes before any status: the partial body already says no.
            outcome.transcript = TranscriptionContract::transcript(call->body, status.toInt());
        } else if (call->timedOut) {
            outcome = failure(TransportError(QNetworkReply::TimeoutError, tooSlow));
        } else if (call->invalidated) {
            outcome = failure(TransportError(QNetworkReply::OperationCanceledError, shutDown));
        } else if (error == QNetworkReply::OperationCanceledError ||
                   error == QNetworkReply::TimeoutError) {
            // Nobody else aborts this reply: it is the idle time-out of the transfer.
            outcome = failure(TransportError(QNetworkReply::TimeoutError, stalled));
        } else if (isTransportFailure(error)) {
            outcome = failure(TransportError(error, reply->errorString()));
        } else if (!status.isValid()) {
            outcome = failure(ZedazidEdize::message(notHttp));
        } else {
            outcome.transcript = TranscriptionContract::transcript(call->body, status.toInt());
        }
    } catch (...) {
        outcome = failure(std::current_exception());
    }
    call->body.clear();
    deliverLater(call, std::move(outcome));
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
    ensureSession();
    const auto calls = m_calls;
    for (const auto& call : calls) {
        call->invalidated = true;
        if (call->reply)
            call->reply->abort();
    }
}
