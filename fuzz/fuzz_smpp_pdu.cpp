// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target of the SMPP PDU layer. Every input goes two ways:
//  - as a stream from an SMSC: framed PDU by PDU, each one classified and
//    put through every parser and the response builder (some inputs also
//    through a client's receive buffer, which must frame them the same
//    way);
//  - as the choices of a submit_sm (text, header, optional parameters,
//    encoding, options, times), whose PDU must come out well formed.
// A broken rule aborts, so the fuzzer keeps the input.
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "smpp/GsmAlphabet.h"
#include "smpp/TtcSMSCMessageSMPP.h"
#include "smpp/TtcTcpClient.h"

using namespace vantor::smpp;

namespace {

std::uint32_t Be32(const std::uint8_t* p) {
    return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
           (static_cast<std::uint32_t>(p[2]) << 8) | p[3];
}

// One framed (or cut-off) PDU through everything that reads PDUs.
void ParseEverything(const std::uint8_t* data, std::size_t length) {
    TtcSMSCMessageSMPP m;
    m.assign(data, length);
    FUZZ_CHECK(m.buffer().size() == length);
    const int kind = m.Kind();
    FUZZ_CHECK(kind == 0 || kind == 1 || kind == 3 || kind == 4 || kind == 6 || kind == 7 ||
               kind == 8 || kind == 10);
    if (length >= 16) {
        FUZZ_CHECK(m.PduLength() == Be32(data));
        FUZZ_CHECK(m.commandId() == Be32(data + 4));
        FUZZ_CHECK(m.sequenceNumber() == Be32(data + 12));
    }

    m.ParseBindResp();
    FUZZ_CHECK(m.status() == static_cast<std::int32_t>(m.commandStatus()));
    m.ParseUnbindResp();
    FUZZ_CHECK(m.status() == static_cast<std::int32_t>(m.commandStatus()));
    m.ParseSubmitResp();
    FUZZ_CHECK(m.messageId().size() + 16 <= std::max<std::size_t>(length, 16));
    FUZZ_CHECK(m.messageId().find('\0') == std::string::npos);
    m.ParseEnquireLinkResp();
    FUZZ_CHECK(m.status() == 0);
    m.ParseGenericNack();
    FUZZ_CHECK(m.status() == -3);

    const DeliverSm d = m.ParseDeliver();
    FUZZ_CHECK(d.userDataHeader.size() % 2 == 0);
    FUZZ_CHECK(d.optionalParameters.size() % 2 == 0);
    FUZZ_CHECK(d.optionalParameters.size() / 2 + 16 <= std::max<std::size_t>(length, 16));
    if (d.encoding == TtcEncodingType::et8BitHexadecimal && !d.isReceipt) {
        FUZZ_CHECK(d.text.size() % 2 == 0);
    }

    TtcSMSCMessageSMPP response;
    response.BuildResponseTo(m);
    FUZZ_CHECK(response.PduLength() == response.buffer().size());
    FUZZ_CHECK(response.sequenceNumber() == m.sequenceNumber());
    FUZZ_CHECK(response.commandStatus() == 0);
    FUZZ_CHECK((response.commandId() & 0x80000000u) != 0);
}

// The raw bytes as a stream of PDUs.
void FrameStream(const std::uint8_t* data, std::size_t size) {
    std::size_t at = 0;
    while (at < size) {
        const long n = TtcSMSCMessageSMPP::FrameLength(data + at, size - at);
        if (n < 0) {
            FUZZ_CHECK(size - at >= 16);
            const std::uint32_t length = Be32(data + at);
            FUZZ_CHECK(length < 16 || length > TtcTcpClient::kBufferSize);
            ParseEverything(data + at, 16);  // what a reader would see of it
            return;
        }
        if (n == 0) {
            // Needs more: a partial header, or a partial PDU.
            if (size - at >= 16) {
                const std::uint32_t length = Be32(data + at);
                FUZZ_CHECK(length >= 16 && length <= TtcTcpClient::kBufferSize &&
                           length > size - at);
            }
            ParseEverything(data + at, size - at);
            return;
        }
        FUZZ_CHECK(n >= 16 && static_cast<std::size_t>(n) <= size - at);
        FUZZ_CHECK(static_cast<std::uint32_t>(n) == Be32(data + at));
        ParseEverything(data + at, static_cast<std::size_t>(n));
        at += static_cast<std::size_t>(n);
    }
}

// The same bytes through a client's receive buffer (one end of a socket
// pair): ReadFromClient must agree with FrameLength PDU by PDU.
void FrameThroughClient(const std::uint8_t* data, std::size_t size) {
    size = std::min(size, TtcTcpClient::kBufferSize);
    int fds[2];
    if (size == 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        return;
    }
    const bool written = ::write(fds[1], data, size) == static_cast<ssize_t>(size);
    ::close(fds[1]);
    if (!written) {
        ::close(fds[0]);
        return;
    }
    TtcTcpClient client;
    client.adopt(fds[0], "fuzz", 0);
    while (client.BytesRead() < size) {
        if (client.ReadData() <= 0) {
            break;
        }
    }
    FUZZ_CHECK(client.BytesRead() == size);
    std::size_t at = 0;
    TtcSMSCMessageSMPP m;
    for (;;) {
        const long expected = TtcSMSCMessageSMPP::FrameLength(data + at, size - at);
        const std::size_t before = client.BytesRead();
        const Framing framing = m.ReadFromClient(client);
        if (expected > 0) {
            FUZZ_CHECK(framing == Framing::Framed);
            FUZZ_CHECK(m.buffer().size() == static_cast<std::size_t>(expected));
            FUZZ_CHECK(std::equal(m.buffer().begin(), m.buffer().end(), data + at));
            FUZZ_CHECK(client.BytesRead() == before - static_cast<std::size_t>(expected));
            at += static_cast<std::size_t>(expected);
            continue;
        }
        FUZZ_CHECK(framing == (expected < 0 ? Framing::Invalid : Framing::NeedMore));
        FUZZ_CHECK(client.BytesRead() == before);
        break;
    }
}

bool HasNul(const std::string& s) {
    return s.find('\0') != std::string::npos;
}

// A submit_sm from fuzzed choices, and the rules its PDU keeps.
void BuildAndCheckSubmit(FuzzedDataProvider& in) {
    const std::string destination = in.ConsumeRandomLengthString(32);
    const std::string originator = in.ConsumeRandomLengthString(32);
    const std::string serviceType = in.ConsumeRandomLengthString(8);
    const std::string userDataHeader = in.ConsumeRandomLengthString(400);
    const std::string optional = in.ConsumeRandomLengthString(64);
    const std::string text = in.ConsumeRandomLengthString(700);
    const int destTon = in.ConsumeIntegral<int>();
    const int destNpi = in.ConsumeIntegral<int>();
    const int origTon = in.ConsumeIntegral<int>();
    const int origNpi = in.ConsumeIntegral<int>();
    const auto encoding = static_cast<TtcEncodingType>(in.ConsumeIntegralInRange<int>(0, 7));
    const unsigned options = in.ConsumeIntegral<unsigned>();
    const bool ascii = in.ConsumeBool();
    // Times within the clock's range (about 285 years either side of 1970),
    // and zero.
    const auto ms = [&] {
        return std::chrono::system_clock::time_point{std::chrono::milliseconds(
            in.ConsumeIntegralInRange<std::int64_t>(-9'000'000'000'000, 9'000'000'000'000))};
    };
    const auto validity = in.ConsumeBool() ? ms() : std::chrono::system_clock::time_point{};
    const auto schedule = in.ConsumeBool() ? ms() : std::chrono::system_clock::time_point{};

    SubmitRequest request;
    request.destination = destination;
    request.destTon = destTon;
    request.destNpi = destNpi;
    request.originator = originator;
    request.origTon = origTon;
    request.origNpi = origNpi;
    request.text = text;
    request.encoding = encoding;
    request.userDataHeader = userDataHeader;
    request.options = options;
    request.validity = validity;
    request.schedule = schedule;
    request.serviceType = serviceType;
    request.optionalParameters = optional;
    request.asciiFrontend = ascii;
    TtcSMSCMessageSMPP m;
    m.BuildSubmit(request);
    const std::vector<std::uint8_t>& b = m.buffer();
    FUZZ_CHECK(b.size() >= 16);
    FUZZ_CHECK(m.PduLength() == b.size());
    FUZZ_CHECK(m.commandId() == CommandId::SubmitSm);
    FUZZ_CHECK(m.commandStatus() == 0);
    // Whatever it holds, the PDU frames as one whole PDU or is refused for
    // its size, never read past.
    const long framed = TtcSMSCMessageSMPP::FrameLength(b.data(), b.size());
    FUZZ_CHECK(framed == static_cast<long>(b.size()) || (framed == -1 && b.size() > 8192));

    if (HasNul(destination) || HasNul(originator) || HasNul(serviceType)) {
        return;  // the fields no longer read back one by one
    }
    std::size_t pos = 16;
    auto cstring = [&] {
        std::string s;
        while (true) {
            FUZZ_CHECK(pos < b.size());
            if (b[pos] == 0) {
                break;
            }
            s += static_cast<char>(b[pos++]);
        }
        ++pos;
        return s;
    };
    auto byte = [&] {
        FUZZ_CHECK(pos < b.size());
        return b[pos++];
    };
    FUZZ_CHECK(cstring() == serviceType);
    FUZZ_CHECK(byte() == static_cast<std::uint8_t>(origTon));
    FUZZ_CHECK(byte() == static_cast<std::uint8_t>(origNpi));
    FUZZ_CHECK(cstring() == originator);
    FUZZ_CHECK(byte() == static_cast<std::uint8_t>(destTon));
    FUZZ_CHECK(byte() == static_cast<std::uint8_t>(destNpi));
    FUZZ_CHECK(cstring() == destination);
    const std::vector<std::uint8_t> udh = HexToBytes(userDataHeader);
    FUZZ_CHECK(byte() == (udh.empty() ? 0x00 : 0x40));
    FUZZ_CHECK(byte() == 0);  // protocol_id
    FUZZ_CHECK(byte() == 0);  // priority_flag
    const std::string scheduleText = cstring();
    const std::string validityText = cstring();
    FUZZ_CHECK(scheduleText.empty() || scheduleText.size() == 16);
    FUZZ_CHECK(validityText.empty() || validityText.size() == 16);
    FUZZ_CHECK(byte() == ((options & SubmitOption::RegisteredDelivery) ? 1 : 0));
    FUZZ_CHECK(byte() == 0);  // replace_if_present_flag
    (void)byte();             // data_coding
    FUZZ_CHECK(byte() == 0);  // sm_default_msg_id
    const std::size_t smLength = byte();
    const std::vector<std::uint8_t> tlv = HexToBytes(optional);
    // sm_length counts exactly the octets between it and the optional
    // parameters, and never more than a short message holds.
    FUZZ_CHECK(pos + smLength + tlv.size() == b.size());
    FUZZ_CHECK(smLength <= TtcSMSCMessageSMPP::kMaxShortMessage);
    FUZZ_CHECK(std::equal(tlv.begin(), tlv.end(),
                          b.begin() + static_cast<std::ptrdiff_t>(pos + smLength)));
    const std::size_t udhKept = std::min(udh.size(), smLength);
    FUZZ_CHECK(std::equal(udh.begin(), udh.begin() + static_cast<std::ptrdiff_t>(udhKept),
                          b.begin() + static_cast<std::ptrdiff_t>(pos)));
    const std::vector<std::uint8_t> body(b.begin() + static_cast<std::ptrdiff_t>(pos + udhKept),
                                         b.begin() + static_cast<std::ptrdiff_t>(pos + smLength));
    if (encoding == TtcEncodingType::et7BitText && ascii) {
        // An escape is always followed by its code.
        for (std::size_t i = 0; i < body.size(); ++i) {
            FUZZ_CHECK(body[i] < 0x80);
            if (body[i] == 0x1B) {
                FUZZ_CHECK(i + 1 < body.size());
                FUZZ_CHECK(GsmAlphabet::ExtensionChar(body[i + 1]) != u' ');
                ++i;
            }
        }
    }
    if (encoding == TtcEncodingType::etUCS2Text) {
        FUZZ_CHECK(body.size() % 2 == 0);
    }
}

void Unicode(const std::uint8_t* data, std::size_t size) {
    const std::string_view raw(reinterpret_cast<const char*>(data),
                               std::min<std::size_t>(size, 512));
    const std::string once = Utf16ToUtf8(Utf8ToUtf16(raw));
    FUZZ_CHECK(Utf16ToUtf8(Utf8ToUtf16(once)) == once);
    const std::vector<std::uint8_t> codes = GsmAlphabet::Encode(raw);
    for (std::uint8_t c : codes) {
        FUZZ_CHECK(c < 0x80);
    }
    const std::vector<std::uint8_t> packed = GsmAlphabet::Pack(codes, static_cast<int>(size % 7));
    FUZZ_CHECK(packed.size() == (codes.size() * 7 + size % 7 + 7) / 8);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FrameStream(data, size);
    if (size % 8 == 0) {
        FrameThroughClient(data, size);
    }
    Unicode(data, size);
    FuzzedDataProvider in(data, size);
    BuildAndCheckSubmit(in);
    return 0;
}
