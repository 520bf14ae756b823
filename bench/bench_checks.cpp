// SPDX-License-Identifier: GPL-3.0-or-later
// What one check of each kind costs against a server that answers at once,
// next to the same exchange written plainly: the check work item run on the
// calling thread (as a pool thread runs it) against a bare libcurl request,
// a blocking socket conversation or a raw ICMP echo. The difference is what
// the check's own machinery adds: deadlines, non-blocking sockets with poll,
// reply parsing, result texts.
//
// The servers (HTTP, SMTP, POP3, IMAP, FTP) run in this process on
// 127.0.0.1, one thread each, taking one connection at a time and answering
// from a script; the check and its plain counterpart talk to the same one.
// Ping goes to the kernel's own echo responder on 127.0.0.1.
//
// Three kinds speak TLS: HTTPS, SMTP with STARTTLS and IMAP over implicit
// TLS. Their servers are the same dialogues behind a server-side handshake
// with a certificate of the test CA (one server context for all three,
// made once); SSL_CERT_FILE names that CA, so the checks verify against it,
// and the plain clients verify against the same file: the chain and the
// name 127.0.0.1, with a fresh context and no session to resume on every
// connection, as the checks do.
//
// Repetitions of all benchmarks are interleaved at random by default (pass
// --benchmark_enable_random_interleaving=false to run them in order), so
// that a slow spell of a shared machine falls on both sides alike. Every
// single exchange is timed as well; after the runs a table sets the median
// single check of each kind beside the median single plain exchange (and,
// for comparison, Google Benchmark's median of the repetition means). The
// goal is a ratio of at most 1.3.

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/ip_icmp.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/CheckResult.h"
#include "engine/CheckWorkItem.h"
#include "engine/ThreadFTPCheck.h"
#include "engine/ThreadMailCheck.h"
#include "engine/ThreadPingCheck.h"
#include "engine/ThreadURLCheck.h"
#include "support/CpuTime.h"
#include "support/FakeServer.h"
#include "support/TestCertificates.h"

