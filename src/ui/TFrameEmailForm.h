#pragma once

#include <QTabWidget>

class QComboBox;
class QLineEdit;

namespace vantor::ui {

// The settings of an SMTP, POP3 or IMAP service; the method is the kind.
class TFrameEmailForm final : public QTabWidget {
public:
    explicit TFrameEmailForm(QWidget* parent = nullptr);
    // Method "SMTP", port "25", the rest empty.
    void reset();

    QComboBox* ComboBoxEmailMethod;
    QLineEdit* EditEmailHost;
    QLineEdit* EditEmailPort;
    QLineEdit* EditEmailUser;
    QLineEdit* EditEmailPassword;
};

}  // namespace vantor::ui
