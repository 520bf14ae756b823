// SPDX-License-Identifier: GPL-3.0-or-later
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QSignalSpy>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTextBrowser>
#include <QThread>
#include <QTime>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <QTreeView>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "alarm/AlarmListModel.h"
#include "engine/ServiceListModel.h"
#include "history/HistoryDb.h"
#include "pool/ThreadPoolManager.h"
#include "support/Gate.h"
#include "support/GuiProgram.h"
#include "ui/GuiApp.h"
#include "ui/mainwindow/DetailPane.h"
#include "ui/mainwindow/TFormMenu.h"
#include "ui/support/MessageBox.h"

using namespace std::chrono_literals;
using vantor::test::Entry;
using vantor::test::Program;
using vantor::test::ServiceEntry;

namespace {

std::vector<ServiceEntry> EveryKind() {
    return {Entry("URL", "http://127.0.0.1:1/", "80"), Entry("Ping", "10.0.0.5", ""),
            Entry("SMTP", "10.0.0.5", "25"),           Entry("POP3", "10.0.0.6", "110"),
            Entry("IMAP", "10.0.0.6", "143"),          Entry("FTP", "10.0.0.7", "21"),
            Entry("Database", "10.0.0.8", "1433")};
}

bool Enabled(QWidget* w) {
    return w->isEnabled();
}

using vantor::app::MessageBoxKind;

QList<QMessageBox*> MessageBoxesUp() {
    QList<QMessageBox*> up;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(w); box != nullptr && box->isVisible()) {
            up << box;
        }
    }
    return up;
}

// The texts of the message boxes on the screen.
QStringList BoxesUp() {
    QStringList texts;
    for (QMessageBox* box : MessageBoxesUp()) {
        texts << box->text();
    }
    return texts;
}

// As the operator presses OK on every box up.
void PressOk() {
    for (QMessageBox* box : MessageBoxesUp()) {
        QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    }
}

// A box with an event loop of its own holds whoever asked for it until it
// closes. Each second this looks whether it runs inside such a loop and then
// presses OK, so that the caller returns and the test can tell, instead of
// waiting for ever.
class NestedLoopBreaker final {
public:
    NestedLoopBreaker() : m_level(QThread::currentThread()->loopLevel()) {
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] {
            if (QThread::currentThread()->loopLevel() > m_level) {
                PressOk();
            }
        });
        m_timer.start(1000);
    }

private:
    const int m_level;
    QTimer m_timer;
};

// Notes each event of one type that a widget gets, by name, in order.
class EventLog final : public QObject {
public:
    EventLog(QWidget& widget, QEvent::Type type, QStringList& log, QString name)
        : m_widget(widget), m_type(type), m_log(log), m_name(std::move(name)) {
        m_widget.installEventFilter(this);
    }
    ~EventLog() override { m_widget.removeEventFilter(this); }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &m_widget && event->type() == m_type) {
            m_log << m_name;
        }
        return false;
    }

private:
    QWidget& m_widget;
    QEvent::Type m_type;
    QStringList& m_log;
    QString m_name;
};

}  // namespace

class TFormMenuTest final : public QObject {
    Q_OBJECT

private slots:
    void inertForThreeSecondsThenUnlocked() {
        Program program(EveryKind(), /*initStart=*/false, 3000ms);
        QVERIFY(program.start());
        auto* start = program.find<QToolButton>("ToolButtonStart");
        auto* stop = program.find<QToolButton>("ToolButtonStop");
        QTest::qWait(2500);
        QVERIFY(!program.window().menuBar()->isEnabled());
        QVERIFY(!Enabled(start) && !Enabled(stop));
        QVERIFY(!Enabled(program.find<QToolButton>("ToolButtonGeneral")));
        QTRY_VERIFY_WITH_TIMEOUT(program.window().menuBar()->isEnabled(), 2000);
        // Scheduling starts stopped: Start is the one to press.
        QVERIFY(Enabled(start));
        QVERIFY(!Enabled(stop));
        QCOMPARE(program.find<QLabel>("StatusText")->text(),
                 QStringLiteral("Service scheduling stops."));
        QCOMPARE(program.window().trayState(), vantor::engine::TrayState::Stopped);
        QCOMPARE(program.rows(), 7);
    }

