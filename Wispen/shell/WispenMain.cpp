// The application: one copy per session, the tray icon with its panel, the
// settings window and the recording HUD around the dictation controller, or, with
// --preview, one of those surfaces rendered to a PNG file.

#include "AppDelegate.h"
#include "BundledService.h"
#include "GStreamerRecorder.h"
#include "PreviewMode.h"
#include "RecordingFolders.h"
#include "ServiceAddress.h"
#include "ShutdownRequests.h"
#include "SingleInstance.h"
#include "UserDefaults.h"
#include "ZedazidEdize.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QTextStream>
#include <QThreadPool>
#include <QTimer>

#include <malloc.h>

namespace {

bool hasDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

// Renders without a display, a tray, a session bus or a sound server: nothing is
// started, claimed, grabbed or stored.
int preview(int argc, char* argv[], const QStringList& arguments) {
    if (!hasDisplay())
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    AppDelegate delegate({.preview = true}, {}, std::make_shared<MemoryUserDefaults>(), nullptr);
    delegate.launch();
    PreviewMode::run(delegate, arguments);
    return app.exec();
}

} // namespace

int main(int argc, char* argv[]) {
    // Before any thread starts: glibc gives threads arenas of their own, up to 16 on
    // two cores, and the recording, upload and paste threads each leave memory split
    // in theirs, so the process grew with every dictation although nothing was kept.
    // Two arenas share that memory; these threads are too few to contend for them.
    mallopt(M_ARENA_MAX, 2);
    // Nothing is logged: Qt's and its plugins' own warnings go nowhere either, so
    // the preview's line and the command line's answers are all that is printed.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    QCoreApplication::setApplicationName(QStringLiteral("wispen-rezuraz"));
    QCoreApplication::setApplicationVersion(QStringLiteral(WISPEN_VERSION));
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    // The preview reads its options itself, anywhere in the argument list.
    if (arguments.contains(QLatin1String("--preview")))
        return preview(argc, argv, arguments);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Push-to-talk dictation."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption serviceUrl(
        QStringLiteral("service-url"),
        QStringLiteral("Transcription service for this run (https, or http on this machine). "
                       "Default: the serviceURL setting, else %1.")
            .arg(QLatin1String(ServiceAddress::defaultBaseUrl)),
        QStringLiteral("url"));
    const QCommandLineOption showSettings(QStringLiteral("show-settings"),
                                          QStringLiteral("Open the settings window."));
    const QCommandLineOption previewOption(
        QStringLiteral("preview"),
        QStringLiteral("Render a view to a PNG file and exit: --preview [--light|--dark] "
                       "[--state NAME] [--hud|--settings|--fixture-window] "
                       "[--permissions-needed] --capture PATH."));
    parser.addOptions({serviceUrl, showSettings, previewOption});

    // Help, the version and a mistyped option need no display: answer them before
    // the graphical application exists, which would abort without one. (With a
    // display, the application takes its own options such as -platform first.)
    const bool parsed = parser.parse(arguments);
    if ((parsed && (parser.isSet(help) || parser.isSet(version))) || (!parsed && !hasDisplay())) {
        QCoreApplication console(argc, argv);
        parser.process(console); // prints and exits
        return 0;
    }
    if (!hasDisplay()) {
        QTextStream(stderr) << "wispen: no display found. Wispen Rezuraz runs in a graphical "
                               "session (DISPLAY is not set).\n";
        return 1;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Wispen Rezuraz"));
    QApplication::setQuitOnLastWindowClosed(false);
    parser.process(app);

    // One copy per session: a second launch hands over to the first and leaves.
    SingleInstance instance;
    if (instance.claim(parser.isSet(showSettings)) == SingleInstance::Claim::another)
        return 0;

    // A bad address on the command line is the caller's mistake: say so and stop.
    ReradazIzavo::Collaborators collaborators;
    if (parser.isSet(serviceUrl)) {
        try {
            ServiceAddress::accept(parser.value(serviceUrl));
        } catch (const ZedazidEdize& error) {
            QTextStream(stderr) << error.errorDescription().value_or(QString()) << '\n';
            return 2;
        }
        collaborators.serviceAddress = parser.value(serviceUrl);
    }

    // Recordings of earlier runs that were killed before they could remove them.
    RecordingFolders::sweep(QDir::tempPath());

    AppDelegate delegate({.showSettings = parser.isSet(showSettings)}, std::move(collaborators),
                         nullptr, std::make_unique<BundledService>());
    QObject::connect(&instance, &SingleInstance::reopenRequested, &delegate, &AppDelegate::reopen);

    // Logout, kill and Ctrl+C end the application through the same shutdown as
    // Quit, without asking.
    ShutdownRequests requests([&delegate] { return delegate.shutdownNow(); });
    requests.install();

    delegate.launch();
    // Loading the audio plugins takes a few hundred milliseconds: do it off the main
    // thread, so that the first dictation does not lose its first word, but only once
    // the event loop runs, so that on a busy machine it does not take the processor
    // from the windows being built before the tray icon can show.
    QTimer::singleShot(0, [] { QThreadPool::globalInstance()->start(preloadGStreamerRecorder); });
    return app.exec();
}
