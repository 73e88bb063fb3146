// Submission of a recording, retry, and delivery of the transcript into the captured
// field or onto the clipboard.
#include "ReradazIzavo.h"

#include "PasteTarget.h"
#include "Pasteboard.h"
#include "QueuedCall.h"
#include "RecordingFileError.h"
#include "StatusText.h"
#include "Transcriber.h"
#include "ZedazidEdize.h"

#include <QFile>

namespace {

// The whole recording; throws ZedazidEdize::emptyAudio when there is no recording
// and RecordingFileError when it cannot be read.
QByteArray readRecording(const std::optional<QString>& path) {
    if (!path)
        throw ZedazidEdize::emptyAudio();
    QFile file(*path);
    if (!file.open(QIODevice::ReadOnly))
        throw RecordingFileError::reading(file.errorString());
    QByteArray audio = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw RecordingFileError::reading(file.errorString());
    return audio;
}

} // namespace

void ReradazIzavo::submit() {
    const std::optional<QUuid> id = m_session.submit();
    if (!id)
        return;
    update(StatusText::transcribing, DetailText::transcribing);
    if (!m_recorder) {
        upload(*id);
        return;
    }
    // Right after the release the recorder still takes in the audio that was on its way
    // and finishes the file; the upload waits for that, in a later turn.
    connect(
        m_recorder.get(), &AudioRecorder::finished, this,
        [this, id = *id](bool complete) { recordingFinished(id, complete); }, Qt::QueuedConnection);
    m_recorder->stop();
}

void ReradazIzavo::upload(const QUuid& id) {
    const QPointer<ReradazIzavo> model(this);
    QByteArray audio;
    try {
        audio = readRecording(m_audioPath);
    } catch (...) {
        TranscriptionOutcome failure{std::nullopt, std::current_exception()};
        queueCall(model, [id, failure](ReradazIzavo& self) { self.submissionEnded(id, failure); });
        return;
    }
    m_task = m_transcriber->transcribe(audio, [model, id](const TranscriptionOutcome& outcome) {
        queueCall(model, [id, outcome](ReradazIzavo& self) { self.submissionEnded(id, outcome); });
    });
}

void ReradazIzavo::submissionEnded(const QUuid& id, const TranscriptionOutcome& outcome) {
    // A cancel, a new dictation or a retry replaced the identifier: the answer is stale.
    if (m_session.id() != id || m_session.phase() != Phase::transcribing)
        return;
    m_task.reset();
    if (outcome.error) {
        m_session.complete(id, false);
        report(outcome.error);
        return;
    }
    m_session.complete(id, true);
    cleanRecording();
    const QString transcript = outcome.transcript.value_or(QString());
    if (transcript.isEmpty()) {
        m_destination.reset();
        update(StatusText::noSpeech, DetailText::noSpeech);
        return;
    }
    setLastTranscript(transcript);
    deliver(transcript);
}

void ReradazIzavo::retry() {
    if (m_phase != Phase::failed)
        return;
    m_destination.reset();
    m_clipboardCount = m_pasteboard->changeCount();
    submit();
}

void ReradazIzavo::deliver(const QString& transcript) {
    if (transcript.trimmed().isEmpty()) {
        m_destination.reset();
        update(StatusText::noSpeech, DetailText::noSpeech);
        return;
    }
    if (m_pasteboard->changeCount() != m_clipboardCount) {
        m_destination.reset();
        update(StatusText::transcriptReady, DetailText::copiedWhileWaiting);
        return;
    }
    if (!copy(transcript)) {
        m_destination.reset();
        return;
    }

    setPasteHint(std::nullopt);
    m_pasteRetries = 0;
    if (m_autoPaste && m_destination) {
        pasteIntoDestination(transcript);
        return;
    }
    m_destination.reset();
    showCopied(m_pasteCaptureFailure);
}

void ReradazIzavo::pasteIntoDestination(QString transcript) {
    std::optional<QString> failure = m_pasteCaptureFailure;
    if (m_destination->paste(transcript, failure)) {
        m_pasteRetry.reset();
        m_destination.reset();
        update(StatusText::pasteSent, DetailText::pasteSent);
        return;
    }
    // Our own shortcut may still hold the keyboard, or have let it go so recently that
    // the field has not taken its focus back: ask again shortly, a bounded number of times.
    if (m_destination->focusReturning() && m_pasteRetries < maxPasteRetries) {
        if (!m_pasteRetry) {
            m_pasteRetry = m_timers->startRepeating(pasteRetryInterval, [this, transcript] {
                ++m_pasteRetries;
                pasteIntoDestination(transcript);
            });
            // The session is over: publish its phase, so a new dictation may start.
            update(m_status, m_detail);
        }
        return;
    }
    m_pasteRetry.reset();
    m_destination.reset();
    showCopied(failure);
}

void ReradazIzavo::showCopied(const std::optional<QString>& failure) {
    std::optional<QString> hint;
    if (m_autoPaste)
        hint = failure && !failure->isEmpty() ? *failure : DetailText::fieldNotConfirmed;
    setPasteHint(hint);
    // Terminals take a paste with a key of their own.
    const QString& instruction = hint == PasteTarget::terminal ? DetailText::pressToPasteInTerminal
                                                               : DetailText::pressToPaste;
    update(StatusText::copied, hint ? *hint + QLatin1Char(' ') + instruction : instruction);
}

bool ReradazIzavo::copy(const QString& text) {
    if (m_pasteboard->writeString(text) && m_pasteboard->readString() == text)
        return true;
    update(StatusText::transcriptReady, DetailText::clipboardCopyFailed);
    return false;
}

void ReradazIzavo::copyLast() {
    if (m_lastTranscript.isEmpty())
        return;
    if (!copy(m_lastTranscript))
        return;
    setPasteHint(std::nullopt);
    update(StatusText::copied, DetailText::pressToPasteLast);
}
