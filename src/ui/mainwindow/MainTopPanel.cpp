// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/mainwindow/MainTopPanel.h"

#include <QAction>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMovie>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "ui/mainwindow/MainActions.h"

namespace vantor::ui {

MainTopPanel::MainTopPanel(const MainActions& actions, const QString& clip,
                           std::function<void(const std::string&)> onFilter, QWidget* parent)
    : QWidget(parent), m_onFilter(std::move(onFilter)) {
    setObjectName("PanelTop");
    auto* rows = new QVBoxLayout(this);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(0);
    createFunctionBar(actions);
    createAnimation(clip);
    auto* top = new QHBoxLayout;
    top->setContentsMargins(0, 0, 8, 0);
    top->addWidget(functionBar);
    top->addStretch(1);
    top->addWidget(m_animation);
    rows->addLayout(top);
    createViewBar();
    rows->addWidget(viewBar);
}

void MainTopPanel::createFunctionBar(const MainActions& actions) {
    functionBar = new QToolBar(QStringLiteral("Functions"), this);
    functionBar->setObjectName("ToolBarFunction");
    functionBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    functionBar->setIconSize(QSize(24, 24));
    QStyle* look = style();
    const auto button = [this, look](const char* name, const QString& text,
                                     QStyle::StandardPixmap icon, QAction* action) {
        auto* b = new QToolButton(functionBar);
        b->setObjectName(QString::fromLatin1(name));
        b->setText(text);
        b->setIcon(look->standardIcon(icon));
        b->setToolTip(action->toolTip());
        b->setStatusTip(action->statusTip());
        b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        b->setAutoRaise(true);
        connect(b, &QToolButton::clicked, action, &QAction::trigger);
        functionBar->addWidget(b);
        return b;
    };
    buttonStart =
        button("ToolButtonStart", QStringLiteral("Start"), QStyle::SP_MediaPlay, actions.start);
    buttonStop =
        button("ToolButtonStop", QStringLiteral("Stop"), QStyle::SP_MediaStop, actions.stop);
    buttonClearAlarms = button("ToolButtonClearAlarms", QStringLiteral("Clear Alarms"),
                               QStyle::SP_DialogResetButton, actions.clearMessages);
    buttonAlarm = button("ToolButtonAlarm", QStringLiteral("Alarm"), QStyle::SP_MessageBoxWarning,
                         actions.alarmOptions);
    buttonGeneral = button("ToolButtonGeneral", QStringLiteral("General"),
                           QStyle::SP_FileDialogDetailedView, actions.general);
    buttonService = button("ToolButtonService", QStringLiteral("&Service"),
                           QStyle::SP_FileDialogNewFolder, actions.newService);
    buttonService->setToolTip(QStringLiteral("Setup new service or update existing services..."));
    buttonService->setStatusTip(buttonService->toolTip());
    auto* serviceDrop = new QMenu(buttonService);
    serviceDrop->addAction(actions.newService);
    serviceDrop->addAction(actions.updateService);
    buttonService->setMenu(serviceDrop);
    buttonService->setPopupMode(QToolButton::MenuButtonPopup);
}

void MainTopPanel::createAnimation(const QString& clip) {
    m_animation = new QLabel(this);
    m_animation->setObjectName("Animate");
    if (!QFileInfo(clip).isFile()) {
        return;
    }
    m_movie = new QMovie(clip, QByteArray(), this);
    if (!m_movie->isValid()) {
        delete m_movie;
        m_movie = nullptr;
        return;
    }
    m_animation->setMovie(m_movie);
    // Played once at start too, so that its finished picture shows even
    // where the window is never activated.
    m_movie->start();
    // Played once per activation, up to its 30th frame.
    connect(m_movie, &QMovie::frameChanged, this, [this](int frame) {
        const int last = m_movie->frameCount() > 0 ? m_movie->frameCount() - 1 : 29;
        if (frame >= std::min(29, last)) {
            m_movie->setPaused(true);
        }
    });
}

void MainTopPanel::createViewBar() {
    viewBar = new QToolBar(QStringLiteral("View "), this);
    viewBar->setObjectName("ToolBarSelect");
    viewBar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    viewBar->addWidget(new QLabel(QStringLiteral(" View  "), viewBar));
    const auto filter = [this](const char* name, const QString& text, const QString& hint,
                               bool enabled) {
        QAction* a = viewBar->addAction(text);
        a->setObjectName(QString::fromLatin1(name));
        a->setToolTip(hint);
        a->setStatusTip(hint);
        a->setEnabled(enabled);
        const std::string word = text.toStdString();
        connect(a, &QAction::triggered, this, [this, word] { m_onFilter(word); });
    };
    const QString later = QStringLiteral("It will be supported in next version.");
    filter("ToolButtonALL", QStringLiteral("ALL"), QStringLiteral("Click to show all services."),
           true);
    filter("ToolButtonURL", QStringLiteral("URL"),
           QStringLiteral("Click to show URL services only."), true);
    filter("ToolButtonPing", QStringLiteral("Ping"),
           QStringLiteral("Click to show Ping services only."), true);
    filter("ToolButtonEmail", QStringLiteral("Email"),
           QStringLiteral("Click to show Email (SMTP,POP3,IMAP) services only."), true);
    filter("ToolButtonFTP", QStringLiteral("FTP"),
           QStringLiteral("Click to show FTP services only."), true);
    filter("ToolButtonDatabase", QStringLiteral("Database"), later, false);
    filter("ToolButtonMQ", QStringLiteral("MQ"), later, false);
    filter("ToolButtonLDAP", QStringLiteral("LDAP"), later, false);
}

void MainTopPanel::playAnimation() {
    if (m_movie != nullptr) {
        m_movie->stop();
        m_movie->start();
    }
}

}  // namespace vantor::ui
