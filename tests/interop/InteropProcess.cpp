// SPDX-License-Identifier: GPL-3.0-or-later
#include "InteropProcess.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "support/TempDir.h"

namespace vantor::interop {

namespace {

using Clock = std::chrono::steady_clock;

// Servers and commands run with a small environment of their own, so that
// nothing of the test's (sanitizer options, a python of another install
// first on PATH, proxy variables) reaches them.
std::vector<std::string> ChildEnvironment(const std::string& home) {
    return {"PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin", "LANG=C",
            "LC_ALL=C", "HOME=" + home};
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (std::string& s : strings) {
        out.push_back(s.data());
    }
    out.push_back(nullptr);
    return out;
}

// Closes every descriptor from `first` on, except `keep`.
void CloseFrom(int first, int keep = -1) {
    if (keep >= first) {
        if (keep > first) {
            ::close_range(static_cast<unsigned>(first), static_cast<unsigned>(keep - 1), 0);
        }
        ::close_range(static_cast<unsigned>(keep + 1), ~0U, 0);
    } else {
        ::close_range(static_cast<unsigned>(first), ~0U, 0);
    }
}

// In a child after fork: signals as a freshly started program has them.
void ResetSignals() {
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int sig : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD}) {
        ::signal(sig, SIG_DFL);
    }
}

bool WriteAll(int fd, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// The watchdog: a child forked before the first server, that reads group ids
// from a pipe (positive: watch, negative: forget) and, when the pipe ends
// because the test process is gone, kills the groups still watched. The
// write end is close-on-exec, so servers never hold it open.
class Watchdog {
public:
    // Never destroyed: servers may still be stopped by static destructors.
    // At a normal exit the watchdog is told to go and is reaped; after a
    // crash its pipe closes all the same.
    static Watchdog& instance() {
        static Watchdog* watchdog = [] {
            auto* created = new Watchdog;
            std::atexit([] { instance().finish(); });
            return created;
        }();
        return *watchdog;
    }

    void watch(pid_t group) { send(static_cast<std::int32_t>(group)); }
    void forget(pid_t group) { send(-static_cast<std::int32_t>(group)); }

private:
    Watchdog() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            throw SetupError(std::string("Cannot create the watchdog pipe: ") +
                             std::strerror(errno));
        }
        const pid_t pid = ::fork();
        if (pid < 0) {
            ::close(fds[0]);
            ::close(fds[1]);
            throw SetupError(std::string("Cannot fork the watchdog: ") + std::strerror(errno));
        }
        if (pid == 0) {
            Run(fds[0]);
        }
        ::close(fds[0]);
        m_fd = fds[1];
        m_pid = pid;
    }

    // Only async-signal-safe calls: the test process may have threads.
    [[noreturn]] static void Run(int fd) {
        ::prctl(PR_SET_NAME, "interop-watch", 0, 0, 0);
        for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT}) {
            ::signal(sig, SIG_IGN);
        }
        // Nothing of the test's own output stays open here: ctest waits for
        // its pipes to close.
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            ::dup2(null, 0);
            ::dup2(null, 1);
            ::dup2(null, 2);
        }
        CloseFrom(3, fd);
        constexpr int kMax = 64;
        pid_t groups[kMax] = {};
        for (;;) {
            std::int32_t message = 0;
            std::size_t got = 0;
            while (got < sizeof message) {
                const ssize_t n =
                    ::read(fd, reinterpret_cast<char*>(&message) + got, sizeof message - got);
                if (n < 0 && errno == EINTR) {
                    continue;
                }
                if (n <= 0) {
                    for (pid_t group : groups) {
                        if (group > 0) {
                            ::kill(-group, SIGKILL);
                        }
                    }
                    ::_exit(0);
                }
                got += static_cast<std::size_t>(n);
            }
            for (pid_t& group : groups) {
                if (message > 0 && group == 0) {
                    group = message;
                    break;
                }
                if (message < 0 && group == -message) {
                    group = 0;
                    break;
                }
            }
        }
    }

    void send(std::int32_t message) {
        std::lock_guard lock(m_mutex);
        if (m_fd >= 0) {
            WriteAll(m_fd, &message, sizeof message);
        }
    }

    void finish() {
        std::lock_guard lock(m_mutex);
        if (m_fd >= 0) {
            ::close(m_fd);
            m_fd = -1;
            while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
    }

    std::mutex m_mutex;
    int m_fd = -1;
    pid_t m_pid = -1;
};

// A process is known by its pid and start time, so that a pid that has been
// reused is not taken for one of ours.
struct ProcessId {
    pid_t pid;
    unsigned long long startTime;
};

// Parent pid and start time from /proc/<pid>/stat; false when it is gone.
bool ReadStat(pid_t pid, pid_t& parent, unsigned long long& startTime) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(in, text)) {
        return false;
    }
    // The command name is in parentheses and may hold blanks.
    const auto close = text.rfind(')');
    if (close == std::string::npos) {
        return false;
    }
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    std::vector<std::string> values;
    while (fields >> field) {
        values.push_back(field);
    }
    // After the name: state(0) ppid(1) ... starttime(19).
    if (values.size() < 20) {
        return false;
    }
    parent = static_cast<pid_t>(std::stol(values[1]));
    startTime = std::stoull(values[19]);
    return true;
}

