// SPDX-License-Identifier: GPL-3.0-or-later
// The e-mail alarm sender against a scripted SMTP server.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <string>
#include <vector>

#include "alarm/ThreadSMTP.h"
#include "net/SmtpClient.h"
#include "support/FakeServer.h"
#include "support/FakeSmtpServer.h"
#include "support/LocalSockets.h"
#include "support/MockClock.h"

namespace vantor::alarm {
namespace {

using namespace std::chrono_literals;
using test::FakeSmtpServer;
using test::SmtpBehaviour;

SmtpSettings At(int port, bool authenticate = false, int timeoutMs = 3000) {
    return SmtpSettings{"127.0.0.1", port, authenticate, "alice", "s3cret", timeoutMs};
}

AlarmMail Mail(const std::string& body, const std::string& agent = "VantorMailer/1.0") {
    return AlarmMail{ParseMailbox("Vantor Lite <vantor@example.test>"),
                     ParseAddressList("ops@example.test, \"Duty, Night\" <duty@example.test>"),
                     body, agent};
}

class SmtpSenderTest : public ::testing::Test {
protected:
    SenderResult send(const SmtpSettings& settings, AlarmMail mail) {
        ThreadSMTP sender(settings, std::move(mail), clock);
        EXPECT_EQ(sender.methodWord(), "Email");
        sender.run();
        return sender.result();
    }

    test::MockClock clock;  // 2026-12-08 14:00:00
};

TEST_F(SmtpSenderTest, ASessionWithLoginSendsOneMessageToEveryRecipientInOrder) {
    FakeSmtpServer server;
    const SenderResult r = send(At(server.port(), true), Mail("[10.0.0.1:25] Failed:refused"));
    EXPECT_TRUE(r.ok) << r.detail;
    EXPECT_EQ(r.statusWord, "Sent");

    EXPECT_EQ(server.commands(), (std::vector<std::string>{
                                     "EHLO " + net::LocalHostName(),
                                     "RSET",
                                     "AUTH LOGIN",
                                     "YWxpY2U=",  // alice
                                     "czNjcmV0",  // s3cret
                                     "MAIL FROM:<vantor@example.test>",
                                     "RCPT TO:<ops@example.test>",
                                     "RCPT TO:<duty@example.test>",
                                     "DATA",
                                     "QUIT",
                                 }));
    const auto messages = server.messages();
    ASSERT_EQ(messages.size(), 1u);
    const test::MailParts mail = test::SplitMail(messages[0]);
    std::vector<std::string> names;
    for (const std::string& line : mail.headers) {
        names.push_back(line.substr(0, line.find(':')));
    }
    ASSERT_GE(names.size(), 9u);
    EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + 9),
              (std::vector<std::string>{"From", "Reply-To", "To", "Subject", "X-Mailer", "Date",
                                        "Message-ID", "MIME-Version", "Content-Type"}));
    EXPECT_EQ(mail.header("From"), "Vantor Lite <vantor@example.test>");
    EXPECT_EQ(mail.header("Reply-To"), "Vantor Lite <vantor@example.test>");
    EXPECT_EQ(mail.header("To"), "ops@example.test, \"Duty, Night\" <duty@example.test>");
    EXPECT_EQ(mail.header("Subject"), "Alarming Message");
    EXPECT_EQ(mail.header("X-Mailer"), "VantorMailer/1.0");
    EXPECT_TRUE(
        std::regex_match(mail.header("Date"), std::regex(R"(Tue, 08 Dec 2026 14:00:00 [+-]\d{4})")))
        << mail.header("Date");
    EXPECT_TRUE(std::regex_match(mail.header("Message-ID"), std::regex(R"(<[0-9.]+@[^<>@ ]+>)")))
        << mail.header("Message-ID");
    EXPECT_EQ(mail.header("MIME-Version"), "1.0");
    EXPECT_EQ(mail.header("Content-Type"), "text/plain; charset=UTF-8");
    EXPECT_EQ(mail.body, (std::vector<std::string>{"[10.0.0.1:25] Failed:refused"}));
}

// LOGIN when offered, else PLAIN (RFC 4616: "\0alice\0s3cret"), else none.
TEST_F(SmtpSenderTest, LogsInOnlyWhenAskedToWithLoginOrElsePlain) {
    struct Case {
        bool authenticate;
        std::string ehloReply;
        std::string login;  // the command after RSET
    };
    const Case cases[] = {
        {true, "250-fake.test\r\n250 AUTH PLAIN CRAM-MD5\r\n", "AUTH PLAIN AGFsaWNlAHMzY3JldA=="},
        {true, "250-fake.test\r\n250 AUTH PLAIN LOGIN\r\n", "AUTH LOGIN"},
        {false, "250-fake.test\r\n250 AUTH PLAIN LOGIN\r\n", "MAIL FROM:<vantor@example.test>"},
        {true, "250-fake.test\r\n250-AUTH=LOGIN\r\n250 8BITMIME\r\n", "AUTH LOGIN"},
        {true, "250-fake.test\r\n250-AUTH LOGIN\r\n250 SIZE 1000\r\n", "AUTH LOGIN"},
        {true, "250-fake.test\r\n250 AUTH CRAM-MD5\r\n", "MAIL FROM:<vantor@example.test>"},
        {true, "250 fake.test\r\n", "MAIL FROM:<vantor@example.test>"},
    };
    for (const Case& c : cases) {
        FakeSmtpServer server(SmtpBehaviour{c.ehloReply});
        const SenderResult r = send(At(server.port(), c.authenticate), Mail("x"));
        EXPECT_EQ(r.statusWord, "Sent") << r.detail;
        const auto commands = server.commands();
        ASSERT_GE(commands.size(), 3u);
        EXPECT_EQ(commands[1], "RSET");
        EXPECT_EQ(commands[2], c.login) << c.ehloReply;
        ASSERT_EQ(server.messages().size(), 1u);
    }
}

