// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/RunCheck.h"

#include <gtest/gtest.h>

#include "app/EventLoop.h"
#include "pool/ThreadPoolManager.h"

namespace vantor::test {

std::vector<engine::CheckResult> RunChecks(
    std::vector<std::unique_ptr<engine::CheckWorkItem>> items, std::chrono::milliseconds timeout,
    int maxPooled) {
    app::EventLoop loop;
    pool::ThreadPoolManager pool(loop);
    pool.setMaxPooled(maxPooled);
    std::vector<engine::CheckResult> results;
    const std::size_t count = items.size();
    for (auto& item : items) {
        pool.QueueWorkItem<engine::CheckWorkItem>(
            std::move(item), [&](engine::CheckWorkItem& done) {
                EXPECT_EQ(done.status(), pool::WorkItemStatus::Completed) << done.statusMessage();
                results.push_back(done.result());
            });
    }
    EXPECT_TRUE(loop.runUntil([&] { return results.size() == count; }, timeout))
        << "checks did not complete in time";
    return results;
}

engine::CheckResult RunCheck(std::unique_ptr<engine::CheckWorkItem> item,
                             std::chrono::milliseconds timeout) {
    std::vector<std::unique_ptr<engine::CheckWorkItem>> items;
    items.push_back(std::move(item));
    auto results = RunChecks(std::move(items), timeout);
    return results.empty() ? engine::CheckResult{} : results.front();
}

}  // namespace vantor::test
