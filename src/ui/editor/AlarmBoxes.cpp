#include "ui/editor/AlarmBoxes.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
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
    rows->addSpacing(12);
    rows->addWidget(new QLabel(
        QStringLiteral("Depends on (the ID of another service; while it is down, this one's "
                       "failures raise no alarm):"),
        this));
    EditParent = new QLineEdit(this);
    EditParent->setObjectName("EditParent");
    EditParent->setPlaceholderText(QStringLiteral("Ping:192.168.1.10:0"));
    rows->addWidget(EditParent);
    rows->addStretch(1);
}

void AlarmBoxes::reset() {
    for (QCheckBox* b : {CheckBoxEmail, CheckBoxSMS, CheckBoxSMSByHTTP, CheckBoxSysLog}) {
        b->setChecked(false);
    }
    EditParent->clear();
}

}  // namespace vantor::ui
