// The controller's state, its update step and the triggers that start a dictation.
#include "ReradazIzavo.h"

#include "LocalizedError.h"
#include "LoginItem.h"
#include "Pasteboard.h"
#include "QueuedCall.h"
#include "ShortcutTrigger.h"
#include "SleepNotifier.h"
#include "StatusText.h"
#include "Transcriber.h"
#include "TransportError.h"
#include "UserDefaults.h"
#include "ZedazidEdize.h"

namespace {

// A switch that is on unless a Boolean false is stored: values of another type are
// ignored, as a damaged store must not turn features off.
bool storedSwitch(const UserDefaults& defaults, const QString& key) {
    const QVariant value = defaults.value(key);
    return value.typeId() == QMetaType::Bool ? value.toBool() : true;
}

} // namespace

ReradazIzavo::ReradazIzavo(Collaborators collaborators, QObject* parent)
    : QObject(parent)
    , m_status(StatusText::ready)
    , m_detail(DetailText::holdToTalk) {
    Collaborators c = std::move(collaborators).withDefaults();
    m_transcriber = std::move(c.transcriber);
    m_pasteboard = std::move(c.pasteboard);
    m_requestMicrophoneAccess = std::move(c.requestMicrophoneAccess);
    m_accessibilityTrust = std::move(c.accessibilityTrust);
    m_recorderFactory = std::move(c.recorderFactory);
    m_capture = std::move(c.pasteTargetCapture);
    m_sleepNotifier = std::move(c.sleepNotifier);
    m_timers = std::move(c.timers);
    m_defaults = std::move(c.defaults);
    m_shortcut = std::move(c.shortcut);
    m_microphoneKey = std::move(c.microphoneKey);
    m_loginItem = std::move(c.loginItem);
    m_promptForAccessibility = std::move(c.promptForAccessibility);
    m_openAccessibilitySettings = std::move(c.openAccessibilitySettings);
    m_startWatchingFocus = std::move(c.startWatchingFocus);
    m_stopWatchingFocus = std::move(c.stopWatchingFocus);
    m_serviceAddress = std::move(c.serviceAddress);

    m_microphoneEnabled = m_defaults->boolValue(microphoneEnabledKey);
    m_holdToTalk = storedSwitch(*m_defaults, holdToTalkKey);
    m_autoPaste = storedSwitch(*m_defaults, autoPasteKey);
    m_launchAtLogin = m_loginItem->isEnabled();
    m_clipboardCount = m_pasteboard->changeCount();
    m_accessibilityGranted = m_accessibilityTrust();

    // Only the handler is set here: the notifier listens to the system once the
    // lifecycle starts it.
    m_sleepNotifier->onWillSleep = [model = QPointer<ReradazIzavo>(this)] {
        queueCall(model, [](ReradazIzavo& self) { self.sleepReset(); });
    };
    // A trigger key lost to another program is shown until the next dictation; the
    // shortcut takes it back by itself at the next keyboard mapping change.
    if (m_shortcut)
        m_shortcut->onGrabLost = [model = QPointer<ReradazIzavo>(this)](const QString& sentence) {
            if (model)
                model->report(ZedazidEdize::message(sentence));
        };
}

ReradazIzavo::~ReradazIzavo() {
    m_sleepNotifier->onWillSleep = nullptr;
}

void ReradazIzavo::setHoldToTalk(bool enabled) {
    if (enabled == m_holdToTalk)
        return;
    m_holdToTalk = enabled;
    m_defaults->setValue(holdToTalkKey, enabled);
    emit holdToTalkChanged();
    if (onChange)
        onChange();
}

void ReradazIzavo::setAutoPaste(bool enabled) {
    if (enabled == m_autoPaste)
        return;
    m_autoPaste = enabled;
    m_defaults->setValue(autoPasteKey, enabled);
    emit autoPasteChanged();
}

void ReradazIzavo::update(const QString& status, const QString& detail) {
    setPhase(m_session.phase());
    setStatus(status);
    setDetail(detail);
    if (onChange)
        onChange();
}

QString ReradazIzavo::readyHint() const {
    return m_holdToTalk ? DetailText::holdToTalk : DetailText::pressToTalk;
}

