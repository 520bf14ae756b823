// SPDX-License-Identifier: GPL-3.0-or-later
// The SMPP client against an SMS centre written by others: the Node.js
// package "smpp" decodes what the relay and the SMS alarm sender put on the
// wire, field by field, and answers as an SMSC does.
#include <gtest/gtest.h>

#include <thread>

#include "SmscServer.h"
#include "alarm/ThreadSMS.h"
#include "smpp/TtcSMSCRelaySMPP.h"
#include "support/TempDir.h"

namespace vantor::smppinterop {
namespace {

using namespace std::chrono_literals;
using smpp::TtcSMSCRelaySMPP;

constexpr const char* kSystemId = "vantor";
constexpr const char* kPassword = "secret";

// The bind as the SMS alarm sender makes it: transmitter, the configured
// version number as the interface_version octet (34 unless set otherwise).
constexpr int kTransmitter = 1;
constexpr int kVersion = 34;

// A GSM text submit_sm between two addresses.
smpp::SubmitRequest Submit(const std::string& destination, int destTon, int destNpi,
                           const std::string& originator, int origTon, int origNpi,
                           const std::string& text, unsigned options = 0) {
    smpp::SubmitRequest r;
    r.destination = destination;
    r.destTon = destTon;
    r.destNpi = destNpi;
    r.originator = originator;
    r.origTon = origTon;
    r.origNpi = origNpi;
    r.text = text;
    r.options = options;
    return r;
}

// A text with characters of the GSM default alphabet whose codes differ from
// ASCII, and characters of its extension table (escape 0x1B, then the code).
constexpr const char* kText = "Alarm [web-01] @ 10:05 $5 a_b {x} ~^\\ \u00e9\u20ac";
// Its GSM 03.38 octets, one per character, two for each extension character.
constexpr const char* kTextOctets =
    "416c61726d20"  // "Alarm "
    "1b3c"          // [
    "7765622d3031"  // "web-01"
    "1b3e"          // ]
    "20"
    "00"  // @
    "20"
    "31303a3035"  // "10:05"
    "20"
    "02"  // $
    "3520"
    "61"
    "11"  // _
    "6220"
    "1b28"  // {
    "78"
    "1b29"  // }
    "20"
    "1b3d"  // ~
    "1b14"  // ^
    "1b2f"  // backslash
    "20"
    "05"     // e acute
    "1b65";  // euro sign

class RelayInteropTest : public ::testing::Test {
protected:
    void SetUp() override {
        try {
            smsc = std::make_unique<SmscServer>(kSystemId, kPassword, dir.path());
        } catch (const std::exception& e) {
            FAIL() << e.what();
        }
    }

    // The lines of the test so far, for failure messages.
    std::string transcript() const { return smsc ? smsc->diagnostics() : std::string(); }

    // Waits for the SMSC to see the client's connection close.
    bool closedByClient(std::size_t closes = 1) const {
        return smsc->waitFor([&](const std::vector<Json>&) {
            return smsc->events("close").size() >= closes + 1;  // and the port probe's
        });
    }

