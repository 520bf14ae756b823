// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <mutex>
#include <string>
#include <string_view>

#include "app/LogLevel.h"

namespace vantor::app {

class AppPaths;
class Clock;
class Reporter;
struct AppSettings;

// The daily system log and the daily alarm backup file. Each call opens the
// file, appends one CR LF terminated line and closes it again, so that other
// programs may read, move or delete the files at any time. Calls may come
// from any thread; lines never interleave.
class SystemLog final {
public:
    SystemLog(AppPaths& paths, AppSettings& settings, const Clock& clock, Reporter& reporter);
    SystemLog(const SystemLog&) = delete;
    SystemLog& operator=(const SystemLog&) = delete;

    // A log that cannot be written ends the application (ERR00205 when the
    // log directory is missing, ERR00202 when the file cannot be written).
    void WriteSystemLog(std::string_view text, LogLevel level);
    // Writes nothing unless the alarm backup is enabled; a failure is shown
    // as a warning and work goes on.
    void WriteAlarmBackup(std::string_view timestamp, std::string_view kind, std::string_view host,
                          std::string_view port, std::string_view detail);
    // Deletes the system log and the alarm backup file whose date lies
    // exactly "HouseKeepDay" days before today.
    void HouseKeepLogs();

    static std::string_view LevelTag(LogLevel level);

    // Today's file names, as the writers build them.
    std::string systemLogFileName() const;
    std::string alarmBackupFileName() const;

private:
    AppPaths& m_paths;
    AppSettings& m_settings;
    const Clock& m_clock;
    Reporter& m_reporter;
    std::mutex m_mutex;
};

// The reporting convention: a box with the text, or the text + " : " + the
// failure text, and the same in the system log at `level` (none at
// LogLevel::None).
void ReportFailure(Reporter& reporter, SystemLog& log, std::string_view text,
                   std::string_view failureText, MessageBoxKind kind, LogLevel level);
inline void ReportFailure(Reporter& reporter, SystemLog& log, std::string_view text,
                          MessageBoxKind kind, LogLevel level) {
    ReportFailure(reporter, log, text, {}, kind, level);
}

}  // namespace vantor::app
