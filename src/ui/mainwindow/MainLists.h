// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSplitter>
#include <functional>
#include <optional>
#include <string>

#include "alarm/AlarmListModel.h"
#include "engine/HostListModel.h"
#include "engine/ServiceListModel.h"
#include "ui/mainwindow/CoreTableModel.h"
#include "ui/mainwindow/ListSorting.h"

class QGroupBox;
class QTreeView;

namespace vantor::session {
class Session;
}

namespace vantor::ui {

class DetailPane;

// The main window's lists under their splitters: the host tree at the left,
// the service list beside it, and the alarm list in its group at the
// bottom. Each is a view over the core's model; the service list keeps its
// selected record across a refill.
class MainLists final : public QSplitter {
public:
    using ServiceTable = CoreTableModel<engine::ServiceListModel>;
    using AlarmTable = CoreTableModel<alarm::AlarmListModel>;
    using HostTable = CoreTableModel<engine::HostListModel>;

    // What the operator asks of the lists.
    struct Commands {
        // A host node was double-clicked: the service list with its filter.
        std::function<void(const std::string& filter)> showHost;
        // A selected service was double-clicked.
        std::function<void()> updateService;
        // The service list's pop-up menu, at this point of the screen.
        std::function<void(const QPoint& at)> serviceMenu;
    };

    MainLists(session::Session& session, Commands commands, QWidget* parent);

    // The key of the service list's selected row.
    std::optional<std::string> selectedKey() const;
    // The window's selection as the core list's selected row, which the
    // engine's row commands act on (a check's result also moves it).
    void selectInCore();
    // Shows or hides the alarm list's group; shown again at its own height.
    void showAlarmMessages(bool show);
    void setRowSelection(bool wholeRows);
    // Shows or hides the selected service's history under the lists.
    void showDetailPane(bool show);
    DetailPane* detailPane() const { return m_detailPane; }

    QTreeView* serviceList() const { return m_serviceList; }
    QGroupBox* alarmGroup() const { return m_alarmGroup; }

private:
    QTreeView* listView(const char* name);
    void createHostTree();
    void createServiceList();
    void createAlarmList();

    session::Session& m_session;
    Commands m_commands;
    SortDirections m_sortDirections;
    ServiceTable* m_serviceTable = nullptr;
    ListSortProxy* m_serviceProxy = nullptr;
    QTreeView* m_serviceList = nullptr;
    QTreeView* m_alarmList = nullptr;
    QTreeView* m_hostTree = nullptr;
    QGroupBox* m_alarmGroup = nullptr;
    DetailPane* m_detailPane = nullptr;
    // The key of the selected row, kept across a refill.
    std::optional<std::string> m_keptSelection;
};

}  // namespace vantor::ui
