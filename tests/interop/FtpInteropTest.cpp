// SPDX-License-Identifier: GPL-3.0-or-later
// The FTP check against vsftpd, started on 127.0.0.1 by the test with a
// local account of its own.
#include <gtest/gtest.h>

#include <iostream>
#include <memory>

#include "InteropChecks.h"
#include "InteropServers.h"
#include "ServerSuite.h"
#include "engine/ThreadFTPCheck.h"
#include "support/RunCheck.h"
#include "support/TempDir.h"
#include "support/TestCertificates.h"

namespace vantor::interop {
namespace {

using engine::CheckResult;
using engine::FtpCheckRequest;

CheckResult RunFtpCheck(int port, const std::string& user, const std::string& password) {
    FtpCheckRequest request;
    request.username = user;
    request.password = password;
    request.proxyType = "fpcmNone";
    return test::RunCheck(
        std::make_unique<engine::ThreadFTPCheck>(Settings("127.0.0.1", port), request));
}

class VsftpdFtpCheck : public ServerSuite<VsftpdFtpCheck> {
public:
    static void StartServers(const std::string& dir) {
        s_account = std::make_unique<FtpAccount>();
        s_vsftpd = std::make_unique<VsftpdServer>(dir);
    }
    static void StopServers() {
        s_vsftpd.reset();
        s_account.reset();
    }
    static void ShowServerLogs() {
        if (s_vsftpd) {
            std::cout << "vsftpd log:\n" << s_vsftpd->log() << s_vsftpd->process().logTail();
        }
    }

protected:
    int port() const { return s_vsftpd->port(); }
    const std::string& password() const { return s_account->password(); }
    bool logShows(const std::string& text) {
        return EventuallyContains([] { return s_vsftpd->log(); }, text);
    }

    static inline std::unique_ptr<FtpAccount> s_account;
    static inline std::unique_ptr<VsftpdServer> s_vsftpd;
};

TEST_F(VsftpdFtpCheck, LoginTypeAndSystPassWithTheRightPassword) {
    const CheckResult result = RunFtpCheck(port(), FtpAccount::kUser, password());
    EXPECT_TRUE(result.passed);
    EXPECT_EQ(result.kind, "FTP");
    EXPECT_EQ(result.statusWord, "Passed");
    EXPECT_EQ(result.detail, Prefix("127.0.0.1", port()) + "Passed");
    // vsftpd's side of the exchange: 220, USER/331, PASS/230, TYPE I/200,
    // SYST/215.
    const std::string client = "Client \"127.0.0.1\", ";
    EXPECT_TRUE(logShows("FTP response: " + client + "\"220 (vsFTPd 3"));
    EXPECT_TRUE(logShows("FTP command: " + client + "\"USER vantorftp\""));
    EXPECT_TRUE(logShows("FTP response: " + client + "\"331 Please specify the password.\""));
    EXPECT_TRUE(logShows("[vantorftp] OK LOGIN: " + client.substr(0, client.size() - 2)));
    EXPECT_TRUE(logShows("FTP command: " + client + "\"TYPE I\""));
    EXPECT_TRUE(logShows("FTP response: " + client + "\"200 Switching to Binary mode.\""));
    EXPECT_TRUE(logShows("FTP command: " + client + "\"SYST\""));
    EXPECT_TRUE(logShows("FTP response: " + client + "\"215 UNIX Type: L8\""));
}

TEST_F(VsftpdFtpCheck, WrongPasswordFailsWithTheServersWords) {
    const CheckResult result = RunFtpCheck(port(), FtpAccount::kUser, "not-the-password");
    EXPECT_FALSE(result.passed);
    EXPECT_EQ(result.statusWord, "Failed");
    // vsftpd said "530 Login incorrect."
    EXPECT_EQ(result.detail, Prefix("127.0.0.1", port()) + "Failed:Login incorrect.");
    EXPECT_TRUE(logShows("[vantorftp] FAIL LOGIN: Client \"127.0.0.1\""));
}

TEST_F(VsftpdFtpCheck, PortWithoutServerFailsToConnect) {
    const int closed = FreePort();
    const CheckResult result = RunFtpCheck(closed, FtpAccount::kUser, password());
    EXPECT_FALSE(result.passed);
    EXPECT_EQ(result.detail, Prefix("127.0.0.1", closed) +
                                 "Failed:Cannot connect to 127.0.0.1 port " +
                                 std::to_string(closed) + ": Connection refused");
}

// vsftpd with explicit and with implicit TLS.
class VsftpdTls : public ServerSuite<VsftpdTls> {
public:
    static void StartServers(const std::string& dir) {
        TrustTestCa();
        s_account = std::make_unique<FtpAccount>();
        MakeDir(dir + "/explicit");
        MakeDir(dir + "/implicit");
        VsftpdOptions options;
        options.tls = test::SharedTestCertificates()[test::CertKind::Valid];
        s_explicit = std::make_unique<VsftpdServer>(dir + "/explicit", options);
        options.implicitTls = true;
        s_implicit = std::make_unique<VsftpdServer>(dir + "/implicit", options);
    }
    static void StopServers() {
        s_explicit.reset();
        s_implicit.reset();
        s_account.reset();
    }
    static void ShowServerLogs() {
        for (auto* server : {s_explicit.get(), s_implicit.get()}) {
            if (server != nullptr) {
                std::cout << "vsftpd log:\n" << server->log() << server->process().logTail();
            }
        }
    }

protected:
    static CheckResult Check(int port, const std::string& mode, const std::string& password) {
        FtpCheckRequest request;
        request.username = FtpAccount::kUser;
        request.password = password;
        return test::RunCheck(std::make_unique<engine::ThreadFTPCheck>(
            TlsSettings("127.0.0.1", port, mode), request));
    }

    static inline std::unique_ptr<FtpAccount> s_account;
    static inline std::unique_ptr<VsftpdServer> s_explicit;
    static inline std::unique_ptr<VsftpdServer> s_implicit;
};

// vsftpd that refuses logins in the clear: AUTH TLS, the login, PBSZ 0
// and PROT P pass; without TLS the same login is refused.
TEST_F(VsftpdTls, AuthTlsAndImplicitTlsLogInAndProtectTheData) {
    const int explicitPort = s_explicit->port();
    EXPECT_EQ(Check(explicitPort, "starttls", s_account->password()).detail,
              Prefix("127.0.0.1", explicitPort) + "Passed");
    EXPECT_EQ(
        Check(explicitPort, "", s_account->password()).detail,
        Prefix("127.0.0.1", explicitPort) + "Failed:Non-anonymous sessions must use encryption.");
    const int implicitPort = s_implicit->port();
    EXPECT_EQ(Check(implicitPort, "implicit", s_account->password()).detail,
              Prefix("127.0.0.1", implicitPort) + "Passed");
    for (auto* server : {s_explicit.get(), s_implicit.get()}) {
        const auto log = [server] { return server->log(); };
        EXPECT_TRUE(EventuallyContains(log, "OK LOGIN"));
        EXPECT_TRUE(EventuallyContains(log, "\"PROT P\""));
        EXPECT_TRUE(EventuallyContains(log, "\"200 PROT now Private.\""));
    }
    const CheckResult wrong = Check(implicitPort, "implicit", "not-the-password");
    EXPECT_EQ(wrong.detail, Prefix("127.0.0.1", implicitPort) + "Failed:Login incorrect.");
}

}  // namespace
}  // namespace vantor::interop
