// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/HttpClient.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "app/AsciiCase.h"
#include "net/Deadline.h"
#include "net/Probe.h"
#include "net/Resolver.h"
#include "net/TextProtocol.h"

namespace vantor::net {

namespace {

void InitCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct CurlDeleter {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
    void operator()(CURLU* u) const { curl_url_cleanup(u); }
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
using CurlHandle = std::unique_ptr<CURL, CurlDeleter>;
struct MultiDeleter {
    void operator()(CURLM* m) const { curl_multi_cleanup(m); }
};
using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;
using UrlHandle = std::unique_ptr<CURLU, CurlDeleter>;
using HeaderList = std::unique_ptr<curl_slist, CurlDeleter>;

struct UrlParts {
    std::string full;
    std::string scheme;
    std::string host;
    std::string port;  // as written, or empty
};

// Whether a second "scheme://" follows the first one, as in
// "http://https://h/x" (what completing an https URL gives). The URL parser
// would read that as the host "https" with an empty port and look the name
// up.
bool HasSecondScheme(std::string_view url) {
    const auto first = url.find("://");
    if (first == std::string_view::npos) {
        return false;
    }
    const std::string_view rest = url.substr(first + 3);
    std::size_t i = 0;
    while (i < rest.size() && (std::isalnum(static_cast<unsigned char>(rest[i])) ||
                               rest[i] == '+' || rest[i] == '-' || rest[i] == '.')) {
        ++i;
    }
    return i > 0 && std::isalpha(static_cast<unsigned char>(rest[0])) && rest.substr(i, 3) == "://";
}

// Parses an http URL; when it names no port, `defaultPort` goes into it.
// An error shows the URL without its password and query.
bool ParseUrl(const std::string& url, int defaultPort, UrlParts& out, std::string& error) {
    const std::string shown = UrlWithoutQuery(UrlForDisplay(url));
    if (HasSecondScheme(url)) {
        error = "Only http and https URLs can be checked: " + shown;
        return false;
    }
    UrlHandle u(curl_url());
    if (!u) {
        error = "Out of memory";
        return false;
    }
    CURLUcode rc = curl_url_set(u.get(), CURLUPART_URL, url.c_str(), 0);
    if (rc != CURLUE_OK) {
        error = "Invalid URL \"" + shown + "\": " + curl_url_strerror(rc);
        return false;
    }
    char* part = nullptr;
    if (curl_url_get(u.get(), CURLUPART_SCHEME, &part, 0) == CURLUE_OK) {
        out.scheme = part;
        curl_free(part);
        if (out.scheme != "http" && out.scheme != "https") {
            error = "Only http and https URLs can be checked: " + shown;
            return false;
        }
    }
    if (curl_url_get(u.get(), CURLUPART_HOST, &part, 0) == CURLUE_OK) {
        out.host = part;
        curl_free(part);
    }
    if (curl_url_get(u.get(), CURLUPART_PORT, &part, 0) == CURLUE_OK) {
        out.port = part;
        curl_free(part);
    } else if (std::string problem = PortRangeProblem(defaultPort); !problem.empty()) {
        // The URL would otherwise go to the scheme's own port.
        error = std::move(problem);
        return false;
    } else if (defaultPort > 0 &&
               curl_url_set(u.get(), CURLUPART_PORT, std::to_string(defaultPort).c_str(), 0) !=
                   CURLUE_OK) {
        error = "Invalid URL \"" + shown + "\"";
        return false;
    }
    if (curl_url_get(u.get(), CURLUPART_URL, &part, 0) != CURLUE_OK) {
        error = "Invalid URL \"" + shown + "\"";
        return false;
    }
    out.full = part;
    curl_free(part);
    if (out.port.empty()) {
        out.port =
            defaultPort > 0 ? std::to_string(defaultPort) : (out.scheme == "https" ? "443" : "80");
    }
    return true;
}

struct Exchange {
    CURL* handle = nullptr;
    std::string statusLine;
    std::string body;
    std::size_t keepBody = 0;
    bool verified = false;
    // The first end of validity in the server's chain, over https.
    std::optional<std::time_t> notAfter;
};

// The TLS session is there while the answer is read: its certificate's end
// of validity is taken with the status line.
void ReadCertificateDate(Exchange& exchange) {
    const curl_tlssessioninfo* info = nullptr;
    if (curl_easy_getinfo(exchange.handle, CURLINFO_TLS_SSL_PTR, &info) != CURLE_OK ||
        info == nullptr || info->backend != CURLSSLBACKEND_OPENSSL || info->internals == nullptr) {
        return;
    }
    const auto* ssl = static_cast<const SSL*>(info->internals);
    exchange.notAfter = ChainEndOf(ssl, exchange.verified);
    NoteTlsSession(ssl, exchange.notAfter);
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    const size_t n = size * count;
    auto* exchange = static_cast<Exchange*>(user);
    const std::string_view line(data, n);
    if (line.substr(0, 5) == "HTTP/") {
        exchange->statusLine = Trim(line);
        if (!exchange->notAfter) {
            ReadCertificateDate(*exchange);
        }
    }
    return n;
}

// The code of a status line such as "HTTP/1.1 102 Processing"; 0 when there
// is none.
int StatusCodeOf(std::string_view statusLine) {
    const auto blank = statusLine.find(' ');
    if (blank == std::string_view::npos || statusLine.size() < blank + 4) {
        return 0;
    }
    int code = 0;
    for (const char c : statusLine.substr(blank + 1, 3)) {
        if (c < '0' || c > '9') {
            return 0;
        }
        code = code * 10 + (c - '0');
    }
    return code;
}

// The body is read; only as much of it as was asked for is kept.
size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto* exchange = static_cast<Exchange*>(user);
    const size_t n = size * count;
    if (exchange->body.size() < exchange->keepBody) {
        exchange->body.append(data, std::min(n, exchange->keepBody - exchange->body.size()));
    }
    return n;
}

std::string Upper(std::string s) {
    for (char& c : s) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return s;
}

}  // namespace

std::string UrlForDisplay(const std::string& url) {
    std::string out = url;
    // Every "://" starts an authority: "http://https://u:p@h/" hides one
    // behind the first.
    for (std::size_t at = out.find("://"); at != std::string::npos; at = out.find("://", at + 3)) {
        const std::size_t start = at + 3;
        std::size_t end = out.find_first_of("/?#", start);
        if (end == std::string::npos) {
            end = out.size();
        }
        // The last "@" ends the user info: a password may hold an "@".
        const std::size_t atSign = out.rfind('@', end - 1);
        if (atSign == std::string::npos || atSign < start) {
            continue;
        }
        const std::size_t colon = out.find(':', start);
        if (colon == std::string::npos || colon >= atSign) {
            continue;  // a user name alone
        }
        out.replace(colon + 1, atSign - colon - 1, "***");
    }
    return out;
}

using app::StartsWithNoCase;

bool IsHttpsUrl(std::string_view url) {
    return StartsWithNoCase(url, "https://");
}

int HttpDefaultPort(std::string_view url, int configured) {
    if (IsHttpsUrl(url)) {
        return (configured == 0 || configured == 443) ? 443 : configured;
    }
    return (configured == 0 || configured == 80 || configured == 443) ? 80 : configured;
}

std::string CompleteUrl(const std::string& text) {
    if (text.empty() || StartsWithNoCase(text, "http://") || IsHttpsUrl(text)) {
        return text;
    }
    return "http://" + text;
}

std::string UrlWithoutQuery(const std::string& url) {
    return url.substr(0, url.find_first_of("?#"));
}

std::string FormEncode(const std::string& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
            out += static_cast<char>(c);
        } else if (c == ' ') {
            out += '+';
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0f];
        }
    }
    return out;
}

