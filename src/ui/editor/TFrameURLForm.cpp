// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/editor/TFrameURLForm.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMenu>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "ui/editor/FrameWidgets.h"
#include "ui/support/FormSupport.h"

namespace vantor::ui {

TFrameURLForm::TFrameURLForm(QWidget* parent) : QTabWidget(parent) {
    setObjectName("FrameURLForm");
    QFormLayout* rows = nullptr;
    AddPage(*this, QStringLiteral("URL"), rows);
    ComboBoxService =
        AddList(*rows, "ComboBoxService", QStringLiteral("Method"),
                {QStringLiteral("Get"), QStringLiteral("Post"), QStringLiteral("Trace"),
                 QStringLiteral("Put"), QStringLiteral("Delete"), QStringLiteral("Head"),
                 QStringLiteral("Options")});
    EditURLURL = AddEdit(*rows, "EditURLURL", QStringLiteral("URL"));
    EditURLPort = AddEdit(*rows, "EditURLPort", QStringLiteral("Port"));
    // For https, and for an http URL that redirects to https.
    CheckBoxVerifyCertificate =
        AddFieldBox(*rows, "CheckBoxVerifyCertificate", QStringLiteral("Verify certificate"));
    GroupBoxPost = new QGroupBox(QStringLiteral("Post Fields"), rows->parentWidget());
    GroupBoxPost->setObjectName("GroupBoxPost");
    auto* post = new QVBoxLayout(GroupBoxPost);
    auto* pair = new QFormLayout;
    EditURLPostFieldName = AddEdit(*pair, "EditURLPostFieldName", QStringLiteral("Field Name"));
    EditURLPostFieldValue = AddEdit(*pair, "EditURLPostFieldValue", QStringLiteral("Field Value"));
    post->addLayout(pair);
    ButtonPostAdd = new QPushButton(QStringLiteral("Add >>"), GroupBoxPost);
    ButtonPostAdd->setObjectName("ButtonPostAdd");
    ButtonPostAdd->setToolTip(QStringLiteral("Click to add this field name and value..."));
    post->addWidget(ButtonPostAdd, 0, Qt::AlignRight);
    ListViewExtraFields = new QTreeWidget(GroupBoxPost);
    ListViewExtraFields->setObjectName("ListViewExtraFields");
    ListViewExtraFields->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Value")});
    ListViewExtraFields->setRootIsDecorated(false);
    ListViewExtraFields->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListViewExtraFields->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListViewExtraFields->setContextMenuPolicy(Qt::CustomContextMenu);
    post->addWidget(ListViewExtraFields);
    rows->addRow(GroupBoxPost);

    AddPage(*this, QStringLiteral("Authentication"), rows);
    CheckBoxURLAuthentication =
        AddBox(*rows, "CheckBoxURLAuthentication", QStringLiteral("Authentication"));
    EditURLAuthUsername = AddEdit(*rows, "EditURLAuthUsername", QStringLiteral("Username"));
    EditURLAuthPassword = AddEdit(*rows, "EditURLAuthPassword", QStringLiteral("Password"), true);

    AddPage(*this, QStringLiteral("Other settings"), rows);
    EditURLCookie = AddEdit(*rows, "EditURLCookie", QStringLiteral("Cookie"));
    EditURLHeaderInfo = AddEdit(*rows, "EditURLHeaderInfo", QStringLiteral("Header Info"));
    EditURLContentType = AddEdit(*rows, "EditURLContentType", QStringLiteral("Content Type"));
    EditURLUserAgent = AddEdit(*rows, "EditURLUserAgent", QStringLiteral("User Agent"));
    EditURLReferer = AddEdit(*rows, "EditURLReferer", QStringLiteral("Referer"));

    AddPage(*this, QStringLiteral("Accept settings"), rows);
    EditURLAccept = AddEdit(*rows, "EditURLAccept", QStringLiteral("Accept"));
    EditURLAcceptCharset = AddEdit(*rows, "EditURLAcceptCharset", QStringLiteral("Accept Charset"));
    EditURLAcceptEncoding =
        AddEdit(*rows, "EditURLAcceptEncoding", QStringLiteral("Accept Encoding"));
    EditURLAcceptLanguage =
        AddEdit(*rows, "EditURLAcceptLanguage", QStringLiteral("Accept Language"));

    AddPage(*this, QStringLiteral("Proxy settings"), rows);
    CheckBoxURLProxy = AddBox(*rows, "CheckBoxURLProxy", QStringLiteral("Use Proxy Server"));
    EditURLProxyHost = AddEdit(*rows, "EditURLProxyHost", QStringLiteral("Proxy Server"));
    EditURLProxyPort = AddEdit(*rows, "EditURLProxyPort", QStringLiteral("Proxy Port"));
    CheckBoxURLProxyAuthentication =
        AddBox(*rows, "CheckBoxURLProxyAuthentication", QStringLiteral("Proxy Authentication"));
    EditURLProxyUsername = AddEdit(*rows, "EditURLProxyUsername", QStringLiteral("Username"));
    EditURLProxyPassword = AddEdit(*rows, "EditURLProxyPassword", QStringLiteral("Password"), true);

    connect(ComboBoxService, &QComboBox::currentTextChanged, this, [this] { applyEnableRules(); });
    for (QCheckBox* box :
         {CheckBoxURLAuthentication, CheckBoxURLProxy, CheckBoxURLProxyAuthentication}) {
        connect(box, &QCheckBox::toggled, this, [this] { applyEnableRules(); });
    }
    connect(ButtonPostAdd, &QPushButton::clicked, this, [this] { addPostField(); });
    connect(ListViewExtraFields, &QTreeWidget::itemDoubleClicked, this,
            [this] { removePostField(); });
    connect(ListViewExtraFields, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) {
                QMenu menu;
                menu.addAction(QStringLiteral("Remove"), this, [this] { removePostField(); });
                menu.exec(ListViewExtraFields->viewport()->mapToGlobal(at));
            });
    reset();
}

