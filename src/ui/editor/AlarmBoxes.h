#pragma once

#include <QWidget>

class QCheckBox;

namespace vantor::ui {

// The alarm methods of one service.
class AlarmBoxes final : public QWidget {
public:
    explicit AlarmBoxes(QWidget* parent = nullptr);
    void reset();

    QCheckBox* CheckBoxEmail;
    QCheckBox* CheckBoxSMS;
    QCheckBox* CheckBoxSMSByHTTP;
    QCheckBox* CheckBoxSysLog;
};

}  // namespace vantor::ui
