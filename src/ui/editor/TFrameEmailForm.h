#pragma once

#include <QTabWidget>

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace vantor::ui {

// The settings of an SMTP, POP3 or IMAP service; the method is the kind.
class TFrameEmailForm final : public QTabWidget {
public:
    explicit TFrameEmailForm(QWidget* parent = nullptr);
    // Method "SMTP", port "25", no TLS with the certificate verified, the
    // rest empty.
    void reset();
    void applyEnableRules();

    QComboBox* ComboBoxEmailMethod;
    QLineEdit* EditEmailHost;
    QLineEdit* EditEmailPort;
    QComboBox* ComboBoxEmailSecurity;
    QCheckBox* CheckBoxEmailVerifyCertificate;
    QLineEdit* EditEmailUser;
    QLineEdit* EditEmailPassword;

private:
    void choosePort();
};

}  // namespace vantor::ui
