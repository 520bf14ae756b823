// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/editor/FrameWidgets.h"

#include <QFormLayout>

namespace vantor::ui {

QWidget* AddPage(QTabWidget& tabs, const QString& title, QFormLayout*& rows) {
    auto* page = new QWidget(&tabs);
    rows = new QFormLayout(page);
    rows->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    tabs.addTab(page, title);
    return page;
}

QLineEdit* AddEdit(QFormLayout& rows, const char* name, const QString& label, bool password) {
    auto* edit = new QLineEdit(rows.parentWidget());
    edit->setObjectName(QString::fromLatin1(name));
    // Validation names the field by it.
    edit->setAccessibleName(label);
    if (password) {
        edit->setEchoMode(QLineEdit::Password);
    }
    rows.addRow(label, edit);
    return edit;
}

QComboBox* AddList(QFormLayout& rows, const char* name, const QString& label,
                   const QStringList& items) {
    auto* list = new QComboBox(rows.parentWidget());
    list->setObjectName(QString::fromLatin1(name));
    list->addItems(items);
    rows.addRow(label, list);
    return list;
}

QCheckBox* AddBox(QFormLayout& rows, const char* name, const QString& caption) {
    auto* box = new QCheckBox(caption, rows.parentWidget());
    box->setObjectName(QString::fromLatin1(name));
    rows.addRow(box);
    return box;
}

QCheckBox* AddFieldBox(QFormLayout& rows, const char* name, const QString& caption) {
    auto* box = new QCheckBox(caption, rows.parentWidget());
    box->setObjectName(QString::fromLatin1(name));
    rows.addRow(QString(), box);
    return box;
}

QComboBox* AddSecurityList(QFormLayout& rows, const char* name) {
    QComboBox* list = AddList(rows, name, QStringLiteral("Security"), {});
    list->addItem(QStringLiteral("None"), QString());
    list->addItem(QStringLiteral("STARTTLS"), QStringLiteral("starttls"));
    list->addItem(QStringLiteral("Implicit TLS"), QStringLiteral("implicit"));
    return list;
}

QString SecurityWord(const QComboBox& list) {
    return list.currentData().toString();
}

bool IsImplicitTls(const QComboBox& list) {
    return SecurityWord(list) == QStringLiteral("implicit");
}

void ChooseWord(QComboBox& list, const QString& word) {
    // An entry made for an unknown word lasts until the next choice.
    constexpr int kUnknown = Qt::UserRole + 1;
    for (int i = list.count() - 1; i >= 0; --i) {
        if (list.itemData(i, kUnknown).toBool()) {
            list.removeItem(i);
        }
    }
    for (int i = 0; i < list.count(); ++i) {
        if (list.itemData(i).toString().compare(word, Qt::CaseInsensitive) == 0) {
            list.setCurrentIndex(i);
            return;
        }
    }
    list.addItem(word, word);
    list.setItemData(list.count() - 1, true, kUnknown);
    list.setCurrentIndex(list.count() - 1);
}

void ReadSecurity(QComboBox& security, QCheckBox& verify, registry::ServiceFields& f) {
    f.tls = SecurityWord(security).toStdString();
    if (f.tls.empty()) {
        verify.setChecked(true);
    }
    f.tlsVerify = verify.isChecked() ? "y" : "n";
}

void LoadSecurity(const registry::ServiceFields& f, QComboBox& security, QCheckBox& verify) {
    ChooseWord(security, QString::fromStdString(f.tls));
    verify.setChecked(f.tlsVerify != "n");
}

bool HasProxy(const registry::ServiceFields& f) {
    return !f.proxyIp.empty() && !f.proxyPort.empty() && f.proxyPort != "0";
}

bool HasProxyLogin(const registry::ServiceFields& f) {
    return !f.proxyUsername.empty() || !f.proxyPassword.empty();
}

void ShowPageOf(QTabWidget& tabs, QWidget* field) {
    for (int i = 0; i < tabs.count(); ++i) {
        if (tabs.widget(i)->isAncestorOf(field)) {
            tabs.setCurrentIndex(i);
            return;
        }
    }
}

}  // namespace vantor::ui
