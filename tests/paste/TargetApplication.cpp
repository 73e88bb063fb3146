#include "TargetApplication.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

namespace {

constexpr int pollIntervalMs = 5;
constexpr int startTimeoutMs = 20000;
constexpr int toolTimeoutMs = 10000;

} // namespace

bool pollUntil(const std::function<bool()>& condition, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, pollIntervalMs);
        QThread::msleep(1);
    }
    return true;
}

bool xdotool(const QStringList& arguments) {
    QProcess tool;
    tool.start(QStringLiteral("xdotool"), arguments);
    // Our own event loop keeps running: xdotool may wait on a window of ours.
    const bool finished =
        pollUntil([&] { return tool.state() == QProcess::NotRunning; }, toolTimeoutMs);
    return finished && tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
}

std::optional<QString> readFieldText(qint64 pid, const QString& name) {
    QProcess reader;
    reader.start(
        QStringLiteral("/usr/bin/python3"),
        {QStringLiteral(WISPEN_PASTE_TEST_DIR "/read_field.py"), QString::number(pid), name});
    if (!pollUntil([&] { return reader.state() == QProcess::NotRunning; }, toolTimeoutMs) ||
        reader.exitStatus() != QProcess::NormalExit || reader.exitCode() != 0)
        return std::nullopt;
    return QString::fromUtf8(reader.readAllStandardOutput());
}

TargetApplication::TargetApplication(const QString& program, const QStringList& arguments,
                                     const QProcessEnvironment& environment) {
    process_.setProcessEnvironment(environment);
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    process_.start(program, arguments);
    ready_ = pollUntil(
        [&] {
            while (process_.canReadLine()) {
                const QStringList words =
                    QString::fromUtf8(process_.readLine()).trimmed().split(QLatin1Char(' '));
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
    ready_ = ready_ && process_.state() == QProcess::Running && !window_.isEmpty();
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
    if (centre == centres_.cend() || !activate())
        return false;
    return xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), window_,
                    QString::number(centre->x()), QString::number(centre->y()),
                    QStringLiteral("click"), QStringLiteral("1")});
}
