// SPDX-License-Identifier: GPL-3.0-or-later
#include "smpp/TtcSMSCMessageSMPP.h"

#include <atomic>
#include <cstdio>
#include <ctime>

#include "smpp/GsmAlphabet.h"
#include "smpp/TtcTcpClient.h"

namespace vantor::smpp {

namespace {

std::atomic<std::uint32_t> g_sequence{0};

std::uint32_t Read32(const std::uint8_t* p) {
    return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
           (static_cast<std::uint32_t>(p[2]) << 8) | p[3];
}

// Reads fields of a received PDU without ever passing its end.
class Reader {
public:
    Reader(const std::vector<std::uint8_t>& pdu, std::size_t from)
        : m_data(pdu.data()), m_end(pdu.size()), m_pos(from) {}

    bool atEnd() const { return m_pos >= m_end; }
    std::uint8_t byte() { return m_pos < m_end ? m_data[m_pos++] : 0; }
    std::uint16_t word() {
        const std::uint16_t hi = byte();
        return static_cast<std::uint16_t>((hi << 8) | byte());
    }
    std::string cstring() {
        std::string out;
        while (m_pos < m_end && m_data[m_pos] != 0) {
            out += static_cast<char>(m_data[m_pos++]);
        }
        if (m_pos < m_end) {
            ++m_pos;  // the terminating 0
        }
        return out;
    }
    std::vector<std::uint8_t> bytes(std::size_t n) {
        // The position may stand beyond a short PDU's end; no pointer is
        // ever formed past it.
        const std::size_t from = std::min(m_pos, m_end);
        n = std::min(n, m_end - from);
        std::vector<std::uint8_t> out(m_data + from, m_data + from + n);
        m_pos = from + n;
        return out;
    }
    std::vector<std::uint8_t> rest() { return bytes(m_end - std::min(m_pos, m_end)); }

private:
    const std::uint8_t* m_data;
    std::size_t m_end;
    std::size_t m_pos;
};

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// The encoded text, cut to `limit` octets; a cut never separates an escape
// code from its character.
std::vector<std::uint8_t> CutGsmCodes(std::vector<std::uint8_t> codes, std::size_t limit) {
    std::size_t kept = 0;
    while (kept < codes.size()) {
        const std::size_t step = (codes[kept] == 0x1B && kept + 1 < codes.size()) ? 2 : 1;
        if (kept + step > limit) {
            break;
        }
        kept += step;
    }
    codes.resize(kept);
    return codes;
}

// The octet of a character in ISO 8859-1, -5 or -8; a character the table
// lacks becomes a blank, as in the GSM alphabet.
std::uint8_t IsoOctet(char32_t c, TtcEncodingType encoding) {
    if (c <= 0xA0) {
        return static_cast<std::uint8_t>(c);
    }
    switch (encoding) {
        case TtcEncodingType::etISO88591:
            return c <= 0xFF ? static_cast<std::uint8_t>(c) : 0x20;
        case TtcEncodingType::etISO88595:  // Cyrillic
            if (c == 0xAD) {
                return 0xAD;
            }
            if (c == 0xA7) {
                return 0xFD;
            }
            if (c == 0x2116) {
                return 0xF0;
            }
            if (c >= 0x0401 && c <= 0x040C) {
                return static_cast<std::uint8_t>(c - 0x0401 + 0xA1);
            }
            if (c >= 0x040E && c <= 0x044F) {
                return static_cast<std::uint8_t>(c - 0x040E + 0xAE);
            }
            if (c >= 0x0451 && c <= 0x045C) {
                return static_cast<std::uint8_t>(c - 0x0451 + 0xF1);
            }
            if (c == 0x045E || c == 0x045F) {
                return static_cast<std::uint8_t>(c - 0x045E + 0xFE);
            }
            return 0x20;
        case TtcEncodingType::etISO88598:  // Hebrew
            if (c >= 0xA2 && c <= 0xBE && c != 0xAA && c != 0xBA) {
                return static_cast<std::uint8_t>(c);
            }
            if (c == 0xD7) {
                return 0xAA;
            }
            if (c == 0xF7) {
                return 0xBA;
            }
            if (c == 0x2017) {
                return 0xDF;
            }
            if (c >= 0x05D0 && c <= 0x05EA) {
                return static_cast<std::uint8_t>(c - 0x05D0 + 0xE0);
            }
            if (c == 0x200E || c == 0x200F) {
                return static_cast<std::uint8_t>(c - 0x200E + 0xFD);
            }
            return 0x20;
        default:
            return 0x20;
    }
}

// A UTF-8 text in one of the ISO 8859 tables, at most `limit` octets.
std::vector<std::uint8_t> IsoOctets(std::string_view text, TtcEncodingType encoding,
                                    std::size_t limit) {
    const std::u16string units = Utf8ToUtf16(text);
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < units.size() && out.size() < limit; ++i) {
        char32_t c = units[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            c = 0x10000;  // one character beyond every table
            ++i;
        }
        out.push_back(IsoOctet(c, encoding));
    }
    return out;
}

}  // namespace

