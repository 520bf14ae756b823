// SPDX-License-Identifier: GPL-3.0-or-later
#include "pool/WorkItem.h"

namespace vantor::pool {

std::string_view WorkItemStatusText(WorkItemStatus status) {
    switch (status) {
        case WorkItemStatus::Completed:
            return "Completed.";
        case WorkItemStatus::UnknownError:
            return "Unknown error has occured.";
        case WorkItemStatus::TimedOutOnThreadQueue:
            return "Timed out waiting on thread queue.";
        case WorkItemStatus::ThreadQueueFull:
            return "Thread queue is full.";
        case WorkItemStatus::RaisedException:
            return "Work item raised an exception.";
        case WorkItemStatus::QueueFailed:
            return "QueueUserWorkItem failed.";
        case WorkItemStatus::Canceled:
            return "Work item was canceled.";
        case WorkItemStatus::ServerBusy:
            return "Server is busy.";
    }
    return "Unknown error has occured.";
}

WorkItemStatus WorkItem::status() const {
    std::lock_guard lock(m_statusMutex);
    return m_status;
}

std::string WorkItem::statusMessage() const {
    std::lock_guard lock(m_statusMutex);
    return m_statusMessage;
}

std::string WorkItem::neverRanReason() const {
    std::string reason(statusDescription());
    if (const std::string message = statusMessage(); !message.empty()) {
        reason += " " + message;
    }
    return reason;
}

bool WorkItem::run() {
    {
        // The cancel signal is looked at once, just before the run.
        std::lock_guard lock(m_statusMutex);
        if (m_cancel.load()) {
            return false;
        }
        m_status = WorkItemStatus::Completed;
        m_statusMessage.clear();
    }
    try {
        Execute();
    } catch (const std::exception& e) {
        setStatus(WorkItemStatus::RaisedException, e.what());
    } catch (...) {
        setStatus(WorkItemStatus::RaisedException, "unknown exception");
    }
    return true;
}

void WorkItem::setStatus(WorkItemStatus status, std::string_view message) {
    std::lock_guard lock(m_statusMutex);
    m_status = status;
    m_statusMessage = message;
}

}  // namespace vantor::pool
