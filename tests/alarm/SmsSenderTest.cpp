// SPDX-License-Identifier: GPL-3.0-or-later
// The SMS alarm sender against a scripted SMS centre on 127.0.0.1.
#include <gtest/gtest.h>

#include "alarm/ThreadSMS.h"
#include "app/AppSettings.h"
#include "app/EventLoop.h"
#include "app/Messages.h"
#include "support/FakeSmsc.h"

namespace vantor::alarm {
namespace {

using namespace std::chrono_literals;
using test::FakeSmsc;
using test::SmscBehaviour;

constexpr std::uint32_t kBindTransmitter = 0x00000002;
constexpr std::uint32_t kSubmitSm = 0x00000004;
constexpr std::uint32_t kUnbind = 0x00000006;

SmsSettings At(int port) {
    SmsSettings s;
    s.host = "127.0.0.1";
    s.port = port;
    s.systemId = "vantor";
    s.password = "secret";
    s.originator = "VANTOR";
    s.destination = "46701234567";
    s.timeoutMs = 2000;
    return s;
}

SenderResult Send(const SmsSettings& settings, const std::string& text = "Disk full") {
    app::EventLoop loop;
    auto item = std::make_unique<ThreadSMS>(settings, text, &loop);
    EXPECT_TRUE(item->run());
    // Whatever the relay posted runs after it is gone.
    loop.runUntil([] { return false; }, 100ms);
    return item->result();
}

TEST(SmsSender, SentThroughTheSmsc) {
    FakeSmsc smsc;
    const SenderResult r = Send(At(smsc.port()));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.statusWord, "Sent");
    EXPECT_EQ(r.detail, "");
    EXPECT_TRUE(smsc.waitForClose());
    const auto pdus = smsc.received();
    ASSERT_EQ(pdus.size(), 3u);
    EXPECT_EQ(pdus[0].commandId, kBindTransmitter);
    EXPECT_EQ(pdus[0].leadingStrings(3), (std::vector<std::string>{"vantor", "secret", "TCP"}));
    // interface_version, addr_ton, addr_npi, then the originator as range.
    const std::vector<std::uint8_t> tail(pdus[0].body.begin() + 18, pdus[0].body.end());
    EXPECT_EQ(tail, (std::vector<std::uint8_t>{0x22, 1, 1, 'V', 'A', 'N', 'T', 'O', 'R', 0}));
    EXPECT_EQ(pdus[1].commandId, kSubmitSm);
    const std::string body(pdus[1].body.begin(), pdus[1].body.end());
    EXPECT_NE(body.find(std::string("\x01\x01"
                                    "46701234567\0",
                                    14)),
              std::string::npos);
    EXPECT_NE(body.find(std::string("\x09"
                                    "Disk full",
                                    10)),
              std::string::npos);
    EXPECT_EQ(pdus[2].commandId, kUnbind);
}

TEST(SmsSender, WrongPasswordIsABindingFailure) {
    SmscBehaviour b;
    b.password = "other";
    FakeSmsc smsc(b);
    const SenderResult r = Send(At(smsc.port()));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.statusWord, "Error");
    EXPECT_EQ(r.detail, std::string(app::msg::kSmppBindingFailed) + "14");
    EXPECT_TRUE(smsc.waitForClose());
    EXPECT_EQ(smsc.count(kSubmitSm), 0);
    EXPECT_EQ(smsc.count(kUnbind), 0);
}

TEST(SmsSender, SilentSmscIsABindingTimeOut) {
    SmscBehaviour b;
    b.answerBind = false;
    FakeSmsc smsc(b);
    SmsSettings s = At(smsc.port());
    s.timeoutMs = 300;
    const SenderResult r = Send(s);
    EXPECT_EQ(r.detail, std::string(app::msg::kSmppBindingFailed) + "-1");
    EXPECT_TRUE(smsc.waitForClose());
}

TEST(SmsSender, UnreachableSmscIsAConnectionFailure) {
    test::RefusingPort closed;
    const SenderResult r = Send(At(closed.port()));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.detail,
              std::string(app::msg::kSmppConnectionFailed) + std::to_string(ECONNREFUSED));
    EXPECT_EQ(r.detail.substr(r.detail.size() - 3), "111");
}

TEST(SmsSender, RefusedSubmitStillUnbindsAndCloses) {
    SmscBehaviour b;
    b.submitStatus = 0x45;
    FakeSmsc smsc(b);
    const SenderResult r = Send(At(smsc.port()));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.detail, std::string(app::msg::kSmppSendingFailed) + "69");
    EXPECT_TRUE(smsc.waitForClose());
    const auto pdus = smsc.received();
    ASSERT_EQ(pdus.size(), 3u);
    EXPECT_EQ(pdus[1].commandId, kSubmitSm);
    EXPECT_EQ(pdus[2].commandId, kUnbind);
}

TEST(SmsSender, AuthenticationSwitchDecidesTheCredentials) {
    for (const bool auth : {false, true}) {
        FakeSmsc smsc;
        app::AppSettings settings;
        settings.smsIp = "127.0.0.1";
        settings.smsPort = smsc.port();
        settings.smsAuthEnable = auth;
        settings.smsUsername = "user";
        settings.smsPassword = "pw";
        settings.smsOa = "OA";
        settings.smsTimeout = 2000;
        const SmsSettings sms = SmsSettingsFrom(settings, "4670");
        EXPECT_TRUE(Send(sms).ok) << auth;
        const auto pdus = smsc.received();
        ASSERT_FALSE(pdus.empty());
        const std::vector<std::string> expected =
            auth ? std::vector<std::string>{"user", "pw"} : std::vector<std::string>{"", ""};
        EXPECT_EQ(pdus[0].leadingStrings(2), expected) << auth;
    }
}

}  // namespace
}  // namespace vantor::alarm
