// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QTabWidget>

#include "ui/editor/DetailFrame.h"

class QLineEdit;

namespace vantor::ui {

// The settings of a Ping service.
class TFramePingForm final : public QTabWidget, public DetailFrame {
public:
    explicit TFramePingForm(QWidget* parent = nullptr);
    void reset() override;

    QTabWidget& tabs() override { return *this; }
    std::optional<FormProblem> check() const override;
    void read(registry::ServiceFields& service) override;
    void load(const registry::ServiceFields& service) override;
    QString hostText() const override;
    QString portText() const override;

    QLineEdit* EditPingHost;
    QLineEdit* EditPingPort;
};

}  // namespace vantor::ui
