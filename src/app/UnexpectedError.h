// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string_view>

namespace vantor::app {

class Reporter;
class SystemLog;

// The handler of every error that nothing else handled on the owner thread:
// the general error text + " : " + the message goes to the system log at
// level Error and into an Error box. The program goes on.
void ApplicationEventsException(Reporter& reporter, SystemLog& log, std::string_view message);

}  // namespace vantor::app
