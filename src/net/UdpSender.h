// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

#include "app/Result.h"
#include "net/Resolver.h"

namespace vantor::net {

// Sends one UDP datagram to the host and port (the first address that takes
// it). The name lookup is bounded by the deadline; the send itself does not
// wait for any answer.
Status SendUdpDatagram(const std::string& host, int port, std::string_view data, Deadline deadline);

// The local address that datagrams to the host leave from, in dotted (or
// IPv6) form; "127.0.0.1" when it cannot be told.
std::string LocalAddressTowards(const std::string& host, int port, Deadline deadline);

}  // namespace vantor::net
