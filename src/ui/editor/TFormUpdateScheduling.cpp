// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/editor/TFormUpdateScheduling.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/Messages.h"
#include "registry/ServiceStore.h"
#include "session/Session.h"
#include "ui/editor/AlarmBoxes.h"
#include "ui/editor/SchedulePicker.h"
#include "ui/editor/ServiceKindPanel.h"
#include "ui/editor/TFrameURLForm.h"
#include "ui/mainwindow/ListSorting.h"
#include "ui/support/FormSupport.h"
#include "ui/support/MessageBox.h"

namespace vantor::ui {

namespace {

// Rows compare as the user's locale orders text.
class ListRow final : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override {
        const int column = treeWidget() != nullptr ? treeWidget()->sortColumn() : 0;
        return QString::localeAwareCompare(text(column), other.text(column)) < 0;
    }
};

QStringList RowOf(const registry::ServiceFields& record) {
    const std::string_view port = record.port;
    const std::string_view by = record.scheduleBy;
    const QString hour = FromStd(record.scheduleHour);
    const QString minute = FromStd(record.scheduleMinute);
    QString interval;
    if (by == "Daily") {
        interval = QStringLiteral("on %1:%2").arg(hour, minute);
    } else if (by == "Hourly") {
        interval = QStringLiteral("on %1 min").arg(minute);
    } else if (by == "Minutely") {
        interval = QStringLiteral("every %1 min").arg(minute);
    }
    QStringList methods;
    const std::pair<const std::string*, const char*> flags[] = {
        {&record.alarmEmail, "Email"},
        {&record.alarmSmpp, "SMS"},
        {&record.alarmHttpSms, "SMS by HTTP"},
        {&record.alarmSyslog, "SysLog"}};
    for (const auto& [flag, name] : flags) {
        if (*flag == "y") {
            methods << QString::fromLatin1(name);
        }
    }
    return {FromStd(record.key),
            FromStd(record.service),
            FromStd(record.ip),
            port.empty() || port == "0" ? QStringLiteral("---") : FromStd(port),
            FromStd(by),
            interval,
            methods.join(QLatin1Char('/')),
            FromStd(record.runState)};
}

}  // namespace

TFormUpdateScheduling::TFormUpdateScheduling(session::Session& session, CommandLock& lock,
                                             QWidget* parent)
    : OwnedDialog(lock, parent),
      m_session(session),
      m_tabs(new QTabWidget(this)),
      m_schedule(new SchedulePicker(SchedulePicker::Order::DailyFirst)),
      m_runState(new QComboBox),
      m_kinds(new ServiceKindPanel),
      m_alarms(new AlarmBoxes),
      m_form(*m_schedule, *m_kinds, *m_alarms, m_runState) {
    setObjectName("FormUpdateScheduling");
    setWindowTitle(QStringLiteral("Update Services"));
    setWindowFlags(Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowCloseButtonHint);
    m_tabs->setObjectName("UpdateTabs");

    m_save = new QPushButton(QStringLiteral("Save"), this);
    m_save->setObjectName("ButtonSave");
    m_delete = new QPushButton(QStringLiteral("Delete"), this);
    m_delete->setObjectName("ButtonDelete");
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName("ButtonCancel");
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {m_save, m_delete, cancel}) {
        buttons->addWidget(b);
    }
    buttons->addStretch(1);

    auto* schedulePage = new QWidget;
    auto* scheduleRows = new QVBoxLayout(schedulePage);
    m_schedule->setParent(schedulePage);
    scheduleRows->addWidget(m_schedule);
    auto* stateLine = new QHBoxLayout;
    stateLine->addWidget(
        new QLabel(QStringLiteral("Please select the service status :"), schedulePage));
    m_runState->setParent(schedulePage);
    m_runState->setObjectName("ComboBoxStatus");
    m_runState->addItems({QStringLiteral("Start"), QStringLiteral("Stop")});
    stateLine->addWidget(m_runState);
    stateLine->addStretch(1);
    scheduleRows->addLayout(stateLine);
    m_tabs->addTab(schedulePage, QStringLiteral("Schedule"));
    m_tabs->addTab(m_kinds, QStringLiteral("Service"));
    m_tabs->addTab(m_alarms, QStringLiteral("Alarm"));

    auto* group = new QGroupBox(QStringLiteral("Scheduling Lists"), this);
    auto* groupRows = new QVBoxLayout(group);
    m_list = new QTreeWidget(group);
    m_list->setObjectName("ListViewScheduling");
    m_list->setHeaderLabels({QStringLiteral("ID"), QStringLiteral("Service"), QStringLiteral("IP"),
                             QStringLiteral("Port"), QStringLiteral("By"),
                             QStringLiteral("Interval"), QStringLiteral("Alarm Methods"),
                             QStringLiteral("Status")});
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setItemDelegate(new RowColourDelegate(-1, m_list));
    m_list->header()->setSectionsClickable(true);
    // The key is there to find a row by, not to be read.
    m_list->header()->setMinimumSectionSize(1);
    const int widths[] = {1, 70, 200, 50, 70, 100, 150, 50};
    m_list->setColumnWidth(0, 1);
    for (int column = 1; column < 8; ++column) {
        m_list->setColumnWidth(column, widths[column]);
    }
    groupRows->addWidget(m_list);

    m_status = new QLabel(this);
    m_status->setObjectName("StatusText");
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(m_tabs, 3);
    layout->addWidget(group, 2);
    layout->addWidget(m_status);
    resize(780, 680);

    connect(m_save, &QPushButton::clicked, this, [this] { m_session.guarded([this] { save(); }); });
    connect(m_delete, &QPushButton::clicked, this,
            [this] { m_session.guarded([this] { remove(); }); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        if (item != nullptr) {
            const std::string key = item->text(0).toStdString();
            m_session.guarded([this, key] { loadRecord(key); });
        }
    });
    // Each column keeps its own direction.
    connect(m_list->header(), &QHeaderView::sectionClicked, this, [this](int column) {
        if (column < 0 || column >= static_cast<int>(m_descending.size())) {
            return;
        }
        bool& descending = m_descending[static_cast<std::size_t>(column)];
        m_list->sortItems(column, descending ? Qt::DescendingOrder : Qt::AscendingOrder);
        descending = !descending;
    });
    m_kinds->FrameURL->onStatusText = [this](const QString& text) { showStatus(text); };
}

