// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/IcmpEcho.h"

#include <linux/errqueue.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>

#include "net/Probe.h"
#include "net/Resolver.h"

namespace vantor::net {

namespace {

constexpr std::size_t kPayload = 32;
constexpr std::uint8_t kEchoRequestV4 = 8;
constexpr std::uint8_t kEchoReplyV4 = 0;
constexpr std::uint8_t kEchoRequestV6 = 128;
constexpr std::uint8_t kEchoReplyV6 = 129;

std::uint16_t Read16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

void Write16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v & 0xff);
}

std::uint16_t Checksum(const std::uint8_t* data, std::size_t length) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < length; i += 2) {
        sum += Read16(data + i);
    }
    if (length % 2 != 0) {
        sum += static_cast<std::uint32_t>(data[length - 1]) << 8;
    }
    while (sum >> 16) {
        sum = (sum & 0xffff) + (sum >> 16);
    }
    return static_cast<std::uint16_t>(~sum);
}

// Sequence numbers are unique across the process so that concurrent checks
// on raw sockets (which all see every reply) never take each other's.
std::atomic<std::uint32_t> g_sequence{0};

// Skips an IPv4 header; nullptr when it does not fit.
const std::uint8_t* SkipIpv4Header(const std::uint8_t* data, std::size_t& length) {
    if (length < 20 || (data[0] >> 4) != 4) {
        return nullptr;
    }
    const std::size_t ihl = static_cast<std::size_t>(data[0] & 0x0f) * 4;
    if (ihl < 20 || length < ihl) {
        return nullptr;
    }
    length -= ihl;
    return data + ihl;
}

}  // namespace

std::string IcmpErrorMeaning(bool ipv6, int type, int code) {
    if (!ipv6) {
        if (type == 3) {
            switch (code) {
                case 0:
                    return "Destination network unreachable";
                case 1:
                    return "Destination host unreachable";
                case 2:
                    return "Destination protocol unreachable";
                case 3:
                    return "Destination port unreachable";
                case 4:
                    return "Fragmentation needed and DF set";
                case 5:
                    return "Source route failed";
                case 6:
                    return "Destination network unknown";
                case 7:
                    return "Destination host unknown";
                case 9:
                    return "Destination network administratively prohibited";
                case 10:
                    return "Destination host administratively prohibited";
                case 13:
                    return "Communication administratively prohibited";
                default:
                    return "Destination unreachable (code " + std::to_string(code) + ")";
            }
        }
        if (type == 11) {
            return code == 1 ? "Fragment reassembly time exceeded"
                             : "Time to live exceeded in transit";
        }
        if (type == 12) {
            return "Parameter problem";
        }
        return "ICMP error type " + std::to_string(type) + " code " + std::to_string(code);
    }
    if (type == 1) {
        switch (code) {
            case 0:
                return "No route to destination";
            case 1:
                return "Communication with destination administratively prohibited";
            case 3:
                return "Destination address unreachable";
            case 4:
                return "Destination port unreachable";
            default:
                return "Destination unreachable (code " + std::to_string(code) + ")";
        }
    }
    if (type == 2) {
        return "Packet too big";
    }
    if (type == 3) {
        return code == 1 ? "Fragment reassembly time exceeded" : "Hop limit exceeded in transit";
    }
    if (type == 4) {
        return "Parameter problem";
    }
    return "ICMPv6 error type " + std::to_string(type) + " code " + std::to_string(code);
}

IcmpAnswer ParseIcmpAnswer(const std::uint8_t* data, std::size_t length, bool ipv6,
                           bool withIpHeader, std::uint16_t id, std::uint16_t sequence,
                           bool checkId) {
    if (withIpHeader && !ipv6) {
        data = SkipIpv4Header(data, length);
        if (data == nullptr) {
            return {};
        }
    }
    if (length < 8) {
        return {};
    }
    const int type = data[0];
    const int code = data[1];
    auto matches = [&](const std::uint8_t* echo) {
        return Read16(echo + 6) == sequence && (!checkId || Read16(echo + 4) == id);
    };
    const int replyType = ipv6 ? kEchoReplyV6 : kEchoReplyV4;
    if (type == replyType) {
        return matches(data) ? IcmpAnswer{IcmpAnswer::Kind::EchoReply, {}} : IcmpAnswer{};
    }
    const bool isError = ipv6 ? (type >= 1 && type <= 4) : (type == 3 || type == 11 || type == 12);
    if (!isError) {
        return {};
    }
    // An error carries the start of the packet that caused it: the IP header
    // and the first 8 bytes of our echo request.
    const std::uint8_t* inner = data + 8;
    std::size_t innerLength = length - 8;
    if (ipv6) {
        constexpr std::size_t kIpv6Header = 40;
        if (innerLength < kIpv6Header + 8 || inner[6] != IPPROTO_ICMPV6) {
            return {};
        }
        inner += kIpv6Header;
        innerLength -= kIpv6Header;
    } else {
        if (innerLength < 20 || inner[9] != IPPROTO_ICMP) {
            return {};
        }
        inner = SkipIpv4Header(inner, innerLength);
        if (inner == nullptr || innerLength < 8) {
            return {};
        }
    }
    const int requestType = ipv6 ? kEchoRequestV6 : kEchoRequestV4;
    if (inner[0] != requestType || !matches(inner)) {
        return {};
    }
    return {IcmpAnswer::Kind::Error, IcmpErrorMeaning(ipv6, type, code)};
}

