// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the program itself, as an operator would, in a fresh application
// directory: <dir>/bin is the working directory and no per-user file exists,
// so the application directory is "..".
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <regex>
#include <sstream>
#include <thread>

#include "TestConfig.h"
#include "app/IniFile.h"
#include "app/TimeFormat.h"
#include "history/HistoryDb.h"
#include "registry/ServiceStore.h"
#include "support/FakeHttpServer.h"
#include "support/FakeServer.h"
#include "support/Gate.h"
#include "support/LocalSockets.h"
#include "support/Process.h"
#include "support/ServiceListFile.h"
#include "support/TempDir.h"

namespace vantor::app {
namespace {

using namespace std::chrono_literals;
using test::FileExists;
using test::ReadFile;
using test::ReplaceFile;
using test::WriteFile;

constexpr const char* kReady = "Vantor Lite is running without windows";

class HeadlessTest : public ::testing::Test {
protected:
    HeadlessTest() {
        ::mkdir(dir.file("bin").c_str(), 0755);
        ::mkdir(dir.file("xdg").c_str(), 0700);
        ::mkdir(dir.file("run").c_str(), 0700);
        ::mkdir(dir.file("tmp").c_str(), 0700);
    }

    std::unique_ptr<test::Process> start(std::vector<std::string> args = {"--headless"},
                                         const std::string& runtimeDir = "run",
                                         std::map<std::string, std::string> env = {}) {
        args.insert(args.begin(), VANTOR_LITE_BINARY);
        env.insert({{"XDG_CONFIG_HOME", dir.file("xdg")},
                    {"XDG_RUNTIME_DIR", runtimeDir.empty() ? "\x01unset" : dir.file(runtimeDir)},
                    {"TMPDIR", dir.file("tmp")},
                    {"HOME", dir.path()},
                    {"TZ", "UTC"}});
        return std::make_unique<test::Process>(args, dir.file("bin"), env);
    }

    // The program with its window, offscreen. With the help file there,
    // start-up shows no box that would wait.
    std::unique_ptr<test::Process> startWindow() {
        ::mkdir(dir.file("help").c_str(), 0755);
        WriteFile(dir.file("help/VantorLite.hlp"), "<html></html>");
        return start({}, "run", {{"QT_QPA_PLATFORM", "offscreen"}});
    }

    // Whether today's system log holds the text within the timeout.
    bool logShows(const std::string& text, std::chrono::milliseconds timeout = 20s) const {
        return test::Eventually(
            [&] { return ReadFile(todaysLog()).find(text) != std::string::npos; }, timeout);
    }

    std::string todaysLog() const {
        return dir.file("log/system_" + FormatDate(std::chrono::system_clock::now()) + ".log");
    }

    std::vector<std::string> logLines() const {
        std::vector<std::string> lines;
        std::istringstream in(ReadFile(todaysLog()));
        for (std::string line; std::getline(in, line);) {
            EXPECT_TRUE(!line.empty() && line.back() == '\r') << "lines end with CR LF";
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            lines.push_back(line);
        }
        return lines;
    }

    test::TempDir dir;
};

std::vector<std::string> SectionsOf(const std::string& ini) {
    std::vector<std::string> sections;
    std::istringstream in(ini);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.front() == '[') {
            sections.push_back(line.substr(1, line.find(']') - 1));
        }
    }
    return sections;
}