// Every process below `root` in the process tree, whatever its group or
// session (vsftpd and dovecot start processes of their own).
std::vector<ProcessId> Descendants(pid_t root) {
    std::multimap<pid_t, ProcessId> children;
    if (DIR* dir = ::opendir("/proc")) {
        while (dirent* entry = ::readdir(dir)) {
            char* end = nullptr;
            const long pid = std::strtol(entry->d_name, &end, 10);
            if (pid <= 0 || *end != '\0') {
                continue;
            }
            pid_t parent = 0;
            unsigned long long start = 0;
            if (ReadStat(static_cast<pid_t>(pid), parent, start)) {
                children.emplace(parent, ProcessId{static_cast<pid_t>(pid), start});
            }
        }
        ::closedir(dir);
    }
    std::vector<ProcessId> out;
    std::vector<pid_t> pending{root};
    while (!pending.empty()) {
        const pid_t parent = pending.back();
        pending.pop_back();
        auto [first, last] = children.equal_range(parent);
        for (auto it = first; it != last; ++it) {
            out.push_back(it->second);
            pending.push_back(it->second.pid);
        }
    }
    return out;
}

void KillIfSame(const ProcessId& process, int sig) {
    pid_t parent = 0;
    unsigned long long start = 0;
    if (ReadStat(process.pid, parent, start) && start == process.startTime) {
        ::kill(process.pid, sig);
    }
}

std::string ReadTail(const std::string& path, std::size_t maxLines) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    const std::size_t from = lines.size() > maxLines ? lines.size() - maxLines : 0;
    std::string out;
    for (std::size_t i = from; i < lines.size(); ++i) {
        out += "    " + lines[i] + "\n";
    }
    return out.empty() ? "    (empty)\n" : out;
}

// One try: connects to 127.0.0.1:port and, for a non-empty `greeting`,
// reads the server's first line. A server that greets has its workers ready,
// not only its listening socket.
bool ConnectAndGreet(int port, const std::string& greeting, Clock::time_point end,
                     std::string& error) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (!ok) {
        error = std::strerror(errno);
    }
    std::string line;
    while (ok && !greeting.empty() && line.find('\n') == std::string::npos) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        pollfd p{fd, POLLIN, 0};
        char buffer[512];
        ssize_t n = 0;
        if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0 ||
            (n = ::recv(fd, buffer, sizeof buffer, 0)) <= 0) {
            error = "no greeting" + (line.empty() ? std::string() : ": " + line);
            ok = false;
            break;
        }
        line.append(buffer, static_cast<std::size_t>(n));
    }
    if (ok && line.compare(0, greeting.size(), greeting) != 0) {
        error = "greeted with: " + line.substr(0, line.find_first_of("\r\n"));
        ok = false;
    }
    ::close(fd);
    return ok;
}

}  // namespace

void MakeDir(const std::string& path, mode_t mode) {
    if (::mkdir(path.c_str(), mode) != 0 && errno != EEXIST) {
        throw SetupError("Cannot create " + path + ": " + std::strerror(errno));
    }
    ::chmod(path.c_str(), mode);
}

void Write(const std::string& path, const std::string& text, mode_t mode) {
    test::WriteFile(path, text);
    if (test::ReadFile(path) != text) {
        throw SetupError("Cannot write " + path);
    }
    ::chmod(path.c_str(), mode);
}

std::string Fill(std::string text, const std::vector<std::pair<std::string, std::string>>& values) {
    for (const auto& [name, value] : values) {
        for (auto at = text.find(name); at != std::string::npos;
             at = text.find(name, at + value.size())) {
            text.replace(at, name.size(), value);
        }
    }
    return text;
}

int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        throw SetupError(std::string("Cannot open a socket: ") + std::strerror(errno));
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        const int err = errno;
        ::close(fd);
        throw SetupError(std::string("Cannot pick a free port: ") + std::strerror(err));
    }
    ::close(fd);
    return ntohs(address.sin_port);
}

void RequireProgram(const std::string& path, const std::string& package) {
    if (::access(path.c_str(), X_OK) != 0) {
        throw SetupError(path + " is missing: install the Debian package " + package +
                         " (scripts/install-deps.sh does)");
    }
}

