// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <concepts>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/Clock.h"
#include "pool/WorkItem.h"

namespace vantor::app {
class Poster;
}

namespace vantor::pool {

class PoolCore;

// Runs work items on threads of its own within three limits: at most
// MaxPooled handed to threads and not finished, at most MaxQueueLength
// waiting for a thread, and none waiting longer than MaxQueuedTime; an item
// refused by a limit ends with status 7. Every queued item, run or not, comes
// back exactly once to the completion it was queued with, on the owner
// thread (via the poster), one at a time; the pool destroys it when the
// completion returns. Queue, cancel and the setters are called on the owner
// thread.
class ThreadPoolManager final {
public:
    using Completion = std::function<void(WorkItem& item)>;
    using ErrorCallback = std::function<void(const std::string& text)>;
    // Starts a thread running the function; throws std::system_error when it
    // cannot. Tests replace it to make thread creation fail.
    using ThreadStarter = std::function<std::thread(std::function<void()>)>;

    // Starts the pool's own thread; throws std::runtime_error when it cannot.
    explicit ThreadPoolManager(app::Poster& owner,
                               const app::Clock& clock = app::SystemClock::instance(),
                               ThreadStarter starter = {});
    // Cancels everything, waits up to MaxWaitOnTerminate for items handed to
    // threads to finish and stops. Completions that have not been delivered
    // by then are dropped and their items freed.
    ~ThreadPoolManager();
    ThreadPoolManager(const ThreadPoolManager&) = delete;
    ThreadPoolManager& operator=(const ThreadPoolManager&) = delete;

    // 0 means no limit. A negative value throws std::invalid_argument naming
    // the parameter.
    void setMaxPooled(int count);
    void setMaxQueueLength(int count);
    void setMaxQueuedTime(int seconds);
    void setMaxWaitOnTerminate(int seconds);
    int maxPooled() const;
    int maxQueueLength() const;
    int maxQueuedTime() const;
    int maxWaitOnTerminate() const;

    // Failures of the pool's own machinery, as a text, on the owner thread.
    void setErrorCallback(ErrorCallback callback);

    // Takes the item, numbers it and queues it; never blocks on the work.
    // `done` runs on the owner thread once the item has ended, run or not;
    // it is dropped when the pool is destroyed first. Returns the item's id.
    std::int64_t QueueWorkItem(std::unique_ptr<WorkItem> item, Completion done, unsigned flags = 0);
    // The same with a completion that takes the item as the type it was
    // queued as.
    template <std::derived_from<WorkItem> Item>
    std::int64_t QueueWorkItem(std::unique_ptr<Item> item,
                               std::function<void(std::type_identity_t<Item>&)> done,
                               unsigned flags = 0) {
        return QueueWorkItem(
            std::unique_ptr<WorkItem>(std::move(item)),
            [done = std::move(done)](WorkItem& w) { done(static_cast<Item&>(w)); }, flags);
    }
    // Several items at once, in order, with one hand-over; each comes back
    // to `done`.
    void QueueWorkItems(std::vector<std::unique_ptr<WorkItem>> items, const Completion& done,
                        unsigned flags = 0);
    // Waiting items complete at once with status 6; items handed to threads
    // get status 6 and their cancel signal, and complete when their run ends
    // (a run that has not started is skipped).
    void CancelAllWorkItems();

    int ExecutingCount() const;
    int pooledCount() const;
    int queuedCount() const;
    // Blocks the calling thread until no item runs, or until the timeout;
    // returns whether none runs.
    bool waitUntilNoneExecuting(std::chrono::milliseconds timeout) const;

private:
    std::shared_ptr<PoolCore> m_core;
};

}  // namespace vantor::pool
