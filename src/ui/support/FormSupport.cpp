#include "ui/support/FormSupport.h"

#include <QRegularExpression>

#include "app/Messages.h"
#include "session/Session.h"
#include "ui/support/MessageBox.h"

namespace vantor::ui {

bool IsInteger(const QString& text) {
    static const QRegularExpression digits(QStringLiteral("^[+-]?[0-9]+$"));
    bool ok = false;
    text.toInt(&ok);
    return ok && digits.match(text).hasMatch();
}

QString FromStd(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

bool HasLineBreak(const QString& text) {
    return text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'));
}

void SaveAppliedSettings(session::Session& session) {
    if (session.paths().CheckConfDir()) {
        session.settingsFile().SaveSettings(session.settings());
    }
}

void ShowStoreFailure(QWidget* parent, session::Session& session, const std::string& error) {
    const std::string text = std::string(app::msg::kCannotSaveServiceXml) + " : " + error;
    MessageBox::show(parent, app::MessageBoxKind::Warning, FromStd(text));
    session.log().WriteSystemLog(text, app::LogLevel::Error);
}

}  // namespace vantor::ui
