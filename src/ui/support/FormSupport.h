// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <string>
#include <string_view>

class QPushButton;
class QWidget;

namespace vantor::session {
class Session;
struct EditOutcome;
}  // namespace vantor::session

namespace vantor::ui {

// What the windows' validation shares: a whole number as an operator types
// it (an optional sign and decimal digits, within an int; empty is none),
// a text that would end a protocol line early, and one with a control
// character (C0, DEL, C1), which service.xml cannot hold.
bool IsInteger(const QString& text);
bool HasLineBreak(const QString& text);
bool HasControlCharacter(const QString& text);

// A text of the core (UTF-8) as the windows show it.
QString FromStd(std::string_view text);

// Makes Apply worth pressing as soon as the operator enters one of the
// form's editable controls (a click, Tab, a list opened and left), as well
// as on an edit; the focus a window gives itself when it opens does not
// count.
void EnableApplyOnEntering(QWidget& form, QPushButton& apply);

// Writes the settings as a window applied them, over an edit of SysInit.ini
// made meanwhile (an explicit Apply wins), when the conf folder is there.
void SaveAppliedSettings(session::Session& session);

// The box an edit of the service list ends with, when it did not simply
// succeed: another record has the key, the record is gone, or service.xml
// could not be written (a warning with the reason, which the system log has
// too). True when the edit was made.
bool ShowEditOutcome(QWidget* parent, const session::EditOutcome& outcome);

}  // namespace vantor::ui
