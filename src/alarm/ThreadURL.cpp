// SPDX-License-Identifier: GPL-3.0-or-later
#include "alarm/ThreadURL.h"

#include <algorithm>
#include <cctype>

#include "app/AppSettings.h"
#include "net/TextProtocol.h"

namespace vantor::alarm {

namespace {

void ReplaceAll(std::string& text, const std::string& what, const std::string& with) {
    for (std::size_t at = text.find(what); at != std::string::npos;
         at = text.find(what, at + with.size())) {
        text.replace(at, what.size(), with);
    }
}

}  // namespace

HttpSmsSettings HttpSmsSettingsFrom(const app::AppSettings& s) {
    return HttpSmsSettings{.url = s.httpSmsUrl,
                           .port = s.httpSmsPort,
                           .method = s.httpSmsMethod,
                           .authenticate = s.httpSmsAuthEnable,
                           .username = s.httpSmsUsername,
                           .password = s.httpSmsPassword,
                           .proxyServer = s.httpSmsProxyServer,
                           .proxyPort = s.httpSmsProxyPort,
                           .proxyUsername = s.httpSmsProxyUsername,
                           .proxyPassword = s.httpSmsProxyPassword,
                           .msisdnFieldName = s.httpSmsMsisdnFieldName,
                           .msisdnFieldValue = s.httpSmsMsisdnFieldValue,
                           .messageFieldName = s.httpSmsMessageFieldName,
                           .extraField1Name = s.httpSmsExtraField1Name,
                           .extraField1Value = s.httpSmsExtraField1Value,
                           .extraField2Name = s.httpSmsExtraField2Name,
                           .extraField2Value = s.httpSmsExtraField2Value,
                           .timeoutMs = s.httpSmsTimeout};
}

std::string HttpSmsGetUrl(const std::string& urlTemplate, const std::string& number,
                          const std::string& text) {
    std::string url = urlTemplate;
    ReplaceAll(url, "$MSISDN", net::Trim(net::FormEncode(number)));
    ReplaceAll(url, "$MESSAGE", net::Trim(net::FormEncode(text)));
    return url;
}

std::vector<std::pair<std::string, std::string>> HttpSmsPostFields(const HttpSmsSettings& s,
                                                                   const std::string& number,
                                                                   const std::string& text) {
    std::vector<std::pair<std::string, std::string>> fields = {{s.msisdnFieldName, number},
                                                               {s.messageFieldName, text}};
    if (!s.extraField1Name.empty() && !s.extraField1Value.empty()) {
        fields.emplace_back(s.extraField1Name, s.extraField1Value);
    }
    if (!s.extraField2Name.empty() && !s.extraField2Value.empty()) {
        fields.emplace_back(s.extraField2Name, s.extraField2Value);
    }
    return fields;
}

ThreadURL::ThreadURL(const HttpSmsSettings& s, const std::string& number, const std::string& text)
    : SenderWorkItem("", s.port) {
    const bool get = s.method == "Get";
    m_request.url = get ? HttpSmsGetUrl(s.url, number, text) : s.url;
    m_request.defaultPort = net::HttpDefaultPort(m_request.url, s.port);
    m_request.method = get ? "GET" : "POST";
    m_request.timeoutMs = s.timeoutMs > 0 ? s.timeoutMs : 5000;
    m_request.headers = {{"User-Agent", "html"}};
    if (s.authenticate) {
        m_request.username = s.username;
        m_request.password = s.password;
    }
    m_request.proxyHost = s.proxyServer;
    m_request.proxyPort = s.proxyPort;
    m_request.proxyUsername = s.proxyUsername;
    m_request.proxyPassword = s.proxyPassword;
    if (!get) {
        // Names go as they are; values are form-encoded.
        for (const auto& [name, value] : HttpSmsPostFields(s, number, text)) {
            if (!m_request.body.empty()) {
                m_request.body += '&';
            }
            m_request.body += name + "=" + net::FormEncode(value);
        }
        m_request.contentType = "application/x-www-form-urlencoded";
    }
}

std::unique_ptr<ThreadURL> ThreadURL::Trial(HttpSmsSettings s, const std::string& number,
                                            const std::string& text) {
    s.url = net::CompleteUrl(s.url);
    auto trial = std::make_unique<ThreadURL>(s, number, text);
    net::HttpRequest& r = trial->m_request;
    r.headers = {{"User-Agent", "Mozilla/3.0 (compatible; Indy Library)"},
                 {"Accept", "text/html, */*"}};
    if (s.method != "Get") {
        r.body.clear();
        const std::pair<const std::string&, const std::string&> fields[] = {
            {s.msisdnFieldName, number},
            {s.messageFieldName, text},
            {s.extraField1Name, s.extraField1Value},
            {s.extraField2Name, s.extraField2Value}};
        for (const auto& [name, value] : fields) {
            r.body += (r.body.empty() ? "" : "&") + name + "=" + net::FormEncode(value);
        }
    }
    r.keepBody = 64 * 1024;
    return trial;
}

Status ThreadURL::send() {
    if (net::HasLineBreak(m_request.url)) {
        return Error{"The gateway URL holds a line break; nothing was sent"};
    }
    net::HttpResult outcome = net::PerformHttp(m_request);
    m_statusLine = outcome.statusLine;
    m_body = std::move(outcome.body);
    if (outcome.port > 0) {
        setPort(outcome.port);
    }
    m_result.responseCode = outcome.statusCode > 0 ? outcome.statusCode : -1;
    if (!outcome.ok) {
        return Error{outcome.error};
    }
    if (outcome.statusCode <= 0) {
        return Error{"The gateway's answer carried no status code"};
    }
    return {};
}

std::string ThreadURL::shownPrefix() const {
    // The query carries the number, the text and often the gateway's own
    // password: the detail, and the log line made of it, name the URL
    // without it.
    return "[" + net::UrlWithoutQuery(net::UrlForDisplay(m_request.url)) + ":" +
           std::to_string(port()) + "] ";
}

std::string ThreadURL::sentDetail() const {
    return shownPrefix() + m_statusLine;
}

std::string ThreadURL::errorDetail(const std::string& error) const {
    return shownPrefix() + m_statusLine + ":" + net::Trim(error);
}

std::string ThreadURL::failureLogLine() const {
    return "Alarming Message - HTTP-SMS : Response code=" + std::to_string(m_result.responseCode) +
           " " + m_result.detail;
}

}  // namespace vantor::alarm
