#pragma once

#include <atomic>
#include <string>

namespace vantor::app {

// The per-user file that names the application directory:
// ${XDG_CONFIG_HOME:-$HOME/.config}/korvane/VantorLite.conf
std::string UserConfigFile();

// Reads "AppPath" from section "Settings" of the per-user file. A missing
// file, section or key, or an empty value, gives ".."; a file that exists but
// cannot be read gives the empty string. Never creates the file.
std::string GetAppPath(const std::string& userConfigFile);

// The application directory and the paths built from it. The three checks
// test (and where possible create) what must exist and remember what they
// found; they may run on any thread.
class AppPaths final {
public:
    explicit AppPaths(std::string appPath);

    const std::string& appPath() const { return m_appPath; }
    std::string confDirPath() const { return m_appPath + "/conf/"; }
    std::string logDirPath() const { return m_appPath + "/log/"; }
    std::string serviceFilePath() const { return m_appPath + "/conf/service.xml"; }
    std::string helpFilePath() const { return m_appPath + "/help/VantorLite.hlp"; }
    std::string binDirPath() const { return m_appPath + "/bin/"; }

    // The log directory (ends with "/"), empty until CheckLogDir has found or
    // made it.
    std::string logDir() const;
    // The settings file, empty until CheckConfDir has found or made the conf
    // directory.
    std::string settingsFile() const;
    // The help file, empty unless CheckHelpFile found it.
    std::string helpFile() const;

    bool CheckLogDir();
    bool CheckConfDir();
    bool CheckHelpFile();

private:
    std::string m_appPath;
    std::atomic<bool> m_logDirKnown{false};
    std::atomic<bool> m_confDirKnown{false};
    std::atomic<bool> m_helpFileKnown{false};
};

}  // namespace vantor::app
