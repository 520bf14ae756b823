// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "app/Result.h"

namespace vantor::metrics {

// The web configuration of an exporter, in the format Prometheus's
// exporters read (exporter-toolkit):
//
//   tls_server_config:
//     cert_file: server.crt      # relative to this file's folder
//     key_file: server.key
//   basic_auth_users:
//     alice: $2y$10$...          # bcrypt
//
// Anything else in the file is refused rather than ignored: a setting that
// is not applied must not look applied.
struct WebConfig {
    std::string certPem;  // read at load; empty: no TLS
    std::string keyPem;
    std::map<std::string, std::string> users;  // name → bcrypt hash

    static Expected<WebConfig> Load(const std::string& path);
};

// Checks a user's password against the bcrypt hashes of the web
// configuration. A password that matched once is remembered (its hash
// taken again costs tens of milliseconds a time), so a scrape every few
// seconds does not cost a core.
class BasicAuth final {
public:
    explicit BasicAuth(std::map<std::string, std::string> users) : m_users(std::move(users)) {}
    bool enabled() const { return !m_users.empty(); }
    bool check(const std::string& user, const std::string& password);

private:
    std::map<std::string, std::string> m_users;
    std::mutex m_mutex;
    std::map<std::string, std::string> m_verified;  // user → a digest of the password
};

}  // namespace vantor::metrics
