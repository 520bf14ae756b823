// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/settings/TFormOptions.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QShowEvent>
#include <QTabWidget>
#include <QVBoxLayout>

#include "session/Session.h"
#include "ui/support/FormSupport.h"
#include "ui/support/MessageBox.h"

namespace vantor::ui {

namespace {

const QString kPrefixHint = QStringLiteral(
    "The filename uses for backup, _<timestamp>.log will be appended to the end of the filename.");

// 1 to 999; a value outside shows no selection.
QComboBox* DayList(QWidget* parent, const char* name) {
    auto* list = new QComboBox(parent);
    list->setObjectName(QString::fromLatin1(name));
    for (int day = 1; day <= 999; ++day) {
        list->addItem(QString::number(day));
    }
    return list;
}

void ShowDays(QComboBox* list, int value) {
    list->setCurrentIndex(value >= 1 && value <= 999 ? value - 1 : -1);
}

// The list's value, or the setting as it was when the list shows none.
int Days(const QComboBox* list, int current) {
    return list->currentIndex() >= 0 ? list->currentIndex() + 1 : current;
}

}  // namespace

TFormOptions::TFormOptions(session::Session& session, CommandLock& lock, QWidget* parent)
    : OwnedDialog(lock, parent), m_session(session), m_tabs(new QTabWidget(this)) {
    setObjectName("FormOptions");
    setWindowTitle(QStringLiteral("Options"));
    setWindowFlags(Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowCloseButtonHint |
                   Qt::WindowContextHelpButtonHint);
    m_tabs->setObjectName("OptionTabs");

    const auto edit = [](QWidget* parent, const char* name) {
        auto* e = new QLineEdit(parent);
        e->setObjectName(QString::fromLatin1(name));
        return e;
    };
    const auto group = [](QWidget* page, const QString& title, QFormLayout*& rows) {
        auto* box = new QGroupBox(title, page);
        rows = new QFormLayout(box);
        page->layout()->addWidget(box);
        return box;
    };

    auto* general = new QWidget;
    new QVBoxLayout(general);
    QFormLayout* rows = nullptr;
    group(general, QStringLiteral("Settings"), rows);
    m_initStart = new QComboBox(general);
    m_initStart->setObjectName("ComboBoxInitStart");
    m_initStart->addItems({QStringLiteral("Yes"), QStringLiteral("No")});
    rows->addRow(QStringLiteral("Initial start"), m_initStart);
    group(general, QStringLiteral("System Log"), rows);
    m_logFilename = edit(general, "EditSysLogFilename");
    m_logFilename->setToolTip(kPrefixHint);
    rows->addRow(QStringLiteral("Filename"), m_logFilename);
    auto* hint = new QLabel(kPrefixHint, general);
    hint->setWordWrap(true);
    rows->addRow(QString(), hint);
    m_logHouseKeep = DayList(general, "ComboBoxSysLogHouseKeep");
    rows->addRow(QStringLiteral("House keep day"), m_logHouseKeep);
    m_level = new QComboBox(general);
    m_level->setObjectName("ComboBoxLevel");
    m_level->addItems(
        {QStringLiteral("NONE"), QStringLiteral("DEBUG"), QStringLiteral("INFORMATIONAL"),
         QStringLiteral("NOTICE"), QStringLiteral("WARMING"), QStringLiteral("ERROR"),
         QStringLiteral("CRITICAL"), QStringLiteral("ALERT"), QStringLiteral("EMERGENCY")});
    auto* levelLabel = new QLabel(QStringLiteral("Alarm Level"), general);
    rows->addRow(levelLabel, m_level);
    levelLabel->hide();
    m_level->hide();
    group(general, QStringLiteral("Alarm Message"), rows);
    m_showLogItem = DayList(general, "ComboBoxShowLogItem");
    rows->addRow(QStringLiteral("Number of Logs"), m_showLogItem);
    general->layout()->addItem(new QSpacerItem(0, 0, QSizePolicy::Minimum, QSizePolicy::Expanding));
    m_tabs->addTab(general, QStringLiteral("General"));

    auto* backup = new QWidget;
    new QVBoxLayout(backup);
    group(backup, QStringLiteral("File Details"), rows);
    m_backupEnable = new QCheckBox(backup);
    m_backupEnable->setObjectName("CheckBoxBackupEnable");
    rows->addRow(QStringLiteral("Enable"), m_backupEnable);
    auto* pathLine = new QHBoxLayout;
    m_backupPath = edit(backup, "EditBackupPath");
    m_browse = new QPushButton(QStringLiteral("..."), backup);
    m_browse->setObjectName("ButtonBrowse");
    pathLine->addWidget(m_backupPath, 1);
    pathLine->addWidget(m_browse);
    rows->addRow(QStringLiteral("File Path"), pathLine);
    m_backupFilename = edit(backup, "EditBackupFilename");
    m_backupFilename->setToolTip(kPrefixHint);
    rows->addRow(QStringLiteral("Filename"), m_backupFilename);
    auto* backupHint = new QLabel(kPrefixHint, backup);
    backupHint->setWordWrap(true);
    rows->addRow(QString(), backupHint);
    m_backupHouseKeep = DayList(backup, "ComboBoxBackupHouseKeep");
    rows->addRow(QStringLiteral("House Keep Day"), m_backupHouseKeep);
    backup->layout()->addItem(new QSpacerItem(0, 0, QSizePolicy::Minimum, QSizePolicy::Expanding));
    m_tabs->addTab(backup, QStringLiteral("Alarm Msg Backup"));

    auto* service = new QWidget;
    new QVBoxLayout(service);
    const auto kind = [&](const QString& title, const char* timeoutName, const char* retryName) {
        QGroupBox* box = group(service, title, rows);
        auto* line = new QHBoxLayout;
        Kind k{edit(box, timeoutName),
               new QCheckBox(QStringLiteral("Retry if first time fail"), box)};
        k.retry->setObjectName(QString::fromLatin1(retryName));
        line->addWidget(k.timeout, 1);
        line->addWidget(new QLabel(QStringLiteral("ms"), box));
        rows->addRow(QStringLiteral("Timeout"), line);
        rows->addRow(QString(), k.retry);
        return std::pair{k, box};
    };
    m_url = kind(QStringLiteral("URL"), "EditURLTimeout", "CheckBoxURLRetry").first;
    m_ping = kind(QStringLiteral("Ping"), "EditPingTimeout", "CheckBoxPingRetry").first;
    auto [database, databaseBox] =
        kind(QStringLiteral("Database"), "EditDatabaseTimeout", "CheckBoxDatabaseRetry");
    m_database = database;
    databaseBox->hide();
    m_ftp = kind(QStringLiteral("FTP"), "EditFTPTimeout", "CheckBoxFTPRetry").first;
    m_email = kind(QStringLiteral("Email"), "EditEmailTimeout", "CheckBoxEmailRetry").first;
    m_tabs->addTab(service, QStringLiteral("Service"));

    m_apply = new QPushButton(QStringLiteral("Apply"), this);
    m_apply->setObjectName("ButtonApply");
    m_apply->setToolTip(QStringLiteral("Click to save the settings"));
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName("ButtonCancel");
    cancel->setToolTip(QStringLiteral("Click to cancel changes and close the window"));
    auto* defaults = new QPushButton(QStringLiteral("Default"), this);
    defaults->setObjectName("ButtonDefault");
    defaults->setToolTip(QStringLiteral("Click to reset the settings to default"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    for (QPushButton* b : {m_apply, cancel, defaults}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    m_status = new QLabel(this);
    m_status->setObjectName("StatusText");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs, 1);
    layout->addLayout(buttons);
    layout->addWidget(m_status);
    resize(520, 480);

    connect(m_apply, &QPushButton::clicked, this,
            [this] { m_session.guarded([this] { apply(); }); });
    connect(cancel, &QPushButton::clicked, this, &TFormOptions::cancel);
    connect(defaults, &QPushButton::clicked, this, [this] { setDefaults(); });
    connect(m_browse, &QPushButton::clicked, this, [this] { browse(); });
    connect(m_backupEnable, &QCheckBox::clicked, this, [this] { followEnable(); });
    // Entering any control makes the changes worth applying.
    const auto edited = [this] { m_apply->setEnabled(true); };
    for (QLineEdit* e : findChildren<QLineEdit*>()) {
        connect(e, &QLineEdit::textEdited, this, edited);
    }
    for (QComboBox* c : findChildren<QComboBox*>()) {
        connect(c, &QComboBox::activated, this, edited);
    }
    for (QCheckBox* c : findChildren<QCheckBox*>()) {
        connect(c, &QCheckBox::clicked, this, edited);
    }
    EnableApplyOnEntering(*this, *m_apply);
}

void TFormOptions::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        load();
    }
    OwnedDialog::showEvent(event);
}

void TFormOptions::status(const QString& text) {
    if (onStatus) {
        onStatus(text);
    }
}

void TFormOptions::load() {
    const app::AppSettings& s = m_session.settings();
    m_apply->setEnabled(false);
    m_initStart->setCurrentIndex(s.initStart ? 0 : 1);
    m_logFilename->setText(FromStd(s.systemLogFilename));
    m_level->setCurrentIndex(static_cast<int>(s.minLogLevel));
    ShowDays(m_logHouseKeep, s.systemLogHouseKeepDay);
    ShowDays(m_showLogItem, s.showLogItem);
    m_backupEnable->setChecked(s.backupEnable);
    m_backupPath->setText(FromStd(s.backupFilenamePath));
    m_backupFilename->setText(FromStd(s.backupFilename));
    ShowDays(m_backupHouseKeep, s.backupHouseKeepDay);
    followEnable();
    const std::pair<Kind*, std::pair<int, int>> kinds[] = {
        {&m_url, {s.httpDefaultTimeout, s.httpRetry}},
        {&m_ping, {s.pingDefaultTimeout, s.pingRetry}},
        {&m_database, {s.dbDefaultTimeout, s.dbRetry}},
        {&m_ftp, {s.ftpDefaultTimeout, s.ftpRetry}},
        {&m_email, {s.emailDefaultTimeout, s.emailRetry}}};
    for (const auto& [kind, values] : kinds) {
        kind->timeout->setText(QString::number(values.first));
        kind->retry->setChecked(values.second == 1);
    }
    m_status->clear();
    status(QStringLiteral("Updating the settings."));
}

void TFormOptions::followEnable() {
    const bool on = m_backupEnable->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{m_backupPath, m_browse, m_backupFilename,
                                                      m_backupHouseKeep}) {
        w->setEnabled(on);
    }
}

