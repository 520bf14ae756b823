// The URL check against nginx, directly and through tinyproxy, both started
// on 127.0.0.1 by the test.
#include <gtest/gtest.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <iostream>
#include <memory>

#include "InteropChecks.h"
#include "InteropServers.h"
#include "engine/ThreadURLCheck.h"
#include "support/HostileTls.h"
#include "support/RunCheck.h"
#include "support/TempDir.h"
#include "support/TestCertificates.h"
#include "support/TlsProbe.h"

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

class NginxUrlCheck : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_setup.run([] {
            s_dir = std::make_unique<test::TempDir>();
            OpenForServers(s_dir->path());
            s_nginx = std::make_unique<NginxServer>(s_dir->path());
        });
    }
    static void TearDownTestSuite() {
        s_nginx.reset();
        s_dir.reset();
        s_setup.reset();
    }
    void SetUp() override { ASSERT_TRUE(s_setup.ok()) << s_setup.error(); }
    void TearDown() override {
        if (HasFailure() && s_nginx) {
            std::cout << "nginx access log:\n"
                      << s_nginx->accessLog() << s_nginx->process().logTail();
        }
    }

    NginxServer& nginx() { return *s_nginx; }

    static inline SuiteSetup s_setup;
    static inline std::unique_ptr<test::TempDir> s_dir;
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

class TinyproxyUrlCheck : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_setup.run([] {
            s_dir = std::make_unique<test::TempDir>();
            OpenForServers(s_dir->path());
            s_nginx = std::make_unique<NginxServer>(s_dir->path());
            s_proxy = std::make_unique<TinyproxyServer>(s_dir->path());
        });
    }
    static void TearDownTestSuite() {
        s_proxy.reset();
        s_nginx.reset();
        s_dir.reset();
        s_setup.reset();
    }
    void SetUp() override { ASSERT_TRUE(s_setup.ok()) << s_setup.error(); }
    void TearDown() override {
        if (HasFailure() && s_nginx && s_proxy) {
            std::cout << "nginx access log:\n"
                      << s_nginx->accessLog() << s_proxy->process().logTail();
        }
    }

    UrlCheckRequest viaProxy(const std::string& user, const std::string& password) {
        UrlCheckRequest request = Get();
        request.proxyHost = "127.0.0.1";
        request.proxyPort = s_proxy->port();
        request.proxyUsername = user;
        request.proxyPassword = password;
        return request;
    }

    NginxServer& nginx() { return *s_nginx; }

    static inline SuiteSetup s_setup;
    static inline std::unique_ptr<test::TempDir> s_dir;
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

// nginx over TLS, one port per certificate, probed with raw OpenSSL.
class NginxHttps : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_setup.run([] {
            s_dir = std::make_unique<test::TempDir>();
            OpenForServers(s_dir->path());
            s_nginx = std::make_unique<NginxServer>(
                s_dir->path(), NginxOptions{test::SharedTestCertificates().all()});
        });
    }
    static void TearDownTestSuite() {
        s_nginx.reset();
        s_dir.reset();
        s_setup.reset();
    }
    void SetUp() override { ASSERT_TRUE(s_setup.ok()) << s_setup.error(); }
    void TearDown() override {
        if (HasFailure() && s_nginx) {
            std::cout << s_nginx->process().logTail();
        }
    }

    static test::TlsProbeResult Get(test::CertKind kind, const std::string& host) {
        return test::ProbeTls(
            s_nginx->httpsPort(kind),
            {{},
             {{"GET /ok.html HTTP/1.0\r\nHost: localhost\r\n\r\n", "HTTP/1.1 200 OK"}},
             test::SharedTestCertificates().caCert,
             host});
    }

    static inline SuiteSetup s_setup;
    static inline std::unique_ptr<test::TempDir> s_dir;
    static inline std::unique_ptr<NginxServer> s_nginx;
};

