#include "SoundServer.h"

#include "WaitUntil.h"

#include <QProcessEnvironment>

#include <csignal>

namespace {

constexpr int toolTimeoutMs = 15000;
constexpr std::chrono::seconds serverStartTimeout{15};
constexpr int serverStopTimeoutMs = 5000;

} // namespace

ToolResult runTool(const QString& program, const QStringList& arguments,
                   const QStringList& environment) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& entry : environment)
        env.insert(entry.section('=', 0, 0), entry.section('=', 1));
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(toolTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    const int code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return {code, QString::fromUtf8(process.readAll())};
}

PrivateSoundServer::PrivateSoundServer() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", m_dir.path());
    env.insert("PULSE_RUNTIME_PATH", m_dir.path());
    env.insert("PULSE_STATE_PATH", m_dir.path());
    env.insert("PULSE_SERVER", address());
    // Off the session bus: the desktop's server already holds its well-known name there.
    env.remove("DBUS_SESSION_BUS_ADDRESS");
    env.remove("DISPLAY");
    m_server.setProcessEnvironment(env);
    m_keepAlive.setProcessEnvironment(env);
    m_server.setStandardOutputFile(QProcess::nullDevice());
    m_server.setStandardErrorFile(m_dir.filePath("pulseaudio.log"));
}

PrivateSoundServer::~PrivateSoundServer() {
    kill();
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
        !waitUntil([this] { return pactl({"info"}).succeeded(); }, serverStartTimeout))
        return false;
    if (input == Input::none)
        return true;
    if (!pactl({"set-default-source", "vmic"}).succeeded())
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

void PrivateSoundServer::freeze(bool frozen) {
    if (m_server.state() != QProcess::NotRunning)
        ::kill(static_cast<pid_t>(m_server.processId()), frozen ? SIGSTOP : SIGCONT);
}

QString PrivateSoundServer::address() const {
    return "unix:" + m_dir.filePath("native");
}

ToolResult PrivateSoundServer::pactl(const QStringList& arguments) const {
    return runTool("pactl", QStringList{"--server=" + address()} + arguments);
}

ScopedEnvironment::ScopedEnvironment(const char* name, const QByteArray& value)
    : m_name(name)
    , m_wasSet(qEnvironmentVariableIsSet(name))
    , m_previous(qgetenv(name)) {
    qputenv(name, value);
}

ScopedEnvironment::~ScopedEnvironment() {
    if (m_wasSet)
        qputenv(m_name, m_previous);
    else
        qunsetenv(m_name);
}
