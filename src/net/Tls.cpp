// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/Tls.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "net/Probe.h"

namespace vantor::net {

namespace {

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

bool IsIpAddress(const std::string& host) {
    unsigned char buf[sizeof(in6_addr)];
    return ::inet_pton(AF_INET, host.c_str(), buf) == 1 ||
           ::inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

bool IsTransient(int err) {
    return err == EAGAIN || err == EWOULDBLOCK || err == EINTR;
}

int BioFd(BIO* bio) {
    return static_cast<int>(reinterpret_cast<std::intptr_t>(BIO_get_data(bio)));
}

// OpenSSL's socket BIO writes with write(2): a peer that has gone would
// raise SIGPIPE. This one sends with MSG_NOSIGNAL and gets EPIPE instead,
// and otherwise does what the socket BIO does (the end of the stream is
// marked, so that OpenSSL names an unexpected one).
int BioWrite(BIO* bio, const char* data, int length) {
    errno = 0;
    const ssize_t n = ::send(BioFd(bio), data, static_cast<std::size_t>(length), MSG_NOSIGNAL);
    BIO_clear_retry_flags(bio);
    if (n < 0 && IsTransient(errno)) {
        BIO_set_retry_write(bio);
    }
    return static_cast<int>(n);
}

int BioRead(BIO* bio, char* buffer, int size) {
    errno = 0;
    const ssize_t n = ::recv(BioFd(bio), buffer, static_cast<std::size_t>(size), 0);
    BIO_clear_retry_flags(bio);
    if (n < 0 && IsTransient(errno)) {
        BIO_set_retry_read(bio);
    } else if (n == 0) {
        BIO_set_flags(bio, BIO_FLAGS_IN_EOF);
    }
    return static_cast<int>(n);
}

long BioCtrl(BIO* bio, int command, long, void*) {
    switch (command) {
        case BIO_CTRL_FLUSH:
            return 1;
        case BIO_CTRL_EOF:
            return BIO_test_flags(bio, BIO_FLAGS_IN_EOF) != 0 ? 1 : 0;
        default:
            return 0;
    }
}

const BIO_METHOD* NoSignalSocket() {
    static BIO_METHOD* const method = [] {
        BIO_METHOD* m =
            BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR,
                         "socket without SIGPIPE");
        if (m != nullptr) {
            BIO_meth_set_write(m, BioWrite);
            BIO_meth_set_read(m, BioRead);
            BIO_meth_set_ctrl(m, BioCtrl);
        }
        return m;
    }();
    return method;
}

// A BIO over a socket that stays the caller's to close.
BIO* NewSocketBio(int fd) {
    const BIO_METHOD* method = NoSignalSocket();
    BIO* bio = method != nullptr ? BIO_new(method) : nullptr;
    if (bio != nullptr) {
        BIO_set_data(bio, reinterpret_cast<void*>(static_cast<std::intptr_t>(fd)));
        BIO_set_init(bio, 1);
    }
    return bio;
}

using ContextPtr = std::shared_ptr<SSL_CTX>;

ContextPtr NewClientContext(bool verify) {
    ContextPtr context(SSL_CTX_new(TLS_client_method()), SSL_CTX_free);
    if (!context) {
        return nullptr;
    }
    SSL_CTX* c = context.get();
    SSL_CTX_set_min_proto_version(c, TLS1_2_VERSION);
    SSL_CTX_set_mode(c, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER |
                            SSL_MODE_AUTO_RETRY);
    // The context is shared; sessions are not: every connection makes a
    // full handshake of its own.
    SSL_CTX_set_session_cache_mode(c, SSL_SESS_CACHE_OFF);
    if (verify) {
        // The system's store; SSL_CERT_FILE and SSL_CERT_DIR replace it.
        SSL_CTX_set_default_verify_paths(c);
        SSL_CTX_set_verify(c, SSL_VERIFY_PEER, nullptr);
    } else {
        SSL_CTX_set_verify(c, SSL_VERIFY_NONE, nullptr);
    }
    return context;
}

std::optional<std::string> Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

// The client contexts every connection starts from. Reading the system's
// trust store costs tens of milliseconds of CPU and most of a megabyte, so
// the verifying context reads it once, and again only when SSL_CERT_FILE
// or SSL_CERT_DIR names another. A connection keeps the context it began
// with; the store is only read from once it is made.
class ClientContexts final {
public:
    static ClientContexts& instance() {
        static ClientContexts contexts;
        return contexts;
    }

