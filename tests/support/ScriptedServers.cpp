// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/ScriptedServers.h"

namespace vantor::test {

FakeServer::Handler Script(std::string greeting, std::vector<std::string> replies) {
    return [greeting, replies](FakeConnection& c) {
        c.send(greeting);
        for (const auto& reply : replies) {
            if (!c.readLine()) {
                return;
            }
            c.send(reply);
        }
        while (c.readLine(std::chrono::seconds(2))) {
        }
    };
}

FakeServer::Handler Ftp(std::string user, std::string syst, std::string pass) {
    return [=](FakeConnection& c) {
        c.send("220 FTP ready\r\n");
        while (auto line = c.readLine()) {
            const std::string verb = line->substr(0, line->find(' '));
            std::string reply;
            if (verb == "USER") {
                reply = user;
            } else if (verb == "PASS") {
                reply = pass;
            } else if (verb == "SITE" || verb == "OPEN") {
                reply = "200 connected";
            } else if (verb == "TYPE") {
                reply = "200 Switching to Binary mode.";
            } else if (verb == "SYST") {
                reply = syst;
            } else {
                reply = "502 Command not implemented.";
            }
            c.send(reply + "\r\n");
        }
    };
}

}  // namespace vantor::test