TEST_F(NginxHttps, TrustedCertificatesVerifyByNameAndAddressAndServeThePage) {
    for (const test::CertKind kind : {test::CertKind::Valid, test::CertKind::ExpiresSoon}) {
        for (const char* host : {"localhost", "127.0.0.1"}) {
            const test::TlsProbeResult result = Get(kind, host);
            EXPECT_TRUE(result.verified())
                << test::Name(kind) << " " << host << ": " << result.verifyError << result.error;
            EXPECT_EQ(result.error, "") << test::Name(kind);
        }
    }
    // The short one runs out three days from now, the other in a year.
    const auto now = std::time(nullptr);
    const auto soon = Get(test::CertKind::ExpiresSoon, "localhost").notAfter - now;
    EXPECT_GT(soon, 3 * 86400 - 600);
    EXPECT_LE(soon, 3 * 86400);
    EXPECT_GT(Get(test::CertKind::Valid, "localhost").notAfter - now, 364 * 86400);
    EXPECT_TRUE(
        EventuallyContains([] { return s_nginx->accessLog(); }, "GET /ok.html HTTP/1.0 200"));
}

TEST_F(NginxHttps, EachBadCertificateFailsVerificationForItsOwnReason) {
    const std::pair<test::CertKind, long> cases[] = {
        {test::CertKind::OtherHost, X509_V_ERR_HOSTNAME_MISMATCH},
        {test::CertKind::Expired, X509_V_ERR_CERT_HAS_EXPIRED},
        {test::CertKind::Untrusted, X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT},
    };
    for (const auto& [kind, expected] : cases) {
        const test::TlsProbeResult result = Get(kind, "localhost");
        EXPECT_TRUE(result.handshake) << test::Name(kind) << ": " << result.error;
        EXPECT_EQ(result.verifyResult, expected) << test::Name(kind) << ": " << result.verifyError;
    }
    // The other host's certificate is good for that name only.
    EXPECT_EQ(Get(test::CertKind::OtherHost, "127.0.0.1").verifyResult,
              X509_V_ERR_IP_ADDRESS_MISMATCH);
    EXPECT_TRUE(Get(test::CertKind::OtherHost, "other.example").verified());
}

// The hostile peers: each fault ends a handshake in failure, at once or
// (the stall) at the client's time limit, also after a plain STARTTLS talk.
TEST(HostileTlsPeer, EachFaultFailsTheHandshakeAlsoAfterAPlainPreamble) {
    using test::TlsFault;
    const std::vector<test::ServerStep> smtp = {{"", "220 ready\r\n"},
                                                {"EHLO", "250-hi\r\n250 STARTTLS\r\n"},
                                                {"STARTTLS", "220 go ahead\r\n"}};
    const std::vector<test::DialogueStep> client = {
        {"", "220 "}, {"EHLO probe\r\n", "250 "}, {"STARTTLS\r\n", "220 "}};
    for (const bool plainFirst : {false, true}) {
        for (const TlsFault fault :
             {TlsFault::Stall, TlsFault::Garbage, TlsFault::CloseMidHandshake}) {
            test::FakeServer server(plainFirst ? test::HostileTls(smtp, fault)
                                               : test::HostileTls(fault));
            test::TlsProbeOptions options;
            options.caFile = test::SharedTestCertificates().caCert;
            options.timeout = std::chrono::milliseconds(700);
            if (plainFirst) {
                options.before = client;
            }
            const auto start = std::chrono::steady_clock::now();
            const test::TlsProbeResult result = test::ProbeTls(server.port(), options);
            const auto took = std::chrono::steady_clock::now() - start;
            const std::string what = std::to_string(static_cast<int>(fault)) +
                                     (plainFirst ? " after STARTTLS: " : ": ") + result.error;
            EXPECT_FALSE(result.handshake) << what;
            EXPECT_EQ(result.error.find("timed out") != std::string::npos, fault == TlsFault::Stall)
                << what;
            EXPECT_LT(took, std::chrono::seconds(3)) << what;
            const std::vector<std::string> seen = server.received();
            ASSERT_EQ(seen.size(), plainFirst ? 3U : 1U) << what;
            EXPECT_EQ(seen.back(), "<ClientHello>") << what;
        }
    }
}

}  // namespace
}  // namespace vantor::interop
