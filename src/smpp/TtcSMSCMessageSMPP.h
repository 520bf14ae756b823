// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantor::smpp {

class TtcTcpClient;

enum class TtcEncodingType {
    et7BitText = 0,
    et8BitHexadecimal = 1,
    etUCS2Text = 2,
    etISO88591 = 3,
    etISO88595 = 4,
    etISO88598 = 5,
};

// Option bits of a submit.
namespace SubmitOption {
inline constexpr unsigned RegisteredDelivery = 1u << 0;
inline constexpr unsigned DataCodingFlag10 = 1u << 1;
inline constexpr unsigned ScheduleRelative = 1u << 2;
inline constexpr unsigned ScheduleAbsolute = 1u << 3;
inline constexpr unsigned ValidityRelative = 1u << 4;
inline constexpr unsigned ValidityAbsolute = 1u << 5;
inline constexpr unsigned DataCodingF0 = 1u << 6;
inline constexpr unsigned DataCodingF1 = 1u << 7;
inline constexpr unsigned DataCodingF2 = 1u << 8;
inline constexpr unsigned DataCodingF3 = 1u << 9;
}  // namespace SubmitOption

namespace CommandId {
inline constexpr std::uint32_t BindReceiver = 0x00000001;
inline constexpr std::uint32_t BindTransmitter = 0x00000002;
inline constexpr std::uint32_t BindTransceiver = 0x00000009;
inline constexpr std::uint32_t SubmitSm = 0x00000004;
inline constexpr std::uint32_t DeliverSm = 0x00000005;
inline constexpr std::uint32_t Unbind = 0x00000006;
inline constexpr std::uint32_t EnquireLink = 0x00000015;
inline constexpr std::uint32_t GenericNack = 0x80000000;
inline constexpr std::uint32_t Response = 0x80000000;
}  // namespace CommandId

// How the receive side classifies a PDU.
namespace Kind {
inline constexpr int Ignored = 0;
inline constexpr int IncomingMessage = 1;
inline constexpr int IncomingEnquireLink = 3;
inline constexpr int SubmitResp = 4;
inline constexpr int BindResp = 6;
inline constexpr int UnbindResp = 7;
inline constexpr int EnquireLinkResp = 8;
inline constexpr int GenericNack = 10;
}  // namespace Kind

// A deliver_sm as read by ParseDeliver.
struct DeliverSm {
    std::string serviceType;
    int sourceTon = 0;
    int sourceNpi = 0;
    std::string source;
    int destTon = 0;
    int destNpi = 0;
    std::string destination;
    int esmClass = 0;
    int protocolId = 0;
    int priority = 0;
    std::string scheduleDeliveryTime;
    std::string validityPeriod;
    int registeredDelivery = 0;
    int replaceIfPresent = 0;
    int dataCoding = 0;
    int defaultMsgId = 0;
    TtcEncodingType encoding = TtcEncodingType::et7BitText;
    std::string text;                // UTF-8; hexadecimal pairs for 8-bit data
    std::string userDataHeader;      // hexadecimal pairs
    std::string optionalParameters;  // hexadecimal pairs
    bool isReceipt = false;
    std::string messageId;
    int state = 0;
    int error = -1;
};

enum class Framing {
    NeedMore,  // the client's buffer does not hold a whole PDU yet
    Framed,    // one PDU moved into the buffer
    Invalid,   // command_length below 16 or beyond the receive buffer
};

// What one submit_sm carries.
struct SubmitRequest {
    std::string destination;
    int destTon = 0;
    int destNpi = 0;
    std::string originator;
    int origTon = 0;
    int origNpi = 0;
    std::string text;  // UTF-8
    TtcEncodingType encoding = TtcEncodingType::et7BitText;
    std::string userDataHeader;  // hexadecimal pairs
    unsigned options = 0;        // SubmitOption bits
    // Zero: none.
    std::chrono::system_clock::time_point validity{};
    std::chrono::system_clock::time_point schedule{};
    std::string serviceType;
    std::string optionalParameters;  // hexadecimal pairs
    // The SMSC takes the text one GSM code per octet, not packed.
    bool asciiFrontend = true;
};

// One SMPP 3.4 PDU: the builders of the requests the client sends, the
// framing of the incoming stream and the parsers of what comes back. All
// integers big-endian, strings NUL-terminated.
class TtcSMSCMessageSMPP final {
public:
    static constexpr std::size_t kHeaderLength = 16;
    // The most octets a short message carries; a longer text is cut there.
    static constexpr std::size_t kMaxShortMessage = 160;

    void BuildBind(std::string_view systemId, std::string_view password, int addrTon, int addrNpi,
                   std::string_view systemType, int bindMode, int interfaceVersion,
                   std::string_view addressRange);
    void BuildSubmit(const SubmitRequest& request);
    void BuildUnbind();
    void BuildEnquireLink();
    // A response to `request`: its command_id with bit 31 set, status 0, its
    // sequence_number; a deliver_sm_resp carries an empty message_id.
    void BuildResponseTo(const TtcSMSCMessageSMPP& request);

    // Moves one whole PDU from the client's receive buffer into this one.
    Framing ReadFromClient(TtcTcpClient& client);
    // The same framing over raw bytes: how many the first PDU takes (0 when
    // more are needed), or -1 when its length cannot be a PDU.
    static long FrameLength(const std::uint8_t* data, std::size_t available);
    // Takes a whole PDU from raw bytes (for tests and the fuzzer).
    void assign(const std::uint8_t* data, std::size_t length);

    int Kind() const;
    std::uint32_t commandId() const;
    std::uint32_t commandStatus() const;
    std::uint32_t sequenceNumber() const;
    std::uint32_t PduLength() const;

    void ParseBindResp();
    void ParseSubmitResp();
    void ParseUnbindResp();
    void ParseEnquireLinkResp();
    void ParseGenericNack();
    DeliverSm ParseDeliver() const;

    const std::vector<std::uint8_t>& buffer() const { return m_buffer; }
    std::int32_t status() const { return m_status; }
    const std::string& messageId() const { return m_messageId; }

    // The process-wide counter: each request takes the current value and
    // moves it on; after 0x7FFFFFFF the next one gets 1. Safe on any thread.
    static std::uint32_t NextSequenceNumber();
    static void SetSequenceNumber(std::uint32_t value);

    // SMPP time strings: "YYMMDDhhmmsstnnp" and "YYMMDDhhmmss000R".
    static std::string AbsoluteTime(std::chrono::system_clock::time_point t);
    static std::string RelativeTime(std::chrono::system_clock::duration d);

private:
    void startRequest(std::uint32_t commandId, std::uint32_t sequence);
    void finish();
    void writeByte(std::uint8_t v) { m_buffer.push_back(v); }
    void writeLongWord(std::uint32_t v);
    void writeCString(std::string_view s);
    void readResponseStatus();

    std::vector<std::uint8_t> m_buffer;
    std::int32_t m_status = 0;
    std::string m_messageId;
};

// "0A1b" -> {0x0A, 0x1B}; an invalid pair gives 0.
std::vector<std::uint8_t> HexToBytes(std::string_view hex);
std::string BytesToHex(const std::uint8_t* data, std::size_t length);

}  // namespace vantor::smpp
