// SPDX-License-Identifier: GPL-3.0-or-later
#include "registry/ServiceElements.h"

#include <array>

#include "app/Words.h"

namespace vantor::registry {

namespace {

using F = ServiceFields;
using R = UrlRequestFields;
using G = ElementGroup;
using E = Element;

constexpr unsigned kLogin = kKindUrl | kKindMail | kKindFtp;
constexpr unsigned kProxy = kKindUrl | kKindFtp;

constexpr ElementEntry Rec(E e, const char* name, std::string F::*field, unsigned neededBy = 0) {
    return {e, name, G::Record, field, nullptr, neededBy};
}
constexpr ElementEntry Opt(E e, const char* name, std::string F::*field) {
    return {e, name, G::Optional, field, nullptr, 0};
}
constexpr ElementEntry Url(E e, const char* name, std::string R::*field, bool needed = true) {
    return {e, name, G::UrlRequest, nullptr, field, needed ? kKindUrl : 0U};
}

// headerData came later than the other request values: a record without it
// is still checked.
constexpr std::array<ElementEntry, kElementCount> kTable{{
    Rec(E::Service, "service", &F::service, kKindsChecked),
    Rec(E::Ip, "ip", &F::ip, kKindsChecked),
    Rec(E::Port, "port", &F::port, kKindsChecked),
    Rec(E::Username, "username", &F::username, kLogin),
    Rec(E::Password, "password", &F::password, kLogin),
    Rec(E::ScheduleBy, "schedule_by", &F::scheduleBy),
    Rec(E::ScheduleHour, "schedule_hour", &F::scheduleHour),
    Rec(E::ScheduleMinute, "schedule_minute", &F::scheduleMinute),
    Rec(E::ServiceStatus, "service_status", &F::serviceStatus),
    Rec(E::Status, "status", &F::runState),
    Rec(E::ProxyIp, "proxy_ip", &F::proxyIp, kProxy),
    Rec(E::ProxyPort, "proxy_port", &F::proxyPort, kProxy),
    Rec(E::ProxyUsername, "proxy_username", &F::proxyUsername, kProxy),
    Rec(E::ProxyPassword, "proxy_password", &F::proxyPassword, kProxy),
    Rec(E::UrlMethod, "url_method", &F::urlMethod, kKindUrl),
    Rec(E::FtpProxyType, "ftp_proxytype", &F::ftpProxyType, kKindFtp),
    Rec(E::AlarmEmail, "alarm_email", &F::alarmEmail, kKindsChecked),
    Rec(E::AlarmSmpp, "alarm_smpp", &F::alarmSmpp, kKindsChecked),
    Rec(E::AlarmHttpSms, "alarm_httpsms", &F::alarmHttpSms, kKindsChecked),
    Rec(E::AlarmSyslog, "alarm_syslog", &F::alarmSyslog, kKindsChecked),
    Opt(E::Tls, "tls", &F::tls),
    Opt(E::TlsVerify, "tls_verify", &F::tlsVerify),
    Opt(E::Parent, "parent", &F::parent),
    Opt(E::AlarmOn, "alarm_on", &F::alarmOn),
    Opt(E::FailAfter, "fail_after", &F::failAfter),
    Opt(E::Recovery, "recovery", &F::recovery),
    Opt(E::RecoverAfter, "recover_after", &F::recoverAfter),
    Opt(E::RemindEvery, "remind_every", &F::remindEvery),
    Opt(E::FlapDetect, "flap_detect", &F::flapDetect),
    Opt(E::SlowAfterMs, "slow_after_ms", &F::slowAfterMs),
    Opt(E::FailAfterMs, "fail_after_ms", &F::failAfterMs),
    Opt(E::Maintenance, "maintenance", &F::maintenance),
    Url(E::Referer, "referer", &R::referer),
    Url(E::Cookie, "cookie", &R::cookie),
    Url(E::HeaderData, "headerData", &R::headerData, false),
    Url(E::UserAgent, "userAgent", &R::userAgent),
    Url(E::ContentType, "contentType", &R::contentType),
    Url(E::Accept, "accept", &R::accept),
    Url(E::AcceptCharSet, "acceptCharSet", &R::acceptCharSet),
    Url(E::AcceptEncoding, "acceptEncoding", &R::acceptEncoding),
    Url(E::AcceptLanguage, "acceptLanguage", &R::acceptLanguage),
}};

constexpr bool InEnumOrder() {
    for (std::size_t i = 0; i < kTable.size(); ++i) {
        if (static_cast<std::size_t>(kTable[i].element) != i) {
            return false;
        }
    }
    return true;
}
static_assert(InEnumOrder(), "the element table follows the enum");

}  // namespace

unsigned KindBit(std::string_view service) {
    using namespace words;
    static constexpr std::pair<std::string_view, unsigned> kKinds[] = {
        {kUrl, kKindUrl},   {kPing, kKindPing}, {kSmtp, kKindSmtp},
        {kPop3, kKindPop3}, {kImap, kKindImap}, {kFtp, kKindFtp}};
    for (const auto& [word, bit] : kKinds) {
        if (service == word) {
            return bit;
        }
    }
    return 0;
}

std::span<const ElementEntry> Elements() {
    return kTable;
}

const ElementEntry& EntryOf(Element element) {
    return kTable[static_cast<std::size_t>(element)];
}

std::string& FieldOf(ServiceFields& fields, Element element) {
    const ElementEntry& entry = EntryOf(element);
    return entry.group == ElementGroup::UrlRequest ? fields.request.*entry.request
                                                   : fields.*entry.field;
}

const std::string& FieldOf(const ServiceFields& fields, Element element) {
    return FieldOf(const_cast<ServiceFields&>(fields), element);
}

}  // namespace vantor::registry
