#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantor::alarm {

// One row of the alarm list.
struct AlarmRow {
    std::string id;  // the sender's WorkItemId, "0" when none was queued
    std::string dateTime;
    std::string message;
    std::string method;  // "Email", "SMS", "SMS by HTTP", "SysLog"
    std::string target;
    std::string status;  // "Pending", then "Sent" or "Error"
};

class AlarmListObserver {
public:
    virtual ~AlarmListObserver() = default;
    virtual void rowInserted(std::size_t /*row*/) {}
    virtual void rowRemoved(std::size_t /*row*/) {}
    virtual void rowChanged(std::size_t /*row*/) {}
    virtual void rowsReset() {}
    virtual void selectionChanged(std::optional<std::size_t> /*row*/) {}
};

// The alarm list, newest first. It lives only in memory. Owner thread only.
class AlarmListModel final {
public:
    void setObserver(AlarmListObserver* observer) { m_observer = observer; }

    const std::vector<AlarmRow>& rows() const { return m_rows; }
    void insertTop(AlarmRow row);
    // Removes the oldest row when the list holds more than `keep` rows; one
    // row at most per call.
    void TrimAlarmList(int keep);
    // The first row whose ID equals the text.
    std::optional<std::size_t> findById(std::string_view id) const;
    void setStatus(std::size_t row, std::string status);
    void select(std::size_t row);
    std::optional<std::size_t> selected() const { return m_selected; }
    void clear();

private:
    std::vector<AlarmRow> m_rows;
    std::optional<std::size_t> m_selected;
    AlarmListObserver* m_observer = nullptr;
};

}  // namespace vantor::alarm
