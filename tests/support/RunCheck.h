// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <memory>
#include <vector>

#include "engine/CheckResult.h"
#include "engine/CheckWorkItem.h"

namespace vantor::test {

// Runs checks on a real pool of at most `maxPooled` threads and returns
// their results as the completion handler saw them, in completion order.
std::vector<engine::CheckResult> RunChecks(
    std::vector<std::unique_ptr<engine::CheckWorkItem>> items,
    std::chrono::milliseconds timeout = std::chrono::seconds(60), int maxPooled = 200);
engine::CheckResult RunCheck(std::unique_ptr<engine::CheckWorkItem> item,
                             std::chrono::milliseconds timeout = std::chrono::seconds(60));

}  // namespace vantor::test
