#pragma once

#include <QPointer>
#include <array>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "ui/support/OwnedDialog.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;

namespace vantor::app {
struct AppSettings;
}

namespace vantor::alarm {
class SenderWorkItem;
}

namespace vantor::session {
class Session;
}

namespace vantor::ui {

// "Alarming Options": the four alarm methods of SysInit.ini, each on a page
// with a trial send of the values on the page.
class TFormAlarmingSettings final : public OwnedDialog {
public:
    TFormAlarmingSettings(session::Session& session, CommandLock& lock, QWidget* parent);

    // The main window's status bar, and its help at a topic.
    std::function<void(const QString&)> onStatus;
    std::function<void(const QString&)> onHelp;

    // Whether a trial send is out.
    bool trialRunning() const { return m_trialRunning; }

protected:
    void showEvent(QShowEvent* event) override;
    void reject() override;

private:
    // A box of the window (text, or a list of words) and the setting it edits.
    struct Field {
        QWidget* box;
        int page;
        QTabWidget* tabs;  // the inner tabs that hold it, if any
    };
    enum Page { Email, Sms, HttpSms, SysLog };

    QWidget* buildEmail();
    QWidget* buildSms();
    QWidget* buildHttpSms();
    QWidget* buildSysLog();
    QLineEdit* edit(QWidget* parent, const char* name, int page, QTabWidget* tabs = nullptr,
                    bool password = false);

    void load();
    void followEnable();
    void followPage();
    bool validatePage(int page);
    void apply();
    void runTrial();
    void trialDone(const alarm::SenderWorkItem& item, int page);
    void status(const QString& text);
    QString text(const char* name) const;
    void setText(const char* name, const QString& value);
    // The check boxes and the settings they edit.
    std::array<std::pair<QCheckBox*, bool app::AppSettings::*>, 7> boxKeys() const;
    void refuse(const QString& message, QWidget* field);

    session::Session& m_session;
    QTabWidget* m_pages;
    std::map<std::string, Field> m_fields;
    QCheckBox* m_enable[4] = {};
    QCheckBox* m_smtpAuth = nullptr;
    QCheckBox* m_smsAuth = nullptr;
    QCheckBox* m_httpAuth = nullptr;
    QTabWidget* m_smsTabs = nullptr;
    QTabWidget* m_httpTabs = nullptr;
    QPlainTextEdit* m_smtpMessage = nullptr;
    QPlainTextEdit* m_httpUrl = nullptr;
    QComboBox* m_httpMethod = nullptr;
    QPlainTextEdit* m_httpResponse = nullptr;
    QComboBox* m_facility = nullptr;
    QComboBox* m_severity = nullptr;
    QWidget* m_testGroup[4] = {};
    QPushButton* m_test;
    QPushButton* m_apply;
    QLabel* m_status;
    bool m_trialRunning = false;
};

}  // namespace vantor::ui
