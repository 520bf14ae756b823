// SPDX-License-Identifier: GPL-3.0-or-later
// The ping check on the loopback interface and with a name no resolver
// knows. It needs no server: an ICMP socket (root, or a ping group).
#include <gtest/gtest.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "InteropChecks.h"
#include "engine/ThreadPingCheck.h"
#include "support/RunCheck.h"

namespace vantor::interop {
namespace {

using engine::CheckResult;

CheckResult RunPingCheck(const std::string& host) {
    return test::RunCheck(std::make_unique<engine::ThreadPingCheck>(Settings(host, 0)));
}

TEST(PingCheck, LoopbackAddressAnswers) {
    const CheckResult result = RunPingCheck("127.0.0.1");
    EXPECT_TRUE(result.passed);
    EXPECT_EQ(result.kind, "Ping");
    EXPECT_EQ(result.statusWord, "Passed");
    EXPECT_EQ(result.detail, "[127.0.0.1:0] Passed");
}

TEST(PingCheck, UnresolvableNameFailsWithTheResolversWords) {
    const std::string host = "no-such-host.invalid";
    // What this machine's resolver says of the name, asked the same way.
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_ADDRCONFIG;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(host.c_str(), "0", &hints, &found);
    const int err = errno;
    if (rc == 0) {
        ::freeaddrinfo(found);
        FAIL() << "this machine's resolver knows " << host;
    }
    const std::string words = rc == EAI_SYSTEM ? std::strerror(err) : ::gai_strerror(rc);

    const CheckResult result = RunPingCheck(host);
    EXPECT_FALSE(result.passed);
    EXPECT_EQ(result.statusWord, "Failed");
    EXPECT_EQ(result.detail,
              "[" + host + ":0] Failed:Cannot resolve host name \"" + host + "\": " + words);
}

}  // namespace
}  // namespace vantor::interop
