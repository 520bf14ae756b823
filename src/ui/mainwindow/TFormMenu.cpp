#include "ui/mainwindow/TFormMenu.h"

#include <QAction>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMovie>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QStringListModel>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>

#include "app/Messages.h"
#include "app/Words.h"
#include "engine/CheckResult.h"
#include "engine/MonitorEngine.h"
#include "ui/BuildConfig.h"
#include "ui/editor/TFormSetupScheduling.h"
#include "ui/editor/TFormUpdateScheduling.h"
#include "ui/mainwindow/AboutDialog.h"
#include "ui/mainwindow/ClosingNotice.h"
#include "ui/mainwindow/HelpWindow.h"
#include "ui/mainwindow/TrayMenu.h"
#include "ui/settings/TFormAlarmingSettings.h"
#include "ui/settings/TFormOptions.h"
#include "ui/support/FormSupport.h"
#include "ui/support/MessageBox.h"

namespace vantor::ui {

namespace {

QKeySequence CtrlAlt(Qt::Key key) {
    return QKeySequence(Qt::CTRL | Qt::ALT | key);
}

// The alarm list's height when it is shown again.
constexpr int kAlarmGroupHeight = 120;

}  // namespace

TFormMenu::TFormMenu(session::Session& session, FormOptions options)
    : m_session(session), m_options(options) {
    setObjectName("FormMenu");
    setWindowTitle(QStringLiteral("Vantor Lite v" VANTOR_VERSION));
    setWindowIcon(QIcon(QStringLiteral(":/icons/vantor-lite.svg")));

    createActions();
    createMenus();
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(createTopPanel());
    layout->addWidget(createLists(), 1);
    setCentralWidget(central);
    m_statusText = new QLabel(this);
    m_statusText->setObjectName("StatusText");
    statusBar()->addWidget(m_statusText, 1);

    createTray();
    sizeWindow(m_options.settingsFileExisted);
    const app::AppSettings& settings = m_session.settings();
    if (!settings.showWindowAlarmLog) {
        showAlarmMessages(false);
    }
    // The function bar follows the saved setting too, as the alarm list does.
    if (!settings.showFunctionBar) {
        m_topPanel->hide();
        m_actionFunctionBar->setChecked(false);
    }
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { m_trayMenu->popup(mapToGlobal(at)); });

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
        m_session.engine().onProductResult = nullptr;
    }
}

