// SPDX-License-Identifier: GPL-3.0-or-later
// The SysLog alarm sender: the datagram as a UDP socket on 127.0.0.1
// receives it.
#include <gtest/gtest.h>

#include <string>

#include "alarm/ThreadSysLog.h"
#include "support/LocalSockets.h"
#include "support/MockClock.h"

namespace vantor::alarm {
namespace {

using namespace std::chrono_literals;

class SyslogSenderTest : public ::testing::Test {
protected:
    SyslogSenderTest() : clock(2026, 3, 5, 8, 4, 9) {}

    // Sends the text as it is and returns what arrived.
    std::string sendAndReceive(const std::string& text, int facility = 16, int severity = 4) {
        ThreadSysLog sender(SyslogSettings{"127.0.0.1", udp.port(), facility, severity, 2000}, text,
                            clock);
        EXPECT_EQ(sender.methodWord(), "SysLog");
        sender.run();
        EXPECT_EQ(sender.result().statusWord, "Sent") << sender.result().detail;
        EXPECT_TRUE(sender.result().ok);
        return udp.receive().value_or("<nothing arrived>");
    }

    test::MockClock clock;
    test::UdpReceiver udp;
};

TEST_F(SyslogSenderTest, TheDatagramIsPriorityTimestampHostAndText) {
    EXPECT_EQ(sendAndReceive("disk full"), "<132>Mar  5 08:04:09 127.0.0.1 disk full")
        << "Local Use Zero (16) at Warning (4), the day padded with a blank";
    EXPECT_EQ(sendAndReceive("x", 0, 0), "<0>Mar  5 08:04:09 127.0.0.1 x");
    EXPECT_EQ(sendAndReceive("x", 23, 7), "<191>Mar  5 08:04:09 127.0.0.1 x");
    clock.setLocal(2026, 12, 18, 23, 59, 1);
    EXPECT_EQ(sendAndReceive("x"), "<132>Dec 18 23:59:01 127.0.0.1 x");
    clock.setLocal(2027, 1, 1, 0, 0, 0);
    EXPECT_EQ(sendAndReceive("x"), "<132>Jan  1 00:00:00 127.0.0.1 x");
}

TEST_F(SyslogSenderTest, ALongDatagramIsCutTo1024BytesAndNeverInsideACharacter) {
    const std::string head = "<132>Mar  5 08:04:09 127.0.0.1 ";
    const std::string received = sendAndReceive(std::string(2000, 'x'));
    EXPECT_EQ(received.size(), 1024u);
    EXPECT_EQ(received.rfind(head, 0), 0u);
    EXPECT_EQ(received, head + std::string(1024 - head.size(), 'x'));

    // "é" takes bytes 1023 and 1024 of the datagram: it goes whole.
    const std::string straddling = std::string(1024 - head.size() - 1, 'x') + "\xC3\xA9" + "yyy";
    EXPECT_EQ(sendAndReceive(straddling), head + std::string(1024 - head.size() - 1, 'x'));

    // Exactly 1024 bytes go as they are.
    const std::string exact(1024 - head.size(), 'z');
    EXPECT_EQ(sendAndReceive(exact), head + exact);
}

TEST(SyslogText, AColonFromTheSecondCharacterOnGetsAColonInFront) {
    EXPECT_EQ(PrepareSyslogText("no colon at all"), "no colon at all");
    EXPECT_EQ(PrepareSyslogText(":leading"), ":leading");
    EXPECT_EQ(PrepareSyslogText("a:b"), ":a:b");
    EXPECT_EQ(PrepareSyslogText("[10.0.0.1:25] Failed:refused"), ":[10.0.0.1:25] Failed:refused");
    EXPECT_EQ(PrepareSyslogText("ends with:"), ":ends with:");
    EXPECT_EQ(PrepareSyslogText(""), "");
}

TEST(SyslogSender, AnUnusablePortIsAnErrorNamingHostAndPort) {
    test::MockClock clock;
    // Nothing can be sent to port 0.
    ThreadSysLog sender(SyslogSettings{"127.0.0.1", 0, 16, 4, 1000}, "down", clock);
    sender.run();
    EXPECT_FALSE(sender.result().ok);
    EXPECT_EQ(sender.result().statusWord, "Error");
    EXPECT_EQ(sender.result().detail.rfind("[127.0.0.1:0] ", 0), 0u) << sender.result().detail;
    EXPECT_EQ(sender.failureLogLine(),
              "Alarming Message - SysLog : error " + sender.result().detail);
}

}  // namespace
}  // namespace vantor::alarm