namespace {

using vantor::engine::CheckSettings;
using vantor::engine::CheckWorkItem;

constexpr int kTimeoutMs = 5000;
constexpr const char* kUser = "bench";
constexpr const char* kPassword = "secret";
constexpr const char* kPage = "/index.html";
constexpr double kTargetRatio = 1.3;
constexpr int kRepetitions = 12;
constexpr double kMinTimePerRepetition = 0.2;  // seconds
// A plain exchange waits without a time limit; should one ever hang, the
// watchdog ends the program after this long without a finished exchange.
constexpr int kStallSeconds = 30;

using Clock = std::chrono::steady_clock;

sockaddr_in Loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// ---------------------------------------------------------------------------
// The servers

using Connection = vantor::test::FakeConnection;

// The first word of a command line, upper-cased.
std::string Word(std::string_view line, std::size_t index = 0) {
    std::size_t start = 0;
    for (std::size_t i = 0;; ++i) {
        start = line.find_first_not_of(' ', start);
        if (start == std::string_view::npos) {
            return {};
        }
        const std::size_t end = std::min(line.find(' ', start), line.size());
        if (i == index) {
            std::string word(line.substr(start, end - start));
            for (char& c : word) {
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            }
            return word;
        }
        start = end;
    }
}

const std::string& HttpAnswer(const std::string& method) {
    static const std::string kBody = "<html><body>Vantor bench page</body></html>\n";
    static const std::string kOk =
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
        std::to_string(kBody.size()) + "\r\nConnection: close\r\n\r\n" + kBody;
    static const std::string kBad =
        "HTTP/1.1 405 Method Not Allowed\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    return method == "GET" ? kOk : kBad;
}

void ServeHttp(Connection& c) {
    const auto request = vantor::test::ReadHttpRequest(c);
    if (!request) {
        return;
    }
    c.send(HttpAnswer(request->method));
    // The client closes first (it has the whole answer), for both variants.
    c.waitForClose();
}

constexpr const char* kSmtpGreeting = "220 bench.localdomain ESMTP ready\r\n";

// SMTP commands on a plain or a TLS connection until QUIT or the end; true
// when the client asked for STARTTLS (and has its 220), which is only
// offered when `offerTls`.
template <class C>
bool SmtpCommands(C& c, bool offerTls) {
    while (const auto read = c.readLine()) {
        const std::string& line = *read;
        const std::string verb = Word(line);
        if (verb == "EHLO" || verb == "HELO") {
            c.send(offerTls ? "250-bench.localdomain\r\n250 STARTTLS\r\n"
                            : "250 bench.localdomain\r\n");
        } else if (verb == "STARTTLS" && offerTls) {
            c.send("220 Ready to start TLS\r\n");
            return true;
        } else if (verb == "QUIT") {
            c.send("221 Bye\r\n");
            return false;
        } else {
            c.send("500 Unknown command\r\n");
        }
    }
    return false;
}

void ServeSmtp(Connection& c) {
    c.send(kSmtpGreeting);
    SmtpCommands(c, false);
}

void ServePop3(Connection& c) {
    c.send("+OK POP3 ready\r\n");
    while (const auto read = c.readLine()) {
        const std::string& line = *read;
        const std::string verb = Word(line);
        if (verb == "USER") {
            c.send("+OK\r\n");
        } else if (verb == "PASS") {
            c.send("+OK Logged in\r\n");
        } else if (verb == "QUIT") {
            c.send("+OK Bye\r\n");
            return;
        } else {
            c.send("-ERR Unknown command\r\n");
        }
    }
}

template <class C>
void ImapDialogue(C& c) {
    c.send("* OK IMAP4rev1 ready\r\n");
    while (const auto read = c.readLine()) {
        const std::string& line = *read;
        const std::string tag = line.substr(0, line.find(' '));
        const std::string verb = Word(line, 1);
        if (verb == "LOGIN") {
            c.send(tag + " OK LOGIN completed\r\n");
        } else if (verb == "LOGOUT") {
            c.send("* BYE Logging out\r\n" + tag + " OK LOGOUT completed\r\n");
            return;
        } else {
            c.send(tag + " BAD Unknown command\r\n");
        }
    }
}

void ServeImap(Connection& c) {
    ImapDialogue(c);
}

void ServeFtp(Connection& c) {
    c.send("220 FTP ready\r\n");
    while (const auto read = c.readLine()) {
        const std::string& line = *read;
        const std::string verb = Word(line);
        if (verb == "USER") {
            c.send("331 Password required\r\n");
        } else if (verb == "PASS") {
            c.send("230 Logged in\r\n");
        } else if (verb == "TYPE") {
            c.send("200 Type set to I\r\n");
        } else if (verb == "SYST") {
            c.send("215 UNIX Type: L8\r\n");
        } else if (verb == "QUIT") {
            c.send("221 Bye\r\n");
            return;
        } else {
            c.send("502 Command not implemented\r\n");
        }
    }
}

// The TLS servers' context: the test CA's certificate for localhost and
// 127.0.0.1. Made in main before the servers start.
SSL_CTX* g_serverTls = nullptr;

// The server side of TLS on an accepted connection, read a line at a time
// as FakeConnection reads. A wait ends after 10 s, or when the server stops.
class TlsServerConnection {
public:
    explicit TlsServerConnection(Connection& c) : m_connection(c), m_fd(c.fd()) {
        ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
        m_ssl = SSL_new(g_serverTls);
    }
    ~TlsServerConnection() { SSL_free(m_ssl); }
    TlsServerConnection(const TlsServerConnection&) = delete;
    TlsServerConnection& operator=(const TlsServerConnection&) = delete;

    bool accept() {
        if (m_ssl == nullptr || SSL_set_fd(m_ssl, m_fd) != 1) {
            return false;
        }
        for (;;) {
            const int rc = SSL_accept(m_ssl);
            if (rc == 1) {
                return true;
            }
            if (!retry(rc)) {
                return false;
            }
        }
    }

    bool send(std::string_view data) {
        while (!data.empty()) {
            const int n = SSL_write(m_ssl, data.data(), static_cast<int>(data.size()));
            if (n > 0) {
                data.remove_prefix(static_cast<std::size_t>(n));
            } else if (!retry(n)) {
                return false;
            }
        }
        return true;
    }

    std::optional<std::string> readLine() {
        for (;;) {
            const auto lf = m_buffer.find('\n');
            if (lf != std::string::npos) {
                std::string line = m_buffer.substr(0, lf);
                m_buffer.erase(0, lf + 1);
                if (!line.empty() && line.back() == '\r') {
                    line.pop_back();
                }
                return line;
            }
            char chunk[4096];
            const int n = SSL_read(m_ssl, chunk, sizeof chunk);
            if (n > 0) {
                m_buffer.append(chunk, static_cast<std::size_t>(n));
            } else if (!retry(n)) {
                return std::nullopt;
            }
        }
    }

    // Reads until the client closes (close_notify or the bare socket).
    void waitForClose() {
        while (readLine()) {
        }
    }

private:
    // Waits as OpenSSL asks; false when the session ended or broke.
    bool retry(int rc) {
        const int code = SSL_get_error(m_ssl, rc);
        ERR_clear_error();
        if (code != SSL_ERROR_WANT_READ && code != SSL_ERROR_WANT_WRITE) {
            return false;
        }
        const short events = code == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT;
        for (int slice = 0; slice < 100 && !m_connection.stopping(); ++slice) {
            pollfd p{m_fd, events, 0};
            const int ready = ::poll(&p, 1, 100);
            if (ready > 0) {
                return true;
            }
            if (ready < 0 && errno != EINTR) {
                return false;
            }
        }
        return false;
    }

