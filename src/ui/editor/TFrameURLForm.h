// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QTabWidget>
#include <functional>

#include "ui/editor/DetailFrame.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace vantor::ui {

// The settings of a URL service: the request, authentication, the other
// request headers, the accept headers and the proxy, on five tab pages.
class TFrameURLForm final : public QTabWidget, public DetailFrame {
public:
    explicit TFrameURLForm(QWidget* parent = nullptr);

    // Defaults: method "Get", the header defaults, the certificate verified,
    // every other box off, the post fields emptied.
    void reset() override;

    QTabWidget& tabs() override { return *this; }
    std::optional<FormProblem> check() const override;
    void read(registry::ServiceFields& service) override;
    void load(const registry::ServiceFields& service) override;
    QString hostText() const override;
    QString portText() const override;
    // Applies the enable rules to the boxes as they stand.
    void applyEnableRules();

    // The text for the hosting window's status bar.
    std::function<void(const QString&)> onStatusText;

    QComboBox* ComboBoxService;
    QLineEdit* EditURLURL;
    QLineEdit* EditURLPort;
    QCheckBox* CheckBoxVerifyCertificate;
    QGroupBox* GroupBoxPost;
    QLineEdit* EditURLPostFieldName;
    QLineEdit* EditURLPostFieldValue;
    QPushButton* ButtonPostAdd;
    QTreeWidget* ListViewExtraFields;
    QCheckBox* CheckBoxURLAuthentication;
    QLineEdit* EditURLAuthUsername;
    QLineEdit* EditURLAuthPassword;
    QLineEdit* EditURLCookie;
    QLineEdit* EditURLHeaderInfo;
    QLineEdit* EditURLContentType;
    QLineEdit* EditURLUserAgent;
    QLineEdit* EditURLReferer;
    QLineEdit* EditURLAccept;
    QLineEdit* EditURLAcceptCharset;
    QLineEdit* EditURLAcceptEncoding;
    QLineEdit* EditURLAcceptLanguage;
    QCheckBox* CheckBoxURLProxy;
    QLineEdit* EditURLProxyHost;
    QLineEdit* EditURLProxyPort;
    QCheckBox* CheckBoxURLProxyAuthentication;
    QLineEdit* EditURLProxyUsername;
    QLineEdit* EditURLProxyPassword;

private:
    void addPostField();
    void removePostField();
};

}  // namespace vantor::ui
