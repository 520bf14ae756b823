// SPDX-License-Identifier: GPL-3.0-or-later
#include "alarm/AlarmListModel.h"

namespace vantor::alarm {

std::string_view AlarmListModel::cellText(std::size_t row, Column column) const {
    if (row >= m_rows.size()) {
        return {};
    }
    const AlarmRow& r = m_rows[row];
    switch (column) {
        case Column::Id:
            return r.id;
        case Column::DateTime:
            return r.dateTime;
        case Column::Message:
            return r.message;
        case Column::Method:
            return r.method;
        case Column::Target:
            return r.target;
        case Column::Status:
            return r.status;
        case Column::Type:
            return r.type;
        case Column::Count:
            break;
    }
    return {};
}

void AlarmListModel::insertTop(AlarmRow row) {
    m_observers.notify([](app::ListObserver& o) { o.aboutToInsertRows(0, 0); });
    m_rows.insert(m_rows.begin(), std::move(row));
    if (m_selected) {
        ++*m_selected;
    }
    m_observers.notify([](app::ListObserver& o) { o.rowsInserted(); });
}

void AlarmListModel::TrimAlarmList(int keep) {
    if (keep < 0 || m_rows.size() <= static_cast<std::size_t>(keep)) {
        return;
    }
    const std::size_t last = m_rows.size() - 1;
    m_observers.notify([last](app::ListObserver& o) { o.aboutToRemoveRows(last, last); });
    m_rows.pop_back();
    const bool lostCurrent = m_selected && *m_selected == last;
    if (lostCurrent) {
        m_selected.reset();
    }
    m_observers.notify([](app::ListObserver& o) { o.rowsRemoved(); });
    if (lostCurrent) {
        m_observers.notify([](app::ListObserver& o) { o.currentRowChanged(std::nullopt); });
    }
}

std::optional<std::size_t> AlarmListModel::findById(std::string_view id) const {
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        if (m_rows[i].id == id) {
            return i;
        }
    }
    return std::nullopt;
}

void AlarmListModel::setStatus(std::size_t row, std::string status) {
    if (row >= m_rows.size()) {
        return;
    }
    m_rows[row].status = std::move(status);
    m_observers.notify([row](app::ListObserver& o) { o.rowChanged(row); });
}

void AlarmListModel::select(std::size_t row) {
    if (row >= m_rows.size()) {
        return;
    }
    m_selected = row;
    m_observers.notify([row](app::ListObserver& o) { o.currentRowChanged(row); });
}

void AlarmListModel::clear() {
    m_observers.notify([](app::ListObserver& o) { o.aboutToReset(); });
    m_rows.clear();
    m_selected.reset();
    m_observers.notify([](app::ListObserver& o) { o.reset(); });
}

}  // namespace vantor::alarm
