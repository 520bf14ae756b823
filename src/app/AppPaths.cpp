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

std::string GetAppPath(const std::string& userConfigFile) {
    Expected<IniFile> ini = IniFile::load(userConfigFile);
    if (!ini) {
        return {};
    }
    std::string value = ini->readString("Settings", "AppPath", "");
    // Paths are built as AppPath + "/conf/": drop a trailing separator so
    // that "/opt/vantor/" and "/opt/vantor" name the same files.
    while (value.size() > 1 && value.back() == '/') {
        value.pop_back();
    }
    if (value.empty()) {
        return "..";
    }
    return value;
}

namespace {

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

}  // namespace

AppPaths::AppPaths(std::string appPath) : m_appPath(std::move(appPath)) {}

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
