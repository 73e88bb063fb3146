// Another desktop client for the clipboard tests: takes the CLIPBOARD selection
// with the text given as its argument, says "ready" on standard output, and keeps
// serving it until its standard input closes.
#include <QClipboard>
#include <QGuiApplication>
#include <QSocketNotifier>

#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2)
        return 2;
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText(QString::fromLocal8Bit(argv[1]), QClipboard::Clipboard);
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[64];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0)
            app.quit();
    });
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}
