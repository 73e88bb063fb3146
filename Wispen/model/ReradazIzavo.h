#pragma once

#include "AudioRecorder.h"
#include "CapturedField.h"
#include "RecordingSession.h"
#include "TimerSource.h"
#include "TranscriptionContract.h"

#include <QObject>
#include <QString>
#include <QUuid>
#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

class MicrophoneKeyControl;
class Pasteboard;
class PendingTranscription;
class ShortcutTrigger;
class SleepNotifier;
class Transcriber;
class UserDefaults;
struct TranscriptionOutcome;

// The one controller of the application: it turns a trigger into a dictation (asks
// for the microphone, records, uploads, delivers the transcript into the captured
// field or onto the clipboard) and publishes the state every view shows. Every
// visible change goes through one update step. Confined to the main thread;
// asynchronous answers come back as queued calls and are checked against the
// session identifier (permission, transcript) or the phase (meter ticks).
class ReradazIzavo : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString status READ status NOTIFY statusChanged)
    Q_PROPERTY(QString detail READ detail NOTIFY detailChanged)
    // The RecordingSession::Phase value as an int (idle 0 ... failed 4).
    Q_PROPERTY(int phase READ phaseValue NOTIFY phaseChanged)
    Q_PROPERTY(double level READ level NOTIFY levelChanged)
    Q_PROPERTY(int seconds READ seconds NOTIFY secondsChanged)
    Q_PROPERTY(QString lastTranscript READ lastTranscript NOTIFY lastTranscriptChanged)
    // Empty when there is no hint.
    Q_PROPERTY(QString pasteHint READ pasteHintText NOTIFY pasteHintChanged)
    Q_PROPERTY(bool microphoneEnabled READ microphoneEnabled NOTIFY microphoneEnabledChanged)
    Q_PROPERTY(bool holdToTalk READ holdToTalk WRITE setHoldToTalk NOTIFY holdToTalkChanged)
    Q_PROPERTY(bool autoPaste READ autoPaste WRITE setAutoPaste NOTIFY autoPasteChanged)
    Q_PROPERTY(bool launchAtLogin READ launchAtLogin NOTIFY launchAtLoginChanged)
    Q_PROPERTY(
        bool accessibilityGranted READ accessibilityGranted NOTIFY accessibilityGrantedChanged)

public:
    using Phase = RecordingSession::Phase;
    using MicrophoneAccessRequest = std::function<void(std::function<void(bool granted)>)>;

    // Everything the controller talks to. A member left empty is filled with the
    // Linux default (see DefaultCollaborators.cpp); tests pass substitutes for all.
    struct Collaborators {
        std::shared_ptr<Transcriber> transcriber;
        std::shared_ptr<Pasteboard> pasteboard;
        // Calls its completion exactly once, from any thread.
        MicrophoneAccessRequest requestMicrophoneAccess;
        std::function<bool()> accessibilityTrust;
        AudioRecorderFactory recorderFactory;
        PasteTargetCapture pasteTargetCapture;
        std::shared_ptr<SleepNotifier> sleepNotifier;
        std::shared_ptr<TimerSource> timers;
        std::shared_ptr<UserDefaults> defaults;
        // The trigger keys and the microphone-key remapping; driven by the lifecycle
        // (start, shutdown, settings), absent until it is wired.
        std::shared_ptr<ShortcutTrigger> shortcut;
        std::shared_ptr<MicrophoneKeyControl> microphoneKey;

        // The same collaborators with every empty member set to its Linux default.
        // The default pasteboard needs a QGuiApplication.
        Collaborators withDefaults() &&;
    };

    static constexpr std::chrono::milliseconds meterInterval{100};
    // Average power at or below which the level is 0.
    static constexpr float levelFloorDb = -55.0f;
    // The longest recording the service accepts; reaching it submits the recording.
    static constexpr double maximumDurationSeconds = TranscriptionContract::maximumDuration;
    static constexpr double minimumDurationSeconds = 0.3;

    explicit ReradazIzavo(Collaborators collaborators = {}, QObject* parent = nullptr);
    ~ReradazIzavo() override;

    QString status() const { return m_status; }
    QString detail() const { return m_detail; }
    Phase phase() const { return m_phase; }
    int phaseValue() const { return static_cast<int>(m_phase); }
    double level() const { return m_level; }
    int seconds() const { return m_seconds; }
    QString lastTranscript() const { return m_lastTranscript; }
    const std::optional<QString>& pasteHint() const { return m_pasteHint; }
    QString pasteHintText() const { return m_pasteHint.value_or(QString()); }
    bool microphoneEnabled() const { return m_microphoneEnabled; }
    bool holdToTalk() const { return m_holdToTalk; }
    bool autoPaste() const { return m_autoPaste; }
    bool launchAtLogin() const { return m_launchAtLogin; }
    bool accessibilityGranted() const { return m_accessibilityGranted; }

    // Stores the setting; changing holdToTalk also calls onChange.
    void setHoldToTalk(bool enabled);
    void setAutoPaste(bool enabled);

    // Called at the end of every update step and after every change of holdToTalk.
    std::function<void()> onChange;

    // Every press (true) and release (false) of a trigger key.
    void key(bool down);
    // The press-to-toggle trigger, and the record/stop command of the panel and HUD.
    void toggle();
    // Abandons whatever is in progress and shows "Ready"; allowed in every phase.
    void cancel();
    // Uploads a failed recording again; its transcript is copied, never pasted.
    void retry();
    // Copies the last transcript again.
    void copyLast();
    // Delivers a transcript: pastes into the captured field, or copies it.
    void deliver(const QString& transcript);
    // Shows an error as "Needs attention" with its sentence; changes nothing else.
    void report(const std::exception& error);
    void report(std::exception_ptr error);
    // Discards a recording shorter than the minimum (or not a number); true when the
    // duration is long enough to upload.
    bool acceptRecordingDuration(double seconds);

    // Settings and permissions, as the settings window changes them.
    // Reads the accessibility permission again.
    void refreshPermissions();
    // Asks for the accessibility permission when it is missing.
    void requestAccessibility();
    // Turns the microphone key on or off; on failure the setting stays as it was and
    // the error is shown. Does nothing during a dictation.
    void setMicrophone(bool enabled);
    // Registers or removes the login item; launchAtLogin then shows the outcome.
    void setLaunchAtLogin(bool enabled);

    // The meter's level for an average power in dB: 0 at the floor and below (and
    // for a reading that is not a number), 1 at full scale.
    static double levelForPower(float averagePowerDb);

