// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/mainwindow/MainLists.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QTreeView>

#include <QVBoxLayout>
#include "history/HistoryStore.h"
#include "ui/mainwindow/DetailPane.h"

#include "session/Session.h"

namespace vantor::ui {

namespace {

// The alarm list's height when it is shown again.
constexpr int kAlarmGroupHeight = 120;

}  // namespace

MainLists::MainLists(session::Session& session, Commands commands, QWidget* parent)
    : QSplitter(Qt::Vertical, parent), m_session(session), m_commands(std::move(commands)) {
    setObjectName("SplitterAlarmLog");
    createHostTree();
    createServiceList();
    createAlarmList();

    auto* upper = new QSplitter(Qt::Horizontal, this);
    upper->addWidget(m_hostTree);
    upper->addWidget(m_serviceList);
    upper->setStretchFactor(1, 1);
    upper->setSizes({180, 820});
    addWidget(upper);
    // The history is made with the engine, later; where it will be is known.
    m_detailPane =
        new DetailPane(m_session.settings().historyEnable
                           ? history::HistoryStore::databaseIn(m_session.paths().historyDirPath())
                           : std::string(),
                       this);
    m_detailPane->hide();
    addWidget(m_detailPane);
    addWidget(m_alarmGroup);
    setStretchFactor(0, 1);
    setSizes({500, 0, kAlarmGroupHeight});
    // The pane follows the selection, and the selected service's results.
    connect(m_serviceList->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (m_detailPane->isVisible()) {
            m_detailPane->showService(selectedKey());
        }
    });
    connect(m_serviceTable, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& first, const QModelIndex& last) {
                if (!m_detailPane->isVisible() || !m_detailPane->key()) {
                    return;
                }
                const auto row = m_session.services().findRow(*m_detailPane->key());
                if (row && static_cast<int>(*row) >= first.row() &&
                    static_cast<int>(*row) <= last.row() &&
                    last.column() >= static_cast<int>(engine::ServiceListModel::Column::Response)) {
                    m_detailPane->refresh();
                }
            });
}

void MainLists::showDetailPane(bool show) {
    m_detailPane->setVisible(show);
    if (show) {
        m_detailPane->showService(selectedKey());
        QList<int> sizes = this->sizes();
        const int pane = m_detailPane->sizeHint().height();
        sizes[0] = std::max(0, sizes[0] - pane);
        sizes[1] = pane;
        setSizes(sizes);
    }
}

QTreeView* MainLists::listView(const char* name) {
    auto* view = new QTreeView(this);
    view->setObjectName(QString::fromLatin1(name));
    view->setRootIsDecorated(false);
    view->setUniformRowHeights(true);
    view->setItemsExpandable(false);
    view->setAllColumnsShowFocus(true);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->header()->setStretchLastSection(true);
    return view;
}

void MainLists::createHostTree() {
    m_hostTree = new QTreeView(this);
    m_hostTree->setObjectName("TreeViewURLList");
    m_hostTree->setModel(new HostTable(m_session.hosts(), {QString()}, this));
    m_hostTree->setHeaderHidden(true);
    m_hostTree->setRootIsDecorated(false);
    m_hostTree->setUniformRowHeights(true);
    m_hostTree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    connect(m_hostTree, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& node) {
        if (node.isValid()) {
            m_commands.showHost(node.data().toString().toStdString());
        }
    });
}

