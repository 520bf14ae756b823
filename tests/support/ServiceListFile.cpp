// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/ServiceListFile.h"

namespace vantor::test {

namespace {

std::string XmlEscaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string Element(const std::string& name, const std::string& value) {
    return "<" + name + ">" + XmlEscaped(value) + "</" + name + ">";
}

}  // namespace

std::string ServiceListXml(const std::vector<ServiceEntry>& entries) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?><!DOCTYPE service>"
        "<serviceList>\n";
    for (const ServiceEntry& s : entries) {
        xml += "  <record key=\"" + XmlEscaped(s.key()) + "\">";
        xml += Element("service", s.service) + Element("ip", s.ip) + Element("port", s.port);
        xml += Element("username", s.username) + Element("password", s.password);
        xml += Element("schedule_by", s.scheduleBy) + Element("schedule_hour", s.scheduleHour) +
               Element("schedule_minute", s.scheduleMinute);
        xml += Element("service_status", s.serviceStatus) + Element("status", s.status);
        xml += Element("proxy_ip", "") + Element("proxy_port", "0") +
               Element("proxy_username", "") + Element("proxy_password", "");
        xml += Element("url_method", s.urlMethod) + Element("ftp_proxytype", "");
        xml += Element("alarm_email", s.alarmEmail) + Element("alarm_smpp", s.alarmSmpp) +
               Element("alarm_httpsms", s.alarmHttpSms) + Element("alarm_syslog", s.alarmSyslog);
        xml += s.optional;
        if (s.service == "URL") {
            xml += "<service_url>" + Element("referer", "") + Element("cookie", s.cookie) +
                   Element("headerData", "") + Element("userAgent", s.userAgent) +
                   Element("contentType", "") + Element("accept", s.accept) +
                   Element("acceptCharSet", s.acceptCharSet) + Element("acceptEncoding", "") +
                   Element("acceptLanguage", s.acceptLanguage) + "</service_url>";
        }
        xml += "</record>\n";
    }
    xml += "</serviceList>\n";
    return xml;
}

}  // namespace vantor::test