CommandResult RunCommand(const std::vector<std::string>& argv, const std::string& input) {
    int in[2];
    int out[2];
    if (::pipe2(in, O_CLOEXEC) != 0) {
        throw SetupError("pipe failed");
    }
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ::close(in[0]);
        ::close(in[1]);
        throw SetupError("pipe failed");
    }
    std::vector<std::string> args = argv;
    std::vector<std::string> env = ChildEnvironment("/");
    std::vector<char*> argp = Pointers(args);
    std::vector<char*> envp = Pointers(env);
    const pid_t pid = ::fork();
    if (pid < 0) {
        const int err = errno;
        for (int fd : {in[0], in[1], out[0], out[1]}) {
            ::close(fd);
        }
        throw SetupError(std::string("Cannot fork for ") + argv.front() + ": " +
                         std::strerror(err));
    }
    if (pid == 0) {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::dup2(out[1], 2);
        CloseFrom(3);
        ResetSignals();
        ::execve(argp[0], argp.data(), envp.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    // The inputs here are a line or two: far below the pipe's capacity. A
    // command that ended without reading gives EPIPE here, not SIGPIPE.
    sigset_t pipeSignal;
    sigset_t old;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipeSignal, &old);
    WriteAll(in[1], input.data(), input.size());
    const timespec noWait{};
    while (::sigtimedwait(&pipeSignal, nullptr, &noWait) > 0) {
    }
    ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
    ::close(in[1]);
    CommandResult result;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        result.output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (result.exitCode == 127 && result.output.empty()) {
        result.output = "cannot run " + argv.front();
    }
    return result;
}

ServerProcess::ServerProcess(std::string name, const std::vector<std::string>& argv,
                             std::string logPath, const std::string& workDir)
    : m_name(std::move(name)), m_logPath(std::move(logPath)) {
    Watchdog& watchdog = Watchdog::instance();
    std::vector<std::string> args = argv;
    std::vector<std::string> env = ChildEnvironment(workDir);
    std::vector<char*> argp = Pointers(args);
    std::vector<char*> envp = Pointers(env);
    const char* log = m_logPath.c_str();
    const char* cwd = workDir.c_str();
    const pid_t parent = ::getpid();

    // Blocked across fork and until the child is watched, so that a stop
    // signal cannot leave an unwatched server behind.
    sigset_t all;
    sigset_t old;
    sigfillset(&all);
    ::pthread_sigmask(SIG_BLOCK, &all, &old);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
        if (::getppid() != parent) {
            ::_exit(126);  // the test process is already gone
        }
        const int null = ::open("/dev/null", O_RDONLY);
        const int fd = ::open(log, O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (null < 0 || fd < 0) {
            ::_exit(126);
        }
        ::dup2(null, 0);
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        CloseFrom(3);
        ResetSignals();
        if (::chdir(cwd) != 0) {
            ::_exit(126);
        }
        ::execve(argp[0], argp.data(), envp.data());
        static const char kFailed[] = "interop: execve failed\n";
        (void)!::write(2, kFailed, sizeof kFailed - 1);
        ::_exit(127);
    }
    const int forkErrno = errno;
    if (pid > 0) {
        // Also here: whichever of the two runs first, the group exists before
        // anyone signals it.
        ::setpgid(pid, pid);
        watchdog.watch(pid);
    }
    ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
    if (pid < 0) {
        throw SetupError("Cannot fork for " + m_name + ": " + std::strerror(forkErrno));
    }
    m_pid = pid;
}

ServerProcess::~ServerProcess() {
    stop();
}

bool ServerProcess::running() const {
    if (m_pid <= 0 || m_reaped) {
        return false;
    }
    // WNOWAIT: the leader stays a zombie, so its pid and group id cannot be
    // given to another process before stop() is done with them.
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
        return false;
    }
    return info.si_pid == 0;
}

std::string ServerProcess::logTail() const {
    return m_name + " log (" + m_logPath + "):\n" + ReadTail(m_logPath, 40);
}

void ServerProcess::waitForPort(int port, const std::string& greeting,
                                std::chrono::milliseconds timeout) {
    const auto end = Clock::now() + timeout;
    std::string lastError;
    for (;;) {
        if (!running()) {
            throw SetupError(m_name + " ended before it accepted connections on 127.0.0.1:" +
                             std::to_string(port) + "\n" + logTail());
        }
        if (ConnectAndGreet(port, greeting, end, lastError)) {
            return;
        }
        if (Clock::now() >= end) {
            throw SetupError(
                m_name + " did not " + (greeting.empty() ? "accept connections" : "greet") +
                " on 127.0.0.1:" + std::to_string(port) + " within " +
                std::to_string(timeout.count()) + " ms (" + lastError + ")\n" + logTail());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void ServerProcess::stop() {
    if (m_pid <= 0 || m_reaped) {
        return;
    }
    const std::vector<ProcessId> before = Descendants(m_pid);
    ::kill(-m_pid, SIGTERM);
    for (const ProcessId& process : before) {
        KillIfSame(process, SIGTERM);
    }
    const auto end = Clock::now() + m_stopGrace;
    while (running() && Clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // What is left, the leader included, is killed; the leader is not reaped
    // yet, so the group id still belongs to us.
    std::vector<ProcessId> all = Descendants(m_pid);
    all.insert(all.end(), before.begin(), before.end());
    ::kill(-m_pid, SIGKILL);
    for (const ProcessId& process : all) {
        KillIfSame(process, SIGKILL);
    }
    while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    m_reaped = true;
    Watchdog::instance().forget(m_pid);
}

}  // namespace vantor::interop
