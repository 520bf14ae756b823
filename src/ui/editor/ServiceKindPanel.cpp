#include "ui/editor/ServiceKindPanel.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "ui/editor/TFrameDatabaseForm.h"
#include "ui/editor/TFrameEmailForm.h"
#include "ui/editor/TFrameFTPForm.h"
#include "ui/editor/TFramePingForm.h"
#include "ui/editor/TFrameURLForm.h"

namespace vantor::ui {

ServiceKindPanel::ServiceKindPanel(QWidget* parent) : QWidget(parent) {
    setObjectName("ServiceKindPanel");
    auto* rows = new QVBoxLayout(this);
    auto* line = new QHBoxLayout;
    line->addWidget(new QLabel(QStringLiteral("Please select service :"), this));
    ComboBoxServiceKind = new QComboBox(this);
    ComboBoxServiceKind->setObjectName("ComboBoxServiceKind");
    ComboBoxServiceKind->addItems({QStringLiteral("URL"), QStringLiteral("Ping"),
                                   QStringLiteral("Email"), QStringLiteral("FTP")});
    line->addWidget(ComboBoxServiceKind);
    line->addStretch(1);
    rows->addLayout(line);
    m_frames = new QStackedWidget(this);
    FrameURL = new TFrameURLForm(m_frames);
    FramePing = new TFramePingForm(m_frames);
    FrameEmail = new TFrameEmailForm(m_frames);
    FrameFTP = new TFrameFTPForm(m_frames);
    FrameDatabase = new TFrameDatabaseForm(m_frames);
    for (QWidget* frame : std::initializer_list<QWidget*>{FrameURL, FramePing, FrameEmail, FrameFTP,
                                                          FrameDatabase}) {
        m_frames->addWidget(frame);
    }
    rows->addWidget(m_frames, 1);
    connect(ComboBoxServiceKind, &QComboBox::currentIndexChanged, this, [this](int index) {
        m_frames->setVisible(index >= 0);
        if (index >= 0) {
            m_frames->setCurrentIndex(index);
        }
    });
}

QString ServiceKindPanel::kind() const {
    return ComboBoxServiceKind->currentIndex() < 0 ? QString() : ComboBoxServiceKind->currentText();
}

void ServiceKindPanel::setKind(const QString& kind) {
    ComboBoxServiceKind->setCurrentIndex(ComboBoxServiceKind->findText(kind));
    m_frames->setVisible(ComboBoxServiceKind->currentIndex() >= 0);
}

QTabWidget* ServiceKindPanel::currentFrame() const {
    if (ComboBoxServiceKind->currentIndex() < 0) {
        return nullptr;
    }
    return static_cast<QTabWidget*>(m_frames->currentWidget());
}

void ServiceKindPanel::reset() {
    FrameURL->reset();
    FramePing->reset();
    FrameEmail->reset();
    FrameFTP->reset();
    FrameDatabase->reset();
    setKind(QStringLiteral("URL"));
}

}  // namespace vantor::ui
