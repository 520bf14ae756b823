// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QTabWidget>

class QComboBox;
class QLineEdit;

namespace vantor::ui {

// The settings of a database service (no check runs for it yet).
class TFrameDatabaseForm final : public QTabWidget {
public:
    explicit TFrameDatabaseForm(QWidget* parent = nullptr);
    // Method "MySQL", port "3306", the rest empty.
    void reset();

    QComboBox* ComboBoxDatabaseMethod;
    QLineEdit* EditDatabaseHost;
    QLineEdit* EditDatabasePort;
    QLineEdit* EditDatabaseUser;
    QLineEdit* EditDatabasePassword;
    QLineEdit* EditDatabaseName;
};

}  // namespace vantor::ui
