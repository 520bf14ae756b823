// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

namespace vantor::registry {
class ServiceRecord;
}  // namespace vantor::registry

namespace vantor::engine {

// The target of a service as a prober would name it: the URL without its
// user info for URL services, the host for Ping, "host:port" otherwise
// ("[2001:db8::1]:25" for an IPv6 address). Never empty: the key stands in
// for a missing host.
std::string InstanceOf(std::string_view kind, std::string_view host, int port,
                       std::string_view key);

// How the metrics and the alerts name a service: its kind, its target as a
// prober names it and its schedule ("Minutely 5", "Hourly :30", "Daily
// 06:30"), read from the record.
struct ExportedName {
    std::string module;
    std::string instance;
    std::string schedule;
};
ExportedName ExportedNameOf(const registry::ServiceRecord& record);

}  // namespace vantor::engine
