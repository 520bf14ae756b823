// SPDX-License-Identifier: GPL-3.0-or-later
// The program itself raises an SMS alarm through the SMS centre: a service
// on a closed port fails its check, and `vantor-lite --check-now` sends the
// check's detail as a short message.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <sstream>

#include "InteropProcess.h"
#include "SmscServer.h"
#include "TestConfig.h"
#include "support/Process.h"
#include "support/TempDir.h"

namespace vantor::smppinterop {
namespace {

using namespace std::chrono_literals;

// GSM 03.38 octets of an ASCII text, one per character of the default
// alphabet and two (escape, code) per character of the extension table.
// Characters the alphabet lacks (only the grave accent among printable
// ASCII) stop the test: the text would not round-trip.
std::vector<std::uint8_t> GsmOctetsOfAscii(const std::string& text) {
    static const std::map<char, std::vector<std::uint8_t>> kDiffering = {
        {'@', {0x00}},        {'$', {0x02}},       {'_', {0x11}},       {'[', {0x1B, 0x3C}},
        {'\\', {0x1B, 0x2F}}, {']', {0x1B, 0x3E}}, {'^', {0x1B, 0x14}}, {'{', {0x1B, 0x28}},
        {'|', {0x20}},        {'}', {0x1B, 0x29}}, {'~', {0x1B, 0x3D}},
    };
    std::vector<std::uint8_t> out;
    for (char c : text) {
        if (const auto found = kDiffering.find(c); found != kDiffering.end()) {
            out.insert(out.end(), found->second.begin(), found->second.end());
            continue;
        }
        const auto code = static_cast<unsigned char>(c);
        if (code >= 0x80 || c == '`' || (code < 0x20 && c != '\n' && c != '\r')) {
            ADD_FAILURE() << "no GSM code for " << static_cast<int>(code) << " in " << text;
            continue;
        }
        out.push_back(code);
    }
    return out;
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, '\t');) {
        fields.push_back(field);
    }
    return fields;
}

std::string Element(const std::string& name, const std::string& value) {
    return "<" + name + ">" + value + "</" + name + ">";
}

class SmsAlarmProcessTest : public ::testing::Test {
protected:
    SmsAlarmProcessTest() {
        for (const char* sub : {"bin", "conf", "xdg", "run", "smsc"}) {
            ::mkdir(dir.file(sub).c_str(), 0700);
        }
    }

    void SetUp() override {
        try {
            smsc = std::make_unique<SmscServer>("vantor", "secret", dir.file("smsc"));
            closedPort = interop::FreePort();
        } catch (const std::exception& e) {
            FAIL() << e.what();
        }
    }

    // One SMTP service, started, alarming by SMS only.
    std::string writeService() const {
        const std::string key = "SMTP:127.0.0.1:" + std::to_string(closedPort);
        std::string xml =
            "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?><!DOCTYPE service>"
            "<serviceList><record key=\"" +
            key + "\">";
        xml += Element("service", "SMTP") + Element("ip", "127.0.0.1") +
               Element("port", std::to_string(closedPort)) + Element("username", "") +
               Element("password", "") + Element("schedule_by", "Daily") +
               Element("schedule_hour", "00") + Element("schedule_minute", "00") +
               Element("service_status", "Unknown") + Element("status", "Start") +
               Element("proxy_ip", "") + Element("proxy_port", "") + Element("proxy_username", "") +
               Element("proxy_password", "") + Element("url_method", "") +
               Element("ftp_proxytype", "") + Element("alarm_email", "n") +
               Element("alarm_smpp", "y") + Element("alarm_httpsms", "n") +
               Element("alarm_syslog", "n");
        xml += "</record></serviceList>\n";
        test::WriteFile(dir.file("conf/service.xml"), xml);
        return key;
    }

    void writeSettings() const {
        test::WriteFile(dir.file("conf/SysInit.ini"),
                        "[email]\nEmailDefaultTimeout=5000\nEmailRetry=0\n"
                        "[SMS Alarm]\nEnable=1\nIP=127.0.0.1\nPort=" +
                            std::to_string(smsc->port()) +
                            "\nOA=VantorOA\nAuthentication Enable=1\nUsername=vantor\n"
                            "Password=secret\nTON=2\nNPI=8\nDestTON=1\nDestNPI=6\n"
                            "OrigTON=5\nOrigNPI=0\nPhone=6591234567\nTimeout=5000\n");
    }