std::vector<std::uint8_t> HexToBytes(std::string_view hex) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        const int hi = HexDigit(hex[i]);
        const int lo = HexDigit(hex[i + 1]);
        out.push_back(hi < 0 || lo < 0 ? 0 : static_cast<std::uint8_t>(hi * 16 + lo));
    }
    return out;
}

std::string BytesToHex(const std::uint8_t* data, std::size_t length) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < length; ++i) {
        out += kHex[data[i] >> 4];
        out += kHex[data[i] & 0x0F];
    }
    return out;
}

std::uint32_t TtcSMSCMessageSMPP::NextSequenceNumber() {
    std::uint32_t current = g_sequence.load();
    for (;;) {
        const std::uint32_t next = current >= 0x7FFFFFFF ? 1 : current + 1;
        if (g_sequence.compare_exchange_weak(current, next)) {
            return current;
        }
    }
}

void TtcSMSCMessageSMPP::SetSequenceNumber(std::uint32_t value) {
    g_sequence = value;
}

void TtcSMSCMessageSMPP::writeLongWord(std::uint32_t v) {
    writeByte(static_cast<std::uint8_t>(v >> 24));
    writeByte(static_cast<std::uint8_t>(v >> 16));
    writeByte(static_cast<std::uint8_t>(v >> 8));
    writeByte(static_cast<std::uint8_t>(v));
}

void TtcSMSCMessageSMPP::writeCString(std::string_view s) {
    m_buffer.insert(m_buffer.end(), s.begin(), s.end());
    m_buffer.push_back(0);
}

void TtcSMSCMessageSMPP::startRequest(std::uint32_t commandId, std::uint32_t sequence) {
    m_buffer.clear();
    writeLongWord(0);
    writeLongWord(commandId);
    writeLongWord(0);
    writeLongWord(sequence);
}

void TtcSMSCMessageSMPP::finish() {
    const auto length = static_cast<std::uint32_t>(m_buffer.size());
    m_buffer[0] = static_cast<std::uint8_t>(length >> 24);
    m_buffer[1] = static_cast<std::uint8_t>(length >> 16);
    m_buffer[2] = static_cast<std::uint8_t>(length >> 8);
    m_buffer[3] = static_cast<std::uint8_t>(length);
}

void TtcSMSCMessageSMPP::BuildBind(std::string_view systemId, std::string_view password,
                                   int addrTon, int addrNpi, std::string_view systemType,
                                   int bindMode, int interfaceVersion,
                                   std::string_view addressRange) {
    const std::uint32_t id = bindMode == 1   ? CommandId::BindTransmitter
                             : bindMode == 2 ? CommandId::BindReceiver
                                             : CommandId::BindTransceiver;
    startRequest(id, NextSequenceNumber());
    writeCString(systemId);
    writeCString(password);
    writeCString(systemType);
    writeByte(static_cast<std::uint8_t>(interfaceVersion));
    writeByte(static_cast<std::uint8_t>(addrTon));
    writeByte(static_cast<std::uint8_t>(addrNpi));
    writeCString(addressRange);
    finish();
}

