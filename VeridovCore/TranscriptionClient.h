#pragma once

#include "Transcriber.h"

#include <QObject>
#include <QPointer>

#include <memory>
#include <vector>

class QTcpSocket;
namespace TranscriptionContract {
struct Request;
}

// Performs the one network exchange of the system: one HTTP/1.1 request per call
// over its own connection, read by HttpReplyReader within the reply limits, so
// that nothing is cached, no cookie is kept or sent and no redirect is followed.
// Everything runs on the thread that owns the client, where the reply is read
// only as fast as that thread takes it; completions arrive through its event loop.
class TranscriptionClient final : public QObject, public Transcriber {
    Q_OBJECT
public:
    static constexpr int idleTimeoutMs = 65000;
    static constexpr int totalTimeoutMs = 75000;
    // The most a connection buffers before the client has read it.
    static constexpr qint64 readBufferBytes = 64 * 1024;

    explicit TranscriptionClient(QObject* parent = nullptr);
    // Running calls are dropped: their transfers are aborted and their completions
    // never run.
    ~TranscriptionClient() override;

    // A transport failure (refused, reset, host not found, a time-out, a reply cut
    // short) completes with TransportError; a reply that is not HTTP with
    // ZedazidEdize; an oversized reply, and any HTTP status, as
    // TranscriptionContract::transcript decides. Calls after invalidate() complete
    // with TransportError (OperationCanceledError) without any transfer.
    std::shared_ptr<PendingTranscription> transcribe(const QByteArray& audio,
                                                     Completion done) override;
    // Running calls complete with TransportError (OperationCanceledError).
    void invalidate() override;

    // Tests shorten the time-outs so that a stalled server costs seconds, not minutes.
    void setTimeouts(int idleMs, int totalMs);

private:
    class Call;

    void start(const std::shared_ptr<Call>& call, const TranscriptionContract::Request& request);
    void readReply(const std::shared_ptr<Call>& call, bool ended);
    // Closes the call's connection; the outcome is delivered unless it was cancelled.
    void settle(const std::shared_ptr<Call>& call, TranscriptionOutcome outcome);
    void close(Call& call);
    void deliverLater(const std::shared_ptr<Call>& call, TranscriptionOutcome outcome);
    void forget(const Call* call);

    std::vector<std::shared_ptr<Call>> m_calls;
    int m_idleTimeoutMs = idleTimeoutMs;
    int m_totalTimeoutMs = totalTimeoutMs;
    bool m_invalidated = false;
};
