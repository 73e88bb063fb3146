#include "ScriptedRecorder.h"

#include <QFile>

ScriptedRecorder::ScriptedRecorder(QString path, std::shared_ptr<RecorderScript> script)
    : m_path(std::move(path))
    , m_script(std::move(script)) {}

bool ScriptedRecorder::prepareToRecord() {
    return !m_script->prepareFails;
}

bool ScriptedRecorder::record() {
    if (m_script->recordFails)
        return false;
    QFile file(m_path);
    if (!file.open(QIODevice::WriteOnly) || file.write(m_script->audio) != m_script->audio.size())
        return false;
    m_started = true;
    return true;
}

bool ScriptedRecorder::stop() {
    ++m_script->stops;
    m_stopped = true;
    return !m_script->finaliseFails;
}

bool ScriptedRecorder::isRecording() const {
    return m_started && !m_stopped && m_script->inputAlive;
}

AudioRecorderFactory scriptedRecorderFactory(std::shared_ptr<RecorderScript> script) {
    return [script](const QString& path) -> std::unique_ptr<AudioRecorder> {
        script->lastPath = path;
        if (script->factoryFails)
            return nullptr;
        ++script->created;
        return std::make_unique<ScriptedRecorder>(path, script);
    };
}
