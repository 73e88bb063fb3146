#pragma once

#include <chrono>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

// A real wispen-service process for the tests: started on a free loopback port,
// ready once /healthz answers, stopped with SIGTERM when the object goes.
class ServiceProcess {
public:
    static constexpr std::chrono::seconds startLimit{60};
    static constexpr std::chrono::seconds stopLimit{15};

    // Starts the service with `arguments` (after --port 0) and waits until /healthz
    // answers with any status; throws std::runtime_error when it does not.
    explicit ServiceProcess(const std::vector<std::string>& arguments,
                            const std::map<std::string, std::string>& environment = {},
                            const std::string& workingDirectory = {});
    ~ServiceProcess();
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    int port() const { return m_port; }
    pid_t pid() const { return m_pid; }
    std::string baseUrl() const { return "http://127.0.0.1:" + std::to_string(m_port); }

    // Sends SIGTERM and waits; returns the exit status, or -1 when it had to be killed.
    int stop();

    // Everything the service has printed so far, start-up line included.
    std::string output();
    std::string errors();

    // Runs the service to its end with `arguments`, for option checks.
    struct Finished {
        int exitCode = -1;
        std::string out;
        std::string err;
    };
    static Finished run(const std::vector<std::string>& arguments);

private:
    pid_t m_pid = -1;
    int m_port = 0;
    int m_outFd = -1;
    int m_errFd = -1;
    std::string m_out;
    std::string m_err;
};