TEST_F(HeadlessTest, FirstRunCreatesItsFilesRefusesASecondInstanceAndStopsCleanly) {
    // What writes killed in a last run left: gone at start, all else kept.
    ::mkdir(dir.file("conf").c_str(), 0700);
    const std::vector<std::string> stale = {"conf/.service.xml.tmp-Ab12Cd",
                                            "conf/.SysInit.ini.tmp-Zz99Yy"};
    const std::vector<std::string> kept = {"conf/.service.xml.tmp-Ab12Cd7",
                                           "conf/service.xml.tmp-Ab12Cd", "conf/notes.txt"};
    for (const auto& name : stale) {
        WriteFile(dir.file(name), "<serviceList><password>old</password></serviceList>");
    }
    for (const auto& name : kept) {
        WriteFile(dir.file(name), "keep");
    }
    auto first = start();
    ASSERT_TRUE(first->waitForOutput(kReady, 20s)) << first->err();
    for (const auto& name : stale) {
        EXPECT_FALSE(FileExists(dir.file(name))) << name;
    }
    for (const auto& name : kept) {
        EXPECT_EQ(ReadFile(dir.file(name)), "keep") << name;
    }
    EXPECT_EQ(ReadFile(dir.file("conf/service.xml")),
              "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?><!DOCTYPE service>"
              "<serviceList></serviceList>");
    EXPECT_TRUE(FileExists(todaysLog()));
    EXPECT_NE(first->err().find("Warning: ERR00003 : Help file not found."), std::string::npos);

    auto second = start();
    const auto started = std::chrono::steady_clock::now();
    const auto secondCode = second->wait(10s);
    ASSERT_TRUE(secondCode.has_value());
    EXPECT_NE(*secondCode, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    EXPECT_NE(second->err().find("ERR00001 : The application is already startup."),
              std::string::npos)
        << second->err();

    first->signal(SIGTERM);
    ASSERT_EQ(first->wait(20s), 0) << first->err();

    const std::string ini = ReadFile(dir.file("conf/SysInit.ini"));
    EXPECT_EQ(SectionsOf(ini),
              (std::vector<std::string>{"System", "http", "ping", "db", "ftp", "email",
                                        "System Log", "Alarm Msg File Backup", "SMTP Alarm",
                                        "SMS Alarm", "HTTP-SMS Alarm", "SysLog Alarm"}));
    const IniFile saved = IniFile::parse(ini);
    EXPECT_EQ(saved.readString("System", "WindowWidth", ""), "1024");
    EXPECT_EQ(saved.readString("SMS Alarm", "Port", ""), "50111");
    EXPECT_EQ(saved.readString("Alarm Msg File Backup", "FilenamePath", ""), "../log/");
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("conf/SysInit.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    const auto lines = logLines();
    ASSERT_GE(lines.size(), 2u);
    const std::regex stamp(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} .*)");
    for (const auto& line : lines) {
        EXPECT_TRUE(std::regex_match(line, stamp)) << line;
    }
    EXPECT_EQ(lines.front().substr(20), "[WARMING] ERR00003 : Help file not found.");
    EXPECT_EQ(lines.back().substr(20), "[INFO] Application stops.");
}

TEST_F(HeadlessTest, SettingsAreCorrectedAndWrittenBackOnShutdown) {
    ::mkdir(dir.file("conf").c_str(), 0700);
    WriteFile(dir.file("conf/SysInit.ini"),
              "[System]\nWindowWidth=-5\n[http]\nHTTPRetry=2\nHTTPDefaultTimeout=abc\n"
              "[ping]\nPingDefaultTimeout=0x10\n[System Log]\nHouseKeepDay=0\n"
              "[SMTP Alarm]\nPassword=s3cr3t pass\n[SysLog Alarm]\nFacility=uucp\n");
    auto app = start();
    ASSERT_TRUE(app->waitForOutput(kReady, 20s)) << app->err();
    app->signal(SIGINT);
    ASSERT_EQ(app->wait(20s), 0) << app->err();
    const IniFile saved = IniFile::parse(ReadFile(dir.file("conf/SysInit.ini")));
    EXPECT_EQ(saved.readString("System", "WindowWidth", ""), "1024");
    EXPECT_EQ(saved.readString("http", "HTTPRetry", ""), "0");
    EXPECT_EQ(saved.readString("System Log", "HouseKeepDay", ""), "7");
    EXPECT_EQ(saved.readString("SysLog Alarm", "Facility", ""), "Kernel");
    EXPECT_EQ(saved.readString("http", "HTTPDefaultTimeout", ""), "10000");
    EXPECT_EQ(saved.readString("ping", "PingDefaultTimeout", ""), "16");
    EXPECT_EQ(saved.readString("SMTP Alarm", "Password", ""), "s3cr3t pass");
}

// An empty log file prefix becomes "system_" with the first line written, and
// the corrected prefix is saved whether or not the run had logged before.
TEST_F(HeadlessTest, AnEmptyLogPrefixIsResetAndSavedInBothModes) {
    for (const std::string mode : {"--headless", "--check-now"}) {
        SCOPED_TRACE(mode);
        ::mkdir(dir.file("conf").c_str(), 0700);
        WriteFile(dir.file("conf/SysInit.ini"), "[System Log]\nFilename=\n");
        auto app = start({mode});
        if (mode == "--headless") {
            ASSERT_TRUE(app->waitForOutput(kReady, 20s)) << app->err();
            app->signal(SIGTERM);
        }
        ASSERT_EQ(app->wait(20s), 0) << app->err();
        const IniFile saved = IniFile::parse(ReadFile(dir.file("conf/SysInit.ini")));
        EXPECT_EQ(saved.readString("System Log", "Filename", "<none>"), "system_");
        ASSERT_FALSE(logLines().empty());
        EXPECT_EQ(logLines().back().substr(20), "[INFO] Application stops.");
    }
}

TEST_F(HeadlessTest, ACorruptServiceListEndsStartUpAndIsNotTouched) {
    ::mkdir(dir.file("conf").c_str(), 0700);
    const std::string broken = "<serviceList><record key=\"a\"><ip>x</ip></serviceList";
    WriteFile(dir.file("conf/service.xml"), broken);
    auto app = start();
    ASSERT_EQ(app->wait(20s), 1);
    EXPECT_NE(app->err().find("Error: ERR00601 : The service.xml file is corrupted. : "),
              std::string::npos)
        << app->err();
    EXPECT_EQ(ReadFile(dir.file("conf/service.xml")), broken);
    const auto lines = logLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().substr(20), "[ERROR] ERR00601 : The service.xml file is corrupted.");
}

TEST_F(HeadlessTest, TheApplicationDirectoryComesFromThePerUserFile) {
    test::TempDir appDir;
    ::mkdir(dir.file("xdg/korvane").c_str(), 0700);
    WriteFile(dir.file("xdg/korvane/VantorLite.conf"),
              "[Settings]\nAppPath=" + appDir.path() + "\n");
    auto app = start();
    ASSERT_TRUE(app->waitForOutput(kReady, 20s)) << app->err();
    app->signal(SIGTERM);
    ASSERT_EQ(app->wait(20s), 0);
    EXPECT_TRUE(FileExists(appDir.file("conf/service.xml")));
    EXPECT_TRUE(FileExists(appDir.file("conf/SysInit.ini")));
    EXPECT_FALSE(FileExists(dir.file("conf")));
}

TEST_F(HeadlessTest, AMissingLogDirectoryThatCannotBeMadeEndsStartUp) {
    WriteFile(dir.file("file"), "x");
    ::mkdir(dir.file("xdg/korvane").c_str(), 0700);
    WriteFile(dir.file("xdg/korvane/VantorLite.conf"),
              "[Settings]\nAppPath=" + dir.file("file") + "\n");
    auto app = start();
    ASSERT_EQ(app->wait(20s), 1);
    EXPECT_EQ(app->err(), "Error: ERR00205 : System log directory not found.\n");
}

// Results reach the file through a writer thread. A kill at any moment of a
// burst of results leaves service.xml whole with every record; a clean end
// leaves every result on disk. 1,000 services, or as many as
// VANTOR_KILL_TEST_SERVICES asks for (a soak of a large list by hand).
TEST_F(HeadlessTest, AKillInABurstOfResultsLosesNoRecordAndACleanEndNoResult) {
    test::ClosedPort closed;
    const std::string port = std::to_string(closed.port());
    const char* asked = std::getenv("VANTOR_KILL_TEST_SERVICES");
    const std::size_t kServices = asked != nullptr && std::atoi(asked) > 0
                                      ? static_cast<std::size_t>(std::atoi(asked))
                                      : 1000;
    std::vector<test::ServiceEntry> entries(kServices);
    for (std::size_t i = 0; i < kServices; ++i) {
        entries[i].ip = "http://127.0.0.1:" + port + "/s" + std::to_string(i);
        entries[i].port = port;
    }
    ::mkdir(dir.file("conf").c_str(), 0700);
    WriteFile(dir.file("conf/service.xml"), test::ServiceListXml(entries));
    auto storedResults = [&](std::size_t& records) {
        registry::ServiceStore store(dir.file("conf/service.xml"));
        const Status opened = store.OpenServiceFile(true);
        EXPECT_TRUE(opened) << opened.error();
        records = store.recordCount();
        std::size_t failed = 0;
        store.forEachRecord([&](const registry::ServiceRecord& r) {
            failed += r.text("service_status") == std::string_view("Failed") ? 1 : 0;
        });
        return failed;
    };

    std::mt19937 random(20261209);
    // The kills fall within the first 0.75 s of a run of 1,000 services, in
    // a window as much longer as the list is (20 s at most), so that a large
    // list is killed while its results are written too.
    const auto killWindowMs =
        static_cast<std::uint32_t>(std::clamp<std::size_t>(kServices * 7 / 10, 700, 20000));
    std::size_t lastResults = 0;
    for (int round = 0; round < 25; ++round) {
        auto run = start({"--check-now"});
        std::this_thread::sleep_for(std::chrono::milliseconds(50 + random() % killWindowMs));
        run->signal(SIGKILL);
        run->wait(20s);
        std::size_t records = 0;
        lastResults = storedResults(records);
        ASSERT_EQ(records, kServices) << "round " << round;
    }
    EXPECT_GT(lastResults, 0u) << "results were written before the kills";

    auto run = start({"--check-now"});
    ASSERT_EQ(run->wait(300s), 1) << run->err();
    std::size_t records = 0;
    EXPECT_EQ(storedResults(records), kServices);
}

