// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <algorithm>

#include <regex>
#include <sstream>

#include "app/IniFile.h"
#include "app/SettingsFile.h"
#include "support/AppFixture.h"

namespace vantor::app {
namespace {

using test::ReadFile;
using test::WriteFile;

TEST(ParseIniInteger, AcceptsDecimalAndBothHexForms) {
    EXPECT_EQ(ParseIniInteger("42"), 42);
    EXPECT_EQ(ParseIniInteger("-5"), -5);
    EXPECT_EQ(ParseIniInteger("+7"), 7);
    EXPECT_EQ(ParseIniInteger("0x10"), 16);
    EXPECT_EQ(ParseIniInteger("0XfF"), 255);
    EXPECT_EQ(ParseIniInteger("$10"), 16);
    EXPECT_EQ(ParseIniInteger("-$10"), -16);
    EXPECT_EQ(ParseIniInteger("2147483647"), 2147483647);
    EXPECT_EQ(ParseIniInteger("-2147483648"), -2147483647 - 1);
}

TEST(ParseIniInteger, RejectsEverythingElse) {
    for (const char* bad : {"", "abc", "12abc", "0x", "$", "1.5", " 1", "1 ", "--1", "0xG",
                            "2147483648", "99999999999999999999"}) {
        EXPECT_FALSE(ParseIniInteger(bad).has_value()) << '"' << bad << '"';
    }
}

TEST(IniFile, FirstOfTwoEqualNamesWinsAndNamesIgnoreCase) {
    IniFile ini = IniFile::parse("[A]\nk=1\nK=2\n[a]\nk=3\n");
    EXPECT_EQ(ini.readString("a", "K", "d"), "1");
    EXPECT_EQ(ini.readString("A", "missing", "d"), "d");
    EXPECT_EQ(ini.readString("B", "k", "d"), "d");
    ini.writeString("a", "k", "9");
    EXPECT_EQ(ini.serialize(), "[A]\nk=9\nK=2\n[a]\nk=3\n");
}

TEST(IniFile, NewKeysGoAfterTheLastLineOfTheirSectionAndNewSectionsAtTheEnd) {
    IniFile ini = IniFile::parse("; note\r\n[One]\r\nx=1\r\n\r\n[Two]\r\ny=2\r\n");
    ini.writeString("one", "z", "3");
    ini.writeString("Three", "w", "4");
    EXPECT_EQ(ini.serialize(),
              "; note\r\n[One]\r\nx=1\r\nz=3\r\n\r\n[Two]\r\ny=2\r\n\r\n[Three]\r\nw=4\r\n");
}

TEST(IniFile, CarriageReturnOnlyLinesAreLinesAndKeepTheirLineEnds) {
    IniFile ini = IniFile::parse("[SMTP Alarm]\rEnable=1\rIP=127.0.0.1\r");
    EXPECT_EQ(ini.readString("SMTP Alarm", "IP", ""), "127.0.0.1");
    ini.writeString("smtp alarm", "Port", "25");
    EXPECT_EQ(ini.serialize(), "[SMTP Alarm]\rEnable=1\rIP=127.0.0.1\rPort=25\r")
        << "one section, CR line ends kept";
}

TEST(IniFile, ALineBreakInAValueCannotStartANewLine) {
    IniFile ini;
    ini.writeString("S", "Password", "a\r\n[Evil]\nb");
    EXPECT_EQ(ini.readString("S", "Password", ""), "a  [Evil] b");
    EXPECT_FALSE(ini.value("Evil", "b").has_value());
}

class SettingsFileTest : public test::AppFixture {
protected:
    SettingsFile file{paths, reporter, log, [this] { ++probes; }};
    std::string iniPath() const { return paths.settingsFile(); }
    int probes = 0;
};

// Section and key names of a settings file, in file order, as "Section/Key".
std::vector<std::string> KeysInOrder(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line, section;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!line.empty() && line.front() == '[') {
            section = line.substr(1, line.find(']') - 1);
        } else if (auto eq = line.find('='); eq != std::string::npos) {
            out.push_back(section + "/" + line.substr(0, eq));
        }
    }
    return out;
}

