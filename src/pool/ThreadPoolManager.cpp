// SPDX-License-Identifier: GPL-3.0-or-later
#include "pool/ThreadPoolManager.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <list>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <unordered_map>

#include "app/Poster.h"

namespace vantor::pool {

namespace {

// Owner-thread side of the delivery: posted closures find through it
// whether the pool is still there, and its error callback.
struct Sink {
    ThreadPoolManager* pool = nullptr;
    ThreadPoolManager::ErrorCallback error;
};

constexpr auto kIdleWorkerLifetime = std::chrono::seconds(60);
// The pool's thread re-reads the clock at least this often while items wait,
// so that a waiting limit also ends on time under a test clock.
constexpr auto kManagerPollInterval = std::chrono::milliseconds(250);
// How long one turn of the owner thread hands completions over at most.
constexpr auto kDeliverySlice = std::chrono::milliseconds(4);

}  // namespace

// State shared by the owner, the pool's own thread (PoolManagerThread) and
// the worker threads. Workers hold it alive, so a worker left running when
// the pool is destroyed never touches freed memory.
class PoolCore final : public std::enable_shared_from_this<PoolCore> {
public:
    PoolCore(app::Poster& poster, const app::Clock& clock, ThreadPoolManager::ThreadStarter starter)
        : m_poster(poster), m_clock(clock), m_starter(std::move(starter)) {}

    struct Worker {
        std::thread thread;
        bool busy = false;
        bool exited = false;
    };

    mutable std::mutex m_mutex;
    std::condition_variable m_managerWake;
    std::condition_variable m_workerWake;
    mutable std::condition_variable m_idle;

    std::deque<std::unique_ptr<WorkItem>> m_waiting;
    std::deque<WorkItem*> m_tasks;  // handed to threads, not yet started
    std::unordered_map<WorkItem*, std::unique_ptr<WorkItem>> m_pooled;
    std::list<Worker> m_workers;
    int m_idleWorkers = 0;
    int m_executing = 0;
    std::int64_t m_nextId = 0;
    bool m_stopping = false;

    int m_maxPooled = 0;
    int m_maxQueueLength = 0;
    std::chrono::seconds m_maxQueuedTime{0};
    std::chrono::seconds m_maxWaitOnTerminate{30};

    app::Poster& m_poster;
    const app::Clock& m_clock;
    ThreadPoolManager::ThreadStarter m_starter;
    std::shared_ptr<Sink> m_sink = std::make_shared<Sink>();
    std::thread m_manager;

    // Completions on their way to the owner thread, in the order the items
    // ended. One posted delivery at a time hands them over, a slice at a time,
    // so that a burst of results never holds the owner thread (and a window
    // on it) for long; the owner's timers and painting come in between.
    std::deque<std::unique_ptr<WorkItem>> m_done;
    bool m_deliveryPosted = false;

    // Under m_mutex.
    void complete(std::unique_ptr<WorkItem> item) {
        if (m_stopping) {
            return;  // the owner is gone; the item is freed here
        }
        m_done.push_back(std::move(item));
        if (!m_deliveryPosted) {
            m_deliveryPosted = true;
            postDelivery();
        }
    }

    void postDelivery() {
        m_poster.post([sink = m_sink, core = shared_from_this()] { core->deliver(*sink); });
    }

    // On the owner thread: the completions there when the turn began (those
    // that come meanwhile wait for the next turn), within the slice.
    void deliver(const Sink& sink) {
        const auto end = std::chrono::steady_clock::now() + kDeliverySlice;
        std::size_t left = 0;
        {
            std::lock_guard lock(m_mutex);
            left = m_done.size();
        }
        for (bool first = true;; first = false) {
            std::unique_ptr<WorkItem> item;
            {
                std::lock_guard lock(m_mutex);
                if (m_done.empty() || sink.pool == nullptr) {
                    // A pool that is gone drops the rest.
                    m_done.clear();
                    m_deliveryPosted = false;
                    return;
                }
                if (left == 0 || (!first && std::chrono::steady_clock::now() >= end)) {
                    postDelivery();  // the rest at the owner's next turn
                    return;
                }
                item = std::move(m_done.front());
                m_done.pop_front();
                --left;
            }
            if (!item->m_completion) {
                continue;
            }
            try {
                item->m_completion(*item);
            } catch (...) {
                // The callback's own failures are its business; the item is
                // still freed.
            }
        }
    }

