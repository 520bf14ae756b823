// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "engine/CheckWorkItem.h"
#include "net/FtpClient.h"

namespace vantor::engine {

struct FtpCheckRequest {
    std::string username;
    std::string password;
    std::string proxyHost;
    int proxyPort = 0;
    std::string proxyType;  // "fpcmNone", "fpcmUserSite", ...
    std::string proxyUsername;
    std::string proxyPassword;
};

// Passes when the FTP server (directly or through the chosen proxy
// convention) greets with 220, accepts the login, answers "TYPE I" with 200
// and "SYST" with 200, 215 or 500. No data connection, no QUIT.
class ThreadFTPCheck final : public CheckWorkItem {
public:
    ThreadFTPCheck(const CheckSettings& settings, const FtpCheckRequest& request);

protected:
    Status exchange(net::Deadline deadline) override;

private:
    net::FtpLogin m_login;
    std::string m_proxyHost;
    int m_proxyPort = 0;
};

}  // namespace vantor::engine
