// The POP3 and IMAP checks against dovecot, and the SMTP check against
// aiosmtpd, started on 127.0.0.1 by the test.
#include <gtest/gtest.h>
#include <unistd.h>

#include <iostream>
#include <memory>

#include "InteropChecks.h"
#include "InteropServers.h"
#include "engine/ThreadMailCheck.h"
#include "support/RunCheck.h"
#include "support/TempDir.h"

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

}  // namespace
}  // namespace vantor::interop
