// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/FtpClient.h"

#include <algorithm>
#include <array>

namespace vantor::net {

FtpProxyType FtpProxyTypeFromName(std::string_view name) {
    static constexpr std::array<std::string_view, 7> kNames = {
        "fpcmNone",        "fpcmUserSite",        "fpcmSite", "fpcmOpen", "fpcmUserPass",
        "fpcmTransparent", "fpcmHttpProxyWithFtp"};
    for (std::size_t i = 0; i < kNames.size(); ++i) {
        if (kNames[i] == name) {
            return static_cast<FtpProxyType>(i);
        }
    }
    return FtpProxyType::None;
}

Status FtpClient::connect(const std::string& host, int port, Deadline deadline) {
    return m_connection.connect(host, port, deadline);
}

Status FtpClient::startTls(const std::string& host, const TlsOptions& options, Deadline deadline) {
    if (Expected<NumericReply> go = command("AUTH TLS", {234}, deadline); !go) {
        if (!m_connection.isOpen()) {
            return Error{go.error()};
        }
        return Error{"The server refused AUTH TLS" + (go.error().empty() ? "" : ": " + go.error())};
    }
    return secure(host, options, deadline);
}

Status FtpClient::protectData(Deadline deadline) {
    if (Expected<NumericReply> pbsz = command("PBSZ 0", {200}, deadline); !pbsz) {
        return Error{pbsz.error()};
    }
    if (Expected<NumericReply> prot = command("PROT P", {200}, deadline); !prot) {
        return Error{prot.error()};
    }
    return {};
}

Status FtpClient::readGreeting(Deadline deadline) {
    return ReadGreeting220(m_connection, deadline);
}

Expected<NumericReply> FtpClient::command(std::string_view line,
                                          std::initializer_list<int> accepted, Deadline deadline) {
    if (Status sent = SendLine(m_connection, line, deadline); !sent) {
        return Error{sent.error()};
    }
    Expected<NumericReply> reply = ReadNumericReply(m_connection, deadline);
    if (!reply) {
        return reply;
    }
    if (accepted.size() > 0 &&
        std::find(accepted.begin(), accepted.end(), reply->code) == accepted.end()) {
        return RefusedReply(*reply);
    }
    return reply;
}

Status FtpClient::userPass(const std::string& user, const std::string& password,
                           Deadline deadline) {
    Expected<NumericReply> reply = command("USER " + user, {230, 331}, deadline);
    if (!reply) {
        return Error{reply.error()};
    }
    if (reply->code == 331) {
        Expected<NumericReply> passed = command("PASS " + password, {230}, deadline);
        if (!passed) {
            return Error{passed.error()};
        }
    }
    return {};
}

Status FtpClient::login(const FtpLogin& l, Deadline deadline) {
    // Convention 1, 2, 3 and 5 first log in to the proxy itself when a proxy
    // user is set.
    auto proxyLogin = [&]() -> Status {
        if (l.proxyUser.empty()) {
            return {};
        }
        return userPass(l.proxyUser, l.proxyPassword, deadline);
    };
    switch (l.proxyType) {
        case FtpProxyType::None:
            return userPass(l.user, l.password, deadline);
        case FtpProxyType::UserSite:
            if (Status s = proxyLogin(); !s) {
                return s;
            }
            return userPass(l.user + "@" + l.host, l.password, deadline);
        case FtpProxyType::Site:
        case FtpProxyType::Open: {
            if (Status s = proxyLogin(); !s) {
                return s;
            }
            const char* verb = l.proxyType == FtpProxyType::Site ? "SITE " : "OPEN ";
            // SITE and OPEN take any answer.
            if (Expected<NumericReply> r = command(verb + l.host, {}, deadline); !r) {
                return Error{r.error()};
            }
            return userPass(l.user, l.password, deadline);
        }
        case FtpProxyType::UserPass: {
            const std::string password =
                l.proxyPassword.empty() ? l.password : l.password + "@" + l.proxyPassword;
            return userPass(l.user + "@" + l.proxyUser + "@" + l.host, password, deadline);
        }
        case FtpProxyType::Transparent:
            if (Status s = proxyLogin(); !s) {
                return s;
            }
            return userPass(l.user, l.password, deadline);
        case FtpProxyType::HttpProxyWithFtp:
            return Error{"Command not supported."};
    }
    return Error{"Command not supported."};
}

}  // namespace vantor::net