    // The list's hint shows over its rows as over the empty area below them:
    // the rows have no tip of their own to hide it.
    void theListHintShowsOverTheRowsToo() {
        Program program(EveryKind());
        QVERIFY(program.startAndWait());
        auto* list = program.find<QTreeView>("ListViewService");
        QWidget* viewport = list->viewport();
        const QPoint overRow = list->visualRect(list->model()->index(0, 2)).center();
        const QPoint below(viewport->width() / 2, viewport->height() - 5);
        QVERIFY(list->indexAt(overRow).isValid() && !list->indexAt(below).isValid());
        for (const QPoint& at : {overRow, below}) {
            QToolTip::hideText();
            QHelpEvent help(QEvent::ToolTip, at, viewport->mapToGlobal(at));
            QCoreApplication::sendEvent(viewport, &help);
            QTRY_COMPARE(QToolTip::text(),
                         QStringLiteral("Double click on any service for updating..."));
        }
        QToolTip::hideText();
    }

    void filtersByKindAndHost() {
        Program program(EveryKind());
        QVERIFY(program.startAndWait());
        const auto shown = [&] {
            QStringList kinds;
            for (int r = 0; r < program.rows(); ++r) {
                kinds << program.cell(r, 1);
            }
            kinds.sort();
            return kinds.join(',');
        };
        const auto filter = [&](const char* name) {
            program.find<QAction>(name)->trigger();
            return shown();
        };
        QCOMPARE(filter("ToolButtonURL"), QStringLiteral("URL"));
        QCOMPARE(filter("ToolButtonPing"), QStringLiteral("Ping"));
        QCOMPARE(filter("ToolButtonEmail"), QStringLiteral("IMAP,POP3,SMTP"));
        QCOMPARE(filter("ToolButtonFTP"), QStringLiteral("FTP"));
        QVERIFY(!program.find<QAction>("ToolButtonDatabase")->isEnabled());
        QCOMPARE(filter("ToolButtonALL"), QStringLiteral("Database,FTP,IMAP,POP3,Ping,SMTP,URL"));
        // An empty port shows as "---".
        QCOMPARE(program.cell(program.rowOf("Ping:10.0.0.5:"), 3), QStringLiteral("---"));

        // A host node shows that host's services; the filter to refill with
        // is "ALL" again.
        program.find<QAction>("ToolButtonFTP")->trigger();
        auto* tree = program.find<QTreeView>("TreeViewURLList");
        QCOMPARE(tree->model()->index(0, 0).data().toString(), QStringLiteral("ALL"));
        const QModelIndexList host =
            tree->model()->match(tree->model()->index(0, 0), Qt::DisplayRole,
                                 QStringLiteral("10.0.0.5"), -1, Qt::MatchExactly);
        QCOMPARE(host.size(), 1);
        const QPoint at = tree->visualRect(host.first()).center();
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(shown(), QStringLiteral("Ping,SMTP"));
        QCOMPARE(program.session().services().currentFilter(), std::string("ALL"));
        // A host that has no service (any more) shows nothing and keeps the
        // filter the list had.
        program.find<QAction>("ToolButtonEmail")->trigger();
        program.window().FillServiceList("10.9.9.9");
        QCOMPARE(program.rows(), 0);
        QCOMPARE(program.session().services().currentFilter(), std::string("Email"));
    }

