#pragma once

#include "Transcriber.h"

#include <QObject>
#include <QPointer>

class QNetworkAccessManager;

// Performs the one network exchange of the system over a private session that
// stores no cookies, caches nothing and follows no redirects.
class TranscriptionClient final : public QObject, public Transcriber {
    Q_OBJECT
public:
    static constexpr int idleTimeoutMs = 65000;
    static constexpr int totalTimeoutMs = 75000;

    explicit TranscriptionClient(QObject* parent = nullptr);
    ~TranscriptionClient() override;

    std::shared_ptr<PendingTranscription> transcribe(const QByteArray& audio,
                                                     Completion done) override;
    void invalidate() override;

    // Tests shorten the time-outs so that a stalled server costs seconds, not minutes.
    void setTimeouts(int idleMs, int totalMs);

    // The session, once created; null before first use.
    QNetworkAccessManager* session() const { return m_session; }

private:
    QNetworkAccessManager* ensureSession();

    QPointer<QNetworkAccessManager> m_session;
    int m_idleTimeoutMs = idleTimeoutMs;
    int m_totalTimeoutMs = totalTimeoutMs;
    bool m_invalidated = false;
};
