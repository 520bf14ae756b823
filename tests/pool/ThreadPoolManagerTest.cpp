// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <thread>

#include "app/EventLoop.h"
#include "pool/ThreadPoolManager.h"
#include "support/Gate.h"
#include "support/MockClock.h"

namespace vantor::pool {
namespace {

using namespace std::chrono_literals;

using test::Gate;

class TestItem final : public WorkItem {
public:
    TestItem(int tag, Gate* gate, std::atomic<int>& runs, std::atomic<int>& destroyed,
             bool throws = false)
        : tag(tag), m_gate(gate), m_runs(runs), m_destroyed(destroyed), m_throws(throws) {}
    ~TestItem() override { ++m_destroyed; }

    const int tag;
    bool ran = false;

protected:
    void Execute() override {
        ran = true;
        ++m_runs;
        if (m_gate != nullptr) {
            m_gate->wait();
        }
        if (m_throws) {
            throw std::runtime_error("socket exploded");
        }
    }

private:
    Gate* m_gate;
    std::atomic<int>& m_runs;
    std::atomic<int>& m_destroyed;
    bool m_throws;
};

struct Completion {
    int tag;
    std::int64_t id;
    WorkItemStatus status;
    std::string message;
    bool ran;
    std::thread::id thread;
};

class PoolTest : public ::testing::Test {
protected:
    PoolTest() { makePool(); }

    void makePool(ThreadPoolManager::ThreadStarter starter = {}) {
        pool = std::make_unique<ThreadPoolManager>(loop, clock, std::move(starter));
        pool->setErrorCallback([this](const std::string& text) { errors.push_back(text); });
    }

    void record(TestItem& t) {
        completions.push_back({t.tag, t.WorkItemId(), t.status(), t.statusMessage(), t.ran,
                               std::this_thread::get_id()});
    }

    void queue(int tag, Gate* gate = nullptr, bool throws = false) {
        pool->QueueWorkItem<TestItem>(
            std::make_unique<TestItem>(tag, gate, runs, destroyed, throws),
            [this](TestItem& t) { record(t); });
    }

    bool waitFor(std::size_t count, std::chrono::milliseconds timeout = 10s) {
        return loop.runUntil([&] { return completions.size() >= count; }, timeout);
    }

    bool eventually(const std::function<bool()>& pred, std::chrono::milliseconds timeout = 10s) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (!pred()) {
            if (std::chrono::steady_clock::now() > end) {
                return false;
            }
            std::this_thread::sleep_for(1ms);
        }
        return true;
    }

    const Completion* find(int tag) const {
        for (const auto& c : completions) {
            if (c.tag == tag) {
                return &c;
            }
        }
        return nullptr;
    }

    app::EventLoop loop;
    test::MockClock clock;
    std::atomic<int> runs{0};
    std::atomic<int> destroyed{0};
    std::unique_ptr<ThreadPoolManager> pool;
    std::vector<Completion> completions;
    std::vector<std::string> errors;
};

TEST_F(PoolTest, EveryItemCompletesOnceOnTheOwnerThreadWithRisingIds) {
    pool->setMaxPooled(8);
    constexpr int kItems = 2000;
    for (int i = 0; i < kItems; ++i) {
        queue(i);
    }
    ASSERT_TRUE(waitFor(kItems));
    loop.runUntil([] { return false; }, 50ms);  // nothing more may arrive
    ASSERT_EQ(completions.size(), static_cast<std::size_t>(kItems));
    EXPECT_EQ(destroyed, kItems) << "each item is freed after its completion";
    std::set<std::int64_t> ids;
    for (const auto& c : completions) {
        EXPECT_EQ(c.status, WorkItemStatus::Completed);
        EXPECT_TRUE(c.ran);
        EXPECT_EQ(c.thread, std::this_thread::get_id());
        EXPECT_EQ(c.id, c.tag + 1) << "ids count from 1 in queue order";
        ids.insert(c.id);
    }
    EXPECT_EQ(ids.size(), static_cast<std::size_t>(kItems));
    EXPECT_EQ(runs, kItems);
    EXPECT_EQ(pool->ExecutingCount(), 0);
    EXPECT_EQ(pool->pooledCount(), 0);
}

// A burst of completions does not hold the owner thread: they are handed
// over a few milliseconds' worth at a time, with the owner's other work in
// between, in the order the items ended, none lost.
TEST_F(PoolTest, ABurstOfCompletionsIsHandedOverInSlicesWithTheOwnersOtherWorkBetween) {
    pool->setMaxPooled(1);  // the items end in the order they were queued
    constexpr int kItems = 100;
    for (int i = 0; i < kItems; ++i) {
        pool->QueueWorkItem<TestItem>(std::make_unique<TestItem>(i, nullptr, runs, destroyed),
                                      [this](TestItem& t) {
                                          record(t);
                                          std::this_thread::sleep_for(1ms);  // a completion's work
                                      });
    }
    ASSERT_TRUE(eventually([&] { return runs == kItems; }));
    // Every other task of the owner counts a turn; each completion notes the
    // turn it ran in.
    int turns = 0;
    std::map<int, int> perTurn;
    std::function<void()> other = [&] {
        ++turns;
        loop.post(other);
    };
    loop.post(other);
    std::size_t seen = 0;
    ASSERT_TRUE(loop.runUntil(
        [&] {
            for (; seen < completions.size(); ++seen) {
                ++perTurn[turns];
            }
            return completions.size() == static_cast<std::size_t>(kItems);
        },
        10s));
    int most = 0;
    for (const auto& [turn, count] : perTurn) {
        most = std::max(most, count);
    }
    EXPECT_LE(most, 5) << "about 4 ms of completions a turn";
    EXPECT_GE(perTurn.size(), 15u);
    std::vector<std::int64_t> ids;
    for (const auto& c : completions) {
        ids.push_back(c.id);
    }
    EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end())) << "in the order the items ended";
}

