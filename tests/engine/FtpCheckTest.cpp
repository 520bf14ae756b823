// SPDX-License-Identifier: GPL-3.0-or-later
// The FTP check and its proxy conventions against scripted fake servers.
#include <gtest/gtest.h>

#include <map>

#include "engine/ThreadFTPCheck.h"
#include "support/FakeServer.h"
#include "support/RunCheck.h"
#include "support/ScriptedServers.h"

namespace vantor::engine {
namespace {

using test::FakeConnection;
using test::FakeServer;
using test::Ftp;

CheckSettings Direct(const FakeServer& server) {
    CheckSettings s;
    s.serviceKey = "FTP:127.0.0.1:21";
    s.host = "127.0.0.1";
    s.port = server.port();
    s.timeoutMs = 3000;
    return s;
}

std::string Prefix(const FakeServer& server) {
    return "[127.0.0.1:" + std::to_string(server.port()) + "] ";
}

FtpCheckRequest Req(std::string user, std::string password, std::string proxyHost = "",
                    int proxyPort = 0, std::string proxyType = "", std::string proxyUser = "",
                    std::string proxyPassword = "") {
    return FtpCheckRequest{
        std::move(user),      std::move(password),  std::move(proxyHost),    proxyPort,
        std::move(proxyType), std::move(proxyUser), std::move(proxyPassword)};
}

CheckResult RunFtp(const CheckSettings& settings, const FtpCheckRequest& request) {
    return test::RunCheck(std::make_unique<ThreadFTPCheck>(settings, request));
}

TEST(FtpCheck, LogsInSetsTheTypeAndAsksForTheSystemWithoutQuit) {
    FakeServer server(Ftp());
    const CheckResult r = RunFtp(Direct(server), Req("anna", "pw"));
    EXPECT_EQ(r.detail, Prefix(server) + "Passed");
    EXPECT_EQ(r.kind, "FTP");
    EXPECT_EQ(server.received(),
              (std::vector<std::string>{"USER anna", "PASS pw", "TYPE I", "SYST"}));
}

TEST(FtpCheck, A230ToUserNeedsNoPassword) {
    FakeServer server(Ftp("230 Already logged in"));
    EXPECT_TRUE(RunFtp(Direct(server), Req("anna", "pw")).passed);
    EXPECT_EQ(server.received(), (std::vector<std::string>{"USER anna", "TYPE I", "SYST"}));
}

TEST(FtpCheck, SystAcceptsOnly200215And500) {
    {
        FakeServer server(Ftp("331 pw", "502 Command not implemented"));
        EXPECT_EQ(RunFtp(Direct(server), Req("a", "b")).detail,
                  Prefix(server) + "Failed:Command not implemented");
    }
    {
        FakeServer server(Ftp("331 pw", "500 Unknown command"));
        EXPECT_TRUE(RunFtp(Direct(server), Req("a", "b")).passed);
    }
}

TEST(FtpCheck, RefusedLoginFailsWithTheReplyText) {
    FakeServer server(Ftp("331 pw", "215 UNIX", "530 Login incorrect."));
    EXPECT_EQ(RunFtp(Direct(server), Req("a", "bad")).detail,
              Prefix(server) + "Failed:Login incorrect.");
}

// A refusal that is only a code leaves nothing after "Failed:".
TEST(FtpCheck, RefusalWithoutWordsLeavesTheErrorTextEmpty) {
    {
        FakeServer server(Ftp("331 pw", "215 UNIX", "530"));
        EXPECT_EQ(RunFtp(Direct(server), Req("a", "bad")).detail, Prefix(server) + "Failed:");
    }
    {
        FakeServer server([](FakeConnection& c) {
            c.send("421 \r\n");
            c.waitForClose();
        });
        EXPECT_EQ(RunFtp(Direct(server), Req("a", "b")).detail, Prefix(server) + "Failed:");
    }
}

struct Convention {
    const char* type;
    bool proxyUser;
    std::vector<std::string> dialogue;
};

class FtpProxyConvention : public ::testing::TestWithParam<Convention> {};

TEST_P(FtpProxyConvention, SendsExactlyItsDialogueToTheProxy) {
    const Convention& c = GetParam();
    FakeServer proxy(Ftp());
    CheckSettings s;
    s.host = "ftp.example.org";  // never resolved: the connection goes to the proxy
    s.port = 21;
    s.timeoutMs = 3000;
    const FtpCheckRequest request = Req("anna", "pw", "127.0.0.1", proxy.port(), c.type,
                                        c.proxyUser ? "puser" : "", c.proxyUser ? "ppass" : "");
    const CheckResult r = RunFtp(s, request);
    EXPECT_EQ(r.detail, "[ftp.example.org:21] Passed") << "the detail names the FTP server";
    std::vector<std::string> expected = c.dialogue;
    expected.push_back("TYPE I");
    expected.push_back("SYST");
    EXPECT_EQ(proxy.received(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Conventions, FtpProxyConvention,
    ::testing::Values(
        Convention{"fpcmUserSite",
                   true,
                   {"USER puser", "PASS ppass", "USER anna@ftp.example.org", "PASS pw"}},
        Convention{"fpcmUserSite", false, {"USER anna@ftp.example.org", "PASS pw"}},
        Convention{"fpcmSite",
                   true,
                   {"USER puser", "PASS ppass", "SITE ftp.example.org", "USER anna", "PASS pw"}},
        Convention{"fpcmSite", false, {"SITE ftp.example.org", "USER anna", "PASS pw"}},
        Convention{"fpcmOpen",
                   true,
                   {"USER puser", "PASS ppass", "OPEN ftp.example.org", "USER anna", "PASS pw"}},
        Convention{"fpcmOpen", false, {"OPEN ftp.example.org", "USER anna", "PASS pw"}},
        Convention{"fpcmUserPass", true, {"USER anna@puser@ftp.example.org", "PASS pw@ppass"}},
        Convention{"fpcmUserPass", false, {"USER anna@@ftp.example.org", "PASS pw"}},
        Convention{"fpcmTransparent", true, {"USER puser", "PASS ppass", "USER anna", "PASS pw"}},
        Convention{"fpcmTransparent", false, {"USER anna", "PASS pw"}}),
    [](const ::testing::TestParamInfo<Convention>& info) {
        return std::string(info.param.type).substr(4) +
               (info.param.proxyUser ? "WithProxyUser" : "");
    });

TEST(FtpCheck, TheHttpProxyConventionIsNotSupported) {
    FakeServer proxy(Ftp());
    CheckSettings s;
    s.host = "ftp.example.org";
    s.port = 21;
    const CheckResult r =
        RunFtp(s, Req("anna", "pw", "127.0.0.1", proxy.port(), "fpcmHttpProxyWithFtp"));
    EXPECT_EQ(r.detail, "[ftp.example.org:21] Failed:Command not supported.");
    EXPECT_TRUE(proxy.received().empty());
}

TEST(FtpCheck, AProxyWithoutAPortOrAKnownTypeIsNotUsed) {
    FakeServer server(Ftp());
    // Port 0: the proxy settings are ignored and the server is reached directly.
    EXPECT_TRUE(
        RunFtp(Direct(server), Req("anna", "pw", "127.0.0.2", 0, "fpcmUserSite", "p", "q")).passed);
    EXPECT_EQ(server.received().front(), "USER anna");
    // An unknown type name means no proxy convention: straight to the server.
    FakeServer other(Ftp());
    EXPECT_TRUE(RunFtp(Direct(other), Req("anna", "pw", "127.0.0.1", 1, "fpcmBogus")).passed);
    EXPECT_EQ(other.received().front(), "USER anna");
}

TEST(FtpCheck, ALineBreakInALoginValueSendsNothing) {
    FakeServer server(Ftp());
    const CheckResult r = RunFtp(Direct(server), Req("anna\r\nDELE x", "pw"));
    EXPECT_FALSE(r.passed);
    EXPECT_EQ(server.connections(), 0);
}

TEST(FtpCheck, ASilentServerFailsAfterTheTimeout) {
    FakeServer server([](FakeConnection& c) { c.waitForClose(std::chrono::seconds(10)); });
    CheckSettings s = Direct(server);
    s.timeoutMs = 1000;
    const auto start = std::chrono::steady_clock::now();
    const CheckResult r = RunFtp(s, Req("a", "b"));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(r.detail, Prefix(server) + "Failed:Timed out waiting for the server");
    EXPECT_GE(took, std::chrono::milliseconds(900));
    EXPECT_LT(took, std::chrono::milliseconds(2500));
}

TEST(CheckSettings, ATimeoutOfZeroOrBelowMeans5000Ms) {
    CheckSettings s;
    s.timeoutMs = 0;
    EXPECT_EQ(ThreadFTPCheck(s, Req("", "")).timeoutMs(), 5000);
    s.timeoutMs = -3;
    EXPECT_EQ(ThreadFTPCheck(s, Req("", "")).timeoutMs(), 5000);
    s.timeoutMs = 1;
    EXPECT_EQ(ThreadFTPCheck(s, Req("", "")).timeoutMs(), 1);
    s.retrySetting = 1;
    EXPECT_EQ(ThreadFTPCheck(s, Req("", "")).result().retryFlag, 1);
}

}  // namespace
}  // namespace vantor::engine
