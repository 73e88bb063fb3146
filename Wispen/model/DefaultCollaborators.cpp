// The Linux collaborators the controller uses unless it is given others. Each is
// chosen in one place below, so another platform's backend is a local change.
#include "ReradazIzavo.h"

#include "AccessibilitySettings.h"
#include "AccessibilityStatus.h"
#include "AutostartEntry.h"
#include "ClipboardPasteboard.h"
#include "FileUserDefaults.h"
#include "GStreamerRecorder.h"
#include "GlobalShortcut.h"
#include "LogindSleepNotifier.h"
#include "MicrophoneAccess.h"
#include "MicrophoneKey.h"
#include "PasteTarget.h"
#include "QtTimerSource.h"
#include "TranscriptionClient.h"

#include <QGuiApplication>

namespace {

// The microphone recorder.
AudioRecorderFactory defaultRecorderFactory() {
    return &makeGStreamerRecorder;
}

// The focused-field capture over the desktop's accessibility bus and X server.
PasteTargetCapture defaultPasteTargetCapture() {
    return &PasteTarget::captureField;
}

// The settings store shared by every component of the application; it lives for
// the whole process, so the controller only borrows it.
std::shared_ptr<UserDefaults> defaultUserDefaults() {
    return std::shared_ptr<UserDefaults>(&FileUserDefaults::standard(), [](UserDefaults*) {});
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
    if (!c.shortcut)
        c.shortcut = std::make_shared<GlobalShortcut>();
    // The remapping keeps its ownership record beside the other settings; the
    // controller holds that store for longer than the remapping.
    if (!c.microphoneKey)
        c.microphoneKey = std::make_shared<MicrophoneKey>(*c.defaults);
    if (!c.loginItem)
        c.loginItem = std::make_shared<AutostartEntry>();
    if (!c.promptForAccessibility)
        c.promptForAccessibility = [] { return AccessibilityStatus::setEnabled(true); };
    if (!c.openAccessibilitySettings)
        c.openAccessibilitySettings = &AccessibilitySettings::open;
    if (!c.startWatchingFocus)
        c.startWatchingFocus = [] { PasteTarget::startWatchingFocus(); };
    if (!c.stopWatchingFocus)
        c.stopWatchingFocus = &PasteTarget::stopWatchingFocus;
    return c;
}
