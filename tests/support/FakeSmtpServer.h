// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "support/FakeServer.h"

namespace vantor::test {

// How a FakeSmtpServer behaves.
struct SmtpBehaviour {
    // The reply to EHLO (several lines for the extensions). Empty: EHLO is
    // refused with 500 and only HELO is accepted.
    std::string ehloReply = "250-fake.test\r\n250 AUTH PLAIN LOGIN\r\n";
    // Accepts connections and never says a word.
    bool silent = false;
};

// A scripted SMTP server on 127.0.0.1 that accepts one message per DATA
// and keeps every command line and every message it received.
class FakeSmtpServer {
public:
    explicit FakeSmtpServer(SmtpBehaviour behaviour = {});

    int port() const { return m_server.port(); }
    // The command lines, in order, once every session so far has ended.
    std::vector<std::string> commands() const;
    // The lines of each message between DATA and the final ".", as they
    // came (dots still doubled).
    std::vector<std::vector<std::string>> messages() const;

private:
    void serve(FakeConnection& connection);

    SmtpBehaviour m_behaviour;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_commands;
    std::vector<std::vector<std::string>> m_messages;
    FakeServer m_server;  // last, so that its threads end before the rest goes
};

// The header lines of a message (up to the first empty line) and its body
// lines (after it).
struct MailParts {
    std::vector<std::string> headers;
    std::vector<std::string> body;
    // The value of the first header with this name, or "<missing>".
    std::string header(const std::string& name) const;
    int count(const std::string& name) const;
};
MailParts SplitMail(const std::vector<std::string>& lines);

}  // namespace vantor::test