namespace {

// What changes from one request of an exchange to the next.
struct Hop {
    std::string url;
    std::string method;
    std::string body;
    std::string contentType;
    bool sendCredentials = false;
    bool first = true;
    // Still on the scheme, host and port of the first request: private
    // headers and cookies go only there.
    bool sameOrigin = true;
    // The cookies the server has set so far, as libcurl lists them; each
    // request starts with them.
    std::vector<std::string> cookies;
};

HeaderList BuildHeaders(const HttpRequest& request, const Hop& hop) {
    curl_slist* raw = nullptr;
    auto add = [&raw](const std::string& line) { raw = curl_slist_append(raw, line.c_str()); };
    // libcurl adds these of its own accord; an empty value removes them.
    add("Accept:");
    add("Expect:");
    for (const auto& [name, value] : request.headers) {
        if (!value.empty()) {
            add(name + ": " + value);
        }
    }
    if (hop.sameOrigin) {
        for (const auto& [name, value] : request.privateHeaders) {
            if (!value.empty()) {
                add(name + ": " + value);
            }
        }
    }
    // An empty value also keeps libcurl's own form type off a POST.
    add(hop.contentType.empty() ? "Content-Type:" : "Content-Type: " + hop.contentType);
    return HeaderList(raw);
}

// Sets up one request of the exchange; everything the handle points to
// outlives it.
void Configure(CURL* h, const HttpRequest& request, const Hop& hop, const std::string& proxy,
               long left, Exchange& exchange, curl_slist* headers, char* errorBuffer) {
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_URL, hop.url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    // A full handshake every time: no TLS session is taken over from an
    // earlier request of this thread.
    curl_easy_setopt(h, CURLOPT_SSL_SESSIONID_CACHE, 0L);
    if (request.tls.verify) {
        // The system's store, or the files OpenSSL's own variables name.
        if (const char* file = std::getenv("SSL_CERT_FILE"); file != nullptr && *file != '\0') {
            curl_easy_setopt(h, CURLOPT_CAINFO, file);
        }
        if (const char* dir = std::getenv("SSL_CERT_DIR"); dir != nullptr && *dir != '\0') {
            curl_easy_setopt(h, CURLOPT_CAPATH, dir);
        }
    } else {
        curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 0L);
    }
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    // Each request stands on its own: a connection of its own, closed after
    // it, and its host resolved afresh.
    curl_easy_setopt(h, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(h, CURLOPT_DNS_CACHE_TIMEOUT, 0L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, std::min<long>(left, request.timeoutMs));
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, left);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &exchange);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &exchange);
    // Only a configured cookie brings a cookie store. It keeps what the
    // server sets; the earlier answers' cookies go in first.
    if (!request.cookie.empty() && hop.sameOrigin) {
        curl_easy_setopt(h, CURLOPT_COOKIEFILE, "");
        for (const std::string& line : hop.cookies) {
            curl_easy_setopt(h, CURLOPT_COOKIELIST, line.c_str());
        }
        if (hop.first) {
            curl_easy_setopt(h, CURLOPT_COOKIE, request.cookie.c_str());
        }
    }
    // The proxy is ours to choose: never one from the environment.
    curl_easy_setopt(h, CURLOPT_PROXY, proxy.c_str());
    // Without this, libcurl reads no_proxy from the environment even for a
    // proxy set here, and would go around it.
    curl_easy_setopt(h, CURLOPT_NOPROXY, "");
    if (!proxy.empty() && (!request.proxyUsername.empty() || !request.proxyPassword.empty())) {
        curl_easy_setopt(h, CURLOPT_PROXYUSERNAME, request.proxyUsername.c_str());
        curl_easy_setopt(h, CURLOPT_PROXYPASSWORD, request.proxyPassword.c_str());
        curl_easy_setopt(h, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC));
    }
    if (hop.sendCredentials) {
        curl_easy_setopt(h, CURLOPT_USERNAME, request.username.c_str());
        curl_easy_setopt(h, CURLOPT_PASSWORD, request.password.c_str());
        curl_easy_setopt(h, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
    }
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);

    if (hop.method == "HEAD") {
        curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    } else if (hop.method == "GET") {
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    } else if (hop.method == "POST" || hop.method == "PUT") {
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, hop.body.c_str());
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(hop.body.size()));
        if (hop.method == "PUT") {
            curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, "PUT");
        }
    } else {
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, hop.method.c_str());
    }
}

