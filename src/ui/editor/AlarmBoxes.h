// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

#include "registry/ServiceFields.h"

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace vantor::ui {

// The alarm methods of one service, the service it depends on and its own
// alarm policy (each value empty where the one for all holds).
class AlarmBoxes final : public QWidget {
public:
    explicit AlarmBoxes(QWidget* parent = nullptr);
    void reset();
    void read(registry::ServiceFields& f) const;
    void load(const registry::ServiceFields& f) const;
    // The control of one of the policy's values.
    QWidget* control(registry::Element element) const;

    QCheckBox* CheckBoxEmail;
    QCheckBox* CheckBoxSMS;
    QCheckBox* CheckBoxSMSByHTTP;
    QCheckBox* CheckBoxSysLog;
    // The key of the service this one depends on; empty for none.
    QLineEdit* EditParent;
    QComboBox* ComboOwnAlarmOn;
    QLineEdit* EditOwnFailAfter;
    QComboBox* ComboOwnRecovery;
    QLineEdit* EditOwnRecoverAfter;
    QLineEdit* EditOwnRemindEvery;
    QComboBox* ComboOwnFlapDetect;
    QLineEdit* EditOwnSlowAfterMs;
    QLineEdit* EditOwnFailAfterMs;
    QLineEdit* EditOwnMaintenance;
};

}  // namespace vantor::ui
