#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <chrono>
#include <functional>
#include <string>
#include <unordered_set>

#include "alarm/AlarmListModel.h"
#include "engine/ServiceListModel.h"
#include "session/Session.h"
#include "ui/mainwindow/CoreTableModel.h"
#include "ui/mainwindow/ListSorting.h"
#include "ui/support/CommandLock.h"

class QAction;
class QGroupBox;
class QLabel;
class QMenu;
class QMovie;
class QSplitter;
class QSystemTrayIcon;
class QToolBar;
class QToolButton;
class QTreeView;
class QStringListModel;

namespace vantor::ui {

class ClosingNotice;
class HelpWindow;
class TFormAlarmingSettings;
class TFormOptions;
class TFormSetupScheduling;
class TFormUpdateScheduling;
class TrayMenu;

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
    using ServiceTable = CoreTableModel<engine::ServiceListModel>;
    using AlarmTable = CoreTableModel<alarm::AlarmListModel>;

    TFormMenu(session::Session& session, FormOptions options);
    ~TFormMenu() override;

    void lockCommands() override;
    void unlockCommands() override;

    // Fills the service list with a filter: "ALL", a kind, "Email" or a host.
    void FillServiceList(const std::string& filter);
    void RebuildHostTree();
    void showStatusText(const QString& text);

    // The "Close" command: the program ends without logging the stop of
    // scheduling; running checks are still waited for.
    void closeApplication();
    // Runs once the window has shut the session down and closed.
    std::function<void()> onClosed;

    bool initialised() const { return m_initialised; }
    bool closing() const { return m_closing; }
    // The state the tray icon shows: "passed", "failing" or "stopped".
    QString trayState() const { return m_trayState; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createActions();
    void createMenus();
    QWidget* createTopPanel();
    QWidget* createLists();
    void createTray();
    void sizeWindow(bool settingsFileExisted);

    void TimerInitTimer();
    void setSchedulingShown(bool running);
    void runGuarded(const std::function<void()>& command);

    // Service list commands.
    std::optional<std::string> selectedKey() const;
    void selectInCore();
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

    void toggleAlarmMessages();
    void toggleFunctionBar();
    void showAlarmMessages(bool show);
    void playAnimation();

    void onResult(const std::string& key, bool passed);
    void updateTray();

    enum class Closing { Window, CloseCommand };
    void beginClosing(Closing how);
    void finishClosing();

    session::Session& m_session;
    FormOptions m_options;
    SortDirections m_sortDirections;

    ServiceTable* m_serviceTable = nullptr;
    AlarmTable* m_alarmTable = nullptr;
    ListSortProxy* m_serviceProxy = nullptr;
    ListSortProxy* m_alarmProxy = nullptr;
    QTreeView* m_serviceList = nullptr;
    QTreeView* m_alarmList = nullptr;
    QTreeView* m_hostTree = nullptr;
    QStringListModel* m_hosts = nullptr;
    QGroupBox* m_alarmGroup = nullptr;
    QWidget* m_topPanel = nullptr;
    QToolBar* m_functionBar = nullptr;
    QToolBar* m_viewBar = nullptr;
    QLabel* m_statusText = nullptr;
    QLabel* m_animation = nullptr;
    QMovie* m_movie = nullptr;
    QMenu* m_serviceMenu = nullptr;
    TrayMenu* m_trayMenu = nullptr;
    QSystemTrayIcon* m_tray = nullptr;
    QPointer<ClosingNotice> m_notice;
    QPointer<HelpWindow> m_help;
    QPointer<TFormOptions> m_optionsWindow;
    QPointer<TFormAlarmingSettings> m_alarmWindow;
    QPointer<TFormSetupScheduling> m_wizard;
    QPointer<TFormUpdateScheduling> m_update;

    QAction* m_actionStart = nullptr;
    QAction* m_actionStop = nullptr;
    QAction* m_actionClose = nullptr;
    QAction* m_actionClearMessages = nullptr;
    QAction* m_actionFunctionBar = nullptr;
    QAction* m_actionAlarmMessages = nullptr;
    QAction* m_actionResolution = nullptr;
    QAction* m_action800 = nullptr;
    QAction* m_action1024 = nullptr;
    QAction* m_actionAlarmOptions = nullptr;
    QAction* m_actionGeneral = nullptr;
    QAction* m_actionNewService = nullptr;
    QAction* m_actionUpdateService = nullptr;
    QAction* m_actionHelp = nullptr;
    QAction* m_actionHomePage = nullptr;
    QAction* m_actionFaq = nullptr;
    QAction* m_actionAbout = nullptr;

    QToolButton* m_buttonStart = nullptr;
    QToolButton* m_buttonStop = nullptr;
    QToolButton* m_buttonClearAlarms = nullptr;
    QToolButton* m_buttonAlarm = nullptr;
    QToolButton* m_buttonGeneral = nullptr;
    QToolButton* m_buttonService = nullptr;

    QTimer m_timerInit;
    QTimer m_closingPoll;
    bool m_initialised = false;
    bool m_locked = false;
    bool m_closing = false;
    bool m_closed = false;
    Closing m_closingHow = Closing::Window;
    // The key of the selected row, kept across a refill.
    std::optional<std::string> m_keptSelection;
    // Services whose last check failed, for the tray icon.
    std::unordered_set<std::string> m_failing;
    QString m_trayState;
};

}  // namespace vantor::ui