// The error of a transfer that libcurl could not complete.
void FailTransfer(CURLcode rc, const char* errorBuffer, const Exchange& exchange,
                  HttpResult& result) {
    result.error = Trim(errorBuffer[0] != '\0' ? errorBuffer : curl_easy_strerror(rc));
    // A 1xx with no final status behind it, the server having closed or the
    // time having run out, is the answer: it is refused.
    const int lastCode = StatusCodeOf(exchange.statusLine);
    if (lastCode >= 100 && lastCode <= 199 &&
        (rc == CURLE_GOT_NOTHING || rc == CURLE_RECV_ERROR || rc == CURLE_OPERATION_TIMEDOUT)) {
        result.statusCode = lastCode;
        result.error = exchange.statusLine;
        return;
    }
    // libcurl gives up on an oversized response head with its out-of-memory
    // code; say what really happened.
    if (rc == CURLE_OUT_OF_MEMORY) {
        result.error = "The server's response head is too large to read";
    }
}

// Sets the hop up for the redirect the answer names. False, with the
// result's error set, when it cannot be followed.
bool FollowRedirect(CURL* h, long code, const char* location, const UrlParts& first, Hop& hop,
                    HttpResult& result) {
    UrlParts next;
    std::string error;
    if (!ParseUrl(location, 0, next, error)) {
        result.error = "Cannot follow the redirect: " + error;
        return false;
    }
    // Credentials, private headers and cookies go only to the server they
    // were given for; once left, it is not trusted again within the run.
    if (next.scheme != first.scheme || next.host != first.host || next.port != first.port) {
        hop.sendCredentials = false;
        hop.sameOrigin = false;
    }
    hop.url = next.full;
    hop.first = false;
    result.port = std::atoi(next.port.c_str());
    curl_slist* jar = nullptr;
    if (curl_easy_getinfo(h, CURLINFO_COOKIELIST, &jar) == CURLE_OK) {
        hop.cookies.clear();
        for (const curl_slist* item = jar; item != nullptr; item = item->next) {
            hop.cookies.emplace_back(item->data);
        }
        curl_slist_free_all(jar);
    }
    if ((code == 303 && hop.method != "HEAD") ||
        ((code == 301 || code == 302) && hop.method == "POST")) {
        // A body turned into a GET goes, and its type with it.
        if (hop.method == "POST" || hop.method == "PUT") {
            hop.contentType.clear();
        }
        hop.method = "GET";
        hop.body.clear();
    }
    return true;
}

