// SPDX-License-Identifier: GPL-3.0-or-later
#include "headless/HistoryReport.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <ostream>

#include "app/AppPaths.h"
#include "app/JsonText.h"
#include "history/HistoryDb.h"
#include "history/HistoryStore.h"

namespace vantor::headless {

namespace {

std::unique_ptr<history::HistoryDb> OpenHistory(const std::string& userConfigFile,
                                                std::ostream& err) {
    const app::AppLocation location = app::LocateApplication(userConfigFile);
    if (!location.refusal.empty()) {
        err << "vantor-lite: " << location.refusal << '\n';
        return nullptr;
    }
    const app::AppPaths paths(location);
    const std::string path = history::HistoryStore::databaseIn(paths.historyDirPath());
    try {
        return history::HistoryDb::openReader(path);
    } catch (const std::exception& e) {
        err << "vantor-lite: no history to read in " << path << " : " << e.what() << '\n';
        return nullptr;
    }
}

std::string Ms(std::optional<std::int64_t> us) {
    return history::FormatMs(us);
}

std::string ChangeText(std::optional<std::int64_t> t) {
    return t ? history::FormatTime(*t) : std::string();
}

std::string JsonNumber(std::optional<std::int64_t> us) {
    return us ? Ms(us) : "null";
}

void PrintTable(const std::vector<history::ServiceReport>& rows, std::ostream& out) {
    const std::vector<std::string> head = {"Key",    "Checks", "Failed", "Uptime",
                                           "p50 ms", "p95 ms", "Max ms", "Last change"};
    std::vector<std::vector<std::string>> cells;
    for (const auto& r : rows) {
        cells.push_back({r.key, std::to_string(r.counts.checks), std::to_string(r.counts.failed),
                         history::FormatUptime(r.counts), Ms(r.response.p50), Ms(r.response.p95),
                         Ms(r.response.max), ChangeText(r.lastChange)});
    }
    std::vector<std::size_t> width(head.size());
    for (std::size_t c = 0; c < head.size(); ++c) {
        width[c] = head[c].size();
        for (const auto& line : cells) {
            // The dash of an empty uptime is one column wide, three bytes.
            width[c] = std::max(width[c], line[c] == "\u2014" ? 1 : line[c].size());
        }
    }
    auto printLine = [&](const std::vector<std::string>& line) {
        std::string text;
        for (std::size_t c = 0; c < line.size(); ++c) {
            const std::size_t shown = line[c] == "\u2014" ? 1 : line[c].size();
            const std::string pad(width[c] - shown, ' ');
            // The key and the date read from the left, numbers from the right.
            const bool left = c == 0 || c + 1 == line.size();
            text += left ? line[c] + pad : pad + line[c];
            if (c + 1 < line.size()) {
                text += "  ";
            }
        }
        while (!text.empty() && text.back() == ' ') {
            text.pop_back();
        }
        out << text << '\n';
    };
    printLine(head);
    for (const auto& line : cells) {
        printLine(line);
    }
}

}  // namespace

std::int64_t ParseSpan(std::string_view text) {
    if (text == "24h") {
        return 86400;
    }
    if (text == "7d") {
        return 7 * 86400;
    }
    if (text == "30d") {
        return 30 * 86400;
    }
    if (text == "365d") {
        return 365 * 86400;
    }
    return 0;
}

bool ParseLocalTime(std::string_view text, bool endOfDay, std::int64_t& out) {
    const std::string s(text);
    std::tm tm{};
    int consumed = 0;
    bool dateOnly = false;
    if (std::sscanf(s.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%n", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                    &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &consumed) == 6 &&
        static_cast<std::size_t>(consumed) == s.size()) {
    } else if (tm = {}, consumed = 0;
               std::sscanf(s.c_str(), "%4d-%2d-%2d %2d:%2d%n", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                           &tm.tm_hour, &tm.tm_min, &consumed) == 5 &&
               static_cast<std::size_t>(consumed) == s.size()) {
        tm.tm_sec = endOfDay ? 59 : 0;
    } else if (tm = {}, consumed = 0; std::sscanf(s.c_str(), "%4d-%2d-%2d%n", &tm.tm_year,
                                                  &tm.tm_mon, &tm.tm_mday, &consumed) == 3 &&
                                      static_cast<std::size_t>(consumed) == s.size()) {
        dateOnly = true;
    } else {
        return false;
    }
    const int year = tm.tm_year;
    const int month = tm.tm_mon;
    const int day = tm.tm_mday;
    if (month < 1 || month > 12 || day < 1 || day > 31 || tm.tm_hour > 23 || tm.tm_min > 59 ||
        tm.tm_sec > 60) {
        return false;
    }
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    if (dateOnly && endOfDay) {
        tm.tm_hour = 23;
        tm.tm_min = 59;
        tm.tm_sec = 59;
    }
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    // mktime moves a 31st of a short month on: such a date does not exist.
    if (t == static_cast<std::time_t>(-1) || tm.tm_mday != day || tm.tm_mon != month - 1 ||
        tm.tm_year != year - 1900) {
        return false;
    }
    out = static_cast<std::int64_t>(t);
    return true;
}

int RunReport(const ReportOptions& options, std::int64_t now, std::ostream& out,
              std::ostream& err) {
    const auto db = OpenHistory(options.userConfigFile, err);
    if (!db) {
        return 1;
    }
    std::vector<history::ServiceReport> rows;
    try {
        rows = db->report(now - options.span + 1, now);
    } catch (const std::exception& e) {
        err << "vantor-lite: the history cannot be read: " << e.what() << '\n';
        return 1;
    }
    switch (options.format) {
        case ReportOptions::Format::Table:
            PrintTable(rows, out);
            break;
        case ReportOptions::Format::Csv:
            out << "key,checks,failed,uptime,p50_ms,p95_ms,max_ms,last_change\n";
            for (const auto& r : rows) {
                out << history::CsvField(r.key) << ',' << r.counts.checks << ',' << r.counts.failed
                    << ',' << history::CsvField(history::FormatUptime(r.counts)) << ','
                    << Ms(r.response.p50) << ',' << Ms(r.response.p95) << ',' << Ms(r.response.max)
                    << ',' << ChangeText(r.lastChange) << '\n';
            }
            break;
        case ReportOptions::Format::Json: {
            out << "[";
            bool first = true;
            for (const auto& r : rows) {
                // Every line has verdicts: the report leaves out the others.
                const double up = history::UptimePercent(r.counts).value_or(0.0);
                char upText[32];
                std::snprintf(upText, sizeof upText, "%.3f", up);
                out << (first ? "\n" : ",\n") << "  {\"key\": " << app::JsonString(r.key)
                    << ", \"checks\": " << r.counts.checks << ", \"failed\": " << r.counts.failed
                    << ", \"uptime_percent\": " << upText
                    << ", \"p50_ms\": " << JsonNumber(r.response.p50)
                    << ", \"p95_ms\": " << JsonNumber(r.response.p95)
                    << ", \"max_ms\": " << JsonNumber(r.response.max) << ", \"last_change\": "
                    << (r.lastChange ? app::JsonString(ChangeText(r.lastChange)) : "null") << "}";
                first = false;
            }
            out << (first ? "]\n" : "\n]\n");
            break;
        }
    }
    return 0;
}

int RunHistoryExport(const std::string& userConfigFile, std::int64_t from, std::int64_t to,
                     std::ostream& out, std::ostream& err) {
    const auto db = OpenHistory(userConfigFile, err);
    if (!db) {
        return 1;
    }
    out << "key,time,status,response_us,flags\n";
    try {
        db->exportRaw(from, to, out);
    } catch (const std::exception& e) {
        err << "vantor-lite: the history cannot be read: " << e.what() << '\n';
        return 1;
    }
    return 0;
}

}  // namespace vantor::headless
