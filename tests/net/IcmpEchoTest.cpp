// SPDX-License-Identifier: GPL-3.0-or-later
// ICMP answers as they come off a socket, and a live echo to 127.0.0.1.
#include <gtest/gtest.h>

#include <vector>

#include "net/IcmpEcho.h"

namespace vantor::net {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Echo(std::uint8_t type, std::uint16_t id, std::uint16_t seq) {
    return {type,
            0,
            0,
            0,
            static_cast<std::uint8_t>(id >> 8),
            static_cast<std::uint8_t>(id),
            static_cast<std::uint8_t>(seq >> 8),
            static_cast<std::uint8_t>(seq),
            'p',
            'i',
            'n',
            'g'};
}

Bytes Ipv4Header(std::uint8_t protocol) {
    Bytes h(20, 0);
    h[0] = 0x45;
    h[9] = protocol;
    return h;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

IcmpAnswer Parse(const Bytes& b, bool ipv6, bool withIp, bool checkId = true) {
    return ParseIcmpAnswer(b.data(), b.size(), ipv6, withIp, 0x1234, 7, checkId);
}

TEST(IcmpAnswer, OnlyOurOwnEchoReplyCounts) {
    EXPECT_EQ(Parse(Concat({Ipv4Header(1), Echo(0, 0x1234, 7)}), false, true).kind,
              IcmpAnswer::Kind::EchoReply);
    EXPECT_EQ(Parse(Echo(0, 0x1234, 8), false, false).kind, IcmpAnswer::Kind::Unrelated)
        << "another check's sequence";
    EXPECT_EQ(Parse(Echo(0, 0x9999, 7), false, false).kind, IcmpAnswer::Kind::Unrelated)
        << "another process's identifier";
    EXPECT_EQ(Parse(Echo(0, 0x9999, 7), false, false, false).kind, IcmpAnswer::Kind::EchoReply)
        << "a datagram socket's identifier is the kernel's";
    EXPECT_EQ(Parse(Echo(8, 0x1234, 7), false, false).kind, IcmpAnswer::Kind::Unrelated)
        << "our own request seen on a raw socket";
    EXPECT_EQ(Parse(Echo(129, 0x1234, 7), true, false).kind, IcmpAnswer::Kind::EchoReply);
    EXPECT_EQ(Parse(Bytes{0, 0, 0}, false, false).kind, IcmpAnswer::Kind::Unrelated);
}

TEST(IcmpAnswer, ErrorsThatQuoteOurRequestFailItWithTheirMeaning) {
    const Bytes unreachable =
        Concat({Ipv4Header(1), Bytes{3, 1, 0, 0, 0, 0, 0, 0}, Ipv4Header(1), Echo(8, 0x1234, 7)});
    const IcmpAnswer a = Parse(unreachable, false, true);
    EXPECT_EQ(a.kind, IcmpAnswer::Kind::Error);
    EXPECT_EQ(a.meaning, "Destination host unreachable");

    const Bytes ttl = Concat({Bytes{11, 0, 0, 0, 0, 0, 0, 0}, Ipv4Header(1), Echo(8, 0x1234, 7)});
    EXPECT_EQ(Parse(ttl, false, false).meaning, "Time to live exceeded in transit");

    const Bytes other = Concat({Bytes{3, 3, 0, 0, 0, 0, 0, 0}, Ipv4Header(17), Echo(8, 0x1234, 7)});
    EXPECT_EQ(Parse(other, false, false).kind, IcmpAnswer::Kind::Unrelated)
        << "an error about a UDP packet is not ours";

    Bytes v6Header(40, 0);
    v6Header[0] = 0x60;
    v6Header[6] = 58;
    const Bytes v6 = Concat({Bytes{1, 3, 0, 0, 0, 0, 0, 0}, v6Header, Echo(128, 0x1234, 7)});
    EXPECT_EQ(Parse(v6, true, false).meaning, "Destination address unreachable");
    EXPECT_EQ(IcmpErrorMeaning(true, 3, 0), "Hop limit exceeded in transit");
}

}  // namespace
}  // namespace vantor::net
