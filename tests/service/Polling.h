#pragma once

#include <chrono>
#include <csignal>
#include <sys/wait.h>
#include <thread>

// Waiting for an event in tests: check a condition often until it holds or a
// deadline passes, never a fixed sleep.
namespace Polling {

inline constexpr std::chrono::milliseconds step{20};

template <typename Condition> bool until(std::chrono::milliseconds limit, Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(step);
    }
    return true;
}

// Waits for child `pid` to end; its exit code, or -1 when it ended by a signal or
// had to be killed after `limit`.
inline int exitCodeOf(pid_t pid, std::chrono::milliseconds limit) {
    int status = 0;
    if (until(limit, [&] { return waitpid(pid, &status, WNOHANG) == pid; }))
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

} // namespace Polling