    Connection& m_connection;
    int m_fd;
    SSL* m_ssl = nullptr;
    std::string m_buffer;
};

void ServeHttps(Connection& c) {
    TlsServerConnection tls(c);
    if (!tls.accept()) {
        return;
    }
    const auto requestLine = tls.readLine();
    if (!requestLine) {
        return;
    }
    // GET has no body: the head ends the request.
    for (auto header = tls.readLine(); header && !header->empty(); header = tls.readLine()) {
    }
    tls.send(HttpAnswer(Word(*requestLine)));
    tls.waitForClose();
}

void ServeSmtpStartTls(Connection& c) {
    c.send(kSmtpGreeting);
    if (SmtpCommands(c, true)) {
        TlsServerConnection tls(c);
        if (tls.accept()) {
            SmtpCommands(tls, false);
        }
    }
}

void ServeImaps(Connection& c) {
    TlsServerConnection tls(c);
    if (tls.accept()) {
        ImapDialogue(tls);
    }
}

// One connection at a time, as a small server answers a single client.
struct Servers {
    using Mode = vantor::test::FakeServer::Mode;
    vantor::test::FakeServer http{ServeHttp, Mode::OneAtATime};
    vantor::test::FakeServer smtp{ServeSmtp, Mode::OneAtATime};
    vantor::test::FakeServer pop3{ServePop3, Mode::OneAtATime};
    vantor::test::FakeServer imap{ServeImap, Mode::OneAtATime};
    vantor::test::FakeServer ftp{ServeFtp, Mode::OneAtATime};
    vantor::test::FakeServer https{ServeHttps, Mode::OneAtATime};
    vantor::test::FakeServer smtpStartTls{ServeSmtpStartTls, Mode::OneAtATime};
    vantor::test::FakeServer imaps{ServeImaps, Mode::OneAtATime};
};

// ---------------------------------------------------------------------------
// The plain exchanges. Each returns nullptr on success, else what went wrong.

// A blocking TCP connection to 127.0.0.1 with a small line buffer, in the
// clear or, after startTls, over TLS.
class PlainConnection {
public:
    PlainConnection() = default;
    ~PlainConnection() {
        if (m_ssl != nullptr) {
            // close_notify, without waiting for the server's: the check's
            // close does the same.
            SSL_shutdown(m_ssl);
            SSL_free(m_ssl);
        }
        SSL_CTX_free(m_ctx);
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    PlainConnection(const PlainConnection&) = delete;
    PlainConnection& operator=(const PlainConnection&) = delete;

    bool open(int port) {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in a = Loopback(port);
        return m_fd >= 0 && ::connect(m_fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
    }

    // The handshake as a client of 127.0.0.1, verified as the check verifies:
    // the chain against the CA in `caFile`, the certificate's address against
    // 127.0.0.1 (an address: no SNI). The check makes a context of its own
    // for every connection and loads the trust store into it, so this does
    // too; neither keeps a session to resume.
    bool startTls(const std::string& caFile) {
        if (m_len != 0) {
            return false;
        }
        // OpenSSL writes its Finished and the first line apart; without this
        // (the check sets it too) the line would wait for a delayed ACK.
        const int one = 1;
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        m_ctx = SSL_CTX_new(TLS_client_method());
        if (m_ctx == nullptr ||
            SSL_CTX_load_verify_locations(m_ctx, caFile.c_str(), nullptr) != 1) {
            return false;
        }
        SSL_CTX_set_verify(m_ctx, SSL_VERIFY_PEER, nullptr);
        m_ssl = SSL_new(m_ctx);
        return m_ssl != nullptr && SSL_set_fd(m_ssl, m_fd) == 1 &&
               X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(m_ssl), "127.0.0.1") == 1 &&
               SSL_connect(m_ssl) == 1;
    }

    bool sendLine(std::string_view text) {
        std::string line(text);
        line += "\r\n";
        if (m_ssl != nullptr) {
            return SSL_write(m_ssl, line.data(), static_cast<int>(line.size())) ==
                   static_cast<int>(line.size());
        }
        return ::send(m_fd, line.data(), line.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(line.size());
    }

    // Reads one line; true when it starts with `expected`.
    bool expect(std::string_view expected) {
        for (;;) {
            if (char* lf = static_cast<char*>(std::memchr(m_buf, '\n', m_len))) {
                const std::size_t lineLength = static_cast<std::size_t>(lf - m_buf) + 1;
                const bool match = std::string_view(m_buf, lineLength).starts_with(expected);
                m_len -= lineLength;
                std::memmove(m_buf, lf + 1, m_len);
                return match;
            }
            if (m_len == sizeof m_buf) {
                return false;
            }
            const ssize_t n =
                m_ssl != nullptr
                    ? SSL_read(m_ssl, m_buf + m_len, static_cast<int>(sizeof m_buf - m_len))
                    : ::recv(m_fd, m_buf + m_len, sizeof m_buf - m_len, 0);
            if (n <= 0) {
                return false;
            }
            m_len += static_cast<std::size_t>(n);
        }
    }

private:
    int m_fd = -1;
    SSL_CTX* m_ctx = nullptr;
    SSL* m_ssl = nullptr;
    char m_buf[1024];
    std::size_t m_len = 0;
};

struct PlainTargets {
    std::string url;
    int smtp = 0;
    int pop3 = 0;
    int imap = 0;
    int ftp = 0;
    std::string httpsUrl;
    int smtpStartTls = 0;
    int imaps = 0;
    std::string caFile;  // the test CA, which SSL_CERT_FILE names for the checks
    std::string ehlo;    // "EHLO " + the host name
    int icmpType = -1;   // SOCK_DGRAM or SOCK_RAW, whichever the system allows
};
PlainTargets g_plain;

std::size_t DiscardBody(char*, std::size_t size, std::size_t count, void*) {
    return size * count;
}

// A fresh handle for each request, as the check makes; over https the
// chain and the host are verified (libcurl's defaults) against `caFile`.
const char* CurlGet(const std::string& url, const char* caFile) {
    CURL* h = curl_easy_init();
    if (h == nullptr) {
        return "curl_easy_init failed";
    }
    curl_slist* headers = curl_slist_append(nullptr, "Accept:");
    headers = curl_slist_append(headers, "Expect:");
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    if (caFile != nullptr) {
        curl_easy_setopt(h, CURLOPT_CAINFO, caFile);
    }
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(kTimeoutMs));
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(kTimeoutMs));
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, DiscardBody);
    // Straight to the server, whatever proxy the environment names.
    curl_easy_setopt(h, CURLOPT_PROXY, "");
    curl_easy_setopt(h, CURLOPT_NOPROXY, "");
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    const CURLcode rc = curl_easy_perform(h);
    long code = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &code);
    curl_easy_cleanup(h);
    curl_slist_free_all(headers);
    if (rc != CURLE_OK) {
        return "curl_easy_perform failed";
    }
    return code == 200 ? nullptr : "the answer was not 200";
}

