#pragma once

#include <memory>
#include <string>

namespace vantor::app {

struct HeadlessOptions {
    // The per-user file that names the application directory.
    std::string userConfigFile;
    // Printed on standard output once start-up is complete.
    bool announceReady = true;
};

// The program without windows: the start-up checks, the single-instance
// lock, the service list, the settings and the work-item pool; then it runs
// until SIGTERM or SIGINT and shuts down in order. Returns the exit code:
// 0 after a clean stop, 1 when start-up or a failure ended the program.
int RunHeadless(const HeadlessOptions& options);

}  // namespace vantor::app
