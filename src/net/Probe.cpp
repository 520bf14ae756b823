// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/Probe.h"

#include <netinet/in.h>

#include <cstring>
#include <utility>

namespace vantor::net {

namespace {
thread_local app::ProbeFacts t_probe;
}  // namespace

void StartProbe() {
    t_probe = {};
}

app::ProbeFacts TakeProbe() {
    return std::exchange(t_probe, {});
}

app::ProbeFacts& ThisProbe() {
    return t_probe;
}

void NoteAddress(const sockaddr* address) {
    if (address->sa_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
        t_probe.ipProtocol = 4;
        std::memcpy(t_probe.ipBytes.data(), &v4->sin_addr, 4);
        t_probe.ipLength = 4;
    } else if (address->sa_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
        t_probe.ipProtocol = 6;
        std::memcpy(t_probe.ipBytes.data(), &v6->sin6_addr, 16);
        t_probe.ipLength = 16;
    }
}

}  // namespace vantor::net