    std::unique_ptr<test::Process> start(const std::vector<std::string>& args) const {
        std::vector<std::string> argv{VANTOR_LITE_BINARY};
        argv.insert(argv.end(), args.begin(), args.end());
        return std::make_unique<test::Process>(
            argv, dir.file("bin"),
            std::map<std::string, std::string>{{"XDG_CONFIG_HOME", dir.file("xdg")},
                                               {"XDG_RUNTIME_DIR", dir.file("run")},
                                               {"HOME", dir.path()},
                                               {"TZ", "UTC"}});
    }

    test::TempDir dir;
    std::unique_ptr<SmscServer> smsc;
    int closedPort = 0;
};

TEST_F(SmsAlarmProcessTest, AFailedCheckSendsItsDetailAsAShortMessageThroughTheSmsc) {
    const std::string key = writeService();
    writeSettings();
    auto app = start({"--check-now"});
    const auto code = app->wait(60s);
    ASSERT_TRUE(code.has_value()) << app->out() << app->err();
    EXPECT_EQ(*code, 1) << app->out() << app->err();

    std::vector<std::string> lines;
    std::istringstream out(app->out());
    for (std::string line; std::getline(out, line);) {
        lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), 2u) << app->out() << app->err();
    const std::vector<std::string> service = Fields(lines[0]);
    ASSERT_EQ(service.size(), 3u) << lines[0];
    EXPECT_EQ(service[0], key);
    EXPECT_EQ(service[1], "Failed");
    const std::string& detail = service[2];
    ASSERT_FALSE(detail.empty());
    EXPECT_EQ(lines[1], "ALARM\tSMS\tSent\t6591234567") << app->err() << smsc->diagnostics();

    ASSERT_TRUE(smsc->waitFor([&](const std::vector<Json>&) {
        return smsc->events("close").size() >= 2;  // the port probe's and the program's
    })) << smsc->diagnostics();

    const auto binds = smsc->received("bind_transmitter");
    ASSERT_EQ(binds.size(), 1u) << smsc->diagnostics();
    EXPECT_EQ(binds[0].text("system_id"), "vantor");
    EXPECT_EQ(binds[0].text("password"), "secret");
    EXPECT_EQ(binds[0].text("system_type"), "TCP");
    EXPECT_EQ(binds[0].integer("interface_version"), 34);  // Version left at its default
    EXPECT_EQ(binds[0].integer("addr_ton"), 2);
    EXPECT_EQ(binds[0].integer("addr_npi"), 8);
    EXPECT_EQ(binds[0].text("address_range"), "VantorOA");

    const auto submits = smsc->received("submit_sm");
    ASSERT_EQ(submits.size(), 1u) << smsc->diagnostics();
    const Json& submit = submits[0];
    EXPECT_EQ(submit.text("service_type"), "");
    EXPECT_EQ(submit.integer("source_addr_ton"), 5);
    EXPECT_EQ(submit.integer("source_addr_npi"), 0);
    EXPECT_EQ(submit.text("source_addr"), "VantorOA");
    EXPECT_EQ(submit.integer("dest_addr_ton"), 1);
    EXPECT_EQ(submit.integer("dest_addr_npi"), 6);
    EXPECT_EQ(submit.text("destination_addr"), "6591234567");
    EXPECT_EQ(submit.integer("esm_class"), 0);
    EXPECT_EQ(submit.integer("registered_delivery"), 1);
    EXPECT_EQ(submit.integer("data_coding"), 0);

    const std::vector<std::uint8_t> octets = GsmOctetsOfAscii(detail);
    ASSERT_LE(octets.size(), 160u) << "the detail does not fit one short message: " << detail;
    EXPECT_EQ(submit.text("short_message_hex"), Hex(octets)) << detail;
    EXPECT_EQ(submit.integer("sm_length"), static_cast<std::int64_t>(octets.size()));
    EXPECT_EQ(submit.member("short_message").text("message"), detail);

    EXPECT_EQ(smsc->received("unbind").size(), 1u) << smsc->diagnostics();
}

}  // namespace
}  // namespace vantor::smppinterop
