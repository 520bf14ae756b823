// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/Pop3Client.h"

namespace vantor::net {

Status Pop3Client::connect(const std::string& host, int port, Deadline deadline) {
    return m_connection.connect(host, port, deadline);
}

Status Pop3Client::readStatus(Deadline deadline) {
    Expected<std::string> line = m_connection.readLine(deadline);
    if (!line) {
        m_connection.close();
        return Error{line.error()};
    }
    const std::string_view text = *line;
    if (text.substr(0, 3) == "+OK") {
        return {};
    }
    if (text.substr(0, 4) == "-ERR") {
        return Error{Trim(text.substr(4))};  // empty for a bare "-ERR"
    }
    return Error{"Unexpected reply from the server: " + Trim(text.substr(0, 200))};
}

Status Pop3Client::readGreeting(Deadline deadline) {
    return readStatus(deadline);
}

Status Pop3Client::command(std::string_view line, Deadline deadline) {
    if (Status sent = SendLine(m_connection, line, deadline); !sent) {
        return sent;
    }
    return readStatus(deadline);
}

Status Pop3Client::startTls(const std::string& host, const TlsOptions& options, Deadline deadline) {
    if (Status go = command("STLS", deadline); !go) {
        if (!m_connection.isOpen()) {
            return go;
        }
        return Error{"The server refused STLS" + (go.error().empty() ? "" : ": " + go.error())};
    }
    return secure(host, options, deadline);
}

Status Pop3Client::user(std::string_view name, Deadline deadline) {
    return command("USER " + std::string(name), deadline);
}

Status Pop3Client::pass(std::string_view password, Deadline deadline) {
    return command("PASS " + std::string(password), deadline);
}

void Pop3Client::quit(Deadline deadline) {
    if (m_connection.isOpen()) {
        (void)SendLine(m_connection, "QUIT", deadline);
    }
}

}  // namespace vantor::net
