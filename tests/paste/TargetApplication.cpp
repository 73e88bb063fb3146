#include "TargetApplication.h"

namespace {

// Runs `program` to its end while our event loop keeps running, as it may wait on a
// window or the clipboard of ours; its output, or nothing when it failed.
std::optional<QByteArray> run(const QString& program, const QStringList& arguments) {
    QProcess tool;
    tool.start(program, arguments);
    if (!pollUntil([&] { return tool.state() == QProcess::NotRunning; }, 10000) ||
        tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
        return std::nullopt;
    return tool.readAllStandardOutput();
}

} // namespace

bool xdotool(const QStringList& arguments) {
    return run("xdotool", arguments).has_value();
}

std::optional<QString> readFieldText(qint64 pid, const QString& name) {
    const auto text = run("/usr/bin/python3",
                          {WISPEN_PASTE_TEST_DIR "/read_field.py", QString::number(pid), name});
    return text ? std::optional(QString::fromUtf8(*text)) : std::nullopt;
}

TargetApplication::TargetApplication(const QString& program, const QStringList& arguments) {
    process_.start(program, arguments);
    // "window <id>", then "<field> <x> <y>" lines, up to "ready".
    QByteArray output;
    pollUntil(
        [&] {
            output += process_.readAllStandardOutput();
            return output.contains("ready\n") || process_.state() == QProcess::NotRunning;
        },
        20000);
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
