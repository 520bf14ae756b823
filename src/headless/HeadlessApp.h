// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

namespace vantor::headless {

struct HeadlessOptions {
    enum class Mode {
        // Monitor until SIGTERM or SIGINT.
        Monitor,
        // Check every started service once, wait for every check, retry and
        // alarm, print the results and end.
        CheckNow,
    };
    Mode mode = Mode::Monitor;
    // The per-user file that names the application directory.
    std::string userConfigFile;
    // Printed on standard output once start-up is complete (monitor mode).
    bool announceReady = true;
};

// The program without windows: the start-up checks, the single-instance
// lock, the service list, the settings and the work-item pool, then the
// engine. Returns the exit code. Monitor: 0 after a clean stop, 1 when
// start-up or a failure ended the program. CheckNow: 0 when every check
// passed, 1 when any failed, 2 when start-up failed, 3 when a signal stopped
// the run before every check came back.
int RunHeadless(const HeadlessOptions& options);

}  // namespace vantor::headless
