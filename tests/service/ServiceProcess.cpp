#include "ServiceProcess.h"

#include "SharedMedia.h"

#include <httplib.h>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <regex>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <utility>

extern char** environ;

namespace {

constexpr std::chrono::seconds startLimit{60};
constexpr std::chrono::seconds stopLimit{15};

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> result;
    for (auto& text : texts)
        result.push_back(text.data());
    result.push_back(nullptr);
    return result;
}

// Starts the service with `arguments`, printing into two new files whose paths it
// returns; the entries of `environment` take precedence over the test's own.
pid_t spawn(std::vector<std::string> arguments,
            const std::map<std::string, std::string>& environment, std::string& outPath,
            std::string& errPath, const std::string& workingDirectory = {}) {
    static std::atomic<int> started = 0;
    const std::string base = SharedMedia::media().folder() + "/service" + std::to_string(started++);
    outPath = base + ".out";
    errPath = base + ".err";
    arguments.insert(arguments.begin(), WISPEN_SERVICE_BINARY);
    std::vector<std::string> variables;
    for (const auto& [name, value] : environment)
        variables.push_back(name + "=" + value);
    for (char** entry = environ; *entry; ++entry)
        variables.emplace_back(*entry);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (const auto& [descriptor, path] :
         {std::pair{STDOUT_FILENO, outPath}, {STDERR_FILENO, errPath}})
        posix_spawn_file_actions_addopen(&actions, descriptor, path.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (!workingDirectory.empty())
        posix_spawn_file_actions_addchdir_np(&actions, workingDirectory.c_str());
    pid_t pid = -1;
    auto argv = pointers(arguments);
    auto envp = pointers(variables);
    const int result = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (result != 0)
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
    m_pid = spawn(all, environment, m_outPath, m_errPath, workingDirectory);

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
    return TestMedia::read(m_outPath);
}

std::string ServiceProcess::errors() const {
    return TestMedia::read(m_errPath);
}

int ServiceProcess::stop() {
    if (m_pid <= 0)
        return -1;
    kill(m_pid, SIGTERM);
    return exitCodeOf(std::exchange(m_pid, -1));
}

ServiceProcess::Finished ServiceProcess::run(const std::vector<std::string>& arguments) {
    std::string outPath;
    std::string errPath;
    const int exitCode = exitCodeOf(spawn(arguments, {}, outPath, errPath));
    return {exitCode, TestMedia::read(outPath), TestMedia::read(errPath)};
}
