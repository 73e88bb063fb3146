#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

// Records the default input into one AAC/MPEG-4 file (24 kHz, mono, 64 kbit/s)
// and meters its level. All calls on the main thread.
class AudioRecorder : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~AudioRecorder() override = default;

    // Opens the input and the file; false when the microphone is unavailable.
    virtual bool prepareToRecord() = 0;
    // Starts capturing; false when the input refuses to start.
    virtual bool record() = 0;
    // Ends the recording and finalises the file; false when the file could not be
    // finalised (it is then incomplete and must not be uploaded).
    virtual bool stop() = 0;
    // False once the input went away, stalled or the recording was stopped.
    virtual bool isRecording() const = 0;
    // Seconds recorded so far.
    virtual double currentTime() const = 0;
    // Refreshes the meter; averagePower then reports the latest reading.
    virtual void updateMeters() = 0;
    // Average power of a channel in dB relative to full scale (0 at full scale).
    virtual float averagePower(int channel) const = 0;
};

// Makes a recorder for the given file path; returns null when no recorder can be
// created at all.
using AudioRecorderFactory = std::function<std::unique_ptr<AudioRecorder>(const QString& path)>;