TEST_F(SettingsFileTest, FirstRunTakesEveryDefaultAndTheFirstSaveWritesEveryKeyInOrder) {
    settings.backupFilenamePath.clear();
    EXPECT_TRUE(file.LoadSettings(settings));
    EXPECT_TRUE(settings.settingsFileMissing);
    EXPECT_EQ(probes, 1);
    EXPECT_TRUE(reporter.boxes().empty());
    EXPECT_EQ(settings.backupFilenamePath, paths.logDirPath());
    EXPECT_EQ(settings.windowWidth, 1024);
    EXPECT_EQ(settings.smsPort, 50111);
    EXPECT_EQ(settings.smsSystemType, "TCP");
    EXPECT_EQ(settings.httpSmsMethod, "Get");

    ASSERT_TRUE(file.SaveSettings(settings));
    const std::string text = ReadFile(iniPath());
    const std::vector<std::string> expected = {"System/InitStart",
                                               "System/WindowWidth",
                                               "System/WindowHeight",
                                               "System/ShowFunctionBar",
                                               "System/ShowWindowAlarmLog",
                                               "System/ShowLogItem",
                                               "http/HTTPDefaultTimeout",
                                               "http/HTTPRetry",
                                               "ping/PingDefaultTimeout",
                                               "ping/PingRetry",
                                               "db/DBDefaultTimeout",
                                               "db/DBRetry",
                                               "ftp/FTPDefaultTimeout",
                                               "ftp/FTPRetry",
                                               "email/EmailDefaultTimeout",
                                               "email/EmailRetry",
                                               "System Log/HouseKeepDay",
                                               "System Log/Filename",
                                               "Alarm Msg File Backup/Enable",
                                               "Alarm Msg File Backup/FilenamePath",
                                               "Alarm Msg File Backup/Filename",
                                               "Alarm Msg File Backup/HouseKeepDay",
                                               "SMTP Alarm/Enable",
                                               "SMTP Alarm/IP",
                                               "SMTP Alarm/Port",
                                               "SMTP Alarm/EmailAddress",
                                               "SMTP Alarm/MailAgent",
                                               "SMTP Alarm/FromAddress",
                                               "SMTP Alarm/Authentication Enable",
                                               "SMTP Alarm/Username",
                                               "SMTP Alarm/Password",
                                               "SMTP Alarm/Timeout",
                                               "SMS Alarm/Enable",
                                               "SMS Alarm/IP",
                                               "SMS Alarm/Port",
                                               "SMS Alarm/OA",
                                               "SMS Alarm/Authentication Enable",
                                               "SMS Alarm/Username",
                                               "SMS Alarm/Password",
                                               "SMS Alarm/Version",
                                               "SMS Alarm/SystemType",
                                               "SMS Alarm/TON",
                                               "SMS Alarm/NPI",
                                               "SMS Alarm/DestTON",
                                               "SMS Alarm/DestNPI",
                                               "SMS Alarm/OrigTON",
                                               "SMS Alarm/OrigNPI",
                                               "SMS Alarm/Phone",
                                               "SMS Alarm/Timeout",
                                               "HTTP-SMS Alarm/Enable",
                                               "HTTP-SMS Alarm/URL",
                                               "HTTP-SMS Alarm/Port",
                                               "HTTP-SMS Alarm/Method",
                                               "HTTP-SMS Alarm/Authentication Enable",
                                               "HTTP-SMS Alarm/Username",
                                               "HTTP-SMS Alarm/Password",
                                               "HTTP-SMS Alarm/ProxyServer",
                                               "HTTP-SMS Alarm/ProxyPort",
                                               "HTTP-SMS Alarm/ProxyUsername",
                                               "HTTP-SMS Alarm/ProxyPassword",
                                               "HTTP-SMS Alarm/MSISDN FieldName",
                                               "HTTP-SMS Alarm/MSISDN FieldValue",
                                               "HTTP-SMS Alarm/MESSAGE FieldName",
                                               "HTTP-SMS Alarm/Extra Field1 Name",
                                               "HTTP-SMS Alarm/Extra Field1 Value",
                                               "HTTP-SMS Alarm/Extra Field2 Name",
                                               "HTTP-SMS Alarm/Extra Field2 Value",
                                               "HTTP-SMS Alarm/Timeout",
                                               "SysLog Alarm/Enable",
                                               "SysLog Alarm/IP",
                                               "SysLog Alarm/Port",
                                               "SysLog Alarm/Facility",
                                               "SysLog Alarm/Severity",
                                               "SysLog Alarm/Timeout"};
    EXPECT_EQ(KeysInOrder(text), expected);

    const IniFile saved = IniFile::parse(text);
    EXPECT_EQ(saved.readString("System", "InitStart", ""), "1");
    EXPECT_EQ(saved.readString("Alarm Msg File Backup", "Enable", ""), "0");
    EXPECT_EQ(saved.readString("Alarm Msg File Backup", "FilenamePath", ""), paths.logDirPath());
    EXPECT_EQ(saved.readString("SysLog Alarm", "Facility", ""), "Kernel");
    EXPECT_EQ(saved.readString("SysLog Alarm", "Severity", ""), "Emergency");
    EXPECT_EQ(saved.readString("SMTP Alarm", "IP", "x"), "");

    struct stat st {};
    ASSERT_EQ(::stat(iniPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(test::ListDir(paths.confDirPath()), std::vector<std::string>{"SysInit.ini"});

    AppSettings reloaded;
    ASSERT_TRUE(file.LoadSettings(reloaded));
    EXPECT_FALSE(reloaded.settingsFileMissing);
    EXPECT_EQ(reloaded.certExpiryDays, 14);
    EXPECT_EQ(reloaded.smtpSecurity, "None");
    // Saved again unchanged, the file is the same to the byte.
    ASSERT_TRUE(file.SaveSettings(reloaded));
    EXPECT_EQ(ReadFile(iniPath()), text);
}

// Keys that came with TLS are written once they differ from their default,
// at the end of their section, and stay in the file from then on.
TEST_F(SettingsFileTest, TlsKeysAppearOnlyOnceSetAndThenStay) {
    ASSERT_TRUE(file.LoadSettings(settings));
    settings.certExpiryDays = 30;
    settings.smtpSecurity = "STARTTLS";
    ASSERT_TRUE(file.SaveSettings(settings));
    std::vector<std::string> keys = KeysInOrder(ReadFile(iniPath()));
    const auto after = [&keys](const std::string& key) {
        const auto at = std::find(keys.begin(), keys.end(), key);
        return at == keys.end() || at + 1 == keys.end() ? std::string() : *(at + 1);
    };
    EXPECT_EQ(after("http/HTTPRetry"), "http/CertExpiryDays");
    EXPECT_EQ(after("SMTP Alarm/Timeout"), "SMTP Alarm/Security");
    // The history's keys are not there while they hold their defaults.
    for (const std::string& key : keys) {
        EXPECT_NE(key.rfind("History/", 0), 0u) << key;
        EXPECT_NE(key.rfind("AlarmPolicy/", 0), 0u) << key;
        EXPECT_NE(key, "System/ShowDetailPane");
    }
    settings.historyMaxMB = 100;
    settings.showDetailPane = true;
    settings.alarmOn = "OnChange";
    settings.alarmRemindEvery = 30;
    ASSERT_TRUE(file.SaveSettings(settings));
    keys = KeysInOrder(ReadFile(iniPath()));
    EXPECT_EQ(std::count(keys.begin(), keys.end(), "History/MaxMB"), 1);
    EXPECT_EQ(std::count(keys.begin(), keys.end(), "History/Enable"), 0);
    EXPECT_EQ(std::count(keys.begin(), keys.end(), "System/ShowDetailPane"), 1);
    EXPECT_EQ(std::count(keys.begin(), keys.end(), "AlarmPolicy/AlarmOn"), 1);
    EXPECT_EQ(std::count(keys.begin(), keys.end(), "AlarmPolicy/FailAfter"), 0);
    {
        AppSettings history;
        ASSERT_TRUE(file.LoadSettings(history));
        EXPECT_EQ(history.historyMaxMB, 100);
        EXPECT_TRUE(history.showDetailPane);
        EXPECT_EQ(history.historyRawKeepDays, 7);
        EXPECT_EQ(history.alarmOn, "OnChange");
        EXPECT_EQ(history.alarmRemindEvery, 30);
    }
    // What the policy cannot use reads as the nearest it can.
    test::WriteFile(iniPath(),
                    "[AlarmPolicy]\r\nAlarmOn=Sometimes\r\nFailAfter=0\r\nRemindEvery=2\r\n");
    {
        AppSettings odd;
        ASSERT_TRUE(file.LoadSettings(odd));
        EXPECT_EQ(odd.alarmOn, "EveryFailure");
        EXPECT_EQ(odd.alarmFailAfter, 1);
        EXPECT_EQ(odd.alarmRemindEvery, 5);
    }
    ASSERT_TRUE(file.SaveSettings(settings));

    AppSettings reloaded;
    ASSERT_TRUE(file.LoadSettings(reloaded));
    EXPECT_EQ(reloaded.certExpiryDays, 30);
    EXPECT_EQ(reloaded.smtpSecurity, "STARTTLS");
    reloaded.certExpiryDays = 14;
    reloaded.smtpSecurity = "None";
    ASSERT_TRUE(file.SaveSettings(reloaded));
    const IniFile saved = IniFile::parse(ReadFile(iniPath()));
    EXPECT_EQ(saved.readString("http", "CertExpiryDays", ""), "14");
    EXPECT_EQ(saved.readString("SMTP Alarm", "Security", ""), "None");

    // A negative number of days is the default; 0 switches the warning off.
    WriteFile(iniPath(), "[http]\nCertExpiryDays=-3\n");
    ASSERT_TRUE(file.LoadSettings(reloaded));
    EXPECT_EQ(reloaded.certExpiryDays, 14);
    WriteFile(iniPath(), "[http]\nCertExpiryDays=0\n");
    ASSERT_TRUE(file.LoadSettings(reloaded));
    EXPECT_EQ(reloaded.certExpiryDays, 0);
}

TEST_F(SettingsFileTest, OutOfRangeValuesAreCorrectedAndWrittenBackWhereTheyStand) {
    WriteFile(iniPath(),
              "; operator notes stay\n"
              "[system]\n"
              "windowwidth=-5\n"
              "WindowHeight=0\n"
              "Unknown=kept\n"
              "\n"
              "[http]\n"
              "HTTPRetry=2\n"
              "HTTPDefaultTimeout=abc\n"
              "[ping]\n"
              "PingDefaultTimeout=0x10\n"
              "[System Log]\n"
              "HouseKeepDay=0\n"
              "[Alarm Msg File Backup]\n"
              "HouseKeepDay=0\n"
              "[SysLog Alarm]\n"
              "Facility=uucp\n"
              "Severity=Notice\n"
              "[SMTP Alarm]\n"
              "Password=  p@ss=w;rd#1\n"
              "[Foreign]\n"
              "x=y\n");
    ASSERT_TRUE(file.LoadSettings(settings));
    EXPECT_FALSE(settings.settingsFileMissing);
    EXPECT_EQ(settings.windowWidth, 1024);
    EXPECT_EQ(settings.windowHeight, 0);
    EXPECT_EQ(settings.httpRetry, 0);
    EXPECT_EQ(settings.httpDefaultTimeout, 10000);
    EXPECT_EQ(settings.pingDefaultTimeout, 16);
    EXPECT_EQ(settings.systemLogHouseKeepDay, 7);
    EXPECT_EQ(settings.backupHouseKeepDay, 0);
    EXPECT_EQ(settings.syslogFacility, 0);
    EXPECT_EQ(settings.syslogSeverity, 5);
    EXPECT_EQ(settings.smtpPassword, "p@ss=w;rd#1");

    ASSERT_TRUE(file.SaveSettings(settings));
    const std::string text = ReadFile(iniPath());
    const IniFile saved = IniFile::parse(text);
    EXPECT_EQ(saved.readString("System", "WindowWidth", ""), "1024");
    EXPECT_EQ(saved.readString("http", "HTTPRetry", ""), "0");
    EXPECT_EQ(saved.readString("http", "HTTPDefaultTimeout", ""), "10000");
    EXPECT_EQ(saved.readString("ping", "PingDefaultTimeout", ""), "16");
    EXPECT_EQ(saved.readString("System Log", "HouseKeepDay", ""), "7");
    EXPECT_EQ(saved.readString("SysLog Alarm", "Facility", ""), "Kernel");
    EXPECT_EQ(saved.readString("SysLog Alarm", "Severity", ""), "Notice");
    EXPECT_EQ(saved.readString("SMTP Alarm", "Password", ""), "p@ss=w;rd#1");
    // Existing lines are updated in place with their own spelling; what we
    // do not know is kept.
    EXPECT_EQ(text.rfind("; operator notes stay\n[system]\nwindowwidth=1024\nWindowHeight=0\n"
                         "Unknown=kept\n",
                         0),
              0u)
        << text;
    EXPECT_NE(text.find("[Foreign]\nx=y\n"), std::string::npos);
    EXPECT_EQ(text.find("[System]"), std::string::npos) << "no second System section";
    const auto keys = KeysInOrder(text);
    EXPECT_EQ(std::count(keys.begin(), keys.end(), "system/InitStart"), 1);
}

TEST_F(SettingsFileTest, TypeRulesForBooleansNamesAndClamps) {
    WriteFile(iniPath(),
              "[System]\nInitStart=0\nShowFunctionBar=$2\nShowWindowAlarmLog=yes\n"
              "ShowLogItem=-1\nWindowWidth=0\n"
              "[email]\nEmailRetry=1\nEmailDefaultTimeout=-3\n"
              "[SMS Alarm]\nTimeout=0\nTON=$FF\n"
              "[SysLog Alarm]\nFacility=UUCP\nSeverity=debug\n");
    ASSERT_TRUE(file.LoadSettings(settings));
    EXPECT_FALSE(settings.initStart);
    EXPECT_TRUE(settings.showFunctionBar);
    EXPECT_TRUE(settings.showWindowAlarmLog) << "not an integer: the default";
    EXPECT_EQ(settings.showLogItem, 100);
    EXPECT_EQ(settings.windowWidth, 0);
    EXPECT_EQ(settings.emailRetry, 1);
    EXPECT_EQ(settings.emailDefaultTimeout, 10000);
    EXPECT_EQ(settings.smsTimeout, 5000);
    EXPECT_EQ(settings.smsTon, 255);
    EXPECT_EQ(settings.syslogFacility, 8);
    EXPECT_EQ(settings.syslogSeverity, 0);

    ASSERT_TRUE(file.SaveSettings(settings));
    const IniFile saved = IniFile::parse(ReadFile(iniPath()));
    EXPECT_EQ(saved.readString("System", "ShowFunctionBar", ""), "1");
    EXPECT_EQ(saved.readString("SysLog Alarm", "Facility", ""), "UUCP");
    EXPECT_EQ(saved.readString("SysLog Alarm", "Severity", ""), "Emergency");
}

TEST(SyslogNames, TablesMatchRfc3164Numbering) {
    EXPECT_EQ(FacilityFromName("Clock Daemon One"), 9);
    EXPECT_EQ(FacilityFromName("Local Use Seven"), 23);
    EXPECT_EQ(FacilityFromName("local use seven"), 0);
    EXPECT_EQ(FacilityName(16), "Local Use Zero");
    EXPECT_EQ(FacilityName(24), "");
    EXPECT_EQ(FacilityName(-1), "");
    EXPECT_EQ(SeverityFromName("Informational"), 6);
    EXPECT_EQ(SeverityName(7), "Debug");
    EXPECT_EQ(SeverityName(8), "");
}

TEST_F(SettingsFileTest, UnreadableFileIsReportedAndKeepsEveryValue) {
    ASSERT_EQ(::mkdir(iniPath().c_str(), 0700), 0);  // unreadable as a file, even by root
    settings.windowWidth = 555;
    settings.smtpIp = "mail.example";
    EXPECT_FALSE(file.LoadSettings(settings));
    EXPECT_EQ(settings.windowWidth, 555);
    EXPECT_EQ(settings.smtpIp, "mail.example");
    EXPECT_EQ(probes, 0) << "the network probe is skipped after a failed load";

    const auto boxes = reporter.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].rfind("Warning: ERR00203 : System init file not found. : ", 0), 0u)
        << boxes[0];
    const std::string logText = ReadFile(logFile("2026-12-08"));
    EXPECT_NE(logText.find(" [WARMING] ERR00203 : System init file not found. : "),
              std::string::npos)
        << logText;

    EXPECT_FALSE(file.SaveSettings(settings));
    EXPECT_EQ(reporter.boxes().size(), 2u);
}

