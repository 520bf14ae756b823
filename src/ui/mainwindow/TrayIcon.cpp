// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/mainwindow/TrayIcon.h"

#include <QAction>
#include <QIcon>
#include <QSystemTrayIcon>
#include <QWidget>

#include "ui/mainwindow/TrayMenu.h"

namespace vantor::ui {

namespace {

const char* IconOf(engine::TrayState state) {
    switch (state) {
        case engine::TrayState::Passed:
            return ":/icons/tray-ok.svg";
        case engine::TrayState::Failing:
            return ":/icons/tray-failing.svg";
        case engine::TrayState::Stopped:
            break;
    }
    return ":/icons/tray-stopped.svg";
}

}  // namespace

TrayIcon::TrayIcon(engine::ServiceHealth& health, QWidget& window, const Commands& commands)
    : QObject(&window), m_health(health), m_state(health.trayState()) {
    m_menu = new TrayMenu(&window);
    const auto item = [this](const char* name, const QString& text, std::function<void()> command) {
        QAction* a = m_menu->addAction(text);
        a->setObjectName(QString::fromLatin1(name));
        connect(a, &QAction::triggered, this, std::move(command));
    };
    item("TrayShow", QStringLiteral("Show"), commands.show);
    item("TrayHide", QStringLiteral("Hide"), commands.hide);
    m_menu->addSeparator();
    item("TrayHelp", QStringLiteral("Vantor Lite Help"), commands.help);
    m_menu->addSeparator();
    item("TrayHomePage", QStringLiteral("Korvane Home Page"), commands.homePage);
    item("TrayFAQ", QStringLiteral("FAQ Page"), commands.faq);
    m_menu->addSeparator();
    item("TrayAbout", QStringLiteral("About..."), commands.about);
    m_menu->addSeparator();
    item("TrayClose", QStringLiteral("Close"), commands.close);

    m_icon = new QSystemTrayIcon(this);
    m_icon->setObjectName("TrayIcon");
    m_icon->setContextMenu(m_menu);
    // The window comes to the front as the menu is about to open, so that
    // the menu opens above it. Not on the icon's report of the right click:
    // the icon opens its menu before it reports the click, and a window
    // raised then would cover the menu.
    connect(m_menu, &QMenu::aboutToShow, this, [&window] {
        window.raise();
        window.activateWindow();
    });
    connect(m_icon, &QSystemTrayIcon::activated, this,
            [&window](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::DoubleClick) {
                    window.showNormal();
                    window.raise();
                    window.activateWindow();
                }
            });
    m_icon->setIcon(QIcon(QString::fromLatin1(IconOf(m_state))));
    healthChanged();
    m_health.addObserver(this);
    m_icon->show();
}

TrayIcon::~TrayIcon() {
    m_health.removeObserver(this);
}

void TrayIcon::hide() {
    m_icon->hide();
}

void TrayIcon::healthChanged() {
    const engine::TrayState state = m_health.trayState();
    if (state != m_state) {
        m_state = state;
        m_icon->setIcon(QIcon(QString::fromLatin1(IconOf(state))));
    }
    QString tip = QStringLiteral("Vantor Lite");
    const std::size_t failed = m_health.failingCount();
    const std::size_t passed = m_health.passedCount();
    const std::size_t slow = m_health.slowCount();
    if (failed + passed + slow > 0) {
        tip += QStringLiteral("\n%1 passed, %2 slow, %3 failed").arg(passed).arg(slow).arg(failed);
    }
    m_icon->setToolTip(tip);
}

}  // namespace vantor::ui
