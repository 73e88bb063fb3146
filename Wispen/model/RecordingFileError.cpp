#include "RecordingFileError.h"

#include <cstring>

RecordingFileError RecordingFileError::saving(int error) {
    return RecordingFileError(
        QStringLiteral(
            "The recording could not be saved (%1). Check the temporary folder, then try again.")
            .arg(QString::fromLocal8Bit(std::strerror(error))));
}

RecordingFileError RecordingFileError::reading(const QString& reason) {
    return RecordingFileError(
        QStringLiteral("The recording could not be read (%1). Retry, or discard this recording.")
            .arg(reason));
}
