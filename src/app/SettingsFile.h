// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <optional>

#include "app/AtomicFile.h"

namespace vantor::app {

class AppPaths;
class Reporter;
class SystemLog;
struct AppSettings;

// Loads and saves SysInit.ini. Saving writes every key in a fixed order;
// keys and sections already in the file are updated where they stand and
// lines we do not know are kept. The file is replaced atomically and is
// readable by its owner only.
class SettingsFile final {
public:
    // networkProbe runs as the last step of a successful load.
    SettingsFile(const AppPaths& paths, Reporter& reporter, SystemLog& log,
                 std::function<void()> networkProbe);

    // Returns false (after reporting ERR00203) when the file exists but could
    // not be read; the record then keeps its previous values.
    bool LoadSettings(AppSettings& settings);
    // "WindowWidth" and "WindowHeight" are written from the record: a window
    // puts its current size there before saving. Returns false (after
    // reporting ERR00203) when the file could not be written.
    bool SaveSettings(const AppSettings& settings);
    // Whether the file changed on disk (an operator's editor) since it was
    // last loaded or saved here.
    bool changedOnDisk() const;

private:
    const AppPaths& m_paths;
    Reporter& m_reporter;
    SystemLog& m_log;
    std::function<void()> m_networkProbe;
    std::optional<FileStamp> m_stamp;
};

}  // namespace vantor::app
