// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

#include "net/TextProtocol.h"

namespace vantor::net {

// The client side of an IMAP4rev1 session (RFC 3501): greeting, LOGIN and
// LOGOUT. Commands are tagged C1, C2, ... on each connection.
class ImapClient final {
public:
    enum class Greeting { Ok, Preauth };

    Status connect(const std::string& host, int port, Deadline deadline);
    // "* OK" or "* PREAUTH"; "* BYE" raises its text.
    Expected<Greeting> readGreeting(Deadline deadline);
    // TLS on the open connection (implicit TLS: before the greeting).
    Status secure(const std::string& host, const TlsOptions& options, Deadline deadline) {
        return m_connection.startTls(host, options, deadline);
    }
    // STARTTLS (RFC 3501 6.2.1), then the handshake.
    Status startTls(const std::string& host, const TlsOptions& options, Deadline deadline);
    Status login(std::string_view user, std::string_view password, Deadline deadline);
    // Sends the tagged LOGOUT and closes; an error when already closed.
    Status logout(Deadline deadline);
    void close() { m_connection.close(); }

    // A LOGIN argument: the word itself when it is a plain atom, else a
    // quoted string.
    static std::string Quote(std::string_view word);

private:
    // Sends "C<n> " + text and reads up to its tagged answer; OK passes, NO
    // and BAD raise the words after them.
    Status command(std::string_view text, Deadline deadline);

    TcpConnection m_connection;
    int m_tag = 0;
};

}  // namespace vantor::net
