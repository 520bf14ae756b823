#include "support/LocalSockets.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

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

ClosedPort::ClosedPort() {
    m_fd = BindLoopback(SOCK_STREAM, m_port);
}

ClosedPort::~ClosedPort() {
    ::close(m_fd);
}

}  // namespace vantor::test
