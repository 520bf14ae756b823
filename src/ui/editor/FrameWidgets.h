// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTabWidget>

#include "registry/ServiceFields.h"

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
// A box in the field column, under the row it belongs to.
QCheckBox* AddFieldBox(QFormLayout& rows, const char* name, const QString& caption);

// The "Security" list of a mail or FTP service: "None", "STARTTLS" and
// "Implicit TLS", whose words in the record are "", "starttls" and
// "implicit".
QComboBox* AddSecurityList(QFormLayout& rows, const char* name);
QString SecurityWord(const QComboBox& list);
bool IsImplicitTls(const QComboBox& list);
// Chooses the entry whose data is `word`, in any case. A word the list does
// not know gets an entry of its own, until the next choice: a save keeps it
// rather than turning the setting into another one (a mail service into one
// without TLS).
void ChooseWord(QComboBox& list, const QString& word);
// The TLS of a mail or FTP service: with no security the box says nothing,
// and is set back to its default before it is read.
void ReadSecurity(QComboBox& security, QCheckBox& verify, registry::ServiceFields& f);
void LoadSecurity(const registry::ServiceFields& f, QComboBox& security, QCheckBox& verify);
// Whether a record's proxy is in use (a host and a port other than "0"),
// and whether it logs in to it.
bool HasProxy(const registry::ServiceFields& f);
bool HasProxyLogin(const registry::ServiceFields& f);
// Brings the tab page that holds the field to the front.
void ShowPageOf(QTabWidget& tabs, QWidget* field);

}  // namespace vantor::ui