    void columnClicksSortBothListsWithSharedDirections() {
        Program program({Entry("URL", "b.example", "80"), Entry("URL", "C.example", "80"),
                         Entry("URL", "a.example", "80")});
        QVERIFY(program.startAndWait());
        auto& alarms = program.session().alarms();
        for (const char* message : {"b", "c", "a"}) {
            alarms.insertTop({"0", "2026-12-09 10:00:00", message, "Email", "x@y", "Sent"});
        }
        QHeaderView* header = program.services()->header();
        const auto click = [](QHeaderView* h, int section) {
            QTest::mouseClick(h->viewport(), Qt::LeftButton, {},
                              QPoint(h->sectionViewportPosition(section) + 5, h->height() / 2));
        };
        const QString selected = program.cell(0, 0);
        program.selectRow(0);
        click(header, 2);
        QCOMPARE(program.cell(0, 2), QStringLiteral("a.example"));
        QCOMPARE(program.cell(2, 2), QStringLiteral("C.example"));
        QVERIFY(header->isSortIndicatorShown());
        QCOMPARE(header->sortIndicatorOrder(), Qt::AscendingOrder);
        // The selection stays on its record, wherever the sort puts it.
        const int selectedRow = program.services()->selectionModel()->selectedRows().first().row();
        QCOMPARE(program.cell(selectedRow, 0), selected);
        click(header, 2);
        QCOMPARE(program.cell(0, 2), QStringLiteral("C.example"));
        QCOMPARE(header->sortIndicatorOrder(), Qt::DescendingOrder);

        // The alarm list shares the flag of column 2: its next click there
        // sorts ascending; it shows no sort image.
        auto* alarmList = program.find<QTreeView>("ListViewAlarmMessage");
        click(alarmList->header(), 2);
        QCOMPARE(alarmList->model()->index(0, 2).data().toString(), QStringLiteral("a"));
        click(alarmList->header(), 2);
        QCOMPARE(alarmList->model()->index(0, 2).data().toString(), QStringLiteral("c"));
        QVERIFY(!alarmList->header()->isSortIndicatorShown());
        // After the columns of old: each notice's type, each service's alarm
        // state.
        QCOMPARE(alarmList->model()->headerData(6, Qt::Horizontal).toString(),
                 QStringLiteral("Type"));
        QCOMPARE(alarmList->model()->index(0, 6).data().toString(), QStringLiteral("Failure"));
        const int alarmState =
            static_cast<int>(vantor::engine::ServiceListModel::Column::AlarmState);
        QCOMPARE(header->model()->headerData(alarmState, Qt::Horizontal).toString(),
                 QStringLiteral("Alarm state"));
        // A refill shows the ID order again and keeps the selected record.
        program.find<QAction>("ToolButtonALL")->trigger();
        QCOMPARE(program.cell(0, 2), QStringLiteral("C.example"));
        QCOMPARE(
            program.cell(program.services()->selectionModel()->selectedRows().first().row(), 0),
            selected);
        // The core list keeps its order.
        QCOMPARE(program.session().services().rows().front().id, std::string("URL:C.example:80"));
    }

    void theAboutBoxNamesTheLicence() {
        Program program({});
        QVERIFY(program.startAndWait());
        program.find<QAction>("ActionAbout")->trigger();
        auto* text = program.window().findChild<QLabel*>("AboutText");
        QVERIFY(text != nullptr && text->isVisible());
        QVERIFY2(text->text().contains(QStringLiteral("GNU General Public License, version 3 or "
                                                      "later<br>(GPL-3.0-or-later)")),
                 qPrintable(text->text()));
        text->window()->close();
    }

    void runNowOnARowUnderWayIsRefused() {
        Program program({Entry("SMTP", "10.0.0.5", "25", "Process")});
        QVERIFY(program.startAndWait());
        program.selectRow(0);
        program.find<QAction>("MenuServiceRunNow")->trigger();
        QCOMPARE(
            program.boxes,
            QStringList{QStringLiteral("This service is still under processing or retrying.")});
        QCOMPARE(program.cell(0, 4), QStringLiteral("Process"));
    }

    void popUpCommandsRunStartAndStopTheSelectedService() {
        // A port that answers nothing: the check fails at once.
        Program program({Entry("SMTP", "127.0.0.1", "1")});
        QVERIFY(program.startAndWait());
        program.selectRow(0);
        program.find<QAction>("MenuServiceStop")->trigger();
        QCOMPARE(program.cell(0, 7), QStringLiteral("Stop"));
        QCOMPARE(std::string(program.session().store().records().front().text("status")),
                 std::string("Stop"));
        program.find<QAction>("MenuServiceStart")->trigger();
        QCOMPARE(program.cell(0, 7), QStringLiteral("Start"));
        // Run Now checks it at once; the failure reaches the row and turns
        // the tray icon to "failing" while scheduling runs.
        program.find<QAction>("ActionStart")->trigger();
        program.find<QAction>("MenuServiceRunNow")->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(program.cell(0, 4), QStringLiteral("Failed"), 15000);
        QCOMPARE(program.window().trayState(), vantor::engine::TrayState::Failing);
        program.find<QAction>("ActionStop")->trigger();
        QCOMPARE(program.window().trayState(), vantor::engine::TrayState::Stopped);
        QCOMPARE(program.find<QLabel>("StatusText")->text(),
                 QStringLiteral("Service scheduling stops."));
    }

