// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "net/TextProtocol.h"

namespace vantor::net {

// The FTP proxy conventions, by the names the service list stores.
enum class FtpProxyType {
    None = 0,             // "fpcmNone"
    UserSite = 1,         // "fpcmUserSite"
    Site = 2,             // "fpcmSite"
    Open = 3,             // "fpcmOpen"
    UserPass = 4,         // "fpcmUserPass"
    Transparent = 5,      // "fpcmTransparent"
    HttpProxyWithFtp = 6  // "fpcmHttpProxyWithFtp"
};

// A name outside the list gives None.
FtpProxyType FtpProxyTypeFromName(std::string_view name);

struct FtpLogin {
    std::string host;  // the FTP server, as the dialogues name it
    std::string user;
    std::string password;
    FtpProxyType proxyType = FtpProxyType::None;
    std::string proxyUser;
    std::string proxyPassword;
};

// The control connection of an FTP session (RFC 959): greeting, the login
// dialogues of the proxy conventions, TYPE and SYST. No data connection.
class FtpClient final {
public:
    Status connect(const std::string& host, int port, Deadline deadline);
    // The greeting must be 220.
    Status readGreeting(Deadline deadline);
    Status login(const FtpLogin& login, Deadline deadline);
    // TLS on the open connection (implicit TLS: before the greeting).
    Status secure(const std::string& host, const TlsOptions& options, Deadline deadline) {
        return m_connection.startTls(host, options, deadline);
    }
    // AUTH TLS (RFC 4217), then the handshake; before the login.
    Status startTls(const std::string& host, const TlsOptions& options, Deadline deadline);
    // PBSZ 0 and PROT P: data connections, should any follow, under TLS too.
    Status protectData(Deadline deadline);
    Expected<NumericReply> command(std::string_view line, std::initializer_list<int> accepted,
                                   Deadline deadline);
    void close() { m_connection.close(); }

private:
    // USER, and PASS when the server asks for it with 331.
    Status userPass(const std::string& user, const std::string& password, Deadline deadline);

    TcpConnection m_connection;
};

}  // namespace vantor::net
