// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/FakeSmtpServer.h"

#include <algorithm>
#include <cctype>

namespace vantor::test {

namespace {

std::string Upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

bool StartsWith(const std::string& text, const std::string& head) {
    return text.rfind(head, 0) == 0;
}

}  // namespace

FakeSmtpServer::FakeSmtpServer(SmtpBehaviour behaviour)
    : m_behaviour(std::move(behaviour)),
      m_server([this](FakeConnection& connection) { serve(connection); }) {}

void FakeSmtpServer::serve(FakeConnection& c) {
    if (m_behaviour.silent) {
        c.waitForClose(std::chrono::seconds(10));
        return;
    }
    c.send("220 fake.test ESMTP ready\r\n");
    // AUTH LOGIN asks for two more lines that are not commands.
    int authLinesExpected = 0;
    while (auto line = c.readLine()) {
        {
            std::lock_guard lock(m_mutex);
            m_commands.push_back(*line);
        }
        if (authLinesExpected > 0) {
            --authLinesExpected;
            c.send(authLinesExpected == 1 ? "334 UGFzc3dvcmQ6\r\n" : "235 2.7.0 Accepted\r\n");
            continue;
        }
        const std::string verb = Upper(line->substr(0, line->find(' ')));
        if (verb == "EHLO") {
            c.send(m_behaviour.ehloReply.empty() ? "500 5.5.1 Command unrecognized\r\n"
                                                 : m_behaviour.ehloReply);
        } else if (verb == "HELO") {
            c.send("250 fake.test\r\n");
        } else if (verb == "AUTH" && StartsWith(Upper(*line), "AUTH PLAIN ")) {
            c.send("235 2.7.0 Accepted\r\n");
        } else if (verb == "AUTH" && Upper(*line) == "AUTH LOGIN") {
            authLinesExpected = 2;
            c.send("334 VXNlcm5hbWU6\r\n");
        } else if (verb == "RSET" || StartsWith(Upper(*line), "MAIL FROM:") ||
                   StartsWith(Upper(*line), "RCPT TO:")) {
            c.send("250 2.0.0 OK\r\n");
        } else if (verb == "DATA") {
            c.send("354 End data with <CR><LF>.<CR><LF>\r\n");
            std::vector<std::string> message;
            for (;;) {
                auto data = c.readLine();
                if (!data) {
                    return;
                }
                if (*data == ".") {
                    break;
                }
                message.push_back(*data);
            }
            {
                std::lock_guard lock(m_mutex);
                m_messages.push_back(std::move(message));
            }
            c.send("250 2.0.0 Queued\r\n");
        } else if (verb == "QUIT") {
            c.send("221 2.0.0 Bye\r\n");
            return;
        } else {
            c.send("500 5.5.2 Syntax error\r\n");
        }
    }
}

std::vector<std::string> FakeSmtpServer::commands() const {
    m_server.waitUntilIdle();
    std::lock_guard lock(m_mutex);
    return m_commands;
}

std::vector<std::vector<std::string>> FakeSmtpServer::messages() const {
    m_server.waitUntilIdle();
    std::lock_guard lock(m_mutex);
    return m_messages;
}

std::string MailParts::header(const std::string& name) const {
    for (const std::string& line : headers) {
        if (StartsWith(line, name + ": ")) {
            return line.substr(name.size() + 2);
        }
    }
    return "<missing>";
}

int MailParts::count(const std::string& name) const {
    return static_cast<int>(std::count_if(headers.begin(), headers.end(), [&](const auto& line) {
        return StartsWith(line, name + ":");
    }));
}

MailParts SplitMail(const std::vector<std::string>& lines) {
    MailParts parts;
    auto blank = std::find(lines.begin(), lines.end(), std::string());
    parts.headers.assign(lines.begin(), blank);
    if (blank != lines.end()) {
        parts.body.assign(blank + 1, lines.end());
    }
    return parts;
}

}  // namespace vantor::test