namespace {

class Socket {
public:
    explicit Socket(int fd) : m_fd(fd) {}
    ~Socket() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

// The meaning of an ICMP error queued on a datagram socket, when it
// answers our request.
std::optional<std::string> ReadErrorQueue(int fd, bool ipv6, std::uint16_t sequence) {
    std::uint8_t data[512];
    std::uint8_t control[512];
    iovec iov{data, sizeof data};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(fd, &msg, MSG_ERRQUEUE | MSG_DONTWAIT);
    if (n < 0) {
        return std::nullopt;
    }
    // The data part is our own echo request.
    if (n < 8 || Read16(data + 6) != sequence) {
        return std::nullopt;
    }
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        if ((c->cmsg_level == SOL_IP && c->cmsg_type == IP_RECVERR) ||
            (c->cmsg_level == SOL_IPV6 && c->cmsg_type == IPV6_RECVERR)) {
            sock_extended_err err{};
            std::memcpy(&err, CMSG_DATA(c), sizeof err);
            if (err.ee_origin == SO_EE_ORIGIN_ICMP || err.ee_origin == SO_EE_ORIGIN_ICMP6) {
                return IcmpErrorMeaning(ipv6, err.ee_type, err.ee_code);
            }
            return std::string(std::strerror(static_cast<int>(err.ee_errno)));
        }
    }
    return std::nullopt;
}

}  // namespace

Expected<bool> SendIcmpEcho(const std::string& host, Deadline deadline) {
    using std::chrono::steady_clock;
    const auto micros = [](steady_clock::duration d) {
        return std::chrono::duration_cast<std::chrono::microseconds>(d).count();
    };
    const auto started = steady_clock::now();
    Expected<std::vector<Address>> addresses = Resolve(host, 0, SOCK_DGRAM, deadline);
    if (!addresses) {
        return Error{addresses.error()};
    }
    const auto resolved = steady_clock::now();
    // IPv4 first, like every other client here.
    const Address* target = &addresses->front();
    for (const Address& a : *addresses) {
        if (a.family() == AF_INET) {
            target = &a;
            break;
        }
    }
    const bool ipv6 = target->family() == AF_INET6;
    const int protocol = ipv6 ? static_cast<int>(IPPROTO_ICMPV6) : static_cast<int>(IPPROTO_ICMP);

    // Once the datagram socket has been refused, later checks go straight to
    // a raw socket; a failing raw socket sends them back to trying both.
    static std::atomic<bool> datagramRefused{false};
    bool raw = datagramRefused.load();
    int fd =
        raw ? -1 : ::socket(target->family(), SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, protocol);
    if (!raw && fd < 0 && (errno == EACCES || errno == EPERM || errno == EPROTONOSUPPORT)) {
        datagramRefused = true;
        raw = true;
    }
    if (raw) {
        fd = ::socket(target->family(), SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, protocol);
        if (fd < 0) {
            const int err = errno;
            datagramRefused = false;
            errno = err;
        }
    }
    if (fd < 0) {
        return Error{std::string("Cannot open an ICMP socket: ") + std::strerror(errno)};
    }
    Socket socket(fd);
    if (!raw) {
        const int one = 1;
        if (ipv6) {
            ::setsockopt(fd, SOL_IPV6, IPV6_RECVERR, &one, sizeof one);
        } else {
            ::setsockopt(fd, SOL_IP, IP_RECVERR, &one, sizeof one);
        }
    }

    const auto sequence = static_cast<std::uint16_t>(++g_sequence);
    const auto id = static_cast<std::uint16_t>(::getpid() ^ (g_sequence.load() >> 16));
    std::uint8_t packet[8 + kPayload] = {};
    packet[0] = ipv6 ? kEchoRequestV6 : kEchoRequestV4;
    Write16(packet + 4, id);
    Write16(packet + 6, sequence);
    for (std::size_t i = 0; i < kPayload; ++i) {
        packet[8 + i] = static_cast<std::uint8_t>('a' + i % 23);
    }
    if (!ipv6) {
        // The kernel fills in the ICMPv6 checksum itself.
        Write16(packet + 2, Checksum(packet, sizeof packet));
    }
    const auto sent = steady_clock::now();
    if (::sendto(fd, packet, sizeof packet, 0, target->get(), target->length) < 0) {
        return Error{"Cannot send the echo request to " + target->ip() + ": " +
                     std::strerror(errno)};
    }
    app::ProbeFacts& probe = ThisProbe();
    NoteAddress(target->get());
    probe.icmp = app::ProbeFacts::Icmp{};
    app::ProbeFacts::Icmp& icmp = *probe.icmp;
    icmp.resolveUs = micros(resolved - started);
    icmp.setupUs = micros(sent - resolved);

    // Read first and wait only when nothing is there: on a near host the
    // answer is often queued by the time sendto returns.
    for (;;) {
        std::uint8_t buffer[1500];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n >= 0) {
            const IcmpAnswer answer = ParseIcmpAnswer(buffer, static_cast<std::size_t>(n), ipv6,
                                                      raw && !ipv6, id, sequence, raw);
            if (answer.kind == IcmpAnswer::Kind::EchoReply) {
                icmp.rttUs = micros(steady_clock::now() - sent);
                return true;
            }
            if (answer.kind == IcmpAnswer::Kind::Error) {
                return Error{answer.meaning};
            }
            continue;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            // A datagram socket reports a queued ICMP error as the error of
            // recv; the queue says what it was.
            const int err = errno;
            if (auto meaning = ReadErrorQueue(fd, ipv6, sequence)) {
                return Error{*meaning};
            }
            return Error{std::string("Cannot read the echo reply: ") + std::strerror(err)};
        }
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, MillisecondsLeft(deadline));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0) {
            return Error{std::string("Cannot wait for the echo reply: ") + std::strerror(errno)};
        }
        if (ready == 0) {
            return false;
        }
        if (p.revents & POLLERR) {
            if (auto meaning = ReadErrorQueue(fd, ipv6, sequence)) {
                return Error{*meaning};
            }
        }
    }
}

}  // namespace vantor::net
