// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/Result.h"
#include "net/Deadline.h"

struct ssl_st;

namespace vantor::net {

// How a mail or FTP client reaches TLS: not at all, by its protocol's
// upgrade command on the plain port, or from the first byte.
enum class TlsMode { None, StartTls, Implicit };

// "" (None), "starttls" or "implicit", in any case; nullopt for any other.
std::optional<TlsMode> TlsModeFromName(std::string_view name);

struct TlsOptions {
    // Chain and host name checked against the trust store: the system's, or
    // the files SSL_CERT_FILE and SSL_CERT_DIR name.
    bool verify = true;
    // Days before its end at which the server's certificate counts as a
    // failure; 0 leaves the date alone (an expired certificate still fails
    // the verification).
    int expiryDays = 0;
};

// Why a certificate that ends at `notAfter` is a failure at `now`, given
// the days of warning wanted; empty when it is not. Names the date (UTC)
// and the days left.
std::string CertificateExpiryProblem(std::time_t notAfter, int expiryDays, std::time_t now);

// When the first of the server's certificates ends, over a TLS connection
// made: the earliest end of the chain that was verified up to the trusted
// root (an intermediate CA may end before the server's own), or of the
// server's certificate alone when nothing was verified.
std::optional<std::time_t> ChainEndOf(const ssl_st* ssl, bool verified);

// Notes the session's protocol and the chain's end in this thread's probe
// facts (the earliest end met in the check).
void NoteTlsSession(const ssl_st* ssl, std::optional<std::time_t> notAfter);

// The TLS side of one client connection: a session of its own, begun from
// a client context that all connections share (its trust store is read
// once, and again when SSL_CERT_FILE or SSL_CERT_DIR changes; no session
// is taken over from another connection), over a non-blocking socket that
// the caller owns. A peer that has gone never raises SIGPIPE. Every wait
// ends at the deadline given.
class TlsSession final {
public:
    ~TlsSession();
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    // The handshake as a client of `host` (the name the certificate must
    // carry, a DNS name or an IP address). The error reads like libcurl's
    // for the same fault ("SSL certificate problem: ...").
    static Expected<std::unique_ptr<TlsSession>> Handshake(int fd, const std::string& host,
                                                           const TlsOptions& options,
                                                           Deadline deadline);

    // Sends all of it; an error when the peer is gone or the deadline passes.
    Status write(std::string_view data, Deadline deadline);
    // Reads what arrives next (at most `max` bytes): 0 bytes means the peer
    // closed the session.
    Expected<std::size_t> read(char* buffer, std::size_t max, Deadline deadline);
    // Sends close_notify without waiting for the peer's.
    void shutdown();

    // The server certificate's end of validity.
    std::optional<std::time_t> notAfter() const { return m_notAfter; }

private:
    TlsSession() = default;

    struct Handles;
    std::unique_ptr<Handles> m_handles;
    int m_fd = -1;
    std::optional<std::time_t> m_notAfter;
};

}  // namespace vantor::net