void TFormOptions::apply() {
    const auto refuse = [this](const QString& text, int tab, QWidget* field) {
        MessageBox::show(this, app::MessageBoxKind::Information, text);
        m_tabs->setCurrentIndex(tab);
        field->setFocus();
    };
    if (m_backupEnable->isChecked() && m_backupPath->text().isEmpty()) {
        refuse(QStringLiteral("Alarm Msg File Path field is empty."), 1, m_backupPath);
        return;
    }
    const std::pair<const char*, Kind*> timeouts[] = {{"URL Timeout", &m_url},
                                                      {"Ping Timeout", &m_ping},
                                                      {"FTP Timeout", &m_ftp},
                                                      {"Email Timeout", &m_email}};
    for (const auto& [name, kind] : timeouts) {
        if (!IsInteger(kind->timeout->text())) {
            refuse(QStringLiteral("%1 is invalid integer or empty.").arg(QString::fromLatin1(name)),
                   2, kind->timeout);
            return;
        }
    }
    app::AppSettings& s = m_session.settings();
    s.initStart = m_initStart->currentIndex() == 0;
    s.systemLogFilename = m_logFilename->text().toStdString();
    s.minLogLevel = static_cast<app::LogLevel>(std::max(0, m_level->currentIndex()));
    s.systemLogHouseKeepDay = Days(m_logHouseKeep, s.systemLogHouseKeepDay);
    s.backupEnable = m_backupEnable->isChecked();
    s.backupFilenamePath = m_backupPath->text().toStdString();
    s.backupFilename = m_backupFilename->text().toStdString();
    s.backupHouseKeepDay = Days(m_backupHouseKeep, s.backupHouseKeepDay);
    s.httpDefaultTimeout = m_url.timeout->text().toInt();
    s.pingDefaultTimeout = m_ping.timeout->text().toInt();
    s.ftpDefaultTimeout = m_ftp.timeout->text().toInt();
    s.emailDefaultTimeout = m_email.timeout->text().toInt();
    s.httpRetry = m_url.retry->isChecked() ? 1 : 0;
    s.pingRetry = m_ping.retry->isChecked() ? 1 : 0;
    s.ftpRetry = m_ftp.retry->isChecked() ? 1 : 0;
    s.emailRetry = m_email.retry->isChecked() ? 1 : 0;
    s.showLogItem = Days(m_showLogItem, s.showLogItem);
    SaveAppliedSettings(m_session);
    const QString saved = QStringLiteral("Option settings saved.");
    status(saved);
    m_status->setText(saved);
    m_apply->setEnabled(false);
}

