// SPDX-License-Identifier: GPL-3.0-or-later
#include "alarm/ThreadSMTP.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <optional>

#include "app/AppSettings.h"
#include "app/TimeFormat.h"
#include "net/SmtpClient.h"

namespace vantor::alarm {

namespace {

std::string OneLine(std::string text) {
    for (char& c : text) {
        if (c == '\r' || c == '\n') {
            c = ' ';
        }
    }
    return net::Trim(text);
}

std::string Base64(std::string_view in) {
    static constexpr char kTable[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < in.size(); i += 3) {
        const unsigned v = (static_cast<unsigned char>(in[i]) << 16) |
                           (static_cast<unsigned char>(in[i + 1]) << 8) |
                           static_cast<unsigned char>(in[i + 2]);
        out += kTable[(v >> 18) & 63];
        out += kTable[(v >> 12) & 63];
        out += kTable[(v >> 6) & 63];
        out += kTable[v & 63];
    }
    if (i < in.size()) {
        unsigned v = static_cast<unsigned char>(in[i]) << 16;
        if (i + 1 < in.size()) {
            v |= static_cast<unsigned char>(in[i + 1]) << 8;
        }
        out += kTable[(v >> 18) & 63];
        out += kTable[(v >> 12) & 63];
        out += i + 1 < in.size() ? kTable[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

// RFC 5322 date in English whatever the locale.
std::string MailDate(std::chrono::system_clock::time_point t) {
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::time_t seconds = std::chrono::system_clock::to_time_t(t);
    std::tm tm{};
    localtime_r(&seconds, &tm);
    const long offset = tm.tm_gmtoff / 60;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld",
                  kDays[tm.tm_wday % 7], tm.tm_mday, kMonths[tm.tm_mon % 12], tm.tm_year + 1900,
                  tm.tm_hour, tm.tm_min, tm.tm_sec, offset < 0 ? '-' : '+', std::labs(offset) / 60,
                  std::labs(offset) % 60);
    return buf;
}

std::atomic<unsigned> g_messageCounter{0};

}  // namespace

Mailbox ParseMailbox(const std::string& raw) {
    Mailbox box;
    box.text = OneLine(raw);
    const auto open = box.text.rfind('<');
    const auto close = box.text.rfind('>');
    if (open != std::string::npos && close != std::string::npos && close > open) {
        box.address = net::Trim(box.text.substr(open + 1, close - open - 1));
    } else {
        box.address = box.text;
    }
    return box;
}

std::vector<Mailbox> ParseAddressList(const std::string& text) {
    std::vector<Mailbox> out;
    std::string current;
    bool quoted = false;
    int angle = 0;
    auto flush = [&] {
        if (!net::Trim(current).empty()) {
            out.push_back(ParseMailbox(current));
        }
        current.clear();
    };
    for (char c : text) {
        if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && c == '<') {
            ++angle;
        } else if (!quoted && c == '>' && angle > 0) {
            --angle;
        } else if (!quoted && angle == 0 && (c == ',' || c == ';')) {
            flush();
            continue;
        }
        current += c;
    }
    flush();
    return out;
}

std::string ComposeAlarmMail(const AlarmMail& mail, std::chrono::system_clock::time_point date,
                             const std::string& messageIdHost) {
    std::string to;
    for (const Mailbox& r : mail.recipients) {
        if (!to.empty()) {
            to += ", ";
        }
        to += r.text;
    }
    const auto stamp =
        std::chrono::duration_cast<std::chrono::microseconds>(date.time_since_epoch()).count();
    std::string out;
    out += "From: " + mail.from.text + "\r\n";
    out += "Reply-To: " + mail.from.text + "\r\n";
    out += "To: " + to + "\r\n";
    out += "Subject: Alarming Message\r\n";
    if (!OneLine(mail.mailAgent).empty()) {
        out += "X-Mailer: " + OneLine(mail.mailAgent) + "\r\n";
    }
    out += "Date: " + MailDate(date) + "\r\n";
    out += "Message-ID: <" + std::to_string(stamp) + "." + std::to_string(++g_messageCounter) +
           "@" + OneLine(messageIdHost) + ">\r\n";
    out += "MIME-Version: 1.0\r\n";
    out += "Content-Type: text/plain; charset=UTF-8\r\n";
    out += "Content-Transfer-Encoding: 8bit\r\n";
    out += "\r\n";
    // Every line end in the text becomes CR LF, and a line that starts with
    // a dot gets a second one, so the text can never end the DATA section.
    std::string line;
    auto endLine = [&] {
        if (!line.empty() && line.front() == '.') {
            out += '.';
        }
        out += line;
        out += "\r\n";
        line.clear();
    };
    const std::string& body = mail.body;
    for (std::size_t i = 0; i < body.size(); ++i) {
        const char c = body[i];
        if (c == '\r') {
            if (i + 1 < body.size() && body[i + 1] == '\n') {
                ++i;
            }
            endLine();
        } else if (c == '\n') {
            endLine();
        } else {
            line += c;
        }
    }
    endLine();
    return out;
}

namespace {

std::optional<net::TlsMode> SecurityMode(std::string_view word) {
    std::string upper(word);
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    if (upper.empty() || upper == "NONE") {
        return net::TlsMode::None;
    }
    if (upper == "STARTTLS") {
        return net::TlsMode::StartTls;
    }
    if (upper == "TLS") {
        return net::TlsMode::Implicit;
    }
    return std::nullopt;
}

}  // namespace

SmtpSettings SmtpSettingsFrom(const app::AppSettings& s) {
    return SmtpSettings{.host = s.smtpIp,
                        .port = s.smtpPort,
                        .authenticate = s.smtpAuthEnable,
                        .username = s.smtpUsername,
                        .password = s.smtpPassword,
                        .timeoutMs = s.smtpTimeout,
                        .security = s.smtpSecurity};
}

AlarmMail AlarmMailFrom(const app::AppSettings& s, const std::string& recipients,
                        const std::string& text) {
    return AlarmMail{.from = ParseMailbox(s.smtpFromAddress),
                     .recipients = ParseAddressList(recipients),
                     .body = text,
                     .mailAgent = s.smtpMailAgent};
}

ThreadSMTP::ThreadSMTP(const SmtpSettings& settings, AlarmMail mail, const app::Clock& clock)
    : SenderWorkItem(settings.host, settings.port),
      m_settings(settings),
      m_mail(std::move(mail)),
      m_clock(clock) {
    if (m_settings.timeoutMs <= 0) {
        m_settings.timeoutMs = 5000;
    }
}

Status ThreadSMTP::send() {
    const int timeout = m_settings.timeoutMs;
    auto wait = [timeout] { return net::DeadlineAfter(timeout); };
    net::SmtpClient client;
    auto fail = [&client](std::string error) {
        client.quit(net::DeadlineAfter(1000));
        client.close();
        return Status(Error{std::move(error)});
    };
    const std::optional<net::TlsMode> mode = SecurityMode(m_settings.security);
    if (!mode) {
        return Error{"Unknown security '" + m_settings.security +
                     "' (expected None, STARTTLS or TLS); nothing was sent"};
    }
    const net::TlsOptions tls;  // verified; the date is the checks' business
    if (Status s = client.connect(m_settings.host, m_settings.port, wait()); !s) {
        return s;
    }
    if (*mode == net::TlsMode::Implicit) {
        if (Status s = client.secure(m_settings.host, tls, wait()); !s) {
            return fail(s.error());
        }
    }
    if (Status s = client.readGreeting(wait()); !s) {
        return fail(s.error());
    }
    Expected<net::NumericReply> hello = client.hello(net::LocalHostName(), wait());
    if (!hello) {
        return fail(hello.error());
    }
    if (*mode == net::TlsMode::StartTls) {
        if (Status s = client.startTls(*hello, m_settings.host, tls, wait()); !s) {
            return fail(s.error());
        }
        hello = client.hello(net::LocalHostName(), wait());
        if (!hello) {
            return fail(hello.error());
        }
    }
    bool loginOffered = false;
    bool plainOffered = false;
    for (const std::string& line : hello->lines) {
        std::string upper = line.size() > 4 ? line.substr(4) : std::string();
        for (char& c : upper) {
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        if (upper.rfind("AUTH ", 0) == 0 || upper.rfind("AUTH=", 0) == 0) {
            const std::string mechanisms = " " + upper.substr(5) + " ";
            loginOffered = loginOffered || mechanisms.find(" LOGIN ") != std::string::npos;
            plainOffered = plainOffered || mechanisms.find(" PLAIN ") != std::string::npos;
        }
    }
    auto step = [&](const std::string& command, std::initializer_list<int> codes) -> Status {
        Expected<net::NumericReply> r = client.command(command, codes, wait());
        return r ? Status() : Status(Error{r.error()});
    };
    if (Status s = step("RSET", {250}); !s) {
        return fail(s.error());
    }
    if (m_settings.authenticate && loginOffered) {
        if (Status s = step("AUTH LOGIN", {334}); !s) {
            return fail(s.error());
        }
        if (Status s = step(Base64(m_settings.username), {334}); !s) {
            return fail(s.error());
        }
        if (Status s = step(Base64(m_settings.password), {235}); !s) {
            return fail(s.error());
        }
    } else if (m_settings.authenticate && plainOffered) {
        // RFC 4616: no authorization identity, the user name, the password.
        const std::string credentials =
            std::string(1, '\0') + m_settings.username + std::string(1, '\0') + m_settings.password;
        if (Status s = step("AUTH PLAIN " + Base64(credentials), {235}); !s) {
            return fail(s.error());
        }
    }
    if (Status s = step("MAIL FROM:<" + m_mail.from.address + ">", {250}); !s) {
        return fail(s.error());
    }
    for (const Mailbox& r : m_mail.recipients) {
        if (Status s = step("RCPT TO:<" + r.address + ">", {250, 251}); !s) {
            return fail(s.error());
        }
    }
    if (Status s = step("DATA", {354}); !s) {
        return fail(s.error());
    }
    const std::string message = ComposeAlarmMail(m_mail, m_clock.now(), net::LocalHostName());
    if (Status s = client.sendRaw(message + ".\r\n", wait()); !s) {
        return fail(s.error());
    }
    Expected<net::NumericReply> accepted = client.readReply(wait());
    if (!accepted) {
        return fail(accepted.error());
    }
    if (accepted->code != 250) {
        return fail(net::RefusedReply(*accepted).text);
    }
    client.quit(net::DeadlineAfter(1000));
    client.close();
    return {};
}

}  // namespace vantor::alarm