TEST_F(SettingsFileTest, AFailedSaveLeavesTheOldFileWhole) {
    WriteFile(iniPath(), "[System]\nWindowWidth=800\n");
    ASSERT_TRUE(file.LoadSettings(settings));
    settings.windowWidth = 640;
    // Without the conf directory no temporary file can be made.
    const std::string moved = dir.file("conf-away");
    ASSERT_EQ(::rename(paths.confDirPath().c_str(), moved.c_str()), 0);
    EXPECT_FALSE(file.SaveSettings(settings));
    ASSERT_EQ(::rename(moved.c_str(), dir.file("conf").c_str()), 0);
    EXPECT_EQ(ReadFile(iniPath()), "[System]\nWindowWidth=800\n");
    ASSERT_FALSE(reporter.boxes().empty());
    EXPECT_EQ(
        reporter.boxes().back().rfind("Warning: ERR00203 : System init file not found. : ", 0), 0u);
    EXPECT_TRUE(file.SaveSettings(settings));
    EXPECT_EQ(IniFile::parse(ReadFile(iniPath())).readString("System", "WindowWidth", ""), "640");
}

TEST_F(SettingsFileTest, ALinkedSettingsFileIsWrittenThroughItsLinkAndStaysALink) {
    const std::string target = dir.file("shared.ini");
    WriteFile(target, "[System]\nWindowWidth=800\n");
    ASSERT_EQ(::symlink(target.c_str(), iniPath().c_str()), 0);
    ASSERT_TRUE(file.LoadSettings(settings));
    settings.windowWidth = 640;
    ASSERT_TRUE(file.SaveSettings(settings));
    struct stat st {};
    ASSERT_EQ(::lstat(iniPath().c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(IniFile::parse(ReadFile(target)).readString("System", "WindowWidth", ""), "640");
}

}  // namespace
}  // namespace vantor::app