void MainLists::createServiceList() {
    m_serviceTable = new ServiceTable(
        m_session.services(),
        {QStringLiteral("ID"), QStringLiteral("Service"), QStringLiteral("IP"),
         QStringLiteral("Port"), QStringLiteral("Current Status"), QStringLiteral("By"),
         QStringLiteral("Interval"), QStringLiteral("Status"), QStringLiteral("Response"),
         QStringLiteral("Uptime 24h"), QStringLiteral("Uptime 30d"), QStringLiteral("Alarm state")},
        this);
    m_serviceProxy = new ListSortProxy(this);
    m_serviceProxy->setSourceModel(m_serviceTable);
    m_serviceList = listView("ListViewService");
    m_serviceList->setToolTip(QStringLiteral("Double click on any service for updating..."));
    m_serviceList->setModel(m_serviceProxy);
    m_serviceList->setItemDelegate(
        new RowColourDelegate(static_cast<int>(engine::ServiceListModel::Column::Status), this));
    InstallColumnSorting(*m_serviceList, *m_serviceProxy, m_sortDirections, true);
    // At the first-run size (1024 x 768) the columns up to Status fit beside
    // the host tree, a vertical scroll bar included; the later ones follow.
    const int widths[] = {150, 65, 150, 45, 170, 65, 90, 50, 80, 90, 90, 160};
    for (int column = 0; column < static_cast<int>(std::size(widths)); ++column) {
        m_serviceList->setColumnWidth(column, widths[column]);
    }
    m_serviceList->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_serviceList, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        m_commands.serviceMenu(m_serviceList->viewport()->mapToGlobal(at));
    });
    connect(m_serviceList, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex&) {
        if (selectedKey()) {
            m_commands.updateService();
        }
    });
    // The selected record stays selected across a refill.
    connect(m_serviceTable, &QAbstractItemModel::modelAboutToBeReset, this,
            [this] { m_keptSelection = selectedKey(); });
    connect(m_serviceTable, &QAbstractItemModel::modelReset, this, [this] {
        const std::optional<std::string> key = std::exchange(m_keptSelection, std::nullopt);
        if (!key) {
            return;
        }
        if (const auto row = m_session.services().findRow(*key)) {
            const QModelIndex shown =
                m_serviceProxy->mapFromSource(m_serviceTable->index(static_cast<int>(*row), 0));
            m_serviceList->selectionModel()->select(
                shown, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            m_serviceList->setCurrentIndex(shown);
        }
    });
}

void MainLists::createAlarmList() {
    auto* table =
        new AlarmTable(m_session.alarms(),
                       {QStringLiteral("ID"), QStringLiteral("DateTime"), QStringLiteral("Message"),
                        QStringLiteral("Alarm Methods"), QStringLiteral("Alarm SMS / Email / IP"),
                        QStringLiteral("Status"), QStringLiteral("Type")},
                       this);
    auto* proxy = new ListSortProxy(this);
    proxy->setSourceModel(table);
    m_alarmList = listView("ListViewAlarmMessage");
    m_alarmList->setModel(proxy);
    m_alarmList->setItemDelegate(new RowColourDelegate(-1, this));
    InstallColumnSorting(*m_alarmList, *proxy, m_sortDirections, false);
    const int alarmWidths[] = {50, 140, 420, 100, 180, 60, 70};
    for (int column = 0; column < static_cast<int>(std::size(alarmWidths)); ++column) {
        m_alarmList->setColumnWidth(column, alarmWidths[column]);
    }

    m_alarmGroup = new QGroupBox(QStringLiteral("Alarm Messages - Sending"), this);
    m_alarmGroup->setObjectName("GroupBoxAlarmLog");
    m_alarmGroup->setToolTip(QStringLiteral("Click to hide the Alarm Messages bar..."));
    auto* groupLayout = new QVBoxLayout(m_alarmGroup);
    groupLayout->setContentsMargins(4, 4, 4, 4);
    groupLayout->addWidget(m_alarmList);
}

std::optional<std::string> MainLists::selectedKey() const {
    const QModelIndexList rows = m_serviceList->selectionModel()->selectedRows();
    if (rows.isEmpty()) {
        return std::nullopt;
    }
    const QModelIndex source = m_serviceProxy->mapToSource(rows.first());
    const auto& all = m_session.services().rows();
    if (!source.isValid() || static_cast<std::size_t>(source.row()) >= all.size()) {
        return std::nullopt;
    }
    return all[static_cast<std::size_t>(source.row())].id;
}

void MainLists::selectInCore() {
    const QModelIndexList rows = m_serviceList->selectionModel()->selectedRows();
    if (rows.isEmpty()) {
        return;
    }
    const QModelIndex source = m_serviceProxy->mapToSource(rows.first());
    if (source.isValid()) {
        m_session.services().select(static_cast<std::size_t>(source.row()));
    }
}

void MainLists::showAlarmMessages(bool show) {
    m_alarmGroup->setVisible(show);
    if (show) {
        const int total = height();
        const int pane = m_detailPane->isVisible() ? sizes()[1] : 0;
        setSizes({std::max(0, total - kAlarmGroupHeight - pane), pane, kAlarmGroupHeight});
    }
}

void MainLists::setRowSelection(bool wholeRows) {
    m_serviceList->setSelectionBehavior(wholeRows ? QAbstractItemView::SelectRows
                                                  : QAbstractItemView::SelectItems);
}

}  // namespace vantor::ui
