#pragma once

#include <QTabWidget>

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace vantor::ui {

// The settings of an FTP service and of the proxy it goes through.
class TFrameFTPForm final : public QTabWidget {
public:
    explicit TFrameFTPForm(QWidget* parent = nullptr);
    // Port "21", no TLS with the certificate verified, proxy off with type
    // "fpcmNone", the rest empty.
    void reset();
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
