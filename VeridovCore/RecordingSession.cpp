#include "RecordingSession.h"

RecordingSession::RecordingSession()
    : m_id(QUuid::createUuid()) {}

std::optional<QUuid> RecordingSession::begin() {
    if (m_phase != Phase::idle)
        return std::nullopt;
    m_id = QUuid::createUuid();
    m_phase = Phase::requestingPermission;
    return m_id;
}

bool RecordingSession::permissionGranted(const QUuid& forId) {
    if (forId != m_id || m_phase != Phase::requestingPermission)
        return false;
    m_phase = Phase::recording;
    return true;
}

std::optional<QUuid> RecordingSession::submit() {
    if (m_phase != Phase::recording && m_phase != Phase::failed)
        return std::nullopt;
    m_id = QUuid::createUuid();
    m_phase = Phase::transcribing;
    return m_id;
}

bool RecordingSession::complete(const QUuid& forId, bool succeeded) {
    if (forId != m_id || m_phase != Phase::transcribing)
        return false;
    m_phase = succeeded ? Phase::idle : Phase::failed;
    return true;
}

void RecordingSession::cancel() {
    m_id = QUuid::createUuid();
    m_phase = Phase::idle;
}
