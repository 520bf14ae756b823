// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "app/Result.h"
#include "net/Resolver.h"
#include "net/Tls.h"

namespace vantor::net {

// A TCP client connection whose every wait ends at a deadline: connect,
// send and each read. Lines are read from a buffer with a cap on their
// length, so a server cannot make us hold more than that. After startTls
// everything goes through the TLS session.
class TcpConnection final {
public:
    static constexpr std::size_t kDefaultMaxLine = 64 * 1024;

    TcpConnection() = default;
    ~TcpConnection();
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    // Tries each address of the host in turn until one accepts.
    Status connect(const std::string& host, int port, Deadline deadline);
    // Takes over a stream socket that is already connected (one end of a
    // socketpair in the fuzz target), closing any the connection held.
    void adopt(int fd);
    bool isOpen() const { return m_fd >= 0; }

    // The TLS handshake on the open connection, as a client of `host`.
    // Anything the server sent before its end of the handshake and that was
    // not read yet is refused: it could not have come over TLS. A failed
    // handshake closes the connection.
    Status startTls(const std::string& host, const TlsOptions& options, Deadline deadline);
    bool isTls() const { return m_tls != nullptr; }

    Status send(std::string_view data, Deadline deadline);
    // One line without its line end (CR LF or a bare LF).
    Expected<std::string> readLine(Deadline deadline);
    // Reads whatever arrives next (at most `max` bytes); an error when the
    // peer has closed or the deadline passes first.
    Expected<std::string> readSome(std::size_t max, Deadline deadline);
    void close();

    void setMaxLineLength(std::size_t bytes) { m_maxLine = bytes; }
    // Bytes received and not yet read.
    std::size_t buffered() const { return m_in.size() - m_start; }

private:
    Status fill(Deadline deadline);

    int m_fd = -1;
    std::unique_ptr<TlsSession> m_tls;
    std::string m_in;
    std::size_t m_start = 0;
    std::size_t m_scanned = 0;
    std::size_t m_maxLine = kDefaultMaxLine;
};

}  // namespace vantor::net