void TFormOptions::cancel() {
    status(QStringLiteral("Updating option settings cancel."));
    reject();
}

void TFormOptions::setDefaults() {
    m_initStart->setCurrentIndex(0);
    m_logFilename->setText(QStringLiteral("system_"));
    m_level->setCurrentIndex(0);
    ShowDays(m_logHouseKeep, 7);
    ShowDays(m_showLogItem, 100);
    m_backupPath->setText(QString::fromStdString(m_session.paths().logDirPath()));
    m_backupFilename->setText(QStringLiteral("AlarmMsg_"));
    ShowDays(m_backupHouseKeep, 7);
    for (Kind* kind : {&m_url, &m_ping, &m_database, &m_ftp, &m_email}) {
        kind->timeout->setText(QStringLiteral("10000"));
    }
    for (Kind* kind : {&m_url, &m_ping, &m_ftp, &m_email}) {
        kind->retry->setChecked(false);
    }
    m_backupFilename->setEnabled(false);
    m_browse->setEnabled(false);
    m_backupHouseKeep->setEnabled(false);
    status(
        QStringLiteral("Reset the settings to default. Please click OK to save the settings, or "
                       "Cancel to cancel the changes."));
}

void TFormOptions::browse() {
    const QString start = QString::fromStdString(m_session.paths().logDirPath());
    const QString chosen = QFileDialog::getSaveFileName(
        this, QStringLiteral("Please select the backup SysLog file path."),
        start + m_backupFilename->text(), QString(), nullptr, QFileDialog::DontConfirmOverwrite);
    if (!chosen.isEmpty()) {
        const QString folder = QFileInfo(chosen).absolutePath();
        m_backupPath->setText(folder.endsWith(QLatin1Char('/')) ? folder
                                                                : folder + QLatin1Char('/'));
    }
    m_apply->setEnabled(true);
}

}  // namespace vantor::ui
