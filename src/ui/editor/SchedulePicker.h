// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>
#include <string>

class QButtonGroup;
class QComboBox;
class QLabel;
class QRadioButton;

namespace vantor::ui {

// "By Daily", "By Hourly" or "By Minutely" with the lists of the chosen
// one; every list starts with "Please select".
class SchedulePicker final : public QWidget {
public:
    enum class Order { HourlyFirst, DailyFirst };
    SchedulePicker(Order order, QWidget* parent = nullptr);

    // No radio chosen, every list hidden and back on "Please select".
    void reset();
    // Chooses "Daily", "Hourly" or "Minutely" and sets its lists to the
    // values (a value the list does not hold leaves "Please select").
    void load(const std::string& by, const std::string& hour, const std::string& minute);

    // Empty when none is chosen.
    QString chosenKind() const;
    // Whether a radio is chosen and each of its lists holds a value.
    bool complete() const;
    // The hour ("00" unless Daily) and minute texts of the chosen kind.
    QString hour() const;
    QString minute() const;

    QRadioButton* RadioDaily;
    QRadioButton* RadioHourly;
    QRadioButton* RadioMinutely;
    QComboBox* ComboDailyHour;
    QComboBox* ComboDailyMinute;
    QComboBox* ComboHourlyMinute;
    QComboBox* ComboMinutelyPeriod;

private:
    void showChosen();

    QButtonGroup* m_group;
    QWidget* m_daily;
    QWidget* m_hourly;
    QWidget* m_minutely;
};

}  // namespace vantor::ui
