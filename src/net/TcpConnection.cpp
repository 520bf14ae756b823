// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/TcpConnection.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "net/Probe.h"

namespace vantor::net {

namespace {

std::string Where(const std::string& host, int port) {
    return host + " port " + std::to_string(port);
}

}  // namespace

TcpConnection::~TcpConnection() {
    close();
}

void TcpConnection::close() {
    if (m_tls) {
        m_tls->shutdown();
        m_tls.reset();
    }
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_in.clear();
    m_start = 0;
    m_scanned = 0;
}

void TcpConnection::adopt(int fd) {
    close();
    m_fd = fd;
}

Status TcpConnection::connect(const std::string& host, int port, Deadline deadline) {
    close();
    Expected<std::vector<Address>> addresses = Resolve(host, port, SOCK_STREAM, deadline);
    if (!addresses) {
        return Error{addresses.error()};
    }
    std::string lastError;
    for (const Address& address : *addresses) {
        const int fd =
            ::socket(address.family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
        if (fd < 0) {
            lastError = "Cannot open a socket: " + std::string(std::strerror(errno));
            continue;
        }
        int err = 0;
        if (::connect(fd, address.get(), address.length) != 0) {
            err = errno;
            if (err == EINPROGRESS) {
                const int ready = WaitFor(fd, POLLOUT, deadline);
                if (ready == 0) {
                    ::close(fd);
                    return Error{"Connecting to " + Where(host, port) + " timed out"};
                }
                socklen_t len = sizeof err;
                if (ready < 0) {
                    err = errno;
                } else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) {
                    err = errno;
                }
            }
        }
        if (err == 0) {
            const int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            m_fd = fd;
            NoteAddress(address.get());
            return {};
        }
        ::close(fd);
        lastError = "Cannot connect to " + Where(host, port) + ": " + std::strerror(err);
    }
    return Error{lastError.empty() ? "Cannot connect to " + Where(host, port) : lastError};
}

Status TcpConnection::startTls(const std::string& host, const TlsOptions& options,
                               Deadline deadline) {
    if (m_fd < 0) {
        return Error{"Not connected"};
    }
    if (buffered() > 0) {
        close();
        return Error{"The server sent data before the TLS handshake began"};
    }
    m_in.clear();
    m_start = 0;
    m_scanned = 0;
    Expected<std::unique_ptr<TlsSession>> session =
        TlsSession::Handshake(m_fd, host, options, deadline);
    if (!session) {
        close();
        return Error{session.error()};
    }
    m_tls = std::move(session).value();
    return {};
}

Status TcpConnection::send(std::string_view data, Deadline deadline) {
    if (m_fd < 0) {
        return Error{"Not connected"};
    }
    if (m_tls) {
        return m_tls->write(data, deadline);
    }
    while (!data.empty()) {
        const ssize_t n = ::send(m_fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (n > 0) {
            data.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const int ready = WaitFor(m_fd, POLLOUT, deadline);
            if (ready == 0) {
                return Error{"Timed out sending to the server"};
            }
            if (ready < 0) {
                return Error{std::string("Cannot send: ") + std::strerror(errno)};
            }
            continue;
        }
        return Error{std::string("Cannot send: ") + std::strerror(errno)};
    }
    return {};
}

Status TcpConnection::fill(Deadline deadline) {
    if (m_fd < 0) {
        return Error{"Not connected"};
    }
    if (m_start > 0 && m_start == m_in.size()) {
        m_in.clear();
        m_scanned = 0;
        m_start = 0;
    } else if (m_start > 64 * 1024 && m_start * 2 > m_in.size()) {
        m_in.erase(0, m_start);
        m_scanned -= m_start;
        m_start = 0;
    }
    if (m_tls) {
        char buf[16 * 1024];
        Expected<std::size_t> n = m_tls->read(buf, sizeof buf, deadline);
        if (!n) {
            return Error{n.error()};
        }
        if (*n == 0) {
            return Error{"The server closed the connection"};
        }
        m_in.append(buf, *n);
        return {};
    }
    for (;;) {
        char buf[16 * 1024];
        const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
        if (n > 0) {
            m_in.append(buf, static_cast<std::size_t>(n));
            return {};
        }
        if (n == 0) {
            return Error{"The server closed the connection"};
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            return Error{std::string("Cannot read from the server: ") + std::strerror(errno)};
        }
        const int ready = WaitFor(m_fd, POLLIN, deadline);
        if (ready == 0) {
            return Error{"Timed out waiting for the server"};
        }
        if (ready < 0) {
            return Error{std::string("Cannot read from the server: ") + std::strerror(errno)};
        }
    }
}

Expected<std::string> TcpConnection::readLine(Deadline deadline) {
    for (;;) {
        const std::size_t lf = m_in.find('\n', m_scanned);
        if (lf != std::string::npos) {
            std::size_t end = lf;
            if (end > m_start && m_in[end - 1] == '\r') {
                --end;
            }
            std::string line = m_in.substr(m_start, end - m_start);
            m_start = lf + 1;
            m_scanned = m_start;
            return line;
        }
        m_scanned = m_in.size();
        if (m_in.size() - m_start > m_maxLine) {
            return Error{"The server sent a line longer than " + std::to_string(m_maxLine) +
                         " bytes"};
        }
        if (Status got = fill(deadline); !got) {
            return Error{got.error()};
        }
    }
}

Expected<std::string> TcpConnection::readSome(std::size_t max, Deadline deadline) {
    if (buffered() == 0) {
        if (Status got = fill(deadline); !got) {
            return Error{got.error()};
        }
    }
    const std::size_t n = std::min(max, buffered());
    std::string out = m_in.substr(m_start, n);
    m_start += n;
    if (m_scanned < m_start) {
        m_scanned = m_start;
    }
    return out;
}

}  // namespace vantor::net
