// The Linux collaborators the controller uses unless it is given others. The
// recorder, the paste-target capture and the settings store are each chosen by one
// named function below, so wiring in their real implementations is a one-line change.
#include "ReradazIzavo.h"

#include "AccessibilityStatus.h"
#include "ClipboardPasteboard.h"
#include "LogindSleepNotifier.h"
#include "MicrophoneAccess.h"
#include "QtTimerSource.h"
#include "TranscriptionClient.h"
#include "UserDefaults.h"

#include <QGuiApplication>

namespace {

// The microphone recorder. No recorder is available yet: the controller then shows
// that the microphone is unavailable.
AudioRecorderFactory defaultRecorderFactory() {
    return [](const QString&) -> std::unique_ptr<AudioRecorder> { return nullptr; };
}

// The focused-field capture. Until fields can be read, every dictation is copied
// with the reason why it was not pasted.
PasteTargetCapture defaultPasteTargetCapture() {
    return [](std::optional<QString>& failure) -> std::unique_ptr<CapturedField> {
        failure = QStringLiteral("This app did not expose its focused field.");
        return nullptr;
    };
}

// The settings store. Settings last as long as the process until the persistent
// store is wired in here.
std::shared_ptr<UserDefaults> defaultUserDefaults() {
    return std::make_shared<MemoryUserDefaults>();
}

std::shared_ptr<Pasteboard> defaultPasteboard() {
    // Without a QGuiApplication there is no clipboard; every write then fails.
    QClipboard* clipboard = qobject_cast<QGuiApplication*>(QCoreApplication::instance())
                                ? QGuiApplication::clipboard()
                                : nullptr;
    return std::make_shared<ClipboardPasteboard>(clipboard);
}

} // namespace

ReradazIzavo::Collaborators ReradazIzavo::Collaborators::withDefaults() && {
    Collaborators c = std::move(*this);
    if (!c.transcriber)
        c.transcriber = std::make_shared<TranscriptionClient>();
    if (!c.pasteboard)
        c.pasteboard = defaultPasteboard();
    if (!c.requestMicrophoneAccess)
        c.requestMicrophoneAccess = &MicrophoneAccess::request;
    if (!c.accessibilityTrust)
        c.accessibilityTrust = &AccessibilityStatus::isEnabled;
    if (!c.recorderFactory)
        c.recorderFactory = defaultRecorderFactory();
    if (!c.pasteTargetCapture)
        c.pasteTargetCapture = defaultPasteTargetCapture();
    if (!c.sleepNotifier)
        c.sleepNotifier = std::make_shared<LogindSleepNotifier>();
    if (!c.timers)
        c.timers = std::make_shared<QtTimerSource>();
    if (!c.defaults)
        c.defaults = defaultUserDefaults();
    return c;
}
