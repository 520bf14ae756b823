// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ui/support/OwnedDialog.h"

namespace vantor::ui {

// The program's name, version, the Qt it runs on and its licence.
class AboutDialog final : public OwnedDialog {
public:
    AboutDialog(CommandLock& lock, QWidget* parent);
};

}  // namespace vantor::ui
