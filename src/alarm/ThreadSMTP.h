// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

#include "alarm/SenderWorkItem.h"
#include "app/Clock.h"

namespace vantor::app {
struct AppSettings;
}

namespace vantor::alarm {

// A mailbox as written in the settings: a bare address, or a display name
// followed by the address in angle brackets.
struct Mailbox {
    std::string text;     // as written, for the header
    std::string address;  // what goes into MAIL FROM and RCPT TO
};

Mailbox ParseMailbox(const std::string& text);
// Comma-separated mailboxes; commas inside quotes or angle brackets do not
// separate.
std::vector<Mailbox> ParseAddressList(const std::string& text);

struct AlarmMail {
    Mailbox from;
    std::vector<Mailbox> recipients;
    std::string body;  // the alarm text
    std::string mailAgent;
};

struct SmtpSettings {
    std::string host;
    int port = 25;
    bool authenticate = false;
    std::string username;
    std::string password;
    int timeoutMs = 5000;  // 0 or below means 5000
    // "None", "STARTTLS" or "TLS" (from the first byte), in any case; the
    // server's certificate is verified against the trust store.
    std::string security = "None";
};

// The "SMTP Alarm" section as the sender takes it.
SmtpSettings SmtpSettingsFrom(const app::AppSettings& settings);
// The alarm mail of a text to `recipients` (an address list), from the
// "SMTP Alarm" section.
AlarmMail AlarmMailFrom(const app::AppSettings& settings, const std::string& recipients,
                        const std::string& text);

// The message as it goes after DATA, without the final "." line: headers,
// a blank line and the body, CR LF line ends, lines that start with "."
// doubled. A line break inside a value cannot start a header or end the
// message.
std::string ComposeAlarmMail(const AlarmMail& mail, std::chrono::system_clock::time_point date,
                             const std::string& messageIdHost);

// Sends one alarm e-mail: TLS when asked for (from the first byte, or by
// STARTTLS after EHLO and then EHLO again), RSET, AUTH LOGIN when asked for
// and offered (AUTH PLAIN when only that is), MAIL FROM, one RCPT TO per
// recipient, DATA. Every wait for the server ends after the timeout.
class ThreadSMTP final : public SenderWorkItem {
public:
    ThreadSMTP(const SmtpSettings& settings, AlarmMail mail,
               const app::Clock& clock = app::SystemClock::instance());

    std::string_view methodWord() const override { return kMethodEmail; }
    int timeoutMs() const { return m_settings.timeoutMs; }

protected:
    Status send() override;
    std::string_view logName() const override { return "SMTP"; }

private:
    SmtpSettings m_settings;
    AlarmMail m_mail;
    const app::Clock& m_clock;
};

}  // namespace vantor::alarm