TEST_F(PoolTest, BeyondTheRunningLimitItemsWaitAndBeyondTheWaitingLimitTheyAreRefused) {
    pool->setMaxPooled(200);
    pool->setMaxQueueLength(100);
    Gate gate;
    for (int i = 0; i < 300; ++i) {
        queue(i, &gate);
    }
    ASSERT_TRUE(eventually([&] { return pool->ExecutingCount() == 200; }));
    EXPECT_EQ(pool->pooledCount(), 200);
    EXPECT_EQ(pool->queuedCount(), 100);

    queue(300);  // the waiting list is full
    ASSERT_TRUE(waitFor(1));
    EXPECT_EQ(completions[0].tag, 300);
    EXPECT_EQ(completions[0].status, WorkItemStatus::ServerBusy);
    EXPECT_EQ(completions[0].message, "Execution queue is too long.");
    EXPECT_FALSE(completions[0].ran);
    EXPECT_EQ(WorkItemStatusText(completions[0].status), "Server is busy.");

    gate.open();
    ASSERT_TRUE(waitFor(301));
    EXPECT_EQ(runs, 300);
    for (const auto& c : completions) {
        if (c.tag != 300) {
            EXPECT_EQ(c.status, WorkItemStatus::Completed) << c.tag;
        }
    }
}

TEST_F(PoolTest, AnItemThatWaitsTooLongIsRefusedWithoutRunning) {
    pool->setMaxPooled(1);
    pool->setMaxQueuedTime(300);
    Gate gate;
    queue(1, &gate);
    ASSERT_TRUE(eventually([&] { return pool->ExecutingCount() == 1; }));
    queue(2);
    clock.advance(299s);
    loop.runUntil([] { return false; }, 600ms);
    EXPECT_TRUE(completions.empty()) << "299 seconds is still within the limit";
    EXPECT_EQ(pool->queuedCount(), 1);

    clock.advance(1s);
    ASSERT_TRUE(waitFor(1, 5s));
    EXPECT_EQ(completions[0].tag, 2);
    EXPECT_EQ(completions[0].status, WorkItemStatus::ServerBusy);
    EXPECT_EQ(completions[0].message, "Maximum wait time exceeded.");
    EXPECT_FALSE(completions[0].ran);

    gate.open();
    ASSERT_TRUE(waitFor(2));
    EXPECT_EQ(completions[1].status, WorkItemStatus::Completed);
}

TEST_F(PoolTest, AnExceptionFromTheRunEndsTheItemWithItsText) {
    queue(1, nullptr, true);
    ASSERT_TRUE(waitFor(1));
    EXPECT_EQ(completions[0].status, WorkItemStatus::RaisedException);
    EXPECT_EQ(completions[0].message, "socket exploded");
    EXPECT_EQ(WorkItemStatusText(completions[0].status), "Work item raised an exception.");
    EXPECT_EQ(pool->ExecutingCount(), 0);
    queue(2);  // the pool goes on
    ASSERT_TRUE(waitFor(2));
    EXPECT_EQ(completions[1].status, WorkItemStatus::Completed);
}

