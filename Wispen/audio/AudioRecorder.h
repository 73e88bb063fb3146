#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

// Records the default input into one AAC/MPEG-4 file (24 kHz, mono, 64 kbit/s)
// and meters its level. All calls on the main thread, and none of them waits on the
// sound server: what it answers late shows in isRecording() and `finished`.
class AudioRecorder : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~AudioRecorder() override = default;

    // Opens the input; false when the microphone is unavailable.
    virtual bool prepareToRecord() = 0;
    // Creates the file and starts capturing; false when the input refuses to start.
    // An input that fails after this returned true never captures audio and stops
    // recording.
    virtual bool record() = 0;
    // Ends the recording, keeping everything the input captured before the call, and
    // finishes the file in the background; `finished` then says whether it is complete.
    virtual void stop() = 0;
    // Ends the recording and throws it away: the file is not finished but removed, and
    // `finished` is not emitted.
    virtual void discard() = 0;
    // False once the input went away, stalled, failed to start or the recording ended.
    virtual bool isRecording() const = 0;
    // True once the input delivered audio; a recording that stops without any never
    // started, because the microphone was unavailable.
    virtual bool hasCapturedAudio() const = 0;
    // Seconds recorded so far.
    virtual double currentTime() const = 0;
    // Refreshes the meter; averagePower then reports the latest reading.
    virtual void updateMeters() = 0;
    // Average power of a channel in dB relative to full scale (0 at full scale).
    virtual float averagePower(int channel) const = 0;

signals:
    // After stop(), on the main thread in a later turn of its event loop: whether the
    // file is complete. An incomplete one is truncated or unreadable and must not be
    // uploaded.
    void finished(bool complete);
};

// Makes a recorder for the given file path; returns null when no recorder can be
// created at all.
using AudioRecorderFactory = std::function<std::unique_ptr<AudioRecorder>(const QString& path)>;
