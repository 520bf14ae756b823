// SPDX-License-Identifier: GPL-3.0-or-later
// Throughput of the thread pool with work items that do next to nothing: what
// the pool itself costs per item, from QueueWorkItem on the owner thread to
// the completion callback run by the owner's event loop.
//
// Items are fed as fast as the limits allow without any being refused: a new
// item is queued only while fewer than MaxPooled + MaxQueueLength are
// outstanding (queued and not yet delivered to the callback); otherwise the
// owner runs its event loop until completions make room.

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "app/EventLoop.h"
#include "pool/ThreadPoolManager.h"
#include "pool/WorkItem.h"

namespace {

using vantor::app::EventLoop;
using vantor::pool::ThreadPoolManager;
using vantor::pool::WorkItem;
using vantor::pool::WorkItemStatus;

constexpr int kMaxQueueLength = 100;
constexpr int kMaxQueuedTimeSeconds = 300;
constexpr std::int64_t kBatch = 10000;
// Far longer than a batch should ever take; reaching it means lost items.
constexpr auto kStallTimeout = std::chrono::seconds(30);

// Voluntary plus involuntary context switches of all threads of the process.
std::int64_t ContextSwitches() {
    rusage usage{};
    if (::getrusage(RUSAGE_SELF, &usage) != 0) {
        return 0;
    }
    return static_cast<std::int64_t>(usage.ru_nvcsw) + static_cast<std::int64_t>(usage.ru_nivcsw);
}

// Threads of the process right now, from /proc/self/status.
int ThreadCount() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Threads:", 0) == 0) {
            return std::stoi(line.substr(8));
        }
    }
    return 0;
}

class CountingItem final : public WorkItem {
public:
    explicit CountingItem(std::atomic<std::int64_t>& runs) : m_runs(runs) {}

protected:
    void Execute() override { m_runs.fetch_add(1, std::memory_order_relaxed); }

private:
    std::atomic<std::int64_t>& m_runs;
};

void RunBatches(benchmark::State& state, int maxPooled) {
    EventLoop loop;
    std::atomic<std::int64_t> runs{0};
    std::int64_t queued = 0;
    std::int64_t completed = 0;
    std::int64_t failed = 0;
    std::string firstFailure;
    const std::int64_t window = maxPooled + kMaxQueueLength;
    auto delivered = [&] { return completed + failed; };
    bool stalled = false;
    std::int64_t switches = 0;
    int threads = 0;
    const int threadsBefore = ThreadCount();
    {
        ThreadPoolManager pool(loop);
        pool.setMaxPooled(maxPooled);
        pool.setMaxQueueLength(kMaxQueueLength);
        pool.setMaxQueuedTime(kMaxQueuedTimeSeconds);
        const auto done = [&](WorkItem& item) {
            const WorkItemStatus status = item.status();
            if (status == WorkItemStatus::Completed) {
                ++completed;
                return;
            }
            if (failed++ == 0) {
                firstFailure = "item " + std::to_string(item.WorkItemId()) + ": " +
                               std::string(item.statusDescription()) + " " + item.statusMessage();
            }
        };

        const std::int64_t switchesBefore = ContextSwitches();
        for (auto _ : state) {
            const std::int64_t end = queued + kBatch;
            while (queued < end && !stalled) {
                if (queued - delivered() < window) {
                    pool.QueueWorkItem(std::make_unique<CountingItem>(runs), done);
                    ++queued;
                } else if (!loop.runUntil([&] { return queued - delivered() < window; },
                                          kStallTimeout)) {
                    stalled = true;
                }
            }
            if (stalled || !loop.runUntil([&] { return delivered() == queued; }, kStallTimeout)) {
                stalled = true;
                break;
            }
        }
        switches = ContextSwitches() - switchesBefore;
        threads = ThreadCount() - threadsBefore;
    }  // the pool is destroyed here: its threads are joined

    if (stalled) {
        state.SkipWithError(("completions stopped arriving: " + std::to_string(delivered()) +
                             " of " + std::to_string(queued) + " delivered")
                                .c_str());
        return;
    }
    if (failed > 0) {
        std::fprintf(stderr, "MaxPooled %d: %lld items did not complete; first: %s\n", maxPooled,
                     static_cast<long long>(failed), firstFailure.c_str());
    }
    if (runs.load() != completed) {
        state.SkipWithError("the number of runs differs from the number of completions");
        return;
    }
    state.SetItemsProcessed(completed);
    state.counters["failed"] = static_cast<double>(failed);
    // Threads the pool has after the batches, its manager included. Idle
    // workers stay for a minute, so this is close to the most it had.
    state.counters["pool_threads"] = threads;
    state.counters["switches/item"] =
        completed > 0 ? static_cast<double>(switches) / static_cast<double>(completed) : 0.0;
}

void BM_PoolThroughput(benchmark::State& state) {
    RunBatches(state, static_cast<int>(state.range(0)));
}

BENCHMARK(BM_PoolThroughput)
    ->ArgName("MaxPooled")
    ->Arg(200)
    ->Arg(8)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
