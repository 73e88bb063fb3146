#pragma once

#include <QByteArray>
#include <QString>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

// What one transcription attempt ended with: the transcript, or the error that
// ended it (ZedazidEdize, TransportError, or another LocalizedError).
struct TranscriptionOutcome {
    std::optional<QString> transcript;
    std::exception_ptr error;

    // The transcript, or rethrows the error.
    QString get() const {
        if (error)
            std::rethrow_exception(error);
        return transcript.value_or(QString());
    }
};

// A running transcription. Cancelling aborts the transfer; the completion is then
// never called. Dropping the handle does not cancel.
class PendingTranscription {
public:
    virtual ~PendingTranscription() = default;
    virtual void cancel() = 0;
};

// Sends recordings to the transcription service. The controller depends on this
// seam so that its tests can answer with whatever they need.
class Transcriber {
public:
    using Completion = std::function<void(const TranscriptionOutcome&)>;

    virtual ~Transcriber() = default;

    // Starts an upload; `done` runs later on the calling thread's event loop, exactly
    // once unless the call is cancelled. Errors found before any network activity
    // (empty or oversized audio) also arrive through `done`.
    virtual std::shared_ptr<PendingTranscription> transcribe(const QByteArray& audio,
                                                             Completion done) = 0;

    // Ends the client for good: running transfers are aborted.
    virtual void invalidate() = 0;
};
