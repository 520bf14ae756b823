// SPDX-License-Identifier: GPL-3.0-or-later
// The SMTP, POP3 and IMAP checks against scripted fake servers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <iostream>

#include "engine/ThreadFTPCheck.h"
#include "engine/ThreadMailCheck.h"
#include "engine/ThreadPingCheck.h"
#include "engine/ThreadURLCheck.h"
#include "net/ImapClient.h"
#include "net/SmtpClient.h"
#include "support/CpuTime.h"
#include "support/FakeHttpServer.h"
#include "support/FakeServer.h"
#include "support/HostileTls.h"
#include "support/RunCheck.h"
#include "support/ScopedEnv.h"
#include "support/ScriptedServers.h"
#include "support/TempDir.h"

namespace vantor::engine {
namespace {

using test::FakeConnection;
using test::FakeServer;
using test::Script;

CheckSettings At(const FakeServer& server, int timeoutMs = 3000) {
    CheckSettings s;
    s.serviceKey = "k";
    s.host = "127.0.0.1";
    s.port = server.port();
    s.timeoutMs = timeoutMs;
    return s;
}

std::string Prefix(const FakeServer& server) {
    return "[127.0.0.1:" + std::to_string(server.port()) + "] ";
}

CheckResult Smtp(const FakeServer& server, Credentials credentials = {}) {
    return test::RunCheck(std::make_unique<ThreadSMTPCheck>(At(server), credentials));
}

TEST(SmtpCheck, PassesOnEhloAndQuitsWithoutWaiting) {
    FakeServer server(
        Script("220-mail.test ESMTP\r\n220 ready\r\n", {"250-mail.test\r\n250 8BITMIME\r\n"}));
    const CheckResult r = Smtp(server);
    EXPECT_TRUE(r.passed);
    EXPECT_EQ(r.statusWord, "Passed");
    EXPECT_EQ(r.detail, Prefix(server) + "Passed");
    EXPECT_EQ(r.kind, "SMTP");
    const auto lines = server.received();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "EHLO " + net::LocalHostName());
    EXPECT_EQ(lines[1], "QUIT");
}

TEST(SmtpCheck, FallsBackToHeloWhenEhloIsRefused) {
    FakeServer server(Script("220 old server\r\n", {"500 unknown command\r\n", "250 hello\r\n"}));
    const CheckResult r = Smtp(server);
    EXPECT_TRUE(r.passed) << r.detail;
    const auto lines = server.received();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[1], "HELO " + net::LocalHostName());
}

TEST(SmtpCheck, RefusalsFailWithTheServersWords) {
    {
        FakeServer server(Script("554 5.3.2 Service unavailable\r\n", {}));
        EXPECT_EQ(Smtp(server).detail, Prefix(server) + "Failed:5.3.2 Service unavailable");
    }
    {
        FakeServer server(
            Script("220 hi\r\n", {"500 no EHLO\r\n", "501 Syntax: HELO hostname\r\n"}));
        EXPECT_EQ(Smtp(server).detail, Prefix(server) + "Failed:Syntax: HELO hostname");
    }
}

TEST(SmtpCheck, NeverAuthenticatesSoAWrongPasswordStillPasses) {
    FakeServer server(Script("220 hi\r\n", {"250-hi\r\n250 AUTH LOGIN PLAIN\r\n"}));
    const CheckResult r = Smtp(server, {"user", "wrong password"});
    EXPECT_TRUE(r.passed);
    for (const auto& line : server.received()) {
        EXPECT_EQ(line.find("AUTH"), std::string::npos) << line;
    }
}

TEST(SmtpCheck, AClosedPortFailsWithTheConnectError) {
    int port;
    {
        FakeServer gone([](FakeConnection&) {});
        port = gone.port();
    }
    CheckSettings s;
    s.host = "127.0.0.1";
    s.port = port;
    const CheckResult r = test::RunCheck(std::make_unique<ThreadSMTPCheck>(s, Credentials{}));
    EXPECT_FALSE(r.passed);
    EXPECT_EQ(r.detail.rfind("[127.0.0.1:" + std::to_string(port) + "] Failed:Cannot connect", 0),
              0u)
        << r.detail;
    EXPECT_NE(r.detail.find("Connection refused"), std::string::npos);
}