    // The tray follows the edits of the update dialog: a failing service
    // re-keyed there (its result becomes "Unknown") or deleted fails no more.
    void theTrayForgetsAFailingServiceReKeyedOrDeletedInTheUpdateDialog() {
        // Ports that answer nothing: the checks fail at once. A schedule the
        // dialog can load, not due while the test runs.
        std::vector<ServiceEntry> services{Entry("SMTP", "127.0.0.1", "1"),
                                           Entry("SMTP", "127.0.0.1", "2")};
        for (ServiceEntry& e : services) {
            e.scheduleHour = QTime::currentTime().addSecs(12 * 3600).toString("HH").toStdString();
        }
        Program program(services);
        QVERIFY(program.startAndWait());
        program.find<QAction>("ActionStart")->trigger();
        for (const char* key : {"SMTP:127.0.0.1:1", "SMTP:127.0.0.1:2"}) {
            program.selectRow(program.rowOf(QString::fromLatin1(key)));
            program.find<QAction>("MenuServiceRunNow")->trigger();
            QTRY_COMPARE_WITH_TIMEOUT(program.cell(program.rowOf(QString::fromLatin1(key)), 4),
                                      QStringLiteral("Failed"), 15000);
        }
        QCOMPARE(program.window().trayState(), vantor::engine::TrayState::Failing);
        const auto* tray = program.window().findChild<QSystemTrayIcon*>();
        QVERIFY(tray != nullptr);
        QCOMPARE(tray->toolTip(), QStringLiteral("Vantor Lite\n0 passed, 0 slow, 2 failed"));

        program.selectRow(program.rowOf(QStringLiteral("SMTP:127.0.0.1:1")));
        vantor::test::Controls update = program.open("ActionUpdateService", "FormUpdateScheduling");
        update.type("EditEmailPort", QStringLiteral("3"));
        update.click("ButtonSave");
        QCOMPARE(update.status(), QStringLiteral("The service has been updated."));
        QCOMPARE(program.session().health().failingCount(), std::size_t(1));
        QCOMPARE(program.window().trayState(), vantor::engine::TrayState::Failing);
        QCOMPARE(tray->toolTip(), QStringLiteral("Vantor Lite\n0 passed, 0 slow, 1 failed"));
        update.click("ButtonCancel");
        QTRY_VERIFY(program.window().menuBar()->isEnabled());

        program.selectRow(program.rowOf(QStringLiteral("SMTP:127.0.0.1:2")));
        update = program.open("ActionUpdateService", "FormUpdateScheduling");
        update.click("ButtonDelete");
        QCOMPARE(update.status(), QStringLiteral("The service has been deleted."));
        QCOMPARE(program.window().trayState(), vantor::engine::TrayState::Passed);
        QVERIFY(program.boxes.isEmpty());
    }

    // A right click on the icon brings the window to the front before the
    // menu opens, and not after: a window raised over an open menu hides it.
    // The icon opens its menu first and reports the click after, as Qt's
    // X11 tray icon does.
    void theTrayMenuOpensAboveTheWindowItRaises() {
        Program program({});
        QVERIFY(program.startAndWait());
        auto* tray = program.window().findChild<QSystemTrayIcon*>();
        QVERIFY(tray != nullptr && tray->contextMenu() != nullptr);
        QMenu* menu = tray->contextMenu();
        QStringList order;
        EventLog windowLog(program.window(), QEvent::ZOrderChange, order, QStringLiteral("raised"));
        EventLog menuLog(*menu, QEvent::Show, order, QStringLiteral("menu shown"));
        menu->popup(QPoint(600, 400));
        emit tray->activated(QSystemTrayIcon::Context);
        QTRY_VERIFY(menu->isVisible());
        QCoreApplication::processEvents();
        QCOMPARE(order, (QStringList{QStringLiteral("raised"), QStringLiteral("menu shown")}));
        menu->close();
    }

