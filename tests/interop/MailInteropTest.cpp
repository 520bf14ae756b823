// The POP3 and IMAP checks against dovecot, and the SMTP check against
// aiosmtpd, started on 127.0.0.1 by the test.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <memory>

#include "InteropChecks.h"
#include "InteropServers.h"
#include "engine/ThreadMailCheck.h"
#include "support/RunCheck.h"
#include "support/TempDir.h"
#include "support/TestCertificates.h"
#include "support/TlsProbe.h"

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

class DovecotMailCheck : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_setup.run([] {
            s_dir = std::make_unique<test::TempDir>();
            OpenForServers(s_dir->path());
            s_dovecot = std::make_unique<DovecotServer>(s_dir->path());
        });
    }
    static void TearDownTestSuite() {
        s_dovecot.reset();
        s_dir.reset();
        s_setup.reset();
    }
    void SetUp() override { ASSERT_TRUE(s_setup.ok()) << s_setup.error(); }
    void TearDown() override {
        if (HasFailure() && s_dovecot) {
            std::cout << "dovecot log:\n" << s_dovecot->log() << s_dovecot->process().logTail();
        }
    }

    DovecotServer& dovecot() { return *s_dovecot; }
    bool logShows(const std::string& text) {
        return EventuallyContains([this] { return dovecot().log(); }, text);
    }

    static inline SuiteSetup s_setup;
    static inline std::unique_ptr<test::TempDir> s_dir;
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

class AiosmtpdSmtpCheck : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_setup.run([] {
            s_dir = std::make_unique<test::TempDir>();
            OpenForServers(s_dir->path());
            s_smtp = std::make_unique<AiosmtpdServer>(s_dir->path());
        });
    }
    static void TearDownTestSuite() {
        s_smtp.reset();
        s_dir.reset();
        s_setup.reset();
    }
    void SetUp() override { ASSERT_TRUE(s_setup.ok()) << s_setup.error(); }
    void TearDown() override {
        if (HasFailure() && s_smtp) {
            std::cout << s_smtp->process().logTail();
        }
    }

    static inline SuiteSetup s_setup;
    static inline std::unique_ptr<test::TempDir> s_dir;
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

// The TLS servers, probed with raw OpenSSL: the handshake after the plain
// upgrade command or from the first byte, then a login over TLS.
test::TlsProbeResult Probe(int port, std::vector<test::DialogueStep> before,
                           std::vector<test::DialogueStep> after) {
    return test::ProbeTls(port, {std::move(before), std::move(after),
                                 test::SharedTestCertificates().caCert, "localhost"});
}

class DovecotTls : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_setup.run([] {
            s_dir = std::make_unique<test::TempDir>();
            OpenForServers(s_dir->path());
            s_dovecot = std::make_unique<DovecotServer>(
                s_dir->path(),
                DovecotOptions{test::SharedTestCertificates()[test::CertKind::Valid]});
        });
    }
    static void TearDownTestSuite() {
        s_dovecot.reset();
        s_dir.reset();
        s_setup.reset();
    }
    void SetUp() override { ASSERT_TRUE(s_setup.ok()) << s_setup.error(); }
    void TearDown() override {
        if (HasFailure() && s_dovecot) {
            std::cout << "dovecot log:\n" << s_dovecot->log() << s_dovecot->process().logTail();
        }
    }

    static inline SuiteSetup s_setup;
    static inline std::unique_ptr<test::TempDir> s_dir;
    static inline std::unique_ptr<DovecotServer> s_dovecot;
};

TEST_F(DovecotTls, Pop3LogsInAfterStlsAndOnThePop3sPort) {
    const std::string user = std::string("USER ") + DovecotServer::kUser + "\r\n";
    const std::string pass = std::string("PASS ") + DovecotServer::kPassword + "\r\n";
    const std::vector<test::DialogueStep> login = {{user, "+OK"}, {pass, "+OK Logged in"}};
    const auto stls = Probe(s_dovecot->pop3Port(), {{"", "+OK"}, {"STLS\r\n", "+OK"}}, login);
    EXPECT_TRUE(stls.verified()) << stls.error << stls.verifyError;
    EXPECT_EQ(stls.error, "");
    std::vector<test::DialogueStep> greeted = login;
    greeted.insert(greeted.begin(), {"", "+OK"});
    const auto pop3s = Probe(s_dovecot->pop3sPort(), {}, greeted);
    EXPECT_TRUE(pop3s.verified()) << pop3s.error << pop3s.verifyError;
    EXPECT_EQ(pop3s.error, "");
    EXPECT_TRUE(EventuallyContains([] { return s_dovecot->log(); }, "TLS, session=<"));
}

TEST_F(DovecotTls, ImapLogsInAfterStartTlsAndOnTheImapsPort) {
    const std::string login =
        std::string("b LOGIN ") + DovecotServer::kUser + " " + DovecotServer::kPassword + "\r\n";
    // The plain greeting's capabilities offer STARTTLS.
    const auto starttls =
        Probe(s_dovecot->imapPort(), {{"", "* OK [CAPABILITY"}, {"a STARTTLS\r\n", "a OK"}},
              {{login, "b OK"}});
    EXPECT_TRUE(starttls.verified()) << starttls.error << starttls.verifyError;
    EXPECT_EQ(starttls.error, "");
    ASSERT_FALSE(starttls.lines.empty());
    EXPECT_NE(starttls.lines.front().find("STARTTLS"), std::string::npos);
    const auto imaps = Probe(s_dovecot->imapsPort(), {}, {{"", "* OK"}, {login, "b OK"}});
    EXPECT_TRUE(imaps.verified()) << imaps.error << imaps.verifyError;
    EXPECT_EQ(imaps.error, "");
}

