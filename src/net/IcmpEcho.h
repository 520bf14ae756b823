// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/Result.h"
#include "net/Deadline.h"

namespace vantor::net {

// What one received ICMP message means for our echo request.
struct IcmpAnswer {
    enum class Kind { Unrelated, EchoReply, Error };
    Kind kind = Kind::Unrelated;
    std::string meaning;  // for Error: "Destination host unreachable", ...
};

// Reads one ICMP message as received on a socket. `withIpHeader`: the
// message starts with the IPv4 header (raw IPv4 sockets). `checkId`: the
// identifier must match (a datagram socket's identifier is the kernel's).
IcmpAnswer ParseIcmpAnswer(const std::uint8_t* data, std::size_t length, bool ipv6,
                           bool withIpHeader, std::uint16_t id, std::uint16_t sequence,
                           bool checkId);

// The meaning of an ICMP error type and code (destination unreachable, time
// exceeded, ...), for IPv4 or IPv6.
std::string IcmpErrorMeaning(bool ipv6, int type, int code);

// Sends one ICMP echo request to the host and waits until the deadline for
// its own reply: true for an echo reply, false when none came in time, an
// error (with its text) when the host does not resolve, no socket can be
// opened, or an ICMP error answers the request. An unprivileged ICMP
// datagram socket is tried first, a raw socket when that is refused.
Expected<bool> SendIcmpEcho(const std::string& host, Deadline deadline);

}  // namespace vantor::net