    // An operator's edit of service.xml that the program takes in (here on
    // SIGHUP's reload) reaches the host tree as well as the service list.
    void theHostTreeFollowsAServiceListTakenInFromDisk() {
        Program program({Entry("SMTP", "10.0.0.5", "25")});
        QVERIFY(program.startAndWait());
        auto* tree = program.find<QTreeView>("TreeViewURLList");
        QCOMPARE(tree->model()->rowCount(), 2);
        vantor::test::WriteFile(program.serviceFile(),
                                vantor::test::ServiceListXml({Entry("SMTP", "10.0.0.5", "25"),
                                                              Entry("FTP", "10.0.0.9", "21")}));
        program.session().reload();
        QTRY_COMPARE(program.rows(), 2);
        QTRY_COMPARE(tree->model()->rowCount(), 3);
        QCOMPARE(tree->model()->index(2, 0).data().toString(), QStringLiteral("10.0.0.9"));
    }

    void anErrorInACommandIsLoggedAndShownAndTheProgramGoesOn() {
        // A record the engine cannot read: its port is not a number.
        Program program({Entry("SMTP", "10.0.0.5", "x25")});
        QVERIFY(program.startAndWait());
        program.selectRow(0);
        program.find<QAction>("MenuServiceRunNow")->trigger();
        QCOMPARE(program.boxes.size(), 1);
        QVERIFY(program.boxes.first().startsWith(QStringLiteral("ERROR : ")));
        QVERIFY(
            program.boxes.first().endsWith(QStringLiteral("'x25' is not a valid integer value")));
        QVERIFY(program.systemLog().find("[ERROR] ERROR : ") != std::string::npos);
        // The window still answers.
        program.find<QAction>("ToolButtonURL")->trigger();
        QCOMPARE(program.rows(), 0);
    }

    // Boxes show values of records, settings and what the operator typed:
    // each is one line of bounded length without control characters.
    void aBoxIsOneBoundedLineWhateverItsTextHolds() {
        Program program({});
        QVERIFY(program.startAndWait());
        const std::string huge = "a\r\nb\x1b[2J" + std::string(20'000'000, 'x');
        program.reporter().showBox(vantor::app::MessageBoxKind::Error, huge);
        QCOMPARE(program.boxes.size(), 1);
        const QByteArray shown = program.boxes.takeFirst().toUtf8();
        QVERIFY(shown.startsWith("a  b [2Jxxx"));
        QVERIFY(shown.endsWith("x..."));
        QVERIFY(shown.size() <= 4096);
        vantor::ui::MessageBox::show(
            &program.window(), vantor::app::MessageBoxKind::Information,
            QStringLiteral("Post field a") + QChar(0x01) + QStringLiteral("b\nc is wrong."));
        QCOMPARE(program.nextBox(), QStringLiteral("Post field a b c is wrong."));
    }

    void viewCommandsToggleTheBarsAndSizeTheWindowAndTheSettingsKeepThem() {
        Program program(EveryKind());
        QVERIFY(program.startAndWait());
        auto* alarms = program.find<QWidget>("GroupBoxAlarmLog");
        auto* top = program.find<QWidget>("PanelTop");
        QVERIFY(alarms->isVisible() && top->isVisible());
        QTest::keyClick(&program.window(), Qt::Key_F8);
        QTest::keyClick(&program.window(), Qt::Key_F7);
        QVERIFY(!alarms->isVisible() && !top->isVisible());
        QVERIFY(!program.find<QAction>("ActionAlarmMessages")->isChecked());
        // At 1024 x 768 the list shows its columns up to the (red) Status
        // column without a scroll; the columns after it may need one.
        program.find<QAction>("Action1024X768")->trigger();
        QCOMPARE(program.window().size(), QSize(1024, 768));
        auto* list = program.find<QTreeView>("ListViewService");
        const auto statusEnd = [list] {
            const int status = static_cast<int>(vantor::engine::ServiceListModel::Column::Status);
            return list->header()->sectionPosition(status) + list->header()->sectionSize(status);
        };
        QTRY_VERIFY2(
            statusEnd() <= list->viewport()->width(),
            qPrintable(QStringLiteral("%1 > %2").arg(statusEnd()).arg(list->viewport()->width())));
        program.find<QAction>("Action800X600")->trigger();
        QCOMPARE(program.window().size(), QSize(800, 600));
        program.find<QAction>("ActionClose")->trigger();
        QTRY_VERIFY(program.finished);
        std::ifstream ini(program.appDir() + "/conf/SysInit.ini");
        std::stringstream text;
        text << ini.rdbuf();
        for (const char* line :
             {"ShowWindowAlarmLog=0", "ShowFunctionBar=0", "WindowWidth=800", "WindowHeight=600"}) {
            QVERIFY2(text.str().find(line) != std::string::npos, line);
        }
    }