    void reportError(std::string text) {
        if (m_stopping) {
            return;
        }
        m_poster.post([sink = m_sink, text = std::move(text)] {
            if (sink->pool != nullptr && sink->error) {
                sink->error(text);
            }
        });
    }

    void expireWaiting(std::chrono::steady_clock::time_point now) {
        if (m_maxQueuedTime.count() <= 0) {
            return;
        }
        while (!m_waiting.empty() && now - m_waiting.front()->m_queuedAt >= m_maxQueuedTime) {
            std::unique_ptr<WorkItem> item = std::move(m_waiting.front());
            m_waiting.pop_front();
            item->setStatus(WorkItemStatus::ServerBusy, kMaxWaitExceeded);
            complete(std::move(item));
        }
    }

    bool startWorker(std::string& failure) {
        // Threads that ended after an idle spell are joined here.
        for (auto it = m_workers.begin(); it != m_workers.end();) {
            if (it->exited) {
                if (it->thread.joinable()) {
                    it->thread.join();
                }
                it = m_workers.erase(it);
            } else {
                ++it;
            }
        }
        Worker& worker = m_workers.emplace_back();
        try {
            auto body = [core = shared_from_this(), &worker] { core->workerMain(worker); };
            worker.thread = m_starter ? m_starter(body) : std::thread(body);
        } catch (const std::system_error& e) {
            failure = e.what();
            m_workers.pop_back();
            return false;
        }
        ++m_idleWorkers;
        return true;
    }

    // Hands waiting items to threads while the limit allows. startThreads:
    // start the threads the tasks need here; the owner's queueing leaves
    // that to the pool's own thread, as starting a couple of hundred threads
    // takes long enough to stall a window.
    void pump(bool startThreads = true) {
        expireWaiting(m_clock.steadyNow());
        while (!m_waiting.empty() &&
               (m_maxPooled == 0 || static_cast<int>(m_pooled.size()) < m_maxPooled)) {
            std::unique_ptr<WorkItem> item = std::move(m_waiting.front());
            m_waiting.pop_front();
            WorkItem* raw = item.get();
            m_pooled.emplace(raw, std::move(item));
            m_tasks.push_back(raw);
            m_workerWake.notify_one();
        }
        if (startThreads) {
            startNeededWorkers();
        }
    }

    bool needsWorkers() const { return static_cast<std::size_t>(m_idleWorkers) < m_tasks.size(); }

    // One thread for each task that no idle thread will take.
    void startNeededWorkers() {
        while (needsWorkers()) {
            std::string failure;
            if (startWorker(failure)) {
                continue;
            }
            if (m_workers.empty()) {
                // Without any thread the tasks can never run.
                while (!m_tasks.empty()) {
                    WorkItem* raw = m_tasks.front();
                    m_tasks.pop_front();
                    auto owned = m_pooled.extract(raw);
                    owned.mapped()->setStatus(WorkItemStatus::QueueFailed, failure);
                    complete(std::move(owned.mapped()));
                }
                reportError("Cannot start a worker thread: " + failure);
            }
            // With other threads alive the tasks wait for them.
            return;
        }
    }

    // A worker counts as idle from its start until it takes a task and again
    // from the end of its run, so that pump() only starts a thread when no
    // existing one will take the task.
    void workerMain(Worker& self) {
        std::unique_lock lock(m_mutex);
        for (;;) {
            if (m_tasks.empty()) {
                if (m_stopping) {
                    break;
                }
                const bool woken = m_workerWake.wait_for(
                    lock, kIdleWorkerLifetime, [&] { return !m_tasks.empty() || m_stopping; });
                if (!woken) {
                    break;
                }
                continue;
            }
            WorkItem* item = m_tasks.front();
            m_tasks.pop_front();
            --m_idleWorkers;
            self.busy = true;
            // Counted as running from the moment it is taken; an item whose
            // cancel signal is set is skipped by run() at once.
            ++m_executing;
            lock.unlock();
            item->run();
            lock.lock();
            self.busy = false;
            ++m_idleWorkers;
            --m_executing;
            auto owned = m_pooled.extract(item);
            complete(std::move(owned.mapped()));
            // Once the pool is stopping, the owner's poster and clock may be
            // gone: a worker left running touches nothing but this core.
            if (!m_stopping) {
                pump();
            }
            m_idle.notify_all();
        }
        --m_idleWorkers;
        self.exited = true;
    }

