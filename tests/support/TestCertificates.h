// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <string>
#include <vector>

namespace vantor::test {

// The server certificates that TLS tests need, each for a way a client must
// react. All but Untrusted are signed by the test CA.
enum class CertKind {
    Valid,        // DNS:localhost, IP:127.0.0.1, a year long
    OtherHost,    // DNS:other.example only
    ExpiresSoon,  // localhost, 127.0.0.1; notAfter now + 3 days
    Expired,      // localhost, 127.0.0.1; now - 10 days to now - 1 day
    Untrusted,    // localhost, 127.0.0.1, self-signed: no chain to the CA
    // localhost, 127.0.0.1, a year long, signed by an intermediate CA that
    // ends in now + 3 days; the file holds both, the server's first.
    IntermediateEndsSoon,
};
inline constexpr std::size_t kCertKinds = 6;

// One PEM certificate and its PEM key.
struct CertFiles {
    CertKind kind = CertKind::Valid;
    std::string cert;
    std::string key;
};

struct TestCertificates {
    std::string dir;
    std::string caCert;
    std::string caKey;
    std::array<CertFiles, kCertKinds> server;

    const CertFiles& operator[](CertKind kind) const {
        return server[static_cast<std::size_t>(kind)];
    }
    std::vector<CertFiles> all() const { return {server.begin(), server.end()}; }
};

// Makes a fresh CA and the server certificates (EC P-256 keys) into `dir`,
// named ca.pem, ca.key, <kind>.pem and <kind>.key. Every file is readable by
// all: the servers read them as their own users, and the keys protect
// nothing. Throws std::runtime_error with OpenSSL's reason.
TestCertificates MakeTestCertificates(const std::string& dir);

// One set per test program, made on first use into a directory that every
// user can traverse, removed at exit.
const TestCertificates& SharedTestCertificates();

// "valid", "other-host", "expires-soon", "expired", "untrusted",
// "intermediate-ends-soon".
std::string Name(CertKind kind);

}  // namespace vantor::test
