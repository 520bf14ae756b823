// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QTabWidget>

#include "ui/editor/DetailFrame.h"

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace vantor::ui {

// The settings of an SMTP, POP3 or IMAP service; the method is the kind.
class TFrameEmailForm final : public QTabWidget, public DetailFrame {
public:
    explicit TFrameEmailForm(QWidget* parent = nullptr);
    // Method "SMTP", port "25", no TLS with the certificate verified, the
    // rest empty.
    void reset() override;

    QTabWidget& tabs() override { return *this; }
    std::optional<FormProblem> check() const override;
    void read(registry::ServiceFields& service) override;
    void load(const registry::ServiceFields& service) override;
    QString hostText() const override;
    QString portText() const override;
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