// curl_easy_perform makes a multi handle, with its wake-up socket pair, for
// every new easy handle; a thread's own multi handle is made once. It keeps
// nothing between requests: every request connects afresh and resolves its
// host afresh (see Configure).
// One request's phases, added to this thread's probe facts: the name
// lookup, the connect, the TLS handshake, the wait for the answer's first
// byte (processing) and the rest of the answer (transfer).
void NoteHttpRequest(CURL* h, int n, bool https) {
    curl_off_t lookup = 0, connect = 0, tls = 0, pretransfer = 0, first = 0, total = 0;
    curl_easy_getinfo(h, CURLINFO_NAMELOOKUP_TIME_T, &lookup);
    curl_easy_getinfo(h, CURLINFO_CONNECT_TIME_T, &connect);
    curl_easy_getinfo(h, CURLINFO_APPCONNECT_TIME_T, &tls);
    curl_easy_getinfo(h, CURLINFO_PRETRANSFER_TIME_T, &pretransfer);
    curl_easy_getinfo(h, CURLINFO_STARTTRANSFER_TIME_T, &first);
    curl_easy_getinfo(h, CURLINFO_TOTAL_TIME_T, &total);
    app::ProbeFacts& probe = ThisProbe();
    if (!probe.http) {
        probe.http = app::ProbeFacts::Http{};
    }
    app::ProbeFacts::Http& http = *probe.http;
    // Each mark counts from the request's start and is 0 for a phase not
    // reached.
    const auto since = [](curl_off_t later, curl_off_t earlier) {
        return later > earlier ? static_cast<std::int64_t>(later - earlier) : 0;
    };
    const curl_off_t connected = std::max(lookup, connect);
    const curl_off_t secured = tls > 0 ? std::max(connected, tls) : connected;
    http.resolveUs += static_cast<std::int64_t>(lookup);
    http.connectUs += since(connect, lookup);
    http.tlsUs += tls > 0 ? since(tls, connected) : 0;
    http.processingUs += first > 0 ? since(first, std::max(secured, pretransfer)) : 0;
    http.transferUs += first > 0 ? since(total, first) : 0;
    if (n == 1 && !probe.dnsLookupUs) {
        probe.dnsLookupUs = static_cast<std::int64_t>(lookup);
    }
    long code = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &code);
    http.statusCode = static_cast<int>(code);
    long version = 0;
    curl_easy_getinfo(h, CURLINFO_HTTP_VERSION, &version);
    http.version = version == CURL_HTTP_VERSION_1_0   ? 1.0
                   : version == CURL_HTTP_VERSION_1_1 ? 1.1
                   : version == CURL_HTTP_VERSION_2_0 ? 2.0
                   : version == CURL_HTTP_VERSION_3   ? 3.0
                                                      : 0.0;
    http.ssl = https;
    http.redirects = n - 1;
    curl_off_t length = -1;
    curl_off_t received = 0;
    curl_easy_getinfo(h, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    curl_easy_getinfo(h, CURLINFO_SIZE_DOWNLOAD_T, &received);
    http.contentLength = static_cast<std::int64_t>(length);
    http.bodyBytes = static_cast<std::int64_t>(received);
    const char* ip = nullptr;
    if (curl_easy_getinfo(h, CURLINFO_PRIMARY_IP, &ip) == CURLE_OK && ip != nullptr && *ip) {
        sockaddr_storage address{};
        auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
        if (::inet_pton(AF_INET, ip, &v4->sin_addr) == 1) {
            v4->sin_family = AF_INET;
        } else if (::inet_pton(AF_INET6, ip, &v6->sin6_addr) == 1) {
            v6->sin6_family = AF_INET6;
        }
        NoteAddress(reinterpret_cast<const sockaddr*>(&address));
    }
}

