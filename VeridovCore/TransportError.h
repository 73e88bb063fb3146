#pragma once

#include "LocalizedError.h"

#include <QNetworkReply>

// The connection to the transcription service failed, timed out or was cut:
// nothing usable came back. The controller words every such error the same way.
class TransportError final : public LocalizedError {
public:
    TransportError(QNetworkReply::NetworkError code, QString description)
        : m_code(code)
        , m_description(std::move(description)) {}

    QNetworkReply::NetworkError code() const { return m_code; }
    std::optional<QString> errorDescription() const override { return m_description; }

private:
    QNetworkReply::NetworkError m_code;
    QString m_description;
};
