// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/GuiApp.h"

#include <QIcon>
#include <QPainter>
#include <QPointer>
#include <QSplashScreen>
#include <QTimer>
#include <cstdlib>
#include <exception>

#include "app/Clock.h"
#include "app/UnexpectedError.h"
#include "session/SignalPolicy.h"
#include "ui/BuildConfig.h"
#include "ui/mainwindow/TFormMenu.h"

namespace vantor::ui {

namespace {

QPixmap SplashPicture() {
    QPixmap picture(420, 240);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    painter.drawPixmap(24, 56, QIcon(QStringLiteral(":/icons/vantor-lite.svg")).pixmap(128, 128));
    QFont title = painter.font();
    title.setPointSize(22);
    title.setBold(true);
    painter.setFont(title);
    painter.setPen(QColor(40, 40, 40));
    painter.drawText(QRect(170, 70, 240, 50), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("Vantor Lite"));
    QFont small = painter.font();
    small.setPointSize(10);
    small.setBold(false);
    painter.setFont(small);
    painter.drawText(QRect(170, 120, 240, 60), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
                     QStringLiteral("Version %1\nMonitor of network services")
                         .arg(QStringLiteral(VANTOR_VERSION)));
    painter.setPen(QColor(255, 128, 0));
    painter.drawText(QRect(170, 200, 240, 24), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral(VANTOR_WEB_ADDRESS));
    return picture;
}

}  // namespace

GuiApp::GuiApp(GuiOptions options)
    : m_options(std::move(options)),
      m_session(m_options.userConfigFile, m_owner, m_reporter, app::SystemClock::instance()) {}

GuiApp::~GuiApp() {
    // The window lets go of the session's models before the session goes.
    m_window.reset();
}

bool GuiApp::start() {
    if (!m_session.startUp()) {
        return false;
    }
    if (!m_session.loadSettings()) {
        return false;
    }
    FormOptions form;
    form.initDelay = m_options.initDelay;
    form.settingsFileExisted = !m_session.settings().settingsFileMissing;
    m_window = std::make_unique<TFormMenu>(m_session, form);
    m_window->onClosed = [this] {
        if (onFinished) {
            onFinished();
        }
    };
    m_reporter.setOnTerminate([this] { m_window->closeApplication(); });

    if (m_options.splashTime.count() <= 0) {
        m_window->show();
        return true;
    }
    // The splash shows alone; the window comes when it goes. The event loop
    // runs meanwhile, so the start-up timer counts from the window's creation.
    m_splash = std::make_unique<QSplashScreen>(SplashPicture());
    m_splash->setObjectName("Splash98Form");
    m_splash->show();
    QTimer::singleShot(m_options.splashTime, m_window.get(), [this] {
        m_splash->close();
        m_splash.reset();
        if (!m_window->closing()) {
            m_window->show();
        }
    });
    return true;
}

VantorApplication::VantorApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool VantorApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        if (onEscapedError) {
            onEscapedError(e.what());
        }
    } catch (...) {
        if (onEscapedError) {
            onEscapedError("unknown error");
        }
    }
    return false;
}

bool HasDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            return true;
        }
    }
    return false;
}

int RunGui(int& argc, char** argv, const GuiOptions& options) {
    // Before QApplication: the xcb platform starts a thread in its
    // constructor, and every thread must have the signals blocked.
    session::SignalPolicy signalPolicy(1);
    VantorApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vantor Lite"));
    QApplication::setApplicationVersion(QStringLiteral(VANTOR_VERSION));
    // Desktops match the window to its desktop entry by this (the Wayland
    // app id); on X11 by the window class "Vantor Lite".
    QGuiApplication::setDesktopFileName(QStringLiteral("com.korvane.VantorLite"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/vantor-lite.svg")));
    // The tray icon keeps the program when the window is hidden; it ends
    // when the main window has closed.
    QApplication::setQuitOnLastWindowClosed(false);

    GuiApp gui(options);
    application.onEscapedError = [&gui](const char* what) {
        app::ApplicationEventsException(gui.reporter(), gui.session().log(), what);
    };
    if (!gui.start()) {
        // The box that says why is read before the program ends (a stop
        // signal still ends it at once).
        gui.reporter().waitForBoxes();
        return 1;
    }
    gui.onFinished = [] { QCoreApplication::exit(0); };
    // A stop signal closes the window as its close button does.
    signalPolicy.frontEndUp(gui.owner(), gui.session(),
                            [window = QPointer<TFormMenu>(&gui.window())] {
                                if (window) {
                                    window->close();
                                }
                            });
    const int exitCode = QApplication::exec();
    // A box still up (one that came while closing) is read before the
    // program goes, unless a stop signal closed it; the files are written,
    // so a stop signal ends the wait at once too.
    signalPolicy.endAtOnce(exitCode);
    if (!signalPolicy.stopSignalled()) {
        gui.reporter().waitForBoxes();
    }
    return gui.session().lastSaveFailed() ? 1 : exitCode;
}

}  // namespace vantor::ui
