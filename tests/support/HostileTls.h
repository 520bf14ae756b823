// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Handlers for FakeServer that break the TLS handshake in the ways a client
// must survive: it must fail in time, with a reason, and send nothing secret.
#include <string>
#include <vector>

#include "support/FakeServer.h"

namespace vantor::test {

enum class TlsFault {
    // Reads the ClientHello and answers nothing until the client gives up.
    Stall,
    // Answers the ClientHello with a plain-text HTTP error, then closes.
    Garbage,
    // Reads the ClientHello, sends the first half of a ServerHello record,
    // then closes.
    CloseMidHandshake,
};

// One turn of the server's side of a plain dialogue: a line starting with
// `expect` is awaited (nothing when empty: a greeting), then `reply` goes
// out as it is, line ends included.
struct ServerStep {
    std::string expect;
    std::string reply;
};

// Plays `preamble` in the clear first, then, on the next bytes, `fault`.
// A client line that does not start as expected ends the connection. The
// transcript holds the plain lines and "<ClientHello>" when one came.
//   FakeServer server(HostileTls({{"", "220 ready\r\n"},
//                                 {"EHLO", "250-hi\r\n250 STARTTLS\r\n"},
//                                 {"STARTTLS", "220 go ahead\r\n"}},
//                                TlsFault::Stall));
FakeServer::Handler HostileTls(std::vector<ServerStep> preamble, TlsFault fault);
inline FakeServer::Handler HostileTls(TlsFault fault) {
    return HostileTls({}, fault);
}

}  // namespace vantor::test
