#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "engine/CheckResult.h"

namespace vantor::interop {

// The settings of a scheduled check. The time limit is above the 5 s default:
// the servers share two cores with the sanitizer builds.
inline engine::CheckSettings Settings(const std::string& host, int port) {
    engine::CheckSettings settings;
    settings.serviceKey = "42";
    settings.host = host;
    settings.port = port;
    settings.timeoutMs = 15000;
    return settings;
}

// "[" host ":" port "] ", how every detail text starts.
inline std::string Prefix(const std::string& host, int port) {
    return "[" + host + ":" + std::to_string(port) + "] ";
}

// Servers write their logs a moment after they answer: the text is looked
// for until it shows or the time is up.
inline bool EventuallyContains(const std::function<std::string()>& read, const std::string& text,
                               std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (read().find(text) != std::string::npos) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace vantor::interop