// URL services on this port, each with the syslog alarm asked for.
// The ALARM lines of a --check-now run's output.
std::size_t AlarmLines(const std::string& out) {
    std::size_t lines = 0;
    for (auto at = out.find("ALARM\t"); at != std::string::npos; at = out.find("ALARM\t", at + 1)) {
        ++lines;
    }
    return lines;
}

std::vector<test::ServiceEntry> UrlServices(int port, std::size_t count) {
    std::vector<test::ServiceEntry> entries(count);
    for (std::size_t i = 0; i < count; ++i) {
        entries[i].ip = "http://127.0.0.1:" + std::to_string(port) + "/s" + std::to_string(i);
        entries[i].port = std::to_string(port);
        entries[i].alarmSyslog = "y";
    }
    return entries;
}

// One URL service on this port, due every minute, without an alarm.
std::vector<test::ServiceEntry> OneMinutelyService(int port) {
    auto services = UrlServices(port, 1);
    services[0].alarmSyslog = "n";
    services[0].scheduleBy = "Minutely";
    services[0].scheduleMinute = "1";
    return services;
}

TEST_F(HeadlessTest, ResultsThatCannotBeWrittenAreLoggedOnceAndTheEndSaysSoInItsStatus) {
    test::FakeHttpServer server(
        test::FakeHttpServer::Delayed(test::HttpResponse("HTTP/1.1 200 OK"), 3s));
    ::mkdir(dir.file("conf").c_str(), 0700);
    auto services = OneMinutelyService(server.port());
    WriteFile(dir.file("conf/service.xml"), test::ServiceListXml(services));
    auto app = start();
    ASSERT_TRUE(app->waitForOutput(kReady, 20s)) << app->err();
    ASSERT_TRUE(test::Eventually([&] { return server.connections() == 1; }, 10s));
    // The list goes while its check runs: the result has nowhere to go.
    ASSERT_EQ(::unlink(dir.file("conf/service.xml").c_str()), 0);
    ASSERT_EQ(::symlink("../gone/service.xml", dir.file("conf/service.xml").c_str()), 0);
    const std::string failure = "[ERROR] ERR00603 : Cannot save service.xml file. : ";
    ASSERT_TRUE(logShows(failure, 10s));
    std::this_thread::sleep_for(3s);

    app->signal(SIGTERM);
    EXPECT_EQ(app->wait(20s), 1) << app->err();
    const auto lines = logLines();
    const auto told = std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
        return line.find(failure) != std::string::npos;
    });
    EXPECT_EQ(told, 2) << "once while it ran, once for the final save";
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().substr(20), "[INFO] Application stops.");
}

TEST_F(HeadlessTest, CheckNowPrintsEveryAlarmItRaisedNotOnlyTheListsNewest) {
    test::ClosedPort closed;
    test::UdpReceiver syslog;
    ::mkdir(dir.file("conf").c_str(), 0700);
    WriteFile(dir.file("conf/service.xml"), test::ServiceListXml(UrlServices(closed.port(), 120)));
    WriteFile(dir.file("conf/SysInit.ini"),
              "[System]\r\nShowLogItem=100\r\n[http]\r\nHTTPRetry=0\r\n"
              "[SysLog Alarm]\r\nEnable=1\r\nIP=127.0.0.1\r\nPort=" +
                  std::to_string(syslog.port()) + "\r\n");
    auto run = start({"--check-now"});
    ASSERT_EQ(run->wait(120s), 1) << run->err();
    std::size_t sent = 0;
    for (std::size_t at = run->out().find("ALARM\tSysLog\tSent\t"); at != std::string::npos;
         at = run->out().find("ALARM\tSysLog\tSent\t", at + 1)) {
        ++sent;
    }
    EXPECT_EQ(sent, 120u) << run->out();

    // The same with a history that cannot be kept (a file where its folder
    // should be): every check and alarm as before, and one line that says
    // why there is no history.
    std::filesystem::remove_all(dir.file("history"));
    WriteFile(dir.file("history"), "not a folder");
    auto again = start({"--check-now"});
    ASSERT_EQ(again->wait(120s), 1) << again->err();
    sent = 0;
    for (std::size_t at = again->out().find("ALARM\tSysLog\tSent\t"); at != std::string::npos;
         at = again->out().find("ALARM\tSysLog\tSent\t", at + 1)) {
        ++sent;
    }
    EXPECT_EQ(sent, 120u) << again->out();
    const std::string log = ReadFile(todaysLog());
    const auto said = log.find("[ERROR] History is not kept: ");
    EXPECT_NE(said, std::string::npos) << log;
    EXPECT_EQ(log.find("History is not kept", said + 30), std::string::npos) << "once";
}

TEST_F(HeadlessTest, CheckNowRunsFollowTheAlarmPolicyAcrossRestarts) {
    test::ClosedPort closed;
    test::UdpReceiver syslog;
    ::mkdir(dir.file("conf").c_str(), 0700);
    auto services = UrlServices(closed.port(), 2);
    // The second has a policy of its own.
    services[1].optional = "<alarm_on>EveryFailure</alarm_on><fail_after>3</fail_after>";
    WriteFile(dir.file("conf/service.xml"), test::ServiceListXml(services));
    const std::string ini =
        "[http]\r\nHTTPRetry=0\r\n[SysLog Alarm]\r\nEnable=1\r\nIP=127.0.0.1\r\nPort=" +
        std::to_string(syslog.port()) + "\r\n[AlarmPolicy]\r\nAlarmOn=OnChange\r\nFailAfter=2\r\n";
    WriteFile(dir.file("conf/SysInit.ini"), ini);
    // Each run is a new process: what came before comes from the history.
    std::vector<std::size_t> alarmsPerRun;
    for (int run = 0; run < 3; ++run) {
        auto p = start({"--check-now"});
        ASSERT_EQ(p->wait(60s), 1) << p->err();
        EXPECT_NE(p->out().find("Alarm policy: AlarmOn OnChange, FailAfter 2\nAlarm policy of " +
                                services[1].key() + ": FailAfter 3\n"),
                  std::string::npos)
            << p->out();
        alarmsPerRun.push_back(AlarmLines(p->out()));
    }
    // The first failure is below the threshold, the second alarms, the
    // third is the same outage; the second service alarms from its third
    // failure on.
    EXPECT_EQ(alarmsPerRun, (std::vector<std::size_t>{0, 1, 1}));
    EXPECT_NE(ReadFile(dir.file("conf/SysInit.ini"))
                  .find("[AlarmPolicy]\r\nAlarmOn=OnChange\r\nFailAfter=2\r\n"),
              std::string::npos);
}