void ReradazIzavo::report(const std::exception& error) {
    QString detail = DetailText::somethingWentWrong;
    if (dynamic_cast<const TransportError*>(&error)) {
        detail = DetailText::connectionFailed;
    } else if (const auto* localized = dynamic_cast<const LocalizedError*>(&error)) {
        if (const std::optional<QString> description = localized->errorDescription())
            detail = *description;
    }
    update(StatusText::needsAttention, detail);
}

void ReradazIzavo::report(std::exception_ptr error) {
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const std::exception& e) {
        report(e);
        return;
    } catch (...) {
    }
    update(StatusText::needsAttention, DetailText::somethingWentWrong);
}

void ReradazIzavo::key(bool down) {
    if (!down) {
        m_keyIsDown = false;
        if (!m_holdToTalk)
            return;
        if (m_phase == Phase::recording)
            stop();
        else if (m_phase == Phase::requestingPermission)
            discardShortRecording();
        return;
    }

    if (m_keyIsDown)
        return;
    m_keyIsDown = true;
    if (!m_holdToTalk) {
        toggle();
        // Discarding a failed recording forgets the key; it is still held, and its
        // auto-repeat must not stop the recording this press just started.
        m_keyIsDown = true;
        return;
    }
    if (m_phase != Phase::idle && m_phase != Phase::failed)
        return;
    if (m_phase == Phase::failed) {
        resetRecording();
        update(StatusText::ready, readyHint());
        m_keyIsDown = true;
    }
    begin();
}

void ReradazIzavo::toggle() {
    switch (m_phase) {
    case Phase::idle:
        begin();
        break;
    case Phase::recording:
        stop();
        break;
    case Phase::failed:
        resetRecording();
        update(StatusText::ready, readyHint());
        begin();
        break;
    case Phase::requestingPermission:
    case Phase::transcribing:
        break;
    }
}

void ReradazIzavo::cancel() {
    resetRecording();
    update(StatusText::ready, readyHint());
}

void ReradazIzavo::begin() {
    const std::optional<QUuid> id = m_session.begin();
    if (!id)
        return;
    setPasteHint(std::nullopt);
    m_pasteCaptureFailure.reset();
    // A paste of the previous transcript still waiting for its field gives way.
    m_pasteRetry.reset();
    // The field focused at the moment of the trigger is the one that later receives
    // the text, so it is captured before any audio is recorded.
    if (m_autoPaste)
        m_destination = m_capture(m_pasteCaptureFailure);
    else
        m_destination.reset();
    m_clipboardCount = m_pasteboard->changeCount();
    update(StatusText::allowMicrophone, DetailText::waitingForPermission);

    m_requestMicrophoneAccess([model = QPointer<ReradazIzavo>(this), id = *id](bool granted) {
        queueCall(model,
                  [id, granted](ReradazIzavo& self) { self.microphoneAnswered(id, granted); });
    });
}

void ReradazIzavo::microphoneAnswered(const QUuid& id, bool granted) {
    if (m_session.id() != id)
        return;
    if (granted) {
        if (m_session.permissionGranted(id))
            record();
        return;
    }
    m_session.cancel();
    update(StatusText::microphoneAccessNeeded, DetailText::allowMicrophoneInSettings);
}

void ReradazIzavo::sleepReset() {
    resetRecording();
    update(StatusText::ready, readyHint());
}

void ReradazIzavo::setPhase(Phase phase) {
    if (phase == m_phase)
        return;
    m_phase = phase;
    emit phaseChanged();
}

void ReradazIzavo::setStatus(const QString& status) {
    if (status == m_status)
        return;
    m_status = status;
    emit statusChanged();
}

void ReradazIzavo::setDetail(const QString& detail) {
    if (detail == m_detail)
        return;
    m_detail = detail;
    emit detailChanged();
}

void ReradazIzavo::setLevel(double level) {
    if (level == m_level)
        return;
    m_level = level;
    emit levelChanged();
}

void ReradazIzavo::setSeconds(int seconds) {
    if (seconds == m_seconds)
        return;
    m_seconds = seconds;
    emit secondsChanged();
}

void ReradazIzavo::setLastTranscript(const QString& transcript) {
    if (transcript == m_lastTranscript)
        return;
    m_lastTranscript = transcript;
    emit lastTranscriptChanged();
}

void ReradazIzavo::setPasteHint(std::optional<QString> hint) {
    if (hint == m_pasteHint)
        return;
    m_pasteHint = std::move(hint);
    emit pasteHintChanged();
}
