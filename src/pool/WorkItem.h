// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace vantor::pool {

// How a work item ended, as the pool reports it.
enum class WorkItemStatus : int {
    Completed = 0,
    UnknownError = 1,
    TimedOutOnThreadQueue = 2,
    ThreadQueueFull = 3,
    RaisedException = 4,
    QueueFailed = 5,
    Canceled = 6,
    ServerBusy = 7,
};

// "Completed.", "Server is busy.", ...
std::string_view WorkItemStatusText(WorkItemStatus status);

inline constexpr std::string_view kQueueTooLong = "Execution queue is too long.";
inline constexpr std::string_view kMaxWaitExceeded = "Maximum wait time exceeded.";

// Everything that runs on the pool: the checks and the alarm senders. A
// derived class adds its inputs (copied in by its constructor) and results
// (written by Execute) and overrides Execute. The pool owns a queued item;
// the completion given when it was queued reads its results after the run.
class WorkItem {
public:
    WorkItem() = default;
    WorkItem(const WorkItem&) = delete;
    WorkItem& operator=(const WorkItem&) = delete;
    virtual ~WorkItem() = default;

    // 1 for the first item queued on a pool, then 2, 3, ...; 0 until queued.
    std::int64_t WorkItemId() const { return m_id; }
    unsigned flags() const { return m_flags; }
    WorkItemStatus status() const;
    // The error text for statuses 4 and 5, the reason for 7; else empty.
    std::string statusMessage() const;
    std::string_view statusDescription() const { return WorkItemStatusText(status()); }
    // Why an item that never ran did not: the status text, and its message
    // when there is one ("Server is busy. Execution queue is too long.").
    std::string neverRanReason() const;
    // Set when the item was cancelled; a long run may look at it.
    bool cancelRequested() const { return m_cancel.load(); }

    // Runs the item once on the calling thread, as a pool thread does:
    // skipped when cancelled, else status 0 and Execute, an escaping
    // exception giving status 4. Returns whether Execute ran.
    bool run();

protected:
    // The work; runs once on a pool thread. An exception that escapes ends
    // the item with status 4 and the exception's text.
    virtual void Execute() = 0;

private:
    friend class ThreadPoolManager;
    friend class PoolCore;

    void setStatus(WorkItemStatus status, std::string_view message = {});

    std::function<void(WorkItem&)> m_completion;
    std::int64_t m_id = 0;
    unsigned m_flags = 0;
    std::chrono::steady_clock::time_point m_queuedAt{};
    mutable std::mutex m_statusMutex;
    WorkItemStatus m_status = WorkItemStatus::Completed;
    std::string m_statusMessage;
    std::atomic<bool> m_cancel{false};
};

}  // namespace vantor::pool