const char* PlainUrl() {
    return CurlGet(g_plain.url, nullptr);
}

const char* PlainHttps() {
    return CurlGet(g_plain.httpsUrl, g_plain.caFile.c_str());
}

const char* PlainSmtp() {
    PlainConnection c;
    if (!c.open(g_plain.smtp)) {
        return "cannot connect";
    }
    if (!c.expect("220")) {
        return "no 220 greeting";
    }
    if (!c.sendLine(g_plain.ehlo) || !c.expect("250")) {
        return "EHLO not answered with 250";
    }
    (void)c.sendLine("QUIT");
    return nullptr;
}

const char* PlainSmtpStartTls() {
    PlainConnection c;
    if (!c.open(g_plain.smtpStartTls)) {
        return "cannot connect";
    }
    if (!c.expect("220")) {
        return "no 220 greeting";
    }
    // The reply to EHLO has two lines; the second offers STARTTLS.
    if (!c.sendLine(g_plain.ehlo) || !c.expect("250-") || !c.expect("250 STARTTLS")) {
        return "EHLO not answered with STARTTLS offered";
    }
    if (!c.sendLine("STARTTLS") || !c.expect("220")) {
        return "STARTTLS not answered with 220";
    }
    if (!c.startTls(g_plain.caFile)) {
        return "the TLS handshake or the verification failed";
    }
    if (!c.sendLine(g_plain.ehlo) || !c.expect("250")) {
        return "EHLO over TLS not answered with 250";
    }
    (void)c.sendLine("QUIT");
    return nullptr;
}

const char* PlainPop3() {
    PlainConnection c;
    if (!c.open(g_plain.pop3)) {
        return "cannot connect";
    }
    if (!c.expect("+OK")) {
        return "no +OK greeting";
    }
    if (!c.sendLine(std::string("USER ") + kUser) || !c.expect("+OK")) {
        return "USER refused";
    }
    if (!c.sendLine(std::string("PASS ") + kPassword) || !c.expect("+OK")) {
        return "PASS refused";
    }
    (void)c.sendLine("QUIT");
    return nullptr;
}

// Greeting, LOGIN and LOGOUT, in the clear or over TLS.
const char* ImapLogin(PlainConnection& c) {
    if (!c.expect("* OK")) {
        return "no * OK greeting";
    }
    if (!c.sendLine(std::string("C1 LOGIN ") + kUser + " " + kPassword) || !c.expect("C1 OK")) {
        return "LOGIN refused";
    }
    (void)c.sendLine("C2 LOGOUT");
    return nullptr;
}

