// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/editor/AlarmBoxes.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace vantor::ui {

namespace {

const QString kAsForAll = QStringLiteral("As in Alarm Options");

std::string Text(const QLineEdit* edit) {
    return edit->text().trimmed().toStdString();
}

std::string Choice(const QComboBox* list) {
    return list->currentData().toString().toStdString();
}

void Choose(QComboBox* list, const std::string& value) {
    // A value the list does not know shows as the one for all, which is
    // what the engine makes of it.
    list->setCurrentIndex(std::max(0, list->findData(QString::fromStdString(value))));
}

}  // namespace

AlarmBoxes::AlarmBoxes(QWidget* parent) : QWidget(parent) {
    setObjectName("AlarmBoxes");
    auto* rows = new QVBoxLayout(this);
    rows->addWidget(new QLabel(QStringLiteral("Please select the below alarm method(s) :"), this));
    const auto box = [&](const char* name, const QString& caption) {
        auto* b = new QCheckBox(caption, this);
        b->setObjectName(QString::fromLatin1(name));
        rows->addWidget(b);
        return b;
    };
    CheckBoxEmail = box("CheckBoxAlarmEmail", QStringLiteral("Email"));
    CheckBoxSMS = box("CheckBoxAlarmSMS", QStringLiteral("SMS"));
    CheckBoxSMSByHTTP = box("CheckBoxAlarmSMSByHTTP", QStringLiteral("SMS by HTTP"));
    CheckBoxSysLog = box("CheckBoxAlarmSysLog", QStringLiteral("SysLog"));
    rows->addSpacing(12);
    rows->addWidget(new QLabel(
        QStringLiteral("Depends on (the ID of another service; while it is down, this one's "
                       "failures raise no alarm):"),
        this));
    EditParent = new QLineEdit(this);
    EditParent->setObjectName("EditParent");
    EditParent->setPlaceholderText(QStringLiteral("Ping:192.168.1.10:0"));
    rows->addWidget(EditParent);

    auto* own = new QGroupBox(
        QStringLiteral("This service's alarm policy (empty: as in Alarm Options)"), this);
    auto* form = new QFormLayout(own);
    const auto list = [&](const char* name, const QString& label,
                          std::initializer_list<std::pair<QString, QString>> items) {
        auto* l = new QComboBox(own);
        l->setObjectName(QString::fromLatin1(name));
        l->addItem(kAsForAll, QString());
        for (const auto& [caption, value] : items) {
            l->addItem(caption, value);
        }
        l->setAccessibleName(label);
        form->addRow(label, l);
        return l;
    };
    const auto edit = [&](const char* name, const QString& label) {
        auto* e = new QLineEdit(own);
        e->setObjectName(QString::fromLatin1(name));
        e->setPlaceholderText(kAsForAll);
        e->setAccessibleName(label);
        form->addRow(label, e);
        return e;
    };
    ComboOwnAlarmOn = list("ComboOwnAlarmOn", QStringLiteral("Alarm on"),
                           {{QStringLiteral("Every failed check"), QStringLiteral("EveryFailure")},
                            {QStringLiteral("Once per outage"), QStringLiteral("OnChange")}});
    EditOwnFailAfter = edit("EditOwnFailAfter", QStringLiteral("Failed checks before the alarm"));
    ComboOwnRecovery = list("ComboOwnRecovery", QStringLiteral("Recovery"),
                            {{QStringLiteral("Send a recovery notice"), QStringLiteral("y")},
                             {QStringLiteral("No recovery notice"), QStringLiteral("n")}});
    EditOwnRecoverAfter =
        edit("EditOwnRecoverAfter", QStringLiteral("Passed checks that end an outage"));
    EditOwnRemindEvery =
        edit("EditOwnRemindEvery", QStringLiteral("Remind every (minutes, 0 = never)"));
    ComboOwnFlapDetect = list("ComboOwnFlapDetect", QStringLiteral("Flap detection"),
                              {{QStringLiteral("Detect flapping"), QStringLiteral("y")},
                               {QStringLiteral("No flap detection"), QStringLiteral("n")}});
    EditOwnSlowAfterMs = edit("EditOwnSlowAfterMs", QStringLiteral("Slow after (ms)"));
    EditOwnFailAfterMs = edit("EditOwnFailAfterMs", QStringLiteral("Fail after (ms)"));
    EditOwnMaintenance = edit("EditOwnMaintenance", QStringLiteral("Maintenance windows"));
    EditOwnMaintenance->setToolTip(QStringLiteral(
        "Besides the ones for all services, separated by \";\": daily HH:MM MINUTES, weekly "
        "Sun HH:MM MINUTES, once yyyy-MM-dd HH:MM yyyy-MM-dd HH:MM"));
    rows->addWidget(own);
    rows->addStretch(1);
}

