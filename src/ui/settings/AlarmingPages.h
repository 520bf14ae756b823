// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <array>
#include <map>
#include <string>
#include <utility>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QTabWidget;
class QWidget;

namespace vantor::app {
struct AppSettings;
}

namespace vantor::ui {

// The boxes of the four pages of "Alarming Options", each named, and the
// setting of SysInit.ini each edits. As in a form uic makes, the boxes that
// the window's rules look at are plain members.
class AlarmingPages final {
public:
    enum Page { Email, Sms, HttpSms, SysLog };
    // A box of a page (text, or a list of words) and where it sits.
    struct Field {
        QWidget* box;
        int page;
        QTabWidget* tabs;  // the inner tabs that hold it, if any
    };

    // Builds the four pages onto `pages`.
    explicit AlarmingPages(QTabWidget& pages);
    AlarmingPages(const AlarmingPages&) = delete;
    AlarmingPages& operator=(const AlarmingPages&) = delete;

    // Every box from the settings: numbers in decimal, facility and severity
    // by their names, any method but exactly "Get" as "Post".
    void load(const app::AppSettings& settings);
    // Every box into the settings: a number box that holds no number leaves
    // its setting as it is.
    void store(app::AppSettings& settings) const;

    QString text(const char* name) const;
    void setText(const char* name, const QString& value);
    QWidget* box(const char* name) const;
    const std::map<std::string, Field>& fields() const { return m_fields; }

    QCheckBox* enable[4] = {};
    QCheckBox* smtpAuth = nullptr;
    QCheckBox* smsAuth = nullptr;
    QCheckBox* httpAuth = nullptr;
    QTabWidget* smsTabs = nullptr;
    QTabWidget* httpTabs = nullptr;
    QPlainTextEdit* smtpMessage = nullptr;
    QPlainTextEdit* httpUrl = nullptr;
    QComboBox* httpMethod = nullptr;
    QPlainTextEdit* httpResponse = nullptr;
    QComboBox* facility = nullptr;
    QComboBox* severity = nullptr;
    QWidget* testGroup[4] = {};

private:
    QWidget* buildEmail();
    QWidget* buildSms();
    QWidget* buildHttpSms();
    QWidget* buildSysLog();
    QLineEdit* edit(QWidget* parent, const char* name, int page, QTabWidget* tabs = nullptr,
                    bool password = false);
    // The check boxes and the settings they edit.
    std::array<std::pair<QCheckBox*, bool app::AppSettings::*>, 7> boxKeys() const;

    std::map<std::string, Field> m_fields;
};

}  // namespace vantor::ui