void TFormMenu::createActions() {
    const auto action = [this](const char* name, const QString& text, const QString& hint,
                               const QKeySequence& shortcut = {}) {
        auto* a = new QAction(text, this);
        a->setObjectName(QString::fromLatin1(name));
        a->setStatusTip(hint);
        a->setToolTip(hint);
        a->setShortcut(shortcut);
        return a;
    };
    m_actionStart =
        action("ActionStart", QStringLiteral("S&tart"),
               QStringLiteral("Start receiving SysLog messages..."), CtrlAlt(Qt::Key_S));
    m_actionStop = action("ActionStop", QStringLiteral("St&op"),
                          QStringLiteral("Stop receiving SysLog messages..."), CtrlAlt(Qt::Key_T));
    m_actionStart->setCheckable(true);
    m_actionStop->setCheckable(true);
    m_actionClose = action("ActionClose", QStringLiteral("&Close"),
                           QStringLiteral("Close the application..."), CtrlAlt(Qt::Key_Q));
    m_actionClearMessages = action("ActionClearMessages", QStringLiteral("&Clear Alarm Messages"),
                                   QStringLiteral("Clear alarm messages..."), CtrlAlt(Qt::Key_C));
    m_actionFunctionBar =
        action("ActionFunctionBar", QStringLiteral("&Function Bar"),
               QStringLiteral("Show or hide the function bar..."), QKeySequence(Qt::Key_F7));
    m_actionAlarmMessages =
        action("ActionAlarmMessages", QStringLiteral("&Alarm Messages"),
               QStringLiteral("Show or hide the alarm messages..."), QKeySequence(Qt::Key_F8));
    m_actionFunctionBar->setCheckable(true);
    m_actionFunctionBar->setChecked(true);
    m_actionAlarmMessages->setCheckable(true);
    m_actionAlarmMessages->setChecked(true);
    m_actionResolution = action("ActionResolution", QStringLiteral("&Resolution"),
                                QStringLiteral("Change the window size..."));
    m_action800 = action("Action800X600", QStringLiteral("&800X600"),
                         QStringLiteral("Change the window into 800 X 600 in width and height..."));
    m_action1024 =
        action("Action1024X768", QStringLiteral("&1024X768"),
               QStringLiteral("Change the window into 1024 X 768 in width and height..."));
    m_actionAlarmOptions = action("ActionAlarmOptions", QStringLiteral("&Alarm Options"),
                                  QStringLiteral("Setup the alarm methods..."));
    m_actionGeneral = action("ActionGeneral", QStringLiteral("&General"),
                             QStringLiteral("Setup the general options..."));
    m_actionNewService = action("ActionNewService", QStringLiteral("&New Service"),
                                QStringLiteral("Setup new service..."));
    m_actionUpdateService = action("ActionUpdateService", QStringLiteral("Update Service"),
                                   QStringLiteral("Update existing service..."));
    m_actionHelp = action("ActionHelp", QStringLiteral("&Vantor Help"),
                          QStringLiteral("Show the help menu..."), QKeySequence(Qt::Key_F12));
    m_actionHomePage =
        action("ActionHomePage", QStringLiteral("&Korvane Home Page"),
               QStringLiteral("Open Korvane home page..."), QKeySequence(Qt::Key_F11));
    m_actionFaq = action("ActionFAQ", QStringLiteral("&FAQ Page"),
                         QStringLiteral("Open the Q&&A web page..."), QKeySequence(Qt::Key_F10));
    m_actionAbout = action("ActionAbout", QStringLiteral("&About..."), QStringLiteral("About..."),
                           QKeySequence(Qt::Key_F9));

    const auto on = [this](QAction* a, std::function<void()> command) {
        connect(a, &QAction::triggered, this,
                [this, command = std::move(command)] { runGuarded(command); });
    };
    on(m_actionStart, [this] {
        if (m_session.started()) {
            m_session.engine().SetSchedulingState(true);
        }
    });
    on(m_actionStop, [this] {
        if (m_session.started()) {
            m_session.engine().SetSchedulingState(false);
        }
    });
    on(m_actionClose, [this] { closeApplication(); });
    on(m_actionClearMessages, [this] { m_session.alarms().clear(); });
    on(m_actionFunctionBar, [this] { toggleFunctionBar(); });
    on(m_actionAlarmMessages, [this] { toggleAlarmMessages(); });
    on(m_action800, [this] {
        showNormal();
        resize(800, 600);
    });
    on(m_action1024, [this] {
        showNormal();
        resize(1024, 768);
    });
    on(m_actionAlarmOptions, [this] { openAlarmOptions(); });
    on(m_actionGeneral, [this] { openOptions(); });
    on(m_actionNewService, [this] { openNewService(); });
    on(m_actionUpdateService, [this] { openUpdateService(); });
    on(m_actionHelp, [this] { openHelp({}); });
    on(m_actionHomePage, [this] { openUrl(VANTOR_HOME_PAGE); });
    on(m_actionFaq, [this] { openUrl(VANTOR_FAQ_PAGE); });
    on(m_actionAbout, [this] { openAbout(); });
}

