// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace vantor::interop {

// Why a server or a helper command could not be set up; the message says
// what to look at (it carries the server's own log when there is one).
class SetupError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A TCP port on 127.0.0.1 that nothing listens on right now: bound with port
// 0, read back and closed.
int FreePort();

// Fails with a SetupError naming the Debian package when `path` is not an
// executable file.
void RequireProgram(const std::string& path, const std::string& package);

struct CommandResult {
    int exitCode = -1;   // -1 when it ended by a signal
    std::string output;  // standard output and error together
};

// Runs a program to its end with `input` on its standard input, in a small
// fixed environment. For the few system commands that the setup needs.
CommandResult RunCommand(const std::vector<std::string>& argv, const std::string& input = {});

// Setup files of the servers. MakeDir gives the directory exactly `mode`
// (not narrowed by the umask); Write writes a file, reads it back and gives
// it `mode`. Both throw a SetupError when they cannot.
void MakeDir(const std::string& path, mode_t mode = 0755);
void Write(const std::string& path, const std::string& text, mode_t mode = 0644);

// The text with each "@NAME@" of `values` replaced.
std::string Fill(std::string text, const std::vector<std::pair<std::string, std::string>>& values);

// A server program run in the foreground by a test, with its standard output
// and error in a log file.
//
// The child leads a process group of its own and gets SIGKILL when the test
// process goes (PR_SET_PDEATHSIG). PR_SET_PDEATHSIG covers the leader only,
// and is lost when a server switches to another user; so a watchdog process,
// started with the first server, holds the list of server groups and kills
// them when the test process ends in any way, a crash included.
class ServerProcess final {
public:
    ServerProcess(std::string name, const std::vector<std::string>& argv, std::string logPath,
                  const std::string& workDir);
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    const std::string& name() const { return m_name; }
    pid_t pid() const { return m_pid; }
    bool running() const;
    // The log file, cut to its last lines.
    std::string logTail() const;

    // Waits until a connection to 127.0.0.1:port is accepted and, when
    // `greeting` is not empty, its first line starts with it; throws a
    // SetupError with the log when the server ends or the time runs out.
    void waitForPort(int port, const std::string& greeting = {},
                     std::chrono::milliseconds timeout = std::chrono::seconds(20));

    // How long stop() gives the server to end after SIGTERM.
    void setStopGrace(std::chrono::milliseconds grace) { m_stopGrace = grace; }

    // SIGTERM to the group and every process the server started, SIGKILL to
    // what is left after the grace time, and the leader reaped. Idempotent.
    void stop();

private:
    std::string m_name;
    std::string m_logPath;
    pid_t m_pid = -1;
    bool m_reaped = false;
    std::chrono::milliseconds m_stopGrace = std::chrono::seconds(5);
};

// Pieces of setup that a test suite shares between its SetUpTestSuite and its
// tests: the first error, if any, is kept so that every test of the suite
// fails with it instead of running against a server that is not there.
class SuiteSetup {
public:
    // Runs `step`; a SetupError (or any exception) is recorded.
    template <typename Step>
    void run(Step&& step) {
        if (!m_error.empty()) {
            return;
        }
        try {
            std::forward<Step>(step)();
        } catch (const std::exception& e) {
            m_error = e.what();
        }
    }
    const std::string& error() const { return m_error; }
    bool ok() const { return m_error.empty(); }
    void reset() { m_error.clear(); }

private:
    std::string m_error;
};

}  // namespace vantor::interop