signals:
    void statusChanged();
    void detailChanged();
    void phaseChanged();
    void levelChanged();
    void secondsChanged();
    void lastTranscriptChanged();
    void pasteHintChanged();
    void microphoneEnabledChanged();
    void holdToTalkChanged();
    void autoPasteChanged();
    void launchAtLoginChanged();
    void accessibilityGrantedChanged();

private:
    friend class PublishedState;

    // State and triggers.
    void update(const QString& status, const QString& detail);
    QString readyHint() const;
    void begin();
    void microphoneAnswered(const QUuid& id, bool granted);
    void sleepReset();

    // Recording.
    void record();
    void startRecorder();
    void tick();
    void stop();
    void recordingFinished(const QUuid& id, bool complete);
    void interruptRecording();
    void discardShortRecording();
    void cleanRecording();
    void resetRecording();

    // Submission and delivery.
    void submit();
    void upload(const QUuid& id);
    void submissionEnded(const QUuid& id, const TranscriptionOutcome& outcome);
    bool copy(const QString& text);

    void setPhase(Phase phase);
    void setStatus(const QString& status);
    void setDetail(const QString& detail);
    void setLevel(double level);
    void setSeconds(int seconds);
    void setLastTranscript(const QString& transcript);
    void setPasteHint(std::optional<QString> hint);
    void setMicrophoneEnabled(bool enabled);
    void setAccessibilityGranted(bool granted);

    // Published.
    QString m_status;
    QString m_detail;
    Phase m_phase = Phase::idle;
    double m_level = 0;
    int m_seconds = 0;
    QString m_lastTranscript;
    std::optional<QString> m_pasteHint;
    bool m_microphoneEnabled = false;
    bool m_holdToTalk = true;
    bool m_autoPaste = true;
    bool m_launchAtLogin = false;
    bool m_accessibilityGranted = false;

    // Collaborators.
    std::shared_ptr<Transcriber> m_transcriber;
    std::shared_ptr<Pasteboard> m_pasteboard;
    MicrophoneAccessRequest m_requestMicrophoneAccess;
    std::function<bool()> m_accessibilityTrust;
    AudioRecorderFactory m_recorderFactory;
    PasteTargetCapture m_capture;
    std::shared_ptr<SleepNotifier> m_sleepNotifier;
    std::shared_ptr<TimerSource> m_timers;
    std::shared_ptr<UserDefaults> m_defaults;
    std::shared_ptr<ShortcutTrigger> m_shortcut;
    std::shared_ptr<MicrophoneKeyControl> m_microphoneKey;

    // One dictation.
    RecordingSession m_session;
    std::optional<QString> m_pasteCaptureFailure;
    std::unique_ptr<AudioRecorder> m_recorder;
    std::optional<QString> m_audioPath;
    std::optional<QString> m_recordingFolder;
    std::shared_ptr<PendingTranscription> m_task;
    std::unique_ptr<TimerSource::Handle> m_meter;
    std::unique_ptr<CapturedField> m_destination;
    qint64 m_clipboardCount = 0;
    bool m_keyIsDown = false;
};