namespace {

// The user data of a submit_sm: its header, the text in its encoding cut to
// what fits beside the header, and the data_coding that says how.
struct ShortMessage {
    std::vector<std::uint8_t> udh;
    std::vector<std::uint8_t> body;
    std::uint8_t dataCoding = 0;
};

ShortMessage EncodeShortMessage(const SubmitRequest& r) {
    using namespace SubmitOption;
    ShortMessage m;
    std::vector<std::uint8_t>& udh = m.udh;
    udh = HexToBytes(r.userDataHeader);
    // sm_length is one octet and a short message holds at most 160: a
    // longer header is cut there rather than let the length wrap.
    if (udh.size() > TtcSMSCMessageSMPP::kMaxShortMessage) {
        udh.resize(TtcSMSCMessageSMPP::kMaxShortMessage);
    }
    const std::size_t room = TtcSMSCMessageSMPP::kMaxShortMessage > udh.size()
                                 ? TtcSMSCMessageSMPP::kMaxShortMessage - udh.size()
                                 : 0;

    std::uint8_t& dataCoding = m.dataCoding;
    std::vector<std::uint8_t>& body = m.body;
    switch (r.encoding) {
        case TtcEncodingType::et7BitText: {
            std::vector<std::uint8_t> codes = GsmAlphabet::Encode(r.text);
            if (r.asciiFrontend) {
                body = CutGsmCodes(std::move(codes), room);
            } else {
                // Packed: at most 160 septets with the header's, and fill
                // bits so that the text starts on a septet boundary.
                const std::size_t udhSeptets = udh.empty() ? 0 : (udh.size() * 8 + 6) / 7;
                const std::size_t maxSeptets = udhSeptets < 160 ? 160 - udhSeptets : 0;
                codes = CutGsmCodes(std::move(codes), maxSeptets);
                const int fill =
                    udh.empty() ? 0 : static_cast<int>(udhSeptets * 7 - udh.size() * 8);
                // No text, no octet of bare fill bits behind the header.
                if (!codes.empty()) {
                    body = GsmAlphabet::Pack(codes, fill);
                }
            }
            dataCoding = 0x00;
            break;
        }
        case TtcEncodingType::et8BitHexadecimal:
            body = HexToBytes(r.text);
            body.resize(std::min(body.size(), room));
            dataCoding = 0x04;
            break;
        case TtcEncodingType::etUCS2Text: {
            std::u16string units = Utf8ToUtf16(r.text);
            std::size_t keep = std::min(units.size(), room / 2);
            // Never cut between the two halves of a surrogate pair.
            if (keep > 0 && keep < units.size() && units[keep - 1] >= 0xD800 &&
                units[keep - 1] <= 0xDBFF) {
                --keep;
            }
            for (std::size_t i = 0; i < keep; ++i) {
                body.push_back(static_cast<std::uint8_t>(units[i] >> 8));
                body.push_back(static_cast<std::uint8_t>(units[i] & 0xFF));
            }
            dataCoding = 0x08;
            break;
        }
        case TtcEncodingType::etISO88591:
            body = IsoOctets(r.text, r.encoding, room);
            dataCoding = 0x03;
            break;
        case TtcEncodingType::etISO88595:
            body = IsoOctets(r.text, r.encoding, room);
            dataCoding = 0x06;
            break;
        case TtcEncodingType::etISO88598:
            body = IsoOctets(r.text, r.encoding, room);
            dataCoding = 0x07;
            break;
    }
    if (r.options & DataCodingFlag10) {
        dataCoding |= 0x10;
    }
    if (r.options & DataCodingF0) {
        dataCoding |= 0xF0;
    }
    if (r.options & DataCodingF1) {
        dataCoding |= 0xF1;
    }
    if (r.options & DataCodingF2) {
        dataCoding |= 0xF2;
    }
    if (r.options & DataCodingF3) {
        dataCoding |= 0xF3;
    }
    return m;
}

// A schedule or validity time as the options say: absolute, relative or
// none (also for the zero time).
std::string SubmitTime(std::chrono::system_clock::time_point time, unsigned options,
                       unsigned absolute, unsigned relative) {
    if (time == std::chrono::system_clock::time_point{}) {
        return {};
    }
    if (options & absolute) {
        return TtcSMSCMessageSMPP::AbsoluteTime(time);
    }
    if (options & relative) {
        return TtcSMSCMessageSMPP::RelativeTime(time.time_since_epoch());
    }
    return {};
}

}  // namespace

