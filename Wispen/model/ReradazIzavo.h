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
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

class LoginItem;
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
        // The trigger keys and the microphone-key remapping, driven only by start(),
        // setMicrophone() and shutdown().
        std::shared_ptr<ShortcutTrigger> shortcut;
        std::shared_ptr<MicrophoneKeyControl> microphoneKey;
        std::shared_ptr<LoginItem> loginItem;
        // Asks for accessibility the way the desktop prompts for it (on Linux: switches
        // AT-SPI on); answers whether it is on afterwards.
        std::function<bool()> promptForAccessibility;
        // Opens the desktop's accessibility settings; does nothing where none is known.
        std::function<void()> openAccessibilitySettings;
        // Follow the desktop's focus from start() to shutdown(), so the first dictation
        // already knows which field to paste into.
        std::function<void()> startWatchingFocus;
        std::function<void()> stopWatchingFocus;
        // The transcription service chosen for this run (--service-url); it wins over
        // the stored "serviceURL".
        std::optional<QString> serviceAddress;

        // The same collaborators with every empty member set to its Linux default.
        // The default pasteboard needs a QGuiApplication.
        Collaborators withDefaults() &&;
    };

    // The stored settings' keys.
    static inline const QString microphoneEnabledKey = QStringLiteral("microphoneEnabled");
    static inline const QString holdToTalkKey = QStringLiteral("holdToTalk");
    static inline const QString autoPasteKey = QStringLiteral("autoPaste");
    // A string; absent means the bundled service.
    static inline const QString serviceURLKey = QStringLiteral("serviceURL");

    static constexpr std::chrono::milliseconds meterInterval{100};
    // Average power at or below which the level is 0.
    static constexpr float levelFloorDb = -55.0f;
    // The longest recording the service accepts; reaching it submits the recording.
    static constexpr double maximumDurationSeconds = TranscriptionContract::maximumDuration;
    static constexpr double minimumDurationSeconds = 0.3;
    // How often, and how many times, a paste refused while the captured field takes its
    // focus back from our shortcut's key grab is tried again.
    static constexpr std::chrono::milliseconds pasteRetryInterval{10};
    static constexpr int maxPasteRetries = 100;

    // The accessibility poll's default period while the settings window is open.
    static constexpr std::uint64_t permissionPollNanoseconds = 1'000'000'000;

    // Reads the stored settings and asks for the accessibility state; registers
    // nothing with the system (that is start()'s work).
    explicit ReradazIzavo(Collaborators collaborators = {}, QObject* parent = nullptr);
    // Releases its members only: shutdown() is what stops keys, sleep and focus watching.
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

    // Called once after launch: registers Control+Alt+Space, re-applies the microphone
    // key (or removes a remapping an earlier run left behind), listens for sleep,
    // follows the focus and applies the service address. Failures are shown as
    // "Needs attention"; the rest of start() proceeds.
    void start();
    // Reads the accessibility state again.
    void refreshPermissions();
    // Polls the accessibility state every interval on the main thread until stopped;
    // a second call replaces the running poll, so there is only ever one.
    void startPermissionMonitoring(std::uint64_t intervalNanoseconds = permissionPollNanoseconds);
    void stopPermissionMonitoring();
    // The settings window's accessibility button: switches accessibility on where the
    // desktop lets us, otherwise opens the desktop's accessibility settings.
    void requestAccessibility();
    // The microphone-key switch. Ignored during a dictation; on failure the setting
    // and its stored value stay as they were and the error is shown.
    void setMicrophone(bool enabled);
    // The launch-at-login switch, applied to the desktop's autostart entry.
    void setLaunchAtLogin(bool enabled);
    // Discards any dictation and restores the keyboard; only when that worked, stops
    // polling, the keys, the client, sleep and focus watching and answers true.
    // False leaves everything running, with the error shown.
    bool shutdown();

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

    // Lifecycle.
    void applyServiceAddress();
    void setMicrophoneEnabled(bool enabled);
    void setLaunchAtLoginValue(bool enabled);
    void setAccessibilityGranted(bool granted);

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
    // Takes the transcript by value: the retry timer that holds it may end meanwhile.
    void pasteIntoDestination(QString transcript);
    void showCopied(const std::optional<QString>& failure);

    void setPhase(Phase phase);
    void setStatus(const QString& status);
    void setDetail(const QString& detail);
    void setLevel(double level);
    void setSeconds(int seconds);
    void setLastTranscript(const QString& transcript);
    void setPasteHint(std::optional<QString> hint);

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
    std::shared_ptr<LoginItem> m_loginItem;
    std::function<bool()> m_promptForAccessibility;
    std::function<void()> m_openAccessibilitySettings;
    std::function<void()> m_startWatchingFocus;
    std::function<void()> m_stopWatchingFocus;
    std::optional<QString> m_serviceAddress;

    // Lifecycle.
    std::unique_ptr<TimerSource::Handle> m_permissionMonitor;
    bool m_sleepObserved = false;

    // One dictation.
    RecordingSession m_session;
    std::optional<QString> m_pasteCaptureFailure;
    std::unique_ptr<AudioRecorder> m_recorder;
    std::optional<QString> m_audioPath;
    std::optional<QString> m_recordingFolder;
    std::shared_ptr<PendingTranscription> m_task;
    std::unique_ptr<TimerSource::Handle> m_meter;
    std::unique_ptr<CapturedField> m_destination;
    // While set, the transcript is on the clipboard and the paste waits for the focus.
    std::unique_ptr<TimerSource::Handle> m_pasteRetry;
    int m_pasteRetries = 0;
    qint64 m_clipboardCount = 0;
    bool m_keyIsDown = false;
};