    test::TempDir dir;
    std::unique_ptr<SmscServer> smsc;
};

TEST_F(RelayInteropTest, BindSubmitAndUnbindArriveAsTheSmscDecodesThem) {
    TtcSMSCRelaySMPP relay;
    relay.setKeepAlive(false);
    relay.SetResponseTimeOut(5000);
    ASSERT_EQ(relay.Connect("127.0.0.1", smsc->port()), 0);
    ASSERT_EQ(relay.Bind(kSystemId, kPassword, 2, 8, "TCP", kTransmitter, kVersion, "VantorOA"), 0)
        << transcript();
    EXPECT_EQ(relay.state(), TtcSMSCRelaySMPP::Bound);
    std::string messageId;
    ASSERT_EQ(relay.SubmitMessage(Submit("6591234567", 1, 6, "VantorOA", 5, 0, kText,
                                         smpp::SubmitOption::RegisteredDelivery),
                                  &messageId),
              0)
        << transcript();
    ASSERT_EQ(relay.Unbind(), 0) << transcript();
    EXPECT_EQ(relay.state(), TtcSMSCRelaySMPP::Connected);
    relay.Disconnect();
    EXPECT_EQ(relay.state(), TtcSMSCRelaySMPP::Disconnected);
    ASSERT_TRUE(closedByClient()) << transcript();

    const auto binds = smsc->received("bind_transmitter");
    ASSERT_EQ(binds.size(), 1u) << transcript();
    const Json& bind = binds[0];
    EXPECT_EQ(bind.text("system_id"), "vantor");
    EXPECT_EQ(bind.text("password"), "secret");
    EXPECT_EQ(bind.text("system_type"), "TCP");
    EXPECT_EQ(bind.integer("interface_version"), 0x22);
    EXPECT_EQ(bind.integer("addr_ton"), 2);
    EXPECT_EQ(bind.integer("addr_npi"), 8);
    EXPECT_EQ(bind.text("address_range"), "VantorOA");
    EXPECT_EQ(bind.text("optional_hex"), "");
    EXPECT_EQ(bind.integer("command_status"), 0);
    EXPECT_EQ(bind.integer("command_length"),
              static_cast<std::int64_t>(bind.text("pdu_hex").size() / 2));

    const auto submits = smsc->received("submit_sm");
    ASSERT_EQ(submits.size(), 1u) << transcript();
    const Json& submit = submits[0];
    EXPECT_EQ(submit.text("service_type"), "");
    EXPECT_EQ(submit.integer("source_addr_ton"), 5);
    EXPECT_EQ(submit.integer("source_addr_npi"), 0);
    EXPECT_EQ(submit.text("source_addr"), "VantorOA");
    EXPECT_EQ(submit.integer("dest_addr_ton"), 1);
    EXPECT_EQ(submit.integer("dest_addr_npi"), 6);
    EXPECT_EQ(submit.text("destination_addr"), "6591234567");
    EXPECT_EQ(submit.integer("esm_class"), 0);
    EXPECT_EQ(submit.integer("protocol_id"), 0);
    EXPECT_EQ(submit.integer("priority_flag"), 0);
    EXPECT_EQ(submit.text("schedule_delivery_time"), "");
    EXPECT_EQ(submit.text("validity_period"), "");
    EXPECT_EQ(submit.integer("registered_delivery"), 1);
    EXPECT_EQ(submit.integer("replace_if_present_flag"), 0);
    EXPECT_EQ(submit.integer("data_coding"), 0);
    EXPECT_EQ(submit.integer("sm_default_msg_id"), 0);
    EXPECT_EQ(submit.text("short_message_hex"), kTextOctets);
    EXPECT_EQ(submit.integer("sm_length"), 48);
    EXPECT_EQ(submit.text("optional_hex"), "");
    // The package's own GSM decoder gives the text back.
    EXPECT_EQ(submit.member("short_message").text("message"), kText);
    EXPECT_EQ(submit.integer("command_length"),
              static_cast<std::int64_t>(submit.text("pdu_hex").size() / 2));

    const auto unbinds = smsc->received("unbind");
    ASSERT_EQ(unbinds.size(), 1u) << transcript();
    EXPECT_EQ(unbinds[0].integer("command_length"), 16);

    // One request after the other, each with the next sequence number.
    EXPECT_EQ(submit.integer("sequence_number"), bind.integer("sequence_number") + 1);
    EXPECT_EQ(unbinds[0].integer("sequence_number"), submit.integer("sequence_number") + 1);

    // The message id is the one the SMSC answered with.
    const auto answers = smsc->sent("submit_sm_resp");
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].text("message_id"), "VTS000001");
    EXPECT_EQ(messageId, answers[0].text("message_id"));

    // Nothing else was sent: no enquire_link with the keep-alive off.
    std::size_t requests = 0;
    for (const Json& line : smsc->lines()) {
        requests += line.text("direction") == "in" ? 1 : 0;
    }
    EXPECT_EQ(requests, 3u) << transcript();
}