void TFormMenu::createMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName("MainMenu");
    QMenu* vantor = bar->addMenu(QStringLiteral("&Vantor"));
    vantor->setSeparatorsCollapsible(false);
    vantor->addSeparator();
    vantor->addAction(m_actionStart);
    vantor->addAction(m_actionStop);
    vantor->addSeparator();
    vantor->addAction(m_actionClose);

    QMenu* edit = bar->addMenu(QStringLiteral("&Edit"));
    edit->addAction(m_actionClearMessages);

    QMenu* view = bar->addMenu(QStringLiteral("&View"));
    view->setSeparatorsCollapsible(false);
    view->addSeparator();
    view->addAction(m_actionFunctionBar);
    view->addAction(m_actionAlarmMessages);
    view->addSeparator();
    auto* resolution = new QMenu(this);
    resolution->addAction(m_action800);
    resolution->addAction(m_action1024);
    m_actionResolution->setMenu(resolution);
    view->addAction(m_actionResolution);

    QMenu* alarms = bar->addMenu(QStringLiteral("&Alarms"));
    alarms->addAction(m_actionAlarmOptions);

    QMenu* options = bar->addMenu(QStringLiteral("&Options"));
    options->addAction(m_actionGeneral);
    QMenu* service = options->addMenu(QStringLiteral("&Service"));
    service->addAction(m_actionNewService);
    service->addAction(m_actionUpdateService);

    QMenu* help = bar->addMenu(QStringLiteral("He&lp"));
    help->addAction(m_actionHelp);
    help->addSeparator();
    help->addAction(m_actionHomePage);
    help->addAction(m_actionFaq);
    help->addSeparator();
    help->addAction(m_actionAbout);
    for (QMenu* menu : {vantor, edit, view, alarms, options, help, service, resolution}) {
        menu->setToolTipsVisible(true);
    }

    m_serviceMenu = new QMenu(this);
    m_serviceMenu->setObjectName("PopupMenuService");
    m_serviceMenu->setToolTipsVisible(true);
    const auto item = [this](const char* name, const QString& text, const QString& hint,
                             std::function<void()> command) {
        QAction* a = m_serviceMenu->addAction(text);
        a->setObjectName(QString::fromLatin1(name));
        a->setStatusTip(hint);
        a->setToolTip(hint);
        connect(a, &QAction::triggered, this,
                [this, command = std::move(command)] { runGuarded(command); });
    };
    item("MenuServiceRunNow", QStringLiteral("Run Now"), QStringLiteral("Run this service now..."),
         [this] { runNow(); });
    m_serviceMenu->addSeparator();
    item("MenuServiceStart", QStringLiteral("Start"), QStringLiteral("Start this service now..."),
         [this] { setRunState(true); });
    item("MenuServiceStop", QStringLiteral("Stop"), QStringLiteral("Stop this service now..."),
         [this] { setRunState(false); });
    m_serviceMenu->addSeparator();
    item("MenuServiceNew", QStringLiteral("&New Service"), QStringLiteral("Setup new service..."),
         [this] { openNewService(); });
    item("MenuServiceUpdate", QStringLiteral("Update Service"),
         QStringLiteral("Update existing service..."), [this] {
             if (selectedKey()) {
                 openUpdateService();
             }
         });
    item("MenuServiceDelete", QStringLiteral("Delete Service"), QString(),
         [this] { deleteService(); });
}

