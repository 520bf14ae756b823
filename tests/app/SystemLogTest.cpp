// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>
#include <sstream>
#include <thread>

#include "support/AppFixture.h"
#include "support/Text.h"

namespace vantor::app {
namespace {

using test::FileExists;
using test::ReadFile;
using test::WriteFile;

using SystemLogTest = test::AppFixture;

TEST_F(SystemLogTest, LineHasTimestampTagTextAndCrLf) {
    clock.setLocal(2026, 12, 8, 9, 5, 7);
    log.WriteSystemLog("Application stops.", LogLevel::Info);
    log.WriteSystemLog("ERR00003 : Help file not found.", LogLevel::Warming);
    EXPECT_EQ(ReadFile(logFile("2026-12-08")),
              "2026-12-08 09:05:07 [INFO] Application stops.\r\n"
              "2026-12-08 09:05:07 [WARMING] ERR00003 : Help file not found.\r\n");
    EXPECT_EQ(log.systemLogFileName(), logFile("2026-12-08"));
}

TEST_F(SystemLogTest, EveryLevelHasItsTagAndOthersNone) {
    const std::pair<LogLevel, const char*> tags[] = {
        {LogLevel::Debug, "[DEBUG]"},   {LogLevel::Info, "[INFO]"},
        {LogLevel::Notice, "[NOTICE]"}, {LogLevel::Warming, "[WARMING]"},
        {LogLevel::Error, "[ERROR]"},   {LogLevel::Critical, "[CRITICAL]"},
        {LogLevel::Alert, "[ALERT]"},   {LogLevel::Emergency, "[EMERGENCY]"},
    };
    for (const auto& [level, tag] : tags) {
        EXPECT_EQ(SystemLog::LevelTag(level), tag);
    }
    EXPECT_EQ(SystemLog::LevelTag(LogLevel::None), "");
    log.WriteSystemLog("odd", static_cast<LogLevel>(9));
    EXPECT_EQ(ReadFile(logFile("2026-12-08")), "2026-12-08 14:00:00  odd\r\n");
}

TEST_F(SystemLogTest, LevelZeroAndLevelsBelowTheMinimumWriteNothing) {
    log.WriteSystemLog("none", LogLevel::None);
    EXPECT_FALSE(FileExists(logFile("2026-12-08")));
    settings.minLogLevel = LogLevel::Warming;
    log.WriteSystemLog("info", LogLevel::Info);
    log.WriteSystemLog("error", LogLevel::Error);
    EXPECT_EQ(ReadFile(logFile("2026-12-08")), "2026-12-08 14:00:00 [ERROR] error\r\n");
}

TEST_F(SystemLogTest, MidnightSplitsFilesAndAnEmptyPrefixBecomesTheDefault) {
    settings.systemLogFilename.clear();
    clock.setLocal(2026, 12, 8, 23, 59, 59);
    log.WriteSystemLog("last", LogLevel::Info);
    clock.advance(std::chrono::seconds(1));
    log.WriteSystemLog("first", LogLevel::Info);
    EXPECT_EQ(settings.systemLogFilename, "system_");
    EXPECT_EQ(ReadFile(logFile("2026-12-08")), "2026-12-08 23:59:59 [INFO] last\r\n");
    EXPECT_EQ(ReadFile(logFile("2026-12-09")), "2026-12-09 00:00:00 [INFO] first\r\n");
}

TEST_F(SystemLogTest, MissingLogDirectoryThatCannotBeMadeEndsTheApplication) {
    WriteFile(dir.file("plain"), "a file, not a directory");
    AppPaths broken(dir.file("plain"));
    SystemLog brokenLog(broken, settings, clock, reporter);
    brokenLog.WriteSystemLog("text", LogLevel::Info);
    EXPECT_EQ(reporter.boxes(),
              std::vector<std::string>{"Error: ERR00205 : System log directory not found."});
    EXPECT_TRUE(reporter.terminateRequested());
}

TEST_F(SystemLogTest, UnwritableLogFileEndsTheApplicationWithItsReason) {
    ASSERT_EQ(::mkdir(logFile("2026-12-08").c_str(), 0755), 0);
    log.WriteSystemLog("text", LogLevel::Info);
    const auto boxes = reporter.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].rfind("Error: ERR00202 : System log file is invalid. : ", 0), 0u);
    EXPECT_NE(boxes[0].find("Is a directory"), std::string::npos) << boxes[0];
    EXPECT_TRUE(reporter.terminateRequested());
}