void TtcSMSCMessageSMPP::BuildSubmit(const SubmitRequest& r) {
    using namespace SubmitOption;
    const ShortMessage message = EncodeShortMessage(r);
    startRequest(CommandId::SubmitSm, NextSequenceNumber());
    writeCString(r.serviceType);
    writeByte(static_cast<std::uint8_t>(r.origTon));
    writeByte(static_cast<std::uint8_t>(r.origNpi));
    writeCString(r.originator);
    writeByte(static_cast<std::uint8_t>(r.destTon));
    writeByte(static_cast<std::uint8_t>(r.destNpi));
    writeCString(r.destination);
    writeByte(message.udh.empty() ? 0x00 : 0x40);
    writeByte(0);  // protocol_id
    writeByte(0);  // priority_flag
    writeCString(SubmitTime(r.schedule, r.options, ScheduleAbsolute, ScheduleRelative));
    writeCString(SubmitTime(r.validity, r.options, ValidityAbsolute, ValidityRelative));
    writeByte((r.options & RegisteredDelivery) ? 1 : 0);
    writeByte(0);  // replace_if_present_flag
    writeByte(message.dataCoding);
    writeByte(0);  // sm_default_msg_id
    const std::size_t length = message.udh.size() + message.body.size();
    writeByte(static_cast<std::uint8_t>(length));
    m_buffer.insert(m_buffer.end(), message.udh.begin(), message.udh.end());
    m_buffer.insert(m_buffer.end(), message.body.begin(), message.body.end());
    const std::vector<std::uint8_t> optional = HexToBytes(r.optionalParameters);
    m_buffer.insert(m_buffer.end(), optional.begin(), optional.end());
    finish();
}

void TtcSMSCMessageSMPP::BuildUnbind() {
    startRequest(CommandId::Unbind, NextSequenceNumber());
    finish();
}

void TtcSMSCMessageSMPP::BuildEnquireLink() {
    startRequest(CommandId::EnquireLink, NextSequenceNumber());
    finish();
}

void TtcSMSCMessageSMPP::BuildResponseTo(const TtcSMSCMessageSMPP& request) {
    startRequest(request.commandId() | CommandId::Response, request.sequenceNumber());
    if (request.commandId() == CommandId::DeliverSm) {
        writeByte(0);  // an empty message_id
    }
    finish();
}

long TtcSMSCMessageSMPP::FrameLength(const std::uint8_t* data, std::size_t available) {
    if (available < kHeaderLength) {
        return 0;
    }
    const std::uint32_t length = Read32(data);
    if (length < kHeaderLength || length > TtcTcpClient::kBufferSize) {
        return -1;
    }
    return available >= length ? static_cast<long>(length) : 0;
}

Framing TtcSMSCMessageSMPP::ReadFromClient(TtcTcpClient& client) {
    std::uint8_t head[kHeaderLength];
    if (client.PeekData(head, kHeaderLength) < kHeaderLength) {
        return Framing::NeedMore;
    }
    const std::uint32_t length = Read32(head);
    if (length < kHeaderLength || length > TtcTcpClient::kBufferSize) {
        return Framing::Invalid;
    }
    if (client.BytesRead() < length) {
        return Framing::NeedMore;
    }
    m_buffer.resize(length);
    client.ReceiveData(m_buffer.data(), length);
    return Framing::Framed;
}

void TtcSMSCMessageSMPP::assign(const std::uint8_t* data, std::size_t length) {
    m_buffer.assign(data, data + length);
}

