#pragma once

#include <optional>
#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace vantor::registry {

// The values that an insert or an update writes into elements 1 to 20 of a
// record; every value is text, as the dialogs supply it.
struct ServiceFields {
    std::string service;
    std::string ip;
    std::string port;
    std::string username;
    std::string password;
    std::string scheduleBy;
    std::string scheduleHour;
    std::string scheduleMinute;
    std::string runState = "Start";  // written by updates only; inserts write "Start"
    std::string proxyIp;
    std::string proxyPort;
    std::string proxyUsername;
    std::string proxyPassword;
    std::string urlMethod;
    std::string ftpProxyType;
    std::string alarmEmail = "n";
    std::string alarmSmpp = "n";
    std::string alarmHttpSms = "n";
    std::string alarmSyslog = "n";
    // Written after element 20, and only when the record has the element or
    // the value is not the default, so that older records save as they were.
    std::string tls;              // "tls": "", "starttls" or "implicit" (mail, FTP)
    std::string tlsVerify = "y";  // "tls_verify": "n" accepts any certificate
};

// The nine HTTP request values of a URL record (the service_url group).
struct UrlRequestFields {
    std::string referer;
    std::string cookie;
    std::string headerData;
    std::string userAgent;
    std::string contentType;
    std::string accept;
    std::string acceptCharSet;
    std::string acceptEncoding;
    std::string acceptLanguage;
};

struct ExtraField {
    std::string name;
    std::string value;
    bool operator==(const ExtraField&) const = default;
};

// service + ":" + ip + ":" + port. A key is only ever compared whole: a URL
// holds ":" itself.
std::string MakeServiceKey(std::string_view service, std::string_view ip, std::string_view port);

// A read-only view of one record of the store. Valid until the store's
// document next changes.
class ServiceRecord final {
public:
    explicit ServiceRecord(pugi::xml_node node) : m_node(node) {}

    std::string_view key() const;
    // The text of a child element; nullopt when the record lacks it.
    std::optional<std::string_view> find(std::string_view element) const;
    // Several child elements in one pass: values[i] is the text of the first
    // element named names[i], or nullopt.
    void findAll(const std::string_view* names, std::optional<std::string_view>* values,
                 std::size_t count) const;
    // The text of a child element; empty when the record lacks it.
    std::string_view text(std::string_view element) const;
    // A child of the service_url group; nullopt when the group or the child
    // is missing.
    std::optional<std::string_view> findUrlField(std::string_view element) const;
    // The service_url_detail children, in document order.
    std::vector<ExtraField> extraFields() const;
    // The "tls" and "tls_verify" elements into f; an element the record
    // lacks (every record from before TLS) leaves the default: no TLS, the
    // certificate verified.
    void readTls(ServiceFields& f) const;

private:
    pugi::xml_node m_node;
};

}  // namespace vantor::registry