void TFrameURLForm::reset() {
    ComboBoxService->setCurrentIndex(0);
    for (QLineEdit* edit :
         {EditURLURL, EditURLPort, EditURLPostFieldName, EditURLPostFieldValue, EditURLAuthUsername,
          EditURLAuthPassword, EditURLCookie, EditURLHeaderInfo, EditURLReferer,
          EditURLAcceptCharset, EditURLAcceptEncoding, EditURLAcceptLanguage, EditURLProxyHost,
          EditURLProxyPort, EditURLProxyUsername, EditURLProxyPassword}) {
        edit->clear();
    }
    EditURLContentType->setText(QStringLiteral("text/html"));
    EditURLUserAgent->setText(QStringLiteral("Mozilla/3.0"));
    EditURLAccept->setText(QStringLiteral("text/html, */*"));
    ListViewExtraFields->clear();
    CheckBoxVerifyCertificate->setChecked(true);
    CheckBoxURLAuthentication->setChecked(false);
    CheckBoxURLProxy->setChecked(false);
    CheckBoxURLProxyAuthentication->setChecked(false);
    setCurrentIndex(0);
    applyEnableRules();
}

void TFrameURLForm::applyEnableRules() {
    const QString method = ComboBoxService->currentText();
    GroupBoxPost->setEnabled(method == QStringLiteral("Post") || method == QStringLiteral("Put"));
    const bool auth = CheckBoxURLAuthentication->isChecked();
    EditURLAuthUsername->setEnabled(auth);
    EditURLAuthPassword->setEnabled(auth);
    const bool proxy = CheckBoxURLProxy->isChecked();
    EditURLProxyHost->setEnabled(proxy);
    EditURLProxyPort->setEnabled(proxy);
    CheckBoxURLProxyAuthentication->setEnabled(proxy);
    const bool proxyAuth = CheckBoxURLProxyAuthentication->isChecked();
    EditURLProxyUsername->setEnabled(proxyAuth);
    EditURLProxyPassword->setEnabled(proxyAuth);
}

std::optional<FormProblem> TFrameURLForm::check() const {
    const bool proxy = CheckBoxURLProxy->isChecked();
    return FirstProblem(
        [&] { return RequireHost(EditURLURL, "URL"); },
        [&] { return RequireInteger(EditURLPort, "URL Port"); },
        [&] { return proxy ? RequireHost(EditURLProxyHost, "URL Proxy IP") : std::nullopt; },
        [&] { return proxy ? RequireInteger(EditURLProxyPort, "URL Proxy Port") : std::nullopt; });
}