class AiosmtpdTls : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_setup.run([] {
            s_dir = std::make_unique<test::TempDir>();
            OpenForServers(s_dir->path());
            const test::CertFiles& valid = test::SharedTestCertificates()[test::CertKind::Valid];
            AiosmtpdOptions startTls;
            startTls.tls = valid;
            startTls.auth = true;
            MakeDir(s_dir->path() + "/starttls");
            MakeDir(s_dir->path() + "/implicit");
            s_startTls = std::make_unique<AiosmtpdServer>(s_dir->path() + "/starttls", startTls);
            AiosmtpdOptions implicit = startTls;
            implicit.implicitTls = true;
            implicit.plainOnly = true;
            s_implicit = std::make_unique<AiosmtpdServer>(s_dir->path() + "/implicit", implicit);
        });
    }
    static void TearDownTestSuite() {
        s_startTls.reset();
        s_implicit.reset();
        s_dir.reset();
        s_setup.reset();
    }
    void SetUp() override { ASSERT_TRUE(s_setup.ok()) << s_setup.error(); }
    void TearDown() override {
        for (auto* server : {s_startTls.get(), s_implicit.get()}) {
            if (HasFailure() && server != nullptr) {
                std::cout << server->process().logTail();
            }
        }
    }

    static std::string AuthPlain() {
        return "AUTH PLAIN " +
               test::Base64(std::string(1, '\0') + AiosmtpdServer::kUser + '\0' +
                            AiosmtpdServer::kPassword) +
               "\r\n";
    }

    static inline SuiteSetup s_setup;
    static inline std::unique_ptr<test::TempDir> s_dir;
    static inline std::unique_ptr<AiosmtpdServer> s_startTls;
    static inline std::unique_ptr<AiosmtpdServer> s_implicit;
};

TEST_F(AiosmtpdTls, StartTlsIsRequiredAndAuthIsOfferedOnlyOverTls) {
    const auto result =
        Probe(s_startTls->port(),
              {{"", "220 "},
               {"EHLO probe\r\n", "250 "},
               {"MAIL FROM:<a@example.org>\r\n", "530 Must issue a STARTTLS command first"},
               {"STARTTLS\r\n", "220 "}},
              {{"EHLO probe\r\n", "250 "}, {AuthPlain(), "235 "}, {"QUIT\r\n", "221 "}});
    EXPECT_TRUE(result.verified()) << result.error << result.verifyError;
    EXPECT_EQ(result.error, "");
    // Before TLS: STARTTLS and no AUTH; after it the other way round.
    const auto at = [&](const std::string& line) {
        return std::find(result.lines.begin(), result.lines.end(), line) - result.lines.begin();
    };
    const auto lines = static_cast<std::ptrdiff_t>(result.lines.size());
    EXPECT_LT(at("250-STARTTLS"), at("220 Ready to start TLS"));
    EXPECT_LT(at("220 Ready to start TLS"), at("250-AUTH LOGIN PLAIN"));
    EXPECT_LT(at("250-AUTH LOGIN PLAIN"), lines);
    // The log tells the clear lines from the encrypted ones, unmasked.
    const auto log = [] { return s_startTls->log(); };
    EXPECT_TRUE(EventuallyContains(log, " clear >> b'STARTTLS'"));
    EXPECT_TRUE(EventuallyContains(
        log, " tls >> b'" + AuthPlain().substr(0, AuthPlain().size() - 2) + "'"));
    EXPECT_EQ(s_startTls->log().find(" clear >> b'AUTH"), std::string::npos);
}

TEST_F(AiosmtpdTls, AuthLoginAnswersAreLoggedAndWrongPasswordsRefused) {
    const auto login = Probe(s_startTls->port(),
                             {{"", "220 "}, {"EHLO probe\r\n", "250 "}, {"STARTTLS\r\n", "220 "}},
                             {{"EHLO probe\r\n", "250 "},
                              {"AUTH LOGIN\r\n", "334 "},
                              {test::Base64(AiosmtpdServer::kUser) + "\r\n", "334 "},
                              {test::Base64("not-the-password") + "\r\n", "535 "}});
    EXPECT_EQ(login.error, "");
    EXPECT_TRUE(EventuallyContains([] { return s_startTls->log(); },
                                   " tls >> b'" + test::Base64("not-the-password") + "'"));
}

TEST_F(AiosmtpdTls, ImplicitTlsGreetsOverTlsAndOffersPlainOnly) {
    const auto result = Probe(
        s_implicit->port(), {},
        {{"", "220 "}, {"EHLO probe\r\n", "250 "}, {AuthPlain(), "235 "}, {"QUIT\r\n", "221 "}});
    EXPECT_TRUE(result.verified()) << result.error << result.verifyError;
    EXPECT_EQ(result.error, "");
    EXPECT_NE(std::find(result.lines.begin(), result.lines.end(), "250-AUTH PLAIN"),
              result.lines.end());
    EXPECT_TRUE(EventuallyContains([] { return s_implicit->log(); }, " tls >> b'AUTH PLAIN "));
    EXPECT_EQ(s_implicit->log().find(" clear >> "), std::string::npos);
}

}  // namespace
}  // namespace vantor::interop