CheckResult Pop3(const FakeServer& server, Credentials credentials) {
    return test::RunCheck(std::make_unique<ThreadPOP3Check>(At(server), credentials));
}

TEST(Pop3Check, LogsInWithUserAndPass) {
    FakeServer server(Script("+OK POP3 ready\r\n", {"+OK\r\n", "+OK logged in\r\n"}));
    const CheckResult r = Pop3(server, {"bob", "s3cret"});
    EXPECT_EQ(r.detail, Prefix(server) + "Passed");
    EXPECT_EQ(server.received(), (std::vector<std::string>{"USER bob", "PASS s3cret", "QUIT"}));
}

TEST(Pop3Check, ARejectedPasswordFailsWithTheWordsAfterErr) {
    FakeServer server(
        Script("+OK ready\r\n", {"+OK\r\n", "-ERR [AUTH] Authentication failed.\r\n"}));
    EXPECT_EQ(Pop3(server, {"bob", "bad"}).detail,
              Prefix(server) + "Failed:[AUTH] Authentication failed.");
}

TEST(Pop3Check, EmptyCredentialsAreSentAsTheyAre) {
    FakeServer server(Script("+OK ready\r\n", {"-ERR no such user\r\n"}));
    const CheckResult r = Pop3(server, {"", ""});
    EXPECT_EQ(r.detail, Prefix(server) + "Failed:no such user");
    EXPECT_EQ(server.received().at(0), "USER ");
}

TEST(Pop3Check, ALineBreakInACredentialIsRefusedBeforeConnecting) {
    FakeServer server(Script("+OK ready\r\n", {"+OK\r\n", "+OK\r\n", "+OK\r\n"}));
    const CheckResult r = Pop3(server, {"bob", "x\r\nDELE 1"});
    EXPECT_FALSE(r.passed);
    EXPECT_EQ(r.detail,
              Prefix(server) + "Failed:The password holds a line break; nothing was sent");
    EXPECT_EQ(server.connections(), 0);
}

CheckResult Imap(const FakeServer& server, Credentials credentials) {
    return test::RunCheck(std::make_unique<ThreadIMAPCheck>(At(server), credentials));
}

TEST(ImapCheck, PreauthPassesWithoutLogin) {
    FakeServer server(Script("* PREAUTH IMAP4rev1 ready\r\n", {}));
    const CheckResult r = Imap(server, {"bob", "pw"});
    EXPECT_EQ(r.detail, Prefix(server) + "Passed");
    EXPECT_EQ(server.received(), std::vector<std::string>{"C1 LOGOUT"});
}

TEST(ImapCheck, LogsInWithTaggedCommandsPastUntaggedData) {
    FakeServer server(
        Script("* OK [CAPABILITY IMAP4rev1] ready\r\n",
               {"* CAPABILITY IMAP4rev1 IDLE\r\nC1 OK [CAPABILITY IMAP4rev1] done\r\n"}));
    const CheckResult r = Imap(server, {"bob", "two words"});
    EXPECT_EQ(r.detail, Prefix(server) + "Passed");
    EXPECT_EQ(server.received(),
              (std::vector<std::string>{"C1 LOGIN bob \"two words\"", "C2 LOGOUT"}));
}

TEST(ImapCheck, RefusedLoginAndByeFailWithTheirText) {
    {
        FakeServer server(
            Script("* OK ready\r\n", {"C1 NO [AUTHENTICATIONFAILED] Authentication failed.\r\n"}));
        EXPECT_EQ(Imap(server, {"bob", "bad"}).detail,
                  Prefix(server) + "Failed:[AUTHENTICATIONFAILED] Authentication failed.");
    }
    {
        FakeServer server(Script("* BYE too many connections\r\n", {}));
        EXPECT_EQ(Imap(server, {"bob", "pw"}).detail,
                  Prefix(server) + "Failed:too many connections");
    }
}

