#include "support/TlsProbe.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace vantor::test {

namespace {

using Clock = std::chrono::steady_clock;

std::string OpenSslError(const std::string& what) {
    std::string out = what;
    while (const unsigned long code = ERR_get_error()) {
        char text[256];
        ERR_error_string_n(code, text, sizeof text);
        out += std::string(": ") + text;
    }
    return out;
}

// OpenSSL writes with write(), which raises SIGPIPE on a connection the
// server has closed: held back for this thread while the probe runs, and
// what came of it dropped.
class NoSigPipe {
public:
    NoSigPipe() {
        sigemptyset(&m_pipe);
        sigaddset(&m_pipe, SIGPIPE);
        ::pthread_sigmask(SIG_BLOCK, &m_pipe, &m_old);
    }
    ~NoSigPipe() {
        const timespec noWait{};
        while (::sigtimedwait(&m_pipe, nullptr, &noWait) > 0) {
        }
        ::pthread_sigmask(SIG_SETMASK, &m_old, nullptr);
    }
    NoSigPipe(const NoSigPipe&) = delete;
    NoSigPipe& operator=(const NoSigPipe&) = delete;

private:
    sigset_t m_pipe;
    sigset_t m_old;
};

// A socket with an optional TLS layer, read a line at a time; every wait is
// bounded by the probe's timeout.
class Channel {
public:
    Channel(int fd, std::chrono::milliseconds timeout) : m_fd(fd), m_timeout(timeout) {}
    ~Channel() {
        if (m_ssl != nullptr) {
            SSL_free(m_ssl);
        }
        ::close(m_fd);
    }
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    // Blocks until `fd` is ready for `events`; false at the deadline.
    bool wait(short events, Clock::time_point end) const {
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
            if (left <= 0) {
                return false;
            }
            pollfd p{m_fd, events, 0};
            const int rc = ::poll(&p, 1, static_cast<int>(left));
            if (rc > 0) {
                return true;
            }
            if (rc < 0 && errno != EINTR) {
                return false;
            }
        }
    }

    // For SSL calls: waits as OpenSSL asks; false with `error` set otherwise.
    bool retry(int rc, Clock::time_point end, std::string& error) {
        const int code = SSL_get_error(m_ssl, rc);
        if (code == SSL_ERROR_WANT_READ || code == SSL_ERROR_WANT_WRITE) {
            if (wait(code == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, end)) {
                return true;
            }
            error = "timed out after " + std::to_string(m_timeout.count()) + " ms";
            return false;
        }
        if (code == SSL_ERROR_ZERO_RETURN) {
            error = "the server closed the TLS session";
        } else if (code == SSL_ERROR_SYSCALL && ERR_peek_error() == 0) {
            error = errno != 0 ? std::string("socket error: ") + std::strerror(errno)
                               : "the server closed the connection";
        } else {
            error = OpenSslError("TLS error");
        }
        return false;
    }

    bool send(const std::string& data, std::string& error) {
        const auto end = Clock::now() + m_timeout;
        std::size_t done = 0;
        while (done < data.size()) {
            if (m_ssl != nullptr) {
                ERR_clear_error();
                const int n =
                    SSL_write(m_ssl, data.data() + done, static_cast<int>(data.size() - done));
                if (n > 0) {
                    done += static_cast<std::size_t>(n);
                } else if (!retry(n, end, error)) {
                    return false;
                }
                continue;
            }
            const ssize_t n = ::send(m_fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                if (!wait(POLLOUT, end)) {
                    error = "timed out sending";
                    return false;
                }
            } else {
                error = std::string("cannot send: ") + std::strerror(errno);
                return false;
            }
        }
        return true;
    }

    // A line without CR LF, or false with `error` set.
    bool readLine(std::string& line, std::string& error) {
        const auto end = Clock::now() + m_timeout;
        for (;;) {
            const auto lf = m_buffer.find('\n');
            if (lf != std::string::npos) {
                line = m_buffer.substr(0, lf);
                m_buffer.erase(0, lf + 1);
                if (!line.empty() && line.back() == '\r') {
                    line.pop_back();
                }
                return true;
            }
            char chunk[4096];
            if (m_ssl != nullptr) {
                ERR_clear_error();
                const int n = SSL_read(m_ssl, chunk, sizeof chunk);
                if (n > 0) {
                    m_buffer.append(chunk, static_cast<std::size_t>(n));
                } else if (!retry(n, end, error)) {
                    return false;
                }
                continue;
            }
            const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
            if (n > 0) {
                m_buffer.append(chunk, static_cast<std::size_t>(n));
            } else if (n == 0) {
                error = "the server closed the connection";
                return false;
            } else if (errno == EAGAIN || errno == EINTR) {
                if (!wait(POLLIN, end)) {
                    error = "timed out after " + std::to_string(m_timeout.count()) +
                            " ms waiting for a line";
                    return false;
                }
            } else {
                error = std::string("cannot read: ") + std::strerror(errno);
                return false;
            }
        }
    }

