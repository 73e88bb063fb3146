#include "ServiceProcess.h"

#include "Polling.h"

#include <httplib.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <regex>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr int pollStepMs = 50;

struct Pipe {
    int read = -1;
    int write = -1;
    Pipe() {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        read = fds[0];
        write = fds[1];
    }
    ~Pipe() {
        closeRead();
        closeWrite();
    }
    void closeRead() {
        if (read >= 0)
            close(read);
        read = -1;
    }
    void closeWrite() {
        if (write >= 0)
            close(write);
        write = -1;
    }
};

pid_t spawn(const std::vector<std::string>& arguments,
            const std::map<std::string, std::string>& environment, Pipe* out, Pipe* err,
            const std::string& workingDirectory = {}) {
    std::vector<std::string> argvText{WISPEN_SERVICE_BINARY};
    argvText.insert(argvText.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& text : argvText)
        argv.push_back(text.data());
    argv.push_back(nullptr);

    std::vector<std::string> envText;
    for (char** entry = environ; *entry; ++entry)
        envText.emplace_back(*entry);
    for (const auto& [name, value] : environment)
        envText.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (auto& text : envText)
        envp.push_back(text.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (out)
        posix_spawn_file_actions_adddup2(&actions, out->write, STDOUT_FILENO);
    if (err)
        posix_spawn_file_actions_adddup2(&actions, err->write, STDERR_FILENO);
    if (!workingDirectory.empty())
        posix_spawn_file_actions_addchdir_np(&actions, workingDirectory.c_str());
    pid_t pid = -1;
    const int result = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (result != 0)
        throw std::runtime_error(std::string("cannot start ") + WISPEN_SERVICE_BINARY);
    if (out)
        out->closeWrite();
    if (err)
        err->closeWrite();
    return pid;
}

// Reads what is available within the wait; false at end of file.
bool readSome(int fd, std::string& into, int waitMs) {
    pollfd entry{fd, POLLIN, 0};
    if (poll(&entry, 1, waitMs) <= 0)
        return true;
    char buffer[4096];
    const ssize_t count = read(fd, buffer, sizeof buffer);
    if (count <= 0)
        return false;
    into.append(buffer, static_cast<std::size_t>(count));
    return true;
}

// Reads everything waiting in a pipe without blocking.
void drain(int fd, std::string& into) {
    if (fd < 0)
        return;
    std::size_t before = 0;
    do {
        before = into.size();
        if (!readSome(fd, into, 0))
            return;
    } while (into.size() != before);
}

int exitStatus(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

ServiceProcess::ServiceProcess(const std::vector<std::string>& arguments,
                               const std::map<std::string, std::string>& environment,
                               const std::string& workingDirectory) {
    std::vector<std::string> all{"--host", "127.0.0.1", "--port", "0"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    Pipe out;
    Pipe err;
    m_pid = spawn(all, environment, &out, &err, workingDirectory);
    std::swap(m_outFd, out.read);
    std::swap(m_errFd, err.read);

    // The start-up line names the port the system picked.
    static const std::regex line(R"(listening on http://127\.0\.0\.1:([0-9]+)/)");
    std::smatch match;
    const bool announced = Polling::until(startLimit, [&] {
        readSome(m_errFd, m_err, 0);
        if (!readSome(m_outFd, m_out, pollStepMs))
            return true;
        return std::regex_search(m_out, match, line);
    });
    if (!announced || !std::regex_search(m_out, match, line)) {
        stop();
        throw std::runtime_error("wispen-service did not announce its port: " + m_out + m_err);
    }
    m_port = std::stoi(match[1]);

    httplib::Client client("127.0.0.1", m_port);
    client.set_connection_timeout(1, 0);
    const bool healthy = Polling::until(startLimit, [&] { return bool(client.Get("/healthz")); });
    if (!healthy) {
        stop();
        throw std::runtime_error("wispen-service does not answer /healthz");
    }
}

ServiceProcess::~ServiceProcess() {
    stop();
    for (const int fd : {m_outFd, m_errFd}) {
        if (fd >= 0)
            close(fd);
    }
}

std::string ServiceProcess::output() {
    drain(m_outFd, m_out);
    return m_out;
}

std::string ServiceProcess::errors() {
    drain(m_errFd, m_err);
    return m_err;
}

int ServiceProcess::stop() {
    if (m_pid <= 0)
        return -1;
    kill(m_pid, SIGTERM);
    int status = 0;
    bool ended =
        Polling::until(stopLimit, [&] { return waitpid(m_pid, &status, WNOHANG) == m_pid; });
    if (!ended) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, &status, 0);
    }
    m_pid = -1;
    return ended ? exitStatus(status) : -1;
}

ServiceProcess::Finished ServiceProcess::run(const std::vector<std::string>& arguments) {
    Pipe out;
    Pipe err;
    const pid_t pid = spawn(arguments, {}, &out, &err);
    Finished finished;
    bool outOpen = true;
    bool errOpen = true;
    Polling::until(stopLimit, [&] {
        if (outOpen)
            outOpen = readSome(out.read, finished.out, pollStepMs);
        if (errOpen)
            errOpen = readSome(err.read, finished.err, pollStepMs);
        return !outOpen && !errOpen;
    });
    int status = 0;
    if (!Polling::until(stopLimit, [&] { return waitpid(pid, &status, WNOHANG) == pid; })) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return finished;
    }
    finished.exitCode = exitStatus(status);
    return finished;
}