// A refusal that is only a code leaves nothing after "Failed:".
TEST(MailCheck, RefusalsWithoutWordsLeaveTheErrorTextEmpty) {
    {
        FakeServer server(Script("421\r\n", {}));
        EXPECT_EQ(Smtp(server).detail, Prefix(server) + "Failed:");
    }
    {
        FakeServer server(Script("+OK ready\r\n", {"+OK\r\n", "-ERR\r\n"}));
        EXPECT_EQ(Pop3(server, {"bob", "bad"}).detail, Prefix(server) + "Failed:");
    }
    {
        FakeServer server(Script("* OK ready\r\n", {"C1 BAD\r\n"}));
        EXPECT_EQ(Imap(server, {"bob", "pw"}).detail, Prefix(server) + "Failed:");
    }
    {
        FakeServer server(Script("* BYE\r\n", {}));
        EXPECT_EQ(Imap(server, {"bob", "pw"}).detail, Prefix(server) + "Failed:");
    }
}

// What a server says reaches the terminal, the logs and the alarms: its
// control characters are shown as blanks, and a long answer is cut to
// 1,024 bytes ending in "...".
TEST(MailCheck, ServerTextIsShownWithoutControlsAndCut) {
    std::string flood;
    for (int i = 0; i < 9000; ++i) {
        flood += "554-\x1b[2J\a\bno\r\n";
    }
    FakeServer server(Script(flood + "554 \rFAKE: injected\r\n", {}));
    const std::string detail = Smtp(server).detail;
    EXPECT_EQ(detail.size(), 1024u);
    EXPECT_EQ(detail.rfind(Prefix(server) + "Failed:", 0), 0u) << detail;
    EXPECT_EQ(detail.substr(1021), "...");
    EXPECT_EQ(detail.find_first_of(std::string("\x1b\a\b\r\n\0", 6)), std::string::npos);
}

// The cut never splits a UTF-8 sequence, wherever the sequences fall.
TEST(MailCheck, LongServerTextIsCutBetweenCharacters) {
    for (int shift = 0; shift < 3; ++shift) {
        std::string euros;
        for (int i = 0; i < 400; ++i) {
            euros += "\xe2\x82\xac";
        }
        FakeServer server(Script("554 " + std::string(shift, 'x') + euros + "\r\n", {}));
        const std::string detail = Smtp(server).detail;
        SCOPED_TRACE(shift);
        ASSERT_GE(detail.size(), 1022u);
        EXPECT_LE(detail.size(), 1024u);
        EXPECT_EQ(detail.substr(detail.size() - 3), "...");
        // The last character before "..." is whole: a euro sign or a filler.
        const std::string body = detail.substr(0, detail.size() - 3);
        EXPECT_TRUE(body.ends_with("\xe2\x82\xac") || body.ends_with("x")) << body.substr(1000);
    }
}