    // The steps of one phase; lines read go to `result`.
    bool run(const std::vector<DialogueStep>& steps, TlsProbeResult& result) {
        for (const DialogueStep& step : steps) {
            if (!step.send.empty() && !send(step.send, result.error)) {
                return false;
            }
            if (step.expect.empty()) {
                continue;
            }
            for (std::string line;;) {
                if (!readLine(line, result.error)) {
                    result.error += " (expected a line starting with \"" + step.expect + "\")";
                    return false;
                }
                result.lines.push_back(line);
                if (line.compare(0, step.expect.size(), step.expect) == 0) {
                    break;
                }
            }
        }
        return true;
    }

    bool handshake(SSL_CTX* ctx, const TlsProbeOptions& options, TlsProbeResult& result) {
        if (!m_buffer.empty()) {
            result.error = "the server sent more than was expected before the handshake";
            return false;
        }
        m_ssl = SSL_new(ctx);
        if (m_ssl == nullptr || SSL_set_fd(m_ssl, m_fd) != 1) {
            result.error = OpenSslError("SSL_new");
            return false;
        }
        X509_VERIFY_PARAM* param = SSL_get0_param(m_ssl);
        in_addr ip{};
        if (::inet_pton(AF_INET, options.host.c_str(), &ip) == 1) {
            X509_VERIFY_PARAM_set1_ip_asc(param, options.host.c_str());
        } else {
            X509_VERIFY_PARAM_set1_host(param, options.host.c_str(), 0);
            SSL_set_tlsext_host_name(m_ssl, options.host.c_str());
        }
        const auto end = Clock::now() + m_timeout;
        for (;;) {
            ERR_clear_error();
            const int rc = SSL_connect(m_ssl);
            if (rc == 1) {
                break;
            }
            if (!retry(rc, end, result.error)) {
                result.error = "handshake: " + result.error;
                return false;
            }
        }
        result.handshake = true;
        result.protocol = SSL_get_version(m_ssl);
        result.verifyResult = SSL_get_verify_result(m_ssl);
        result.verifyError = X509_verify_cert_error_string(result.verifyResult);
        if (X509* cert = SSL_get0_peer_certificate(m_ssl)) {
            std::tm when{};
            if (ASN1_TIME_to_tm(X509_get0_notAfter(cert), &when) == 1) {
                result.notAfter = ::timegm(&when);
            }
        }
        return true;
    }

private:
    int m_fd;
    std::chrono::milliseconds m_timeout;
    SSL* m_ssl = nullptr;
    std::string m_buffer;
};

}  // namespace

TlsProbeResult ProbeTls(int port, const TlsProbeOptions& options) {
    const NoSigPipe noSigPipe;
    TlsProbeResult result;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        result.error = std::string("socket: ") + std::strerror(errno);
        return result;
    }
    Channel channel(fd, options.timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (errno != EINPROGRESS) {
            result.error = std::string("cannot connect: ") + std::strerror(errno);
            return result;
        }
        int err = 0;
        socklen_t length = sizeof err;
        if (!channel.wait(POLLOUT, Clock::now() + options.timeout)) {
            result.error = "timed out connecting";
            return result;
        }
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &length);
        if (err != 0) {
            result.error = std::string("cannot connect: ") + std::strerror(err);
            return result;
        }
    }
    if (!channel.run(options.before, result)) {
        return result;
    }

    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> ctx(SSL_CTX_new(TLS_client_method()),
                                                          SSL_CTX_free);
    if (!ctx || (!options.caFile.empty() &&
                 SSL_CTX_load_verify_locations(ctx.get(), options.caFile.c_str(), nullptr) != 1)) {
        result.error = OpenSslError("cannot load " + options.caFile);
        return result;
    }
    // The handshake goes on whatever the verification says: the probe
    // reports the verdict instead of a bare alert.
    SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_NONE, nullptr);
    if (!channel.handshake(ctx.get(), options, result)) {
        return result;
    }
    channel.run(options.after, result);
    return result;
}

std::string Base64(std::string_view data) {
    std::string out(4 * ((data.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(data.data()),
                                  static_cast<int>(data.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

}  // namespace vantor::test