// Only a service's own policy counts verdicts: its state still comes back
// from the history at each start.
TEST_F(HeadlessTest, AServicesOwnPolicyIsTakenUpAcrossRestartsUnderTheDefaultOne) {
    test::ClosedPort closed;
    test::UdpReceiver syslog;
    ::mkdir(dir.file("conf").c_str(), 0700);
    auto services = UrlServices(closed.port(), 1);
    services[0].optional = "<alarm_on>OnChange</alarm_on><fail_after>2</fail_after>";
    WriteFile(dir.file("conf/service.xml"), test::ServiceListXml(services));
    WriteFile(dir.file("conf/SysInit.ini"),
              "[http]\r\nHTTPRetry=0\r\n[SysLog Alarm]\r\nEnable=1\r\nIP=127.0.0.1\r\nPort=" +
                  std::to_string(syslog.port()) + "\r\n");
    std::vector<std::size_t> alarmsPerRun;
    for (int run = 0; run < 3; ++run) {
        auto p = start({"--check-now"});
        ASSERT_EQ(p->wait(60s), 1) << p->err();
        EXPECT_EQ(p->out().find("Alarm policy: "), std::string::npos) << p->out();
        EXPECT_NE(p->out().find("Alarm policy of " + services[0].key() +
                                ": AlarmOn OnChange, FailAfter 2\n"),
                  std::string::npos)
            << p->out();
        alarmsPerRun.push_back(AlarmLines(p->out()));
    }
    EXPECT_EQ(alarmsPerRun, (std::vector<std::size_t>{0, 1, 0}));
}

// A hand-edited key with a line break, tabs and a C1 escape would forge
// lines and fields of the output: each result stays one line of three
// fields.
TEST_F(HeadlessTest, CheckNowPrintsEachResultAsOneLineWhateverTheRecordHolds) {
    test::ClosedPort closed;
    auto services = UrlServices(closed.port(), 1);
    services[0].ip += "@CRLF@URL:forged@TAB@Passed@TAB@@CSI@2J";
    std::string xml = test::ServiceListXml(services);
    for (const auto& [mark, text] : {std::pair<std::string, std::string>{"@CRLF@", "&#13;&#10;"},
                                     {"@TAB@", "&#9;"},
                                     {"@CSI@", "\xc2\x9b"}}) {
        for (auto at = xml.find(mark); at != std::string::npos; at = xml.find(mark, at)) {
            xml.replace(at, mark.size(), text);
        }
    }
    ::mkdir(dir.file("conf").c_str(), 0700);
    WriteFile(dir.file("conf/service.xml"), xml);
    WriteFile(dir.file("conf/SysInit.ini"), "[http]\r\nHTTPRetry=0\r\n");
    auto run = start({"--check-now"});
    ASSERT_EQ(run->wait(30s), 1) << run->err();
    const std::string& out = run->out();
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\t'), 2) << out;
    EXPECT_EQ(out.find('\r'), std::string::npos);
    EXPECT_EQ(out.find("\xc2\x9b"), std::string::npos);
    EXPECT_EQ(out.find("\tPassed\t"), std::string::npos);
    const std::string port = std::to_string(closed.port());
    EXPECT_EQ(out.rfind("URL:http://127.0.0.1:" + port + "/s0  URL:forged Passed  2J:" + port +
                            "\tFailed\t",
                        0),
              0u)
        << out;
}

// A record that cannot be dispatched (its port is not a number) is
// reported, and the services after it are checked in their minute.
TEST_F(HeadlessTest, TheServicesAfterARecordThatCannotBeDispatchedAreCheckedInTheirMinute) {
    test::ClosedPort closed;
    test::ServiceEntry ping;
    ping.service = "Ping";
    ping.ip = "127.0.0.1";
    ping.port = "abc";
    auto services = UrlServices(closed.port(), 1);
    services.insert(services.begin(), ping);
    for (auto& s : services) {
        s.scheduleBy = "Minutely";
        s.scheduleMinute = "1";
    }
    ::mkdir(dir.file("conf").c_str(), 0700);
    WriteFile(dir.file("conf/service.xml"), test::ServiceListXml(services));
    WriteFile(dir.file("conf/SysInit.ini"), "[http]\r\nHTTPRetry=0\r\n");
    auto app = start();
    ASSERT_TRUE(app->waitForOutput(kReady, 20s)) << app->err();
    EXPECT_TRUE(test::Eventually([&] {
        return ReadFile(dir.file("conf/service.xml"))
                   .find("<service_status>Failed</service_status>") != std::string::npos;
    })) << "the URL service was checked";
    app->signal(SIGTERM);
    ASSERT_EQ(app->wait(20s), 0) << app->err();
    EXPECT_NE(app->err().find("Error: ERROR : "), std::string::npos) << app->err();
    EXPECT_NE(app->err().find(" : 'abc' is not a valid integer value\n"), std::string::npos)
        << app->err();
    EXPECT_TRUE(logShows("'abc' is not a valid integer value", 1s));
}

TEST_F(HeadlessTest, AnInterruptedCheckNowNeverReportsSuccess) {
    // Answers nothing: every check waits for its time limit.
    test::FakeServer silent([](test::FakeConnection& c) { c.waitForClose(30s); });
    ::mkdir(dir.file("conf").c_str(), 0700);
    WriteFile(dir.file("conf/service.xml"), test::ServiceListXml(UrlServices(silent.port(), 3)));
    WriteFile(dir.file("conf/SysInit.ini"), "[http]\r\nHTTPDefaultTimeout=3000\r\nHTTPRetry=0\r\n");
    auto run = start({"--check-now"});
    ASSERT_TRUE(test::Eventually([&] { return silent.connections() == 3; }, 10s));
    run->signal(SIGTERM);
    EXPECT_EQ(run->wait(30s), 3) << "interrupted: " << run->err();
    EXPECT_EQ(std::count(run->out().begin(), run->out().end(), '\n'), 3);
    EXPECT_EQ(run->out().find("Passed"), std::string::npos);
    EXPECT_NE(run->out().find("\tNot checked\t"), std::string::npos) << run->out();
}