    void aStoredSizeBelowTheWindowsMinimumOpensAtTheMinimumCentred() {
        Program program(EveryKind());
        vantor::test::WriteFile(program.file("conf/SysInit.ini"),
                                "[System]\nInitStart=0\nWindowWidth=0\nWindowHeight=0\n");
        QVERIFY(program.startAndWait());
        const QWidget& window = program.window();
        const QSize least = window.minimumSizeHint().expandedTo(window.minimumSize());
        QCOMPARE(window.size(), least);
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        QCOMPARE(window.pos(), QPoint(screen.x() + (screen.width() - least.width()) / 2,
                                      screen.y() + (screen.height() - least.height()) / 2));
    }

    void theHistoryPaneAndColumnsShowTheSelectedServicesDayAndThePaneStaysOpen() {
        Program program(EveryKind());
        const std::string key = "URL:http://127.0.0.1:1/:80";
        {
            // A day of checks every 5 minutes up to four minutes ago, 3 of 288
            // failed; the first lies a minute inside the window, so the
            // program may start a minute later and still count all 288.
            const std::int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                                         std::chrono::system_clock::now().time_since_epoch())
                                         .count();
            std::filesystem::create_directories(program.file("history"));
            auto db =
                vantor::history::HistoryDb::openWriter(program.file("history/history.db"), now);
            std::vector<vantor::history::Verdict> day;
            for (int i = 0; i < 288; ++i) {
                vantor::history::Verdict v;
                v.key = key;
                v.time = now - 86399 + 60 + i * 300;
                v.failed = i == 7 || i == 8 || i == 100;
                v.responseUs = 12000 + i * 10;
                v.detail = v.failed ? "[127.0.0.1:1] Failed:Connection refused" : "";
                day.push_back(v);
            }
            db->write(day);
        }
        QVERIFY(program.startAndWait());
        const int row = program.rowOf(QString::fromStdString(key));
        const int uptimeDay = static_cast<int>(vantor::engine::ServiceListModel::Column::UptimeDay);
        QCOMPARE(program.services()->model()->headerData(uptimeDay, Qt::Horizontal).toString(),
                 QStringLiteral("Uptime 24h"));
        QTRY_COMPARE(program.cell(row, uptimeDay), QStringLiteral("98.958 %"));
        QCOMPARE(program.cell(row, uptimeDay + 1), QStringLiteral("98.958 %"));
        // The last check's response time: 12 ms + 287 * 10 us.
        QCOMPARE(program.cell(row, uptimeDay - 1), QStringLiteral("14.9 ms"));

