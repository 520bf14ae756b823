// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <thread>

#include "app/EventLoop.h"

namespace vantor::app {
namespace {

using namespace std::chrono_literals;

TEST(EventLoop, PostedTasksRunInOrderOnTheLoopThread) {
    EventLoop loop;
    std::vector<int> order;
    std::thread::id ranOn;
    std::thread poster([&] {
        for (int i = 0; i < 100; ++i) {
            loop.post([&order, i] { order.push_back(i); });
        }
        loop.post([&] { ranOn = std::this_thread::get_id(); });
    });
    poster.join();
    ASSERT_TRUE(loop.runUntil([&] { return ranOn != std::thread::id(); }, 5s));
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
    }
}

TEST(EventLoop, RunUntilStopsAtTheTaskThatMadeItTrue) {
    EventLoop loop;
    int ran = 0;
    for (int i = 0; i < 5; ++i) {
        loop.post([&] { ++ran; });
    }
    ASSERT_TRUE(loop.runUntil([&] { return ran == 2; }, 5s));
    EXPECT_EQ(ran, 2);
}

TEST(EventLoop, QuitEndsRunAfterTheCurrentTaskWithItsCode) {
    EventLoop loop;
    int after = 0;
    loop.post([&] { loop.quit(3); });
    loop.post([&] { ++after; });
    EXPECT_EQ(loop.run(), 3);
    EXPECT_EQ(after, 0);
}

TEST(EventLoop, TimersFireAfterTheirDelayAndCanBeCancelled) {
    EventLoop loop;
    bool fired = false;
    bool cancelledFired = false;
    const auto start = std::chrono::steady_clock::now();
    const auto cancelled = loop.postDelayed(20ms, [&] { cancelledFired = true; });
    loop.postDelayed(50ms, [&] { fired = true; });
    loop.cancelTimer(cancelled);
    ASSERT_TRUE(loop.runUntil([&] { return fired; }, 5s));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);
    EXPECT_FALSE(cancelledFired);
    EXPECT_FALSE(loop.runUntil([] { return false; }, 30ms)) << "times out when nothing is done";
}

}  // namespace
}  // namespace vantor::app
