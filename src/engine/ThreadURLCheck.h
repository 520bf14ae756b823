// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

#include "engine/CheckWorkItem.h"
#include "net/HttpClient.h"

namespace vantor::engine {

// The request details of a URL service, as stored with the record.
struct UrlCheckRequest {
    std::string method;  // "Get", "Post", "Trace", "Put", "Delete", "Head", "Options"
    std::string username;
    std::string password;
    std::string proxyHost;
    int proxyPort = 0;
    std::string proxyUsername;
    std::string proxyPassword;
    std::string cookie;
    std::string referer;
    std::string headerData;  // "Name: value" lines sent as extra headers
    std::string userAgent;
    std::string contentType;
    std::string accept;
    std::string acceptCharSet;
    std::string acceptEncoding;
    std::string acceptLanguage;
    // One "name=value" line per extra field, in list order.
    std::vector<std::string> postFields;
};

using net::CompleteUrl;
// The request line's method for a stored method name; unknown or wrongly
// cased names give HEAD.
std::string HttpMethodFor(const std::string& storedMethod);
// The POST body: the lines joined with "&", names and values form-encoded.
std::string FormBody(const std::vector<std::string>& postFields);
// The PUT body: each line followed by CR LF.
std::string RequestBody(const std::vector<std::string>& postFields);

// Checks a web service with one HTTP request (and the redirects it asks
// for). Passes on a 2xx answer, or when the fifth answer is again a
// redirect; the detail is "[" URL ":" port "] " + the status line, and on
// failure ":" + the error text after it. Over https without verification
// the detail ends with " (certificate not verified)".
class ThreadURLCheck final : public CheckWorkItem {
public:
    // settings.host holds the completed URL.
    ThreadURLCheck(const CheckSettings& settings, const UrlCheckRequest& request);

    const net::HttpRequest& httpRequest() const { return m_request; }

protected:
    Status exchange(net::Deadline deadline) override;
    std::string passedDetail() const override;
    std::string failedDetail(const std::string& error) const override;

private:
    net::HttpRequest m_request;
    std::string m_refused;  // set up failed: why
    std::string m_statusLine;
    bool m_unverifiedTls = false;
};

}  // namespace vantor::engine
