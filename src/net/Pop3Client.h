// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

#include "net/TextProtocol.h"

namespace vantor::net {

// The client side of a POP3 session (RFC 1939): greeting and USER/PASS login.
class Pop3Client final {
public:
    Status connect(const std::string& host, int port, Deadline deadline);
    // "+OK" passes; "-ERR" raises the words after it.
    Status readGreeting(Deadline deadline);
    // TLS on the open connection (implicit TLS: before the greeting).
    Status secure(const std::string& host, const TlsOptions& options, Deadline deadline) {
        return m_connection.startTls(host, options, deadline);
    }
    // STLS (RFC 2595), then the handshake.
    Status startTls(const std::string& host, const TlsOptions& options, Deadline deadline);
    Status user(std::string_view name, Deadline deadline);
    Status pass(std::string_view password, Deadline deadline);
    // "QUIT" without waiting for the answer, when still connected.
    void quit(Deadline deadline);
    void close() { m_connection.close(); }

private:
    Status readStatus(Deadline deadline);
    Status command(std::string_view line, Deadline deadline);

    TcpConnection m_connection;
};

}  // namespace vantor::net
