// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/support/FormSupport.h"

#include <QAbstractSpinBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
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

namespace {

// Watches the focus coming into a form's controls.
class EnteringWatch final : public QObject {
public:
    EnteringWatch(QPushButton& apply, QObject* parent) : QObject(parent), m_apply(apply) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::FocusIn) {
            switch (static_cast<QFocusEvent*>(event)->reason()) {
                case Qt::MouseFocusReason:
                case Qt::TabFocusReason:
                case Qt::BacktabFocusReason:
                case Qt::PopupFocusReason:
                case Qt::ShortcutFocusReason:
                    m_apply.setEnabled(true);
                    break;
                default:
                    break;  // the window's own focus as it opens or comes back
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QPushButton& m_apply;
};

}  // namespace

void EnableApplyOnEntering(QWidget& form, QPushButton& apply) {
    auto* watch = new EnteringWatch(apply, &form);
    for (QWidget* control : form.findChildren<QWidget*>()) {
        if (qobject_cast<QLineEdit*>(control) != nullptr ||
            qobject_cast<QPlainTextEdit*>(control) != nullptr ||
            qobject_cast<QComboBox*>(control) != nullptr ||
            qobject_cast<QAbstractSpinBox*>(control) != nullptr) {
            control->installEventFilter(watch);
        }
    }
}

QString FromStd(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

bool HasLineBreak(const QString& text) {
    return text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'));
}

bool HasControlCharacter(const QString& text) {
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control) {
            return true;
        }
    }
    return false;
}

void SaveAppliedSettings(session::Session& session) {
    if (session.paths().CheckConfDir()) {
        session.settingsFile().SaveSettings(session.settings());
    }
}

bool ShowEditOutcome(QWidget* parent, const session::EditOutcome& outcome) {
    switch (outcome.result) {
        case session::EditResult::Done:
            return true;
        case session::EditResult::KeyExists:
            MessageBox::show(parent, app::MessageBoxKind::Information,
                             QStringLiteral("A service with this key already exists."));
            break;
        case session::EditResult::NotFound:
            MessageBox::show(parent, app::MessageBoxKind::Information,
                             FromStd(app::msg::kRecordNotFound));
            break;
        case session::EditResult::SaveFailed:
            MessageBox::show(parent, app::MessageBoxKind::Warning, FromStd(outcome.message));
            break;
    }
    return false;
}

}  // namespace vantor::ui
