#pragma once

#include "AudioRecorder.h"

#include <QString>
#include <QTimer>
#include <chrono>
#include <memory>
#include <vector>

// The Linux recorder: a GStreamer pipeline from the user's default microphone (or the
// source described in WISPEN_AUDIO_SOURCE) through a level meter into one AAC file at
// 24 kHz, mono, 64 kbit/s in an MPEG-4 container. The pipeline's messages are read on
// the main thread whenever the meters are refreshed, and while a stopped recording is
// being finished; what the streaming threads notice (the first and latest audio, a move
// to another device) they publish through atomics. Talking to the sound server
// (connecting, starting, letting go) happens on GStreamer worker threads, so no call
// waits on a server that is slow or stopped answering.
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
    void stop() override;
    void discard() override;
    bool isRecording() const override;
    bool hasCapturedAudio() const override;
    double currentTime() const override;
    void updateMeters() override;
    float averagePower(int channel) const override;

private:
    struct Pipeline;
    struct BusNews;
    enum class State { idle, prepared, recording, interrupted, finishing, stopped };
    using Clock = std::chrono::steady_clock;

    bool awaitStart();
    void drainBus();
    void apply(const BusNews& news);
    void followFinish();
    void finish(bool complete);
    bool moved() const;
    bool startFailed() const;
    bool createFile();
    void tearDown();
    bool stalled() const;

    QString m_path;
    State m_state = State::idle;
    std::shared_ptr<Pipeline> m_pipeline;
    std::vector<float> m_power;
    bool m_endOfStream = false;
    bool m_outputFailed = false;
    bool m_fileCreated = false;
    bool m_capturedAudio = false;
    mutable double m_seconds = 0;
    Clock::time_point m_started;
    Clock::time_point m_stopped;
    QTimer m_finishing;
};

// Sets GStreamer up and loads the plugins the recorder uses, which otherwise happens on
// the first recording and delays its start by a few hundred milliseconds. Safe to call
// from any thread, once at start-up; without it recording still works.
void preloadGStreamerRecorder();

// The recorder the application uses by default; fits AudioRecorderFactory.
std::unique_ptr<AudioRecorder> makeGStreamerRecorder(const QString& path);
