// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/mainwindow/MainActions.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

namespace vantor::ui {

namespace {

QKeySequence CtrlAlt(Qt::Key key) {
    return QKeySequence(Qt::CTRL | Qt::ALT | key);
}

}  // namespace

MainActions::MainActions(QMainWindow& window) {
    const auto action = [&window](const char* name, const QString& text, const QString& hint,
                                  const QKeySequence& shortcut = {}) {
        auto* a = new QAction(text, &window);
        a->setObjectName(QString::fromLatin1(name));
        a->setStatusTip(hint);
        a->setToolTip(hint);
        a->setShortcut(shortcut);
        return a;
    };
    start = action("ActionStart", QStringLiteral("S&tart"),
                   QStringLiteral("Start receiving SysLog messages..."), CtrlAlt(Qt::Key_S));
    stop = action("ActionStop", QStringLiteral("St&op"),
                  QStringLiteral("Stop receiving SysLog messages..."), CtrlAlt(Qt::Key_T));
    start->setCheckable(true);
    stop->setCheckable(true);
    close = action("ActionClose", QStringLiteral("&Close"),
                   QStringLiteral("Close the application..."), CtrlAlt(Qt::Key_Q));
    clearMessages = action("ActionClearMessages", QStringLiteral("&Clear Alarm Messages"),
                           QStringLiteral("Clear alarm messages..."), CtrlAlt(Qt::Key_C));
    functionBar =
        action("ActionFunctionBar", QStringLiteral("&Function Bar"),
               QStringLiteral("Show or hide the function bar..."), QKeySequence(Qt::Key_F7));
    alarmMessages =
        action("ActionAlarmMessages", QStringLiteral("&Alarm Messages"),
               QStringLiteral("Show or hide the alarm messages..."), QKeySequence(Qt::Key_F8));
    detailPane = action("ActionDetailPane", QStringLiteral("Service &History"),
                        QStringLiteral("Show or hide the selected service's history..."));
    detailPane->setCheckable(true);
    functionBar->setCheckable(true);
    functionBar->setChecked(true);
    alarmMessages->setCheckable(true);
    alarmMessages->setChecked(true);
    resolution = action("ActionResolution", QStringLiteral("&Resolution"),
                        QStringLiteral("Change the window size..."));
    size800 = action("Action800X600", QStringLiteral("&800X600"),
                     QStringLiteral("Change the window into 800 X 600 in width and height..."));
    size1024 = action("Action1024X768", QStringLiteral("&1024X768"),
                      QStringLiteral("Change the window into 1024 X 768 in width and height..."));
    alarmOptions = action("ActionAlarmOptions", QStringLiteral("&Alarm Options"),
                          QStringLiteral("Setup the alarm methods..."));
    general = action("ActionGeneral", QStringLiteral("&General"),
                     QStringLiteral("Setup the general options..."));
    newService = action("ActionNewService", QStringLiteral("&New Service"),
                        QStringLiteral("Setup new service..."));
    updateService = action("ActionUpdateService", QStringLiteral("Update Service"),
                           QStringLiteral("Update existing service..."));
    help = action("ActionHelp", QStringLiteral("&Vantor Help"),
                  QStringLiteral("Show the help menu..."), QKeySequence(Qt::Key_F12));
    homePage = action("ActionHomePage", QStringLiteral("&Korvane Home Page"),
                      QStringLiteral("Open Korvane home page..."), QKeySequence(Qt::Key_F11));
    faq = action("ActionFAQ", QStringLiteral("&FAQ Page"),
                 QStringLiteral("Open the Q&&A web page..."), QKeySequence(Qt::Key_F10));
    about = action("ActionAbout", QStringLiteral("&About..."), QStringLiteral("About..."),
                   QKeySequence(Qt::Key_F9));
    createMenus(window);
    createServiceMenu(window);
}

void MainActions::createMenus(QMainWindow& window) {
    QMenuBar* bar = window.menuBar();
    bar->setObjectName("MainMenu");
    QMenu* vantor = bar->addMenu(QStringLiteral("&Vantor"));
    vantor->setSeparatorsCollapsible(false);
    vantor->addSeparator();
    vantor->addAction(start);
    vantor->addAction(stop);
    vantor->addSeparator();
    vantor->addAction(close);

    QMenu* edit = bar->addMenu(QStringLiteral("&Edit"));
    edit->addAction(clearMessages);

    QMenu* view = bar->addMenu(QStringLiteral("&View"));
    view->setSeparatorsCollapsible(false);
    view->addSeparator();
    view->addAction(functionBar);
    view->addAction(alarmMessages);
    view->addAction(detailPane);
    view->addSeparator();
    auto* sizes = new QMenu(&window);
    sizes->addAction(size800);
    sizes->addAction(size1024);
    resolution->setMenu(sizes);
    view->addAction(resolution);

    QMenu* alarms = bar->addMenu(QStringLiteral("&Alarms"));
    alarms->addAction(alarmOptions);

    QMenu* options = bar->addMenu(QStringLiteral("&Options"));
    options->addAction(general);
    QMenu* service = options->addMenu(QStringLiteral("&Service"));
    service->addAction(newService);
    service->addAction(updateService);

    QMenu* helpMenu = bar->addMenu(QStringLiteral("He&lp"));
    helpMenu->addAction(help);
    helpMenu->addSeparator();
    helpMenu->addAction(homePage);
    helpMenu->addAction(faq);
    helpMenu->addSeparator();
    helpMenu->addAction(about);
    for (QMenu* menu : {vantor, edit, view, alarms, options, helpMenu, service, sizes}) {
        menu->setToolTipsVisible(true);
    }
}

void MainActions::createServiceMenu(QMainWindow& window) {
    serviceMenu = new QMenu(&window);
    serviceMenu->setObjectName("PopupMenuService");
    serviceMenu->setToolTipsVisible(true);
    const auto item = [this](const char* name, const QString& text, const QString& hint) {
        QAction* a = serviceMenu->addAction(text);
        a->setObjectName(QString::fromLatin1(name));
        a->setStatusTip(hint);
        a->setToolTip(hint);
        return a;
    };
    runNow = item("MenuServiceRunNow", QStringLiteral("Run Now"),
                  QStringLiteral("Run this service now..."));
    serviceMenu->addSeparator();
    serviceStart = item("MenuServiceStart", QStringLiteral("Start"),
                        QStringLiteral("Start this service now..."));
    serviceStop =
        item("MenuServiceStop", QStringLiteral("Stop"), QStringLiteral("Stop this service now..."));
    serviceMenu->addSeparator();
    serviceNew = item("MenuServiceNew", QStringLiteral("&New Service"),
                      QStringLiteral("Setup new service..."));
    serviceUpdate = item("MenuServiceUpdate", QStringLiteral("Update Service"),
                         QStringLiteral("Update existing service..."));
    serviceDelete = item("MenuServiceDelete", QStringLiteral("Delete Service"), QString());
}

}  // namespace vantor::ui