void AlarmBoxes::reset() {
    for (QCheckBox* b : {CheckBoxEmail, CheckBoxSMS, CheckBoxSMSByHTTP, CheckBoxSysLog}) {
        b->setChecked(false);
    }
    for (QLineEdit* e : {EditParent, EditOwnFailAfter, EditOwnRecoverAfter, EditOwnRemindEvery,
                         EditOwnSlowAfterMs, EditOwnFailAfterMs, EditOwnMaintenance}) {
        e->clear();
    }
    for (QComboBox* l : {ComboOwnAlarmOn, ComboOwnRecovery, ComboOwnFlapDetect}) {
        l->setCurrentIndex(0);
    }
}

void AlarmBoxes::read(registry::ServiceFields& f) const {
    f.parent = Text(EditParent);
    f.alarmOn = Choice(ComboOwnAlarmOn);
    f.failAfter = Text(EditOwnFailAfter);
    f.recovery = Choice(ComboOwnRecovery);
    f.recoverAfter = Text(EditOwnRecoverAfter);
    f.remindEvery = Text(EditOwnRemindEvery);
    f.flapDetect = Choice(ComboOwnFlapDetect);
    f.slowAfterMs = Text(EditOwnSlowAfterMs);
    f.failAfterMs = Text(EditOwnFailAfterMs);
    f.maintenance = Text(EditOwnMaintenance);
}

void AlarmBoxes::load(const registry::ServiceFields& f) const {
    const auto set = [](QLineEdit* e, const std::string& v) {
        e->setText(QString::fromStdString(v));
    };
    set(EditParent, f.parent);
    Choose(ComboOwnAlarmOn, f.alarmOn);
    set(EditOwnFailAfter, f.failAfter);
    Choose(ComboOwnRecovery, f.recovery);
    set(EditOwnRecoverAfter, f.recoverAfter);
    set(EditOwnRemindEvery, f.remindEvery);
    Choose(ComboOwnFlapDetect, f.flapDetect);
    set(EditOwnSlowAfterMs, f.slowAfterMs);
    set(EditOwnFailAfterMs, f.failAfterMs);
    set(EditOwnMaintenance, f.maintenance);
}

QWidget* AlarmBoxes::control(registry::Element element) const {
    using E = registry::Element;
    switch (element) {
        case E::AlarmOn:
            return ComboOwnAlarmOn;
        case E::FailAfter:
            return EditOwnFailAfter;
        case E::Recovery:
            return ComboOwnRecovery;
        case E::RecoverAfter:
            return EditOwnRecoverAfter;
        case E::RemindEvery:
            return EditOwnRemindEvery;
        case E::FlapDetect:
            return ComboOwnFlapDetect;
        case E::SlowAfterMs:
            return EditOwnSlowAfterMs;
        case E::FailAfterMs:
            return EditOwnFailAfterMs;
        case E::Maintenance:
            return EditOwnMaintenance;
        default:
            return EditParent;
    }
}

}  // namespace vantor::ui