const char* PlainImap() {
    PlainConnection c;
    if (!c.open(g_plain.imap)) {
        return "cannot connect";
    }
    return ImapLogin(c);
}

const char* PlainImaps() {
    PlainConnection c;
    if (!c.open(g_plain.imaps)) {
        return "cannot connect";
    }
    if (!c.startTls(g_plain.caFile)) {
        return "the TLS handshake or the verification failed";
    }
    return ImapLogin(c);
}

const char* PlainFtp() {
    PlainConnection c;
    if (!c.open(g_plain.ftp)) {
        return "cannot connect";
    }
    if (!c.expect("220")) {
        return "no 220 greeting";
    }
    if (!c.sendLine(std::string("USER ") + kUser) || !c.expect("331")) {
        return "USER not answered with 331";
    }
    if (!c.sendLine(std::string("PASS ") + kPassword) || !c.expect("230")) {
        return "PASS not answered with 230";
    }
    if (!c.sendLine("TYPE I") || !c.expect("200")) {
        return "TYPE I not answered with 200";
    }
    if (!c.sendLine("SYST") || !c.expect("215")) {
        return "SYST not answered with 215";
    }
    return nullptr;
}

std::uint16_t IcmpChecksum(const std::uint8_t* data, std::size_t length) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < length; i += 2) {
        sum += static_cast<std::uint32_t>((data[i] << 8) | data[i + 1]);
    }
    if (length % 2 != 0) {
        sum += static_cast<std::uint32_t>(data[length - 1]) << 8;
    }
    while (sum >> 16) {
        sum = (sum & 0xffff) + (sum >> 16);
    }
    return static_cast<std::uint16_t>(~sum);
}

std::uint16_t g_plainSequence = 0;

const char* PlainPing() {
    const int fd = ::socket(AF_INET, g_plain.icmpType | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) {
        return "cannot open an ICMP socket";
    }
    const bool raw = g_plain.icmpType == SOCK_RAW;
    const auto id = static_cast<std::uint16_t>(::getpid());
    const std::uint16_t sequence = ++g_plainSequence;
    std::uint8_t packet[8 + 32] = {};
    packet[0] = ICMP_ECHO;
    packet[4] = static_cast<std::uint8_t>(id >> 8);
    packet[5] = static_cast<std::uint8_t>(id);
    packet[6] = static_cast<std::uint8_t>(sequence >> 8);
    packet[7] = static_cast<std::uint8_t>(sequence);
    for (std::size_t i = 8; i < sizeof packet; ++i) {
        packet[i] = static_cast<std::uint8_t>('a' + i % 23);
    }
    const std::uint16_t sum = IcmpChecksum(packet, sizeof packet);
    packet[2] = static_cast<std::uint8_t>(sum >> 8);
    packet[3] = static_cast<std::uint8_t>(sum);
    const sockaddr_in to = Loopback(0);
    const char* error = nullptr;
    if (::sendto(fd, packet, sizeof packet, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) <
        0) {
        error = "sendto failed";
    }
    // A raw socket sees every ICMP message of the host, our own request
    // among them: wait for the reply that carries our numbers.
    while (error == nullptr) {
        std::uint8_t buffer[1500];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0) {
            error = "recv failed";
            break;
        }
        const std::uint8_t* icmp = buffer;
        std::size_t length = static_cast<std::size_t>(n);
        if (raw) {
            const std::size_t ihl = static_cast<std::size_t>(buffer[0] & 0x0f) * 4;
            if (length < ihl + 8) {
                continue;
            }
            icmp += ihl;
            length -= ihl;
        }
        if (length < 8 || icmp[0] != ICMP_ECHOREPLY) {
            continue;
        }
        const bool ours =
            ((icmp[6] << 8) | icmp[7]) == sequence && (!raw || ((icmp[4] << 8) | icmp[5]) == id);
        if (ours) {
            break;
        }
    }
    ::close(fd);
    return error;
}

// Which ICMP socket an unprivileged-first sender ends up with here.
int IcmpSocketType() {
    for (int type : {SOCK_DGRAM, SOCK_RAW}) {
        const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, IPPROTO_ICMP);
        if (fd >= 0) {
            ::close(fd);
            return type;
        }
    }
    return -1;
}

// ---------------------------------------------------------------------------
// The benchmarks

using CheckFactory = std::function<std::unique_ptr<CheckWorkItem>()>;
using PlainExchange = const char* (*)();

struct Kind {
    const char* name;
    CheckFactory makeCheck;
    PlainExchange plain;
};

// Each single exchange's time, in µs, by benchmark name.
std::map<std::string, std::vector<double>> g_samples;
std::atomic<std::uint64_t> g_progress{0};

double MicrosecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

