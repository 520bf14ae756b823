#include "engine/WorkItem.h"

namespace vantor::engine {

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

void WorkItem::setStatus(WorkItemStatus status, std::string_view message) {
    std::lock_guard lock(m_statusMutex);
    m_status = status;
    m_statusMessage = message;
}

}  // namespace vantor::engine