    ContextPtr get(bool verify) {
        std::lock_guard lock(m_mutex);
        if (!verify) {
            if (!m_plain) {
                m_plain = NewClientContext(false);
            }
            return m_plain;
        }
        std::optional<std::string> file = Environment(X509_get_default_cert_file_env());
        std::optional<std::string> dir = Environment(X509_get_default_cert_dir_env());
        if (!m_verifying || file != m_file || dir != m_dir) {
            m_verifying = NewClientContext(true);
            m_file = std::move(file);
            m_dir = std::move(dir);
        }
        return m_verifying;
    }

private:
    std::mutex m_mutex;
    ContextPtr m_plain;
    ContextPtr m_verifying;
    std::optional<std::string> m_file;
    std::optional<std::string> m_dir;
};

// The reason OpenSSL queued for this thread, and the queue emptied.
std::string TakeOpenSslError() {
    std::string text;
    while (const unsigned long code = ERR_get_error()) {
        if (text.empty()) {
            char buf[256];
            ERR_error_string_n(code, buf, sizeof buf);
            text = buf;
        }
    }
    return text;
}

std::optional<std::time_t> NotAfterOf(const X509* cert) {
    if (cert == nullptr) {
        return std::nullopt;
    }
    std::tm tm{};
    if (ASN1_TIME_to_tm(X509_get0_notAfter(cert), &tm) != 1) {
        return std::nullopt;
    }
    return ::timegm(&tm);
}

std::string UtcDate(std::time_t when) {
    std::tm tm{};
    ::gmtime_r(&when, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M UTC", &tm);
    return buf;
}

}  // namespace

std::optional<TlsMode> TlsModeFromName(std::string_view name) {
    const std::string lower = Lower(name);
    if (lower.empty()) {
        return TlsMode::None;
    }
    if (lower == "starttls") {
        return TlsMode::StartTls;
    }
    if (lower == "implicit") {
        return TlsMode::Implicit;
    }
    return std::nullopt;
}

std::optional<std::time_t> ChainEndOf(const SSL* ssl, bool verified) {
    std::optional<std::time_t> earliest = NotAfterOf(SSL_get0_peer_certificate(ssl));
    if (!verified || SSL_get_verify_result(ssl) != X509_V_OK) {
        return earliest;
    }
    STACK_OF(X509)* chain = SSL_get0_verified_chain(ssl);
    for (int i = 0; chain != nullptr && i < sk_X509_num(chain); ++i) {
        const std::optional<std::time_t> end = NotAfterOf(sk_X509_value(chain, i));
        if (end && (!earliest || *end < *earliest)) {
            earliest = end;
        }
    }
    return earliest;
}

void NoteTlsSession(const SSL* ssl, std::optional<std::time_t> notAfter) {
    app::ProbeFacts& probe = ThisProbe();
    // "TLSv1.3" as "TLS 1.3".
    std::string version = SSL_get_version(ssl);
    if (version.rfind("TLSv", 0) == 0) {
        version = "TLS " + version.substr(4);
    }
    probe.tlsVersion = version;
    if (notAfter && (!probe.certNotAfter || *notAfter < *probe.certNotAfter)) {
        probe.certNotAfter = *notAfter;
    }
}

std::string CertificateExpiryProblem(std::time_t notAfter, int expiryDays, std::time_t now) {
    if (notAfter <= now) {
        return "The server's certificate expired on " + UtcDate(notAfter);
    }
    if (expiryDays <= 0) {
        return {};
    }
    const std::time_t left = notAfter - now;
    if (left >= static_cast<std::time_t>(expiryDays) * 86400) {
        return {};
    }
    // A part of a day counts as a day: a certificate with 2 days and 23
    // hours to go has 3 days left.
    const long days = static_cast<long>((left + 86399) / 86400);
    return "The server's certificate expires on " + UtcDate(notAfter) + ", " +
           std::to_string(days) + (days == 1 ? " day" : " days") + " left";
}

struct TlsSession::Handles {
    ContextPtr context;
    SSL* ssl = nullptr;
    ~Handles() { SSL_free(ssl); }
};

TlsSession::~TlsSession() = default;

Expected<std::unique_ptr<TlsSession>> TlsSession::Handshake(int fd, const std::string& host,
                                                            const TlsOptions& options,
                                                            Deadline deadline) {
    ERR_clear_error();
    std::unique_ptr<TlsSession> session(new TlsSession);
    session->m_fd = fd;
    session->m_handles = std::make_unique<Handles>();
    Handles& h = *session->m_handles;
    h.context = ClientContexts::instance().get(options.verify);
    if (!h.context) {
        return Error{"Cannot set up TLS: " + TakeOpenSslError()};
    }
    h.ssl = SSL_new(h.context.get());
    BIO* bio = h.ssl != nullptr ? NewSocketBio(fd) : nullptr;
    if (bio == nullptr) {
        return Error{"Cannot set up TLS: " + TakeOpenSslError()};
    }
    SSL_set_bio(h.ssl, bio, bio);
    const bool ip = IsIpAddress(host);
    if (!ip && !host.empty()) {
        // SSL_set_tlsext_host_name, without the C cast its macro hides.
        SSL_ctrl(h.ssl, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                 const_cast<char*>(host.c_str()));
    }
    if (options.verify) {
        X509_VERIFY_PARAM* param = SSL_get0_param(h.ssl);
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        const int set = ip ? X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str())
                           : X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size());
        if (set != 1) {
            return Error{"Cannot set up TLS for the host name '" + host + "'"};
        }
    }

