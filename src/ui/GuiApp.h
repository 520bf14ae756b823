// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QApplication>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "session/Session.h"
#include "ui/support/GuiReporter.h"
#include "ui/support/QtOwnerThread.h"

class QSplashScreen;

namespace vantor::ui {

class TFormMenu;

struct GuiOptions {
    // The per-user file that names the application directory.
    std::string userConfigFile;
    // From the main window's creation to its initialisation.
    std::chrono::milliseconds initDelay{3000};
    // How long the splash shows; zero shows none.
    std::chrono::milliseconds splashTime{2000};
};

// The program with windows, on the GUI thread of a running QApplication:
// the entry sequence, the main window and the splash.
class GuiApp final {
public:
    explicit GuiApp(GuiOptions options);
    ~GuiApp();
    GuiApp(const GuiApp&) = delete;
    GuiApp& operator=(const GuiApp&) = delete;

    // The start-up checks, the single instance, service.xml, the settings,
    // then the main window and the splash. False when the program must end
    // (a box has said why); no window is made then.
    bool start();

    // After start() only.
    TFormMenu& window() { return *m_window; }
    session::Session& session() { return m_session; }
    GuiReporter& reporter() { return m_reporter; }
    QtOwnerThread& owner() { return m_owner; }
    // Runs once the main window has closed and the session is shut down.
    std::function<void()> onFinished;

private:
    GuiOptions m_options;
    QtOwnerThread m_owner;
    GuiReporter m_reporter;
    session::Session m_session;
    std::unique_ptr<TFormMenu> m_window;
    std::unique_ptr<QSplashScreen> m_splash;
};

// The QApplication of the program: an error that escapes an event handler
// goes to the handler of escaped errors, and the program goes on.
class VantorApplication final : public QApplication {
public:
    VantorApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
    std::function<void(const char* what)> onEscapedError;
};

// Whether there is a display to open windows on: an X11 or Wayland display,
// or a Qt platform named in QT_QPA_PLATFORM.
bool HasDisplay();

// Runs the program with windows until its main window closes; the exit code.
int RunGui(int& argc, char** argv, const GuiOptions& options);

}  // namespace vantor::ui
