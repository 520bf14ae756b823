// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/ThreadMailCheck.h"

#include <chrono>

#include "net/ImapClient.h"
#include "net/Pop3Client.h"
#include "net/SmtpClient.h"

namespace vantor::engine {

namespace {

// Closing lines are sent even when the exchange used up its time.
net::Deadline CloseDeadline() {
    return net::DeadlineAfter(1000);
}

Status RefuseLineBreaks(const Credentials& c) {
    if (net::HasLineBreak(c.username)) {
        return Error{"The user name holds a line break; nothing was sent"};
    }
    if (net::HasLineBreak(c.password)) {
        return Error{"The password holds a line break; nothing was sent"};
    }
    return {};
}

}  // namespace

ThreadSMTPCheck::ThreadSMTPCheck(const CheckSettings& settings, const Credentials& credentials)
    : CheckWorkItem(words::kSmtp, settings), m_credentials(credentials) {}

Status ThreadSMTPCheck::exchange(net::Deadline deadline) {
    const Expected<net::TlsMode> mode = tlsMode();
    if (!mode) {
        return Error{mode.error()};
    }
    net::SmtpClient client;
    Status outcome = client.connect(m_result.host, m_result.port, deadline);
    if (outcome && *mode == net::TlsMode::Implicit) {
        outcome = client.secure(m_result.host, m_tls, deadline);
    }
    if (outcome) {
        outcome = client.readGreeting(deadline);
    }
    if (outcome) {
        Expected<net::NumericReply> hello = client.hello(net::LocalHostName(), deadline);
        if (!hello) {
            outcome = Error{hello.error()};
        } else if (*mode == net::TlsMode::StartTls) {
            outcome = client.startTls(*hello, m_result.host, m_tls, deadline);
            if (outcome) {
                // What the server offered before TLS counts for nothing after it.
                if (auto again = client.hello(net::LocalHostName(), deadline); !again) {
                    outcome = Error{again.error()};
                }
            }
        }
    }
    client.quit(CloseDeadline());
    client.close();
    return outcome;
}

ThreadPOP3Check::ThreadPOP3Check(const CheckSettings& settings, const Credentials& credentials)
    : CheckWorkItem(words::kPop3, settings), m_credentials(credentials) {}

Status ThreadPOP3Check::exchange(net::Deadline deadline) {
    if (Status clean = RefuseLineBreaks(m_credentials); !clean) {
        return clean;
    }
    const Expected<net::TlsMode> mode = tlsMode();
    if (!mode) {
        return Error{mode.error()};
    }
    net::Pop3Client client;
    Status outcome = client.connect(m_result.host, m_result.port, deadline);
    if (outcome && *mode == net::TlsMode::Implicit) {
        outcome = client.secure(m_result.host, m_tls, deadline);
    }
    if (outcome) {
        outcome = client.readGreeting(deadline);
    }
    if (outcome && *mode == net::TlsMode::StartTls) {
        outcome = client.startTls(m_result.host, m_tls, deadline);
    }
    if (outcome) {
        outcome = client.user(m_credentials.username, deadline);
    }
    if (outcome) {
        outcome = client.pass(m_credentials.password, deadline);
    }
    client.quit(CloseDeadline());
    client.close();
    return outcome;
}

ThreadIMAPCheck::ThreadIMAPCheck(const CheckSettings& settings, const Credentials& credentials)
    : CheckWorkItem(words::kImap, settings), m_credentials(credentials) {}

Status ThreadIMAPCheck::exchange(net::Deadline deadline) {
    if (Status clean = RefuseLineBreaks(m_credentials); !clean) {
        return clean;
    }
    const Expected<net::TlsMode> mode = tlsMode();
    if (!mode) {
        return Error{mode.error()};
    }
    net::ImapClient client;
    Status outcome = client.connect(m_result.host, m_result.port, deadline);
    if (outcome && *mode == net::TlsMode::Implicit) {
        outcome = client.secure(m_result.host, m_tls, deadline);
    }
    if (outcome) {
        Expected<net::ImapClient::Greeting> greeting = client.readGreeting(deadline);
        if (!greeting) {
            outcome = Error{greeting.error()};
        } else if (*mode == net::TlsMode::StartTls) {
            // STARTTLS is a command of the state before authentication.
            outcome = *greeting == net::ImapClient::Greeting::Preauth
                          ? Status{Error{"The server greeted with PREAUTH; STARTTLS is not "
                                         "possible after it"}}
                          : client.startTls(m_result.host, m_tls, deadline);
            if (outcome) {
                outcome = client.login(m_credentials.username, m_credentials.password, deadline);
            }
        } else if (*greeting == net::ImapClient::Greeting::Ok) {
            outcome = client.login(m_credentials.username, m_credentials.password, deadline);
        }
    }
    // LOGOUT on a closed connection fails; that is of no interest here.
    (void)client.logout(CloseDeadline());
    return outcome;
}

}  // namespace vantor::engine
