// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/mainwindow/TFormMenu.h"

#include <QAction>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QGroupBox>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include "app/Messages.h"
#include "engine/MonitorEngine.h"
#include "session/Session.h"
#include "ui/BuildConfig.h"
#include "ui/editor/TFormSetupScheduling.h"
#include "ui/editor/TFormUpdateScheduling.h"
#include "ui/mainwindow/AboutDialog.h"
#include "ui/mainwindow/ClosingNotice.h"
#include "ui/mainwindow/DetailPane.h"
#include "ui/mainwindow/HelpWindow.h"
#include "ui/mainwindow/MainActions.h"
#include "ui/mainwindow/MainLists.h"
#include "ui/mainwindow/MainTopPanel.h"
#include "ui/mainwindow/TrayIcon.h"
#include "ui/mainwindow/TrayMenu.h"
#include "ui/settings/TFormAlarmingSettings.h"
#include "ui/settings/TFormOptions.h"
#include "ui/support/FormSupport.h"
#include "ui/support/MessageBox.h"

namespace vantor::ui {

TFormMenu::TFormMenu(session::Session& session, FormOptions options)
    : m_session(session), m_options(options) {
    setObjectName("FormMenu");
    setWindowTitle(QStringLiteral("Vantor Lite v" VANTOR_VERSION));
    setWindowIcon(QIcon(QStringLiteral(":/icons/vantor-lite.svg")));

    m_actions = std::make_unique<MainActions>(*this);
    const QString clip = FromStd(m_session.paths().binDirPath()) + QStringLiteral("korvane.gif");
    m_topPanel = new MainTopPanel(
        *m_actions, clip,
        [this](const std::string& filter) {
            runGuarded([this, filter] { FillServiceList(filter); });
        },
        this);
    m_lists = new MainLists(m_session,
                            {[this](const std::string& filter) {
                                 runGuarded([this, filter] { FillServiceList(filter); });
                             },
                             [this] { runGuarded([this] { openUpdateService(); }); },
                             [this](const QPoint& at) { m_actions->serviceMenu->popup(at); }},
                            this);
    m_lists->alarmGroup()->installEventFilter(this);
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_topPanel);
    layout->addWidget(m_lists, 1);
    setCentralWidget(central);
    m_statusText = new QLabel(this);
    m_statusText->setObjectName("StatusText");
    statusBar()->addWidget(m_statusText, 1);
    connectCommands();

    createTray();
    sizeWindow(m_options.settingsFileExisted);
    const app::AppSettings& settings = m_session.settings();
    if (!settings.showWindowAlarmLog) {
        showAlarmMessages(false);
    }
    // The function bar follows the saved setting too, as the alarm list does.
    if (!settings.showFunctionBar) {
        m_topPanel->hide();
        m_actions->functionBar->setChecked(false);
    }
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { m_tray->menu()->popup(mapToGlobal(at)); });

    // Inert until the start-up timer.
    lockCommands();
    m_timerInit.setSingleShot(true);
    m_timerInit.setInterval(m_options.initDelay);
    connect(&m_timerInit, &QTimer::timeout, this, [this] { TimerInitTimer(); });
    m_timerInit.start();
    m_closingPoll.setInterval(50);
    connect(&m_closingPoll, &QTimer::timeout, this, [this] {
        if (!m_session.hasRunningWork() || m_session.hurried()) {
            finishClosing();
        }
    });
}

TFormMenu::~TFormMenu() {
    if (m_session.started()) {
        m_session.engine().onSchedulingChanged = nullptr;
    }
}

void TFormMenu::on(QAction* action, std::function<void()> command) {
    connect(action, &QAction::triggered, this,
            [this, command = std::move(command)] { runGuarded(command); });
}