QWidget* TFormMenu::createTopPanel() {
    m_topPanel = new QWidget(this);
    m_topPanel->setObjectName("PanelTop");
    auto* rows = new QVBoxLayout(m_topPanel);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(0);

    m_functionBar = new QToolBar(QStringLiteral("Functions"), m_topPanel);
    m_functionBar->setObjectName("ToolBarFunction");
    m_functionBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_functionBar->setIconSize(QSize(24, 24));
    QStyle* look = style();
    const auto button = [this, look](const char* name, const QString& text,
                                     QStyle::StandardPixmap icon, QAction* action) {
        auto* b = new QToolButton(m_functionBar);
        b->setObjectName(QString::fromLatin1(name));
        b->setText(text);
        b->setIcon(look->standardIcon(icon));
        b->setToolTip(action->toolTip());
        b->setStatusTip(action->statusTip());
        b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        b->setAutoRaise(true);
        connect(b, &QToolButton::clicked, action, &QAction::trigger);
        m_functionBar->addWidget(b);
        return b;
    };
    m_buttonStart =
        button("ToolButtonStart", QStringLiteral("Start"), QStyle::SP_MediaPlay, m_actionStart);
    m_buttonStop =
        button("ToolButtonStop", QStringLiteral("Stop"), QStyle::SP_MediaStop, m_actionStop);
    m_buttonClearAlarms = button("ToolButtonClearAlarms", QStringLiteral("Clear Alarms"),
                                 QStyle::SP_DialogResetButton, m_actionClearMessages);
    m_buttonAlarm = button("ToolButtonAlarm", QStringLiteral("Alarm"), QStyle::SP_MessageBoxWarning,
                           m_actionAlarmOptions);
    m_buttonGeneral = button("ToolButtonGeneral", QStringLiteral("General"),
                             QStyle::SP_FileDialogDetailedView, m_actionGeneral);
    m_buttonService = button("ToolButtonService", QStringLiteral("&Service"),
                             QStyle::SP_FileDialogNewFolder, m_actionNewService);
    m_buttonService->setToolTip(QStringLiteral("Setup new service or update existing services..."));
    m_buttonService->setStatusTip(m_buttonService->toolTip());
    auto* serviceDrop = new QMenu(m_buttonService);
    serviceDrop->addAction(m_actionNewService);
    serviceDrop->addAction(m_actionUpdateService);
    m_buttonService->setMenu(serviceDrop);
    m_buttonService->setPopupMode(QToolButton::MenuButtonPopup);

    m_animation = new QLabel(m_topPanel);
    m_animation->setObjectName("Animate");
    const QString clip = FromStd(m_session.paths().binDirPath()) + QStringLiteral("korvane.gif");
    if (QFileInfo(clip).isFile()) {
        m_movie = new QMovie(clip, QByteArray(), this);
        if (m_movie->isValid()) {
            m_animation->setMovie(m_movie);
            // Played once at start too, so that its finished picture shows
            // even where the window is never activated.
            m_movie->start();
            // Played once per activation, up to its 30th frame.
            connect(m_movie, &QMovie::frameChanged, this, [this](int frame) {
                const int last = m_movie->frameCount() > 0 ? m_movie->frameCount() - 1 : 29;
                if (frame >= std::min(29, last)) {
                    m_movie->setPaused(true);
                }
            });
        } else {
            delete m_movie;
            m_movie = nullptr;
        }
    }
    auto* top = new QHBoxLayout;
    top->setContentsMargins(0, 0, 8, 0);
    top->addWidget(m_functionBar);
    top->addStretch(1);
    top->addWidget(m_animation);
    rows->addLayout(top);

    m_viewBar = new QToolBar(QStringLiteral("View "), m_topPanel);
    m_viewBar->setObjectName("ToolBarSelect");
    m_viewBar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    m_viewBar->addWidget(new QLabel(QStringLiteral(" View  "), m_viewBar));
    const auto filter = [this](const char* name, const QString& text, const QString& hint,
                               bool enabled) {
        QAction* a = m_viewBar->addAction(text);
        a->setObjectName(QString::fromLatin1(name));
        a->setToolTip(hint);
        a->setStatusTip(hint);
        a->setEnabled(enabled);
        const std::string word = text.toStdString();
        connect(a, &QAction::triggered, this,
                [this, word] { runGuarded([this, word] { FillServiceList(word); }); });
    };
    const QString later = QStringLiteral("It will be supported in next version.");
    filter("ToolButtonALL", QStringLiteral("ALL"), QStringLiteral("Click to show all services."),
           true);
    filter("ToolButtonURL", QStringLiteral("URL"),
           QStringLiteral("Click to show URL services only."), true);
    filter("ToolButtonPing", QStringLiteral("Ping"),
           QStringLiteral("Click to show Ping services only."), true);
    filter("ToolButtonEmail", QStringLiteral("Email"),
           QStringLiteral("Click to show Email (SMTP,POP3,IMAP) services only."), true);
    filter("ToolButtonFTP", QStringLiteral("FTP"),
           QStringLiteral("Click to show FTP services only."), true);
    filter("ToolButtonDatabase", QStringLiteral("Database"), later, false);
    filter("ToolButtonMQ", QStringLiteral("MQ"), later, false);
    filter("ToolButtonLDAP", QStringLiteral("LDAP"), later, false);
    rows->addWidget(m_viewBar);
    return m_topPanel;
}

