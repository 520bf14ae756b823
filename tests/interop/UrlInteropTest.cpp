// SPDX-License-Identifier: GPL-3.0-or-later
// The URL check against nginx, directly and through tinyproxy, both started
// on 127.0.0.1 by the test.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <memory>

#include "InteropChecks.h"
#include "InteropServers.h"
#include "ServerSuite.h"
#include "engine/ThreadMailCheck.h"
#include "engine/ThreadURLCheck.h"
#include "support/RunCheck.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"
#include "support/TestCertificates.h"

namespace vantor::interop {
namespace {

using engine::CheckResult;
using engine::UrlCheckRequest;

CheckResult RunUrlCheck(const std::string& url, int port, const UrlCheckRequest& request) {
    return test::RunCheck(std::make_unique<engine::ThreadURLCheck>(
        Settings(engine::CompleteUrl(url), port), request));
}

UrlCheckRequest Get() {
    UrlCheckRequest request;
    request.method = "Get";
    return request;
}

std::size_t CountLines(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

class NginxUrlCheck : public ServerSuite<NginxUrlCheck> {
public:
    static void StartServers(const std::string& dir) {
        s_nginx = std::make_unique<NginxServer>(dir);
    }
    static void StopServers() { s_nginx.reset(); }
    static void ShowServerLogs() {
        if (s_nginx) {
            std::cout << "nginx access log:\n"
                      << s_nginx->accessLog() << s_nginx->process().logTail();
        }
    }

protected:
    NginxServer& nginx() { return *s_nginx; }

    static inline std::unique_ptr<NginxServer> s_nginx;
};

TEST_F(NginxUrlCheck, PagePassesWithGetAndWithTheDefaultHead) {
    const std::string url = nginx().url("/ok.html");
    const CheckResult get = RunUrlCheck(url, nginx().port(), Get());
    EXPECT_TRUE(get.passed);
    EXPECT_EQ(get.statusWord, "Passed");
    EXPECT_EQ(get.kind, "URL");
    EXPECT_EQ(get.host, url);
    EXPECT_EQ(get.detail, Prefix(url, nginx().port()) + "HTTP/1.1 200 OK");
    EXPECT_TRUE(
        EventuallyContains([&] { return nginx().accessLog(); }, "GET /ok.html HTTP/1.1 200"));

    // No method stored: HEAD.
    const CheckResult head = RunUrlCheck(url, nginx().port(), UrlCheckRequest{});
    EXPECT_TRUE(head.passed);
    EXPECT_EQ(head.detail, Prefix(url, nginx().port()) + "HTTP/1.1 200 OK");
    EXPECT_TRUE(
        EventuallyContains([&] { return nginx().accessLog(); }, "HEAD /ok.html HTTP/1.1 200"));
}

TEST_F(NginxUrlCheck, UrlWithoutSchemeOrPortUsesTheServicesPort) {
    // "127.0.0.1/ok.html" is completed to http:// and sent to the port set
    // for the service.
    const std::string url = engine::CompleteUrl("127.0.0.1/ok.html");
    ASSERT_EQ(url, "http://127.0.0.1/ok.html");
    const CheckResult result = RunUrlCheck(url, nginx().port(), Get());
    EXPECT_TRUE(result.passed) << result.detail;
    EXPECT_EQ(result.detail, Prefix(url, nginx().port()) + "HTTP/1.1 200 OK");
}

TEST_F(NginxUrlCheck, PermanentAndTemporaryRedirectsAreFollowedToThePage) {
    for (const char* path : {"/moved", "/found"}) {
        SCOPED_TRACE(path);
        const std::string url = nginx().url(path);
        const CheckResult result = RunUrlCheck(url, nginx().port(), Get());
        EXPECT_TRUE(result.passed);
        EXPECT_EQ(result.detail, Prefix(url, nginx().port()) + "HTTP/1.1 200 OK");
    }
    // Each redirect was answered as such and the page was asked for after it.
    EXPECT_TRUE(EventuallyContains(
        [&] { return nginx().accessLog(); },
        "GET /moved HTTP/1.1 301 via=\"-\"\nGET /ok.html HTTP/1.1 200 via=\"-\"\n"
        "GET /found HTTP/1.1 302 via=\"-\"\nGET /ok.html HTTP/1.1 200 via=\"-\"\n"));
}

TEST_F(NginxUrlCheck, MissingPageFailsWithItsStatusLine) {
    const std::string url = nginx().url("/missing.html");
    const CheckResult result = RunUrlCheck(url, nginx().port(), Get());
    EXPECT_FALSE(result.passed);
    EXPECT_EQ(result.statusWord, "Failed");
    EXPECT_EQ(result.detail,
              Prefix(url, nginx().port()) + "HTTP/1.1 404 Not Found:HTTP/1.1 404 Not Found");
}

TEST_F(NginxUrlCheck, BasicAuthPassesWithTheRightCredentialsAlsoAfterARedirect) {
    UrlCheckRequest request = Get();
    request.username = NginxServer::kUser;
    request.password = NginxServer::kPassword;
    for (const char* path : {"/private/ok.html", "/private/moved"}) {
        SCOPED_TRACE(path);
        const std::string url = nginx().url(path);
        const CheckResult result = RunUrlCheck(url, nginx().port(), request);
        EXPECT_TRUE(result.passed);
        EXPECT_EQ(result.detail, Prefix(url, nginx().port()) + "HTTP/1.1 200 OK");
    }
    // The redirect stays on the same host and port: the credentials go along.
    EXPECT_TRUE(EventuallyContains([&] { return nginx().accessLog(); },
                                   "GET /private/moved HTTP/1.1 302 via=\"-\"\n"
                                   "GET /private/ok.html HTTP/1.1 200 via=\"-\"\n"));
}

TEST_F(NginxUrlCheck, BasicAuthFailsWithAWrongOrMissingPassword) {
    const std::string url = nginx().url("/private/ok.html");
    const std::string refused =
        Prefix(url, nginx().port()) + "HTTP/1.1 401 Unauthorized:HTTP/1.1 401 Unauthorized";

    UrlCheckRequest wrong = Get();
    wrong.username = NginxServer::kUser;
    wrong.password = "not-the-password";
    const CheckResult withWrong = RunUrlCheck(url, nginx().port(), wrong);
    EXPECT_FALSE(withWrong.passed);
    EXPECT_EQ(withWrong.detail, refused);

    const CheckResult withNone = RunUrlCheck(url, nginx().port(), Get());
    EXPECT_FALSE(withNone.passed);
    EXPECT_EQ(withNone.detail, refused);
}

TEST_F(NginxUrlCheck, PortWithoutServerFailsToConnect) {
    const int port = FreePort();
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/ok.html";
    const CheckResult result = RunUrlCheck(url, port, Get());
    EXPECT_FALSE(result.passed);
    EXPECT_EQ(result.statusWord, "Failed");
    // No status line; libcurl's words follow the colon.
    const std::string start = Prefix(url, port) + ":";
    EXPECT_EQ(result.detail.substr(0, start.size()), start) << result.detail;
    EXPECT_NE(result.detail.find("Failed to connect to 127.0.0.1 port " + std::to_string(port)),
              std::string::npos)
        << result.detail;
}

class TinyproxyUrlCheck : public ServerSuite<TinyproxyUrlCheck> {
public:
    static void StartServers(const std::string& dir) {
        s_nginx = std::make_unique<NginxServer>(dir);
        s_proxy = std::make_unique<TinyproxyServer>(dir);
    }
    static void StopServers() {
        s_proxy.reset();
        s_nginx.reset();
    }
    static void ShowServerLogs() {
        if (s_nginx && s_proxy) {
            std::cout << "nginx access log:\n"
                      << s_nginx->accessLog() << s_proxy->process().logTail();
        }
    }

protected:
    UrlCheckRequest viaProxy(const std::string& user, const std::string& password) {
        UrlCheckRequest request = Get();
        request.proxyHost = "127.0.0.1";
        request.proxyPort = s_proxy->port();
        request.proxyUsername = user;
        request.proxyPassword = password;
        return request;
    }

    NginxServer& nginx() { return *s_nginx; }

    static inline std::unique_ptr<NginxServer> s_nginx;
    static inline std::unique_ptr<TinyproxyServer> s_proxy;
};

TEST_F(TinyproxyUrlCheck, RightProxyCredentialsReachThePage) {
    const std::string url = nginx().url("/ok.html");
    const CheckResult result = RunUrlCheck(
        url, nginx().port(), viaProxy(TinyproxyServer::kUser, TinyproxyServer::kPassword));
    EXPECT_TRUE(result.passed);
    EXPECT_EQ(result.detail, Prefix(url, nginx().port()) + "HTTP/1.1 200 OK");
    // tinyproxy names itself in the Via header of what it forwards.
    EXPECT_TRUE(EventuallyContains([&] { return nginx().accessLog(); },
                                   "GET /ok.html HTTP/1.1 200 via=\"1.1 "));
    EXPECT_NE(nginx().accessLog().find("(tinyproxy/"), std::string::npos);
}

TEST_F(TinyproxyUrlCheck, WrongOrMissingProxyPasswordIsRefusedByTheProxy) {
    const std::string url = nginx().url("/ok.html");
    const std::size_t linesBefore = CountLines(nginx().accessLog());

    // tinyproxy 1.11 answers a wrong password with 401 and missing
    // credentials with 407.
    const CheckResult wrong =
        RunUrlCheck(url, nginx().port(), viaProxy(TinyproxyServer::kUser, "not-the-password"));
    EXPECT_FALSE(wrong.passed);
    EXPECT_EQ(wrong.detail,
              Prefix(url, nginx().port()) + "HTTP/1.0 401 Unauthorized:HTTP/1.0 401 Unauthorized");

    const CheckResult none = RunUrlCheck(url, nginx().port(), viaProxy("", ""));
    EXPECT_FALSE(none.passed);
    EXPECT_EQ(none.detail, Prefix(url, nginx().port()) +
                               "HTTP/1.0 407 Proxy Authentication Required:"
                               "HTTP/1.0 407 Proxy Authentication Required");

    // Neither request got past the proxy.
    EXPECT_EQ(CountLines(nginx().accessLog()), linesBefore);
}

// nginx over TLS, one port per certificate kind.
class NginxHttps : public ServerSuite<NginxHttps> {
public:
    static void StartServers(const std::string& dir) {
        TrustTestCa();
        s_nginx =
            std::make_unique<NginxServer>(dir, NginxOptions{test::SharedTestCertificates().all()});
    }
    static void StopServers() { s_nginx.reset(); }
    static void ShowServerLogs() {
        if (s_nginx) {
            std::cout << s_nginx->process().logTail();
        }
    }

protected:
    static CheckResult Check(test::CertKind kind, bool verify = true, int expiryDays = 14,
                             const std::string& host = "127.0.0.1") {
        const int port = s_nginx->httpsPort(kind);
        const std::string url = "https://" + host + ":" + std::to_string(port) + "/ok.html";
        return test::RunCheck(std::make_unique<engine::ThreadURLCheck>(
            TlsSettings(url, port, "", verify, expiryDays), Get()));
    }
    static std::string PrefixOf(test::CertKind kind, const std::string& host = "127.0.0.1") {
        const int port = s_nginx->httpsPort(kind);
        return Prefix("https://" + host + ":" + std::to_string(port) + "/ok.html", port);
    }

    static inline std::unique_ptr<NginxServer> s_nginx;
};

TEST_F(NginxHttps, AValidCertificatePassesByAddressAndByName) {
    using test::CertKind;
    EXPECT_EQ(Check(CertKind::Valid).detail, PrefixOf(CertKind::Valid) + "HTTP/1.1 200 OK");
    EXPECT_EQ(Check(CertKind::Valid, true, 14, "localhost").detail,
              PrefixOf(CertKind::Valid, "localhost") + "HTTP/1.1 200 OK");
    EXPECT_TRUE(
        EventuallyContains([] { return s_nginx->accessLog(); }, "GET /ok.html HTTP/1.1 200"));
}

TEST_F(NginxHttps, BadCertificatesFailWithTheTlsLibrarysWords) {
    using test::CertKind;
    EXPECT_EQ(Check(CertKind::OtherHost).detail,
              PrefixOf(CertKind::OtherHost) +
                  ":SSL: no alternative certificate subject name matches target host name "
                  "'127.0.0.1'");
    EXPECT_EQ(Check(CertKind::Untrusted).detail,
              PrefixOf(CertKind::Untrusted) + ":SSL certificate problem: self-signed certificate");
    EXPECT_EQ(Check(CertKind::Expired).detail,
              PrefixOf(CertKind::Expired) + ":SSL certificate problem: certificate has expired");
}

// Our own TLS client (mail and FTP) words a bad certificate as libcurl
// does; its handshake with nginx fails before any greeting is awaited.
TEST_F(NginxHttps, TheMailChecksTlsClientWordsCertificateFaultsAsLibcurlDoes) {
    using test::CertKind;
    const auto imaps = [](CertKind kind, bool verify = true) {
        const int port = s_nginx->httpsPort(kind);
        return test::RunCheck(std::make_unique<engine::ThreadIMAPCheck>(
                                  TlsSettings("127.0.0.1", port, "implicit", verify),
                                  engine::Credentials{"u", "p"}))
            .detail.substr(Prefix("127.0.0.1", port).size());
    };
    EXPECT_EQ(imaps(CertKind::OtherHost),
              "Failed:SSL: no alternative certificate subject name matches target host name "
              "'127.0.0.1'");
    EXPECT_EQ(imaps(CertKind::Untrusted),
              "Failed:SSL certificate problem: self-signed certificate");
    EXPECT_EQ(imaps(CertKind::Expired), "Failed:SSL certificate problem: certificate has expired");
    const std::string soon = imaps(CertKind::ExpiresSoon);
    EXPECT_EQ(soon.rfind("Failed:The server's certificate expires on ", 0), 0u) << soon;
    EXPECT_EQ(soon.substr(soon.size() - 17), " UTC, 3 days left") << soon;
    const std::string intermediate = imaps(CertKind::IntermediateEndsSoon);
    EXPECT_EQ(intermediate.rfind("Failed:The server's certificate expires on ", 0), 0u)
        << intermediate;
    EXPECT_EQ(intermediate.substr(intermediate.size() - 17), " UTC, 3 days left") << intermediate;
    EXPECT_EQ(
        imaps(CertKind::Expired, false).rfind("Failed:The server's certificate expired on ", 0),
        0u);
}

// The trust store is read once and shared; naming another store in
// SSL_CERT_FILE is seen by the next check, and so is naming the first again.
TEST_F(NginxHttps, TheNextCheckTrustsTheStoreTheEnvironmentNamesNow) {
    const int port = s_nginx->httpsPort(test::CertKind::Valid);
    const auto imaps = [port] {
        engine::CheckSettings settings = TlsSettings("127.0.0.1", port, "implicit");
        settings.timeoutMs = 500;  // nginx never greets as an IMAP server would
        return test::RunCheck(std::make_unique<engine::ThreadIMAPCheck>(
                                  settings, engine::Credentials{"u", "p"}))
            .detail.substr(Prefix("127.0.0.1", port).size());
    };
    const std::string trusted = imaps();
    EXPECT_EQ(trusted.find("certificate"), std::string::npos) << trusted;
    {
        const test::ScopedEnv other("SSL_CERT_FILE",
                                    test::SharedTestCertificates()[test::CertKind::Untrusted].cert);
        EXPECT_EQ(imaps(),
                  "Failed:SSL certificate problem: unable to get local issuer certificate");
    }
    EXPECT_EQ(imaps(), trusted);
}

TEST_F(NginxHttps, WithoutVerificationAnyCertificatePassesAndTheDetailSaysSo) {
    using test::CertKind;
    const CheckResult untrusted = Check(CertKind::Untrusted, false);
    EXPECT_TRUE(untrusted.passed) << untrusted.detail;
    EXPECT_EQ(untrusted.detail,
              PrefixOf(CertKind::Untrusted) + "HTTP/1.1 200 OK (certificate not verified)");
    EXPECT_TRUE(Check(CertKind::OtherHost, false).passed);
    // An expired certificate fails whatever the verification.
    const CheckResult expired = Check(CertKind::Expired, false, 0);
    EXPECT_FALSE(expired.passed);
    EXPECT_NE(expired.detail.find(":The server's certificate expired on "), std::string::npos)
        << expired.detail;
}

TEST_F(NginxHttps, ACertificateThatEndsWithinTheWarningDaysFails) {
    using test::CertKind;
    const CheckResult soon = Check(CertKind::ExpiresSoon);
    EXPECT_FALSE(soon.passed);
    // "... expires on 2026-12-12 09:41 UTC, 3 days left"
    const std::string head =
        PrefixOf(CertKind::ExpiresSoon) + "HTTP/1.1 200 OK:The server's certificate expires on ";
    EXPECT_EQ(soon.detail.rfind(head, 0), 0u) << soon.detail;
    EXPECT_EQ(soon.detail.substr(soon.detail.size() - 17), " UTC, 3 days left") << soon.detail;
    // The server's own certificate has a year to go; the intermediate CA
    // that signed it ends in 3 days, and the chain with it.
    const CheckResult intermediate = Check(CertKind::IntermediateEndsSoon);
    EXPECT_EQ(intermediate.detail.rfind(PrefixOf(CertKind::IntermediateEndsSoon) +
                                            "HTTP/1.1 200 OK:The server's certificate expires on ",
                                        0),
              0u)
        << intermediate.detail;
    EXPECT_EQ(intermediate.detail.substr(intermediate.detail.size() - 17), " UTC, 3 days left")
        << intermediate.detail;
    // A refused status stays the reason of the failure.
    const int port = s_nginx->httpsPort(CertKind::ExpiresSoon);
    const std::string missing = "https://127.0.0.1:" + std::to_string(port) + "/missing.html";
    EXPECT_EQ(test::RunCheck(
                  std::make_unique<engine::ThreadURLCheck>(TlsSettings(missing, port, ""), Get()))
                  .detail,
              Prefix(missing, port) + "HTTP/1.1 404 Not Found:HTTP/1.1 404 Not Found");
    EXPECT_TRUE(Check(CertKind::ExpiresSoon, true, 0).passed);
    EXPECT_TRUE(Check(CertKind::ExpiresSoon, true, 2).passed);
    EXPECT_FALSE(Check(CertKind::ExpiresSoon, true, 4).passed);
}

}  // namespace
}  // namespace vantor::interop
