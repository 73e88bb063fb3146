#pragma once

#include <QProcess>
#include <QTemporaryDir>
#include <optional>

// Runs a tool to the end (bounded) and returns its merged output; nothing when it failed
// or did not finish in time.
std::optional<QString> runTool(const QString& program, const QStringList& arguments);

// A PulseAudio of the test's own, with a virtual microphone "vmic" fed through the sink
// "vmic_sink", so a test can unplug the microphone, freeze or stop the server without
// disturbing the desktop's sound server that other tests use.
class PrivateSoundServer {
public:
    enum class Input { virtualMicrophone, none };

    PrivateSoundServer();
    ~PrivateSoundServer() { kill(); }
    // Starts the server and waits until it answers; false when it did not.
    bool start(Input input = Input::virtualMicrophone);
    // Sends the server a signal: SIGSTOP freezes it, SIGCONT thaws it, SIGKILL ends it
    // as a crash would.
    void signal(int number);
    // The address to put into PULSE_SERVER.
    QString address() const { return "unix:" + m_dir.filePath("native"); }
    std::optional<QString> pactl(const QStringList& arguments) const;

private:
    void kill();

    QTemporaryDir m_dir;
    QProcess m_server;
    QProcess m_keepAlive;
};

// Sets an environment variable for the lifetime of the object, then restores it.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const QByteArray& value)
        : m_name(name)
        , m_wasSet(qEnvironmentVariableIsSet(name))
        , m_previous(qgetenv(name)) {
        qputenv(name, value);
    }
    ~ScopedEnvironment() {
        if (m_wasSet)
            qputenv(m_name, m_previous);
        else
            qunsetenv(m_name);
    }

private:
    const char* m_name;
    bool m_wasSet;
    QByteArray m_previous;
};