std::uint32_t TtcSMSCMessageSMPP::PduLength() const {
    return m_buffer.size() >= 4 ? Read32(m_buffer.data()) : 0;
}
std::uint32_t TtcSMSCMessageSMPP::commandId() const {
    return m_buffer.size() >= 8 ? Read32(m_buffer.data() + 4) : 0;
}
std::uint32_t TtcSMSCMessageSMPP::commandStatus() const {
    return m_buffer.size() >= 12 ? Read32(m_buffer.data() + 8) : 0;
}
std::uint32_t TtcSMSCMessageSMPP::sequenceNumber() const {
    return m_buffer.size() >= 16 ? Read32(m_buffer.data() + 12) : 0;
}

int TtcSMSCMessageSMPP::Kind() const {
    switch (commandId()) {
        case CommandId::DeliverSm:
            return Kind::IncomingMessage;
        case CommandId::EnquireLink:
            return Kind::IncomingEnquireLink;
        case CommandId::GenericNack:
            return Kind::GenericNack;
        case CommandId::BindReceiver | CommandId::Response:
        case CommandId::BindTransmitter | CommandId::Response:
        case CommandId::BindTransceiver | CommandId::Response:
            return Kind::BindResp;
        case CommandId::SubmitSm | CommandId::Response:
            return Kind::SubmitResp;
        case CommandId::Unbind | CommandId::Response:
            return Kind::UnbindResp;
        case CommandId::EnquireLink | CommandId::Response:
            return Kind::EnquireLinkResp;
        default:
            return Kind::Ignored;
    }
}

void TtcSMSCMessageSMPP::readResponseStatus() {
    m_status = static_cast<std::int32_t>(commandStatus());
}

void TtcSMSCMessageSMPP::ParseBindResp() {
    readResponseStatus();
    Reader r(m_buffer, kHeaderLength);
    (void)r.cstring();  // system_id
}

void TtcSMSCMessageSMPP::ParseSubmitResp() {
    readResponseStatus();
    Reader r(m_buffer, kHeaderLength);
    m_messageId = r.cstring();
}

void TtcSMSCMessageSMPP::ParseUnbindResp() {
    readResponseStatus();
}
void TtcSMSCMessageSMPP::ParseEnquireLinkResp() {
    m_status = 0;
}
void TtcSMSCMessageSMPP::ParseGenericNack() {
    m_status = -3;
}

namespace {

int ReceiptState(std::string_view word) {
    if (word == "DELIVRD") {
        return 2;
    }
    if (word == "EXPIRED") {
        return 3;
    }
    if (word == "DELETED") {
        return 4;
    }
    if (word == "UNDELIV") {
        return 5;
    }
    if (word == "ACCEPTD") {
        return 6;
    }
    if (word == "REJECTD") {
        return 8;
    }
    return 7;
}

}  // namespace

