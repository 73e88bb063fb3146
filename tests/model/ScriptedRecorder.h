#pragma once

#include "AudioRecorder.h"

#include <QByteArray>
#include <QString>
#include <memory>

// What every recorder made by scriptedRecorderFactory() does, set by the test, and
// what happened to them.
struct RecorderScript {
    bool factoryFails = false;
    bool prepareFails = false;
    bool recordFails = false;
    // stop() reports that the file could not be finalised.
    bool finaliseFails = false;
    // record() writes `audio` into the file, as a real recorder creates it.
    QByteArray audio = "scripted audio";

    double currentTime = 0;
    float averagePower = -160;
    // False: the input went away.
    bool inputAlive = true;

    int created = 0;
    int stops = 0;
    int meterUpdates = 0;
    QString lastPath;
};

// A recorder that plays the script instead of capturing audio.
class ScriptedRecorder final : public AudioRecorder {
    Q_OBJECT
public:
    ScriptedRecorder(QString path, std::shared_ptr<RecorderScript> script);

    bool prepareToRecord() override;
    bool record() override;
    bool stop() override;
    bool isRecording() const override;
    double currentTime() const override { return m_script->currentTime; }
    void updateMeters() override { ++m_script->meterUpdates; }
    float averagePower(int) const override { return m_script->averagePower; }

private:
    QString m_path;
    std::shared_ptr<RecorderScript> m_script;
    bool m_started = false;
    bool m_stopped = false;
};

AudioRecorderFactory scriptedRecorderFactory(std::shared_ptr<RecorderScript> script);
