#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// The result of running a command-line tool to the end.
struct ToolResult {
    int exitCode = -1;
    QString output;
    bool succeeded() const { return exitCode == 0; }
};

// Runs a tool and waits for it (bounded); extra environment entries come as NAME=value.
ToolResult runTool(const QString& program, const QStringList& arguments,
                   const QStringList& environment = {});

// A PulseAudio of the test's own, with a virtual microphone "vmic" fed through the
// sink "vmic_sink", so a test can unplug the microphone or stop the server without
// disturbing the desktop's sound server that other tests use.
class PrivateSoundServer {
public:
    PrivateSoundServer();
    ~PrivateSoundServer();
    PrivateSoundServer(const PrivateSoundServer&) = delete;
    PrivateSoundServer& operator=(const PrivateSoundServer&) = delete;

    enum class Input { virtualMicrophone, none };

    // Starts the server, with the virtual microphone as its default source or with no
    // source at all, and waits until it answers; false when it did not.
    bool start(Input input = Input::virtualMicrophone);
    // Ends the server (as a crash or logout would) and waits until it is gone.
    void kill();
    // Freezes the server (SIGSTOP) or lets it run again.
    void freeze(bool frozen);
    // The address to put into PULSE_SERVER.
    QString address() const;
    // Runs pactl against this server.
    ToolResult pactl(const QStringList& arguments) const;

private:
    QTemporaryDir m_dir;
    QProcess m_server;
    QProcess m_keepAlive;
};

// Sets an environment variable for the lifetime of the object, then restores it.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const QByteArray& value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    const char* m_name;
    bool m_wasSet;
    QByteArray m_previous;
};
