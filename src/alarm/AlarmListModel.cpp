#include "alarm/AlarmListModel.h"

namespace vantor::alarm {

void AlarmListModel::insertTop(AlarmRow row) {
    m_rows.insert(m_rows.begin(), std::move(row));
    if (m_selected) {
        ++*m_selected;
    }
    if (m_observer != nullptr) {
        m_observer->rowInserted(0);
    }
}

void AlarmListModel::TrimAlarmList(int keep) {
    if (keep < 0 || m_rows.size() <= static_cast<std::size_t>(keep)) {
        return;
    }
    const std::size_t last = m_rows.size() - 1;
    m_rows.pop_back();
    if (m_selected && *m_selected == last) {
        m_selected.reset();
    }
    if (m_observer != nullptr) {
        m_observer->rowRemoved(last);
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
    if (m_observer != nullptr) {
        m_observer->rowChanged(row);
    }
}

void AlarmListModel::select(std::size_t row) {
    if (row >= m_rows.size()) {
        return;
    }
    m_selected = row;
    if (m_observer != nullptr) {
        m_observer->selectionChanged(m_selected);
    }
}

void AlarmListModel::clear() {
    m_rows.clear();
    m_selected.reset();
    if (m_observer != nullptr) {
        m_observer->rowsReset();
    }
}

}  // namespace vantor::alarm
