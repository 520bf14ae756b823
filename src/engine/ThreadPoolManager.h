#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/Clock.h"
#include "engine/WorkItem.h"

namespace vantor::app {
class Poster;
}

namespace vantor::engine {

class PoolCore;

// Runs work items on threads of its own within three limits: at most
// MaxPooled handed to threads and not finished, at most MaxQueueLength
// waiting for a thread, and none waiting longer than MaxQueuedTime; an item
// refused by a limit ends with status 7. Every queued item, run or not, comes
// back exactly once through the completion callback on the owner thread (via
// the poster), one at a time; the pool destroys it when the callback returns.
// Queue, cancel and the setters are called on the owner thread.
class ThreadPoolManager final {
public:
    using CompletionCallback = std::function<void(ThreadPoolManager& pool, WorkItem& item)>;
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

    void setCompletionCallback(CompletionCallback callback);
    // Failures of the pool's own machinery, as a text, on the owner thread.
    void setErrorCallback(ErrorCallback callback);

    // Takes the item, numbers it and queues it; never blocks on the work.
    void QueueWorkItem(std::unique_ptr<WorkItem> item, unsigned flags = 0);
    // The same for several items at once, in order, with one hand-over.
    void QueueWorkItems(std::vector<std::unique_ptr<WorkItem>> items, unsigned flags = 0);
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

}  // namespace vantor::engine
