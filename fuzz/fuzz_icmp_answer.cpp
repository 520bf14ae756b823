// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target of the ICMP answer matcher. The input is five bytes of
// context (flags: IPv6, with an IPv4 header, identifier checked; our
// identifier; our sequence number, both big-endian) and then the message as
// a socket gives it. An echo reply must be of the reply type and carry our
// numbers; an error must carry our own echo request inside and a meaning.
#include <cstdint>
#include <vector>

#include "FuzzSupport.h"
#include "net/IcmpEcho.h"

using namespace vantor::net;

namespace {

std::uint16_t Be16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 5) {
        return 0;
    }
    const bool ipv6 = data[0] & 1;
    const bool withIpHeader = data[0] & 2;
    const bool checkId = data[0] & 4;
    const std::uint16_t id = Be16(data + 1);
    const std::uint16_t sequence = Be16(data + 3);
    // An exact-size copy, so that the sanitizer sees any read past the end.
    const std::vector<std::uint8_t> message(data + 5, data + size);
    const IcmpAnswer answer =
        ParseIcmpAnswer(message.data(), message.size(), ipv6, withIpHeader, id, sequence, checkId);

    // Where the ICMP message starts.
    std::size_t at = 0;
    if (withIpHeader && !ipv6 && answer.kind != IcmpAnswer::Kind::Unrelated) {
        FUZZ_CHECK(message.size() >= 20 && (message[0] >> 4) == 4);
        at = static_cast<std::size_t>(message[0] & 0x0f) * 4;
        FUZZ_CHECK(at >= 20);
    }
    switch (answer.kind) {
        case IcmpAnswer::Kind::Unrelated:
            FUZZ_CHECK(answer.meaning.empty());
            break;
        case IcmpAnswer::Kind::EchoReply:
            FUZZ_CHECK(message.size() >= at + 8);
            FUZZ_CHECK(message[at] == (ipv6 ? 129 : 0));
            FUZZ_CHECK(Be16(&message[at + 6]) == sequence);
            FUZZ_CHECK(!checkId || Be16(&message[at + 4]) == id);
            FUZZ_CHECK(answer.meaning.empty());
            break;
        case IcmpAnswer::Kind::Error: {
            FUZZ_CHECK(!answer.meaning.empty());
            const int type = message[at];
            FUZZ_CHECK(ipv6 ? (type >= 1 && type <= 4) : (type == 3 || type == 11 || type == 12));
            FUZZ_CHECK(answer.meaning == IcmpErrorMeaning(ipv6, type, message[at + 1]));
            // The quoted request sits at the end of what was quoted, at least
            // an IP header and 8 bytes in.
            FUZZ_CHECK(message.size() >= at + 8 + (ipv6 ? 40 : 20) + 8);
            break;
        }
    }
    // The matcher reads only the message: the same bytes give the same answer.
    const IcmpAnswer again =
        ParseIcmpAnswer(message.data(), message.size(), ipv6, withIpHeader, id, sequence, checkId);
    FUZZ_CHECK(again.kind == answer.kind && again.meaning == answer.meaning);
    static_cast<void>(IcmpErrorMeaning(ipv6, message.empty() ? 0 : message[0],
                                       message.size() < 2 ? 0 : message[1]));
    return 0;
}
