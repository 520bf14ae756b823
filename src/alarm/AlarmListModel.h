// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/ListObserver.h"

namespace vantor::alarm {

// One row of the alarm list.
struct AlarmRow {
    std::string id;  // the sender's WorkItemId, "0" when none was queued
    std::string dateTime;
    std::string message;
    std::string method;  // "Email", "SMS", "SMS by HTTP", "SysLog"
    std::string target;
    std::string status;            // "Pending", then "Sent" or "Error"
    std::string type = "Failure";  // what the notice is: see NoticeTypeName
};

// The alarm list, newest first. It lives only in memory. Owner thread only.
class AlarmListModel final {
public:
    // The columns of the list, in the window's order.
    enum class Column { Id, DateTime, Message, Method, Target, Status, Type, Count };

    void addObserver(app::ListObserver* observer) { m_observers.add(observer); }
    void removeObserver(app::ListObserver* observer) { m_observers.remove(observer); }

    const std::vector<AlarmRow>& rows() const { return m_rows; }
    std::size_t rowCount() const { return m_rows.size(); }
    std::string_view cellText(std::size_t row, Column column) const;
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
    app::ListObservers m_observers;
};

}  // namespace vantor::alarm
