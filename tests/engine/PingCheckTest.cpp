// SPDX-License-Identifier: GPL-3.0-or-later
// The ping check: a live echo to 127.0.0.1 and a host that does not resolve.
#include <gtest/gtest.h>

#include "engine/ThreadPingCheck.h"
#include "support/RunCheck.h"

namespace vantor::engine {
namespace {

TEST(PingCheck, LoopbackAnswersAndAnUnknownHostFailsWithTheResolverText) {
    CheckSettings s;
    s.host = "127.0.0.1";
    s.port = 0;
    s.timeoutMs = 3000;
    const CheckResult ok = test::RunCheck(std::make_unique<ThreadPingCheck>(s));
    EXPECT_EQ(ok.detail, "[127.0.0.1:0] Passed");
    EXPECT_EQ(ok.kind, "Ping");

    s.host = "no-such-host.invalid";
    s.port = 7;
    const CheckResult bad = test::RunCheck(std::make_unique<ThreadPingCheck>(s));
    EXPECT_FALSE(bad.passed);
    EXPECT_EQ(bad.detail.rfind("[no-such-host.invalid:7] Failed:Cannot resolve host name", 0), 0u)
        << bad.detail;
}

}  // namespace
}  // namespace vantor::engine
