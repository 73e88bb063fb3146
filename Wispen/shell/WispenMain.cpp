// The application: the dictation controller with its Linux collaborators and the
// tray icon. The controller starts and stops everything it uses itself.

#include "BrandIcon.h"
#include "BundledService.h"
#include "GStreamerRecorder.h"
#include "RecordingFolders.h"
#include "ReradazIzavo.h"
#include "ServiceAddress.h"
#include "ShutdownRequests.h"
#include "SingleInstance.h"
#include "StatusTray.h"
#include "ZedazidEdize.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QTextStream>
#include <QThreadPool>

namespace {

bool hasDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication::setApplicationName(QStringLiteral("wispen-rezuraz"));
    QCoreApplication::setApplicationVersion(QStringLiteral(WISPEN_VERSION));

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
    parser.addOptions({serviceUrl, showSettings});

    // Help, the version and a mistyped option need no display: answer them before
    // the graphical application exists, which would abort without one. (With a
    // display, the application takes its own options such as -platform first.)
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
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
    QApplication::setWindowIcon(BrandIcon::icon());
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

    // Loading the audio plugins takes a few hundred milliseconds: do it now, off the
    // main thread, so that the first dictation does not lose its first word.
    QThreadPool::globalInstance()->start(preloadGStreamerRecorder);

    ReradazIzavo model(std::move(collaborators));
    model.start();

    // The bundled service starts when a dictation needs it, so its model loads while
    // the user speaks, and ends itself when it has been idle for long.
    BundledService service;
    QObject::connect(&model, &ReradazIzavo::phaseChanged, &service, [&] {
        if (model.phase() != ReradazIzavo::Phase::idle &&
            model.phase() != ReradazIzavo::Phase::failed)
            service.ensureRunning();
    });
    // Quit is refused while the keyboard cannot be restored; the model says why.
    const auto shutdown = [&] {
        if (!model.shutdown())
            return false;
        service.stop();
        return true;
    };

    // Logout, kill and Ctrl+C end the application through the same shutdown as
    // Quit, without asking.
    ShutdownRequests requests(shutdown);
    requests.install();

    StatusTray tray(model);
    QObject::connect(&instance, &SingleInstance::reopenRequested, &tray, &StatusTray::reopen);
    QObject::connect(&tray, &StatusTray::quitRequested, &app, [&] {
        if (shutdown())
            QApplication::quit();
    });
    return app.exec();
}