TEST_F(RelayInteropTest, ATextLongerThanAShortMessageIsCutAt160OctetsBetweenCharacters) {
    TtcSMSCRelaySMPP relay;
    relay.setKeepAlive(false);
    ASSERT_EQ(relay.Connect("127.0.0.1", smsc->port()), 0);
    ASSERT_EQ(relay.Bind(kSystemId, kPassword, 1, 1, "TCP", kTransmitter, kVersion, ""), 0);
    // 159 letters, then '[' (two octets: it does not fit), then more.
    const std::string text = std::string(159, 'x') + "[tail]";
    ASSERT_EQ(relay.SubmitMessage(Submit("123", 1, 1, "456", 1, 1, text), nullptr), 0)
        << transcript();
    ASSERT_EQ(relay.Unbind(), 0);
    relay.Disconnect();

    const auto submits = smsc->received("submit_sm");
    ASSERT_EQ(submits.size(), 1u) << transcript();
    EXPECT_EQ(submits[0].integer("sm_length"), 159);
    std::string letters;
    for (int i = 0; i < 159; ++i) {
        letters += "78";
    }
    EXPECT_EQ(submits[0].text("short_message_hex"), letters);
    EXPECT_EQ(submits[0].member("short_message").text("message"), std::string(159, 'x'));
    EXPECT_EQ(submits[0].integer("registered_delivery"), 0);
}

TEST_F(RelayInteropTest, KeepAliveEnquireLinksAreAnsweredAndTheLinkStaysBound) {
    TtcSMSCRelaySMPP relay;
    relay.SetKeepAliveInterval(150);
    relay.setKeepAlive(true);
    ASSERT_EQ(relay.Connect("127.0.0.1", smsc->port()), 0);
    ASSERT_EQ(relay.Bind(kSystemId, kPassword, 1, 1, "TCP", kTransmitter, kVersion, ""), 0);
    ASSERT_TRUE(smsc->waitFor(
        [&](const std::vector<Json>&) { return smsc->sent("enquire_link_resp").size() >= 2; }, 5s))
        << transcript();
    EXPECT_EQ(relay.state(), TtcSMSCRelaySMPP::Bound);
    EXPECT_EQ(relay.EnquireLink(), 0);
    std::string messageId;
    ASSERT_EQ(relay.SubmitMessage(Submit("123", 1, 1, "456", 1, 1, "still there"), &messageId), 0)
        << transcript();
    EXPECT_EQ(messageId, "VTS000001");
    ASSERT_EQ(relay.Unbind(), 0);
    relay.Disconnect();

    for (const Json& link : smsc->received("enquire_link")) {
        EXPECT_EQ(link.integer("command_length"), 16);
        EXPECT_EQ(link.integer("command_status"), 0);
    }
    // After the unbind the keep-alive is quiet.
    const std::size_t links = smsc->received("enquire_link").size();
    ASSERT_TRUE(closedByClient()) << transcript();
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(smsc->received("enquire_link").size(), links);
}

TEST_F(RelayInteropTest, AWrongPasswordIsRefusedWithStatus14AndTheRelayCanBindAgain) {
    TtcSMSCRelaySMPP relay;
    relay.setKeepAlive(false);
    ASSERT_EQ(relay.Connect("127.0.0.1", smsc->port()), 0);
    EXPECT_EQ(relay.Bind(kSystemId, "wrong", 1, 1, "TCP", kTransmitter, kVersion, "VantorOA"), 14);
    EXPECT_NE(relay.state(), TtcSMSCRelaySMPP::Bound);
    std::string messageId = "unchanged";
    EXPECT_EQ(relay.SubmitMessage(Submit("123", 1, 1, "456", 1, 1, "refused"), &messageId), -2);
    relay.Disconnect();
    EXPECT_EQ(relay.state(), TtcSMSCRelaySMPP::Disconnected);

    const auto refused = smsc->sent("bind_transmitter_resp");
    ASSERT_EQ(refused.size(), 1u) << transcript();
    EXPECT_EQ(refused[0].integer("command_status"), 0x0E);
    const auto binds = smsc->received("bind_transmitter");
    ASSERT_EQ(binds.size(), 1u) << transcript();
    EXPECT_EQ(binds[0].text("password"), "wrong");
    EXPECT_TRUE(smsc->received("submit_sm").empty());

    // The same relay, again, with the right password.
    ASSERT_EQ(relay.Connect("127.0.0.1", smsc->port()), 0);
    ASSERT_EQ(relay.Bind(kSystemId, kPassword, 1, 1, "TCP", kTransmitter, kVersion, "VantorOA"), 0)
        << transcript();
    ASSERT_EQ(relay.Unbind(), 0);
    relay.Disconnect();
    EXPECT_EQ(smsc->sent("bind_transmitter_resp").back().integer("command_status"), 0);
    ASSERT_TRUE(closedByClient(2)) << transcript();
}

