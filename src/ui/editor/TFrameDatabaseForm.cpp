// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/editor/TFrameDatabaseForm.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLineEdit>

#include "ui/editor/FrameWidgets.h"

namespace vantor::ui {

TFrameDatabaseForm::TFrameDatabaseForm(QWidget* parent) : QTabWidget(parent) {
    setObjectName("FrameDatabaseForm");
    QFormLayout* rows = nullptr;
    AddPage(*this, QStringLiteral("Database"), rows);
    ComboBoxDatabaseMethod =
        AddList(*rows, "ComboBoxDatabaseMethod", QStringLiteral("Database"),
                {QStringLiteral("MySQL"), QStringLiteral("DB2"), QStringLiteral("Interbase"),
                 QStringLiteral("Informix"), QStringLiteral("MSSQL"), QStringLiteral("Oracle")});
    EditDatabaseHost = AddEdit(*rows, "EditDatabaseHost", QStringLiteral("Host"));
    EditDatabasePort = AddEdit(*rows, "EditDatabasePort", QStringLiteral("Port"));
    EditDatabaseUser = AddEdit(*rows, "EditDatabaseUser", QStringLiteral("User ID"));
    EditDatabasePassword = AddEdit(*rows, "EditDatabasePassword", QStringLiteral("Password"), true);
    EditDatabaseName = AddEdit(*rows, "EditDatabaseName", QStringLiteral("DB Name"));
    reset();
}

void TFrameDatabaseForm::reset() {
    ComboBoxDatabaseMethod->setCurrentIndex(0);
    for (QLineEdit* edit :
         {EditDatabaseHost, EditDatabaseUser, EditDatabasePassword, EditDatabaseName}) {
        edit->clear();
    }
    EditDatabasePort->setText(QStringLiteral("3306"));
}

}  // namespace vantor::ui
