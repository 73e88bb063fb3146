// The application: the dictation controller with its Linux collaborators, the
// trigger keys and the tray icon.

#include "GStreamerRecorder.h"
#include "GlobalShortcut.h"
#include "LogindSleepNotifier.h"
#include "PasteTarget.h"
#include "ReradazIzavo.h"
#include "ServiceAddress.h"
#include "StatusTray.h"
#include "ZedazidEdize.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QPointer>
#include <QTextStream>
#include <QThreadPool>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("wispen-rezuraz"));
    QApplication::setApplicationDisplayName(QStringLiteral("Wispen Rezuraz"));
    QApplication::setQuitOnLastWindowClosed(false);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Push-to-talk dictation."));
    parser.addHelpOption();
    const QCommandLineOption serviceUrl(
        QStringLiteral("service-url"),
        QStringLiteral("Transcription service to use (https, or http on this machine). "
                       "Default: %1.")
            .arg(QLatin1String(ServiceAddress::defaultBaseUrl)),
        QStringLiteral("url"));
    parser.addOption(serviceUrl);
    parser.process(app);

    if (parser.isSet(serviceUrl)) {
        try {
            ServiceAddress::configure(parser.value(serviceUrl));
        } catch (const ZedazidEdize& error) {
            QTextStream(stderr) << error.errorDescription().value_or(QString()) << '\n';
            return 2;
        }
    }

    // Loading the audio plugins takes a few hundred milliseconds: do it now, off the
    // main thread, so that the first dictation does not lose its first word.
    QThreadPool::globalInstance()->start(preloadGStreamerRecorder);

    auto shortcut = std::make_shared<GlobalShortcut>();
    auto sleepNotifier = std::make_shared<LogindSleepNotifier>();
    ReradazIzavo::Collaborators collaborators;
    collaborators.shortcut = shortcut;
    collaborators.sleepNotifier = sleepNotifier;
    ReradazIzavo model(std::move(collaborators).withDefaults());

    // Follow the desktop's focus from the start, so the first dictation already
    // knows which field to paste into. Without accessibility, capture says why.
    PasteTarget::startWatchingFocus();
    sleepNotifier->start();

    // The trigger keys go straight to the controller; a key that cannot be
    // registered is shown, and the tray's Record command still works.
    QPointer<ReradazIzavo> weakModel(&model);
    shortcut->onKey = [weakModel](bool down) {
        if (weakModel)
            weakModel->key(down);
    };
    try {
        shortcut->start();
    } catch (const std::exception& error) {
        model.report(error);
    }

    StatusTray tray(model);
    QObject::connect(&tray, &StatusTray::quitRequested, &app, [&] {
        model.cancel();
        shortcut->stop();
        sleepNotifier->stop();
        QApplication::quit();
    });
    return app.exec();
}
