// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/AppPaths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "app/IniFile.h"

namespace vantor::app {

std::string UserConfigFile() {
    std::string base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg != '\0') {
        base = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr) {
        base = std::string(home) + "/.config";
    } else {
        base = ".config";
    }
    return base + "/korvane/VantorLite.conf";
}

namespace {

// The configured AppPath; empty when none is.
std::string ConfiguredAppPath(const IniFile& ini) {
    std::string value = ini.readString("Settings", "AppPath", "");
    // Paths are built as AppPath + "/conf/": drop a trailing separator so
    // that "/opt/vantor/" and "/opt/vantor" name the same files.
    while (value.size() > 1 && value.back() == '/') {
        value.pop_back();
    }
    return value;
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FindOrMakeDirectory(const std::string& path, mode_t mode) {
    if (IsDirectory(path)) {
        return true;
    }
    return ::mkdir(path.c_str(), mode) == 0;
}

// Makes the folders of a path that are missing, each for this user only,
// whatever the umask lets others have; the ones there stay as they are.
void MakePrivateDirectories(const std::string& path) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        ::mkdir(path.substr(0, slash).c_str(), 0700);
        if (slash == std::string::npos) {
            return;
        }
    }
}

}  // namespace

std::string GetAppPath(const std::string& userConfigFile) {
    Expected<IniFile> ini = IniFile::load(userConfigFile);
    if (!ini) {
        return {};
    }
    const std::string value = ConfiguredAppPath(*ini);
    return value.empty() ? ".." : value;
}

AppLocation LocateApplication(const std::string& userConfigFile, std::string executable) {
    Expected<IniFile> ini = IniFile::load(userConfigFile);
    if (!ini) {
        return {};  // unreadable: no application directory
    }
    if (std::string configured = ConfiguredAppPath(*ini); !configured.empty()) {
        return {configured, configured, {}};
    }
    if (executable.empty()) {
        char buffer[4096];
        const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
        executable = n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
    }
    const std::string binDir = executable.substr(0, executable.rfind('/'));
    const std::string prefix = binDir.substr(0, binDir.rfind('/'));
    struct stat st {};
    if (executable.empty() || ::stat((prefix + "/CMakeCache.txt").c_str(), &st) == 0) {
        return {"..", "..", {}};  // a build tree
    }
    std::string data;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && *xdg != '\0') {
        data = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        data = std::string(home) + "/.local/share";
    } else {
        return {"..", "..", {}};
    }
    // Made on the first start; conf/ and log/ follow as the checks make them.
    MakePrivateDirectories(data);
    const std::string appPath = data + "/vantor-lite";
    FindOrMakeDirectory(appPath, 0700);
    AppLocation location{appPath, prefix + "/share/vantor-lite", {}};
    // Its files hold passwords: never in what another user may read or
    // replace.
    struct stat own {};
    if (::stat(appPath.c_str(), &own) == 0 && own.st_uid != ::getuid()) {
        location.refusal =
            "The application directory " + appPath + " is not a directory of this user's own";
    }
    return location;
}

AppPaths::AppPaths(std::string appPath) : m_appPath(std::move(appPath)), m_dataPath(m_appPath) {}

AppPaths::AppPaths(const AppLocation& location)
    : m_appPath(location.appPath), m_dataPath(location.dataPath), m_refusal(location.refusal) {}

std::string AppPaths::logDir() const {
    return m_logDirKnown ? logDirPath() : std::string();
}

std::string AppPaths::settingsFile() const {
    return m_confDirKnown ? confDirPath() + "SysInit.ini" : std::string();
}

std::string AppPaths::helpFile() const {
    return m_helpFileKnown ? helpFilePath() : std::string();
}

bool AppPaths::CheckLogDir() {
    // The logs and the alarm backup name services, hosts and failures:
    // owner only, like conf/.
    const bool ok = FindOrMakeDirectory(logDirPath(), 0700);
    if (ok) {
        m_logDirKnown = true;
    }
    return ok;
}

bool AppPaths::CheckConfDir() {
    // The conf directory holds passwords in plain text: owner only.
    const bool ok = FindOrMakeDirectory(confDirPath(), 0700);
    if (ok) {
        m_confDirKnown = true;
    }
    return ok;
}

bool AppPaths::CheckHelpFile() {
    struct stat st {};
    const bool ok = ::stat(helpFilePath().c_str(), &st) == 0 && S_ISREG(st.st_mode);
    m_helpFileKnown = ok;
    return ok;
}

}  // namespace vantor::app