TEST(ImapCheck, QuotesWordsThatAreNotAtoms) {
    EXPECT_EQ(net::ImapClient::Quote("bob"), "bob");
    EXPECT_EQ(net::ImapClient::Quote(""), "\"\"");
    EXPECT_EQ(net::ImapClient::Quote("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(net::ImapClient::Quote("x(y)"), "\"x(y)\"");
}

// Servers that misbehave: every check ends within its time limit with a
// detail, whatever the server does.
struct Hostile {
    const char* name;
    FakeServer::Handler handler;
};

class HostileMailServer : public ::testing::TestWithParam<int> {};

std::vector<Hostile> HostileServers() {
    return {
        {"a 10 MB line",
         [](FakeConnection& c) {
             const std::string chunk(1 << 20, 'x');
             c.send("220 ");
             for (int i = 0; i < 10 && !c.stopping(); ++i) {
                 if (!c.send(chunk)) {
                     return;
                 }
             }
             c.waitForClose(std::chrono::seconds(5));
         }},
        {"a reply that never ends",
         [](FakeConnection& c) {
             while (!c.stopping() && c.send("220-more and more\r\n")) {
             }
         }},
        {"one byte per second",
         [](FakeConnection& c) {
             const std::string greeting = "220 slow server\r\n";
             for (char ch : greeting) {
                 if (c.stopping() || !c.send(std::string(1, ch))) {
                     return;
                 }
                 std::this_thread::sleep_for(std::chrono::seconds(1));
             }
         }},
        {"a close in the middle of a reply",
         [](FakeConnection& c) {
             c.send("220-first line\r\n220-second");
             c.close();
         }},
        {"silence", [](FakeConnection& c) { c.waitForClose(std::chrono::seconds(10)); }},
    };
}

TEST_P(HostileMailServer, EveryMailCheckEndsWithinItsTimeout) {
    const Hostile hostile = HostileServers()[static_cast<std::size_t>(GetParam())];
    FakeServer server(hostile.handler);
    constexpr int kTimeout = 2000;
    for (int kind = 0; kind < 3; ++kind) {
        std::unique_ptr<CheckWorkItem> item;
        if (kind == 0) {
            item = std::make_unique<ThreadSMTPCheck>(At(server, kTimeout), Credentials{});
        } else if (kind == 1) {
            item = std::make_unique<ThreadPOP3Check>(At(server, kTimeout), Credentials{"u", "p"});
        } else {
            item = std::make_unique<ThreadIMAPCheck>(At(server, kTimeout), Credentials{"u", "p"});
        }
        const auto start = std::chrono::steady_clock::now();
        const CheckResult r = test::RunCheck(std::move(item));
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(r.statusWord, "Failed") << hostile.name << " kind " << kind;
        EXPECT_EQ(r.detail.rfind(Prefix(server) + "Failed:", 0), 0u) << r.detail;
        EXPECT_GT(r.detail.size(), (Prefix(server) + "Failed:").size()) << "a reason is given";
        EXPECT_LT(took, std::chrono::milliseconds(kTimeout + 1500)) << hostile.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, HostileMailServer, ::testing::Range(0, 5));

// ---------------------------------------------------------------------------
// TLS

CheckSettings WithTls(CheckSettings s, const std::string& mode) {
    s.tlsMode = mode;
    return s;
}

// A server that does not take the upgrade: the check fails with the
// server's refusal and nothing secret has gone over the wire in the clear.
TEST(MailCheckTls, AnUpgradeTheServerRefusesFailsBeforeAnyPasswordIsSent) {
    struct Case {
        const char* name;
        FakeServer::Handler handler;
        std::function<std::unique_ptr<CheckWorkItem>(const CheckSettings&)> make;
        std::string detail;
    };
    const Credentials secret{"bob", "s3cret"};
    FtpCheckRequest ftp;
    ftp.username = "bob";
    ftp.password = "s3cret";
    const Case cases[] = {
        {"SMTP", Script("220 ready\r\n", {"250-hi\r\n250 AUTH PLAIN\r\n"}),
         [&](const CheckSettings& s) { return std::make_unique<ThreadSMTPCheck>(s, secret); },
         "The server does not offer STARTTLS"},
        {"POP3", Script("+OK ready\r\n", {"-ERR not now\r\n", "+OK\r\n", "+OK\r\n"}),
         [&](const CheckSettings& s) { return std::make_unique<ThreadPOP3Check>(s, secret); },
         "The server refused STLS: not now"},
        {"IMAP", Script("* OK ready\r\n", {"C1 BAD unknown command\r\n", "C2 OK\r\n"}),
         [&](const CheckSettings& s) { return std::make_unique<ThreadIMAPCheck>(s, secret); },
         "The server refused STARTTLS: unknown command"},
        {"FTP", Script("220 ready\r\n", {"500 AUTH not understood\r\n", "331 go on\r\n"}),
         [&](const CheckSettings& s) { return std::make_unique<ThreadFTPCheck>(s, ftp); },
         "The server refused AUTH TLS: AUTH not understood"},
    };
    for (const Case& c : cases) {
        FakeServer server(c.handler);
        const CheckResult r = test::RunCheck(c.make(WithTls(At(server), "starttls")));
        EXPECT_EQ(r.detail, Prefix(server) + "Failed:" + c.detail) << c.name;
        ASSERT_TRUE(server.waitUntilIdle());
        for (const std::string& line : server.received()) {
            EXPECT_EQ(line.find("s3cret"), std::string::npos) << c.name << ": " << line;
            EXPECT_EQ(line.find("bob"), std::string::npos) << c.name << ": " << line;
        }
    }
}

TEST(MailCheckTls, AnUnknownSecurityWordSendsNothing) {
    FakeServer server(Script("+OK ready\r\n", {"+OK\r\n", "+OK\r\n"}));
    const CheckResult r = test::RunCheck(
        std::make_unique<ThreadPOP3Check>(WithTls(At(server), "ssl"), Credentials{"bob", "x"}));
    EXPECT_EQ(r.detail, Prefix(server) +
                            "Failed:Unknown security 'ssl' (expected starttls or implicit); "
                            "nothing was sent");
    EXPECT_EQ(server.connections(), 0);
}

// Peers that break the handshake, from the first byte or after the plain
// upgrade: every check over TLS ends "Failed" within its time limit.
class HostileTlsServer : public ::testing::TestWithParam<test::TlsFault> {};

TEST_P(HostileTlsServer, EveryCheckOverTlsEndsWithinItsTimeout) {
    using test::ServerStep;
    constexpr int kTimeout = 2000;
    const Credentials login{"bob", "s3cret"};
    FtpCheckRequest ftp;
    ftp.username = "bob";
    ftp.password = "s3cret";
    struct Case {
        const char* name;
        std::vector<ServerStep> preamble;
        std::string mode;
        std::function<std::unique_ptr<CheckWorkItem>(const CheckSettings&)> make;
    };
    auto smtp = [&](const CheckSettings& s) { return std::make_unique<ThreadSMTPCheck>(s, login); };
    auto pop3 = [&](const CheckSettings& s) { return std::make_unique<ThreadPOP3Check>(s, login); };
    auto imap = [&](const CheckSettings& s) { return std::make_unique<ThreadIMAPCheck>(s, login); };
    auto ftps = [&](const CheckSettings& s) { return std::make_unique<ThreadFTPCheck>(s, ftp); };
    const Case cases[] = {
        {"SMTP STARTTLS",
         {{"", "220 ready\r\n"},
          {"EHLO", "250-hi\r\n250 STARTTLS\r\n"},
          {"STARTTLS", "220 go ahead\r\n"}},
         "starttls",
         smtp},
        {"SMTPS", {}, "implicit", smtp},
        {"POP3 STLS", {{"", "+OK ready\r\n"}, {"STLS", "+OK begin\r\n"}}, "starttls", pop3},
        {"POP3S", {}, "implicit", pop3},
        {"IMAP STARTTLS",
         {{"", "* OK ready\r\n"}, {"C1 STARTTLS", "C1 OK begin\r\n"}},
         "starttls",
         imap},
        {"IMAPS", {}, "implicit", imap},
        {"FTP AUTH TLS",
         {{"", "220 ready\r\n"}, {"AUTH TLS", "234 go ahead\r\n"}},
         "starttls",
         ftps},
        {"FTPS", {}, "implicit", ftps},
    };
    // All at once: each on a server of its own, all within one time limit.
    std::vector<std::unique_ptr<FakeServer>> servers;
    std::vector<std::unique_ptr<CheckWorkItem>> items;
    for (const Case& c : cases) {
        servers.push_back(std::make_unique<FakeServer>(test::HostileTls(c.preamble, GetParam())));
        CheckSettings settings = WithTls(At(*servers.back(), kTimeout), c.mode);
        settings.serviceKey = c.name;
        items.push_back(c.make(settings));
    }
    const auto start = std::chrono::steady_clock::now();
    const std::vector<CheckResult> results = test::RunChecks(std::move(items));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kTimeout + 1500));
    ASSERT_EQ(results.size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        const FakeServer& server = *servers[i];
        const auto r = std::find_if(results.begin(), results.end(),
                                    [&](const CheckResult& x) { return x.serviceKey == c.name; });
        ASSERT_NE(r, results.end()) << c.name;
        EXPECT_EQ(r->statusWord, "Failed") << c.name;
        EXPECT_EQ(r->detail.rfind(Prefix(server) + "Failed:", 0), 0u) << c.name << r->detail;
        EXPECT_GT(r->detail.size(), (Prefix(server) + "Failed:").size()) << c.name;
        ASSERT_TRUE(server.waitUntilIdle());
        const std::vector<std::string> seen = server.received();
        // The client's plain lines and its ClientHello, nothing after them.
        const auto lines =
            std::count_if(c.preamble.begin(), c.preamble.end(),
                          [](const ServerStep& step) { return !step.expect.empty(); });
        ASSERT_EQ(seen.size(), static_cast<std::size_t>(lines) + 1) << c.name;
        EXPECT_EQ(seen.back(), "<ClientHello>") << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, HostileTlsServer,
                         ::testing::Values(test::TlsFault::Stall, test::TlsFault::Garbage,
                                           test::TlsFault::CloseMidHandshake));

// Reading a full trust store costs tens of milliseconds of CPU: a check
// over TLS that pays it every time costs that much before the server says a
// word. The store is read for the first check after SSL_CERT_FILE names it,
// and the checks after that start from it.
TEST(MailCheckTls, TheTrustStoreIsReadOnceNotForEveryCheck) {
    const char* const bundle = "/etc/ssl/certs/ca-certificates.crt";
    if (::access(bundle, R_OK) != 0) {
        GTEST_SKIP() << "no system trust store at " << bundle;
    }
    // A name no earlier check used, so that this test's first check reads it.
    test::TempDir dir;
    const std::string named = dir.file("store.pem");
    ASSERT_EQ(::symlink(bundle, named.c_str()), 0);
    const test::ScopedEnv store("SSL_CERT_FILE", named);
    FakeServer silent([](FakeConnection& c) { c.waitForClose(); });
    const auto check = [&silent] {
        const double before = test::ThreadCpuMs();
        ThreadIMAPCheck item(WithTls(At(silent, 50), "implicit"), {"bob", "x"});
        item.run();
        return test::ThreadCpuMs() - before;
    };
    const double first = check();
    constexpr int kLater = 5;
    double later = 0;
    for (int i = 0; i < kLater; ++i) {
        later += check();
    }
    EXPECT_LT(later / kLater * 4, first)
        << "first check " << first << " ms CPU, later ones " << later / kLater << " ms each";
}

// ---------------------------------------------------------------------------
// Response time

// Every kind measures its own run: against servers that answer after
// 500 ms, the time is those 500 ms and what the exchange adds; run one at a
// time, a check that waited in the queue for the others counts none of
// its wait.
TEST(CheckResponseTime, EveryKindMeasuresItsOwnRunWithoutItsWaitInTheQueue) {
    using namespace std::chrono_literals;
    const auto late = [](FakeServer::Handler then) {
        return [then](FakeConnection& c) {
            c.pause(500ms);
            then(c);
        };
    };
    test::FakeHttpServer web(
        test::FakeHttpServer::Delayed(test::HttpResponse("HTTP/1.1 200 OK"), 500ms));
    FakeServer smtp(late(Script("220 ready\r\n", {"250 mail.test\r\n"})));
    FakeServer pop3(late(Script("+OK ready\r\n", {"+OK\r\n", "+OK in\r\n"})));
    FakeServer imap(late(Script("* OK ready\r\n", {"C1 OK in\r\n"})));
    FakeServer ftp(late(test::Ftp()));
    const Credentials login{"bob", "pw"};
    CheckSettings url = At(smtp);
    url.host = web.url("/");
    url.port = web.port();
    UrlCheckRequest get;
    get.method = "Get";
    CheckSettings ping = At(smtp);
    ping.port = 0;
    std::vector<std::unique_ptr<CheckWorkItem>> items;
    items.push_back(std::make_unique<ThreadURLCheck>(url, get));
    items.push_back(std::make_unique<ThreadSMTPCheck>(At(smtp), login));
    items.push_back(std::make_unique<ThreadPOP3Check>(At(pop3), login));
    items.push_back(std::make_unique<ThreadIMAPCheck>(At(imap), login));
    FtpCheckRequest ftpLogin;
    ftpLogin.username = "bob";
    ftpLogin.password = "pw";
    items.push_back(std::make_unique<ThreadFTPCheck>(At(ftp), ftpLogin));
    items.push_back(std::make_unique<ThreadPingCheck>(ping));

    const std::vector<CheckResult> results = test::RunChecks(std::move(items), 60s, 1);
    ASSERT_EQ(results.size(), 6u);
    for (const CheckResult& r : results) {
        EXPECT_TRUE(r.passed) << r.kind << " " << r.detail;
        ASSERT_TRUE(r.responseTime.has_value()) << r.kind;
        const auto ms = std::chrono::duration<double, std::milli>(*r.responseTime).count();
        std::cout << r.kind << " response " << ms << " ms\n";
        if (r.kind == "Ping") {
            EXPECT_LT(*r.responseTime, 500ms) << "loopback answers at once";
        } else {
            EXPECT_GE(*r.responseTime, 500ms) << r.kind;
            EXPECT_LT(*r.responseTime, 600ms) << r.kind << ": its wait in the queue counted";
        }
    }
}

}  // namespace
}  // namespace vantor::engine
