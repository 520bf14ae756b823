// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

#include "registry/ServiceFields.h"

class QComboBox;
class QStackedWidget;
class QTabWidget;

namespace vantor::ui {

class DetailFrame;
class TFrameURLForm;
class TFramePingForm;
class TFrameEmailForm;
class TFrameFTPForm;
class TFrameDatabaseForm;

// "Please select service :" with the kinds "URL", "Ping", "Email", "FTP"
// and the detail frame of the chosen one.
class ServiceKindPanel final : public QWidget {
public:
    explicit ServiceKindPanel(QWidget* parent = nullptr);

    // "URL", "Ping", "Email", "FTP", or empty when none is chosen.
    QString kind() const;
    // Shows the kind's frame; a kind the list does not offer chooses none
    // and shows no frame.
    void setKind(const QString& kind);
    // The frame shown now, or null.
    QTabWidget* currentFrame() const;
    DetailFrame* currentDetail() const;
    // Chooses the kind of a record's service (a mail protocol chooses
    // "Email"; a kind the list does not offer, "Database", none) and loads
    // its frame.
    void load(const registry::ServiceFields& service);
    // Every frame back to its defaults, kind "URL".
    void reset();

    QComboBox* ComboBoxServiceKind;
    TFrameURLForm* FrameURL;
    TFramePingForm* FramePing;
    TFrameEmailForm* FrameEmail;
    TFrameFTPForm* FrameFTP;
    TFrameDatabaseForm* FrameDatabase;

private:
    QStackedWidget* m_frames;
};

}  // namespace vantor::ui
