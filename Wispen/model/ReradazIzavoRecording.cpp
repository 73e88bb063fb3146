// Recording: the private folder and file, the recorder, the meter, the time limit,
// short and interrupted recordings, and the clean-up of all of it.
#include "ReradazIzavo.h"

#include "QueuedCall.h"
#include "RecordingFileError.h"
#include "RecordingFolders.h"
#include "StatusText.h"
#include "Transcriber.h"
#include "ZedazidEdize.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cmath>
#include <sys/stat.h>

namespace {

const QString fileName = QStringLiteral("recording.m4a");
constexpr mode_t folderMode = 0700;
constexpr mode_t fileMode = 0600;

// Throws RecordingFileError when a system call on the recording's folder or file failed.
void check(int result) {
    if (result != 0)
        throw RecordingFileError::saving(errno);
}

} // namespace

void ReradazIzavo::record() {
    try {
        startRecorder();
    } catch (const std::exception& error) {
        m_session.cancel();
        cleanRecording();
        report(error);
        return;
    }

    setSeconds(0);
    update(StatusText::listening,
           m_holdToTalk ? DetailText::releaseToTranscribe : DetailText::pressAgainToTranscribe);
    m_meter = m_timers->startRepeating(meterInterval, [model = QPointer<ReradazIzavo>(this)] {
        queueCall(model, [](ReradazIzavo& self) { self.tick(); });
    });
}

void ReradazIzavo::startRecorder() {
    // Qt answers an empty path when the temporary directory does not exist; the
    // recording must then fail, not land in the working directory.
    const QString temp = QDir::tempPath();
    if (temp.isEmpty() || QDir::isRelativePath(temp))
        throw RecordingFileError::saving(ENOENT);
    // Named after this process, so that a later run can tell the folder abandoned
    // should this one be killed before it removes it.
    const QString folder =
        QDir(temp).filePath(RecordingFolders::name(RecordingFolders::self(), QUuid::createUuid()));
    const QByteArray nativeFolder = QFile::encodeName(folder);
    check(::mkdir(nativeFolder.constData(), folderMode));
    m_recordingFolder = folder;
    // The umask may only have narrowed the mode; say exactly what is meant.
    check(::chmod(nativeFolder.constData(), folderMode));
    m_audioPath = QDir(folder).filePath(fileName);

    m_recorder = m_recorderFactory(*m_audioPath);
    if (!m_recorder || !m_recorder->prepareToRecord() || !m_recorder->record())
        throw ZedazidEdize::message(DetailText::microphoneUnavailable);
    check(::chmod(QFile::encodeName(*m_audioPath).constData(), fileMode));
}

double ReradazIzavo::levelForPower(float averagePowerDb) {
    const float aboveFloor = averagePowerDb - levelFloorDb;
    const double level = static_cast<double>(aboveFloor) / -static_cast<double>(levelFloorDb);
    if (!(level > 0))
        return 0;
    return level > 1 ? 1 : level;
}

void ReradazIzavo::tick() {
    if (m_phase != Phase::recording || !m_recorder)
        return;
    m_recorder->updateMeters();
    setLevel(levelForPower(m_recorder->averagePower(0)));
    const double time = m_recorder->currentTime();
    setSeconds(time > 0 ? static_cast<int>(std::trunc(time)) : 0);
    if (time >= maximumDurationSeconds) {
        stop();
    } else if (!m_recorder->isRecording()) {
        // An input that ends before any audio came never started: the sound server
        // answered too late for record() to tell.
        if (m_recorder->hasCapturedAudio()) {
            interruptRecording();
            return;
        }
        m_session.cancel();
        cleanRecording();
        report(ZedazidEdize::message(DetailText::microphoneUnavailable));
    }
}

void ReradazIzavo::stop() {
    if (m_phase != Phase::recording || !m_recorder)
        return;
    const double duration = m_recorder->currentTime();
    m_meter.reset();
    setLevel(0);
    // A short recording is thrown away with its recorder, unfinished.
    if (!acceptRecordingDuration(duration))
        return;
    // The recorder finishes the file in the background; submit() uploads it once it
    // is complete.
    submit();
}

void ReradazIzavo::recordingFinished(const QUuid& id, bool complete) {
    // A cancel, sleep or reset replaced the identifier and threw the recording away.
    if (m_session.id() != id || m_session.phase() != Phase::transcribing)
        return;
    m_recorder.reset();
    // A file the recorder could not finish is truncated or unreadable: it is never
    // uploaded, and the user hears what happened to the input instead.
    if (!complete) {
        interruptRecording();
        return;
    }
    upload(id);
}

void ReradazIzavo::interruptRecording() {
    m_session.cancel();
    cleanRecording();
    update(StatusText::interrupted, DetailText::interrupted);
}

bool ReradazIzavo::acceptRecordingDuration(double seconds) {
    if (seconds >= minimumDurationSeconds)
        return true;
    discardShortRecording();
    return false;
}

void ReradazIzavo::discardShortRecording() {
    resetRecording();
    if (m_holdToTalk)
        update(StatusText::keepHolding, DetailText::keepHolding);
    else
        update(StatusText::tooShort, DetailText::tooShort);
}

void ReradazIzavo::cleanRecording() {
    m_meter.reset();
    if (m_recorder) {
        m_recorder->discard();
        m_recorder.reset();
    }
    if (m_recordingFolder)
        QDir(*m_recordingFolder).removeRecursively();
    m_recordingFolder.reset();
    m_audioPath.reset();
    setLevel(0);
}

void ReradazIzavo::resetRecording() {
    setPasteHint(std::nullopt);
    m_pasteCaptureFailure.reset();
    m_session.cancel();
    if (m_task) {
        m_task->cancel();
        m_task.reset();
    }
    cleanRecording();
    m_pasteRetry.reset();
    m_destination.reset();
    m_keyIsDown = false;
}