void TFormUpdateScheduling::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        resetForm();
        m_tabs->setCurrentIndex(0);
        fillList();
        showStatus({});
    }
    OwnedDialog::showEvent(event);
}

void TFormUpdateScheduling::showStatus(const QString& text) {
    m_status->setText(text);
}

void TFormUpdateScheduling::resetForm() {
    m_key.clear();
    m_save->setEnabled(false);
    m_delete->setEnabled(false);
    m_form.reset();
}

void TFormUpdateScheduling::fillList() {
    m_list->clear();
    QList<QTreeWidgetItem*> rows;
    m_session.store().forEachRecord([&rows](const registry::ServiceRecord& record) {
        rows.append(new ListRow(RowOf(record.fields(false))));
    });
    m_list->addTopLevelItems(rows);
}

void TFormUpdateScheduling::loadRecord(const std::string& key) {
    resetForm();
    m_key = key;
    m_save->setEnabled(true);
    m_delete->setEnabled(true);
    const QList<QTreeWidgetItem*> rows = m_list->findItems(FromStd(key), Qt::MatchExactly, 0);
    if (!rows.isEmpty()) {
        m_list->setCurrentItem(rows.last());
    }
    const std::optional<registry::ServiceRecord> record = m_session.store().findRecord(key);
    if (!record) {
        return;
    }
    m_form.load(record->fields());
    showStatus(QStringLiteral("You can update or delete this record."));
}

bool TFormUpdateScheduling::validate() {
    std::optional<FormProblem> problem = m_form.checkSchedule();
    if (!problem) {
        problem = m_form.checkService();
    }
    if (!problem) {
        problem = m_form.checkAlarms([this](const std::string& key) {
            return m_session.store().findRecord(key).has_value();
        });
    }
    if (!problem) {
        return true;
    }
    MessageBox::show(this, app::MessageBoxKind::Information, problem->message);
    m_tabs->setCurrentIndex(problem->field == nullptr ? 0 : m_form.onAlarmPage(*problem) ? 2 : 1);
    m_form.point(*problem);
    return false;
}

void TFormUpdateScheduling::save() {
    if (m_key.empty() || !validate() || m_kinds->kind().isEmpty()) {
        return;
    }
    const registry::ServiceFields service = m_form.read();
    if (!ShowEditOutcome(this, m_session.edits().change(m_key, service))) {
        return;
    }
    fillList();
    const std::string newKey = registry::KeyOf(service);
    // The record goes on under its new key.
    loadRecord(newKey);
    showStatus(QStringLiteral("The service has been updated."));
}

void TFormUpdateScheduling::remove() {
    if (m_key.empty()) {
        return;
    }
    const session::EditOutcome deleted = m_session.edits().remove(m_key);
    ShowEditOutcome(this, deleted);
    if (deleted.result == session::EditResult::SaveFailed) {
        return;
    }
    resetForm();
    fillList();
    showStatus(QStringLiteral("The service has been deleted."));
}

}  // namespace vantor::ui