void TFormMenu::connectCommands() {
    const MainActions& a = *m_actions;
    on(a.start, [this] {
        if (m_session.started()) {
            m_session.engine().SetSchedulingState(true);
        }
    });
    on(a.stop, [this] {
        if (m_session.started()) {
            m_session.engine().SetSchedulingState(false);
        }
    });
    on(a.close, [this] { closeApplication(); });
    on(a.clearMessages, [this] { m_session.alarms().clear(); });
    on(a.functionBar, [this] { toggleFunctionBar(); });
    on(a.alarmMessages, [this] { toggleAlarmMessages(); });
    on(a.detailPane, [this] { showDetailPane(!m_lists->detailPane()->isVisible()); });
    on(a.size800, [this] {
        showNormal();
        resize(800, 600);
    });
    on(a.size1024, [this] {
        showNormal();
        resize(1024, 768);
    });
    on(a.alarmOptions, [this] { openAlarmOptions(); });
    on(a.general, [this] { openOptions(); });
    on(a.newService, [this] { openNewService(); });
    on(a.updateService, [this] { openUpdateService(); });
    on(a.help, [this] { openHelp({}); });
    on(a.homePage, [this] { openUrl(VANTOR_HOME_PAGE); });
    on(a.faq, [this] { openUrl(VANTOR_FAQ_PAGE); });
    on(a.about, [this] { openAbout(); });

    on(a.runNow, [this] { runNow(); });
    on(a.serviceStart, [this] { setRunState(true); });
    on(a.serviceStop, [this] { setRunState(false); });
    on(a.serviceNew, [this] { openNewService(); });
    on(a.serviceUpdate, [this] {
        if (m_lists->selectedKey()) {
            openUpdateService();
        }
    });
    on(a.serviceDelete, [this] { deleteService(); });
}

void TFormMenu::createTray() {
    const auto guarded = [this](std::function<void()> command) {
        return [this, command = std::move(command)] { runGuarded(command); };
    };
    TrayIcon::Commands commands;
    commands.show = guarded([this] {
        show();
        raise();
        activateWindow();
    });
    commands.hide = guarded([this] {
        // Without a tray to show it again from, a hidden window would be lost.
        if (QSystemTrayIcon::isSystemTrayAvailable()) {
            hide();
        } else {
            showMinimized();
        }
    });
    commands.help = guarded([this] { openHelp({}); });
    commands.homePage = guarded([this] { openUrl(VANTOR_HOME_PAGE); });
    commands.faq = guarded([this] { openUrl(VANTOR_FAQ_PAGE); });
    commands.about = guarded([this] { openAbout(); });
    commands.close = guarded([this] { closeApplication(); });
    m_tray = new TrayIcon(m_session.health(), *this, commands);
}

void TFormMenu::sizeWindow(bool settingsFileExisted) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect desktop = screen != nullptr ? screen->geometry() : QRect(0, 0, 1024, 768);
    const auto centre = [&desktop](const QSize& size) {
        return QPoint(desktop.x() + (desktop.width() - size.width()) / 2,
                      desktop.y() + (desktop.height() - size.height()) / 2);
    };
    if (settingsFileExisted) {
        // A stored size smaller than the window can be (0x0 by hand) opens
        // at the smallest it can, centred like any other.
        const app::AppSettings& settings = m_session.settings();
        const QSize size = QSize(settings.windowWidth, settings.windowHeight)
                               .expandedTo(minimumSizeHint())
                               .expandedTo(minimumSize());
        resize(size);
        move(centre(size));
    } else if (desktop.width() < 1024) {
        resize(800, 572);
        move(desktop.x() + (desktop.width() - 800) / 2, desktop.y());
        setWindowState(windowState() | Qt::WindowMaximized);
    } else {
        const QSize size = desktop.height() < 1024 ? QSize(900, 680) : QSize(1024, 768);
        resize(size);
        move(centre(size));
    }
}

void TFormMenu::lockCommands() {
    m_locked = true;
    menuBar()->setEnabled(false);
    m_topPanel->viewBar->setEnabled(false);
    for (QToolButton* b :
         {m_topPanel->buttonStart, m_topPanel->buttonStop, m_topPanel->buttonClearAlarms,
          m_topPanel->buttonService, m_topPanel->buttonAlarm, m_topPanel->buttonGeneral}) {
        b->setEnabled(false);
    }
    m_lists->setRowSelection(false);
}