    for (;;) {
        const int rc = SSL_connect(h.ssl);
        if (rc == 1) {
            break;
        }
        const int err = SSL_get_error(h.ssl, rc);
        if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) {
            const int ready = WaitFor(fd, err == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, deadline);
            if (ready == 0) {
                return Error{"Timed out in the TLS handshake"};
            }
            if (ready < 0) {
                return Error{std::string("TLS handshake failed: ") + std::strerror(errno)};
            }
            continue;
        }
        const long verified = SSL_get_verify_result(h.ssl);
        if (options.verify && verified != X509_V_OK) {
            TakeOpenSslError();
            if (verified == X509_V_ERR_HOSTNAME_MISMATCH ||
                verified == X509_V_ERR_IP_ADDRESS_MISMATCH) {
                return Error{
                    "SSL: no alternative certificate subject name matches target host "
                    "name '" +
                    host + "'"};
            }
            return Error{std::string("SSL certificate problem: ") +
                         X509_verify_cert_error_string(verified)};
        }
        const int savedErrno = errno;
        const std::string reason = TakeOpenSslError();
        if (!reason.empty()) {
            return Error{"TLS handshake failed: " + reason};
        }
        if (err == SSL_ERROR_SYSCALL && rc < 0 && savedErrno != 0) {
            return Error{std::string("TLS handshake failed: ") + std::strerror(savedErrno)};
        }
        return Error{"The server closed the connection in the TLS handshake"};
    }
    session->m_notAfter = ChainEndOf(h.ssl, options.verify);
    NoteTlsSession(h.ssl, session->m_notAfter);
    if (session->m_notAfter) {
        const std::string problem =
            CertificateExpiryProblem(*session->m_notAfter, options.expiryDays, std::time(nullptr));
        // Without verification an expired certificate passes the handshake;
        // it still fails here.
        if (!problem.empty()) {
            session->shutdown();
            return Error{problem};
        }
    }
    return session;
}

Status TlsSession::write(std::string_view data, Deadline deadline) {
    while (!data.empty()) {
        ERR_clear_error();
        const int n = SSL_write(m_handles->ssl, data.data(),
                                static_cast<int>(std::min<std::size_t>(data.size(), 1 << 30)));
        if (n > 0) {
            data.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        const int err = SSL_get_error(m_handles->ssl, n);
        if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) {
            const int ready =
                WaitFor(m_fd, err == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, deadline);
            if (ready == 0) {
                return Error{"Timed out sending to the server"};
            }
            if (ready < 0) {
                return Error{std::string("Cannot send: ") + std::strerror(errno)};
            }
            continue;
        }
        const std::string reason = TakeOpenSslError();
        return Error{"Cannot send: " +
                     (reason.empty() ? std::string("the TLS session broke off") : reason)};
    }
    return {};
}

Expected<std::size_t> TlsSession::read(char* buffer, std::size_t max, Deadline deadline) {
    for (;;) {
        ERR_clear_error();
        const int n =
            SSL_read(m_handles->ssl, buffer, static_cast<int>(std::min<std::size_t>(max, 1 << 30)));
        if (n > 0) {
            return static_cast<std::size_t>(n);
        }
        const int err = SSL_get_error(m_handles->ssl, n);
        if (err == SSL_ERROR_ZERO_RETURN) {
            return std::size_t{0};
        }
        if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) {
            const int ready =
                WaitFor(m_fd, err == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, deadline);
            if (ready == 0) {
                return Error{"Timed out waiting for the server"};
            }
            if (ready < 0) {
                return Error{std::string("Cannot read from the server: ") + std::strerror(errno)};
            }
            continue;
        }
        const std::string reason = TakeOpenSslError();
        if (reason.empty()) {
            // The peer closed the socket without close_notify.
            return std::size_t{0};
        }
        return Error{"Cannot read from the server: " + reason};
    }
}

void TlsSession::shutdown() {
    if (m_handles && m_handles->ssl != nullptr) {
        ERR_clear_error();
        (void)SSL_shutdown(m_handles->ssl);
        ERR_clear_error();
    }
}

}  // namespace vantor::net
