// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/LogLevel.h"

namespace vantor::app {

std::string_view MessageBoxKindName(MessageBoxKind kind) {
    switch (kind) {
        case MessageBoxKind::Information:
            return "Information";
        case MessageBoxKind::Warning:
            return "Warning";
        case MessageBoxKind::Error:
            return "Error";
    }
    return "Error";
}

}  // namespace vantor::app