void TFrameURLForm::read(registry::ServiceFields& f) {
    if (!CheckBoxURLAuthentication->isChecked()) {
        EditURLAuthUsername->clear();
        EditURLAuthPassword->clear();
    }
    if (!CheckBoxURLProxy->isChecked()) {
        EditURLProxyHost->clear();
        EditURLProxyPort->clear();
        EditURLProxyUsername->clear();
        EditURLProxyPassword->clear();
    }
    if (!CheckBoxURLProxyAuthentication->isChecked()) {
        EditURLProxyUsername->clear();
        EditURLProxyPassword->clear();
    }
    f.service = "URL";
    f.ip = StdText(EditURLURL->text());
    f.port = StdText(EditURLPort->text());
    f.username = StdText(EditURLAuthUsername->text());
    f.password = StdText(EditURLAuthPassword->text());
    f.proxyIp = StdText(EditURLProxyHost->text());
    f.proxyPort = PortStored(EditURLProxyPort->text());
    f.proxyUsername = StdText(EditURLProxyUsername->text());
    f.proxyPassword = StdText(EditURLProxyPassword->text());
    f.urlMethod = StdText(ComboBoxService->currentText());
    f.tlsVerify = CheckBoxVerifyCertificate->isChecked() ? "y" : "n";
    registry::UrlRequestFields& r = f.request;
    r.referer = StdText(EditURLReferer->text());
    r.cookie = StdText(EditURLCookie->text());
    r.headerData = StdText(EditURLHeaderInfo->text());
    r.userAgent = StdText(EditURLUserAgent->text());
    r.contentType = StdText(EditURLContentType->text());
    r.accept = StdText(EditURLAccept->text());
    r.acceptCharSet = StdText(EditURLAcceptCharset->text());
    r.acceptEncoding = StdText(EditURLAcceptEncoding->text());
    r.acceptLanguage = StdText(EditURLAcceptLanguage->text());
    f.extraFields.clear();
    for (int i = 0; i < ListViewExtraFields->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = ListViewExtraFields->topLevelItem(i);
        f.extraFields.push_back({StdText(item->text(0)), StdText(item->text(1))});
    }
}

void TFrameURLForm::load(const registry::ServiceFields& f) {
    ComboBoxService->setCurrentText(FromStd(f.urlMethod));
    EditURLURL->setText(FromStd(f.ip));
    EditURLPort->setText(FromStd(f.port));
    CheckBoxVerifyCertificate->setChecked(f.tlsVerify != "n");
    const bool auth = !f.username.empty() || !f.password.empty();
    CheckBoxURLAuthentication->setChecked(auth);
    if (auth) {
        EditURLAuthUsername->setText(FromStd(f.username));
        EditURLAuthPassword->setText(FromStd(f.password));
    }
    const bool proxy = HasProxy(f);
    CheckBoxURLProxy->setChecked(proxy);
    if (proxy) {
        EditURLProxyHost->setText(FromStd(f.proxyIp));
        EditURLProxyPort->setText(PortShown(f.proxyPort));
    }
    const bool proxyAuth = HasProxyLogin(f);
    CheckBoxURLProxyAuthentication->setChecked(proxyAuth);
    if (proxyAuth) {
        EditURLProxyUsername->setText(FromStd(f.proxyUsername));
        EditURLProxyPassword->setText(FromStd(f.proxyPassword));
    }
    const registry::UrlRequestFields& r = f.request;
    EditURLReferer->setText(FromStd(r.referer));
    EditURLCookie->setText(FromStd(r.cookie));
    EditURLHeaderInfo->setText(FromStd(r.headerData));
    EditURLUserAgent->setText(FromStd(r.userAgent));
    EditURLContentType->setText(FromStd(r.contentType));
    EditURLAccept->setText(FromStd(r.accept));
    EditURLAcceptCharset->setText(FromStd(r.acceptCharSet));
    EditURLAcceptEncoding->setText(FromStd(r.acceptEncoding));
    EditURLAcceptLanguage->setText(FromStd(r.acceptLanguage));
    ListViewExtraFields->clear();
    for (const registry::ExtraField& extra : f.extraFields) {
        ListViewExtraFields->addTopLevelItem(
            new QTreeWidgetItem(QStringList{FromStd(extra.name), FromStd(extra.value)}));
    }
    applyEnableRules();
}

QString TFrameURLForm::hostText() const {
    return EditURLURL->text();
}

QString TFrameURLForm::portText() const {
    return EditURLPort->text();
}

// The newest pair goes on top.
void TFrameURLForm::addPostField() {
    const QString name = EditURLPostFieldName->text();
    const QString value = EditURLPostFieldValue->text();
    if (name.isEmpty() || value.isEmpty()) {
        return;
    }
    ListViewExtraFields->insertTopLevelItem(0, new QTreeWidgetItem(QStringList{name, value}));
    EditURLPostFieldName->clear();
    EditURLPostFieldValue->clear();
    if (onStatusText) {
        onStatusText(
            QStringLiteral("You can right click or double click on the below list to remove the "
                           "selected record."));
    }
}

// The pair goes back into the edits, to be corrected and added again.
void TFrameURLForm::removePostField() {
    QTreeWidgetItem* item = ListViewExtraFields->currentItem();
    if (item == nullptr || !item->isSelected()) {
        return;
    }
    EditURLPostFieldName->setText(item->text(0));
    EditURLPostFieldValue->setText(item->text(1));
    delete item;
}

}  // namespace vantor::ui
