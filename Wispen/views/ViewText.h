#pragma once

#include <QString>

// Every text the views show that is not the model's: titles, buttons, hints and
// tooltips, each in one place so tests compare against what the user reads.
namespace ViewText {

inline const QString productName = QStringLiteral("Wispen Rezuraz");
inline const QString shortcut = QStringLiteral("Ctrl+Alt+Space");

// The panel.
inline const QString record = QStringLiteral("Record");
inline const QString stopAndTranscribe = QStringLiteral("Stop and transcribe");
inline const QString retryTranscription = QStringLiteral("Retry transcription");
inline const QString choosePermission = QStringLiteral("Choose Allow in the microphone prompt.");
inline const QString cancel = QStringLiteral("Cancel");
inline const QString discardRecording = QStringLiteral("Discard recording");
inline const QString copyLast = QStringLiteral("Copy last text");
inline const QString settings = QStringLiteral("Settings…");
inline const QString quit = QStringLiteral("Quit");
inline const QString transcribingBar = QStringLiteral("Transcribing");

// The HUD.
inline const QString allowMicrophone = QStringLiteral("Allow microphone…");
inline const QString transcribing = QStringLiteral("Transcribing…");
inline const QString microphoneLevel = QStringLiteral("Microphone level");

// The settings window.
inline const QString holdReminder =
    QStringLiteral("Hold Ctrl+Alt+Space to talk. Release to transcribe.");
inline const QString pressReminder = QStringLiteral("Press Ctrl+Alt+Space to start and stop.");
inline const QString holdToTalk = QStringLiteral("Hold to talk");
inline const QString holdToTalkTip =
    QStringLiteral("Turn off to press once to start and again to stop.");
inline const QString autoPaste = QStringLiteral("Paste into the active text field");
inline const QString autoPasteTip =
    QStringLiteral("Falls back to Copy if you switch apps or edit the field.");
inline const QString accessibilityHint =
    QStringLiteral("Allow Accessibility to paste. Copy works without it.");
inline const QString allow = QStringLiteral("Allow…");
inline const QString accessibilityReopen = QStringLiteral(
    "Already enabled? Applications started before Accessibility was turned on must be reopened "
    "before Wispen Rezuraz can paste into them.");
inline const QString microphoneKey = QStringLiteral("Use the keyboard's microphone key");
inline const QString microphoneKeyTip =
    QStringLiteral("Optional. Replaces the Dictation key while Wispen Rezuraz is running and "
                   "restores it when you quit.");
inline const QString openAtLogin = QStringLiteral("Open at login");
inline const QString privacyNote = QStringLiteral("Audio is sent to Wispen for transcription.");
inline const QString privacy = QStringLiteral("Privacy");

} // namespace ViewText