QWidget* TFormMenu::createLists() {
    // One text per host: a plain string list keeps a large tree small.
    m_hosts = new QStringListModel(this);
    m_hostTree = new QTreeView(this);
    m_hostTree->setObjectName("TreeViewURLList");
    m_hostTree->setModel(m_hosts);
    m_hostTree->setHeaderHidden(true);
    m_hostTree->setRootIsDecorated(false);
    m_hostTree->setUniformRowHeights(true);
    m_hostTree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    connect(m_hostTree, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& node) {
        if (node.isValid()) {
            const std::string filter = node.data().toString().toStdString();
            runGuarded([this, filter] { FillServiceList(filter); });
        }
    });

    const auto listView = [this](const char* name) {
        auto* view = new QTreeView(this);
        view->setObjectName(QString::fromLatin1(name));
        view->setRootIsDecorated(false);
        view->setUniformRowHeights(true);
        view->setItemsExpandable(false);
        view->setAllColumnsShowFocus(true);
        view->setSelectionBehavior(QAbstractItemView::SelectRows);
        view->setSelectionMode(QAbstractItemView::SingleSelection);
        view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        view->header()->setStretchLastSection(true);
        return view;
    };

    m_serviceTable = new ServiceTable(
        m_session.services(),
        {QStringLiteral("ID"), QStringLiteral("Service"), QStringLiteral("IP"),
         QStringLiteral("Port"), QStringLiteral("Current Status"), QStringLiteral("By"),
         QStringLiteral("Interval"), QStringLiteral("Status")},
        this);
    m_serviceProxy = new ListSortProxy(this);
    m_serviceProxy->setSourceModel(m_serviceTable);
    m_serviceList = listView("ListViewService");
    m_serviceList->setToolTip(QStringLiteral("Double click on any service for updating..."));
    m_serviceList->setModel(m_serviceProxy);
    m_serviceList->setItemDelegate(
        new RowColourDelegate(static_cast<int>(engine::ServiceListModel::Column::Status), this));
    InstallColumnSorting(*m_serviceList, *m_serviceProxy, m_sortDirections, true);
    const int widths[] = {190, 70, 190, 50, 240, 70, 100, 50};
    for (int column = 0; column < static_cast<int>(std::size(widths)); ++column) {
        m_serviceList->setColumnWidth(column, widths[column]);
    }
    m_serviceList->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_serviceList, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        m_serviceMenu->popup(m_serviceList->viewport()->mapToGlobal(at));
    });
    connect(m_serviceList, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex&) {
        if (selectedKey()) {
            runGuarded([this] { openUpdateService(); });
        }
    });
    // The selected record stays selected across a refill.
    connect(m_serviceTable, &QAbstractItemModel::modelAboutToBeReset, this,
            [this] { m_keptSelection = selectedKey(); });
    connect(m_serviceTable, &QAbstractItemModel::modelReset, this, [this] {
        const std::optional<std::string> key = std::exchange(m_keptSelection, std::nullopt);
        if (!key) {
            return;
        }
        if (const auto row = m_session.services().findRow(*key)) {
            const QModelIndex shown =
                m_serviceProxy->mapFromSource(m_serviceTable->index(static_cast<int>(*row), 0));
            m_serviceList->selectionModel()->select(
                shown, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            m_serviceList->setCurrentIndex(shown);
        }
    });

    m_alarmTable =
        new AlarmTable(m_session.alarms(),
                       {QStringLiteral("ID"), QStringLiteral("DateTime"), QStringLiteral("Message"),
                        QStringLiteral("Alarm Methods"), QStringLiteral("Alarm SMS / Email / IP"),
                        QStringLiteral("Status")},
                       this);
    m_alarmProxy = new ListSortProxy(this);
    m_alarmProxy->setSourceModel(m_alarmTable);
    m_alarmList = listView("ListViewAlarmMessage");
    m_alarmList->setModel(m_alarmProxy);
    m_alarmList->setItemDelegate(new RowColourDelegate(-1, this));
    InstallColumnSorting(*m_alarmList, *m_alarmProxy, m_sortDirections, false);
    const int alarmWidths[] = {50, 140, 420, 100, 180, 60};
    for (int column = 0; column < static_cast<int>(std::size(alarmWidths)); ++column) {
        m_alarmList->setColumnWidth(column, alarmWidths[column]);
    }

    m_alarmGroup = new QGroupBox(QStringLiteral("Alarm Messages - Sending"), this);
    m_alarmGroup->setObjectName("GroupBoxAlarmLog");
    m_alarmGroup->setToolTip(QStringLiteral("Click to hide the Alarm Messages bar..."));
    m_alarmGroup->installEventFilter(this);
    auto* groupLayout = new QVBoxLayout(m_alarmGroup);
    groupLayout->setContentsMargins(4, 4, 4, 4);
    groupLayout->addWidget(m_alarmList);

    auto* upper = new QSplitter(Qt::Horizontal, this);
    upper->addWidget(m_hostTree);
    upper->addWidget(m_serviceList);
    upper->setStretchFactor(1, 1);
    upper->setSizes({180, 820});

    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->setObjectName("SplitterAlarmLog");
    splitter->addWidget(upper);
    splitter->addWidget(m_alarmGroup);
    splitter->setStretchFactor(0, 1);
    splitter->setSizes({500, kAlarmGroupHeight});
    return splitter;
}

