// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/editor/SchedulePicker.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>

namespace vantor::ui {

namespace {

const QString kPleaseSelect = QStringLiteral("Please select");

QComboBox* List(QWidget* parent, const char* name, const QStringList& items) {
    auto* list = new QComboBox(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->addItem(kPleaseSelect);
    list->addItems(items);
    return list;
}

QStringList Numbers(int count) {
    QStringList out;
    for (int i = 0; i < count; ++i) {
        out << QStringLiteral("%1").arg(i, 2, 10, QLatin1Char('0'));
    }
    return out;
}

// One radio with its labelled lists on a line.
QWidget* Line(QVBoxLayout& rows, QRadioButton* radio,
              const std::vector<std::pair<QString, QComboBox*>>& lists) {
    auto* line = new QHBoxLayout;
    line->addWidget(radio);
    auto* pickers = new QWidget(radio->parentWidget());
    auto* inner = new QHBoxLayout(pickers);
    inner->setContentsMargins(0, 0, 0, 0);
    for (const auto& [label, list] : lists) {
        inner->addWidget(new QLabel(label, pickers));
        list->setParent(pickers);
        inner->addWidget(list);
    }
    inner->addStretch(1);
    line->addWidget(pickers, 1);
    rows.addLayout(line);
    return pickers;
}

}  // namespace

SchedulePicker::SchedulePicker(Order order, QWidget* parent) : QWidget(parent) {
    setObjectName("SchedulePicker");
    auto* rows = new QVBoxLayout(this);
    rows->addWidget(new QLabel(QStringLiteral("Please select the scheduling method :"), this));
    RadioDaily = new QRadioButton(QStringLiteral("By Daily"), this);
    RadioDaily->setObjectName("RadioDaily");
    RadioHourly = new QRadioButton(QStringLiteral("By Hourly"), this);
    RadioHourly->setObjectName("RadioHourly");
    RadioMinutely = new QRadioButton(QStringLiteral("By Minutely"), this);
    RadioMinutely->setObjectName("RadioMinutely");
    m_group = new QButtonGroup(this);
    for (QRadioButton* radio : {RadioDaily, RadioHourly, RadioMinutely}) {
        m_group->addButton(radio);
        connect(radio, &QRadioButton::toggled, this, [this] { showChosen(); });
    }
    ComboDailyHour = List(this, "ComboDailyHour", Numbers(24));
    ComboDailyMinute = List(this, "ComboDailyMinute", Numbers(60));
    ComboHourlyMinute = List(this, "ComboHourlyMinute", Numbers(60));
    ComboMinutelyPeriod = List(this, "ComboMinutelyPeriod",
                               {QStringLiteral("5"), QStringLiteral("10"), QStringLiteral("15"),
                                QStringLiteral("20"), QStringLiteral("30")});
    const auto daily = [&] {
        m_daily = Line(*rows, RadioDaily,
                       {{QStringLiteral("On which hour"), ComboDailyHour},
                        {QStringLiteral("and minute"), ComboDailyMinute}});
    };
    const auto hourly = [&] {
        m_hourly =
            Line(*rows, RadioHourly, {{QStringLiteral("On which minute"), ComboHourlyMinute}});
    };
    if (order == Order::HourlyFirst) {
        hourly();
        daily();
    } else {
        daily();
        hourly();
    }
    m_minutely =
        Line(*rows, RadioMinutely, {{QStringLiteral("Every minute"), ComboMinutelyPeriod}});
    rows->addStretch(1);
    reset();
}

void SchedulePicker::reset() {
    m_group->setExclusive(false);
    for (QRadioButton* radio : {RadioDaily, RadioHourly, RadioMinutely}) {
        radio->setChecked(false);
    }
    m_group->setExclusive(true);
    for (QComboBox* list :
         {ComboDailyHour, ComboDailyMinute, ComboHourlyMinute, ComboMinutelyPeriod}) {
        list->setCurrentIndex(0);
    }
    showChosen();
}

void SchedulePicker::load(const std::string& by, const std::string& hour,
                          const std::string& minute) {
    const auto set = [](QComboBox* list, const std::string& value) {
        const int at = list->findText(QString::fromStdString(value));
        list->setCurrentIndex(at < 0 ? 0 : at);
    };
    if (by == "Daily") {
        RadioDaily->setChecked(true);
        set(ComboDailyHour, hour);
        set(ComboDailyMinute, minute);
    } else if (by == "Hourly") {
        RadioHourly->setChecked(true);
        set(ComboHourlyMinute, minute);
    } else if (by == "Minutely") {
        RadioMinutely->setChecked(true);
        set(ComboMinutelyPeriod, minute);
    }
    showChosen();
}

void SchedulePicker::showChosen() {
    m_daily->setVisible(RadioDaily->isChecked());
    m_hourly->setVisible(RadioHourly->isChecked());
    m_minutely->setVisible(RadioMinutely->isChecked());
}

QString SchedulePicker::chosenKind() const {
    if (RadioDaily->isChecked()) {
        return QStringLiteral("Daily");
    }
    if (RadioHourly->isChecked()) {
        return QStringLiteral("Hourly");
    }
    if (RadioMinutely->isChecked()) {
        return QStringLiteral("Minutely");
    }
    return {};
}

bool SchedulePicker::complete() const {
    const auto picked = [](const QComboBox* list) { return list->currentIndex() > 0; };
    if (RadioDaily->isChecked()) {
        return picked(ComboDailyHour) && picked(ComboDailyMinute);
    }
    if (RadioHourly->isChecked()) {
        return picked(ComboHourlyMinute);
    }
    if (RadioMinutely->isChecked()) {
        return picked(ComboMinutelyPeriod);
    }
    return false;
}

QString SchedulePicker::hour() const {
    return RadioDaily->isChecked() ? ComboDailyHour->currentText() : QStringLiteral("00");
}

QString SchedulePicker::minute() const {
    if (RadioDaily->isChecked()) {
        return ComboDailyMinute->currentText();
    }
    if (RadioHourly->isChecked()) {
        return ComboHourlyMinute->currentText();
    }
    return ComboMinutelyPeriod->currentText();
}

}  // namespace vantor::ui
