// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/mainwindow/HelpWindow.h"

#include <QFileInfo>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace vantor::ui {

HelpWindow::HelpWindow(QString helpFile, QWidget* parent)
    : QWidget(parent, Qt::Window),
      m_helpFile(std::move(helpFile)),
      m_browser(new QTextBrowser(this)) {
    setObjectName("HelpWindow");
    setWindowTitle(QStringLiteral("Vantor Lite Help"));
    m_browser->setObjectName("HelpBrowser");
    m_browser->setOpenExternalLinks(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_browser);
    resize(760, 620);
}

void HelpWindow::showTopic(const QString& topic) {
    if (!m_loaded) {
        m_loaded = true;
        if (QFileInfo(m_helpFile).isFile()) {
            // The file is HTML whatever its name says.
            m_browser->setSource(QUrl::fromLocalFile(m_helpFile), QTextDocument::HtmlResource);
        } else {
            m_browser->setPlainText(
                QStringLiteral("The help file %1 was not found.").arg(m_helpFile));
        }
    }
    if (!topic.isEmpty()) {
        m_browser->scrollToAnchor(topic);
    } else {
        m_browser->scrollToAnchor(QStringLiteral("Contents"));
    }
    show();
    raise();
    activateWindow();
}

}  // namespace vantor::ui
