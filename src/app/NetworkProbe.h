// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace vantor::app {

class Reporter;
class SystemLog;

// Asks for the local host name and resolves it, so that a machine without a
// working network is reported once at start-up (ERR00303 to ERR00305).
// Problems are shown as warnings; the program goes on either way.
void ProbeNetwork(Reporter& reporter, SystemLog& log);

}  // namespace vantor::app
