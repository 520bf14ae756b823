// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The program's windows on an application folder of their own, for the Qt
// tests: a help file, service.xml and SysInit.ini, the per-user file that
// points at the folder, and the boxes the program shows, taken instead of
// waited on.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QTabWidget>
#include <QTest>
#include <QTreeView>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/ServiceListFile.h"
#include "support/TempDir.h"
#include "ui/GuiApp.h"
#include "ui/mainwindow/TFormMenu.h"
#include "ui/support/MessageBox.h"

namespace vantor::test {

using namespace std::chrono_literals;

inline ServiceEntry Entry(const std::string& kind, const std::string& ip, const std::string& port,
                          const std::string& status = "Unknown") {
    ServiceEntry e;
    e.service = kind;
    e.ip = ip;
    e.port = port;
    e.serviceStatus = status;
    e.scheduleBy = "Daily";
    // Never due while the tests run.
    e.scheduleHour = "99";
    return e;
}

// A window of the program, driven by the object names of its controls.
class Controls {
public:
    explicit Controls(QWidget* window) : m_window(window) {}
    QWidget* widget() const { return m_window; }

    template <class T>
    T* get(const char* name) const {
        T* found = m_window->findChild<T*>(QString::fromLatin1(name));
        if (found == nullptr) {
            qFatal("no control named %s", name);
        }
        return found;
    }
    void click(const char* button) const {
        QTest::mouseClick(get<QPushButton>(button), Qt::LeftButton);
    }
    void type(const char* edit, const QString& text) const { get<QLineEdit>(edit)->setText(text); }
    void tick(const char* box) const { get<QCheckBox>(box)->setChecked(true); }
    // As the operator chooses an item: the list's own handlers run.
    void choose(const char* list, const QString& item) const {
        auto* combo = get<QComboBox>(list);
        const int index = combo->findText(item);
        QVERIFY2(index >= 0, qPrintable(item));
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }
    QString text(const char* edit) const { return get<QLineEdit>(edit)->text(); }
    QString status() const { return get<QLabel>("StatusText")->text(); }
    QString currentTab(const char* tabs) const {
        auto* w = get<QTabWidget>(tabs);
        return w->tabText(w->currentIndex());
    }

private:
    QWidget* m_window;
};

// An application folder with a help file, service.xml and SysInit.ini, the
// per-user file that points at it, and the program's windows on it.
class Program {
public:
    explicit Program(const std::vector<ServiceEntry>& services, bool initStart = false,
                     std::chrono::milliseconds initDelay = 10ms) {
        for (const char* folder : {"app/help", "app/conf", "app/log", "run"}) {
            std::filesystem::create_directories(m_dir.file(folder));
        }
        // A lock of its own: test programs that run side by side never meet.
        qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(m_dir.file("run")));
        WriteFile(m_dir.file("app/help/VantorLite.hlp"),
                  "<html><a name=\"Contents\"></a>Vantor Lite help</html>");
        WriteFile(m_dir.file("app/conf/service.xml"), vantor::test::ServiceListXml(services));
        WriteFile(m_dir.file("app/conf/SysInit.ini"),
                  std::string("[System]\nInitStart=") + (initStart ? "1" : "0") + "\n");
        WriteFile(m_dir.file("user.conf"), "[Settings]\nAppPath=" + m_dir.file("app") + "\n");
        // The same for a program started with XDG_CONFIG_HOME=configHome().
        std::filesystem::create_directories(m_dir.file("xdg/korvane"));
        WriteFile(m_dir.file("xdg/korvane/VantorLite.conf"), ReadFile(m_dir.file("user.conf")));
        vantor::ui::MessageBox::setHook(
            [this](vantor::app::MessageBoxKind, const QString& text) { boxes << text; });
        m_options.userConfigFile = m_dir.file("user.conf");
        m_options.initDelay = initDelay;
        m_options.splashTime = 0ms;
        restart();
    }
    // A new program on the same folder, once the last one has closed (or
    // before it started).
    void restart() {
        m_gui.reset();
        finished = false;
        m_gui = std::make_unique<vantor::ui::GuiApp>(m_options);
        m_gui->onFinished = [this] { finished = true; };
    }
    // A file of the application folder ("conf/SysInit.ini").
    std::string file(const std::string& name) const { return m_dir.file("app/" + name); }
    ~Program() { vantor::ui::MessageBox::setHook({}); }

    bool start() { return m_gui->start(); }
    // Started and past the start-up timer.
    bool startAndWait() {
        if (!start()) {
            return false;
        }
        return QTest::qWaitFor([this] { return window().initialised(); }, 5000);
    }
    vantor::ui::TFormMenu& window() { return m_gui->window(); }
    vantor::session::Session& session() { return m_gui->session(); }
    vantor::ui::GuiReporter& reporter() { return m_gui->reporter(); }
    // From now on boxes are shown on the screen, not taken.
    void showBoxesOnScreen() { vantor::ui::MessageBox::setHook({}); }
    std::string appDir() const { return m_dir.file("app"); }
    std::string configHome() const { return m_dir.file("xdg"); }
    std::string serviceFile() const { return m_dir.file("app/conf/service.xml"); }

    template <class T>
    T* find(const char* name) {
        T* found = window().findChild<T*>(QString::fromLatin1(name));
        if (found == nullptr) {
            qFatal("no widget named %s", name);
        }
        return found;
    }
    // Opens a window of the program through one of its actions: its
    // controls, once it shows.
    Controls open(const char* action, const char* name) {
        find<QAction>(action)->trigger();
        auto* w = window().findChild<QWidget*>(QString::fromLatin1(name));
        if (w == nullptr || !w->isVisible()) {
            qFatal("%s did not open", name);
        }
        return Controls(w);
    }
    QTreeView* services() { return find<QTreeView>("ListViewService"); }
    int rows() { return services()->model()->rowCount(); }
    QString cell(int row, int column) {
        return services()->model()->index(row, column).data().toString();
    }
    void selectRow(int row) { services()->setCurrentIndex(services()->model()->index(row, 0)); }
    int rowOf(const QString& id) {
        for (int r = 0; r < rows(); ++r) {
            if (cell(r, 0) == id) {
                return r;
            }
        }
        return -1;
    }
    std::string systemLog() const {
        std::string all;
        for (const auto& file : std::filesystem::directory_iterator(m_dir.file("app/log"))) {
            all += ReadFile(file.path().string());
        }
        return all;
    }

    // The oldest box not looked at yet ("<no box>" when none came).
    QString nextBox() { return boxes.isEmpty() ? QStringLiteral("<no box>") : boxes.takeFirst(); }

    QStringList boxes;
    bool finished = false;

private:
    vantor::test::TempDir m_dir;
    vantor::ui::GuiOptions m_options;
    std::unique_ptr<vantor::ui::GuiApp> m_gui;
};

}  // namespace vantor::test