        auto* pane = program.find<vantor::ui::DetailPane>("DetailPane");
        QVERIFY(!pane->isVisible());
        program.find<QAction>("ActionDetailPane")->trigger();
        QVERIFY(pane->isVisible());
        QElapsedTimer opened;
        opened.start();
        program.selectRow(row);
        QCOMPARE(pane->key(), std::optional<std::string>(key));
        QTRY_VERIFY(pane->loaded());
        qInfo("the pane had its history %lld ms after the click", opened.elapsed());
        QVERIFY(opened.elapsed() < 100);
        program.find<QAction>("ActionClose")->trigger();
        QTRY_VERIFY(program.finished);
        std::ifstream ini(program.appDir() + "/conf/SysInit.ini");
        std::stringstream text;
        text << ini.rdbuf();
        QVERIFY(text.str().find("ShowDetailPane=1") != std::string::npos);
        QVERIFY(text.str().find("[History]") == std::string::npos);
    }

    void deleteRemovesTheRowAndALonelyHost() {
        Program program({Entry("SMTP", "10.0.0.5", "25"), Entry("POP3", "10.0.0.5", "110"),
                         Entry("FTP", "10.0.0.7", "21")});
        QVERIFY(program.startAndWait());
        auto* tree = program.find<QTreeView>("TreeViewURLList");
        QCOMPARE(tree->model()->rowCount(), 3);
        program.selectRow(program.rowOf("FTP:10.0.0.7:21"));
        program.find<QAction>("MenuServiceDelete")->trigger();
        QCOMPARE(program.rows(), 2);
        QCOMPARE(program.rowOf("FTP:10.0.0.7:21"), -1);
        QCOMPARE(tree->model()->rowCount(), 2);
        QVERIFY(program.boxes.isEmpty());
        // The host that still has a service keeps its node.
        program.selectRow(program.rowOf("SMTP:10.0.0.5:25"));
        program.find<QAction>("MenuServiceDelete")->trigger();
        QCOMPARE(tree->model()->rowCount(), 2);
        QCOMPARE(program.session().store().records().size(), std::size_t(1));
    }

    void aDialogLocksTheWindowUntilItCloses() {
        Program program(EveryKind(), /*initStart=*/true);
        QVERIFY(program.startAndWait());
        program.find<QAction>("ActionGeneral")->trigger();
        auto* dialog = program.window().findChild<QDialog*>("FormOptions");
        QVERIFY(dialog != nullptr);
        QTRY_VERIFY(dialog->isVisible());
        QVERIFY(!program.window().menuBar()->isEnabled());
        QVERIFY(!Enabled(program.find<QToolButton>("ToolButtonStop")));
        QVERIFY(!program.find<QWidget>("ToolBarSelect")->isEnabled());
        dialog->reject();
        QTRY_VERIFY(program.window().menuBar()->isEnabled());
        // Scheduling runs: only Stop applies.
        QVERIFY(Enabled(program.find<QToolButton>("ToolButtonStop")));
        QVERIFY(!Enabled(program.find<QToolButton>("ToolButtonStart")));
        QVERIFY(program.find<QAction>("ActionStart")->isChecked());
    }

    void helpOpensTheHelpFileInAWindowOfItsOwn() {
        Program program(EveryKind());
        QVERIFY(program.startAndWait());
        program.find<QAction>("ActionHelp")->trigger();
        auto* browser = program.window().findChild<QTextBrowser*>("HelpBrowser");
        QVERIFY(browser != nullptr);
        QTRY_VERIFY(browser->window()->isVisible());
        QCOMPARE(browser->toPlainText(), QStringLiteral("Vantor Lite help"));
        // The help window locks nothing.
        QVERIFY(program.window().menuBar()->isEnabled());
    }

    void closingWaitsForRunningChecksBehindTheNotice() {
        Program program(EveryKind(), /*initStart=*/true);
        QVERIFY(program.startAndWait());
        vantor::test::Gate gate;
        program.session().pool().QueueWorkItem(std::make_unique<vantor::test::BlockingItem>(gate),
                                               [](vantor::pool::WorkItem&) {});
        QTRY_VERIFY(program.session().hasRunningWork());
        program.window().close();
        QTest::qWait(200);
        auto* notice = program.window().findChild<QWidget*>("FormClosing");
        QVERIFY(notice != nullptr && notice->isVisible());
        QVERIFY(!program.finished);
        gate.open();
        QTRY_VERIFY(program.finished);
        QVERIFY(!notice->isVisible());
        const std::string log = program.systemLog();
        QVERIFY(log.find("Service scheduling stops.") != std::string::npos);
        QVERIFY(log.find("Application stops.") != std::string::npos);
    }

    void closeCommandEndsWithoutLoggingTheStopOfScheduling() {
        Program program(EveryKind(), /*initStart=*/true);
        QVERIFY(program.startAndWait());
        program.find<QAction>("ActionClose")->trigger();
        QTRY_VERIFY(program.finished);
        // Nothing ran: no notice.
        QVERIFY(program.window().findChild<QWidget*>("FormClosing") == nullptr);
        const std::string log = program.systemLog();
        QVERIFY(log.find("Application stops.") != std::string::npos);
        QVERIFY(log.find("Service scheduling stops.") == std::string::npos);
    }

    void aSecondInstanceGetsABoxAndNoWindow() {
        Program first(EveryKind());
        QVERIFY(first.start());
        // A second program on the same folder and user.
        vantor::ui::GuiOptions options;
        options.userConfigFile = first.appDir() + "/../user.conf";
        options.splashTime = 0ms;
        vantor::ui::GuiApp second(options);
        QVERIFY(!second.start());
        QCOMPARE(first.boxes,
                 QStringList{QStringLiteral("ERR00001 : The application is already startup.")});
        int mainWindows = 0;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            mainWindows += qobject_cast<QMainWindow*>(w) != nullptr ? 1 : 0;
        }
        QCOMPARE(mainWindows, 1);
    }

    void aBoxAskedForInsideAHandlerIsUpWhenTheHandlerReturns() {
        Program program(EveryKind());
        QVERIFY(program.startAndWait());
        program.showBoxesOnScreen();
        NestedLoopBreaker breaker;
        QStringList upOnReturn;
        bool returned = false;
        QTimer::singleShot(0, &program.window(), [&] {
            program.reporter().showBox(MessageBoxKind::Error, "Alarm backup: disk full");
            upOnReturn = BoxesUp();
            returned = true;
        });
        QTRY_VERIFY(returned);
        QCOMPARE(upOnReturn, QStringList{QStringLiteral("Alarm backup: disk full")});
        QCOMPARE(MessageBoxesUp().front()->icon(), QMessageBox::Critical);
        PressOk();
        QTRY_VERIFY(BoxesUp().isEmpty());
    }

    void theSameBoxAgainCountsOnTheBoxUpAlsoFromAnotherThread() {
        Program program(EveryKind());
        QVERIFY(program.startAndWait());
        program.showBoxesOnScreen();
        NestedLoopBreaker breaker;
        auto& reporter = program.reporter();
        reporter.showBox(MessageBoxKind::Warning, "backup failed");
        reporter.showBox(MessageBoxKind::Warning, "backup failed");
        std::thread([&] { reporter.showBox(MessageBoxKind::Warning, "backup failed"); }).join();
        QTRY_COMPARE(BoxesUp(), QStringList{QStringLiteral("backup failed\n\n(3 times)")});
        PressOk();
        QTRY_VERIFY(BoxesUp().isEmpty());
        // Closed, the text makes a box of its own again.
        reporter.showBox(MessageBoxKind::Warning, "backup failed");
        QCOMPARE(BoxesUp(), QStringList{QStringLiteral("backup failed")});
        PressOk();
    }

    void anotherBoxWaitsUntilTheBoxUpIsClosed() {
        Program program(EveryKind());
        QVERIFY(program.startAndWait());
        program.showBoxesOnScreen();
        NestedLoopBreaker breaker;
        auto& reporter = program.reporter();
        reporter.showBox(MessageBoxKind::Error, "first");
        reporter.showBox(MessageBoxKind::Error, "second");
        // The same text as another kind is another box.
        reporter.showBox(MessageBoxKind::Information, "first");
        reporter.showBox(MessageBoxKind::Error, "second");
        QCOMPARE(BoxesUp(), QStringList{QStringLiteral("first")});
        QTest::qWait(100);
        QCOMPARE(BoxesUp(), QStringList{QStringLiteral("first")});
        PressOk();
        QTRY_COMPARE(BoxesUp(), QStringList{QStringLiteral("second\n\n(2 times)")});
        PressOk();
        QTRY_COMPARE(BoxesUp(), QStringList{QStringLiteral("first")});
        QCOMPARE(MessageBoxesUp().front()->icon(), QMessageBox::Information);
        PressOk();
        QTRY_VERIFY(BoxesUp().isEmpty());
    }
};

QTEST_MAIN(TFormMenuTest)
#include "TFormMenuTest.moc"
