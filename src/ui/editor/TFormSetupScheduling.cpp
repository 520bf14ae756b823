// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/editor/TFormSetupScheduling.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/Messages.h"
#include "engine/MonitorEngine.h"
#include "registry/ServiceStore.h"
#include "session/Session.h"
#include "ui/editor/AlarmBoxes.h"
#include "ui/editor/SchedulePicker.h"
#include "ui/editor/ServiceKindPanel.h"
#include "ui/editor/TFrameURLForm.h"
#include "ui/support/ElidedLabel.h"
#include "ui/support/FormSupport.h"
#include "ui/support/MessageBox.h"

namespace vantor::ui {

namespace {

constexpr int kStartup = 0;
constexpr int kSchedule = 1;
constexpr int kService = 2;
constexpr int kTest = 3;
constexpr int kAlarms = 4;

const QString kNextHint = QStringLiteral("Click Next to next step...");

}  // namespace

TFormSetupScheduling::TFormSetupScheduling(session::Session& session, CommandLock& lock,
                                           QWidget* parent)
    : OwnedDialog(lock, parent),
      m_session(session),
      m_pages(new QTabWidget(this)),
      m_schedule(new SchedulePicker(SchedulePicker::Order::HourlyFirst)),
      m_kinds(new ServiceKindPanel),
      m_alarms(new AlarmBoxes),
      m_form(*m_schedule, *m_kinds, *m_alarms) {
    setObjectName("FormSetupScheduling");
    setWindowTitle(QStringLiteral("Setup New Service"));
    setWindowFlags(Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowCloseButtonHint);
    m_pages->setObjectName("PageControl");
    m_pages->setDocumentMode(true);

    auto* startup = new QWidget;
    auto* intro = new QVBoxLayout(startup);
    for (const char* line :
         {"This wizard will help you to setup a schedule for Vantor  ",
          "to check the status of any service.", "", "Step 1 : Select schedule",
          "Step 2 : Select service", "Step 3 : Test service connection",
          "Step 4 : Select alarm method(s)", "", "Please click Next to continue"}) {
        intro->addWidget(new QLabel(QString::fromLatin1(line), startup));
    }
    intro->addStretch(1);
    m_pages->addTab(startup, QStringLiteral("Startup"));
    m_pages->addTab(m_schedule, QStringLiteral("Step 1"));
    m_pages->addTab(m_kinds, QStringLiteral("Step 2"));

    auto* test = new QWidget;
    auto* testRows = new QVBoxLayout(test);
    testRows->addWidget(new QLabel(
        QStringLiteral("Please click on the below button to test the connection :"), test));
    const auto valueLine = [&](const QString& caption, const char* name) {
        auto* line = new QHBoxLayout;
        line->addWidget(new QLabel(caption, test));
        // The URL or host repeated here never widens the wizard.
        auto* value = new ElidedLabel(test);
        value->setObjectName(QString::fromLatin1(name));
        line->addWidget(value, 1);
        testRows->addLayout(line);
        return value;
    };
    m_testService = valueLine(QStringLiteral("Service : "), "LabelTestService");
    m_testHost = valueLine(QStringLiteral("IP : "), "LabelTestIP");
    m_testPort = valueLine(QStringLiteral("Port : "), "LabelTestPort");
    m_test = new QPushButton(QStringLiteral("Test connection"), test);
    m_test->setObjectName("ButtonTestConnection");
    testRows->addWidget(m_test, 0, Qt::AlignLeft);
    m_memo = new QPlainTextEdit(test);
    m_memo->setObjectName("MemoResult");
    m_memo->setReadOnly(true);
    testRows->addWidget(m_memo, 1);
    m_pages->addTab(test, QStringLiteral("Step 3"));
    m_pages->addTab(m_alarms, QStringLiteral("Step 4"));

    m_help = new QPushButton(QStringLiteral("&Help"), this);
    m_help->setToolTip(QStringLiteral("Click for help..."));
    m_back = new QPushButton(QStringLiteral("< &Back"), this);
    m_back->setObjectName("ButtonBack");
    m_back->setToolTip(QStringLiteral("Click Back to previous step... "));
    m_next = new QPushButton(QStringLiteral("&Next >"), this);
    m_next->setObjectName("ButtonNext");
    m_cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    m_cancel->setObjectName("ButtonCancel");
    m_cancel->setToolTip(QStringLiteral("Click to save the alarming options and close the window"));
    m_status = new QLabel(this);
    m_status->setObjectName("StatusText");

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_help);
    buttons->addStretch(1);
    for (QPushButton* b : {m_back, m_next, m_cancel}) {
        buttons->addWidget(b);
    }
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pages, 1);
    layout->addLayout(buttons);
    layout->addWidget(m_status);
    resize(620, 520);

    connect(m_next, &QPushButton::clicked, this, [this] { m_session.guarded([this] { next(); }); });
    connect(m_back, &QPushButton::clicked, this, [this] { back(); });
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_help, &QPushButton::clicked, this, [this] {
        if (onHelp) {
            onHelp(QStringLiteral("New_Service"));
        }
    });
    connect(m_test, &QPushButton::clicked, this,
            [this] { m_session.guarded([this] { testConnection(); }); });
    connect(m_pages->tabBar(), &QTabBar::tabBarClicked, this,
            [this](int page) { tabClicked(page); });
    m_kinds->FrameURL->onStatusText = [this](const QString& text) { status(text); };

    // The trial's result comes back here, and only here.
    m_session.engine().onSetupResult = [this](const engine::CheckResult& result) {
        m_memo->setPlainText(FromStd(result.statusWord));
        m_test->setEnabled(true);
        status(QStringLiteral("Service connection has been tested."));
    };
}

