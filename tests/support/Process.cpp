// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

extern char** environ;

namespace vantor::test {

Process::Process(const std::vector<std::string>& argv, const std::string& cwd,
                 const std::map<std::string, std::string>& env) {
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    // Build the environment before fork: only async-signal-safe calls after.
    std::map<std::string, std::string> vars;
    for (char** e = environ; *e != nullptr; ++e) {
        std::string entry(*e);
        const auto eq = entry.find('=');
        if (eq != std::string::npos) {
            vars[entry.substr(0, eq)] = entry.substr(eq + 1);
        }
    }
    for (const auto& [k, v] : env) {
        if (v == "\x01unset") {
            vars.erase(k);
        } else {
            vars[k] = v;
        }
    }
    std::vector<std::string> envStrings;
    for (const auto& [k, v] : vars) {
        envStrings.push_back(k + "=" + v);
    }
    std::vector<char*> envp;
    for (auto& s : envStrings) {
        envp.push_back(s.data());
    }
    envp.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char*> argp;
    for (auto& a : args) {
        argp.push_back(a.data());
    }
    argp.push_back(nullptr);

    m_pid = ::fork();
    if (m_pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (m_pid == 0) {
        // The program goes with the test, also when the test dies abruptly.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        // The test runner may have blocked signals; the program starts clean.
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        if (::chdir(cwd.c_str()) != 0) {
            ::_exit(126);
        }
        ::execve(argp[0], argp.data(), envp.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    m_outFd = out[0];
    m_errFd = err[0];
}

Process::~Process() {
    if (!m_reaped && m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    if (m_outFd >= 0) {
        ::close(m_outFd);
    }
    if (m_errFd >= 0) {
        ::close(m_errFd);
    }
}

void Process::drain(int timeoutMs) {
    pollfd fds[2] = {{m_outFd, POLLIN, 0}, {m_errFd, POLLIN, 0}};
    if (::poll(fds, 2, timeoutMs) <= 0) {
        return;
    }
    char buf[4096];
    for (int i = 0; i < 2; ++i) {
        if (fds[i].revents & (POLLIN | POLLHUP)) {
            const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                (i == 0 ? m_out : m_err).append(buf, static_cast<std::size_t>(n));
            } else if (n == 0) {
                fds[i].fd = -1;
                // Keep polling the other pipe only.
                if (i == 0) {
                    ::close(m_outFd);
                    m_outFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
                } else {
                    ::close(m_errFd);
                    m_errFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
                }
            }
        }
    }
}

bool Process::waitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (m_out.find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        drain(50);
        if (!m_reaped) {
            if (::waitpid(m_pid, &m_status, WNOHANG) == m_pid) {
                m_reaped = true;
                drain(0);
                drain(0);
                return m_out.find(text) != std::string::npos;
            }
        }
    }
    return true;
}

void Process::signal(int sig) {
    if (!m_reaped) {
        ::kill(m_pid, sig);
    }
}

bool Process::running() {
    if (!m_reaped && ::waitpid(m_pid, &m_status, WNOHANG) == m_pid) {
        m_reaped = true;
    }
    return !m_reaped;
}

std::optional<int> Process::wait(std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    int& status = m_status;
    while (!m_reaped) {
        drain(20);
        const pid_t r = ::waitpid(m_pid, &status, WNOHANG);
        if (r == m_pid) {
            m_reaped = true;
            break;
        }
        if (std::chrono::steady_clock::now() >= end) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            m_reaped = true;
            return std::nullopt;
        }
    }
    for (int i = 0; i < 10; ++i) {
        drain(10);
    }
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return std::nullopt;
}

}  // namespace vantor::test
