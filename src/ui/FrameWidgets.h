#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTabWidget>

class QFormLayout;

namespace vantor::ui {

// Small builders the detail frames share: named controls on a tab page laid
// out as label and field rows.
QWidget* AddPage(QTabWidget& tabs, const QString& title, QFormLayout*& rows);
QLineEdit* AddEdit(QFormLayout& rows, const char* name, const QString& label,
                   bool password = false);
QComboBox* AddList(QFormLayout& rows, const char* name, const QString& label,
                   const QStringList& items);
QCheckBox* AddBox(QFormLayout& rows, const char* name, const QString& caption);
// Brings the tab page that holds the field to the front.
void ShowPageOf(QTabWidget& tabs, QWidget* field);

}  // namespace vantor::ui
