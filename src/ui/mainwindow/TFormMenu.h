// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "engine/ServiceHealth.h"
#include "ui/support/CommandLock.h"

class QLabel;

namespace vantor::session {
class Session;
}

namespace vantor::ui {

class ClosingNotice;
class HelpWindow;
class MainActions;
class MainLists;
class MainTopPanel;
class TFormAlarmingSettings;
class TFormOptions;
class TFormSetupScheduling;
class TFormUpdateScheduling;
class TrayIcon;

struct FormOptions {
    // From creation to the delayed initialisation; the window is inert
    // until then.
    std::chrono::milliseconds initDelay{3000};
    // Whether SysInit.ini existed at start-up: without it the window takes
    // its size from the screen.
    bool settingsFileExisted = true;
};

// The main window: the service list with its last results, the alarm list,
// the host tree, the menus and tool bars, the status bar and the tray icon.
// It runs the delayed initialisation and both ways of closing.
class TFormMenu final : public QMainWindow, public CommandLock {
public:
    TFormMenu(session::Session& session, FormOptions options);
    ~TFormMenu() override;

    void lockCommands() override;
    void unlockCommands() override;

    // Fills the service list with a filter: "ALL", a kind, "Email" or a host.
    void FillServiceList(const std::string& filter);
    void showStatusText(const QString& text);

    // The "Close" command: the program ends without logging the stop of
    // scheduling; running checks are still waited for.
    void closeApplication();
    // Runs once the window has shut the session down and closed.
    std::function<void()> onClosed;

    bool initialised() const { return m_initialised; }
    bool closing() const { return m_closing; }
    // What the tray icon shows.
    engine::TrayState trayState() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void connectCommands();
    void createTray();
    void sizeWindow(bool settingsFileExisted);

    void TimerInitTimer();
    void setSchedulingShown(bool running);
    void runGuarded(const std::function<void()>& command);
    // An action's command, run guarded.
    void on(QAction* action, std::function<void()> command);

    // Service list commands.
    void runNow();
    void setRunState(bool start);
    void deleteService();
    void openOptions();
    void openAlarmOptions();
    void openNewService();
    void openUpdateService();
    void openAbout();
    void openHelp(const QString& topic);
    void openUrl(const char* url);
    // Shows a window of the program that is already made.
    void present(QWidget& window);

    void toggleAlarmMessages();
    void toggleFunctionBar();
    void showDetailPane(bool show);
    void showAlarmMessages(bool show);

    enum class Closing { Window, CloseCommand };
    void beginClosing(Closing how);
    void finishClosing();

    session::Session& m_session;
    FormOptions m_options;
    std::unique_ptr<MainActions> m_actions;
    MainTopPanel* m_topPanel = nullptr;
    MainLists* m_lists = nullptr;
    TrayIcon* m_tray = nullptr;
    QLabel* m_statusText = nullptr;
    QPointer<ClosingNotice> m_notice;
    QPointer<HelpWindow> m_help;
    QPointer<TFormOptions> m_optionsWindow;
    QPointer<TFormAlarmingSettings> m_alarmWindow;
    QPointer<TFormSetupScheduling> m_wizard;
    QPointer<TFormUpdateScheduling> m_update;

    QTimer m_timerInit;
    QTimer m_closingPoll;
    bool m_initialised = false;
    bool m_locked = false;
    bool m_closing = false;
    bool m_closed = false;
    Closing m_closingHow = Closing::Window;
};

}  // namespace vantor::ui
