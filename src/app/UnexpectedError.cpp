// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/UnexpectedError.h"

#include <string>

#include "app/Messages.h"
#include "app/SystemLog.h"

namespace vantor::app {

void ApplicationEventsException(Reporter& reporter, SystemLog& log, std::string_view message) {
    ReportFailure(reporter, log, msg::kUnexpectedError, message, MessageBoxKind::Error,
                  LogLevel::Error);
}

}  // namespace vantor::app
