// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/SystemLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "app/AppPaths.h"
#include "app/AppSettings.h"
#include "app/AtomicFile.h"
#include "app/Clock.h"
#include "app/DetailText.h"
#include "app/Messages.h"
#include "app/Reporter.h"
#include "app/TimeFormat.h"

namespace vantor::app {

namespace {

// Appends one line, handed to the file in one write call (a regular file
// takes it whole), so that a reader never sees half of it. A new file is
// the owner's only.
Status AppendLine(const std::string& path, const std::string& line) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) {
        return Error{SystemErrorText("Cannot open", path, errno)};
    }
    if (!WriteAll(fd, line)) {
        const int err = errno;
        ::close(fd);
        return Error{SystemErrorText("Cannot write", path, err)};
    }
    if (::close(fd) != 0) {
        return Error{SystemErrorText("Cannot write", path, errno)};
    }
    return {};
}

std::string WithFailure(std::string_view text, std::string_view failure) {
    std::string out(text);
    out += " : ";
    out += failure;
    return out;
}

}  // namespace

SystemLog::SystemLog(AppPaths& paths, AppSettings& settings, const Clock& clock, Reporter& reporter)
    : m_paths(paths), m_settings(settings), m_clock(clock), m_reporter(reporter) {}

std::string_view SystemLog::LevelTag(LogLevel level) {
    switch (level) {
        case LogLevel::Debug:
            return "[DEBUG]";
        case LogLevel::Info:
            return "[INFO]";
        case LogLevel::Notice:
            return "[NOTICE]";
        case LogLevel::Warming:
            return "[WARMING]";
        case LogLevel::Error:
            return "[ERROR]";
        case LogLevel::Critical:
            return "[CRITICAL]";
        case LogLevel::Alert:
            return "[ALERT]";
        case LogLevel::Emergency:
            return "[EMERGENCY]";
        case LogLevel::None:
            break;
    }
    return {};
}

std::string SystemLog::systemLogFileName() const {
    return m_paths.logDir() + m_settings.systemLogFilename + FormatDate(m_clock.now()) + ".log";
}

std::string SystemLog::alarmBackupFileName() const {
    return m_settings.backupFilenamePath + m_settings.backupFilename + FormatDate(m_clock.now()) +
           ".log";
}

void SystemLog::WriteSystemLog(std::string_view text, LogLevel level) {
    std::unique_lock lock(m_mutex);
    if (!m_paths.CheckLogDir()) {
        lock.unlock();
        m_reporter.showBox(MessageBoxKind::Error, msg::kSystemLogDirNotFound);
        m_reporter.requestTerminate();
        return;
    }
    if (level == LogLevel::None ||
        static_cast<int>(level) < static_cast<int>(m_settings.minLogLevel)) {
        return;
    }
    if (m_settings.systemLogFilename.empty()) {
        m_settings.systemLogFilename = "system_";
    }
    // One clock reading names the file and stamps the line, so a line written
    // at midnight lands in the file of its own date.
    const auto now = m_clock.now();
    const std::string path =
        m_paths.logDir() + m_settings.systemLogFilename + FormatDate(now) + ".log";
    std::string line = FormatTimestamp(now);
    line += ' ';
    line += LevelTag(level);
    line += ' ';
    // Texts carry values of records and settings: one line, of bounded length.
    line += OneLine(text, kLineMaxBytes);
    line += "\r\n";
    const Status written = AppendLine(path, line);
    if (!written) {
        lock.unlock();
        m_reporter.showBox(MessageBoxKind::Error,
                           WithFailure(msg::kSystemLogInvalid, written.error()));
        m_reporter.requestTerminate();
    }
}

void SystemLog::WriteAlarmBackup(std::string_view timestamp, std::string_view kind,
                                 std::string_view host, std::string_view port,
                                 std::string_view detail) {
    std::unique_lock lock(m_mutex);
    if (!m_settings.backupEnable) {
        return;
    }
    const std::string path = m_settings.backupFilenamePath + m_settings.backupFilename +
                             FormatDate(m_clock.now()) + ".log";
    std::string line(timestamp);
    line += " [";
    line += DetailText(kind);
    line += "] [";
    line += DetailText(host);
    line += "] [";
    line += DetailText(port);
    line += "] ";
    line += DetailText(detail);
    line += "\r\n";
    const Status written = AppendLine(path, line);
    if (!written) {
        lock.unlock();
        m_reporter.showBox(MessageBoxKind::Warning,
                           WithFailure(msg::kAlarmLogBackupError, written.error()));
    }
}

void SystemLog::HouseKeepLogs() {
    std::lock_guard lock(m_mutex);
    const auto now = m_clock.now();
    // An age beyond any calendar date names no file.
    constexpr int kMaxAgeDays = 1'000'000;
    const int systemAge = m_settings.systemLogHouseKeepDay;
    if (systemAge > -kMaxAgeDays && systemAge < kMaxAgeDays) {
        const std::string path = m_paths.logDirPath() + m_settings.systemLogFilename +
                                 FormatDateDaysBefore(now, systemAge) + ".log";
        ::unlink(path.c_str());  // a failed delete is ignored
    }
    const int backupAge = m_settings.backupHouseKeepDay;
    if (backupAge > -kMaxAgeDays && backupAge < kMaxAgeDays) {
        const std::string path = m_settings.backupFilenamePath + m_settings.backupFilename +
                                 FormatDateDaysBefore(now, backupAge) + ".log";
        ::unlink(path.c_str());
    }
}

void ReportFailure(Reporter& reporter, SystemLog& log, std::string_view text,
                   std::string_view failureText, MessageBoxKind kind, LogLevel level) {
    const std::string full =
        failureText.empty() ? std::string(text) : WithFailure(text, failureText);
    reporter.showBox(kind, full);
    if (level != LogLevel::None) {
        log.WriteSystemLog(full, level);
    }
}

}  // namespace vantor::app
