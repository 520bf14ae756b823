// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/LocalSockets.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

namespace vantor::test {

namespace {

// Binds a new socket of the type to 127.0.0.1 on a free port.
int BindLoopback(int type, int& port) {
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        throw std::runtime_error("cannot open a socket");
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ::close(fd);
        throw std::runtime_error("cannot bind a socket to 127.0.0.1");
    }
    port = ntohs(addr.sin_port);
    return fd;
}

}  // namespace

UdpReceiver::UdpReceiver() {
    m_fd = BindLoopback(SOCK_DGRAM, m_port);
}

UdpReceiver::UdpReceiver(const std::string& unixPath) {
    m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (m_fd < 0 || unixPath.size() >= sizeof addr.sun_path) {
        throw std::runtime_error("cannot open a Unix socket at " + unixPath);
    }
    unixPath.copy(addr.sun_path, unixPath.size());
    ::unlink(unixPath.c_str());
    if (::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(m_fd);
        throw std::runtime_error("cannot bind a Unix socket at " + unixPath);
    }
}

UdpReceiver::~UdpReceiver() {
    ::close(m_fd);
}

std::optional<std::string> UdpReceiver::receive(std::chrono::milliseconds timeout) {
    pollfd p{m_fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) {
        return std::nullopt;
    }
    char buf[65536];
    const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
    if (n < 0) {
        return std::nullopt;
    }
    return std::string(buf, static_cast<std::size_t>(n));
}

std::string HttpGetLocal(int port, const std::string& path) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return {};
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    timeval limit{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    std::string answer;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        const std::string request = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
        if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
            char buf[65536];
            for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;) {
                answer.append(buf, static_cast<std::size_t>(n));
            }
        }
    }
    ::close(fd);
    return answer;
}

int HalfRequest(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return -1;
    }
    static constexpr char kHalf[] = "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    ::send(fd, kHalf, sizeof kHalf - 1, MSG_NOSIGNAL);
    return fd;
}

ClosedPort::ClosedPort() {
    m_fd = BindLoopback(SOCK_STREAM, m_port);
}

ClosedPort::~ClosedPort() {
    ::close(m_fd);
}

}  // namespace vantor::test
