// SPDX-License-Identifier: GPL-3.0-or-later
// The POP3 and IMAP checks against dovecot, and the SMTP check against
// aiosmtpd, started on 127.0.0.1 by the test.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <memory>

#include "InteropChecks.h"
#include "InteropServers.h"
#include "ServerSuite.h"
#include "alarm/ThreadSMTP.h"
#include "engine/ThreadMailCheck.h"
#include "support/RunCheck.h"
#include "support/TempDir.h"
#include "support/TestCertificates.h"

namespace vantor::interop {
namespace {

using engine::CheckResult;
using engine::Credentials;

template <typename Check>
CheckResult RunMailCheck(int port, const std::string& user, const std::string& password) {
    return test::RunCheck(
        std::make_unique<Check>(Settings("127.0.0.1", port), Credentials{user, password}));
}

std::string Refused(int port) {
    return Prefix("127.0.0.1", port) + "Failed:Cannot connect to 127.0.0.1 port " +
           std::to_string(port) + ": Connection refused";
}

class DovecotMailCheck : public ServerSuite<DovecotMailCheck> {
public:
    static void StartServers(const std::string& dir) {
        s_dovecot = std::make_unique<DovecotServer>(dir);
    }
    static void StopServers() { s_dovecot.reset(); }
    static void ShowServerLogs() {
        if (s_dovecot) {
            std::cout << "dovecot log:\n" << s_dovecot->log() << s_dovecot->process().logTail();
        }
    }

protected:
    DovecotServer& dovecot() { return *s_dovecot; }
    bool logShows(const std::string& text) {
        return EventuallyContains([this] { return dovecot().log(); }, text);
    }

