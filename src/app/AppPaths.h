// SPDX-License-Identifier: GPL-3.0-or-later
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

// Where the program keeps its files, and where its read-only files (help,
// animation) are.
struct AppLocation {
    std::string appPath;
    std::string dataPath;
    // Why the application directory must not be used (start-up ends with
    // it); empty when it may.
    std::string refusal;
};

// The configured AppPath when there is one (the read-only files live under
// it too). Without one: a program run from a build tree (the folder above
// its executable holds the build's CMakeCache.txt) uses ".." as before; an
// installed one keeps its files in ${XDG_DATA_HOME:-$HOME/.local/share}/
// vantor-lite (made here when missing, with every folder on the way, for
// this user only; one of another user is refused) and reads the others from
// the share/vantor-lite folder beside its bin/. executable: the program's
// own path; empty reads /proc/self/exe.
AppLocation LocateApplication(const std::string& userConfigFile, std::string executable = {});

// The application directory and the paths built from it. The three checks
// test (and where possible create) what must exist and remember what they
// found; they may run on any thread.
class AppPaths final {
public:
    explicit AppPaths(std::string appPath);
    explicit AppPaths(const AppLocation& location);

    const std::string& appPath() const { return m_appPath; }
    // Why start-up must not go on with this directory; empty when it may.
    const std::string& refusal() const { return m_refusal; }
    std::string confDirPath() const { return m_appPath + "/conf/"; }
    std::string logDirPath() const { return m_appPath + "/log/"; }
    std::string serviceFilePath() const { return m_appPath + "/conf/service.xml"; }
    // The result history's folder (ends with "/").
    std::string historyDirPath() const { return m_appPath + "/history/"; }
    std::string helpFilePath() const { return m_dataPath + "/help/VantorLite.hlp"; }
    // Where the animation is.
    std::string binDirPath() const { return m_dataPath + "/bin/"; }

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
    std::string m_dataPath;
    std::string m_refusal;
    std::atomic<bool> m_logDirKnown{false};
    std::atomic<bool> m_confDirKnown{false};
    std::atomic<bool> m_helpFileKnown{false};
};

}  // namespace vantor::app
