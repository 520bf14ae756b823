// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/HostileTls.h"

#include <chrono>

namespace vantor::test {

namespace {

// The TLS record header: type 22 (handshake), version, 16-bit length.
constexpr std::size_t kRecordHeader = 5;
constexpr char kHandshake = 0x16;

// Reads one whole TLS record; false when what came is not a handshake
// record (a client that gave up, or one that spoke in the clear).
bool ReadClientHello(FakeConnection& c) {
    const auto header = c.readBytes(kRecordHeader, std::chrono::seconds(10));
    if (!header || (*header)[0] != kHandshake) {
        return false;
    }
    const std::size_t length =
        (static_cast<unsigned char>((*header)[3]) << 8) | static_cast<unsigned char>((*header)[4]);
    return c.readBytes(length, std::chrono::seconds(10)).has_value();
}

}  // namespace

FakeServer::Handler HostileTls(std::vector<ServerStep> preamble, TlsFault fault) {
    return [preamble, fault](FakeConnection& c) {
        for (const ServerStep& step : preamble) {
            if (!step.expect.empty()) {
                const auto line = c.readLine();
                if (!line || line->compare(0, step.expect.size(), step.expect) != 0) {
                    return;
                }
            }
            c.send(step.reply);
        }
        if (!ReadClientHello(c)) {
            return;
        }
        c.note("<ClientHello>");
        switch (fault) {
            case TlsFault::Stall:
                // Until the client closes or the server goes.
                c.waitForClose(std::chrono::minutes(5));
                return;
            case TlsFault::Garbage:
                c.send("HTTP/1.0 400 Bad Request\r\nContent-Length: 0\r\n\r\n");
                break;
            case TlsFault::CloseMidHandshake: {
                // A record announcing 74 bytes of ServerHello, of which 10 come.
                static const char kHalf[] = {0x16, 0x03, 0x03, 0x00, 0x4a, 0x02, 0x00,
                                             0x00, 0x46, 0x03, 0x03, 0x5a, 0x5a, 0x5a};
                c.send(std::string_view(kHalf, sizeof kHalf));
                break;
            }
        }
        c.close();
    };
}

}  // namespace vantor::test
