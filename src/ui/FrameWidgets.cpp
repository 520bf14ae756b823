#include "ui/FrameWidgets.h"

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

void ShowPageOf(QTabWidget& tabs, QWidget* field) {
    for (int i = 0; i < tabs.count(); ++i) {
        if (tabs.widget(i)->isAncestorOf(field)) {
            tabs.setCurrentIndex(i);
            return;
        }
    }
}

}  // namespace vantor::ui
