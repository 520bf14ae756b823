// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/FakeServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <stdexcept>

namespace vantor::test {

bool FakeConnection::send(std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::send(m_fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool FakeConnection::stopping() const {
    return m_server.stopping();
}

void FakeConnection::pause(std::chrono::milliseconds delay) const {
    const auto end = std::chrono::steady_clock::now() + delay;
    while (std::chrono::steady_clock::now() < end && !stopping()) {
        std::this_thread::sleep_for(std::min(delay, std::chrono::milliseconds(10)));
    }
}

void FakeConnection::note(const std::string& text) {
    m_server.record(text);
}

bool FakeConnection::fill(std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (m_server.stopping()) {
            return false;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd p{m_fd, POLLIN, 0};
        const int rc = ::poll(&p, 1, static_cast<int>(std::min<long>(left.count(), 100)));
        if (rc < 0 && errno != EINTR) {
            return false;
        }
        if (rc <= 0) {
            continue;
        }
        char buf[8192];
        const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
        if (n <= 0) {
            return false;
        }
        m_buffer.append(buf, static_cast<std::size_t>(n));
        return true;
    }
}

std::optional<std::string> FakeConnection::readLine(std::chrono::milliseconds timeout) {
    for (;;) {
        const auto lf = m_buffer.find('\n');
        if (lf != std::string::npos) {
            std::string line = m_buffer.substr(0, lf);
            m_buffer.erase(0, lf + 1);
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            m_server.record(line);
            return line;
        }
        if (!fill(timeout)) {
            return std::nullopt;
        }
    }
}

std::optional<std::string> FakeConnection::readBytes(std::size_t count,
                                                     std::chrono::milliseconds timeout) {
    while (m_buffer.size() < count) {
        if (!fill(timeout)) {
            return std::nullopt;
        }
    }
    std::string out = m_buffer.substr(0, count);
    m_buffer.erase(0, count);
    return out;
}

bool FakeConnection::waitForClose(std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, 50) > 0) {
            char buf[4096];
            const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
            if (n <= 0) {
                return true;
            }
            m_buffer.append(buf, static_cast<std::size_t>(n));
        }
        if (m_server.stopping()) {
            return false;
        }
    }
    return false;
}

void FakeConnection::close() {
    ::shutdown(m_fd, SHUT_RDWR);
}

FakeServer::FakeServer(Handler handler, Mode mode) : m_handler(std::move(handler)), m_mode(mode) {
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(m_listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(m_listenFd, 512) != 0) {
        throw std::runtime_error("fake server cannot listen");
    }
    socklen_t len = sizeof addr;
    ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&addr), &len);
    m_port = ntohs(addr.sin_port);
    m_acceptThread = std::thread([this] { acceptLoop(); });
}

FakeServer::~FakeServer() {
    m_stop = true;
    ::shutdown(m_listenFd, SHUT_RDWR);
    m_acceptThread.join();
    ::close(m_listenFd);
    {
        std::lock_guard lock(m_mutex);
        for (int fd : m_openFds) {
            ::shutdown(fd, SHUT_RDWR);
        }
    }
    for (auto& t : m_threads) {
        t.join();
    }
}

void FakeServer::acceptLoop() {
    while (!m_stop) {
        pollfd p{m_listenFd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) {
            continue;
        }
        // Active before it leaves the kernel's queue, so that waitUntilIdle
        // never sees it in neither place.
        ++m_active;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            --m_active;
            continue;
        }
        // Scripted dialogues are small writes that wait for an answer.
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ++m_connections;
        {
            std::lock_guard lock(m_mutex);
            m_openFds.push_back(fd);
            if (m_mode == Mode::Concurrent) {
                m_threads.emplace_back([this, fd] { serve(fd); });
                continue;
            }
        }
        serve(fd);
    }
}

void FakeServer::serve(int fd) {
    FakeConnection connection(fd, *this);
    try {
        m_handler(connection);
    } catch (...) {
        // A handler that fails ends its connection; the test sees the close.
    }
    {
        std::lock_guard inner(m_mutex);
        m_openFds.erase(std::remove(m_openFds.begin(), m_openFds.end(), fd), m_openFds.end());
    }
    ::close(fd);
    --m_active;
}

bool FakeServer::waitUntilIdle(std::chrono::milliseconds timeout) const {
    const auto end = std::chrono::steady_clock::now() + timeout;
    // A connection the kernel has taken but the accept loop not yet seen
    // counts as active too.
    auto pending = [this] {
        pollfd p{m_listenFd, POLLIN, 0};
        return ::poll(&p, 1, 0) > 0;
    };
    // The queue is looked at first: a connection taken from it after that
    // look was counted as active before it was taken.
    while (pending() || m_active.load() > 0) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

std::vector<std::string> FakeServer::received() const {
    waitUntilIdle();
    std::lock_guard lock(m_mutex);
    return m_received;
}

void FakeServer::record(const std::string& line) {
    if (m_mode == Mode::OneAtATime) {
        return;
    }
    std::lock_guard lock(m_mutex);
    m_received.push_back(line);
}

std::optional<std::string> SeenHttpRequest::header(std::string_view name) const {
    for (const auto& [n, v] : headers) {
        if (n.size() == name.size() &&
            std::equal(n.begin(), n.end(), name.begin(), [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) ==
                       std::tolower(static_cast<unsigned char>(b));
            })) {
            return v;
        }
    }
    return std::nullopt;
}

int SeenHttpRequest::count(std::string_view name) const {
    int n = 0;
    for (const auto& h : headers) {
        SeenHttpRequest one;
        one.headers = {h};
        n += one.header(name).has_value() ? 1 : 0;
    }
    return n;
}

std::optional<SeenHttpRequest> ReadHttpRequest(FakeConnection& connection) {
    SeenHttpRequest request;
    auto first = connection.readLine();
    if (!first) {
        return std::nullopt;
    }
    request.requestLine = *first;
    const auto sp1 = first->find(' ');
    const auto sp2 = first->find(' ', sp1 + 1);
    request.method = first->substr(0, sp1);
    request.target = first->substr(sp1 + 1, sp2 - sp1 - 1);
    for (;;) {
        auto line = connection.readLine();
        if (!line) {
            return std::nullopt;
        }
        if (line->empty()) {
            break;
        }
        const auto colon = line->find(':');
        std::string value = line->substr(colon + 1);
        value.erase(0, value.find_first_not_of(' '));
        request.headers.emplace_back(line->substr(0, colon), value);
    }
    if (auto length = request.header("Content-Length")) {
        auto body = connection.readBytes(std::stoul(*length));
        if (!body) {
            return std::nullopt;
        }
        request.body = *body;
    }
    return request;
}

}  // namespace vantor::test
