// SPDX-License-Identifier: GPL-3.0-or-later
#include "metrics/WebConfig.h"

#include <crypt.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <yaml-cpp/yaml.h>

#include <cstring>
#include <memory>

#include "app/AtomicFile.h"

namespace vantor::metrics {

namespace {

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string Sha256(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha256(), nullptr);
    return std::string(reinterpret_cast<const char*>(digest), length);
}

}  // namespace

Expected<WebConfig> WebConfig::Load(const std::string& path) {
    const Expected<std::string> text = app::ReadWholeFile(path);
    if (!text) {
        return Error{text.error()};
    }
    WebConfig config;
    try {
        const YAML::Node root = YAML::Load(*text);
        if (!root.IsDefined() || root.IsNull()) {
            return config;
        }
        if (!root.IsMap()) {
            return Error{"the file is not a mapping of settings"};
        }
        for (const auto& entry : root) {
            const std::string name = entry.first.as<std::string>();
            if (name == "tls_server_config") {
                std::string cert;
                std::string key;
                for (const auto& tls : entry.second) {
                    const std::string field = tls.first.as<std::string>();
                    if (field == "cert_file") {
                        cert = tls.second.as<std::string>();
                    } else if (field == "key_file") {
                        key = tls.second.as<std::string>();
                    } else {
                        return Error{"tls_server_config." + field + " is not supported"};
                    }
                }
                if (cert.empty() || key.empty()) {
                    return Error{"tls_server_config needs both cert_file and key_file"};
                }
                const std::string folder = FolderOf(path);
                const auto read = [&](const std::string& file, std::string& out) -> Status {
                    const Expected<std::string> pem =
                        app::ReadWholeFile(file.front() == '/' ? file : folder + "/" + file);
                    if (!pem) {
                        return Error{file + ": " + pem.error()};
                    }
                    out = *pem;
                    return {};
                };
                if (Status s = read(cert, config.certPem); !s) {
                    return Error{s.error()};
                }
                if (Status s = read(key, config.keyPem); !s) {
                    return Error{s.error()};
                }
            } else if (name == "basic_auth_users") {
                for (const auto& user : entry.second) {
                    const std::string hash = user.second.as<std::string>();
                    if (hash.rfind("$2", 0) != 0) {
                        return Error{"the password of " + user.first.as<std::string>() +
                                     " is not a bcrypt hash"};
                    }
                    config.users[user.first.as<std::string>()] = hash;
                }
            } else {
                return Error{name + " is not supported"};
            }
        }
    } catch (const YAML::Exception& e) {
        return Error{e.what()};
    }
    return config;
}

bool BasicAuth::check(const std::string& user, const std::string& password) {
    const auto it = m_users.find(user);
    if (it == m_users.end()) {
        return false;
    }
    const std::string digest = Sha256(user + '\0' + password);
    {
        std::lock_guard lock(m_mutex);
        const auto known = m_verified.find(user);
        if (known != m_verified.end() && known->second.size() == digest.size() &&
            CRYPTO_memcmp(known->second.data(), digest.data(), digest.size()) == 0) {
            return true;
        }
    }
    auto data = std::make_unique<crypt_data>();
    const char* hashed = crypt_r(password.c_str(), it->second.c_str(), data.get());
    const bool ok = hashed != nullptr && hashed[0] != '*' &&
                    it->second.size() == std::strlen(hashed) &&
                    CRYPTO_memcmp(hashed, it->second.data(), it->second.size()) == 0;
    if (ok) {
        std::lock_guard lock(m_mutex);
        m_verified[user] = digest;
    }
    return ok;
}

}  // namespace vantor::metrics
