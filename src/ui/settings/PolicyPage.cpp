// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/settings/PolicyPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "alarm/MaintenanceWindow.h"
#include "app/AppSettings.h"

namespace vantor::ui {

namespace {

const char* const kKinds[] = {"URL", "Ping", "FTP", "Email"};

// Each kind's limits in the settings: slow after, fail after.
int app::AppSettings::*const kLimitKeys[4][2] = {
    {&app::AppSettings::httpSlowAfterMs, &app::AppSettings::httpFailAfterMs},
    {&app::AppSettings::pingSlowAfterMs, &app::AppSettings::pingFailAfterMs},
    {&app::AppSettings::ftpSlowAfterMs, &app::AppSettings::ftpFailAfterMs},
    {&app::AppSettings::emailSlowAfterMs, &app::AppSettings::emailFailAfterMs},
};

std::optional<int> Whole(const QLineEdit* box) {
    bool ok = false;
    const int v = box->text().trimmed().toInt(&ok);
    return ok ? std::optional<int>(v) : std::nullopt;
}

}  // namespace

PolicyPage::PolicyPage(QWidget* parent) : QWidget(parent) {
    setObjectName("PagePolicy");
    auto* layout = new QVBoxLayout(this);
    auto* when = new QGroupBox(QStringLiteral("When to alarm"), this);
    auto* rows = new QFormLayout(when);
    m_alarmOn = new QComboBox(when);
    m_alarmOn->setObjectName("ComboAlarmOn");
    m_alarmOn->addItem(QStringLiteral("Every failed check"), QStringLiteral("EveryFailure"));
    m_alarmOn->addItem(QStringLiteral("Once per outage"), QStringLiteral("OnChange"));
    m_alarmOn->setAccessibleName(QStringLiteral("Alarm on"));
    rows->addRow(QStringLiteral("Alarm on"), m_alarmOn);
    m_failAfter = number("EditFailAfter", QStringLiteral("Failed checks before the alarm"));
    rows->addRow(m_failAfter->accessibleName(), m_failAfter);
    m_recovery = new QCheckBox(QStringLiteral("Send a recovery notice"), when);
    m_recovery->setObjectName("CheckBoxRecovery");
    rows->addRow(QString(), m_recovery);
    m_recoverAfter = number("EditRecoverAfter", QStringLiteral("Passed checks that end an outage"));
    rows->addRow(m_recoverAfter->accessibleName(), m_recoverAfter);
    m_remindEvery = number("EditRemindEvery", QStringLiteral("Remind every (minutes, 0 = never)"));
    rows->addRow(m_remindEvery->accessibleName(), m_remindEvery);
    m_flapDetect = new QCheckBox(
        QStringLiteral("Detect flapping (one notice instead of the alarms between)"), when);
    m_flapDetect->setObjectName("CheckBoxFlapDetect");
    rows->addRow(QString(), m_flapDetect);
    m_maintenance = new QLineEdit(when);
    m_maintenance->setObjectName("EditMaintenance");
    m_maintenance->setAccessibleName(QStringLiteral("Maintenance windows"));
    m_maintenance->setPlaceholderText(QStringLiteral(
        "daily 02:00 60; weekly Sun 23:30 120; once 2026-12-24 18:00 2026-12-26 08:00"));
    m_maintenance->setToolTip(QStringLiteral(
        "For every service: checks run and are kept, but raise no alarm and do not count for "
        "uptime. Local time; several windows separated by \";\"."));
    rows->addRow(QStringLiteral("Maintenance windows"), m_maintenance);
    layout->addWidget(when);

    auto* slow = new QGroupBox(QStringLiteral("Response time (ms, 0 = no limit)"), this);
    auto* grid = new QGridLayout(slow);
    grid->addWidget(new QLabel(QStringLiteral("Slow after"), slow), 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Fail after"), slow), 0, 2);
    for (int kind = 0; kind < 4; ++kind) {
        grid->addWidget(new QLabel(QString::fromLatin1(kKinds[kind]), slow), kind + 1, 0);
        for (int which = 0; which < 2; ++which) {
            const QString name =
                QStringLiteral("Edit%1%2AfterMs")
                    .arg(QString::fromLatin1(kKinds[kind]),
                         which == 0 ? QStringLiteral("Slow") : QStringLiteral("Fail"));
            auto* box = new QLineEdit(slow);
            box->setObjectName(name);
            box->setAccessibleName(
                QStringLiteral("%1 %2 after")
                    .arg(QString::fromLatin1(kKinds[kind]),
                         which == 0 ? QStringLiteral("slow") : QStringLiteral("fail")));
            box->setMaxLength(7);
            m_limits[kind][which] = box;
            grid->addWidget(box, kind + 1, which + 1);
        }
    }
    layout->addWidget(slow);
    auto* note = new QLabel(
        QStringLiteral("A slow check passes and shows \"Slow\"; a check over its fail limit "
                       "fails and alarms. Notices of recovery, reminders and flapping go to "
                       "the same methods as the alarms."),
        this);
    note->setWordWrap(true);
    layout->addWidget(note);
    layout->addStretch(1);
}

QLineEdit* PolicyPage::number(const char* name, const QString& label) {
    auto* box = new QLineEdit(this);
    box->setObjectName(QString::fromLatin1(name));
    box->setAccessibleName(label);
    box->setMaxLength(5);
    return box;
}

void PolicyPage::load(const app::AppSettings& s) {
    m_alarmOn->setCurrentIndex(s.alarmOn == "OnChange" ? 1 : 0);
    m_failAfter->setText(QString::number(s.alarmFailAfter));
    m_recovery->setChecked(s.alarmRecovery);
    m_recoverAfter->setText(QString::number(s.alarmRecoverAfter));
    m_remindEvery->setText(QString::number(s.alarmRemindEvery));
    m_flapDetect->setChecked(s.alarmFlapDetect);
    m_maintenance->setText(QString::fromStdString(s.alarmMaintenance));
    for (int kind = 0; kind < 4; ++kind) {
        for (int which = 0; which < 2; ++which) {
            m_limits[kind][which]->setText(QString::number(s.*kLimitKeys[kind][which]));
        }
    }
}

std::optional<PolicyPage::Refusal> PolicyPage::validate() const {
    for (QLineEdit* box : {m_failAfter, m_recoverAfter}) {
        const auto v = Whole(box);
        if (!v || *v < 1) {
            return Refusal{QStringLiteral("%1 must be a whole number of 1 or more.")
                               .arg(box->accessibleName()),
                           box};
        }
    }
    const auto remind = Whole(m_remindEvery);
    if (!remind || *remind < 0 || (*remind > 0 && *remind < 5)) {
        return Refusal{QStringLiteral("Remind every must be 0 or at least 5 minutes."),
                       m_remindEvery};
    }
    for (const auto& kind : m_limits) {
        for (QLineEdit* box : kind) {
            const auto v = Whole(box);
            if (!v || *v < 0) {
                return Refusal{QStringLiteral("%1 must be a whole number of ms, 0 or more.")
                                   .arg(box->accessibleName()),
                               box};
            }
        }
    }
    const std::string error = alarm::ParseMaintenance(m_maintenance->text().toStdString()).error;
    if (!error.empty()) {
        return Refusal{QString::fromStdString(error), m_maintenance};
    }
    return std::nullopt;
}

void PolicyPage::store(app::AppSettings& s) const {
    s.alarmOn = m_alarmOn->currentData().toString().toStdString();
    s.alarmFailAfter = Whole(m_failAfter).value_or(s.alarmFailAfter);
    s.alarmRecovery = m_recovery->isChecked();
    s.alarmRecoverAfter = Whole(m_recoverAfter).value_or(s.alarmRecoverAfter);
    s.alarmRemindEvery = Whole(m_remindEvery).value_or(s.alarmRemindEvery);
    s.alarmFlapDetect = m_flapDetect->isChecked();
    s.alarmMaintenance = m_maintenance->text().trimmed().toStdString();
    for (int kind = 0; kind < 4; ++kind) {
        for (int which = 0; which < 2; ++which) {
            s.*kLimitKeys[kind][which] =
                Whole(m_limits[kind][which]).value_or(s.*kLimitKeys[kind][which]);
        }
    }
}

}  // namespace vantor::ui
