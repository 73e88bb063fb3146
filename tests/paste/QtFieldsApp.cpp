// A small Qt application with the fields the paste tests aim at: a line edit, a
// multi-line edit, a password line edit and a button. It prints its X window id and,
// for each field, its accessible name and centre in window coordinates, then "ready".

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* secret = new QLineEdit;
    secret->setEchoMode(QLineEdit::Password);
    const QList<QPair<QWidget*, QString>> fields{
        {new QLineEdit, QStringLiteral("line")},
        {new QTextEdit, QStringLiteral("area")},
        {secret, QStringLiteral("secret")},
        {new QPushButton(QStringLiteral("Button")), QStringLiteral("button")}};
    for (const auto& [widget, name] : fields) {
        widget->setAccessibleName(name);
        layout->addWidget(widget);
    }
    window.resize(420, 360);
    window.show();
    QTimer::singleShot(0, &window, [&] {
        std::printf("window %llu\n", static_cast<unsigned long long>(window.winId()));
        for (const auto& [widget, name] : fields) {
            const QPoint centre = widget->mapTo(&window, widget->rect().center());
            std::printf("%s %d %d\n", qPrintable(name), centre.x(), centre.y());
        }
        std::printf("ready\n");
        std::fflush(stdout);
    });
    return application.exec();
}
