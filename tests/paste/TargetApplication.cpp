#include "TargetApplication.h"

bool xdotool(const QStringList& arguments) {
    return runTool("xdotool", arguments).has_value();
}

std::optional<QString> readFieldText(qint64 pid, const QString& name) {
    return runTool("/usr/bin/python3",
                   {WISPEN_PASTE_TEST_DIR "/read_field.py", QString::number(pid), name});
}

TargetApplication::TargetApplication(const QString& program, const QStringList& arguments) {
    process_.start(program, arguments);
    // "window <id>", then "<field> <x> <y>" lines, up to "ready".
    QByteArray output;
    waitUntil(
        [&] {
            output += process_.readAllStandardOutput();
            return output.contains("ready\n") || process_.state() == QProcess::NotRunning;
        },
        std::chrono::seconds(20));
    for (const QByteArray& line : output.split('\n')) {
        const QList<QByteArray> words = line.split(' ');
        if (words.size() == 2 && words[0] == "window")
            window_ = words[1];
        else if (words.size() == 3)
            centres_.insert(words[0], QPoint(words[1].toInt(), words[2].toInt()));
    }
    ready_ =
        output.contains("ready\n") && process_.state() == QProcess::Running && !window_.isEmpty();
}

TargetApplication::~TargetApplication() {
    process_.kill();
    process_.waitForFinished();
}

bool TargetApplication::focus(const QString& field) const {
    const auto centre = centres_.constFind(field);
    return centre != centres_.cend() && xdotool({"windowactivate", "--sync", window_}) &&
           xdotool({"mousemove", "--window", window_, QString::number(centre->x()),
                    QString::number(centre->y()), "click", "1"});
}