void TFormMenu::unlockCommands() {
    // Before the start-up timer (a window opened from the tray) and while
    // closing, the window stays locked.
    if (!m_initialised || m_closing) {
        return;
    }
    m_locked = false;
    menuBar()->setEnabled(true);
    m_topPanel->viewBar->setEnabled(true);
    for (QToolButton* b : {m_topPanel->buttonClearAlarms, m_topPanel->buttonService,
                           m_topPanel->buttonAlarm, m_topPanel->buttonGeneral}) {
        b->setEnabled(true);
    }
    m_lists->setRowSelection(true);
    setSchedulingShown(m_session.started() && m_session.engine().schedulingRunning());
}

void TFormMenu::setSchedulingShown(bool running) {
    m_actions->start->setChecked(running);
    m_actions->stop->setChecked(!running);
    const bool free = !m_locked;
    m_actions->start->setEnabled(!running);
    m_actions->stop->setEnabled(running);
    m_topPanel->buttonStart->setEnabled(free && !running);
    m_topPanel->buttonStop->setEnabled(free && running);
}

void TFormMenu::showStatusText(const QString& text) {
    m_statusText->setText(text);
}

engine::TrayState TFormMenu::trayState() const {
    return m_tray->state();
}

void TFormMenu::runGuarded(const std::function<void()>& command) {
    m_session.guarded(command);
}

void TFormMenu::TimerInitTimer() {
    // Off first: the initialisation runs once, whatever it meets.
    m_timerInit.stop();
    if (m_initialised || m_closing) {
        return;
    }
    m_initialised = true;
    runGuarded([this] {
        m_session.createEngine();
        m_session.showHistoryInList();
        // The pane reads the history the engine has made.
        if (m_session.settings().showDetailPane) {
            showDetailPane(true);
        }
        m_session.engine().onSchedulingChanged = [this](bool running, std::string_view text) {
            setSchedulingShown(running);
            showStatusText(FromStd(text));
        };
        unlockCommands();
        m_session.start();
    });
}

void TFormMenu::FillServiceList(const std::string& filter) {
    m_session.edits().showServices(filter);
}

void TFormMenu::runNow() {
    if (!m_lists->selectedKey() || !m_session.started()) {
        return;
    }
    m_lists->selectInCore();
    m_session.engine().MenuServiceRunNowClick();
}

void TFormMenu::setRunState(bool start) {
    if (!m_lists->selectedKey() || !m_session.started()) {
        return;
    }
    m_lists->selectInCore();
    if (start) {
        m_session.engine().MenuServiceStartClick();
    } else {
        m_session.engine().MenuServiceStopClick();
    }
}

void TFormMenu::deleteService() {
    const std::optional<std::string> key = m_lists->selectedKey();
    if (!key) {
        return;
    }
    const session::EditOutcome deleted = m_session.edits().remove(*key);
    ShowEditOutcome(this, deleted);
}

void TFormMenu::present(QWidget& window) {
    window.show();
    window.raise();
    window.activateWindow();
}

void TFormMenu::openAlarmOptions() {
    if (!m_session.started()) {
        return;
    }
    if (!m_alarmWindow) {
        m_alarmWindow = new TFormAlarmingSettings(m_session, *this, this);
        m_alarmWindow->onStatus = [this](const QString& text) { showStatusText(text); };
        m_alarmWindow->onHelp = [this](const QString& topic) { openHelp(topic); };
    }
    present(*m_alarmWindow);
}

void TFormMenu::openOptions() {
    if (!m_optionsWindow) {
        m_optionsWindow = new TFormOptions(m_session, *this, this);
        m_optionsWindow->onStatus = [this](const QString& text) { showStatusText(text); };
    }
    present(*m_optionsWindow);
}

