#pragma once

#include <QTabWidget>

class QLineEdit;

namespace vantor::ui {

// The settings of a Ping service.
class TFramePingForm final : public QTabWidget {
public:
    explicit TFramePingForm(QWidget* parent = nullptr);
    void reset();

    QLineEdit* EditPingHost;
    QLineEdit* EditPingPort;
};

}  // namespace vantor::ui
