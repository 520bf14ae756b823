#include <langinfo.h>
#include <signal.h>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "app/AppPaths.h"
#include "headless/HeadlessApp.h"
#include "ui/BuildConfig.h"
#include "ui/GuiApp.h"

namespace {

void PrintUsage(std::FILE* out) {
    std::fputs(
        "Usage: vantor-lite [--headless | --check-now | --version | --help]\n"
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
        "  --version    print the version and exit\n"
        "  --help       show this text and exit\n"
        "\n"
        "Files: the application directory is the key AppPath in section [Settings]\n"
        "of ${XDG_CONFIG_HOME:-$HOME/.config}/korvane/VantorLite.conf; without it an\n"
        "installed program uses ${XDG_DATA_HOME:-$HOME/.local/share}/vantor-lite and\n"
        "one started from its build tree \"..\". It holds conf/service.xml (the\n"
        "services), conf/SysInit.ini (the settings) and log/ (the system log and\n"
        "the alarm backup).\n"
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
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
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
