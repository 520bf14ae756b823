// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>

#include <string>
#include <vector>

#include "alarm/SenderWorkItem.h"
#include "net/HttpClient.h"

namespace vantor::app {
struct AppSettings;
}

namespace vantor::alarm {

struct HttpSmsSettings {
    std::string url;
    int port = 80;
    std::string method = "Get";  // exactly "Get" sends GET, anything else POST
    bool authenticate = false;
    std::string username;
    std::string password;
    std::string proxyServer;
    int proxyPort = 0;
    std::string proxyUsername;
    std::string proxyPassword;
    std::string msisdnFieldName;
    std::string msisdnFieldValue;
    std::string messageFieldName;
    std::string extraField1Name;
    std::string extraField1Value;
    std::string extraField2Name;
    std::string extraField2Value;
    int timeoutMs = 5000;  // 0 or below means 5000
};

// The "HTTP-SMS Alarm" section as the sender takes it.
HttpSmsSettings HttpSmsSettingsFrom(const app::AppSettings& settings);

// The GET URL: every "$MSISDN" replaced by the form-encoded number, then
// every "$MESSAGE" by the form-encoded text.
std::string HttpSmsGetUrl(const std::string& urlTemplate, const std::string& number,
                          const std::string& text);
// The POST fields, in order: number, text, and each extra pair whose name
// and value are both set.
std::vector<std::pair<std::string, std::string>> HttpSmsPostFields(const HttpSmsSettings& s,
                                                                   const std::string& number,
                                                                   const std::string& text);

// Sends the alarm to an HTTP SMS gateway with one GET or form POST (and the
// redirects it asks for). Reports the last HTTP status code.
class ThreadURL final : public SenderWorkItem {
public:
    ThreadURL(const HttpSmsSettings& settings, const std::string& number, const std::string& text);
    // The alarm options window's trial: the URL gets "http://" in front
    // unless it starts with "http://" or "https://", the client names itself with its own
    // User-Agent and Accept, a "Post" sends all four fields whatever they
    // hold, and the answer's body is kept to be shown.
    static std::unique_ptr<ThreadURL> Trial(HttpSmsSettings settings, const std::string& number,
                                            const std::string& text);
    // The start of the gateway's answer (trials only).
    const std::string& responseBody() const { return m_body; }

    std::string_view methodWord() const override { return kMethodHttpSms; }
    std::string failureLogLine() const override;
    const net::HttpRequest& httpRequest() const { return m_request; }

protected:
    Status send() override;
    std::string_view logName() const override { return "HTTP-SMS"; }
    std::string errorDetail(const std::string& error) const override;
    std::string sentDetail() const override;

private:
    std::string shownPrefix() const;

    net::HttpRequest m_request;
    std::string m_statusLine;
    std::string m_body;
};

}  // namespace vantor::alarm