TEST_F(SmtpSenderTest, WithoutAMailAgentThereIsNoXMailerHeader) {
    FakeSmtpServer server;
    ASSERT_EQ(send(At(server.port()), Mail("x", "")).statusWord, "Sent");
    ASSERT_EQ(server.messages().size(), 1u);
    const test::MailParts mail = test::SplitMail(server.messages()[0]);
    EXPECT_EQ(mail.count("X-Mailer"), 0);
    EXPECT_EQ(mail.header("Subject"), "Alarming Message");
}

TEST_F(SmtpSenderTest, LineBreaksInTheAlarmTextStayInTheBodyAndLeadingDotsAreDoubled) {
    FakeSmtpServer server;
    const std::string text =
        "first\r\n.hidden\r\n.\r\nMAIL FROM:<x@evil.test>\nBcc: victim@evil.test\rlast";
    ASSERT_EQ(send(At(server.port()), Mail(text)).statusWord, "Sent");

    const auto messages = server.messages();
    ASSERT_EQ(messages.size(), 1u) << "the text must not end the message early";
    const test::MailParts mail = test::SplitMail(messages[0]);
    EXPECT_EQ(mail.count("Bcc"), 0);
    EXPECT_EQ(mail.body,
              (std::vector<std::string>{"first", "..hidden", "..", "MAIL FROM:<x@evil.test>",
                                        "Bcc: victim@evil.test", "last"}));
    for (const std::string& line : messages[0]) {
        EXPECT_EQ(line.find('\r'), std::string::npos) << "a bare CR went out in: " << line;
    }
    for (const std::string& command : server.commands()) {
        EXPECT_NE(command, "MAIL FROM:<x@evil.test>");
    }
}

TEST_F(SmtpSenderTest, AServerThatRefusesEhloButTakesHeloStillGetsTheMail) {
    FakeSmtpServer server(SmtpBehaviour{""});
    const SenderResult r = send(At(server.port(), true), Mail("down"));
    EXPECT_EQ(r.statusWord, "Sent") << r.detail;
    const auto commands = server.commands();
    ASSERT_GE(commands.size(), 4u);
    EXPECT_EQ(commands[0], "EHLO " + net::LocalHostName());
    EXPECT_EQ(commands[1], "HELO " + net::LocalHostName());
    EXPECT_EQ(commands[2], "RSET");
    EXPECT_EQ(commands[3], "MAIL FROM:<vantor@example.test>") << "HELO lists no login";
    EXPECT_EQ(server.messages().size(), 1u);
}

TEST_F(SmtpSenderTest, ASilentServerEndsTheSendAfterTheTimeout) {
    FakeSmtpServer server(SmtpBehaviour{.silent = true});
    const auto start = std::chrono::steady_clock::now();
    const SenderResult r = send(At(server.port(), false, 400), Mail("down"));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.statusWord, "Error");
    EXPECT_EQ(r.detail.rfind("[127.0.0.1:" + std::to_string(server.port()) + "] ", 0), 0u)
        << r.detail;
    EXPECT_GE(took, 350ms);
    EXPECT_LT(took, 5s);
}

TEST_F(SmtpSenderTest, AnUnreachableServerIsAnErrorNamingHostAndPort) {
    test::ClosedPort closed;
    const SenderResult r = send(At(closed.port()), Mail("down"));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.statusWord, "Error");
    EXPECT_EQ(r.detail.rfind("[127.0.0.1:" + std::to_string(closed.port()) + "] ", 0), 0u)
        << r.detail;
    EXPECT_NE(r.detail.find("Connection refused"), std::string::npos) << r.detail;
}

TEST(SmtpAddresses, ListsSplitAtCommasOutsideQuotesAndAngleBrackets) {
    const auto list =
        ParseAddressList(" a@example.test ,\"Last, First\" <b@example.test>,<c,d@example.test>,,");
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].address, "a@example.test");
    EXPECT_EQ(list[1].address, "b@example.test");
    EXPECT_EQ(list[1].text, "\"Last, First\" <b@example.test>");
    EXPECT_EQ(list[2].address, "c,d@example.test");
    EXPECT_EQ(ParseMailbox("Ops\r\nBcc: x <ops@example.test>").text,
              "Ops  Bcc: x <ops@example.test>")
        << "a line break in a mailbox cannot start a header";
}

}  // namespace
}  // namespace vantor::alarm