TEST_F(HeadlessTest, OneInstancePerApplicationDirectoryAndAPrivateFallbackLock) {
    ::mkdir(dir.file("run2").c_str(), 0700);
    auto first = start();
    ASSERT_TRUE(first->waitForOutput(kReady, 20s)) << first->err();
    // Another runtime directory, or none, does not make a second instance
    // on the same files.
    for (const std::string runtime : {"run2", ""}) {
        auto second = start({"--headless"}, runtime);
        EXPECT_EQ(second->wait(20s), 1);
        EXPECT_NE(second->err().find("Warning: ERR00001 : The application is already startup."),
                  std::string::npos)
            << second->err();
    }
    first->signal(SIGTERM);
    ASSERT_EQ(first->wait(20s), 0);

    // Without a runtime directory the lock lives in a directory of our own.
    const std::string own = dir.file("tmp/vantor-lite-" + std::to_string(::getuid()));
    struct stat st {};
    ASSERT_EQ(::stat(own.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // One that others may write into is not ours to trust: that is said as
    // it is, not taken for a running instance.
    ::chmod(own.c_str(), 0777);
    auto refused = start({"--check-now"}, "");
    EXPECT_EQ(refused->wait(20s), 2);
    EXPECT_NE(refused->err().find("Error: The lock directory " + own), std::string::npos)
        << refused->err();
}

// Another user may make the predictable fallback directory first: the
// program then goes without the per-user lock, and the application
// directory's own lock still keeps a second instance off its files.
TEST_F(HeadlessTest, AFallbackLockDirectoryOfAnotherUserDoesNotStopTheProgram) {
    if (::getuid() != 0) {
        GTEST_SKIP() << "a directory of another user needs root to make";
    }
    const std::string taken = dir.file("tmp/vantor-lite-" + std::to_string(::getuid()));
    ASSERT_EQ(::mkdir(taken.c_str(), 0777), 0);
    ASSERT_EQ(::chown(taken.c_str(), 65534, 65534), 0);
    auto first = start({"--headless"}, "");
    ASSERT_TRUE(first->waitForOutput(kReady, 20s)) << first->err();
    auto second = start({"--check-now"}, "");
    EXPECT_EQ(second->wait(20s), 2);
    EXPECT_NE(second->err().find("Warning: ERR00001 : The application is already startup."),
              std::string::npos)
        << second->err();
    first->signal(SIGTERM);
    ASSERT_EQ(first->wait(20s), 0) << first->err();
}

// The installed program's application directory holds passwords: one that
// belongs to another user is not used.
TEST_F(HeadlessTest, AnInstalledProgramRefusesAnApplicationDirectoryOfAnotherUser) {
    if (::getuid() != 0) {
        GTEST_SKIP() << "a directory of another user needs root to make";
    }
    // Installed: no build tree above its bin/.
    std::filesystem::create_directories(dir.file("usr/bin"));
    const std::string program = dir.file("usr/bin/vantor-lite");
    std::filesystem::copy_file(VANTOR_LITE_BINARY, program);
    ::chmod(program.c_str(), 0755);
    const std::string appDir = dir.file(".local/share/vantor-lite");
    std::filesystem::create_directories(appDir);
    ASSERT_EQ(::chown(appDir.c_str(), 65534, 65534), 0);
    test::Process run({program, "--check-now"}, dir.file("bin"),
                      {{"XDG_CONFIG_HOME", dir.file("xdg")},
                       {"XDG_DATA_HOME", "\x01unset"},
                       {"XDG_RUNTIME_DIR", dir.file("run")},
                       {"HOME", dir.path()},
                       {"TZ", "UTC"}});
    EXPECT_EQ(run.wait(20s), 2);
    EXPECT_EQ(run.err(), "Error: The application directory " + appDir +
                             " is not a directory of this user's own\n");
    EXPECT_FALSE(FileExists(appDir + "/conf"));
    EXPECT_FALSE(FileExists(appDir + "/log"));
}

TEST_F(HeadlessTest, StopSignalsAreHeardFromTheStartAndASecondOneEndsTheWaitForChecks) {
    // A start-up that hangs (its first log line goes to a pipe that no one
    // reads) still stops.
    ::mkdir(dir.file("conf").c_str(), 0700);
    ::mkdir(dir.file("log").c_str(), 0700);
    ASSERT_EQ(::mkfifo(todaysLog().c_str(), 0600), 0);
    auto hung = start();
    std::this_thread::sleep_for(500ms);
    hung->signal(SIGTERM);
    EXPECT_EQ(hung->wait(10s), 1);
    EXPECT_NE(hung->err().find("stopped by a signal during start-up"), std::string::npos)
        << hung->err();
    ::unlink(todaysLog().c_str());

    // A check that waits a minute for its answer: the first signal waits for
    // it, a second one does not.
    test::FakeServer silent([](test::FakeConnection& c) { c.waitForClose(90s); });
    auto services = UrlServices(silent.port(), 1);
    services[0].scheduleBy = "Minutely";
    services[0].scheduleMinute = "1";
    WriteFile(dir.file("conf/service.xml"), test::ServiceListXml(services));
    WriteFile(dir.file("conf/SysInit.ini"), "[http]\r\nHTTPDefaultTimeout=60000\r\n");
    auto app = start();
    ASSERT_TRUE(app->waitForOutput(kReady, 20s)) << app->err();
    ASSERT_TRUE(test::Eventually([&] { return silent.connections() == 1; }, 10s));
    app->signal(SIGTERM);
    std::this_thread::sleep_for(1s);
    app->signal(SIGTERM);
    EXPECT_EQ(app->wait(10s), 0) << "the second signal ends the wait at once";
    const auto lines = logLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.back().find("Application stops."), std::string::npos) << lines.back();
}

TEST_F(HeadlessTest, FilesEditedWhileItRunsAreTakenInOnSignalAndBeforeTheyAreWritten) {
    test::ClosedPort closed;
    auto services = UrlServices(closed.port(), 1);
    ::mkdir(dir.file("conf").c_str(), 0700);
    WriteFile(dir.file("conf/service.xml"), test::ServiceListXml(services));
    auto app = start();
    ASSERT_TRUE(app->waitForOutput(kReady, 20s)) << app->err();

    // A service added by hand, then SIGHUP.
    services.push_back(services[0]);
    services[1].ip += "/by-hand";
    WriteFile(dir.file("conf/service.xml"), test::ServiceListXml(services));
    app->signal(SIGHUP);
    ASSERT_TRUE(test::Eventually([&] {
        return ReadFile(todaysLog())
                   .find("service.xml was changed on disk and has been reloaded.") !=
               std::string::npos;
    }));
    // A setting changed by hand survives the save at the stop.
    IniFile ini = IniFile::parse(ReadFile(dir.file("conf/SysInit.ini")));
    ini.writeString("SMTP Alarm", "IP", "192.0.2.25");
    WriteFile(dir.file("conf/SysInit.ini"), ini.serialize());
    app->signal(SIGTERM);
    ASSERT_EQ(app->wait(20s), 0);

    EXPECT_NE(ReadFile(dir.file("conf/service.xml")).find(services[1].ip), std::string::npos);
    EXPECT_EQ(
        IniFile::parse(ReadFile(dir.file("conf/SysInit.ini"))).readString("SMTP Alarm", "IP", ""),
        "192.0.2.25");
    EXPECT_NE(ReadFile(todaysLog()).find("SysInit.ini was changed on disk and has been reloaded."),
              std::string::npos);
}

// An editor's save caught half-way, then its whole save with one more
// record: the results are written again and the new record is checked.
TEST_F(HeadlessTest, AHalfWrittenSaveStopsNothingOnceTheWholeOneFollows) {
    test::FakeHttpServer server(
        test::FakeHttpServer::Delayed(test::HttpResponse("HTTP/1.1 200 OK"), 1500ms));
    ::mkdir(dir.file("conf").c_str(), 0700);
    auto services = OneMinutelyService(server.port());
    WriteFile(dir.file("conf/service.xml"), test::ServiceListXml(services));
    auto app = start();
    ASSERT_TRUE(app->waitForOutput(kReady, 20s)) << app->err();
    ASSERT_TRUE(test::Eventually([&] { return server.connections() == 1; }, 10s));

    services.push_back(services[0]);
    services[1].ip = server.url("/added");
    const std::string whole = test::ServiceListXml(services);
    // One version half written, then the whole one, each in one step: a
    // reader that looked between the steps of an in-place write would see
    // a third (empty) version, and tell it too.
    ReplaceFile(dir.file("conf/service.xml"), whole.substr(0, whole.size() / 2));
    std::this_thread::sleep_for(2500ms);  // the first result comes meanwhile
    ReplaceFile(dir.file("conf/service.xml"), whole);
    const auto saved = std::chrono::steady_clock::now();
    ASSERT_TRUE(test::Eventually(
        [&] {
            return ReadFile(dir.file("conf/service.xml")).find(">Passed<") != std::string::npos;
        },
        5s));
    EXPECT_LT(std::chrono::steady_clock::now() - saved, 2s) << "results on disk again";
    EXPECT_TRUE(test::Eventually(
        [&] {
            const auto seen = server.requestsNow();
            return std::any_of(seen.begin(), seen.end(),
                               [](const auto& r) { return r.target == "/added"; });
        },
        65s))
        << "the added record is checked in its minute";

    app->signal(SIGTERM);
    ASSERT_EQ(app->wait(20s), 0) << app->err();
    const std::string stored = ReadFile(dir.file("conf/service.xml"));
    EXPECT_NE(stored.find(services[1].ip), std::string::npos);
    const auto lines = logLines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) {
                                return line.find("[ERROR]") != std::string::npos;
                            }),
              1)
        << "the half-written save is told once:\n"
        << ReadFile(todaysLog());
}

