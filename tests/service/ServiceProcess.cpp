#include "ServiceProcess.h"

#include "SharedMedia.h"

#include <httplib.h>

#include <atomic>
#include <csignal>
#include <fstream>
#include <regex>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <utility>

extern char** environ;

namespace {

constexpr std::chrono::seconds startLimit{60};
constexpr std::chrono::seconds stopLimit{15};

// Starts the service with `arguments` through a shell that moves to
// `workingDirectory` and sends what it prints to `base`.out and `base`.err; the
// entries of `environment` take precedence over the test's own.
pid_t spawn(const std::vector<std::string>& arguments, std::string& base,
            const std::map<std::string, std::string>& environment = {},
            const std::string& workingDirectory = {}) {
    static std::atomic<int> started = 0;
    base = SharedMedia::folder() + "/service" + std::to_string(started++);
    // There before the shell runs, so the output can be read at once.
    for (const char* ending : {".out", ".err"})
        std::ofstream{base + ending};
    std::vector<std::string> line{
        "/bin/sh", "-c",
        (workingDirectory.empty() ? "" : "cd " + workingDirectory + " && ") + "exec env \"$@\" >" +
            base + ".out 2>" + base + ".err",
        "sh"};
    for (const auto& [name, value] : environment)
        line.push_back(name + "=" + value);
    line.push_back(WISPEN_SERVICE_BINARY);
    line.insert(line.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& word : line)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error(std::string("cannot start ") + WISPEN_SERVICE_BINARY);
    return pid;
}

// Waits for child `pid` to end; its exit code, or -1 when it ended by a signal or
// had to be killed.
int exitCodeOf(pid_t pid) {
    int status = 0;
    if (pollUntil(stopLimit, [&] { return waitpid(pid, &status, WNOHANG) == pid; }))
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

} // namespace

ServiceProcess::ServiceProcess(const std::vector<std::string>& arguments,
                               const std::map<std::string, std::string>& environment,
                               const std::string& workingDirectory) {
    std::vector<std::string> all{"--host", "127.0.0.1", "--port", "0"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    m_pid = spawn(all, m_base, environment, workingDirectory);

    // The start-up line names the port the system picked.
    static const std::regex line(R"(listening on http://127\.0\.0\.1:([0-9]+)/)");
    std::smatch match;
    std::string out;
    pollUntil(startLimit, [&] {
        out = output();
        if (waitpid(m_pid, nullptr, WNOHANG) == m_pid)
            m_pid = -1;
        return m_pid < 0 || std::regex_search(out, match, line);
    });
    httplib::Client client("127.0.0.1", m_port = match.empty() ? 0 : std::stoi(match[1]));
    if (m_port == 0 || !pollUntil(startLimit, [&] { return bool(client.Get("/healthz")); })) {
        stop();
        throw std::runtime_error("wispen-service did not start: " + out + errors());
    }
}

std::string ServiceProcess::output() const {
    return SharedMedia::read(m_base + ".out");
}

std::string ServiceProcess::errors() const {
    return SharedMedia::read(m_base + ".err");
}

int ServiceProcess::stop() {
    if (m_pid <= 0)
        return -1;
    kill(m_pid, SIGTERM);
    return exitCodeOf(std::exchange(m_pid, -1));
}

std::tuple<int, std::string, std::string>
ServiceProcess::run(const std::vector<std::string>& arguments) {
    std::string base;
    const int exitCode = exitCodeOf(spawn(arguments, base));
    return {exitCode, SharedMedia::read(base + ".out"), SharedMedia::read(base + ".err")};
}