    static inline std::unique_ptr<DovecotServer> s_dovecot;
};

TEST_F(DovecotMailCheck, Pop3PassesWithTheRightPassword) {
    const int port = dovecot().pop3Port();
    const CheckResult result =
        RunMailCheck<engine::ThreadPOP3Check>(port, DovecotServer::kUser, DovecotServer::kPassword);
    EXPECT_TRUE(result.passed);
    EXPECT_EQ(result.kind, "POP3");
    EXPECT_EQ(result.statusWord, "Passed");
    EXPECT_EQ(result.detail, Prefix("127.0.0.1", port) + "Passed");
    // The login reached the mailbox, and the check said QUIT.
    EXPECT_TRUE(logShows("pop3-login: Info: Login: user=<vantor>"));
    EXPECT_TRUE(logShows("pop3(vantor)"));
    EXPECT_TRUE(logShows("Info: Disconnected: Logged out"));
}

TEST_F(DovecotMailCheck, Pop3WrongPasswordFailsWithTheServersWords) {
    const int port = dovecot().pop3Port();
    const CheckResult result =
        RunMailCheck<engine::ThreadPOP3Check>(port, DovecotServer::kUser, "not-the-password");
    EXPECT_FALSE(result.passed);
    EXPECT_EQ(result.statusWord, "Failed");
    // dovecot said "-ERR [AUTH] Authentication failed."
    EXPECT_EQ(result.detail, Prefix("127.0.0.1", port) + "Failed:[AUTH] Authentication failed.");
}

TEST_F(DovecotMailCheck, ImapPassesWithTheRightPassword) {
    const int port = dovecot().imapPort();
    const CheckResult result =
        RunMailCheck<engine::ThreadIMAPCheck>(port, DovecotServer::kUser, DovecotServer::kPassword);
    EXPECT_TRUE(result.passed);
    EXPECT_EQ(result.kind, "IMAP");
    EXPECT_EQ(result.detail, Prefix("127.0.0.1", port) + "Passed");
    EXPECT_TRUE(logShows("imap-login: Info: Login: user=<vantor>"));
    EXPECT_TRUE(logShows("imap(vantor)"));
}

TEST_F(DovecotMailCheck, ImapWrongPasswordFailsWithTheServersWords) {
    const int port = dovecot().imapPort();
    const CheckResult result =
        RunMailCheck<engine::ThreadIMAPCheck>(port, DovecotServer::kUser, "not-the-password");
    EXPECT_FALSE(result.passed);
    // dovecot said "C1 NO [AUTHENTICATIONFAILED] Authentication failed."
    EXPECT_EQ(result.detail,
              Prefix("127.0.0.1", port) + "Failed:[AUTHENTICATIONFAILED] Authentication failed.");
}

TEST_F(DovecotMailCheck, PasswordWithBlanksQuotesAndBackslashLogsIn) {
    // IMAP sends it as a quoted string, POP3 as the rest of the PASS line.
    const CheckResult imap = RunMailCheck<engine::ThreadIMAPCheck>(
        dovecot().imapPort(), DovecotServer::kQuotedUser, DovecotServer::kQuotedPassword);
    EXPECT_TRUE(imap.passed) << imap.detail;
    const CheckResult pop3 = RunMailCheck<engine::ThreadPOP3Check>(
        dovecot().pop3Port(), DovecotServer::kQuotedUser, DovecotServer::kQuotedPassword);
    EXPECT_TRUE(pop3.passed) << pop3.detail;
    EXPECT_TRUE(logShows("imap-login: Info: Login: user=<vantor.quoted>"));
    EXPECT_TRUE(logShows("pop3-login: Info: Login: user=<vantor.quoted>"));
}

TEST_F(DovecotMailCheck, PortsWithoutServerFailToConnect) {
    const int port = FreePort();
    const CheckResult pop3 =
        RunMailCheck<engine::ThreadPOP3Check>(port, DovecotServer::kUser, DovecotServer::kPassword);
    EXPECT_FALSE(pop3.passed);
    EXPECT_EQ(pop3.detail, Refused(port));
    const CheckResult imap =
        RunMailCheck<engine::ThreadIMAPCheck>(port, DovecotServer::kUser, DovecotServer::kPassword);
    EXPECT_FALSE(imap.passed);
    EXPECT_EQ(imap.detail, Refused(port));
}

class AiosmtpdSmtpCheck : public ServerSuite<AiosmtpdSmtpCheck> {
public:
    static void StartServers(const std::string& dir) {
        s_smtp = std::make_unique<AiosmtpdServer>(dir);
    }
    static void StopServers() { s_smtp.reset(); }
    static void ShowServerLogs() {
        if (s_smtp) {
            std::cout << s_smtp->process().logTail();
        }
    }

protected:
    static inline std::unique_ptr<AiosmtpdServer> s_smtp;
};

TEST_F(AiosmtpdSmtpCheck, GreetingAndEhloPass) {
    const int port = s_smtp->port();
    const CheckResult result = RunMailCheck<engine::ThreadSMTPCheck>(port, "", "");
    EXPECT_TRUE(result.passed);
    EXPECT_EQ(result.kind, "SMTP");
    EXPECT_EQ(result.statusWord, "Passed");
    EXPECT_EQ(result.detail, Prefix("127.0.0.1", port) + "Passed");
    // The check greets with this machine's name and says QUIT; no mail.
    char name[256] = {};
    ASSERT_EQ(::gethostname(name, sizeof name - 1), 0);
    const auto log = [] { return s_smtp->log(); };
    EXPECT_TRUE(EventuallyContains(log, ">> b'EHLO " + std::string(name) + "'"));
    EXPECT_TRUE(EventuallyContains(log, ">> b'QUIT'"));
    EXPECT_EQ(s_smtp->log().find(">> b'MAIL"), std::string::npos);
}

TEST_F(AiosmtpdSmtpCheck, PortWithoutServerFailsToConnect) {
    const int port = FreePort();
    const CheckResult result = RunMailCheck<engine::ThreadSMTPCheck>(port, "", "");
    EXPECT_FALSE(result.passed);
    EXPECT_EQ(result.detail, Refused(port));
}

template <typename Check>
CheckResult RunTlsCheck(int port, const std::string& mode, const std::string& user = "",
                        const std::string& password = "") {
    return test::RunCheck(
        std::make_unique<Check>(TlsSettings("127.0.0.1", port, mode), Credentials{user, password}));
}

// STARTTLS asked of servers that speak no TLS: a clear refusal (that no
// password follows it is shown on a transcript in the check tests).
TEST_F(DovecotMailCheck, StartTlsOfAServerWithoutTlsFailsAndSendsNoPassword) {
    const int pop3 = dovecot().pop3Port();
    const int imap = dovecot().imapPort();
    const CheckResult p = RunTlsCheck<engine::ThreadPOP3Check>(
        pop3, "starttls", DovecotServer::kUser, DovecotServer::kPassword);
    EXPECT_EQ(p.detail.rfind(Prefix("127.0.0.1", pop3) + "Failed:The server refused STLS", 0), 0u)
        << p.detail;
    const CheckResult i = RunTlsCheck<engine::ThreadIMAPCheck>(
        imap, "starttls", DovecotServer::kUser, DovecotServer::kPassword);
    EXPECT_EQ(i.detail.rfind(Prefix("127.0.0.1", imap) + "Failed:The server refused STARTTLS", 0),
              0u)
        << i.detail;
}

TEST_F(AiosmtpdSmtpCheck, StartTlsOfAServerWithoutTlsFails) {
    const int port = s_smtp->port();
    const CheckResult result = RunTlsCheck<engine::ThreadSMTPCheck>(port, "starttls");
    EXPECT_EQ(result.detail,
              Prefix("127.0.0.1", port) + "Failed:The server does not offer STARTTLS");
    EXPECT_TRUE(EventuallyContains([] { return s_smtp->log(); }, ">> b'QUIT'"));
    EXPECT_EQ(s_smtp->log().find(">> b'STARTTLS'"), std::string::npos);
}

// dovecot with a certificate from the test CA: STLS/STARTTLS on the plain
// ports, TLS from the first byte on the pop3s and imaps ports.
class DovecotTls : public ServerSuite<DovecotTls> {
public:
    static void StartServers(const std::string& dir) {
        TrustTestCa();
        s_dovecot = std::make_unique<DovecotServer>(
            dir, DovecotOptions{test::SharedTestCertificates()[test::CertKind::Valid]});
    }
    static void StopServers() { s_dovecot.reset(); }
    static void ShowServerLogs() {
        if (s_dovecot) {
            std::cout << "dovecot log:\n" << s_dovecot->log() << s_dovecot->process().logTail();
        }
    }

protected:
    static inline std::unique_ptr<DovecotServer> s_dovecot;
};

TEST_F(DovecotTls, Pop3AndImapLogInOverStartTlsAndImplicitTls) {
    const std::string user = DovecotServer::kUser;
    const std::string password = DovecotServer::kPassword;
    const std::pair<int, std::string> pop3[] = {{s_dovecot->pop3Port(), "starttls"},
                                                {s_dovecot->pop3sPort(), "implicit"}};
    for (const auto& [port, mode] : pop3) {
        const CheckResult r = RunTlsCheck<engine::ThreadPOP3Check>(port, mode, user, password);
        EXPECT_EQ(r.detail, Prefix("127.0.0.1", port) + "Passed") << mode;
    }
    const std::pair<int, std::string> imap[] = {{s_dovecot->imapPort(), "starttls"},
                                                {s_dovecot->imapsPort(), "implicit"}};
    for (const auto& [port, mode] : imap) {
        const CheckResult r = RunTlsCheck<engine::ThreadIMAPCheck>(port, mode, user, password);
        EXPECT_EQ(r.detail, Prefix("127.0.0.1", port) + "Passed") << mode;
    }
    // Four logins, each over TLS.
    const auto log = [] { return s_dovecot->log(); };
    EXPECT_TRUE(EventuallyContains(log,
                                   "pop3-login: Info: Login: user=<vantor>, method=PLAIN, "
                                   "rip=127.0.0.1, lip=127.0.0.1, mpid"));
    EXPECT_TRUE(EventuallyContains(log, "TLS, session=<"));
}

TEST_F(DovecotTls, AWrongPasswordOverTlsFailsWithTheServersWords) {
    const int port = s_dovecot->imapsPort();
    const CheckResult r =
        RunTlsCheck<engine::ThreadIMAPCheck>(port, "implicit", DovecotServer::kUser, "not-it");
    EXPECT_EQ(r.detail,
              Prefix("127.0.0.1", port) + "Failed:[AUTHENTICATIONFAILED] Authentication failed.");
}

// aiosmtpd that insists on STARTTLS before mail and offers AUTH only over
// TLS, and one that speaks TLS from the first byte and offers PLAIN only.
// Their logs mark each line read as " clear >> " or " tls >> ".
class AiosmtpdTls : public ServerSuite<AiosmtpdTls> {
public:
    static void StartServers(const std::string& dir) {
        TrustTestCa();
        const test::CertFiles& valid = test::SharedTestCertificates()[test::CertKind::Valid];
        AiosmtpdOptions startTls;
        startTls.tls = valid;
        startTls.auth = true;
        MakeDir(dir + "/starttls");
        MakeDir(dir + "/implicit");
        s_startTls = std::make_unique<AiosmtpdServer>(dir + "/starttls", startTls);
        AiosmtpdOptions implicit = startTls;
        implicit.implicitTls = true;
        implicit.plainOnly = true;
        s_implicit = std::make_unique<AiosmtpdServer>(dir + "/implicit", implicit);
    }
    static void StopServers() {
        s_startTls.reset();
        s_implicit.reset();
    }
    static void ShowServerLogs() {
        for (auto* server : {s_startTls.get(), s_implicit.get()}) {
            if (server != nullptr) {
                std::cout << server->log() << server->process().logTail();
            }
        }
    }

protected:
    static alarm::SenderResult SendAlarm(int port, const std::string& security,
                                         const std::string& password) {
        alarm::SmtpSettings settings{"127.0.0.1", port,  true,    AiosmtpdServer::kUser,
                                     password,    15000, security};
        alarm::AlarmMail mail{alarm::ParseMailbox("vantor@example.test"),
                              alarm::ParseAddressList("ops@example.test"),
                              "[10.0.0.1:25] Failed:refused", "Vantor"};
        alarm::ThreadSMTP sender(settings, mail);
        sender.run();
        return sender.result();
    }

