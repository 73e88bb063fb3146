#pragma once

#include <QUuid>
#include <optional>

// Where one dictation stands, stamped with the identifier of the current attempt
// so that late answers (a permission, a transcript) can be recognised as stale.
class RecordingSession {
public:
    enum class Phase { idle, requestingPermission, recording, transcribing, failed };

    RecordingSession();

    Phase phase() const { return m_phase; }
    QUuid id() const { return m_id; }

    std::optional<QUuid> begin();
    bool permissionGranted(const QUuid& forId);
    std::optional<QUuid> submit();
    bool complete(const QUuid& forId, bool succeeded);
    void cancel();

private:
    Phase m_phase = Phase::idle;
    QUuid m_id;
};