void TFormMenu::createTray() {
    m_trayMenu = new TrayMenu(this);
    const auto item = [this](const char* name, const QString& text, std::function<void()> command) {
        QAction* a = m_trayMenu->addAction(text);
        a->setObjectName(QString::fromLatin1(name));
        connect(a, &QAction::triggered, this,
                [this, command = std::move(command)] { runGuarded(command); });
    };
    item("TrayShow", QStringLiteral("Show"), [this] {
        show();
        raise();
        activateWindow();
    });
    item("TrayHide", QStringLiteral("Hide"), [this] {
        // Without a tray to show it again from, a hidden window would be lost.
        if (QSystemTrayIcon::isSystemTrayAvailable()) {
            hide();
        } else {
            showMinimized();
        }
    });
    m_trayMenu->addSeparator();
    item("TrayHelp", QStringLiteral("Vantor Lite Help"), [this] { openHelp({}); });
    m_trayMenu->addSeparator();
    item("TrayHomePage", QStringLiteral("Korvane Home Page"),
         [this] { openUrl(VANTOR_HOME_PAGE); });
    item("TrayFAQ", QStringLiteral("FAQ Page"), [this] { openUrl(VANTOR_FAQ_PAGE); });
    m_trayMenu->addSeparator();
    item("TrayAbout", QStringLiteral("About..."), [this] { openAbout(); });
    m_trayMenu->addSeparator();
    item("TrayClose", QStringLiteral("Close"), [this] { closeApplication(); });

    m_tray = new QSystemTrayIcon(this);
    m_tray->setObjectName("TrayIcon");
    m_tray->setContextMenu(m_trayMenu);
    connect(m_tray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::DoubleClick) {
                    showNormal();
                    raise();
                    activateWindow();
                } else if (reason == QSystemTrayIcon::Context) {
                    raise();
                    activateWindow();
                }
            });
    updateTray();
    m_tray->show();
}

void TFormMenu::sizeWindow(bool settingsFileExisted) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect desktop = screen != nullptr ? screen->geometry() : QRect(0, 0, 1024, 768);
    const auto centre = [&desktop](const QSize& size) {
        return QPoint(desktop.x() + (desktop.width() - size.width()) / 2,
                      desktop.y() + (desktop.height() - size.height()) / 2);
    };
    if (settingsFileExisted) {
        const app::AppSettings& settings = m_session.settings();
        const QSize size(settings.windowWidth, settings.windowHeight);
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
    m_viewBar->setEnabled(false);
    for (QToolButton* b : {m_buttonStart, m_buttonStop, m_buttonClearAlarms, m_buttonService,
                           m_buttonAlarm, m_buttonGeneral}) {
        b->setEnabled(false);
    }
    m_serviceList->setSelectionBehavior(QAbstractItemView::SelectItems);
}