void RunCheck(benchmark::State& state, const CheckFactory& make, std::vector<double>& samples) {
    for (auto _ : state) {
        const auto start = Clock::now();
        std::unique_ptr<CheckWorkItem> item = make();
        item->run();
        samples.push_back(MicrosecondsSince(start));
        g_progress.fetch_add(1, std::memory_order_relaxed);
        if (!item->result().passed) {
            state.SkipWithError(("the check failed: " + item->result().detail).c_str());
            break;
        }
    }
}

void RunPlain(benchmark::State& state, PlainExchange plain, std::vector<double>& samples) {
    for (auto _ : state) {
        const auto start = Clock::now();
        const char* error = plain();
        samples.push_back(MicrosecondsSince(start));
        g_progress.fetch_add(1, std::memory_order_relaxed);
        if (error != nullptr) {
            state.SkipWithError((std::string("the plain exchange failed: ") + error).c_str());
            break;
        }
    }
}

void Configure(benchmark::internal::Benchmark* b) {
    b->UseRealTime()
        ->Unit(benchmark::kMicrosecond)
        ->MinTime(kMinTimePerRepetition)
        ->Repetitions(kRepetitions)
        ->ReportAggregatesOnly(true);
}

// The console output as usual, and the median of every benchmark kept for
// the table at the end.
class MedianReporter : public benchmark::ConsoleReporter {
public:
    MedianReporter() : ConsoleReporter(::isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const std::string& name = run.run_name.function_name;
            if (run.error_occurred) {
                errors[name] = run.error_message;
            } else if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                medians[name] = run.GetAdjustedRealTime();
            }
        }
    }

    std::map<std::string, double> medians;
    std::map<std::string, std::string> errors;
};

double Median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    const auto mid = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), mid, values.end());
    return *mid;
}

void PrintTable(const std::vector<Kind>& kinds, const MedianReporter& reporter) {
    std::printf("\nOne check beside the same exchange done plainly (127.0.0.1), in µs\n");
    std::printf(
        "p50: median of all single exchanges (the verdict); rep median: Google Benchmark's\n"
        "median of the %d repetition means, which a busy machine sways more\n",
        kRepetitions);
    // Written out by hand: printf counts the two bytes of "µ" as two columns.
    std::printf(
        "kind          check p50  plain p50  ratio  <= 1.3  check rep  plain rep  ratio  "
        "singles\n");
    int measured = 0;
    int missed = 0;
    for (const Kind& kind : kinds) {
        const std::string check = std::string("BM_Check_") + kind.name;
        const std::string plain = std::string("BM_Plain_") + kind.name;
        const auto c = reporter.medians.find(check);
        const auto p = reporter.medians.find(plain);
        if (c == reporter.medians.end() || p == reporter.medians.end()) {
            const auto ce = reporter.errors.find(check);
            const auto pe = reporter.errors.find(plain);
            std::string why = ce != reporter.errors.end()   ? ce->second
                              : pe != reporter.errors.end() ? pe->second
                                                            : "not run";
            std::printf("%-13s %s\n", kind.name, why.c_str());
            continue;
        }
        const std::vector<double>& checkSamples = g_samples[check];
        const std::vector<double>& plainSamples = g_samples[plain];
        const double checkP50 = Median(checkSamples);
        const double plainP50 = Median(plainSamples);
        const double ratio = checkP50 / plainP50;
        const bool within = ratio <= kTargetRatio;
        ++measured;
        missed += within ? 0 : 1;
        std::printf("%-13s %9.1f %10.1f %6.2f  %-6s %10.1f %10.1f %6.2f  %zu/%zu\n", kind.name,
                    checkP50, plainP50, ratio, within ? "yes" : "NO", c->second, p->second,
                    c->second / p->second, checkSamples.size(), plainSamples.size());
    }
    if (measured == 0) {
        std::printf("No pair of benchmarks was measured.\n");
    } else if (missed == 0) {
        std::printf("All %d kinds measured are within 1.3 times their plain exchange.\n", measured);
    } else {
        std::printf("%d of %d kinds measured are above 1.3 times their plain exchange.\n", missed,
                    measured);
    }
}

