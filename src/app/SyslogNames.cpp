// SPDX-License-Identifier: GPL-3.0-or-later
#include <array>

#include "app/AppSettings.h"

namespace vantor::app {

namespace {

constexpr std::array<std::string_view, 24> kFacilities = {
    "Kernel",
    "User Level",
    "Mail System",
    "System Daemon",
    "Security One",
    "Syslogd",
    "LPR",
    "NNTP",
    "UUCP",
    "Clock Daemon One",
    "Security Two",
    "FTP Daemon",
    "NTP",
    "Log Audit",
    "Log Alert",
    "Clock Daemon Two",
    "Local Use Zero",
    "Local Use One",
    "Local Use Two",
    "Local Use Three",
    "Local Use Four",
    "Local Use Five",
    "Local Use Six",
    "Local Use Seven",
};

constexpr std::array<std::string_view, 8> kSeverities = {
    "Emergency", "Alert", "Critical", "Error", "Warning", "Notice", "Informational", "Debug",
};

template <std::size_t N>
int IndexOf(const std::array<std::string_view, N>& names, std::string_view name) {
    for (std::size_t i = 0; i < N; ++i) {
        if (names[i] == name) {
            return static_cast<int>(i);
        }
    }
    return 0;
}

template <std::size_t N>
std::string_view NameAt(const std::array<std::string_view, N>& names, int number) {
    if (number < 0 || static_cast<std::size_t>(number) >= N) {
        return {};
    }
    return names[static_cast<std::size_t>(number)];
}

}  // namespace

int FacilityFromName(std::string_view name) {
    return IndexOf(kFacilities, name);
}
std::string_view FacilityName(int number) {
    return NameAt(kFacilities, number);
}
int SeverityFromName(std::string_view name) {
    return IndexOf(kSeverities, name);
}
std::string_view SeverityName(int number) {
    return NameAt(kSeverities, number);
}

}  // namespace vantor::app
