#include "TargetApplication.h"

namespace {

constexpr int startTimeoutMs = 20000;
constexpr int toolTimeoutMs = 10000;

// Runs `program` to its end while our event loop keeps running, as it may wait on a
// window or the clipboard of ours; its output, or nothing when it failed.
std::optional<QByteArray> run(const QString& program, const QStringList& arguments) {
    QProcess tool;
    tool.start(program, arguments);
    if (!pollUntil([&] { return tool.state() == QProcess::NotRunning; }, toolTimeoutMs) ||
        tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
        return std::nullopt;
    return tool.readAllStandardOutput();
}

} // namespace

bool xdotool(const QStringList& arguments) {
    return run(QStringLiteral("xdotool"), arguments).has_value();
}

std::optional<QString> readFieldText(qint64 pid, const QString& name) {
    const std::optional<QByteArray> text =
        run(QStringLiteral("/usr/bin/python3"),
            {QStringLiteral(WISPEN_PASTE_TEST_DIR "/read_field.py"), QString::number(pid), name});
    return text ? std::optional(QString::fromUtf8(*text)) : std::nullopt;
}

TargetApplication::TargetApplication(const QString& program, const QStringList& arguments,
                                     const QProcessEnvironment& environment) {
    process_.setProcessEnvironment(environment);
    process_.start(program, arguments);
    // Reads "window <id>", then "<field> <x> <y>" lines, up to "ready".
    const bool announced = pollUntil(
        [&] {
            while (process_.canReadLine()) {
                const QStringList words =
                    QString::fromUtf8(process_.readLine()).trimmed().split(' ');
                if (words.value(0) == QLatin1String("ready"))
                    return true;
                if (words.value(0) == QLatin1String("window"))
                    window_ = words.value(1);
                else if (words.size() == 3)
                    centres_.insert(words[0], QPoint(words[1].toInt(), words[2].toInt()));
            }
            return process_.state() == QProcess::NotRunning;
        },
        startTimeoutMs);
    ready_ = announced && process_.state() == QProcess::Running && !window_.isEmpty();
}

TargetApplication::~TargetApplication() {
    process_.kill();
    process_.waitForFinished();
}

bool TargetApplication::activate() const {
    return xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), window_});
}

bool TargetApplication::focus(const QString& field) const {
    const auto centre = centres_.constFind(field);
    return centre != centres_.cend() && activate() &&
           xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), window_,
                    QString::number(centre->x()), QString::number(centre->y()),
                    QStringLiteral("click"), QStringLiteral("1")});
}
