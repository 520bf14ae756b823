// SPDX-License-Identifier: GPL-3.0-or-later
// The HTTP SMS alarm sender against a fake gateway.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "alarm/ThreadURL.h"
#include "support/FakeHttpServer.h"
#include "support/HostileTls.h"
#include "support/LocalSockets.h"

namespace vantor::alarm {
namespace {

using test::FakeHttpServer;
using test::HttpResponse;

HttpSmsSettings Gateway(const std::string& url, int port, const std::string& method) {
    HttpSmsSettings s;
    s.url = url;
    s.port = port;
    s.method = method;
    s.msisdnFieldName = "msisdn";
    s.messageFieldName = "message";
    s.timeoutMs = 3000;
    return s;
}

class HttpSmsSenderTest : public ::testing::Test {
protected:
    SenderResult send(const HttpSmsSettings& settings, const std::string& number = "+44 1",
                      const std::string& text = "a b:c") {
        ThreadURL sender(settings, number, text);
        EXPECT_EQ(sender.methodWord(), "SMS by HTTP");
        sender.run();
        failureLogLine = sender.failureLogLine();
        return sender.result();
    }

    FakeHttpServer ok{FakeHttpServer::Always(HttpResponse("HTTP/1.1 200 OK", {}, "queued"))};
    std::string failureLogLine;
};

TEST_F(HttpSmsSenderTest, GetPutsTheEncodedNumberAndTextIntoTheUrl) {
    const SenderResult r =
        send(Gateway(ok.url("/send?to=$MSISDN&msg=$MESSAGE"), ok.port(), "Get"), "+44 1", "a b:c");
    EXPECT_TRUE(r.ok) << r.detail;
    EXPECT_EQ(r.statusWord, "Sent");
    EXPECT_EQ(r.responseCode, 200);
    const auto requests = ok.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].requestLine, "GET /send?to=%2B44+1&msg=a+b%3Ac HTTP/1.1");
    EXPECT_EQ(requests[0].header("User-Agent").value_or("<none>"), "html");
    EXPECT_TRUE(requests[0].body.empty());
}

TEST_F(HttpSmsSenderTest, GetReplacesEveryPlaceholderButOnlyInUpperCase) {
    ASSERT_EQ(send(Gateway(ok.url("/s?a=$MSISDN&b=$MSISDN&m=$MESSAGE$MESSAGE&l=$msisdn"), ok.port(),
                           "Get"),
                   "+44 1", "a b:c")
                  .statusWord,
              "Sent");
    ASSERT_EQ(ok.requests().size(), 1u);
    EXPECT_EQ(ok.requests()[0].target, "/s?a=%2B44+1&b=%2B44+1&m=a+b%3Aca+b%3Ac&l=$msisdn");
}

TEST_F(HttpSmsSenderTest, PostSendsTheFieldsInOrderAsAForm) {
    HttpSmsSettings s = Gateway(ok.url("/post"), ok.port(), "Post");
    s.extraField1Name = "account";
    s.extraField1Value = "ops team";
    s.extraField2Name = "sender";  // no value: not sent
    ASSERT_EQ(send(s).statusWord, "Sent");
    s.extraField1Value.clear();  // now neither pair is complete
    s.extraField2Name.clear();
    s.extraField2Value = "orphan";
    ASSERT_EQ(send(s).statusWord, "Sent");
    s.extraField1Value = "a&b";
    s.extraField2Name = "x";
    ASSERT_EQ(send(s).statusWord, "Sent");

    const auto requests = ok.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].requestLine, "POST /post HTTP/1.1");
    EXPECT_EQ(requests[0].header("Content-Type").value_or("<none>"),
              "application/x-www-form-urlencoded");
    EXPECT_EQ(requests[0].header("User-Agent").value_or("<none>"), "html");
    EXPECT_EQ(requests[0].body, "msisdn=%2B44+1&message=a+b%3Ac&account=ops+team");
    EXPECT_EQ(requests[1].body, "msisdn=%2B44+1&message=a+b%3Ac");
    EXPECT_EQ(requests[2].body, "msisdn=%2B44+1&message=a+b%3Ac&account=a%26b&x=orphan");
}

TEST_F(HttpSmsSenderTest, AnyMethodOtherThanGetPosts) {
    ASSERT_EQ(send(Gateway(ok.url("/p?to=$MSISDN"), ok.port(), "GET")).statusWord, "Sent");
    ASSERT_EQ(ok.requests().size(), 1u);
    EXPECT_EQ(ok.requests()[0].method, "POST");
    EXPECT_EQ(ok.requests()[0].target, "/p?to=$MSISDN") << "only Get fills the URL";
}

TEST_F(HttpSmsSenderTest, AServerErrorIsAnErrorWithItsCodeAndStatusLine) {
    FakeHttpServer failing(
        FakeHttpServer::Always(HttpResponse("HTTP/1.1 500 Internal Server Error")));
    const std::string url = failing.url("/send");
    const SenderResult r = send(Gateway(url, failing.port(), "Post"));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.statusWord, "Error");
    EXPECT_EQ(r.responseCode, 500);
    const std::string detail = "[" + url + ":" + std::to_string(failing.port()) +
                               "] HTTP/1.1 500 Internal Server Error:HTTP/1.1 500 Internal Server "
                               "Error";
    EXPECT_EQ(r.detail, detail);
    EXPECT_EQ(failureLogLine, "Alarming Message - HTTP-SMS : Response code=500 " + detail);
}

