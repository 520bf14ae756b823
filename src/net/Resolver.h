// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/socket.h>

#include <string>
#include <vector>

#include "app/Result.h"
#include "net/Deadline.h"

namespace vantor::net {

struct Address {
    sockaddr_storage storage{};
    socklen_t length = 0;

    int family() const { return storage.ss_family; }
    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage); }
    // "192.0.2.1" or "2001:db8::1".
    std::string ip() const;
};

// Why a port is no TCP or UDP port ("Port 70000 is out of range"): empty
// for 0 to 65535.
std::string PortRangeProblem(int port);

// Resolves a host name or address text; the name lookup is bounded by the
// deadline. The error text names the host and the resolver's reason.
Expected<std::vector<Address>> Resolve(const std::string& host, int port, int socketType,
                                       Deadline deadline);

}  // namespace vantor::net
