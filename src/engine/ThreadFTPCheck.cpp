// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/ThreadFTPCheck.h"

namespace vantor::engine {

ThreadFTPCheck::ThreadFTPCheck(const CheckSettings& settings, const FtpCheckRequest& request)
    : CheckWorkItem(words::kFtp, settings) {
    m_login.host = settings.host;
    m_login.user = request.username;
    m_login.password = request.password;
    // The proxy counts only with a host and a port.
    if (!request.proxyHost.empty() && request.proxyPort != 0) {
        m_proxyHost = request.proxyHost;
        m_proxyPort = request.proxyPort;
        m_login.proxyType = net::FtpProxyTypeFromName(request.proxyType);
        m_login.proxyUser = request.proxyUsername;
        m_login.proxyPassword = request.proxyPassword;
    }
}

Status ThreadFTPCheck::exchange(net::Deadline deadline) {
    for (const std::string* value : {&m_login.user, &m_login.password, &m_login.proxyUser,
                                     &m_login.proxyPassword, &m_login.host}) {
        if (net::HasLineBreak(*value)) {
            return Error{"A login value holds a line break; nothing was sent"};
        }
    }
    const Expected<net::TlsMode> mode = tlsMode();
    if (!mode) {
        return Error{mode.error()};
    }
    const bool viaProxy = m_login.proxyType != net::FtpProxyType::None && !m_proxyHost.empty();
    // The certificate is the one of the server we connect to.
    const std::string& peer = viaProxy ? m_proxyHost : m_result.host;
    net::FtpClient client;
    Status outcome = viaProxy ? client.connect(m_proxyHost, m_proxyPort, deadline)
                              : client.connect(m_result.host, m_result.port, deadline);
    if (outcome && *mode == net::TlsMode::Implicit) {
        outcome = client.secure(peer, m_tls, deadline);
    }
    if (outcome) {
        outcome = client.readGreeting(deadline);
    }
    if (outcome && *mode == net::TlsMode::StartTls) {
        outcome = client.startTls(peer, m_tls, deadline);
    }
    if (outcome) {
        outcome = client.login(m_login, deadline);
    }
    if (outcome && *mode != net::TlsMode::None) {
        outcome = client.protectData(deadline);
    }
    if (outcome) {
        if (auto type = client.command("TYPE I", {200}, deadline); !type) {
            outcome = Error{type.error()};
        }
    }
    if (outcome) {
        // The system description is read and not used further.
        if (auto syst = client.command("SYST", {200, 215, 500}, deadline); !syst) {
            outcome = Error{syst.error()};
        }
    }
    client.close();
    return outcome;
}

}  // namespace vantor::engine
