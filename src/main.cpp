// SPDX-License-Identifier: GPL-3.0-or-later
#include <langinfo.h>
#include <signal.h>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <string>
#include <string_view>

#include "app/AppPaths.h"
#include "headless/HeadlessApp.h"
#include "headless/HistoryReport.h"
#include "ui/BuildConfig.h"
#include "ui/GuiApp.h"

namespace {

void PrintUsage(std::FILE* out) {
    std::fputs(
        "Usage: vantor-lite [--headless | --check-now | --version | --help]\n"
        "       vantor-lite --report [--since 24h|7d|30d|365d] [--format table|csv|json]\n"
        "       vantor-lite --history-export FROM TO\n"
        "\n"
        "Monitors network services and raises alarms when a check fails. Without\n"
        "options it opens its main window (it needs a display).\n"
        "\n"
        "  --headless   run the monitor without windows, until SIGTERM or SIGINT (a\n"
        "               second one stops it without waiting for running checks);\n"
        "               SIGHUP reloads conf/service.xml and conf/SysInit.ini\n"
        "  --check-now  check every started service once, wait for its retries and\n"
        "               alarms, print one line per service and per alarm, and end;\n"
        "               exit 0 when all passed, 1 when any failed, 2 when start-up\n"
        "               failed, 3 when SIGTERM or SIGINT stopped it before every check\n"
        "               came back (those are printed as \"Not checked\")\n"
        "  --report     print one line per service from the result history: key,\n"
        "               checks, failed, uptime, response p50/p95/max (ms) and the last\n"
        "               change of state, over the last 24h (the default), 7d, 30d or\n"
        "               365d, as a table, CSV or JSON\n"
        "  --history-export FROM TO\n"
        "               write every verdict from FROM to TO (yyyy-MM-dd, or\n"
        "               yyyy-MM-dd HH:mm[:ss], local time; a date alone as TO takes\n"
        "               its whole day) as CSV: key, time, status, response time in\n"
        "               microseconds, flags\n"
        "               Both read the history while a monitor runs, without\n"
        "               stopping it; exit 1 when there is no history\n"
        "  --version    print the version and exit\n"
        "  --help       show this text and exit\n"
        "\n"
        "Files: the application directory is the key AppPath in section [Settings]\n"
        "of ${XDG_CONFIG_HOME:-$HOME/.config}/korvane/VantorLite.conf; without it an\n"
        "installed program uses ${XDG_DATA_HOME:-$HOME/.local/share}/vantor-lite and\n"
        "one started from its build tree \"..\". It holds conf/service.xml (the\n"
        "services), conf/SysInit.ini (the settings), log/ (the system log and\n"
        "the alarm backup) and history/ (the result history, history.db).\n"
        "\n"
        "Exit status: 0 on a clean end; 1 when start-up failed or service.xml could\n"
        "not be written at the end; 2 for a bad option or no display; --check-now\n"
        "as above.\n"
        "\n"
        "More: man vantor-lite\n"
        "\n"
        "conf/service.xml and conf/SysInit.ini may be edited while the program runs:\n"
        "an edit is taken in before the program writes the file (the results of the\n"
        "services still there are kept), and at once on SIGHUP.\n",
        out);
}

// Host names in service.xml are UTF-8, and libcurl and getaddrinfo turn a
// name in another script into its ASCII form from the character set of
// LC_CTYPE: the environment's when it is UTF-8, C.UTF-8 otherwise (as Qt
// does for the window). Numbers and messages stay in the C locale.
void TakeUtf8Characters() {
    if (std::setlocale(LC_CTYPE, "") != nullptr &&
        std::string_view(nl_langinfo(CODESET)) == "UTF-8") {
        return;
    }
    if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) {
        std::setlocale(LC_CTYPE, "C");
    }
}
}  // namespace

