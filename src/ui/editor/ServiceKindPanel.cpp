// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/editor/ServiceKindPanel.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "registry/ServiceElements.h"
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
    DetailFrame* frame = currentDetail();
    return frame != nullptr ? &frame->tabs() : nullptr;
}

DetailFrame* ServiceKindPanel::currentDetail() const {
    // In the order of the kind list.
    DetailFrame* const frames[] = {FrameURL, FramePing, FrameEmail, FrameFTP};
    const int kind = ComboBoxServiceKind->currentIndex();
    return kind >= 0 && kind < static_cast<int>(std::size(frames)) ? frames[kind] : nullptr;
}

void ServiceKindPanel::load(const registry::ServiceFields& service) {
    const bool mail = (registry::KindBit(service.service) & registry::kKindMail) != 0;
    setKind(mail ? QStringLiteral("Email") : QString::fromStdString(service.service));
    if (DetailFrame* frame = currentDetail()) {
        frame->load(service);
    }
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
