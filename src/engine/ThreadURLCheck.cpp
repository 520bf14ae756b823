// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/ThreadURLCheck.h"

#include <cctype>

#include "net/TextProtocol.h"

namespace vantor::engine {

std::string HttpMethodFor(const std::string& storedMethod) {
    static const std::pair<const char*, const char*> kMethods[] = {
        {"Get", "GET"},       {"Post", "POST"}, {"Trace", "TRACE"},     {"Put", "PUT"},
        {"Delete", "DELETE"}, {"Head", "HEAD"}, {"Options", "OPTIONS"},
    };
    for (const auto& [stored, method] : kMethods) {
        if (storedMethod == stored) {
            return method;
        }
    }
    return "HEAD";
}

std::string FormBody(const std::vector<std::string>& postFields) {
    std::string body;
    for (const std::string& line : postFields) {
        if (!body.empty()) {
            body += '&';
        }
        const auto eq = line.find('=');
        if (eq == std::string::npos) {
            body += net::FormEncode(line) + "=";
        } else {
            body +=
                net::FormEncode(line.substr(0, eq)) + "=" + net::FormEncode(line.substr(eq + 1));
        }
    }
    return body;
}

std::string RequestBody(const std::vector<std::string>& postFields) {
    std::string body;
    for (const std::string& line : postFields) {
        body += line;
        body += "\r\n";
    }
    return body;
}

namespace {

bool IsTokenChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) ||
           std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

// The "Name: value" lines of the header info; anything else is dropped.
std::vector<std::pair<std::string, std::string>> HeaderLines(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> out;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string line = text.substr(start, end - start);
        const auto colon = line.find(':');
        if (colon != std::string::npos && colon > 0) {
            const std::string name = line.substr(0, colon);
            const std::string value = net::Trim(line.substr(colon + 1));
            bool token = true;
            for (char c : name) {
                token = token && IsTokenChar(c);
            }
            // Headers that frame the request stay the client's own.
            std::string lower = name;
            for (char& c : lower) {
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            }
            const bool framing = lower == "host" || lower == "content-length" ||
                                 lower == "transfer-encoding" || lower == "connection" ||
                                 lower == "expect";
            if (token && !framing && !value.empty()) {
                out.emplace_back(name, value);
            }
        }
        start = end + 1;
    }
    return out;
}

}  // namespace

ThreadURLCheck::ThreadURLCheck(const CheckSettings& settings, const UrlCheckRequest& r)
    : CheckWorkItem(words::kUrl, settings) {
    m_request.url = settings.host;
    // The request uses the URL as it stands; the result shows it without
    // its password.
    m_result.host = net::UrlForDisplay(settings.host);
    m_request.defaultPort = net::HttpDefaultPort(settings.host, settings.port);
    m_request.tls = m_tls;
    m_request.method = HttpMethodFor(r.method);
    m_request.timeoutMs = timeoutMs();
    m_request.username = r.username;
    m_request.password = r.password;
    m_request.proxyHost = r.proxyHost;
    m_request.proxyPort = r.proxyPort;
    m_request.proxyUsername = r.proxyUsername;
    m_request.proxyPassword = r.proxyPassword;
    m_request.cookie = r.cookie;
    m_request.headers = {
        {"Referer", r.referer},
        {"User-Agent", r.userAgent},
        {"Accept", r.accept},
        {"Accept-Charset", r.acceptCharSet},
        {"Accept-Encoding", r.acceptEncoding},
        {"Accept-Language", r.acceptLanguage},
    };
    // Header info may carry a token or an API key: for the first server only.
    m_request.privateHeaders = HeaderLines(r.headerData);
    if (m_request.method == "POST") {
        m_request.body = FormBody(r.postFields);
        std::string lower = r.contentType;
        for (char& c : lower) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        m_request.contentType = (r.contentType.empty() || lower == "text/html")
                                    ? "application/x-www-form-urlencoded"
                                    : r.contentType;
    } else {
        if (m_request.method == "PUT") {
            m_request.body = RequestBody(r.postFields);
        }
        // Sent with every method, body or not.
        m_request.contentType = r.contentType;
    }

    // A value that would break its header line is refused, not sent.
    const std::pair<const char*, const std::string*> lineValues[] = {
        {"URL", &settings.host},
        {"Cookie", &r.cookie},
        {"Referer", &r.referer},
        {"User-Agent", &r.userAgent},
        {"Content-Type", &r.contentType},
        {"Accept", &r.accept},
        {"Accept-Charset", &r.acceptCharSet},
        {"Accept-Encoding", &r.acceptEncoding},
        {"Accept-Language", &r.acceptLanguage},
        {"proxy host", &r.proxyHost},
    };
    for (const auto& [name, value] : lineValues) {
        if (net::HasLineBreak(*value)) {
            m_refused = std::string("The ") + name + " value holds a line break; nothing was sent";
            break;
        }
    }
}

Status ThreadURLCheck::exchange(net::Deadline) {
    if (!m_refused.empty()) {
        return Error{m_refused};
    }
    const net::HttpResult outcome = net::PerformHttp(m_request);
    m_statusLine = outcome.statusLine;
    m_unverifiedTls = outcome.usedTls && !m_request.tls.verify;
    if (outcome.ok) {
        return {};
    }
    return Error{outcome.error};
}

std::string ThreadURLCheck::passedDetail() const {
    return prefix() + m_statusLine + (m_unverifiedTls ? " (certificate not verified)" : "");
}

std::string ThreadURLCheck::failedDetail(const std::string& error) const {
    return prefix() + m_statusLine + ":" + net::Trim(error) +
           (m_unverifiedTls ? " (certificate not verified)" : "");
}

}  // namespace vantor::engine