void TFormMenu::unlockCommands() {
    // Before the start-up timer (a window opened from the tray) and while
    // closing, the window stays locked.
    if (!m_initialised || m_closing) {
        return;
    }
    m_locked = false;
    menuBar()->setEnabled(true);
    m_viewBar->setEnabled(true);
    for (QToolButton* b : {m_buttonClearAlarms, m_buttonService, m_buttonAlarm, m_buttonGeneral}) {
        b->setEnabled(true);
    }
    m_serviceList->setSelectionBehavior(QAbstractItemView::SelectRows);
    setSchedulingShown(m_session.started() && m_session.engine().schedulingRunning());
}

void TFormMenu::setSchedulingShown(bool running) {
    m_actionStart->setChecked(running);
    m_actionStop->setChecked(!running);
    const bool free = !m_locked;
    m_actionStart->setEnabled(!running);
    m_actionStop->setEnabled(running);
    m_buttonStart->setEnabled(free && !running);
    m_buttonStop->setEnabled(free && running);
}

void TFormMenu::showStatusText(const QString& text) {
    m_statusText->setText(text);
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
        engine::MonitorEngine& engine = m_session.engine();
        engine.onSchedulingChanged = [this](bool running, std::string_view text) {
            setSchedulingShown(running);
            showStatusText(FromStd(text));
            updateTray();
        };
        engine.onProductResult = [this](const engine::CheckResult& result, bool retried) {
            if (!retried) {
                onResult(result.serviceKey, result.passed);
            }
        };
        RebuildHostTree();
        unlockCommands();
        m_session.start();
    });
}

void TFormMenu::FillServiceList(const std::string& filter) {
    m_session.services().Fill(m_session.store(), filter);
}

void TFormMenu::RebuildHostTree() {
    QStringList hosts;
    for (const std::string& host : engine::ServiceListModel::HostTree(m_session.store())) {
        hosts.append(FromStd(host));
    }
    m_hosts->setStringList(hosts);
}

std::optional<std::string> TFormMenu::selectedKey() const {
    const QModelIndexList rows = m_serviceList->selectionModel()->selectedRows();
    if (rows.isEmpty()) {
        return std::nullopt;
    }
    const QModelIndex source = m_serviceProxy->mapToSource(rows.first());
    const auto& all = m_session.services().rows();
    if (!source.isValid() || static_cast<std::size_t>(source.row()) >= all.size()) {
        return std::nullopt;
    }
    return all[static_cast<std::size_t>(source.row())].id;
}

// The engine's row commands act on the core list's selected row, which a
// check's result also moves: it takes the window's selection just before.
void TFormMenu::selectInCore() {
    const QModelIndexList rows = m_serviceList->selectionModel()->selectedRows();
    if (rows.isEmpty()) {
        return;
    }
    const QModelIndex source = m_serviceProxy->mapToSource(rows.first());
    if (source.isValid()) {
        m_session.services().select(static_cast<std::size_t>(source.row()));
    }
}

void TFormMenu::runNow() {
    if (!selectedKey() || !m_session.started()) {
        return;
    }
    selectInCore();
    m_session.engine().MenuServiceRunNowClick();
}

void TFormMenu::setRunState(bool start) {
    if (!selectedKey() || !m_session.started()) {
        return;
    }
    selectInCore();
    if (start) {
        m_session.engine().MenuServiceStartClick();
    } else {
        m_session.engine().MenuServiceStopClick();
    }
}

void TFormMenu::deleteService() {
    const std::optional<std::string> key = selectedKey();
    if (!key) {
        return;
    }
    const Expected<bool> deleted = m_session.store().DeleteService(*key);
    if (!deleted) {
        ShowStoreFailure(this, m_session, deleted.error());
        return;
    }
    if (!*deleted) {
        MessageBox::show(this, app::MessageBoxKind::Information,
                         FromStd(app::msg::kRecordNotFound));
    }
    m_failing.erase(*key);
    FillServiceList(m_session.services().currentFilter());
    RebuildHostTree();
    updateTray();
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
    m_alarmWindow->show();
    m_alarmWindow->raise();
    m_alarmWindow->activateWindow();
}