// The gateway's query holds the number, the text and often its password;
// the user info a password too. The detail and the log line made of it name
// the URL without either.
TEST_F(HttpSmsSenderTest, AFailedSendShowsTheGatewayWithoutPasswordOrQuery) {
    FakeHttpServer failing(FakeHttpServer::Always(HttpResponse("HTTP/1.1 503 Busy")));
    const std::string at = "127.0.0.1:" + std::to_string(failing.port()) + "/send";
    const SenderResult r =
        send(Gateway("http://gw:s3cret@" + at + "?user=ops&password=t0psecret&to=$MSISDN",
                     failing.port(), "Get"));
    ASSERT_EQ(failing.requests().size(), 1u);
    EXPECT_EQ(failing.requests()[0].target, "/send?user=ops&password=t0psecret&to=%2B44+1");
    const std::string detail = "[http://gw:***@" + at + ":" + std::to_string(failing.port()) +
                               "] HTTP/1.1 503 Busy:HTTP/1.1 503 Busy";
    EXPECT_EQ(r.detail, detail);
    EXPECT_EQ(failureLogLine, "Alarming Message - HTTP-SMS : Response code=503 " + detail);
}

// A status line is the gateway's own text: its control characters are shown
// as blanks and a long one is cut.
TEST_F(HttpSmsSenderTest, TheGatewaysStatusLineIsMadeFitToShow) {
    const std::string reason = "Busy\x1b[2J\a\x08" + std::string(3000, 'x');
    FakeHttpServer failing(FakeHttpServer::Always(HttpResponse("HTTP/1.1 503 " + reason)));
    const SenderResult r = send(Gateway(failing.url("/send"), failing.port(), "Get"));
    EXPECT_EQ(r.responseCode, 503);
    EXPECT_EQ(r.detail.size(), 1024u);
    EXPECT_NE(r.detail.find("] HTTP/1.1 503 Busy [2J  xxx"), std::string::npos) << r.detail;
    EXPECT_EQ(r.detail.substr(1021), "...");
}

TEST_F(HttpSmsSenderTest, AGatewayThatAlwaysRedirectsEndsAfterFiveRequestsAsSent) {
    FakeHttpServer looping(
        FakeHttpServer::Always(HttpResponse("HTTP/1.1 302 Found", "Location: /again\r\n")));
    const SenderResult r = send(Gateway(looping.url("/send"), looping.port(), "Get"));
    EXPECT_TRUE(r.ok) << r.detail;
    EXPECT_EQ(r.statusWord, "Sent");
    EXPECT_EQ(r.responseCode, 302);
    EXPECT_EQ(looping.requests().size(), 5u);
}

// The port shown is the one of the last request, after a redirect to
// another port.
TEST_F(HttpSmsSenderTest, TheResultShowsThePortOfTheLastRequest) {
    FakeHttpServer redirecting(FakeHttpServer::Always(
        HttpResponse("HTTP/1.1 302 Found", "Location: " + ok.url("/final") + "\r\n")));
    const std::string url = redirecting.url("/send");
    const SenderResult r = send(Gateway(url, redirecting.port(), "Get"));
    EXPECT_TRUE(r.ok) << r.detail;
    EXPECT_EQ(r.detail, "[" + url + ":" + std::to_string(ok.port()) + "] HTTP/1.1 200 OK");
}

TEST_F(HttpSmsSenderTest, AnUnreachableGatewayIsAnErrorWithoutACode) {
    test::ClosedPort closed;
    const std::string url = "http://127.0.0.1:" + std::to_string(closed.port()) + "/send";
    const SenderResult r = send(Gateway(url, closed.port(), "Get"));
    EXPECT_EQ(r.statusWord, "Error");
    EXPECT_EQ(r.responseCode, -1);
    EXPECT_EQ(r.detail.rfind("[" + url + ":" + std::to_string(closed.port()) + "] :", 0), 0u)
        << r.detail;
    EXPECT_EQ(failureLogLine.rfind("Alarming Message - HTTP-SMS : Response code=-1 [", 0), 0u)
        << failureLogLine;
}

// The gateway's URL names no port and the configured one is none: nothing
// goes to port 80 in its place.
TEST_F(HttpSmsSenderTest, AGatewayPortOutOfRangeIsAnErrorWithoutASend) {
    const SenderResult r = send(Gateway("http://127.0.0.1/send", 65536, "Get"));
    EXPECT_EQ(r.statusWord, "Error");
    EXPECT_EQ(r.detail, "[http://127.0.0.1/send:65536] :Port 65536 is out of range");
}

// An https gateway is spoken to over TLS, in the alarm and in the window's
// trial alike (no "http://" is put in front of it).
TEST_F(HttpSmsSenderTest, AnHttpsGatewayIsReachedOverTls) {
    test::FakeServer gateway(test::HostileTls(test::TlsFault::Garbage));
    const std::string url = "https://127.0.0.1:" + std::to_string(gateway.port()) + "/send";
    EXPECT_EQ(send(Gateway(url, gateway.port(), "Get")).statusWord, "Error");
    const std::unique_ptr<ThreadURL> trial =
        ThreadURL::Trial(Gateway(url, gateway.port(), "Post"), "+44 1", "text");
    EXPECT_EQ(trial->httpRequest().url, url);
    trial->run();
    EXPECT_EQ(trial->result().statusWord, "Error");
    ASSERT_TRUE(gateway.waitUntilIdle());
    EXPECT_EQ(gateway.received(), (std::vector<std::string>{"<ClientHello>", "<ClientHello>"}));
}

}  // namespace
}  // namespace vantor::alarm
