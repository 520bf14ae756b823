// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

namespace vantor::test {

// One record of service.xml, every element as text.
struct ServiceEntry {
    std::string service = "URL";
    std::string ip;
    std::string port;
    std::string username;
    std::string password;
    std::string scheduleBy = "Daily";
    std::string scheduleHour = "00";
    std::string scheduleMinute = "00";
    std::string serviceStatus = "Unknown";
    std::string status = "Start";
    std::string urlMethod = "Get";
    std::string alarmEmail = "n";
    std::string alarmSmpp = "n";
    std::string alarmHttpSms = "n";
    std::string alarmSyslog = "n";
    // The request group of a URL record.
    std::string cookie;
    std::string userAgent = "VantorLite-test";
    std::string accept = "text/html";
    std::string acceptCharSet;
    std::string acceptLanguage;
    // Optional elements of the record, as XML (a parent, its own policy).
    std::string optional;

    std::string key() const { return service + ":" + ip + ":" + port; }
};

// The text of a service.xml holding these records, in the layout the store
// writes.
std::string ServiceListXml(const std::vector<ServiceEntry>& entries);

}  // namespace vantor::test