CURLcode PerformOnThisThread(CURL* h) {
    thread_local const MultiHandle multi(curl_multi_init());
    if (!multi || curl_multi_add_handle(multi.get(), h) != CURLM_OK) {
        return curl_easy_perform(h);
    }
    CURLcode result = CURLE_OK;
    for (int running = 1; running > 0;) {
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        // The request's own time limit ends it; this only bounds one wait.
        if (running > 0 && curl_multi_poll(multi.get(), nullptr, 0, 1000, nullptr) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
    }
    int left = 0;
    while (const CURLMsg* message = curl_multi_info_read(multi.get(), &left)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == h) {
            result = message->data.result;
        }
    }
    curl_multi_remove_handle(multi.get(), h);
    return result;
}

}  // namespace

HttpResult PerformHttp(const HttpRequest& request) {
    InitCurlOnce();
    HttpResult result;
    const Deadline deadline = DeadlineAfter(request.timeoutMs);

    UrlParts first;
    if (!ParseUrl(request.url, request.defaultPort, first, result.error)) {
        return result;
    }
    result.port = std::atoi(first.port.c_str());
    Hop hop;
    hop.url = first.full;
    hop.method = Upper(request.method);
    hop.body = request.body;
    hop.contentType = request.contentType;
    hop.sendCredentials = !request.username.empty() || !request.password.empty();
    const bool useProxy = !request.proxyHost.empty() && request.proxyPort != 0;
    const std::string proxy =
        useProxy ? "http://" + request.proxyHost + ":" + std::to_string(request.proxyPort) : "";

    // The earliest end of validity of the certificates met on the way: an
    // exchange that would pass fails when one of them runs out soon. A
    // refused status stays the reason of a failure.
    std::optional<std::time_t> notAfter;
    auto passUnlessExpiring = [&] {
        const std::string problem =
            notAfter
                ? CertificateExpiryProblem(*notAfter, request.tls.expiryDays, std::time(nullptr))
                : std::string();
        result.ok = problem.empty();
        result.error = problem;
        return result;
    };
    for (int n = 1;; ++n) {
        const long left = static_cast<long>(MillisecondsLeft(deadline));
        if (left <= 0) {
            result.error = "Timed out after " + std::to_string(request.timeoutMs) + " ms";
            return result;
        }
        char errorBuffer[CURL_ERROR_SIZE] = {};
        Exchange exchange;
        exchange.keepBody = request.keepBody;
        exchange.verified = request.tls.verify;
        result.usedTls = result.usedTls || IsHttpsUrl(hop.url);
        const HeaderList headers = BuildHeaders(request, hop);
        // A handle of its own for each request, declared after everything it
        // points to so that it is cleaned up first. (Resetting one handle
        // between requests leaks the cookie file list in libcurl 7.88.)
        CurlHandle handle(curl_easy_init());
        if (!handle) {
            result.error = "Cannot create an HTTP client";
            return result;
        }
        CURL* h = handle.get();
        exchange.handle = h;
        Configure(h, request, hop, proxy, left, exchange, headers.get(), errorBuffer);

        const CURLcode rc = PerformOnThisThread(h);
        NoteHttpRequest(h, n, IsHttpsUrl(hop.url));
        result.requests = n;
        result.statusLine = exchange.statusLine;
        result.body = std::move(exchange.body);
        long code = 0;
        curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &code);
        result.statusCode = static_cast<int>(code);
        if (rc != CURLE_OK) {
            FailTransfer(rc, errorBuffer, exchange, result);
            return result;
        }
        if (exchange.notAfter && (!notAfter || *exchange.notAfter < *notAfter)) {
            notAfter = exchange.notAfter;
        }
        if (code >= 200 && code <= 299) {
            return passUnlessExpiring();
        }
        const char* location = nullptr;
        if (code >= 300 && code <= 399 && code != 304 &&
            curl_easy_getinfo(h, CURLINFO_REDIRECT_URL, &location) == CURLE_OK &&
            location != nullptr) {
            if (n >= request.maxRequests) {
                return passUnlessExpiring();  // the last allowed answer is itself a redirect
            }
            if (!FollowRedirect(h, code, location, first, hop, result)) {
                return result;
            }
            continue;
        }
        result.error = result.statusLine.empty()
                           ? "The server answered with status " + std::to_string(code)
                           : result.statusLine;
        return result;
    }
}

}  // namespace vantor::net
