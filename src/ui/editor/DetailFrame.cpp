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

std::optional<FormProblem> RefuseLineBreaks(QWidget* frame) {
    for (QLineEdit* edit : frame->findChildren<QLineEdit*>()) {
        if (HasLineBreak(edit->text())) {
            return FormProblem{
                QStringLiteral("%1 must not hold a line break.").arg(edit->accessibleName()), edit};
        }
    }
    for (QTreeWidget* list : frame->findChildren<QTreeWidget*>()) {
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* item = list->topLevelItem(i);
            if (HasLineBreak(item->text(0)) || HasLineBreak(item->text(1))) {
                return FormProblem{QStringLiteral("Post field %1 must not hold a line break.")
                                       .arg(item->text(0).simplified()),
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