TEST_F(HeadlessTest, TheWindowStartsOffscreenAndAStopSignalClosesItAsItsCloseButtonDoes) {
    auto gui = startWindow();
    // The splash, then the start-up timer switches scheduling on.
    ASSERT_TRUE(test::Eventually(
        [&] {
            return ReadFile(todaysLog()).find("Service scheduling starts.") != std::string::npos;
        },
        20s))
        << gui->err();
    gui->signal(SIGTERM);
    ASSERT_EQ(gui->wait(20s), 0) << gui->err();
    const auto lines = logLines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 2].substr(20), "[INFO] Service scheduling stops.");
    EXPECT_EQ(lines.back().substr(20), "[INFO] Application stops.");
    // A first run on a screen narrower than 1024 pixels (the offscreen
    // platform's is 800 x 600): 800 x 572, kept for the next start.
    const IniFile saved = IniFile::parse(ReadFile(dir.file("conf/SysInit.ini")));
    EXPECT_EQ(saved.readString("System", "WindowWidth", ""), "800");
    EXPECT_EQ(saved.readString("System", "WindowHeight", ""), "572");
}

TEST_F(HeadlessTest, OnSighupTheWindowTakesItsFilesInAndGoesOn) {
    test::ClosedPort closed;
    auto services = UrlServices(closed.port(), 1);
    // Never due: no write of results takes the edit in first.
    services[0].scheduleHour = "99";
    ::mkdir(dir.file("conf").c_str(), 0700);
    WriteFile(dir.file("conf/service.xml"), test::ServiceListXml(services));
    auto gui = startWindow();
    ASSERT_TRUE(logShows("Service scheduling starts.")) << gui->err();

    services.push_back(services[0]);
    services[1].ip += "/by-hand";
    WriteFile(dir.file("conf/service.xml"), test::ServiceListXml(services));
    gui->signal(SIGHUP);
    ASSERT_TRUE(logShows("service.xml was changed on disk and has been reloaded.")) << gui->err();
    EXPECT_TRUE(logShows("SysInit.ini was changed on disk and has been reloaded."));
    EXPECT_TRUE(gui->running());

    gui->signal(SIGTERM);
    ASSERT_EQ(gui->wait(20s), 0) << gui->err();
    EXPECT_EQ(logLines().back().substr(20), "[INFO] Application stops.");
    EXPECT_NE(ReadFile(dir.file("conf/service.xml")).find(services[1].ip), std::string::npos);
}

