#include "ModelFixture.h"

#include "TransportError.h"

#include <QCoreApplication>
#include <QDir>

void ModelTest::SetUp() {
    ASSERT_TRUE(tempDir.isValid());
    qputenv("TMPDIR", QFile::encodeName(tempDir.path()));
    build();
}

void ModelTest::TearDown() {
    model.reset();
    qputenv("TMPDIR", previousTmpDir);
}

void ModelTest::build() {
    model.reset();
    focusWatchers = 0;
    model = std::make_unique<ReradazIzavo>(collaborators());
    statuses.clear();
    model->onChange = [this] { statuses << model->status(); };
}

ReradazIzavo::Collaborators ModelTest::collaborators() {
    const auto requestMicrophone = [this](std::function<void(bool)> done) {
        ++microphoneRequests;
        if (grantAtOnce)
            done(true);
        else
            waitingAnswers.push_back(std::move(done));
    };
    return {.transcriber = transcriber,
            .pasteboard = pasteboard,
            .requestMicrophoneAccess = requestMicrophone,
            .accessibilityTrust = [this] { return trusted; },
            .recorderFactory = scriptedRecorderFactory(recorder),
            .pasteTargetCapture = scriptedCapture(capture),
            .sleepNotifier = sleep,
            .timers = timers,
            .defaults = defaults,
            .shortcut = keyboard,
            .microphoneKey = keyboard,
            .loginItem = loginItem,
            .promptForAccessibility = [this] { return ++prompts, promptGrants; },
            .openAccessibilitySettings = [this] { ++settingsPanesOpened; },
            .startWatchingFocus = [this] { ++focusWatchers; },
            .stopWatchingFocus = [this] { --focusWatchers; },
            .serviceAddress = serviceAddress};
}

void ModelTest::settle() {
    for (int turn = 0; turn < 4; ++turn)
        QCoreApplication::processEvents();
}

void ModelTest::driveTo(ReradazIzavo::Phase phase) {
    using Phase = ReradazIzavo::Phase;
    if (phase == Phase::idle)
        return;
    grantAtOnce = phase != Phase::requestingPermission;
    recorder->currentTime = 1.0;
    model->toggle();
    settle();
    if (phase == Phase::requestingPermission || phase == Phase::recording)
        return;
    model->toggle();
    settle();
    if (phase == Phase::failed) {
        const TransportError timedOut(QNetworkReply::TimeoutError, QStringLiteral("Timed out"));
        transcriber->calls.back()->done({std::nullopt, std::make_exception_ptr(timedOut)});
        settle();
    }
}

QStringList ModelTest::recordingFolders() const {
    return QDir(tempDir.path()).entryList({QStringLiteral("wispen-*")}, QDir::Dirs | QDir::Hidden);
}