alarm::SmsSettings SenderSettings(int port, const std::string& password) {
    alarm::SmsSettings s;
    s.host = "127.0.0.1";
    s.port = port;
    s.systemId = kSystemId;
    s.password = password;
    s.originator = "VantorOA";
    s.destination = "6591234567";
    s.bindTon = 0;
    s.bindNpi = 1;
    s.destTon = 1;
    s.destNpi = 6;
    s.origTon = 5;
    s.origNpi = 0;
    s.timeoutMs = 5000;
    return s;
}

TEST_F(RelayInteropTest, TheSmsSenderReportsARefusedBindAsERR00802WithTheSmscStatus) {
    alarm::ThreadSMS sms(SenderSettings(smsc->port(), "wrong"), "Service down");
    ASSERT_TRUE(sms.run());
    EXPECT_FALSE(sms.result().ok);
    EXPECT_EQ(sms.result().statusWord, "Error");
    EXPECT_EQ(sms.result().detail,
              "ERR00802 : SMPP Binding Failed, please make sure username, password, "
              "TON/NPI/System Type/Version/OA are correct. : 14");
    ASSERT_TRUE(closedByClient()) << transcript();
    EXPECT_EQ(smsc->received("bind_transmitter").size(), 1u);
    EXPECT_TRUE(smsc->received("submit_sm").empty());
    // Not bound, so nothing to unbind: the sender only disconnects.
    EXPECT_TRUE(smsc->received("unbind").empty());
}

TEST_F(RelayInteropTest, TheSmsSenderBindsSubmitsUnbindsAndDisconnects) {
    alarm::ThreadSMS sms(SenderSettings(smsc->port(), kPassword), "Service @web down_");
    ASSERT_TRUE(sms.run());
    EXPECT_TRUE(sms.result().ok) << sms.result().detail << "\n" << transcript();
    EXPECT_EQ(sms.result().statusWord, "Sent");
    ASSERT_TRUE(closedByClient()) << transcript();

    const auto binds = smsc->received("bind_transmitter");
    ASSERT_EQ(binds.size(), 1u) << transcript();
    EXPECT_EQ(binds[0].text("system_id"), "vantor");
    EXPECT_EQ(binds[0].text("password"), "secret");
    EXPECT_EQ(binds[0].text("system_type"), "TCP");
    EXPECT_EQ(binds[0].integer("interface_version"), 34);
    EXPECT_EQ(binds[0].integer("addr_ton"), 0);
    EXPECT_EQ(binds[0].integer("addr_npi"), 1);
    EXPECT_EQ(binds[0].text("address_range"), "VantorOA");

    const auto submits = smsc->received("submit_sm");
    ASSERT_EQ(submits.size(), 1u) << transcript();
    EXPECT_EQ(submits[0].integer("source_addr_ton"), 5);
    EXPECT_EQ(submits[0].integer("source_addr_npi"), 0);
    EXPECT_EQ(submits[0].text("source_addr"), "VantorOA");
    EXPECT_EQ(submits[0].integer("dest_addr_ton"), 1);
    EXPECT_EQ(submits[0].integer("dest_addr_npi"), 6);
    EXPECT_EQ(submits[0].text("destination_addr"), "6591234567");
    EXPECT_EQ(submits[0].integer("esm_class"), 0);
    EXPECT_EQ(submits[0].integer("registered_delivery"), 1);
    EXPECT_EQ(submits[0].integer("data_coding"), 0);
    EXPECT_EQ(submits[0].text("short_message_hex"), "53657276696365200077656220646f776e11");
    EXPECT_EQ(submits[0].integer("sm_length"), 18);
    EXPECT_EQ(smsc->received("unbind").size(), 1u);
}

}  // namespace
}  // namespace vantor::smppinterop
