// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace vantor::headless {

// What --report and --history-export read: the history database of the
// application directory, beside a running instance (readers never block
// its writer).
struct ReportOptions {
    std::string userConfigFile;
    // Seconds before now that the report covers.
    std::int64_t span = 86400;
    enum class Format { Table, Csv, Json } format = Format::Table;
};

// "24h", "7d", "30d" or "365d" as seconds; 0 for anything else.
std::int64_t ParseSpan(std::string_view text);
// "yyyy-MM-dd" or "yyyy-MM-dd HH:mm[:ss]", local time, as seconds since the
// epoch; a date alone is its first second, or with endOfDay its last.
// False for anything else.
bool ParseLocalTime(std::string_view text, bool endOfDay, std::int64_t& out);

// One line per service with verdicts in the span. Exit code: 0, or 1 when
// there is no history to read (said on err).
int RunReport(const ReportOptions& options, std::int64_t now, std::ostream& out, std::ostream& err);
// The raw rows from..to as CSV. Exit code as RunReport.
int RunHistoryExport(const std::string& userConfigFile, std::int64_t from, std::int64_t to,
                     std::ostream& out, std::ostream& err);

}  // namespace vantor::headless