    static inline std::unique_ptr<AiosmtpdServer> s_startTls;
    static inline std::unique_ptr<AiosmtpdServer> s_implicit;
};

TEST_F(AiosmtpdTls, TheSmtpCheckPassesOverStartTlsAndImplicitTls) {
    const int startTls = s_startTls->port();
    EXPECT_EQ(RunTlsCheck<engine::ThreadSMTPCheck>(startTls, "starttls").detail,
              Prefix("127.0.0.1", startTls) + "Passed");
    const int implicit = s_implicit->port();
    EXPECT_EQ(RunTlsCheck<engine::ThreadSMTPCheck>(implicit, "implicit").detail,
              Prefix("127.0.0.1", implicit) + "Passed");
    // EHLO again after the handshake.
    EXPECT_TRUE(EventuallyContains([] { return s_startTls->log(); }, " tls >> b'EHLO "));
}

TEST_F(AiosmtpdTls, TheAlarmMailLogsInOverTlsOnly) {
    const alarm::SenderResult login =
        SendAlarm(s_startTls->port(), "STARTTLS", AiosmtpdServer::kPassword);
    EXPECT_EQ(login.statusWord, "Sent") << login.detail;
    const auto startTlsLog = [] { return s_startTls->log(); };
    EXPECT_TRUE(EventuallyContains(startTlsLog, " clear >> b'STARTTLS'"));
    EXPECT_TRUE(EventuallyContains(startTlsLog, " tls >> b'AUTH LOGIN'"));
    EXPECT_TRUE(EventuallyContains(startTlsLog, " tls >> b'DATA'"));
    EXPECT_EQ(s_startTls->log().find(" clear >> b'AUTH"), std::string::npos);
    // Only PLAIN offered: AUTH PLAIN, from the first byte over TLS.
    const alarm::SenderResult plain =
        SendAlarm(s_implicit->port(), "TLS", AiosmtpdServer::kPassword);
    EXPECT_EQ(plain.statusWord, "Sent") << plain.detail;
    EXPECT_TRUE(EventuallyContains([] { return s_implicit->log(); }, " tls >> b'AUTH PLAIN "));
    EXPECT_EQ(s_implicit->log().find(" clear >> "), std::string::npos);
    // A wrong password is the server's refusal.
    const alarm::SenderResult refused = SendAlarm(s_startTls->port(), "STARTTLS", "not-it");
    EXPECT_EQ(refused.statusWord, "Error") << refused.detail;
    EXPECT_NE(refused.detail.find("Authentication"), std::string::npos) << refused.detail;
}

}  // namespace
}  // namespace vantor::interop
