// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/editor/DetailFrame.h"

#include <QLineEdit>
#include <QTreeWidget>

#include "ui/support/FormSupport.h"

namespace vantor::ui {

std::optional<FormProblem> RequireHost(QLineEdit* edit, const char* label) {
    if (edit->text().isEmpty()) {
        return FormProblem{
            QStringLiteral("%1 host field is empty.").arg(QString::fromLatin1(label)), edit};
    }
    return std::nullopt;
}

std::optional<FormProblem> RequireInteger(QLineEdit* edit, const char* label) {
    if (!IsInteger(edit->text())) {
        return FormProblem{
            QStringLiteral("%1 is invalid integer or empty.").arg(QString::fromLatin1(label)),
            edit};
    }
    return std::nullopt;
}

std::optional<FormProblem> RefuseControlCharacters(QWidget* frame) {
    // What a line break gets is said first: it is the commoner mistake.
    const auto refusal = [](const QString& text) -> const char* {
        if (HasLineBreak(text)) {
            return "must not hold a line break.";
        }
        return HasControlCharacter(text) ? "must not hold a control character." : nullptr;
    };
    for (QLineEdit* edit : frame->findChildren<QLineEdit*>()) {
        if (const char* why = refusal(edit->text())) {
            return FormProblem{
                QStringLiteral("%1 %2").arg(edit->accessibleName(), QLatin1String(why)), edit};
        }
    }
    for (QTreeWidget* list : frame->findChildren<QTreeWidget*>()) {
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* item = list->topLevelItem(i);
            const char* why = refusal(item->text(0));
            why = why != nullptr ? why : refusal(item->text(1));
            if (why != nullptr) {
                return FormProblem{QStringLiteral("Post field %1 %2")
                                       .arg(item->text(0).simplified(), QLatin1String(why)),
                                   list};
            }
        }
    }
    return std::nullopt;
}

std::string StdText(const QString& text) {
    return text.toStdString();
}

QString PortShown(std::string_view port) {
    return port == "0" ? QString() : FromStd(port);
}

std::string PortStored(const QString& text) {
    return text.isEmpty() ? std::string("0") : StdText(text);
}

}  // namespace vantor::ui
