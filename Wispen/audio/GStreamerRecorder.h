#pragma once

#include "AudioRecorder.h"

#include <QString>
#include <chrono>
#include <memory>
#include <vector>

// The Linux recorder: a GStreamer pipeline from the user's default microphone (or the
// source described in WISPEN_AUDIO_SOURCE) through a level meter into one AAC file at
// 24 kHz, mono, 64 kbit/s in an MPEG-4 container. The pipeline's messages are read on
// the main thread whenever the meters are refreshed; what the streaming threads notice
// (the first and latest audio, a move to another device) they publish through atomics.
// Talking to the sound server where it could hang (connecting, letting go) happens on
// GStreamer worker threads, so no call waits on a server that stopped answering.
class GStreamerRecorder final : public AudioRecorder {
    Q_OBJECT
public:
    // A pipeline description that replaces the microphone (for example
    // "audiotestsrc is-live=true"), so tests and demonstrations can feed known audio.
    static constexpr const char* sourceVariable = "WISPEN_AUDIO_SOURCE";

    explicit GStreamerRecorder(QString path, QObject* parent = nullptr);
    ~GStreamerRecorder() override;

    bool prepareToRecord() override;
    bool record() override;
    bool stop() override;
    bool isRecording() const override;
    double currentTime() const override;
    void updateMeters() override;
    float averagePower(int channel) const override;

    // True once the input delivered its first buffer of audio; false while it has not.
    bool hasCapturedAudio() const;

private:
    struct Pipeline;
    struct BusNews;
    enum class State { idle, prepared, recording, interrupted, stopped };
    using Clock = std::chrono::steady_clock;

    bool awaitStart();
    void drainBus();
    void apply(const BusNews& news);
    bool finalise();
    bool moved() const;
    bool createFile();
    void tearDown();
    bool stalled() const;

    QString m_path;
    State m_state = State::idle;
    std::unique_ptr<Pipeline> m_pipeline;
    std::vector<float> m_power;
    bool m_endOfStream = false;
    bool m_outputFailed = false;
    bool m_fileCreated = false;
    bool m_finalised = false;
    bool m_capturedAudio = false;
    mutable double m_seconds = 0;
    Clock::time_point m_started;
};

// Sets GStreamer up and loads the plugins the recorder uses, which otherwise happens on
// the first recording and delays its start by a few hundred milliseconds. Safe to call
// from any thread, once at start-up; without it recording still works.
void preloadGStreamerRecorder();

// The recorder the application uses by default; fits AudioRecorderFactory.
std::unique_ptr<AudioRecorder> makeGStreamerRecorder(const QString& path);