TEST_F(HeadlessTest, ASecondStopSignalEndsTheWindowsWaitForARunningCheck) {
    test::FakeServer silent([](test::FakeConnection& c) { c.waitForClose(90s); });
    auto services = UrlServices(silent.port(), 1);
    services[0].scheduleBy = "Minutely";
    services[0].scheduleMinute = "1";
    ::mkdir(dir.file("conf").c_str(), 0700);
    WriteFile(dir.file("conf/service.xml"), test::ServiceListXml(services));
    WriteFile(dir.file("conf/SysInit.ini"), "[http]\r\nHTTPDefaultTimeout=60000\r\n");
    auto gui = startWindow();
    ASSERT_TRUE(test::Eventually([&] { return silent.connections() == 1; }, 20s)) << gui->err();

    gui->signal(SIGTERM);
    std::this_thread::sleep_for(1s);
    EXPECT_TRUE(gui->running()) << "the first signal waits for the check";
    EXPECT_EQ(ReadFile(todaysLog()).find("Application stops."), std::string::npos);

    gui->signal(SIGTERM);
    const auto second = std::chrono::steady_clock::now();
    ASSERT_EQ(gui->wait(20s), 0) << gui->err();
    EXPECT_LT(std::chrono::steady_clock::now() - second, 5s);
    const auto lines = logLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2].substr(20), "[INFO] Service scheduling stops.");
    EXPECT_EQ(lines.back().substr(20), "[INFO] Application stops.");
}

TEST_F(HeadlessTest, AStopSignalEndsTheWindowProgramAtOnceDuringStartUp) {
    // A second instance waits at start-up for its box to be read.
    auto first = start();
    ASSERT_TRUE(first->waitForOutput(kReady, 20s)) << first->err();
    auto gui = startWindow();
    std::this_thread::sleep_for(1500ms);
    EXPECT_TRUE(gui->running()) << "it waits for the box";
    gui->signal(SIGTERM);
    EXPECT_EQ(gui->wait(10s), 1);
    EXPECT_NE(gui->err().find("stopped by a signal during start-up"), std::string::npos)
        << gui->err();
    first->signal(SIGTERM);
    EXPECT_EQ(first->wait(20s), 0);
}

// A box the program asked for (here: no help file) does not keep a stop
// signal from ending it, once the window has closed and written its files.
TEST_F(HeadlessTest, AStopSignalEndsTheWindowProgramAlsoWithABoxUp) {
    auto gui = start({}, "run", {{"QT_QPA_PLATFORM", "offscreen"}});
    ASSERT_TRUE(logShows("Service scheduling")) << gui->err();
    gui->signal(SIGTERM);
    EXPECT_EQ(gui->wait(10s), 0) << gui->err();
    EXPECT_TRUE(logShows("Application stops."));
}

TEST_F(HeadlessTest, AServiceManagerHearsReadinessAndAWatchdogPetThatStopsWithTheLoop) {
    // The notification socket a service manager hands over, and a watchdog
    // of 0.4 s: a pet every 0.2 s from the main loop.
    test::UdpReceiver manager(dir.file("run/notify"));
    auto app = start({"--headless"}, "run",
                     {{"NOTIFY_SOCKET", dir.file("run/notify")}, {"WATCHDOG_USEC", "400000"}});
    ASSERT_EQ(manager.receive(20s), "READY=1") << app->err();
    EXPECT_EQ(manager.receive(2s), "WATCHDOG=1");
    EXPECT_EQ(manager.receive(2s), "WATCHDOG=1");
    // A loop that stops pets no more; one that goes on pets again.
    app->signal(SIGSTOP);
    while (manager.receive(100ms)) {
    }
    EXPECT_EQ(manager.receive(1s), std::nullopt);
    app->signal(SIGCONT);
    EXPECT_EQ(manager.receive(2s), "WATCHDOG=1");
    app->signal(SIGTERM);
    std::optional<std::string> last;
    while (auto next = manager.receive(5s)) {
        last = next;
        if (*next != "WATCHDOG=1") {
            break;
        }
    }
    EXPECT_EQ(last, "STOPPING=1");
    EXPECT_EQ(app->wait(10s), 0);
}