int main(int argc, char** argv) {
    // A peer that closes its end must not kill the program on the next write.
    ::signal(SIGPIPE, SIG_IGN);
    TakeUtf8Characters();

    bool headless = false;
    bool checkNow = false;
    bool report = false;
    bool exportRows = false;
    vantor::headless::ReportOptions reportOptions;
    std::int64_t exportFrom = 0;
    std::int64_t exportTo = 0;
    auto badUse = [](const std::string& text) {
        std::fprintf(stderr, "vantor-lite: %s\n\n", text.c_str());
        PrintUsage(stderr);
        return 2;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--report") {
            report = true;
            continue;
        }
        if (arg == "--since" || arg == "--format") {
            if (i + 1 >= argc) {
                return badUse("'" + std::string(arg) + "' needs a value");
            }
            const std::string_view value = argv[++i];
            if (arg == "--since") {
                reportOptions.span = vantor::headless::ParseSpan(value);
                if (reportOptions.span == 0) {
                    return badUse("--since takes 24h, 7d, 30d or 365d, not '" + std::string(value) +
                                  "'");
                }
            } else if (value == "table" || value == "csv" || value == "json") {
                using Format = vantor::headless::ReportOptions::Format;
                reportOptions.format = value == "table" ? Format::Table
                                       : value == "csv" ? Format::Csv
                                                        : Format::Json;
            } else {
                return badUse("--format takes table, csv or json, not '" + std::string(value) +
                              "'");
            }
            continue;
        }
        if (arg == "--history-export") {
            if (i + 2 >= argc) {
                return badUse("--history-export needs FROM and TO");
            }
            if (!vantor::headless::ParseLocalTime(argv[i + 1], false, exportFrom) ||
                !vantor::headless::ParseLocalTime(argv[i + 2], true, exportTo)) {
                return badUse("--history-export takes yyyy-MM-dd or yyyy-MM-dd HH:mm[:ss], not '" +
                              std::string(argv[i + 1]) + "' '" + std::string(argv[i + 2]) + "'");
            }
            exportRows = true;
            i += 2;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            PrintUsage(stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("vantor-lite %s\n", VANTOR_VERSION);
            return 0;
        }
        if (arg == "--headless") {
            headless = true;
        } else if (arg == "--check-now") {
            checkNow = true;
        } else {
            std::fprintf(stderr, "vantor-lite: unknown option '%s'\n\n", argv[i]);
            PrintUsage(stderr);
            return 2;
        }
    }
    if (static_cast<int>(headless) + static_cast<int>(checkNow) + static_cast<int>(report) +
            static_cast<int>(exportRows) >
        1) {
        return badUse("--headless, --check-now, --report and --history-export go alone");
    }
    if (!report && (reportOptions.span != 86400 ||
                    reportOptions.format != vantor::headless::ReportOptions::Format::Table)) {
        return badUse("--since and --format go with --report");
    }
    if (report || exportRows) {
        const std::string config = vantor::app::UserConfigFile();
        if (report) {
            reportOptions.userConfigFile = config;
            return vantor::headless::RunReport(reportOptions, std::time(nullptr), std::cout,
                                               std::cerr);
        }
        return vantor::headless::RunHistoryExport(config, exportFrom, exportTo, std::cout,
                                                  std::cerr);
    }
    if (!headless && !checkNow) {
        if (!vantor::ui::HasDisplay()) {
            std::fputs(
                "vantor-lite: no display to open the window on (neither DISPLAY nor "
                "WAYLAND_DISPLAY is set); run 'vantor-lite --headless' to monitor "
                "without windows.\n",
                stderr);
            return 2;
        }
        vantor::ui::GuiOptions options;
        options.userConfigFile = vantor::app::UserConfigFile();
        return vantor::ui::RunGui(argc, argv, options);
    }
    vantor::headless::HeadlessOptions options;
    options.userConfigFile = vantor::app::UserConfigFile();
    if (checkNow) {
        options.mode = vantor::headless::HeadlessOptions::Mode::CheckNow;
    }
    return vantor::headless::RunHeadless(options);
}
