#pragma once

#include "Transcriber.h"

#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>

#include <memory>
#include <vector>

class QNetworkReply;

// Performs the one network exchange of the system over a private session that
// stores no cookies, caches nothing and follows no redirects. Everything runs on
// the thread that owns the client; completions arrive through its event loop.
class TranscriptionClient final : public QObject, public Transcriber {
    Q_OBJECT
public:
    static constexpr int idleTimeoutMs = 65000;
    static constexpr int totalTimeoutMs = 75000;

    explicit TranscriptionClient(QObject* parent = nullptr);
    // Running calls are dropped: their transfers are aborted and their completions
    // never run.
    ~TranscriptionClient() override;

    // A transport failure (refused, reset, host not found, a time-out) completes with
    // TransportError; a reply without an HTTP status with ZedazidEdize; any HTTP
    // status as TranscriptionContract::transcript decides. Calls after invalidate()
    // complete with TransportError (OperationCanceledError) without any transfer.
    std::shared_ptr<PendingTranscription> transcribe(const QByteArray& audio,
                                                     Completion done) override;
    // Creates the session if there was none; running calls complete with
    // TransportError (OperationCanceledError).
    void invalidate() override;

    // Tests shorten the time-outs so that a stalled server costs seconds, not minutes.
    void setTimeouts(int idleMs, int totalMs);

    // The session, once created; null before first use.
    QNetworkAccessManager* session() const { return m_session; }

private:
    class Call;

    QNetworkAccessManager* ensureSession();
    void start(const std::shared_ptr<Call>& call, QNetworkReply* reply);
    void finish(const std::shared_ptr<Call>& call);
    void deliverLater(const std::shared_ptr<Call>& call, TranscriptionOutcome outcome);
    void forget(const Call* call);

    QPointer<QNetworkAccessManager> m_session;
    std::vector<std::shared_ptr<Call>> m_calls;
    int m_idleTimeoutMs = idleTimeoutMs;
    int m_totalTimeoutMs = totalTimeoutMs;
    bool m_invalidated = false;
};