// Ends the program when no exchange has finished for kStallSeconds while
// benchmarks run: a plain exchange has no time limit of its own.
class Watchdog {
public:
    Watchdog()
        : m_thread([this] {
              std::uint64_t last = g_progress.load();
              int idle = 0;
              while (!m_stop.load()) {
                  std::this_thread::sleep_for(std::chrono::milliseconds(100));
                  const std::uint64_t now = g_progress.load();
                  idle = now == last ? idle + 1 : 0;
                  last = now;
                  if (idle >= kStallSeconds * 10) {
                      std::fprintf(stderr, "bench_checks: no exchange finished for %d s\n",
                                   kStallSeconds);
                      std::_Exit(2);
                  }
              }
          }) {}
    ~Watchdog() {
        m_stop = true;
        m_thread.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// What a TLS check costs before the server says a word: IMAP checks over
// implicit TLS against a server that accepts and never answers, each ending
// at its time limit, with the trust store the program would use (this runs
// before SSL_CERT_FILE is set for the benchmarks). The first check pays for
// what is set up once; then kUnansweredAtOnce checks at once (the process's
// CPU time per check, and how far its peak resident memory rose while they
// waited); then kUnansweredInTurn one after the other (this thread's CPU time
// per check).
constexpr int kUnansweredAtOnce = 100;
constexpr int kUnansweredInTurn = 20;

struct UnansweredTls {
    std::string store;
    double firstMs = 0;
    double atOnceMs = 0;
    long peakGrowthKb = 0;
    double inTurnMs = 0;
};

long PeakRssKb() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

UnansweredTls MeasureUnansweredTls() {
    vantor::test::FakeServer silent([](vantor::test::FakeConnection& c) { c.waitForClose(); });
    auto check = [&silent](int timeoutMs) {
        CheckSettings s;
        s.serviceKey = "bench";
        s.host = "127.0.0.1";
        s.port = silent.port();
        s.timeoutMs = timeoutMs;
        s.tlsMode = "implicit";
        vantor::engine::ThreadIMAPCheck item(s, {kUser, kPassword});
        item.run();
        g_progress.fetch_add(1, std::memory_order_relaxed);
    };
    UnansweredTls out;
    const char* file = std::getenv("SSL_CERT_FILE");
    const char* dir = std::getenv("SSL_CERT_DIR");
    out.store = (file == nullptr && dir == nullptr)
                    ? "the system's"
                    : std::string("SSL_CERT_FILE=") + (file ? file : "") +
                          " SSL_CERT_DIR=" + (dir ? dir : "");

    double before = vantor::test::ThreadCpuMs();
    check(100);
    out.firstMs = vantor::test::ThreadCpuMs() - before;

    const long peakBefore = PeakRssKb();
    before = vantor::test::ProcessCpuMs();
    {
        std::vector<std::thread> threads;
        for (int i = 0; i < kUnansweredAtOnce; ++i) {
            threads.emplace_back([&check] { check(1000); });
        }
        for (std::thread& t : threads) {
            t.join();
        }
    }
    out.atOnceMs = (vantor::test::ProcessCpuMs() - before) / kUnansweredAtOnce;
    out.peakGrowthKb = PeakRssKb() - peakBefore;

    before = vantor::test::ThreadCpuMs();
    for (int i = 0; i < kUnansweredInTurn; ++i) {
        check(100);
    }
    out.inTurnMs = (vantor::test::ThreadCpuMs() - before) / kUnansweredInTurn;
    return out;
}

void PrintUnansweredTls(const UnansweredTls& m) {
    std::printf("\nIMAP over implicit TLS against a server that never answers (%s trust store)\n",
                m.store.c_str());
    std::printf("first check: %.1f ms CPU\n", m.firstMs);
    std::printf("%d at once: %.2f ms CPU per check, peak memory +%.1f MB\n", kUnansweredAtOnce,
                m.atOnceMs, static_cast<double>(m.peakGrowthKb) / 1024);
    std::printf("%d in turn: %.2f ms CPU per check\n", kUnansweredInTurn, m.inTurnMs);
}

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') {
        return "localhost";
    }
    return name;
}

}  // namespace

