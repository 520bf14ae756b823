// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <functional>

#include "engine/ServiceHealth.h"

class QSystemTrayIcon;
class QWidget;

namespace vantor::ui {

class TrayMenu;

// The icon in the notification area, its menu, and what it shows: whether
// scheduling runs and whether a service fails, as the core's ServiceHealth
// says, with the count of failing services in its tip.
class TrayIcon final : public QObject, private engine::ServiceHealth::Observer {
public:
    struct Commands {
        std::function<void()> show;
        std::function<void()> hide;
        std::function<void()> help;
        std::function<void()> homePage;
        std::function<void()> faq;
        std::function<void()> about;
        std::function<void()> close;
    };

    // window: the main window, shown and raised from the tray.
    TrayIcon(engine::ServiceHealth& health, QWidget& window, const Commands& commands);
    ~TrayIcon() override;

    TrayMenu* menu() const { return m_menu; }
    engine::TrayState state() const { return m_state; }
    void hide();

private:
    void healthChanged() override;

    engine::ServiceHealth& m_health;
    TrayMenu* m_menu;
    QSystemTrayIcon* m_icon;
    engine::TrayState m_state;
};

}  // namespace vantor::ui
