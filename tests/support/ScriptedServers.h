// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Handlers for FakeServer that play the server side of the mail and FTP
// dialogues.
#include <string>
#include <vector>

#include "support/FakeServer.h"

namespace vantor::test {

// Answers each line read with the next reply; a reply may hold several
// lines. What comes after the last reply (QUIT, LOGOUT) is only kept.
FakeServer::Handler Script(std::string greeting, std::vector<std::string> replies);

// An FTP control connection that answers by command verb: USER with `user`
// (331 asks for PASS), PASS with `pass`, SITE/OPEN 200, TYPE 200, SYST
// with `syst`.
FakeServer::Handler Ftp(std::string user = "331 Password required",
                        std::string syst = "215 UNIX Type: L8", std::string pass = "230 Logged in");

}  // namespace vantor::test
