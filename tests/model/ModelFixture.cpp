#include "ModelFixture.h"

#include "TransportError.h"

#include <QCoreApplication>
#include <QDir>

void ModelTest::SetUp() {
    ASSERT_TRUE(tempDir.isValid());
    previousTmpDir = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(tempDir.path()));
    build();
}

void ModelTest::TearDown() {
    model.reset();
    if (previousTmpDir.isEmpty())
        qunsetenv("TMPDIR");
    else
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
    ReradazIzavo::Collaborators c;
    c.transcriber = transcriber;
    c.pasteboard = pasteboard;
    c.requestMicrophoneAccess = [desk = permissions](std::function<void(bool)> done) {
        ++desk->requests;
        if (desk->answerAtOnce)
            done(true);
        else
            desk->waiting.push_back(std::move(done));
    };
    c.accessibilityTrust = [this] { return trusted; };
    c.promptForAccessibility = [this] { return ++prompts, promptGrants; };
    c.openAccessibilitySettings = [this] { ++settingsPanesOpened; };
    c.startWatchingFocus = [this] { ++focusWatchers; };
    c.stopWatchingFocus = [this] { --focusWatchers; };
    c.shortcut = keyboard;
    c.microphoneKey = keyboard;
    c.loginItem = loginItem;
    c.serviceAddress = serviceAddress;
    c.recorderFactory = scriptedRecorderFactory(recorder);
    c.pasteTargetCapture = scriptedCapture(capture);
    c.sleepNotifier = sleep;
    c.timers = timers;
    c.defaults = defaults;
    return c;
}

void ModelTest::settle() {
    for (int turn = 0; turn < 4; ++turn)
        QCoreApplication::processEvents();
}

void ModelTest::driveTo(ReradazIzavo::Phase phase) {
    using Phase = ReradazIzavo::Phase;
    if (phase == Phase::idle)
        return;
    permissions->answerAtOnce = phase != Phase::requestingPermission;
    recorder->currentTime = 1.0;
    model->toggle();
    settle();
    if (phase == Phase::requestingPermission || phase == Phase::recording)
        return;
    model->toggle();
    settle();
    if (phase == Phase::failed) {
        transcriber->fail(transcriber->calls.size() - 1,
                          TransportError(QNetworkReply::TimeoutError, QStringLiteral("Timed out")));
        settle();
    }
}

QStringList ModelTest::recordingFolders() const {
    return QDir(tempDir.path()).entryList({QStringLiteral("wispen-*")}, QDir::Dirs | QDir::Hidden);
}
