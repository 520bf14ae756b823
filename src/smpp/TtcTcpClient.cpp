// SPDX-License-Identifier: GPL-3.0-or-later
#include "smpp/TtcTcpClient.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "net/Resolver.h"

namespace vantor::smpp {

std::string LookupHost(const std::string& host, int timeoutMs) {
    if (host.empty()) {
        return "0.0.0.0";
    }
    if (std::isdigit(static_cast<unsigned char>(host.front()))) {
        in_addr addr{};
        return ::inet_pton(AF_INET, host.c_str(), &addr) == 1 ? host : std::string();
    }
    auto found = net::Resolve(host, 0, SOCK_STREAM, net::DeadlineAfter(timeoutMs));
    if (!found) {
        return {};
    }
    for (const net::Address& a : *found) {
        if (a.family() == AF_INET) {
            const auto* in = reinterpret_cast<const sockaddr_in*>(&a.storage);
            const auto* b = reinterpret_cast<const unsigned char*>(&in->sin_addr);
            return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) +
                   "." + std::to_string(b[3]);
        }
    }
    return {};
}

int LookupPort(const std::string& port) {
    if (port.empty()) {
        return 0;
    }
    servent result{};
    servent* found = nullptr;
    char buffer[1024];
    if (::getservbyname_r(port.c_str(), "tcp", &result, buffer, sizeof buffer, &found) == 0 &&
        found != nullptr) {
        return ntohs(static_cast<std::uint16_t>(found->s_port));
    }
    int value = 0;
    for (char c : port) {
        if (c < '0' || c > '9') {
            return 0;
        }
        value = value * 10 + (c - '0');
        if (value > 65535) {
            return 0;
        }
    }
    return value;
}

TtcTcpClient::TtcTcpClient() {
    m_cancelFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

TtcTcpClient::~TtcTcpClient() {
    Close();
    if (m_cancelFd >= 0) {
        ::close(m_cancelFd);
    }
}

void TtcTcpClient::adopt(int fd, std::string remoteHost, int remotePort) {
    Close();
    ResetCancel();
    m_bytesRead = 0;
    m_remoteHost = std::move(remoteHost);
    m_remotePort = remotePort;
    m_fd = fd;
    m_connected = true;
}

int TtcTcpClient::Connect(const std::string& host, const std::string& port, int timeoutMs) {
    Close();
    ResetCancel();
    m_bytesRead = 0;
    const auto deadline = net::DeadlineAfter(timeoutMs);
    const std::string address = LookupHost(host, timeoutMs);
    const int portNumber = LookupPort(port);
    m_remoteHost = address;
    m_remotePort = portNumber;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<std::uint16_t>(portNumber));
    if (address.empty() || ::inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) {
        m_lastError = EADDRNOTAVAIL;
        return EADDRNOTAVAIL;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
    if (fd < 0) {
        m_lastError = errno;
        return errno;
    }
    int err = 0;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        err = errno;
        if (err == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            int ready;
            do {
                ready = ::poll(&p, 1, net::MillisecondsLeft(deadline));
            } while (ready < 0 && errno == EINTR);
            socklen_t len = sizeof err;
            if (ready == 0) {
                err = ETIMEDOUT;
            } else if (ready < 0) {
                err = errno;
            } else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) {
                err = errno;
            }
        }
    }
    if (err != 0) {
        ::close(fd);
        m_lastError = err;
        return err;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    m_fd = fd;
    m_connected = true;
    return 0;
}

void TtcTcpClient::Disconnect() {
    if (m_connected.exchange(false)) {
        ::shutdown(m_fd.load(), SHUT_RDWR);
    }
    CancelBlocking();
}

void TtcTcpClient::Close() {
    Disconnect();
    std::lock_guard lock(m_sendMutex);
    const int fd = m_fd.exchange(-1);
    if (fd >= 0) {
        ::close(fd);
    }
}

bool TtcTcpClient::Send(const std::uint8_t* data, std::size_t length) {
    std::lock_guard lock(m_sendMutex);
    const int fd = m_fd.load();
    if (fd < 0 || !m_connected) {
        m_lastError = ENOTCONN;
        return false;
    }
    std::size_t sent = 0;
    while (sent < length) {
        const ssize_t n = ::send(fd, data + sent, length - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, 10000) <= 0) {
                m_lastError = ETIMEDOUT;
                return false;
            }
            continue;
        }
        m_lastError = errno;
        return false;
    }
    return true;
}

void TtcTcpClient::CancelBlocking() {
    if (m_cancelFd >= 0) {
        const std::uint64_t one = 1;
        (void)!::write(m_cancelFd, &one, sizeof one);
    }
}

void TtcTcpClient::ResetCancel() {
    if (m_cancelFd >= 0) {
        std::uint64_t value = 0;
        (void)!::read(m_cancelFd, &value, sizeof value);
    }
}

bool TtcTcpClient::WaitForData(int timeoutMs) {
    const int fd = m_fd.load();
    if (fd < 0 || !m_connected) {
        return false;
    }
    pollfd p[2] = {{fd, POLLIN, 0}, {m_cancelFd, POLLIN, 0}};
    int ready;
    do {
        ready = ::poll(p, m_cancelFd >= 0 ? 2 : 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0 || (p[1].revents & POLLIN) != 0) {
        m_lastError = ready < 0 ? errno : 0;
        return false;
    }
    if ((p[0].revents & (POLLERR | POLLNVAL)) != 0) {
        int err = 0;
        socklen_t len = sizeof err;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
        m_lastError = err;
        return false;
    }
    std::uint8_t byte;
    const ssize_t n = ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n != 1) {
        m_lastError = n < 0 ? errno : 0;
        return false;
    }
    return true;
}

long TtcTcpClient::ReadData() {
    const int fd = m_fd.load();
    if (fd < 0) {
        m_lastError = ENOTCONN;
        return -1;
    }
    const std::size_t room = kBufferSize - m_bytesRead;
    for (;;) {
        const ssize_t n = ::recv(fd, m_buffer + m_bytesRead, room, MSG_DONTWAIT);
        if (n >= 0) {
            m_bytesRead += static_cast<std::size_t>(n);
            return static_cast<long>(n);
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, -1) < 0 && errno != EINTR) {
                m_lastError = errno;
                return -1;
            }
            continue;
        }
        m_lastError = errno;
        return -1;
    }
}

std::size_t TtcTcpClient::PeekData(std::uint8_t* destination, std::size_t n) const {
    const std::size_t count = std::min(n, m_bytesRead);
    std::memcpy(destination, m_buffer, count);
    return count;
}

std::size_t TtcTcpClient::ReceiveData(std::uint8_t* destination, std::size_t n) {
    const std::size_t count = std::min(n, m_bytesRead);
    if (destination != nullptr) {
        std::memcpy(destination, m_buffer, count);
    }
    std::memmove(m_buffer, m_buffer + count, m_bytesRead - count);
    m_bytesRead -= count;
    return count;
}

}  // namespace vantor::smpp
