#pragma once

// Substitutes for the controller's collaborators: each plays what the test sets and
// counts what happened to it.
#include "AudioRecorder.h"
#include "CapturedField.h"
#include "LoginItem.h"
#include "MicrophoneKeyControl.h"
#include "Pasteboard.h"
#include "ShortcutTrigger.h"
#include "SleepNotifier.h"
#include "TimerSource.h"
#include "Transcriber.h"
#include "ZedazidEdize.h"

#include <QFile>
#include <QStringList>
#include <map>
#include <vector>

// What every recorder made by scriptedRecorderFactory() does.
struct RecorderScript {
    bool factoryFails = false, prepareFails = false, recordFails = false;
    bool finaliseFails = false;          // stop() reports that the file could not be finalised
    bool inputAlive = true;              // false: the input went away
    bool capturedAudio = true;           // false: the input never delivered audio
    QByteArray audio = "scripted audio"; // written by record(), as a real recorder creates it
    double currentTime = 0;
    float averagePower = -160;
    int stops = 0, meterUpdates = 0;
    QString lastPath;
};

inline AudioRecorderFactory scriptedRecorderFactory(std::shared_ptr<RecorderScript> script) {
    struct Recorder final : AudioRecorder {
        std::shared_ptr<RecorderScript> s;
        bool started = false, stopped = false;
        bool prepareToRecord() override { return !s->prepareFails; }
        bool record() override { // the factory's path: each recorder records right away
            QFile file(s->lastPath);
            return started = !s->recordFails && file.open(QIODevice::WriteOnly) &&
                             file.write(s->audio) == s->audio.size();
        }
        void stop() override {
            ++s->stops;
            stopped = true;
            emit finished(!s->finaliseFails);
        }
        void discard() override { stopped = true; }
        bool isRecording() const override { return started && !stopped && s->inputAlive; }
        bool hasCapturedAudio() const override { return started && s->capturedAudio; }
        double currentTime() const override { return s->currentTime; }
        void updateMeters() override { ++s->meterUpdates; }
        float averagePower(int) const override { return s->averagePower; }
    };
    return [script](const QString& path) -> std::unique_ptr<AudioRecorder> {
        script->lastPath = path;
        if (script->factoryFails)
            return nullptr;
        auto recorder = std::make_unique<Recorder>();
        recorder->s = script;
        return recorder;
    };
}

// What the captured field does; absent reasons leave the failure untouched. The first
// `focusAwayFor` pastes are refused as the focus being on its way back.
struct CaptureScript {
    bool findsField = true, pasteSucceeds = true;
    std::optional<QString> captureFailure, pasteFailure;
    int focusAwayFor = 0;
    QStringList pasted; // every transcript a paste was asked for
};

inline PasteTargetCapture scriptedCapture(std::shared_ptr<CaptureScript> script) {
    struct Field final : CapturedField {
        std::shared_ptr<CaptureScript> s;
        bool returning = false;
        bool paste(const QString& transcript, std::optional<QString>& failure) override {
            s->pasted << transcript;
            returning = s->focusAwayFor-- > 0;
            const bool succeeds = s->pasteSucceeds && !returning;
            if (!succeeds && s->pasteFailure)
                failure = s->pasteFailure;
            return succeeds;
        }
        bool focusReturning() override { return returning; }
    };
    return [script](std::optional<QString>& failure) -> std::unique_ptr<CapturedField> {
        if (script->findsField) {
            auto field = std::make_unique<Field>();
            field->s = script;
            return field;
        }
        failure = script->captureFailure;
        return nullptr;
    };
}

// Holds every upload until the test answers it, even after a cancel, so tests can
// check that late answers are ignored.
struct ScriptedTranscriber final : Transcriber {
    struct Call final : PendingTranscription {
        void cancel() override { cancelled = true; }
        QByteArray audio;
        Completion done;
        bool cancelled = false;
    };
    std::shared_ptr<PendingTranscription> transcribe(const QByteArray& audio,
                                                     Completion done) override {
        auto call = calls.emplace_back(std::make_shared<Call>());
        call->audio = audio, call->done = std::move(done);
        return call;
    }
    void invalidate() override {}
    void answer(size_t call, const QString& text) { calls.at(call)->done({text, nullptr}); }
    std::vector<std::shared_ptr<Call>> calls;
};

// A clipboard in memory that can garble writes.
struct MemoryPasteboard final : Pasteboard {
    qint64 changeCount() const override { return count; }
    bool writeString(const QString& text) override {
        ++count, ++writes;
        contents = garbleWrites ? text + QStringLiteral("?") : text;
        return true;
    }
    std::optional<QString> readString() const override { return contents; }
    void copyElsewhere(const QString& text) { ++count, contents = text; }

    qint64 count = 7;
    std::optional<QString> contents = QStringLiteral("the user's text");
    int writes = 0;
    bool garbleWrites = false;
};

// Timers that fire only when the test calls tick().
struct ManualTimerSource final : TimerSource {
    using Timers = std::map<int, std::function<void()>>;
    struct Running final : Handle {
        std::function<void()> stop;
        ~Running() override { stop(); }
    };
    std::unique_ptr<Handle> startRepeating(std::chrono::milliseconds interval,
                                           std::function<void()> fire) override {
        lastInterval = interval;
        timers[++next] = std::move(fire);
        auto running = std::make_unique<Running>();
        running->stop = [this, id = next] { timers.erase(id); };
        return running;
    }
    void tick() {
        for (const auto& [id, fire] : Timers(timers)) // a timer may stop itself or others
            fire();
    }
    size_t running() const { return timers.size(); }

    std::chrono::milliseconds lastInterval{0};
    Timers timers;
    int next = 0;
};

// Listening or not; the test announces sleep by calling onWillSleep itself.
struct ManualSleepNotifier final : SleepNotifier {
    bool start() override { return listening = true; }
    void stop() override { listening = false; }
    bool listening = false;
};

// The trigger keys and the microphone-key remapping in one: each call is logged in
// order ("start", "enableMicrophone", "enable", ...), `watch` sees it first, and the
// calls named in `failing` throw "<name> failed.".
struct ScriptedKeyboard final : ShortcutTrigger, MicrophoneKeyControl {
    QStringList journal, failing;
    bool reserved = false, remapped = false, started = false;
    std::function<void()> watch = [] {};
    void call(const char* name, bool& flag, bool value) {
        journal << QLatin1String(name);
        watch();
        if (failing.contains(QLatin1String(name)))
            throw ZedazidEdize::message(QLatin1String(name) + QStringLiteral(" failed."));
        flag = value;
    }
    void start() override { call("start", started, true); }
    void enableMicrophone() override { call("enableMicrophone", reserved, true); }
    void disableMicrophone() override { call("disableMicrophone", reserved, false); }
    void stop() override { call("stop", started, false), reserved = false; }
    void enable() override { call("enable", remapped, true); }
    void disable() override { call("disable", remapped, false); }
    bool ownsMapping() const override { return remapped; }
};

// A login item that the desktop may refuse to write or leave disabled.
struct ScriptedLoginItem final : LoginItem {
    bool isEnabled() const override { return registered && !overridden; }
    void setRegistered(bool on) override {
        if (failure)
            throw ZedazidEdize::message(*failure);
        registered = on;
    }
    void openSettings() override { ++settingsOpened; }
    bool registered = false, overridden = false;
    std::optional<QString> failure;
    int settingsOpened = 0;
};
