#pragma once

#include <QString>
#include <string>

class QWidget;

namespace vantor::session {
class Session;
}

namespace vantor::ui {

// What the windows' validation shares: a whole number as an operator types
// it (an optional sign and decimal digits, within an int; empty is none),
// and a text that would end a protocol line early.
bool IsInteger(const QString& text);
bool HasLineBreak(const QString& text);

// A change of service.xml that could not be written: a warning with the
// store's reason, and the same line in the system log.
void ShowStoreFailure(QWidget* parent, session::Session& session, const std::string& error);

}  // namespace vantor::ui