TFormSetupScheduling::~TFormSetupScheduling() {
    if (m_session.started()) {
        m_session.engine().onSetupResult = nullptr;
    }
}

void TFormSetupScheduling::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        reset();
    }
    OwnedDialog::showEvent(event);
}

void TFormSetupScheduling::reset() {
    m_form.reset();
    m_memo->clear();
    m_test->setEnabled(true);
    for (int page = kSchedule; page <= kAlarms; ++page) {
        m_pages->setTabVisible(page, false);
    }
    m_step = kStartup;
    m_pages->setCurrentIndex(kStartup);
    m_back->setEnabled(false);
    m_next->setText(QStringLiteral("&Next >"));
    m_next->setToolTip(kNextHint);
    status({});
}

void TFormSetupScheduling::status(const QString& text) {
    m_status->setText(text);
}

void TFormSetupScheduling::goTo(int step) {
    m_step = step;
    m_pages->setTabVisible(step, true);
    m_pages->setCurrentIndex(step);
    m_back->setEnabled(step != kStartup);
    if (step == kAlarms) {
        m_next->setText(QStringLiteral("&Finish"));
        m_next->setToolTip(QStringLiteral("Click to save the new scheduling."));
    } else {
        m_next->setText(QStringLiteral("&Next >"));
        m_next->setToolTip(kNextHint);
    }
}

// Shows what is wrong, then the page, the frame's tab and the field.
bool TFormSetupScheduling::validate(bool schedule, bool service, bool alarms) {
    std::optional<FormProblem> problem;
    if (schedule) {
        problem = m_form.checkSchedule();
    }
    if (!problem && service) {
        problem = m_form.checkService();
    }
    if (!problem && alarms) {
        problem = m_form.checkAlarms([this](const std::string& key) {
            return m_session.store().findRecord(key).has_value();
        });
    }
    if (!problem) {
        return true;
    }
    MessageBox::show(this, app::MessageBoxKind::Information, problem->message);
    goTo(problem->field == nullptr ? kSchedule : m_form.onAlarmPage(*problem) ? kAlarms : kService);
    m_form.point(*problem);
    return false;
}

void TFormSetupScheduling::next() {
    switch (m_step) {
        case kStartup:
            goTo(kSchedule);
            status(QStringLiteral("Please select the scheduling method."));
            break;
        case kSchedule:
            if (validate(true, false)) {
                goTo(kService);
                status(QStringLiteral("Please select service."));
            }
            break;
        case kService:
            if (validate(false, true)) {
                goTo(kTest);
                fillTestLabels();
                status(QStringLiteral("Please click on the below button to test the connection."));
            }
            break;
        case kTest:
            goTo(kAlarms);
            status(QStringLiteral("Please select the below alarm method(s)."));
            break;
        default:
            finish();
            break;
    }
}

void TFormSetupScheduling::back() {
    if (m_step > kStartup) {
        goTo(m_step - 1);
    }
}

void TFormSetupScheduling::tabClicked(int page) {
    if (page < 0 || !m_pages->isTabVisible(page)) {
        return;
    }
    goTo(page);
    if (page == kTest) {
        fillTestLabels();
    }
}

void TFormSetupScheduling::fillTestLabels() {
    const QString kind = m_kinds->kind();
    m_testService->setText(kind);
    const QString host = m_form.hostText();
    m_testHost->setText(host.isEmpty() ? QStringLiteral("Please input valid IP.") : host);
    const QString port = m_form.portText();
    m_testPort->setText(port.isEmpty() && kind != QStringLiteral("Ping")
                            ? QStringLiteral("Please input valid port.")
                            : port);
}

void TFormSetupScheduling::testConnection() {
    if (!validate(true, true)) {
        return;
    }
    m_memo->clear();
    m_test->setEnabled(false);
    status(QStringLiteral("Service connection is testing now."));
    const Status started = m_session.engine().StartSetupCheck(m_form.read());
    if (!started) {
        // Shown where the result would be, and the button is back.
        m_memo->setPlainText(FromStd(started.error()));
        m_test->setEnabled(true);
        status({});
    }
}

void TFormSetupScheduling::finish() {
    if (!validate(true, true, true)) {
        return;
    }
    if (!ShowEditOutcome(this, m_session.edits().add(m_form.read()))) {
        return;
    }
    MessageBox::show(this, app::MessageBoxKind::Information,
                     QStringLiteral("New service has been setup successfully."));
    accept();
}

}  // namespace vantor::ui