int main(int argc, char** argv) {
    // Interleaving is on unless the command line says otherwise (a later
    // flag wins).
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    std::vector<char*> args{argv[0], interleave.data()};
    args.insert(args.end(), argv + 1, argv + argc);
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) {
        return 1;
    }
    ::signal(SIGPIPE, SIG_IGN);
    const UnansweredTls unanswered = MeasureUnansweredTls();

    // The checks find the test CA through SSL_CERT_FILE: set before any
    // thread runs, since setenv is not safe beside a getenv elsewhere.
    const vantor::test::TestCertificates& certificates = vantor::test::SharedTestCertificates();
    const vantor::test::CertFiles& serverCert = certificates[vantor::test::CertKind::Valid];
    ::setenv("SSL_CERT_FILE", certificates.caCert.c_str(), 1);
    g_plain.caFile = certificates.caCert;
    const std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> serverTls(
        SSL_CTX_new(TLS_server_method()), SSL_CTX_free);
    g_serverTls = serverTls.get();
    if (g_serverTls == nullptr ||
        SSL_CTX_use_certificate_chain_file(g_serverTls, serverCert.cert.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(g_serverTls, serverCert.key.c_str(), SSL_FILETYPE_PEM) != 1) {
        std::fprintf(stderr, "bench_checks: cannot load the test server certificate\n");
        return 1;
    }
    // Neither client resumes a session: tickets would be made for nothing.
    SSL_CTX_set_num_tickets(g_serverTls, 0);
    curl_global_init(CURL_GLOBAL_DEFAULT);

    Servers servers;
    g_plain.url = "http://127.0.0.1:" + std::to_string(servers.http.port()) + kPage;
    g_plain.smtp = servers.smtp.port();
    g_plain.pop3 = servers.pop3.port();
    g_plain.imap = servers.imap.port();
    g_plain.ftp = servers.ftp.port();
    g_plain.httpsUrl = "https://127.0.0.1:" + std::to_string(servers.https.port()) + kPage;
    g_plain.smtpStartTls = servers.smtpStartTls.port();
    g_plain.imaps = servers.imaps.port();
    g_plain.ehlo = "EHLO " + HostName();
    g_plain.icmpType = IcmpSocketType();

    auto settings = [](const std::string& host, int port) {
        CheckSettings s;
        s.serviceKey = "bench";
        s.host = host;
        s.port = port;
        s.timeoutMs = kTimeoutMs;
        return s;
    };
    const vantor::engine::Credentials mail{kUser, kPassword};
    const CheckSettings url = settings(g_plain.url, servers.http.port());
    const CheckSettings smtp = settings("127.0.0.1", g_plain.smtp);
    const CheckSettings pop3 = settings("127.0.0.1", g_plain.pop3);
    const CheckSettings imap = settings("127.0.0.1", g_plain.imap);
    const CheckSettings ftp = settings("127.0.0.1", g_plain.ftp);
    const CheckSettings ping = settings("127.0.0.1", 0);
    // Verified (the default) against SSL_CERT_FILE, with no warning days.
    const CheckSettings https = settings(g_plain.httpsUrl, servers.https.port());
    CheckSettings smtpStartTls = settings("127.0.0.1", g_plain.smtpStartTls);
    smtpStartTls.tlsMode = "starttls";
    CheckSettings imaps = settings("127.0.0.1", g_plain.imaps);
    imaps.tlsMode = "implicit";
    vantor::engine::UrlCheckRequest get;
    get.method = "Get";
    vantor::engine::FtpCheckRequest ftpLogin;
    ftpLogin.username = kUser;
    ftpLogin.password = kPassword;

    const std::vector<Kind> kinds = {
        {"URL", [&] { return std::make_unique<vantor::engine::ThreadURLCheck>(url, get); },
         PlainUrl},
        {"SMTP", [&] { return std::make_unique<vantor::engine::ThreadSMTPCheck>(smtp, mail); },
         PlainSmtp},
        {"POP3", [&] { return std::make_unique<vantor::engine::ThreadPOP3Check>(pop3, mail); },
         PlainPop3},
        {"IMAP", [&] { return std::make_unique<vantor::engine::ThreadIMAPCheck>(imap, mail); },
         PlainImap},
        {"FTP", [&] { return std::make_unique<vantor::engine::ThreadFTPCheck>(ftp, ftpLogin); },
         PlainFtp},
        {"Ping", [&] { return std::make_unique<vantor::engine::ThreadPingCheck>(ping); },
         PlainPing},
        {"HTTPS", [&] { return std::make_unique<vantor::engine::ThreadURLCheck>(https, get); },
         PlainHttps},
        {"SMTP-STARTTLS",
         [&] { return std::make_unique<vantor::engine::ThreadSMTPCheck>(smtpStartTls, mail); },
         PlainSmtpStartTls},
        {"IMAPS", [&] { return std::make_unique<vantor::engine::ThreadIMAPCheck>(imaps, mail); },
         PlainImaps},
    };
    for (const Kind& kind : kinds) {
        const std::string check = std::string("BM_Check_") + kind.name;
        const std::string plain = std::string("BM_Plain_") + kind.name;
        std::vector<double>& checkSamples = g_samples[check];
        std::vector<double>& plainSamples = g_samples[plain];
        benchmark::RegisterBenchmark(check.c_str(), [&kind,
                                                     &checkSamples](benchmark::State& state) {
            RunCheck(state, kind.makeCheck, checkSamples);
        })->Apply(Configure);
        benchmark::RegisterBenchmark(plain.c_str(), [&kind,
                                                     &plainSamples](benchmark::State& state) {
            RunPlain(state, kind.plain, plainSamples);
        })->Apply(Configure);
    }

    benchmark::AddCustomContext("icmp_socket", g_plain.icmpType == SOCK_DGRAM ? "datagram"
                                               : g_plain.icmpType == SOCK_RAW ? "raw"
                                                                              : "none");
    MedianReporter reporter;
    {
        Watchdog watchdog;
        benchmark::RunSpecifiedBenchmarks(&reporter);
    }
    PrintTable(kinds, reporter);
    PrintUnansweredTls(unanswered);
    benchmark::Shutdown();
    curl_global_cleanup();
    return 0;
}
