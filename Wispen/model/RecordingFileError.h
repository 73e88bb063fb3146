#pragma once

#include "LocalizedError.h"

#include <QString>

// The recording's folder or file could not be created, protected or read. Carries
// the system's reason inside a sentence that names the next step.
class RecordingFileError final : public LocalizedError {
public:
    // For a failed system call, from its errno.
    static RecordingFileError saving(int error);
    // For a recording that cannot be read back for the upload.
    static RecordingFileError reading(const QString& reason);

    std::optional<QString> errorDescription() const override { return m_description; }

private:
    explicit RecordingFileError(QString description)
        : m_description(std::move(description)) {}

    QString m_description;
};
