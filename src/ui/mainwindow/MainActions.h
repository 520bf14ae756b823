// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QAction;
class QMainWindow;
class QMenu;

namespace vantor::ui {

// The main window's actions with their captions, hints and shortcuts, the
// menu bar that holds them, and the service list's pop-up menu. The window
// connects each to its command.
class MainActions final {
public:
    explicit MainActions(QMainWindow& window);

    QAction* start;
    QAction* stop;
    QAction* close;
    QAction* clearMessages;
    QAction* functionBar;
    QAction* alarmMessages;
    QAction* detailPane;
    QAction* resolution;
    QAction* size800;
    QAction* size1024;
    QAction* alarmOptions;
    QAction* general;
    QAction* newService;
    QAction* updateService;
    QAction* help;
    QAction* homePage;
    QAction* faq;
    QAction* about;

    // The service list's pop-up menu and its items.
    QMenu* serviceMenu;
    QAction* runNow;
    QAction* serviceStart;
    QAction* serviceStop;
    QAction* serviceNew;
    QAction* serviceUpdate;
    QAction* serviceDelete;

private:
    void createMenus(QMainWindow& window);
    void createServiceMenu(QMainWindow& window);
};

}  // namespace vantor::ui
