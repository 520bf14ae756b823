// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string_view>

namespace vantor::app {

// Severity of a system log line. "Warming" is the program's own spelling of
// the warning level and appears as such in the log tag.
enum class LogLevel : int {
    None = 0,
    Debug = 1,
    Info = 2,
    Notice = 3,
    Warming = 4,
    Error = 5,
    Critical = 6,
    Alert = 7,
    Emergency = 8,
};

enum class MessageBoxKind { Information, Warning, Error };

// "Information", "Warning" or "Error": how a box kind is named on a console.
std::string_view MessageBoxKindName(MessageBoxKind kind);

}  // namespace vantor::app
