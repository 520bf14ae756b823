// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QWidget>
#include <optional>

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace vantor::app {
struct AppSettings;
}

namespace vantor::ui {

// The "Alarm Policy" page of the alarm options: when verdicts raise alarms
// ([AlarmPolicy] of SysInit.ini) and the response-time limits per kind.
class PolicyPage final : public QWidget {
public:
    explicit PolicyPage(QWidget* parent = nullptr);

    void load(const app::AppSettings& settings);
    // Only after validate() said nothing.
    void store(app::AppSettings& settings) const;

    // What is wrong with the values, and the box that holds it.
    struct Refusal {
        QString message;
        QWidget* box;
    };
    std::optional<Refusal> validate() const;

private:
    QLineEdit* number(const char* name, const QString& label);

    QComboBox* m_alarmOn = nullptr;
    QLineEdit* m_failAfter = nullptr;
    QCheckBox* m_recovery = nullptr;
    QLineEdit* m_recoverAfter = nullptr;
    QLineEdit* m_remindEvery = nullptr;
    QCheckBox* m_flapDetect = nullptr;
    QLineEdit* m_maintenance = nullptr;
    // URL, Ping, FTP, Email: slow after, fail after (ms).
    QLineEdit* m_limits[4][2] = {};
};

}  // namespace vantor::ui