DeliverSm TtcSMSCMessageSMPP::ParseDeliver() const {
    DeliverSm d;
    Reader r(m_buffer, kHeaderLength);
    d.serviceType = r.cstring();
    d.sourceTon = r.byte();
    d.sourceNpi = r.byte();
    d.source = r.cstring();
    d.destTon = r.byte();
    d.destNpi = r.byte();
    d.destination = r.cstring();
    d.esmClass = r.byte();
    d.protocolId = r.byte();
    d.priority = r.byte();
    d.scheduleDeliveryTime = r.cstring();
    d.validityPeriod = r.cstring();
    d.registeredDelivery = r.byte();
    d.replaceIfPresent = r.byte();
    d.dataCoding = r.byte();
    d.defaultMsgId = r.byte();
    const std::size_t smLength = r.byte();
    std::vector<std::uint8_t> message = r.bytes(smLength);
    const std::vector<std::uint8_t> optional = r.rest();
    d.optionalParameters = BytesToHex(optional.data(), optional.size());
    // Tag-length-value items; message_payload (0x0424) carries the message
    // when short_message is empty.
    for (std::size_t i = 0; i + 4 <= optional.size();) {
        const unsigned tag = (optional[i] << 8) | optional[i + 1];
        const std::size_t length = (optional[i + 2] << 8) | optional[i + 3];
        i += 4;
        const std::size_t take = std::min(length, optional.size() - i);
        if (tag == 0x0424 && message.empty()) {
            message.assign(optional.begin() + static_cast<std::ptrdiff_t>(i),
                           optional.begin() + static_cast<std::ptrdiff_t>(i + take));
        }
        i += take;
    }
    if ((d.esmClass & 0x40) && !message.empty()) {
        const std::size_t udhLength = std::min<std::size_t>(message[0] + 1u, message.size());
        d.userDataHeader = BytesToHex(message.data(), udhLength);
        message.erase(message.begin(), message.begin() + static_cast<std::ptrdiff_t>(udhLength));
    }
    d.isReceipt = (d.esmClass & 0x04) || (d.esmClass & 0x20);
    if (d.dataCoding & 0x08) {
        d.encoding = TtcEncodingType::etUCS2Text;
    } else if (d.dataCoding & 0x06) {
        d.encoding = TtcEncodingType::et8BitHexadecimal;
    }
    const std::string octets(message.begin(), message.end());
    if (d.isReceipt || d.encoding == TtcEncodingType::et7BitText) {
        d.text = octets;
    } else if (d.encoding == TtcEncodingType::et8BitHexadecimal) {
        d.text = BytesToHex(message.data(), message.size());
    } else {
        std::u16string units;
        for (std::size_t i = 0; i + 1 < message.size(); i += 2) {
            units.push_back(static_cast<char16_t>((message[i] << 8) | message[i + 1]));
        }
        d.text = Utf16ToUtf8(units);
    }
    // Delivery receipt items: "id:..", "stat:..", "err:..".
    int found = 0;
    std::size_t start = 0;
    const std::string& t = octets;
    while (start < t.size()) {
        std::size_t end = t.find(' ', start);
        if (end == std::string::npos) {
            end = t.size();
        }
        const std::string item = t.substr(start, end - start);
        const auto colon = item.find(':');
        if (colon != std::string::npos) {
            const std::string key = item.substr(0, colon);
            const std::string value = item.substr(colon + 1);
            if (key == "id") {
                d.messageId = value;
                ++found;
            } else if (key == "stat") {
                d.state = ReceiptState(value);
                ++found;
            } else if (key == "err") {
                char* endp = nullptr;
                const long v = value.empty() ? -1 : std::strtol(value.c_str(), &endp, 10);
                d.error =
                    (endp != nullptr && *endp == '\0' && !value.empty()) ? static_cast<int>(v) : -1;
                ++found;
            }
        }
        start = end + 1;
    }
    if (found >= 3) {
        d.isReceipt = true;
    }
    if (d.isReceipt) {
        std::swap(d.source, d.destination);
        std::swap(d.sourceTon, d.destTon);
        std::swap(d.sourceNpi, d.destNpi);
    }
    return d;
}

std::string TtcSMSCMessageSMPP::AbsoluteTime(std::chrono::system_clock::time_point t) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(t);
    std::tm tm{};
    localtime_r(&seconds, &tm);
    const auto tenths =
        std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count() % 1000 /
        100;
    const long quarters = tm.tm_gmtoff / 900;
    char buf[96];
    // Two digits of the year also before 1900, where tm_year is negative.
    std::snprintf(buf, sizeof buf, "%02d%02d%02d%02d%02d%02d%01d%02ld%c",
                  (tm.tm_year % 100 + 100) % 100, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                  tm.tm_sec, static_cast<int>(tenths < 0 ? 0 : tenths),
                  quarters < 0 ? -quarters : quarters,
                  quarters > 0 ? '+' : '-');  // "+" only when local time is ahead of UTC
    return buf;
}

std::string TtcSMSCMessageSMPP::RelativeTime(std::chrono::system_clock::duration d) {
    long long total = std::chrono::duration_cast<std::chrono::seconds>(d).count();
    if (total < 0) {
        total = 0;
    }
    long long days = total / 86400;
    if (days > 31) {
        days = 31;
    }
    char buf[96];
    std::snprintf(buf, sizeof buf, "0000%02lld%02lld%02lld%02lld000R", days, total % 86400 / 3600,
                  total % 3600 / 60, total % 60);
    return buf;
}

}  // namespace vantor::smpp
