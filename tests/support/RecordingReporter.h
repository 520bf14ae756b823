// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "app/Reporter.h"

namespace vantor::test {

// Keeps every box instead of showing it, as "Kind: text".
class RecordingReporter final : public app::Reporter {
public:
    void showBox(app::MessageBoxKind kind, std::string_view text) override {
        std::lock_guard lock(m_mutex);
        m_boxes.push_back(std::string(app::MessageBoxKindName(kind)) + ": " + std::string(text));
    }
    void requestTerminate() override { m_terminate = true; }
    bool terminateRequested() const override { return m_terminate; }

    std::vector<std::string> boxes() const {
        std::lock_guard lock(m_mutex);
        return m_boxes;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_boxes;
    std::atomic<bool> m_terminate{false};
};

}  // namespace vantor::test
