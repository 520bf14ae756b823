// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QTabWidget>

#include "ui/editor/DetailFrame.h"

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace vantor::ui {

// The settings of an FTP service and of the proxy it goes through.
class TFrameFTPForm final : public QTabWidget, public DetailFrame {
public:
    explicit TFrameFTPForm(QWidget* parent = nullptr);
    // Port "21", no TLS with the certificate verified, proxy off with type
    // "fpcmNone", the rest empty.
    void reset() override;

    QTabWidget& tabs() override { return *this; }
    std::optional<FormProblem> check() const override;
    void read(registry::ServiceFields& service) override;
    void load(const registry::ServiceFields& service) override;
    QString hostText() const override;
    QString portText() const override;
    void applyEnableRules();

    QLineEdit* EditFTPHost;
    QLineEdit* EditFTPPort;
    QComboBox* ComboBoxFTPSecurity;
    QCheckBox* CheckBoxFTPVerifyCertificate;
    QLineEdit* EditFTPUserID;
    QLineEdit* EditFTPPassword;
    QCheckBox* CheckBoxProxy;
    QLineEdit* EditFTPProxyIP;
    QLineEdit* EditFTPProxyPort;
    QComboBox* ComboBoxProxyType;
    QCheckBox* CheckBoxProxyAuthentication;
    QLineEdit* EditFTPProxyUsername;
    QLineEdit* EditFTPProxyPassword;
};

}  // namespace vantor::ui