TEST_F(SystemLogTest, LinesFromManyThreadsNeverInterleave) {
    constexpr int kThreads = 8;
    constexpr int kLines = 400;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([this, t] {
            for (int i = 0; i < kLines; ++i) {
                log.WriteSystemLog("thread " + std::to_string(t) + " line " + std::to_string(i) +
                                       std::string(200, 'x'),
                                   LogLevel::Info);
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    std::istringstream in(ReadFile(logFile("2026-12-08")));
    const std::regex shape(R"(2026-12-08 14:00:00 \[INFO\] thread \d line \d+x{200}\r)");
    int count = 0;
    for (std::string line; std::getline(in, line); ++count) {
        ASSERT_TRUE(std::regex_match(line, shape)) << line;
    }
    EXPECT_EQ(count, kThreads * kLines);
}

TEST_F(SystemLogTest, AlarmBackupIsWrittenOnlyWhenEnabledAndNothingIsEscaped) {
    log.WriteAlarmBackup("2026-12-08 14:00:01", "URL", "http://h/x", "80", "[h:80] down");
    const std::string backup = paths.logDirPath() + "AlarmMsg_2026-12-08.log";
    EXPECT_FALSE(FileExists(backup));

    settings.backupEnable = true;
    log.WriteAlarmBackup("2026-12-08 14:00:01", "URL", "http://h/x", "80", "[h:80] down] [x");
    EXPECT_EQ(ReadFile(backup), "2026-12-08 14:00:01 [URL] [http://h/x] [80] [h:80] down] [x\r\n");
    EXPECT_EQ(log.alarmBackupFileName(), backup);
    EXPECT_TRUE(reporter.boxes().empty());
}

// Values of records and settings reach the logs inside texts: a line break
// or an escape sequence in one must not forge a line, nor a huge one write
// a huge line.
TEST_F(SystemLogTest, EveryLineStaysOneLineOfBoundedLengthWithoutControls) {
    settings.backupEnable = true;
    const std::string forged = "a\r\n2026-12-08 14:00:00 [INFO] forged\x1b[2J\x07";
    log.WriteSystemLog("ERROR : '" + forged + "' " + std::string(20'000'000, 'x'), LogLevel::Error);
    log.WriteAlarmBackup("2026-12-08 14:00:01", "URL", "http://h/" + forged, "80\n",
                         "[h:80] " + forged);
    const std::vector<std::string> lines = test::Lines(ReadFile(logFile("2026-12-08")));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("2026-12-08 14:00:00 [ERROR] ERROR : 'a  2026-12-08 14:00:00 [INFO] "
                             "forged [2J ' xxx",
                             0),
              0u)
        << lines[0].substr(0, 100);
    EXPECT_LE(lines[0].size(), std::string("2026-12-08 14:00:00 [ERROR] ").size() + 4096);
    EXPECT_TRUE(lines[0].ends_with("x..."));
    EXPECT_EQ(ReadFile(log.alarmBackupFileName()),
              "2026-12-08 14:00:01 [URL] [http://h/a  2026-12-08 14:00:00 [INFO] forged [2J ] "
              "[80 ] [h:80] a  2026-12-08 14:00:00 [INFO] forged [2J \r\n");
}

TEST_F(SystemLogTest, NewLogAndBackupFilesAreTheOwnersOnly) {
    settings.backupEnable = true;
    log.WriteSystemLog("Application starts.", LogLevel::Info);
    log.WriteAlarmBackup("2026-12-08 14:00:01", "URL", "http://h/x", "80", "[h:80] down");
    for (const std::string& file : {log.systemLogFileName(), log.alarmBackupFileName()}) {
        struct stat st {};
        ASSERT_EQ(::stat(file.c_str(), &st), 0) << file;
        EXPECT_EQ(st.st_mode & 0777, 0600u) << file;
    }
}

TEST_F(SystemLogTest, AlarmBackupFailureWarnsAndLogsNothing) {
    settings.backupEnable = true;
    settings.backupFilenamePath = dir.file("no/such/dir/");
    log.WriteAlarmBackup("2026-12-08 14:00:01", "Ping", "h", "0", "[h:0] Failed");
    const auto boxes = reporter.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].rfind("Warning: ERR00206 : Alarm log backup error. : ", 0), 0u);
    EXPECT_FALSE(reporter.terminateRequested());
    EXPECT_FALSE(FileExists(logFile("2026-12-08")));
}

TEST_F(SystemLogTest, HouseKeepingDeletesExactlyTheFileOfThatAge) {
    for (const char* date : {"2026-11-30", "2026-12-01", "2026-12-02", "2026-12-08"}) {
        WriteFile(logFile(date), "x");
        WriteFile(paths.logDirPath() + "AlarmMsg_" + date + ".log", "x");
    }
    settings.backupEnable = false;  // housekeeping runs all the same
    settings.backupHouseKeepDay = 0;
    log.HouseKeepLogs();
    EXPECT_TRUE(FileExists(logFile("2026-11-30")));
    EXPECT_FALSE(FileExists(logFile("2026-12-01")));
    EXPECT_TRUE(FileExists(logFile("2026-12-02")));
    EXPECT_TRUE(FileExists(logFile("2026-12-08")));
    EXPECT_TRUE(FileExists(paths.logDirPath() + "AlarmMsg_2026-12-01.log"));
    EXPECT_FALSE(FileExists(paths.logDirPath() + "AlarmMsg_2026-12-08.log"));
    log.HouseKeepLogs();  // nothing left of that age: no error
    EXPECT_TRUE(reporter.boxes().empty());
}

TEST_F(SystemLogTest, HouseKeepingCountsCalendarDaysAcrossMonthsAndYears) {
    clock.setLocal(2027, 3, 1, 0, 30, 0);
    settings.systemLogHouseKeepDay = 365;
    WriteFile(logFile("2026-03-01"), "x");
    log.HouseKeepLogs();
    EXPECT_FALSE(FileExists(logFile("2026-03-01")));

    settings.systemLogHouseKeepDay = 2'000'000'000;  // no such date: nothing happens
    log.HouseKeepLogs();
}

TEST_F(SystemLogTest, ReportFailureShowsTheBoxAndLogsUnlessLevelIsNone) {
    ReportFailure(reporter, log, "ERR00305 : Network connection fail.", "no route",
                  MessageBoxKind::Warning, LogLevel::Warming);
    ReportFailure(reporter, log, "quiet", MessageBoxKind::Information, LogLevel::None);
    EXPECT_EQ(reporter.boxes(),
              (std::vector<std::string>{"Warning: ERR00305 : Network connection fail. : no route",
                                        "Information: quiet"}));
    EXPECT_EQ(ReadFile(logFile("2026-12-08")),
              "2026-12-08 14:00:00 [WARMING] ERR00305 : Network connection fail. : no route\r\n");
}

}  // namespace
}  // namespace vantor::app
