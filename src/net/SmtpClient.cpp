// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/SmtpClient.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>

namespace vantor::net {

std::string LocalHostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') {
        return "localhost";
    }
    return name;
}

bool OffersExtension(const NumericReply& ehlo, std::string_view keyword) {
    for (std::size_t i = 1; i < ehlo.lines.size(); ++i) {
        std::string_view line = ehlo.lines[i];
        line.remove_prefix(std::min<std::size_t>(4, line.size()));
        const std::string_view word = line.substr(0, line.find(' '));
        if (word.size() == keyword.size() &&
            std::equal(word.begin(), word.end(), keyword.begin(), [](char a, char b) {
                return std::toupper(static_cast<unsigned char>(a)) ==
                       std::toupper(static_cast<unsigned char>(b));
            })) {
            return true;
        }
    }
    return false;
}

Status SmtpClient::startTls(const NumericReply& ehlo, const std::string& host,
                            const TlsOptions& options, Deadline deadline) {
    if (!OffersExtension(ehlo, "STARTTLS")) {
        return Error{"The server does not offer STARTTLS"};
    }
    if (Expected<NumericReply> go = command("STARTTLS", {220}, deadline); !go) {
        return Error{"The server refused STARTTLS: " + go.error()};
    }
    return secure(host, options, deadline);
}

Status SmtpClient::connect(const std::string& host, int port, Deadline deadline) {
    return m_connection.connect(host, port, deadline);
}

Status SmtpClient::readGreeting(Deadline deadline) {
    return ReadGreeting220(m_connection, deadline);
}

Expected<NumericReply> SmtpClient::hello(const std::string& localName, Deadline deadline) {
    Expected<NumericReply> ehlo = command("EHLO " + localName, {250}, deadline);
    if (ehlo) {
        return ehlo;
    }
    if (!m_connection.isOpen()) {
        return ehlo;
    }
    return command("HELO " + localName, {250}, deadline);
}

Expected<NumericReply> SmtpClient::command(std::string_view line,
                                           std::initializer_list<int> accepted, Deadline deadline) {
    if (Status sent = SendLine(m_connection, line, deadline); !sent) {
        return Error{sent.error()};
    }
    Expected<NumericReply> reply = readReply(deadline);
    if (!reply) {
        return reply;
    }
    if (std::find(accepted.begin(), accepted.end(), reply->code) == accepted.end()) {
        return RefusedReply(*reply);
    }
    return reply;
}

Status SmtpClient::sendRaw(std::string_view data, Deadline deadline) {
    return m_connection.send(data, deadline);
}

Expected<NumericReply> SmtpClient::readReply(Deadline deadline) {
    Expected<NumericReply> reply = ReadNumericReply(m_connection, deadline);
    if (!reply) {
        // A connection that broke or stalled in a reply is not used again.
        m_connection.close();
    }
    return reply;
}

void SmtpClient::quit(Deadline deadline) {
    if (m_connection.isOpen()) {
        (void)SendLine(m_connection, "QUIT", deadline);
    }
}

}  // namespace vantor::net
