// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "net/TextProtocol.h"

namespace vantor::net {

// The client side of an SMTP session (RFC 5321), as far as the mail check
// and the e-mail alarm need it. Every wait ends at the deadline given.
class SmtpClient final {
public:
    Status connect(const std::string& host, int port, Deadline deadline);
    // The greeting must be 220.
    Status readGreeting(Deadline deadline);
    // TLS on the open connection (implicit TLS: before the greeting).
    Status secure(const std::string& host, const TlsOptions& options, Deadline deadline) {
        return m_connection.startTls(host, options, deadline);
    }
    // STARTTLS (RFC 3207) after an EHLO whose reply offered it, then the
    // handshake. The caller says EHLO again over TLS.
    Status startTls(const NumericReply& ehlo, const std::string& host, const TlsOptions& options,
                    Deadline deadline);
    // "EHLO name"; a 250 ends it. Any other answer is followed by "HELO
    // name", which must be 250. Returns the accepted reply: after EHLO its
    // lines name the server's extensions.
    Expected<NumericReply> hello(const std::string& localName, Deadline deadline);
    // Sends one command and reads its reply, which must carry one of the
    // accepted codes.
    Expected<NumericReply> command(std::string_view line, std::initializer_list<int> accepted,
                                   Deadline deadline);
    // Sends raw bytes (the message body); the caller takes care of the
    // line ends and the dot-stuffing.
    Status sendRaw(std::string_view data, Deadline deadline);
    Expected<NumericReply> readReply(Deadline deadline);
    // "QUIT" without waiting for the answer, when still connected.
    void quit(Deadline deadline);
    void close() { m_connection.close(); }
    bool isOpen() const { return m_connection.isOpen(); }

private:
    TcpConnection m_connection;
};

// Whether an EHLO reply names the extension (its first word on a line).
bool OffersExtension(const NumericReply& ehlo, std::string_view keyword);

// The local host name for EHLO and HELO, from gethostname.
std::string LocalHostName();

}  // namespace vantor::net
