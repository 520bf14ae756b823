// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstdio>
#include <string>

#include "headless/ConsoleReporter.h"

#include "app/DetailText.h"

namespace vantor::headless {

ConsoleReporter::ConsoleReporter(std::function<void()> onTerminate)
    : m_onTerminate(std::move(onTerminate)) {}

void ConsoleReporter::showBox(app::MessageBoxKind kind, std::string_view text) {
    std::string line(MessageBoxKindName(kind));
    line += ": ";
    // One line of bounded length, whatever values of records the text holds.
    line += app::OneLine(text, app::kLineMaxBytes);
    line += '\n';
    std::lock_guard lock(m_mutex);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

void ConsoleReporter::requestTerminate() {
    if (m_terminate.exchange(true)) {
        return;
    }
    std::function<void()> onTerminate;
    {
        std::lock_guard lock(m_mutex);
        onTerminate = m_onTerminate;
    }
    if (onTerminate) {
        onTerminate();
    }
}

void ConsoleReporter::setOnTerminate(std::function<void()> onTerminate) {
    std::lock_guard lock(m_mutex);
    m_onTerminate = std::move(onTerminate);
}

}  // namespace vantor::headless
