// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vantor::test {

// A child process with its standard output and error captured, for tests
// that run the program itself.
class Process final {
public:
    // env entries replace or add variables; a value of "\x01unset" removes one.
    Process(const std::vector<std::string>& argv, const std::string& cwd,
            const std::map<std::string, std::string>& env);
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    pid_t pid() const { return m_pid; }
    // Reads output until `text` appears in standard output or the timeout.
    bool waitForOutput(const std::string& text, std::chrono::milliseconds timeout);
    void signal(int sig);
    // Whether the process has not ended yet; it is left running.
    bool running();
    // The exit code, or nullopt when the process did not end in time (it is
    // then killed) or ended by a signal.
    std::optional<int> wait(std::chrono::milliseconds timeout);

    const std::string& out() const { return m_out; }
    const std::string& err() const { return m_err; }

private:
    void drain(int timeoutMs);

    pid_t m_pid = -1;
    int m_outFd = -1;
    int m_errFd = -1;
    bool m_reaped = false;
    int m_status = 0;
    std::string m_out;
    std::string m_err;
};

}  // namespace vantor::test