    void managerMain() {
        std::unique_lock lock(m_mutex);
        while (!m_stopping) {
            try {
                pump();
            } catch (const std::exception& e) {
                reportError(e.what());
            }
            if (!m_waiting.empty() && m_maxQueuedTime.count() > 0) {
                const auto due = m_waiting.front()->m_queuedAt + m_maxQueuedTime;
                auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(
                    due - m_clock.steadyNow());
                wait = std::clamp(wait, std::chrono::milliseconds(1),
                                  std::chrono::milliseconds(kManagerPollInterval));
                m_managerWake.wait_for(lock, wait);
            } else {
                m_managerWake.wait(lock);
            }
        }
    }

    void cancelAll() {
        std::lock_guard lock(m_mutex);
        while (!m_waiting.empty()) {
            std::unique_ptr<WorkItem> item = std::move(m_waiting.front());
            m_waiting.pop_front();
            item->m_cancel = true;
            item->setStatus(WorkItemStatus::Canceled);
            complete(std::move(item));
        }
        for (auto& [raw, item] : m_pooled) {
            std::lock_guard itemLock(item->m_statusMutex);
            item->m_cancel = true;
            item->m_status = WorkItemStatus::Canceled;
            item->m_statusMessage.clear();
        }
    }
};

ThreadPoolManager::ThreadPoolManager(app::Poster& owner, const app::Clock& clock,
                                     ThreadStarter starter)
    : m_core(std::make_shared<PoolCore>(owner, clock, std::move(starter))) {
    m_core->m_sink->pool = this;
    try {
        m_core->m_manager = std::thread([core = m_core.get()] { core->managerMain(); });
    } catch (const std::system_error& e) {
        throw std::runtime_error(std::string("Cannot start PoolManagerThread: ") + e.what());
    }
}

ThreadPoolManager::~ThreadPoolManager() {
    PoolCore& core = *m_core;
    core.cancelAll();
    std::list<std::thread> toJoin;
    {
        std::unique_lock lock(core.m_mutex);
        core.m_idle.wait_for(lock, core.m_maxWaitOnTerminate,
                             [&] { return core.m_pooled.empty(); });
        core.m_stopping = true;
        for (auto& worker : core.m_workers) {
            if (!worker.thread.joinable()) {
                continue;
            }
            if (worker.busy) {
                // Still running after the wait: it finishes on its own and
                // frees its item; its completion is dropped.
                worker.thread.detach();
            } else {
                toJoin.push_back(std::move(worker.thread));
            }
        }
    }
    core.m_managerWake.notify_all();
    core.m_workerWake.notify_all();
    if (core.m_manager.joinable()) {
        core.m_manager.join();
    }
    for (auto& thread : toJoin) {
        thread.join();
    }
    core.m_sink->pool = nullptr;
    core.m_sink->error = nullptr;
}

namespace {

int CheckedLimit(int value, const char* name) {
    if (value < 0) {
        throw std::invalid_argument(name);
    }
    return value;
}

}  // namespace

void ThreadPoolManager::setMaxPooled(int count) {
    std::lock_guard lock(m_core->m_mutex);
    m_core->m_maxPooled = CheckedLimit(count, "MaxPooled");
    m_core->m_managerWake.notify_one();
}

void ThreadPoolManager::setMaxQueueLength(int count) {
    std::lock_guard lock(m_core->m_mutex);
    m_core->m_maxQueueLength = CheckedLimit(count, "MaxQueueLength");
}

void ThreadPoolManager::setMaxQueuedTime(int seconds) {
    std::lock_guard lock(m_core->m_mutex);
    m_core->m_maxQueuedTime = std::chrono::seconds(CheckedLimit(seconds, "MaxQueuedTime"));
    m_core->m_managerWake.notify_one();
}

void ThreadPoolManager::setMaxWaitOnTerminate(int seconds) {
    std::lock_guard lock(m_core->m_mutex);
    m_core->m_maxWaitOnTerminate =
        std::chrono::seconds(CheckedLimit(seconds, "MaxWaitOnTerminate"));
}

int ThreadPoolManager::maxPooled() const {
    std::lock_guard lock(m_core->m_mutex);
    return m_core->m_maxPooled;
}

int ThreadPoolManager::maxQueueLength() const {
    std::lock_guard lock(m_core->m_mutex);
    return m_core->m_maxQueueLength;
}

int ThreadPoolManager::maxQueuedTime() const {
    std::lock_guard lock(m_core->m_mutex);
    return static_cast<int>(m_core->m_maxQueuedTime.count());
}

int ThreadPoolManager::maxWaitOnTerminate() const {
    std::lock_guard lock(m_core->m_mutex);
    return static_cast<int>(m_core->m_maxWaitOnTerminate.count());
}

void ThreadPoolManager::setErrorCallback(ErrorCallback callback) {
    m_core->m_sink->error = std::move(callback);
}

std::int64_t ThreadPoolManager::QueueWorkItem(std::unique_ptr<WorkItem> item, Completion done,
                                              unsigned flags) {
    // The item is freed only after its completion has run on this thread,
    // so it is still there to ask for its number.
    WorkItem* raw = item.get();
    std::vector<std::unique_ptr<WorkItem>> items;
    items.push_back(std::move(item));
    QueueWorkItems(std::move(items), done, flags);
    return raw != nullptr ? raw->WorkItemId() : 0;
}

void ThreadPoolManager::QueueWorkItems(std::vector<std::unique_ptr<WorkItem>> items,
                                       const Completion& done, unsigned flags) {
    PoolCore& core = *m_core;
    std::lock_guard lock(core.m_mutex);
    bool newFirstWaiting = false;
    for (std::unique_ptr<WorkItem>& item : items) {
        if (!item) {
            continue;
        }
        item->m_completion = done;
        item->m_id = ++core.m_nextId;
        item->m_queuedAt = core.m_clock.steadyNow();
        item->m_flags = flags;
        core.pump(false);
        if (core.m_maxQueueLength > 0 &&
            static_cast<int>(core.m_waiting.size()) >= core.m_maxQueueLength) {
            item->setStatus(WorkItemStatus::ServerBusy, kQueueTooLong);
            core.complete(std::move(item));
            continue;
        }
        const bool wasEmpty = core.m_waiting.empty();
        core.m_waiting.push_back(std::move(item));
        core.pump(false);
        newFirstWaiting = newFirstWaiting || (wasEmpty && !core.m_waiting.empty());
    }
    // The pool's thread starts the threads the tasks need, and hears of a
    // new first waiting item: that is the one whose waiting limit ends first.
    if (newFirstWaiting || core.needsWorkers()) {
        core.m_managerWake.notify_one();
    }
}

void ThreadPoolManager::CancelAllWorkItems() {
    m_core->cancelAll();
}

int ThreadPoolManager::ExecutingCount() const {
    std::lock_guard lock(m_core->m_mutex);
    return m_core->m_executing;
}

int ThreadPoolManager::pooledCount() const {
    std::lock_guard lock(m_core->m_mutex);
    return static_cast<int>(m_core->m_pooled.size());
}

int ThreadPoolManager::queuedCount() const {
    std::lock_guard lock(m_core->m_mutex);
    return static_cast<int>(m_core->m_waiting.size());
}

bool ThreadPoolManager::waitUntilNoneExecuting(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_core->m_mutex);
    return m_core->m_idle.wait_for(lock, timeout, [&] { return m_core->m_executing == 0; });
}

}  // namespace vantor::pool
