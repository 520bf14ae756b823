#pragma once

#include <QWidget>

class QCheckBox;
class QLineEdit;

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
    // The key of the service this one depends on; empty for none.
    QLineEdit* EditParent;
};

}  // namespace vantor::ui
