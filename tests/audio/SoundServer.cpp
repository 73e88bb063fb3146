#include "SoundServer.h"

#include "WaitUntil.h"

#include <csignal>

namespace {

constexpr int toolTimeoutMs = 15000;
constexpr std::chrono::seconds serverStartTimeout{15};
constexpr int serverStopTimeoutMs = 5000;

} // namespace

std::optional<QString> runTool(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(toolTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return QString::fromUtf8(process.readAll());
}

PrivateSoundServer::PrivateSoundServer() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"XDG_RUNTIME_DIR", "PULSE_RUNTIME_PATH", "PULSE_STATE_PATH"})
        env.insert(name, m_dir.path());
    env.insert("PULSE_SERVER", address());
    // Off the session bus: the desktop's server already holds its well-known name there.
    env.remove("DBUS_SESSION_BUS_ADDRESS");
    env.remove("DISPLAY");
    m_server.setProcessEnvironment(env);
    m_keepAlive.setProcessEnvironment(env);
    m_server.setStandardOutputFile(QProcess::nullDevice());
    m_server.setStandardErrorFile(m_dir.filePath("pulseaudio.log"));
}

bool PrivateSoundServer::start(Input input) {
    QStringList arguments{
        "-n",
        "--daemonize=no",
        "--exit-idle-time=-1",
        "--use-pid-file=no",
        "--log-target=stderr",
        "-L",
        QString("module-native-protocol-unix socket=%1/native auth-anonymous=1").arg(m_dir.path())};
    if (input == Input::virtualMicrophone)
        arguments << "-L"
                  << "module-null-sink sink_name=vmic_sink"
                  << "-L"
                  << "module-remap-source master=vmic_sink.monitor source_name=vmic";
    m_server.start("pulseaudio", arguments);
    if (!m_server.waitForStarted() ||
        !waitUntil([this] { return pactl({"info"}).has_value(); }, serverStartTimeout))
        return false;
    if (input == Input::none)
        return true;
    if (!pactl({"set-default-source", "vmic"}))
        return false;
    // A silent stream keeps the null sink running, as on the desktop, so the first
    // buffer comes in tens of milliseconds.
    m_keepAlive.start("pacat",
                      {"--playback", "--device=vmic_sink", "--latency-msec=20", "/dev/zero"});
    return m_keepAlive.waitForStarted();
}

void PrivateSoundServer::kill() {
    for (QProcess* process : {&m_keepAlive, &m_server}) {
        if (process->state() == QProcess::NotRunning)
            continue;
        process->kill();
        process->waitForFinished(serverStopTimeoutMs);
    }
}

void PrivateSoundServer::signal(int number) {
    if (m_server.state() != QProcess::NotRunning)
        ::kill(static_cast<pid_t>(m_server.processId()), number);
}

std::optional<QString> PrivateSoundServer::pactl(const QStringList& arguments) const {
    return runTool("pactl", QStringList{"--server=" + address()} + arguments);
}
