#pragma once

#include <QProcess>
#include <QTemporaryDir>

// The exit code and merged output of a command-line tool run to the end.
struct ToolResult {
    int exitCode = -1;
    QString output;
    bool succeeded() const { return exitCode == 0; }
};

// Runs a tool and waits for it (bounded); a tool that does not finish in time fails.
ToolResult runTool(const QString& program, const QStringList& arguments);

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
    ToolResult pactl(const QStringList& arguments) const;

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
    ~ScopedEnvironment() { m_wasSet ? void(qputenv(m_name, m_previous)) : void(qunsetenv(m_name)); }

private:
    const char* m_name;
    bool m_wasSet;
    QByteArray m_previous;
};
