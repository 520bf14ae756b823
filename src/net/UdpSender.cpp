// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/UdpSender.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vantor::net {

Status SendUdpDatagram(const std::string& host, int port, std::string_view data,
                       Deadline deadline) {
    Expected<std::vector<Address>> addresses = Resolve(host, port, SOCK_DGRAM, deadline);
    if (!addresses) {
        return Error{addresses.error()};
    }
    std::string lastError;
    for (const Address& address : *addresses) {
        const int fd = ::socket(address.family(), SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            lastError = std::string("Cannot open a UDP socket: ") + std::strerror(errno);
            continue;
        }
        const ssize_t sent =
            ::sendto(fd, data.data(), data.size(), MSG_NOSIGNAL, address.get(), address.length);
        const int err = errno;
        ::close(fd);
        if (sent == static_cast<ssize_t>(data.size())) {
            return {};
        }
        lastError = "Cannot send to " + host + " port " + std::to_string(port) + ": " +
                    (sent < 0 ? std::strerror(err) : "the datagram was cut short");
    }
    return Error{lastError};
}

std::string LocalAddressTowards(const std::string& host, int port, Deadline deadline) {
    Expected<std::vector<Address>> addresses = Resolve(host, port, SOCK_DGRAM, deadline);
    if (!addresses || addresses->empty()) {
        return "127.0.0.1";
    }
    const Address& target = addresses->front();
    const int fd = ::socket(target.family(), SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return "127.0.0.1";
    }
    // Connecting a datagram socket sends nothing; it only picks the route.
    Address local;
    local.length = sizeof local.storage;
    std::string ip = "127.0.0.1";
    if (::connect(fd, target.get(), target.length) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&local.storage), &local.length) == 0) {
        ip = local.ip();
    }
    ::close(fd);
    return ip;
}

}  // namespace vantor::net