void TFormMenu::openOptions() {
    if (!m_optionsWindow) {
        m_optionsWindow = new TFormOptions(m_session, *this, this);
        m_optionsWindow->onStatus = [this](const QString& text) { showStatusText(text); };
    }
    m_optionsWindow->show();
    m_optionsWindow->raise();
    m_optionsWindow->activateWindow();
}

void TFormMenu::openNewService() {
    if (!m_session.started()) {
        return;
    }
    if (!m_wizard) {
        m_wizard = new TFormSetupScheduling(m_session, *this, this);
        m_wizard->onSaved = [this] {
            RebuildHostTree();
            FillServiceList("ALL");
        };
        m_wizard->onHelp = [this](const QString& topic) { openHelp(topic); };
    }
    m_wizard->show();
    m_wizard->raise();
    m_wizard->activateWindow();
}

// Opens the dialog on the selected record, when there is one.
void TFormMenu::openUpdateService() {
    if (!m_session.started()) {
        return;
    }
    if (!m_update) {
        m_update = new TFormUpdateScheduling(m_session, *this, this);
        m_update->onChanged = [this](const std::string& filter) {
            RebuildHostTree();
            FillServiceList(filter.empty() ? m_session.services().currentFilter() : filter);
        };
    }
    const std::optional<std::string> key = selectedKey();
    m_update->show();
    m_update->raise();
    m_update->activateWindow();
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
    showAlarmMessages(!m_alarmGroup->isVisible());
}

void TFormMenu::showAlarmMessages(bool show) {
    m_alarmGroup->setVisible(show);
    if (show) {
        auto* splitter = static_cast<QSplitter*>(m_alarmGroup->parentWidget());
        const int total = splitter->height();
        splitter->setSizes({std::max(0, total - kAlarmGroupHeight), kAlarmGroupHeight});
    }
    m_actionAlarmMessages->setChecked(show);
    m_session.settings().showWindowAlarmLog = show;
}

void TFormMenu::toggleFunctionBar() {
    const bool show = !m_topPanel->isVisible();
    m_topPanel->setVisible(show);
    m_actionFunctionBar->setChecked(show);
    m_session.settings().showFunctionBar = show;
}

void TFormMenu::playAnimation() {
    if (m_movie != nullptr) {
        m_movie->stop();
        m_movie->start();
    }
}

void TFormMenu::onResult(const std::string& key, bool passed) {
    const bool changed = passed ? m_failing.erase(key) > 0 : m_failing.insert(key).second;
    if (changed) {
        updateTray();
    }
}

void TFormMenu::updateTray() {
    if (m_tray == nullptr) {
        return;
    }
    QString state = QStringLiteral("passed");
    if (!m_session.started() || !m_session.engine().schedulingRunning()) {
        state = QStringLiteral("stopped");
    } else if (!m_failing.empty()) {
        state = QStringLiteral("failing");
    }
    if (state != m_trayState) {
        m_trayState = state;
        static const char* const icons[] = {":/icons/tray-ok.svg", ":/icons/tray-failing.svg",
                                            ":/icons/tray-stopped.svg"};
        const int which = state == QStringLiteral("passed")    ? 0
                          : state == QStringLiteral("failing") ? 1
                                                               : 2;
        m_tray->setIcon(QIcon(QString::fromLatin1(icons[which])));
    }
    QString tip = QStringLiteral("Vantor Lite");
    if (!m_failing.empty()) {
        tip += QStringLiteral("\n%1 service(s) failing").arg(m_failing.size());
    }
    m_tray->setToolTip(tip);
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
    if (m_tray != nullptr) {
        m_tray->hide();
    }
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
        playAnimation();
    }
}

bool TFormMenu::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_alarmGroup && event->type() == QEvent::MouseButtonRelease &&
        menuBar()->isEnabled()) {
        showAlarmMessages(false);
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

}  // namespace vantor::ui
