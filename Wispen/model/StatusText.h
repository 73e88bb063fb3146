#pragma once

#include <QString>

// Every status headline and detail sentence the controller shows. The views compare
// the status against these same texts, so they are a contract with the panel, the
// HUD and the application delegate.
namespace StatusText {

inline const QString ready = QStringLiteral("Ready");
inline const QString allowMicrophone = QStringLiteral("Allow microphone");
inline const QString microphoneAccessNeeded = QStringLiteral("Microphone access needed");
inline const QString listening = QStringLiteral("Listening");
inline const QString keepHolding = QStringLiteral("Keep holding to record");
inline const QString tooShort = QStringLiteral("Recording too short");
inline const QString interrupted = QStringLiteral("Recording interrupted");
inline const QString transcribing = QStringLiteral("Transcribing");
inline const QString noSpeech = QStringLiteral("No speech found");
inline const QString transcriptReady = QStringLiteral("Transcript ready");
inline const QString pasteSent = QStringLiteral("Paste sent");
inline const QString copied = QStringLiteral("Copied");
inline const QString needsAttention = QStringLiteral("Needs attention");
inline const QString microphoneKeyEnabled = QStringLiteral("Microphone key enabled");
inline const QString microphoneKeyRestored = QStringLiteral("Microphone key restored");
inline const QString allowBackgroundAccess = QStringLiteral("Allow background access");

} // namespace StatusText

namespace DetailText {

// The ready hint, by trigger mode.
inline const QString holdToTalk = QStringLiteral("Hold Ctrl+Alt+Space to talk.");
inline const QString pressToTalk = QStringLiteral("Press Ctrl+Alt+Space to talk.");

inline const QString waitingForPermission =
    QStringLiteral("Waiting for microphone permission. No audio has been sent.");
inline const QString allowMicrophoneInSettings =
    QStringLiteral("Allow Wispen Rezuraz to use the microphone in your system's privacy settings.");
inline const QString releaseToTranscribe =
    QStringLiteral("Release to transcribe. Up to 3 minutes.");
inline const QString pressAgainToTranscribe =
    QStringLiteral("Press again to transcribe. Up to 3 minutes.");
inline const QString keepHolding =
    QStringLiteral("Hold the shortcut while you speak, then release to transcribe.");
inline const QString tooShort = QStringLiteral("Record a little longer, then stop to transcribe.");
inline const QString interrupted =
    QStringLiteral("The input device stopped recording. Your clipboard was not changed.");
inline const QString transcribing =
    QStringLiteral("You can cancel. Your recording stays available if the request fails.");
inline const QString noSpeech = QStringLiteral("Your clipboard hasn’t changed. Try again.");
inline const QString copiedWhileWaiting =
    QStringLiteral("You copied something while waiting. Use Copy last transcript when ready.");
inline const QString clipboardCopyFailed =
    QStringLiteral("Clipboard copy failed. Try Copy last text again.");
inline const QString pasteSent =
    QStringLiteral("The transcript is also on your clipboard. If it did not appear, press Ctrl+V.");
inline const QString pressToPaste = QStringLiteral("Press Ctrl+V to paste.");
// After the terminal refusal: Linux terminals paste with Control+Shift+V.
inline const QString pressToPasteInTerminal = QStringLiteral("Press Ctrl+Shift+V to paste.");
inline const QString pressToPasteLast =
    QStringLiteral("Press Ctrl+V to paste your last transcript.");
inline const QString fieldNotConfirmed =
    QStringLiteral("The original text field could not be confirmed.");
inline const QString somethingWentWrong = QStringLiteral("Something went wrong. Try again.");
inline const QString connectionFailed = QStringLiteral(
    "The connection failed or timed out. Retry when online, or discard this recording.");
inline const QString microphoneUnavailable =
    QStringLiteral("The microphone is unavailable. Check your input device, then try again.");
inline const QString microphoneKeyEnabled =
    QStringLiteral("Press the microphone key to test it. Ctrl+Alt+Space also works.");
inline const QString microphoneKeyRestored =
    QStringLiteral("Ctrl+Alt+Space still starts recording.");
inline const QString allowBackgroundAccess =
    QStringLiteral("Approve Wispen Rezuraz in your desktop's autostart settings.");

} // namespace DetailText
