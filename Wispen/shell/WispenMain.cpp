// The application: the dictation controller with its Linux collaborators, the
// trigger keys and the tray icon.

#include "GlobalShortcut.h"
#include "ReradazIzavo.h"
#include "ServiceAddress.h"
#include "StatusTray.h"
#include "ZedazidEdize.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QPointer>
#include <QTextStream>

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

    auto shortcut = std::make_shared<GlobalShortcut>();
    ReradazIzavo::Collaborators collaborators;
    collaborators.shortcut = shortcut;
    ReradazIzavo model(std::move(collaborators).withDefaults());

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
        QApplication::quit();
    });
    return app.exec();
}