TEST_F(PoolTest, CancelEndsWaitingItemsAtOnceAndRunningOnesWhenTheirRunEnds) {
    pool->setMaxPooled(2);
    Gate gate;
    for (int i = 0; i < 5; ++i) {
        queue(i, &gate);
    }
    ASSERT_TRUE(eventually([&] { return pool->ExecutingCount() == 2; }));
    pool->CancelAllWorkItems();
    ASSERT_TRUE(waitFor(3));
    for (int tag : {2, 3, 4}) {
        ASSERT_NE(find(tag), nullptr);
        EXPECT_EQ(find(tag)->status, WorkItemStatus::Canceled);
        EXPECT_FALSE(find(tag)->ran);
    }
    EXPECT_EQ(find(0), nullptr) << "a running item is not interrupted";
    EXPECT_EQ(pool->ExecutingCount(), 2);

    gate.open();
    ASSERT_TRUE(pool->waitUntilNoneExecuting(5s));
    ASSERT_TRUE(waitFor(5));
    for (int tag : {0, 1}) {
        EXPECT_EQ(find(tag)->status, WorkItemStatus::Canceled);
        EXPECT_TRUE(find(tag)->ran);
    }
    EXPECT_EQ(WorkItemStatusText(WorkItemStatus::Canceled), "Work item was canceled.");
}

TEST_F(PoolTest, AThreadThatCannotBeStartedFailsTheItemAndReportsIt) {
    pool.reset();
    makePool([](std::function<void()>) -> std::thread {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    });
    queue(1);
    ASSERT_TRUE(waitFor(1));
    EXPECT_EQ(completions[0].status, WorkItemStatus::QueueFailed);
    EXPECT_FALSE(completions[0].message.empty());
    EXPECT_FALSE(completions[0].ran);
    loop.runUntil([&] { return !errors.empty(); }, 5s);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("Cannot start a worker thread"), std::string::npos);
}

TEST_F(PoolTest, LimitsRejectNegativeValuesByName) {
    EXPECT_THROW(
        {
            try {
                pool->setMaxPooled(-1);
            } catch (const std::invalid_argument& e) {
                EXPECT_STREQ(e.what(), "MaxPooled");
                throw;
            }
        },
        std::invalid_argument);
    EXPECT_THROW(pool->setMaxQueueLength(-1), std::invalid_argument);
    EXPECT_THROW(pool->setMaxQueuedTime(-1), std::invalid_argument);
    EXPECT_THROW(pool->setMaxWaitOnTerminate(-1), std::invalid_argument);
    EXPECT_EQ(pool->maxWaitOnTerminate(), 30);
}

TEST_F(PoolTest, EachItemComesBackToTheCompletionItWasQueuedWithEvenWhenOneThrows) {
    std::vector<std::string> seen;
    auto queueTo = [&](int tag, std::string owner, bool completionThrows) {
        pool->QueueWorkItem<TestItem>(std::make_unique<TestItem>(tag, nullptr, runs, destroyed),
                                      [&seen, owner, completionThrows](TestItem& t) {
                                          seen.push_back(owner + std::to_string(t.tag));
                                          if (completionThrows) {
                                              throw std::runtime_error("handler failed");
                                          }
                                      });
    };
    queueTo(1, "checks:", true);
    queueTo(2, "alarms:", false);
    std::vector<std::unique_ptr<WorkItem>> batch;
    batch.push_back(std::make_unique<TestItem>(3, nullptr, runs, destroyed));
    batch.push_back(std::make_unique<TestItem>(4, nullptr, runs, destroyed));
    pool->QueueWorkItems(std::move(batch), [&seen](WorkItem& w) {
        seen.push_back("batch:" + std::to_string(static_cast<TestItem&>(w).tag));
    });
    ASSERT_TRUE(loop.runUntil([&] { return seen.size() == 4; }, 10s));
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<std::string>{"alarms:2", "batch:3", "batch:4", "checks:1"}));
    EXPECT_TRUE(eventually([&] { return destroyed == 4; })) << "every item is freed";
}

TEST_F(PoolTest, DestroyingThePoolCancelsWaitingItemsAndDropsLateCompletions) {
    pool->setMaxPooled(1);
    pool->setMaxWaitOnTerminate(0);
    Gate gate;
    queue(1, &gate);
    queue(2, &gate);
    // Item 1 inside its run: taken by a thread is not enough, as a cancel
    // before its run begins skips it.
    ASSERT_TRUE(eventually([&] { return runs == 1; }));
    pool.reset();  // item 1 still runs; item 2 never will
    gate.open();
    // Item 2 is freed when its dropped completion is handled by the loop,
    // item 1 by its own thread once its run ends.
    ASSERT_TRUE(eventually([&] {
        loop.runUntil([] { return false; }, 5ms);
        return destroyed == 2;
    })) << "both items are freed";
    EXPECT_TRUE(completions.empty()) << "no callback after the pool is gone";
    EXPECT_EQ(runs, 1);
}

}  // namespace
}  // namespace vantor::pool
