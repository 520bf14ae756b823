// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/Process.h"
#include "support/ServiceListFile.h"
#include "support/TempDir.h"

// The program itself, run as an operator would in a fresh application
// directory D: D/bin is the working directory and no per-user file exists,
// so the application directory is ".." and conf/ and log/ are in D.
namespace vantor::e2e {

using test::ServiceEntry;

class AppDir {
public:
    AppDir();

    const std::string& path() const { return m_dir.path(); }
    std::string file(const std::string& name) const { return m_dir.file(name); }

    void writeServices(const std::vector<ServiceEntry>& services) const;
    void writeServiceFile(const std::string& text) const;
    void writeSettings(const std::string& ini) const;

    // Starts vantor-lite with these arguments and this TZ.
    std::unique_ptr<test::Process> start(const std::vector<std::string>& args,
                                         const std::string& tz = "UTC") const;
    // The same, started by `wrapper` (a command that runs its last
    // arguments), with `env` added to the environment ("\x01unset" removes).
    std::unique_ptr<test::Process> startWithin(const std::vector<std::string>& wrapper,
                                               const std::vector<std::string>& args,
                                               std::map<std::string, std::string> env) const;

    // The system log files (system_<date>.log), in date order, joined; each
    // line without its CR LF. A line that does not end in CR LF fails the
    // calling test.
    std::vector<std::string> systemLogLines() const;
    // The same for the alarm backup files (AlarmMsg_<date>.log).
    std::vector<std::string> alarmBackupLines() const;
    // service_status of the record with this key in conf/service.xml as it
    // is on disk; nullopt when there is no such record.
    std::optional<std::string> storedServiceStatus(const std::string& key) const;

private:
    std::vector<std::string> linesOf(const std::string& prefix) const;

    test::TempDir m_dir;
};

// Form encoding as an HTTP gateway expects it: ASCII letters and digits
// stay, a blank becomes "+", every other byte "%" and two upper-case hex
// digits.
std::string FormEncoded(const std::string& text);
// The reverse, for any form-encoded text.
std::string FormDecoded(const std::string& text);

}  // namespace vantor::e2e