TEST_F(HeadlessTest, TheRunningMonitorServesItsVerdictsAndAStoppedServiceLeavesThem) {
    test::FakeHttpServer failing(
        test::FakeHttpServer::Always(test::HttpResponse("HTTP/1.1 500 Internal Server Error")));
    auto services = OneMinutelyService(failing.port());
    services.push_back(services[0]);
    services[1].ip = "http://user:pw@127.0.0.1:" + std::to_string(failing.port()) + "/other";
    services[1].status = "Stop";
    // Due only in twelve hours: watched, never checked in this run.
    services.push_back(services[0]);
    services[2].ip = "http://127.0.0.1:" + std::to_string(failing.port()) + "/daily";
    services[2].scheduleBy = "Daily";
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    ::gmtime_r(&now, &utc);
    char hour[8];
    std::snprintf(hour, sizeof hour, "%02d", (utc.tm_hour + 12) % 24);
    services[2].scheduleHour = hour;
    services[2].scheduleMinute = "00";
    ::mkdir(dir.file("conf").c_str(), 0700);
    WriteFile(dir.file("conf/service.xml"), test::ServiceListXml(services));
    int port = 0;
    {
        const test::ClosedPort free;
        port = free.port();
    }
    WriteFile(dir.file("conf/SysInit.ini"),
              "[Metrics]\r\nListen=127.0.0.1:" + std::to_string(port) + "\r\n");
    auto app = start();
    ASSERT_TRUE(app->waitForOutput(kReady, 20s)) << app->err();
    std::string text;
    ASSERT_TRUE(test::Eventually(
        [&] {
            text = test::HttpGetLocal(port, "/metrics");
            return text.find("probe_http_status_code{") != std::string::npos;
        },
        20s))
        << text;
    const std::string labels = "{instance=\"" + services[0].ip +
                               "\",module=\"URL\",key=\"URL:" + services[0].ip + ":" +
                               services[0].port + "\"}";
    EXPECT_NE(text.find("probe_success" + labels + " 0\n"), std::string::npos) << text;
    EXPECT_NE(text.find("probe_http_status_code" + labels + " 500\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("/other"), std::string::npos) << "a stopped service is not exported";
    const std::string daily =
        "{instance=\"" + services[2].ip + "\",module=\"URL\",key=\"" + services[2].key() + "\"";
    EXPECT_NE(text.find("vantor_service_info" + daily + ",schedule=\"Daily " + hour + ":00\"} 1\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("probe_success" + daily), std::string::npos) << "not checked yet";
    app->signal(SIGTERM);
    EXPECT_EQ(app->wait(10s), 0);
}

TEST_F(HeadlessTest, ReportAndExportReadTheHistoryBesideARunningMonitor) {
    const std::string url = "URL:http://a.example/:80";
    const std::int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count();
    {
        ::mkdir(dir.file("history").c_str(), 0700);
        auto db = history::HistoryDb::openWriter(dir.file("history/history.db"), now);
        std::vector<history::Verdict> day;
        for (int i = 0; i < 288; ++i) {
            history::Verdict v;
            v.key = url;
            // The last at now, the first 300 s inside the window of a
            // report that runs a few minutes later.
            v.time = now - 287 * 300 + i * 300;
            v.failed = i % 100 == 50;
            v.responseUs = 10000 + (i % 10) * 1000;
            v.detail = v.failed ? "[a.example:80] Failed:Connection refused" : "";
            day.push_back(v);
        }
        history::Verdict ping;
        ping.key = "Ping,b:";  // a comma, quoted in CSV
        ping.time = now - 10;
        day.push_back(ping);
        db->write(day);
    }
    auto monitor = start();
    ASSERT_TRUE(monitor->waitForOutput(kReady, 20s)) << monitor->err();

    auto table = start({"--report"});
    ASSERT_EQ(table->wait(10s), 0) << table->err();
    const std::string head = table->out().substr(0, table->out().find('\n'));
    EXPECT_EQ(head, "Key" + std::string(url.size() - 3 + 2, ' ') +
                        "Checks  Failed     Uptime  p50 ms  p95 ms  Max ms  Last change");
    EXPECT_NE(table->out().find("\n" + url + "     288       3   98.958 %  "), std::string::npos)
        << table->out();

    auto csv = start({"--report", "--since", "7d", "--format", "csv"});
    ASSERT_EQ(csv->wait(10s), 0) << csv->err();
    std::istringstream lines(csv->out());
    std::vector<std::string> rows;
    for (std::string line; std::getline(lines, line);) {
        rows.push_back(line);
    }
    ASSERT_EQ(rows.size(), 3u) << csv->out();
    EXPECT_EQ(rows[0], "key,checks,failed,uptime,p50_ms,p95_ms,max_ms,last_change");
    EXPECT_EQ(rows[1], "\"Ping,b:\",1,0,100.000 %,,,,");
    std::vector<std::string> cells;
    std::istringstream fields(rows[2]);
    for (std::string cell; std::getline(fields, cell, ',');) {
        cells.push_back(cell);
    }
    ASSERT_EQ(cells.size(), 8u) << rows[2];
    EXPECT_EQ(cells[0] + "," + cells[1] + "," + cells[2] + "," + cells[3], url + ",288,3,98.958 %");
    // Past the day's first hours the figures come from the rollup's sketch:
    // within its 4 %. The maximum is exact.
    EXPECT_NEAR(std::stod(cells[4]), 15.0, 0.6) << rows[2];
    EXPECT_NEAR(std::stod(cells[5]), 19.0, 0.76) << rows[2];
    EXPECT_EQ(cells[6], "19.0");
    EXPECT_FALSE(cells[7].empty()) << "the last change of state";

    auto json = start({"--report", "--format", "json", "--since", "30d"});
    ASSERT_EQ(json->wait(10s), 0) << json->err();
    EXPECT_NE(json->out().find("{\"key\": \"" + url +
                               "\", \"checks\": 288, \"failed\": 3, \"uptime_percent\": 98.958"),
              std::string::npos)
        << json->out();

    const std::string today = FormatDate(std::chrono::system_clock::now());
    const std::string yesterday = FormatDate(std::chrono::system_clock::now() - 24h);
    auto rowsOut = start({"--history-export", yesterday, today});
    ASSERT_EQ(rowsOut->wait(10s), 0) << rowsOut->err();
    EXPECT_EQ(rowsOut->out().rfind("key,time,status,response_us,flags\n", 0), 0u);
    EXPECT_EQ(std::count(rowsOut->out().begin(), rowsOut->out().end(), '\n'), 1 + 288 + 1);
    EXPECT_NE(rowsOut->out().find(",Failed,10000,\n"), std::string::npos);

    // Bad uses are refused with the reason, and change nothing.
    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"--report", "--since", "2w"},
          {"--report", "--format", "xml"},
          {"--since", "7d"},
          {"--history-export", "2026-02-30", today},
          {"--history-export", today},
          {"--report", "--check-now"}}) {
        auto refused = start(bad);
        EXPECT_EQ(refused->wait(10s), 2) << bad[0] << " " << bad.back();
        EXPECT_NE(refused->err().find("Usage: vantor-lite"), std::string::npos);
    }
    monitor->signal(SIGTERM);
    ASSERT_EQ(monitor->wait(30s), 0);

    // Without a database: said, status 1, nothing made.
    ASSERT_EQ(std::filesystem::remove_all(dir.file("history")) > 0, true);
    auto none = start({"--report"});
    EXPECT_EQ(none->wait(10s), 1);
    EXPECT_NE(none->err().find("no history to read in"), std::string::npos) << none->err();
    EXPECT_FALSE(FileExists(dir.file("history/history.db")));
}

TEST_F(HeadlessTest, HelpPrintsUsageAndUnknownOptionsAndAMissingDisplayAreRefused) {
    auto help = start({"--help"});
    ASSERT_EQ(help->wait(10s), 0);
    EXPECT_NE(help->out().find("Usage: vantor-lite"), std::string::npos);
    EXPECT_NE(help->out().find("--headless"), std::string::npos);
    EXPECT_NE(help->out().find("--report [--since 24h|7d|30d|365d] [--format table|csv|json]"),
              std::string::npos);
    EXPECT_NE(help->out().find("--history-export FROM TO"), std::string::npos);
    EXPECT_NE(help->out().find("man vantor-lite"), std::string::npos);
    auto version = start({"--version"});
    ASSERT_EQ(version->wait(10s), 0);
    EXPECT_EQ(version->out(), "vantor-lite 1.5.0\n");
    auto bad = start({"--bogus"});
    ASSERT_EQ(bad->wait(10s), 2);
    EXPECT_NE(bad->err().find("unknown option"), std::string::npos);

    // Without a display the window is refused with a pointer to --headless,
    // before Qt is asked for one.
    test::Process windowless({VANTOR_LITE_BINARY}, dir.file("bin"),
                             {{"XDG_CONFIG_HOME", dir.file("xdg")},
                              {"DISPLAY", "\x01unset"},
                              {"WAYLAND_DISPLAY", "\x01unset"},
                              {"QT_QPA_PLATFORM", "\x01unset"}});
    ASSERT_EQ(windowless.wait(10s), 2);
    EXPECT_NE(windowless.err().find("run 'vantor-lite --headless'"), std::string::npos);
    EXPECT_EQ(windowless.err().find('\n'), windowless.err().size() - 1) << "one line";
}

}  // namespace
}  // namespace vantor::app
