// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/socket.h>

#include "app/ProbeFacts.h"

namespace vantor::net {

// The facts this thread's exchanges gathered since StartProbe(): a check
// runs alone on its pool thread from its start to its verdict, and the
// clients it uses (the name lookup, the connection, TLS, HTTP, the echo)
// note here what they learned on the way.
void StartProbe();
app::ProbeFacts TakeProbe();
app::ProbeFacts& ThisProbe();

// Notes the address connected to (its family and bytes).
void NoteAddress(const sockaddr* address);

}  // namespace vantor::net