void TFormMenu::openNewService() {
    if (!m_session.started()) {
        return;
    }
    if (!m_wizard) {
        m_wizard = new TFormSetupScheduling(m_session, *this, this);
        m_wizard->onHelp = [this](const QString& topic) { openHelp(topic); };
    }
    present(*m_wizard);
}

// Opens the dialog on the selected record, when there is one.
void TFormMenu::openUpdateService() {
    if (!m_session.started()) {
        return;
    }
    if (!m_update) {
        m_update = new TFormUpdateScheduling(m_session, *this, this);
    }
    const std::optional<std::string> key = m_lists->selectedKey();
    present(*m_update);
    if (key) {
        m_update->loadRecord(*key);
    }
    m_update->showStatus(QStringLiteral(
        "Please select any service for update or delete by double click on below records."));
}

void TFormMenu::openAbout() {
    auto* about = new AboutDialog(*this, this);
    about->setAttribute(Qt::WA_DeleteOnClose);
    about->open();
}

void TFormMenu::openHelp(const QString& topic) {
    if (!m_help) {
        m_help = new HelpWindow(FromStd(m_session.paths().helpFilePath()), this);
    }
    m_help->showTopic(topic);
}

void TFormMenu::openUrl(const char* url) {
    QDesktopServices::openUrl(QUrl(QString::fromUtf8(url)));
}

void TFormMenu::toggleAlarmMessages() {
    showAlarmMessages(!m_lists->alarmGroup()->isVisible());
}

void TFormMenu::showAlarmMessages(bool show) {
    m_lists->showAlarmMessages(show);
    m_actions->alarmMessages->setChecked(show);
    m_session.settings().showWindowAlarmLog = show;
}

void TFormMenu::showDetailPane(bool show) {
    m_lists->showDetailPane(show);
    m_actions->detailPane->setChecked(show);
    m_session.settings().showDetailPane = show;
}

void TFormMenu::toggleFunctionBar() {
    const bool show = !m_topPanel->isVisible();
    m_topPanel->setVisible(show);
    m_actions->functionBar->setChecked(show);
    m_session.settings().showFunctionBar = show;
}

void TFormMenu::closeApplication() {
    beginClosing(Closing::CloseCommand);
}

void TFormMenu::closeEvent(QCloseEvent* event) {
    if (m_closed) {
        event->accept();
        return;
    }
    event->ignore();
    beginClosing(Closing::Window);
}

// Closing does not block the window: waiting checks complete as cancelled,
// and the running ones are waited for while their results still come in and
// are stored. Both ways of closing wait; only closing the window logs the
// stop of scheduling.
void TFormMenu::beginClosing(Closing how) {
    if (m_closing) {
        return;
    }
    m_closing = true;
    m_closingHow = how;
    m_timerInit.stop();
    lockCommands();
    m_session.beginShutdown();
    if (!m_session.hasRunningWork()) {
        finishClosing();
        return;
    }
    if (!m_notice) {
        m_notice = new ClosingNotice(this);
    }
    m_notice->show();
    m_notice->raise();
    m_closingPoll.start();
}

void TFormMenu::finishClosing() {
    m_closingPoll.stop();
    if (m_notice) {
        m_notice->close();
    }
    app::AppSettings& settings = m_session.settings();
    const QRect normal = isMaximized() ? normalGeometry() : geometry();
    if (normal.isValid()) {
        settings.windowWidth = normal.width();
        settings.windowHeight = normal.height();
    }
    m_session.shutDown(m_closingHow == Closing::Window ? session::Session::Shutdown::WaitAndLog
                                                       : session::Session::Shutdown::WaitQuietly);
    m_tray->hide();
    if (m_help) {
        m_help->close();
    }
    m_closed = true;
    close();
    if (onClosed) {
        onClosed();
    }
}

void TFormMenu::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
        m_topPanel->playAnimation();
    }
}

bool TFormMenu::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_lists->alarmGroup() && event->type() == QEvent::MouseButtonRelease &&
        menuBar()->isEnabled()) {
        showAlarmMessages(false);
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

}  // namespace vantor::ui
