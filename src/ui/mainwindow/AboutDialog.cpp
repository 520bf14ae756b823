// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/mainwindow/AboutDialog.h"

#include <QDialogButtonBox>
#include <QIcon>
#include <QLabel>
#include <QVBoxLayout>

#include "ui/BuildConfig.h"

namespace vantor::ui {

AboutDialog::AboutDialog(CommandLock& lock, QWidget* parent) : OwnedDialog(lock, parent) {
    setObjectName("AboutDialog");
    setWindowTitle(QStringLiteral("About Vantor Lite"));
    auto* layout = new QVBoxLayout(this);
    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon(QStringLiteral(":/icons/vantor-lite.svg")).pixmap(64, 64));
    icon->setAlignment(Qt::AlignCenter);
    layout->addWidget(icon);
    auto* text = new QLabel(this);
    text->setObjectName("AboutText");
    text->setAlignment(Qt::AlignCenter);
    text->setTextFormat(Qt::RichText);
    text->setOpenExternalLinks(true);
    text->setText(QStringLiteral("<h2>Vantor Lite</h2>"
                                 "<p>Version %1</p>"
                                 "<p>A monitor of network services.</p>"
                                 "<p>Built with Qt %2, running on Qt %3.</p>"
                                 "<p>%4</p>"
                                 "<p><a href=\"%5\">%5</a></p>")
                      .arg(QStringLiteral(VANTOR_VERSION), QStringLiteral(QT_VERSION_STR),
                           QString::fromLatin1(qVersion()), QStringLiteral(VANTOR_LICENCE),
                           QStringLiteral(VANTOR_HOME_PAGE)));
    layout->addWidget(text);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
}

}  // namespace vantor::ui
