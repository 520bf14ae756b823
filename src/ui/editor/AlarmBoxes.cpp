#include "ui/editor/AlarmBoxes.h"

#include <QCheckBox>
#include <QLabel>
#include <QVBoxLayout>

namespace vantor::ui {

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
    rows->addStretch(1);
}

void AlarmBoxes::reset() {
    for (QCheckBox* b : {CheckBoxEmail, CheckBoxSMS, CheckBoxSMSByHTTP, CheckBoxSysLog}) {
        b->setChecked(false);
    }
}

}  // namespace vantor::ui
