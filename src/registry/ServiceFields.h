// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantor::registry {

// The elements of a record, in the order a new record is written: the
// twenty of every record, the TLS pair that follows them only where it
// differs from its default, and the nine of the URL request group. Their
// names, and which kinds read them, are in the element table
// (ServiceElements.h).
enum class Element : std::uint8_t {
    Service,
    Ip,
    Port,
    Username,
    Password,
    ScheduleBy,
    ScheduleHour,
    ScheduleMinute,
    ServiceStatus,
    Status,  // the run state, "Start" or "Stop"
    ProxyIp,
    ProxyPort,
    ProxyUsername,
    ProxyPassword,
    UrlMethod,
    FtpProxyType,
    AlarmEmail,
    AlarmSmpp,
    AlarmHttpSms,
    AlarmSyslog,
    Tls,
    TlsVerify,
    Parent,
    AlarmOn,
    FailAfter,
    Recovery,
    RecoverAfter,
    RemindEvery,
    FlapDetect,
    SlowAfterMs,
    FailAfterMs,
    Maintenance,
    Referer,
    Cookie,
    HeaderData,
    UserAgent,
    ContentType,
    Accept,
    AcceptCharSet,
    AcceptEncoding,
    AcceptLanguage,
    Count
};

constexpr std::size_t kElementCount = static_cast<std::size_t>(Element::Count);
using ElementSet = std::bitset<kElementCount>;

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

// One service as text, as the editors supply it and as a record holds it.
// An insert or an update writes the twenty elements, the TLS pair where the
// record has it or it differs from its default, and for a URL service the
// request group and the extra fields.
struct ServiceFields {
    std::string service;
    std::string ip;
    std::string port;
    std::string username;
    std::string password;
    std::string scheduleBy;
    std::string scheduleHour;
    std::string scheduleMinute;
    std::string serviceStatus;       // read only: every write stores "Unknown"
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
    std::string tls;              // "", "starttls" or "implicit" (mail, FTP)
    std::string tlsVerify = "y";  // "n" accepts any certificate
    // The key of the service this one depends on: while that one is down,
    // this one's failures are Unreachable and raise no alarm.
    std::string parent;
    // The service's own alarm policy, each empty where it follows the one
    // for all: alarm_on "EveryFailure"/"OnChange", fail_after,
    // recovery "y"/"n", recover_after, remind_every (minutes),
    // flap_detect "y"/"n", slow_after_ms, fail_after_ms, and maintenance
    // windows of its own.
    std::string alarmOn;
    std::string failAfter;
    std::string recovery;
    std::string recoverAfter;
    std::string remindEvery;
    std::string flapDetect;
    std::string slowAfterMs;
    std::string failAfterMs;
    std::string maintenance;
    UrlRequestFields request;
    std::vector<ExtraField> extraFields;

    // Read from a record: its key, and the elements it had. One it lacks
    // reads as empty, but for tls and tls_verify, which keep the defaults
    // above.
    std::string key;
    ElementSet present;
    bool has(Element element) const { return present.test(static_cast<std::size_t>(element)); }
};

// service + ":" + ip + ":" + port. A key is only ever compared whole: a URL
// holds ":" itself.
std::string MakeServiceKey(std::string_view service, std::string_view ip, std::string_view port);
inline std::string KeyOf(const ServiceFields& f) {
    return MakeServiceKey(f.service, f.ip, f.port);
}

}  // namespace vantor::registry
