// SPDX-License-Identifier: GPL-3.0-or-later
// The SMPP PDU layer: sequence numbers, the request builders, the GSM 03.38
// coding, framing of the incoming stream, the response parsers and the time
// strings.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <set>
#include <thread>

#include "smpp/GsmAlphabet.h"
#include "smpp/TtcSMSCMessageSMPP.h"
#include "smpp/TtcTcpClient.h"

namespace vantor::smpp {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

std::uint32_t Be32(const Bytes& b, std::size_t at) {
    return (static_cast<std::uint32_t>(b.at(at)) << 24) |
           (static_cast<std::uint32_t>(b.at(at + 1)) << 16) |
           (static_cast<std::uint32_t>(b.at(at + 2)) << 8) | b.at(at + 3);
}

void Put32(Bytes& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<std::uint8_t>(v >> shift));
    }
}

void PutString(Bytes& out, const std::string& s) {
    out.insert(out.end(), s.begin(), s.end());
    out.push_back(0);
}

Bytes Pdu(std::uint32_t commandId, std::uint32_t status, std::uint32_t sequence,
          const Bytes& body = {}) {
    Bytes out;
    Put32(out, static_cast<std::uint32_t>(16 + body.size()));
    Put32(out, commandId);
    Put32(out, status);
    Put32(out, sequence);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

TtcSMSCMessageSMPP Message(const Bytes& octets) {
    TtcSMSCMessageSMPP m;
    m.assign(octets.data(), octets.size());
    return m;
}

// A submit_sm body read field by field.
struct SubmitFields {
    std::string serviceType;
    int sourceTon = -1, sourceNpi = -1;
    std::string source;
    int destTon = -1, destNpi = -1;
    std::string destination;
    int esmClass = -1, protocolId = -1, priority = -1;
    std::string schedule, validity;
    int registeredDelivery = -1, replaceIfPresent = -1, dataCoding = -1, defaultMsgId = -1;
    int smLength = -1;
    Bytes shortMessage;
    Bytes rest;  // the optional parameters
};

SubmitFields ReadSubmit(const TtcSMSCMessageSMPP& m) {
    const Bytes& b = m.buffer();
    std::size_t pos = 16;
    auto cstr = [&] {
        std::string s;
        while (b.at(pos) != 0) {
            s += static_cast<char>(b.at(pos++));
        }
        ++pos;
        return s;
    };
    auto byte = [&] { return static_cast<int>(b.at(pos++)); };
    SubmitFields f;
    f.serviceType = cstr();
    f.sourceTon = byte();
    f.sourceNpi = byte();
    f.source = cstr();
    f.destTon = byte();
    f.destNpi = byte();
    f.destination = cstr();
    f.esmClass = byte();
    f.protocolId = byte();
    f.priority = byte();
    f.schedule = cstr();
    f.validity = cstr();
    f.registeredDelivery = byte();
    f.replaceIfPresent = byte();
    f.dataCoding = byte();
    f.defaultMsgId = byte();
    f.smLength = byte();
    f.shortMessage.assign(
        b.begin() + static_cast<std::ptrdiff_t>(pos),
        b.begin() + static_cast<std::ptrdiff_t>(std::min(b.size(), pos + f.smLength)));
    pos += static_cast<std::size_t>(f.smLength);
    if (pos < b.size()) {
        f.rest.assign(b.begin() + static_cast<std::ptrdiff_t>(pos), b.end());
    }
    return f;
}

// The submit_sm the tests start from; each changes what it looks at.
SubmitRequest DefaultSubmit() {
    SubmitRequest r;
    r.destination = "4670123456";
    r.destTon = 1;
    r.destNpi = 1;
    r.originator = "VANTOR";
    r.origTon = 5;
    r.origNpi = 0;
    r.text = "Test";
    r.options = SubmitOption::RegisteredDelivery;
    return r;
}

TtcSMSCMessageSMPP Submit(const SubmitRequest& r) {
    TtcSMSCMessageSMPP m;
    m.BuildSubmit(r);
    return m;
}

SubmitFields SubmitText(const std::string& text, bool ascii = true) {
    SubmitRequest a = DefaultSubmit();
    a.text = text;
    a.asciiFrontend = ascii;
    return ReadSubmit(Submit(a));
}

// The header fields agree with the buffer: command_length is its size.
void ExpectWellFormed(const TtcSMSCMessageSMPP& m) {
    ASSERT_GE(m.buffer().size(), 16u);
    EXPECT_EQ(Be32(m.buffer(), 0), m.buffer().size());
    EXPECT_EQ(m.PduLength(), m.buffer().size());
}

// ---------------------------------------------------------------------------
// Sequence numbers

TEST(SmppSequence, FirstRequestOfAFreshProcessCarriesZero) {
    // A fresh process (the test binary started again) so that nothing else
    // has moved the counter.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            TtcSMSCMessageSMPP m;
            m.BuildEnquireLink();
            std::_Exit(m.sequenceNumber() == 0 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(SmppSequence, EachRequestTakesTheCurrentValueAndMovesItOn) {
    TtcSMSCMessageSMPP::SetSequenceNumber(0);
    TtcSMSCMessageSMPP a, b, c, d;
    a.BuildEnquireLink();
    b.BuildBind("u", "p", 1, 1, "TCP", 1, 0x34, "");
    c.BuildUnbind();
    d = Submit({});
    EXPECT_EQ(a.sequenceNumber(), 0u);
    EXPECT_EQ(b.sequenceNumber(), 1u);
    EXPECT_EQ(c.sequenceNumber(), 2u);
    EXPECT_EQ(d.sequenceNumber(), 3u);
    EXPECT_EQ(TtcSMSCMessageSMPP::NextSequenceNumber(), 4u);

    // A response reuses the request's number and takes none.
    TtcSMSCMessageSMPP resp;
    resp.BuildResponseTo(a);
    EXPECT_EQ(resp.sequenceNumber(), 0u);
    EXPECT_EQ(TtcSMSCMessageSMPP::NextSequenceNumber(), 5u);
}

TEST(SmppSequence, AfterTheLargestValueTheNextIsOne) {
    TtcSMSCMessageSMPP::SetSequenceNumber(0x7FFFFFFE);
    EXPECT_EQ(TtcSMSCMessageSMPP::NextSequenceNumber(), 0x7FFFFFFEu);
    EXPECT_EQ(TtcSMSCMessageSMPP::NextSequenceNumber(), 0x7FFFFFFFu);
    EXPECT_EQ(TtcSMSCMessageSMPP::NextSequenceNumber(), 1u);
    EXPECT_EQ(TtcSMSCMessageSMPP::NextSequenceNumber(), 2u);

    TtcSMSCMessageSMPP::SetSequenceNumber(0x7FFFFFFF);
    TtcSMSCMessageSMPP m;
    m.BuildEnquireLink();
    EXPECT_EQ(m.sequenceNumber(), 0x7FFFFFFFu);
    m.BuildEnquireLink();
    EXPECT_EQ(m.sequenceNumber(), 1u);
}

TEST(SmppSequence, ManyThreadsNeverGetTheSameNumber) {
    TtcSMSCMessageSMPP::SetSequenceNumber(0x7FFFFFFF - 5000);
    constexpr int kThreads = 8;
    constexpr int kEach = 4000;
    std::vector<std::vector<std::uint32_t>> taken(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&taken, t] {
            for (int i = 0; i < kEach; ++i) {
                // Half through the builders, half straight from the counter.
                if (i % 2 == 0) {
                    TtcSMSCMessageSMPP m;
                    m.BuildEnquireLink();
                    taken[t].push_back(m.sequenceNumber());
                } else {
                    taken[t].push_back(TtcSMSCMessageSMPP::NextSequenceNumber());
                }
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    std::set<std::uint32_t> all;
    for (const auto& v : taken) {
        all.insert(v.begin(), v.end());
    }
    ASSERT_EQ(all.size(), static_cast<std::size_t>(kThreads * kEach)) << "a number was repeated";
    // The range ran over the top: 0x7FFFFFFF - 5000 .. 0x7FFFFFFF, then 1..
    EXPECT_EQ(all.count(0), 0u);
    EXPECT_EQ(*all.rbegin(), 0x7FFFFFFFu);
    EXPECT_EQ(*all.begin(), 1u);
    EXPECT_EQ(TtcSMSCMessageSMPP::NextSequenceNumber(),
              static_cast<std::uint32_t>(kThreads * kEach - 5001 + 1));
}

// ---------------------------------------------------------------------------
// bind, unbind, enquire_link and responses

TEST(SmppBind, TransmitterWithShortCredentialsIs28Octets) {
    TtcSMSCMessageSMPP::SetSequenceNumber(7);
    TtcSMSCMessageSMPP m;
    m.BuildBind("u", "p", 1, 1, "TCP", 1, 34, "");
    const Bytes expected = {
        0x00, 0x00, 0x00, 0x1C,  // command_length 28
        0x00, 0x00, 0x00, 0x02,  // bind_transmitter
        0x00, 0x00, 0x00, 0x00,  // command_status
        0x00, 0x00, 0x00, 0x07,  // sequence_number
        'u',  0x00, 'p',  0x00,  // system_id, password
        'T',  'C',  'P',  0x00,  // system_type
        0x22,                    // interface_version 34 = 0x22
        0x01, 0x01,              // addr_ton, addr_npi
        0x00,                    // address_range
    };
    EXPECT_EQ(m.buffer(), expected);
    EXPECT_EQ(m.PduLength(), 28u);
    EXPECT_EQ(m.commandId(), CommandId::BindTransmitter);
}

TEST(SmppBind, ModeChoosesTheCommand) {
    const std::pair<int, std::uint32_t> cases[] = {
        {1, 0x00000002}, {2, 0x00000001}, {3, 0x00000009}, {0, 0x00000009}, {-1, 0x00000009}};
    for (const auto& [mode, id] : cases) {
        TtcSMSCMessageSMPP m;
        m.BuildBind("sys", "pw", 0, 0, "", mode, 0x34, "12*");
        EXPECT_EQ(m.commandId(), id) << "mode " << mode;
        ExpectWellFormed(m);
    }
}

TEST(SmppBind, FieldsStandInOrder) {
    TtcSMSCMessageSMPP m;
    m.BuildBind("system", "secret", 2, 9, "VMS", 3, 0x50, "^467");
    const Bytes& b = m.buffer();
    const std::string body(b.begin() + 16, b.end());
    EXPECT_EQ(body, std::string("system\0secret\0VMS\0\x50\x02\x09^467\0", 26));
}

TEST(SmppRequests, UnbindAndEnquireLinkAreBareHeaders) {
    TtcSMSCMessageSMPP::SetSequenceNumber(0x42);
    TtcSMSCMessageSMPP u, e;
    u.BuildUnbind();
    e.BuildEnquireLink();
    EXPECT_EQ(u.buffer(), Pdu(0x00000006, 0, 0x42));
    EXPECT_EQ(e.buffer(), Pdu(0x00000015, 0, 0x43));
}

TEST(SmppRequests, ResponseMirrorsTheRequest) {
    const auto enquire = Message(Pdu(0x00000015, 0, 0x01020304));
    TtcSMSCMessageSMPP r;
    r.BuildResponseTo(enquire);
    EXPECT_EQ(r.buffer(), Pdu(0x80000015, 0, 0x01020304));

    // A deliver_sm_resp carries an empty message_id: one 0 octet.
    Bytes deliverBody(30, 0);
    const auto deliver = Message(Pdu(0x00000005, 0, 99, deliverBody));
    r.BuildResponseTo(deliver);
    EXPECT_EQ(r.buffer(), Pdu(0x80000005, 0, 99, {0x00}));

    // The request's status never carries over.
    const auto odd = Message(Pdu(0x00000102, 0x45, 5));
    r.BuildResponseTo(odd);
    EXPECT_EQ(r.buffer(), Pdu(0x80000102, 0, 5));
}

// ---------------------------------------------------------------------------
// submit_sm

TEST(SmppSubmit, PlainTextLayout) {
    SubmitRequest a = DefaultSubmit();
    a.originator = "VANTOR";
    a.origTon = 5;
    a.origNpi = 0;
    a.destination = "4670123456";
    a.destTon = 1;
    a.destNpi = 1;
    const TtcSMSCMessageSMPP m = Submit(a);
    ExpectWellFormed(m);
    EXPECT_EQ(m.commandId(), CommandId::SubmitSm);
    EXPECT_EQ(m.commandStatus(), 0u);
    const SubmitFields f = ReadSubmit(m);
    EXPECT_EQ(f.serviceType, "");
    EXPECT_EQ(f.sourceTon, 5);
    EXPECT_EQ(f.sourceNpi, 0);
    EXPECT_EQ(f.source, "VANTOR");
    EXPECT_EQ(f.destTon, 1);
    EXPECT_EQ(f.destNpi, 1);
    EXPECT_EQ(f.destination, "4670123456");
    EXPECT_EQ(f.esmClass, 0);
    EXPECT_EQ(f.protocolId, 0);
    EXPECT_EQ(f.priority, 0);
    EXPECT_EQ(f.schedule, "");
    EXPECT_EQ(f.validity, "");
    EXPECT_EQ(f.registeredDelivery, 1);
    EXPECT_EQ(f.replaceIfPresent, 0);
    EXPECT_EQ(f.dataCoding, 0);
    EXPECT_EQ(f.defaultMsgId, 0);
    EXPECT_EQ(f.smLength, 4);
    EXPECT_EQ(f.shortMessage, (Bytes{0x54, 0x65, 0x73, 0x74}));
    EXPECT_TRUE(f.rest.empty());
}

TEST(SmppSubmit, OptionsAndServiceType) {
    SubmitRequest a = DefaultSubmit();
    a.options = 0;
    a.serviceType = "CMT";
    EXPECT_EQ(ReadSubmit(Submit(a)).registeredDelivery, 0);
    EXPECT_EQ(ReadSubmit(Submit(a)).serviceType, "CMT");

    a.options = SubmitOption::DataCodingFlag10;
    EXPECT_EQ(ReadSubmit(Submit(a)).dataCoding, 0x10);
    a.options = SubmitOption::DataCodingF1;
    a.encoding = TtcEncodingType::et8BitHexadecimal;
    a.text = "00";
    EXPECT_EQ(ReadSubmit(Submit(a)).dataCoding, 0xF5);
}

TEST(SmppSubmit, OptionalParametersFollowTheMessage) {
    SubmitRequest a = DefaultSubmit();
    a.optionalParameters = "020400020001";  // user_message_reference = 1
    const SubmitFields f = ReadSubmit(Submit(a));
    EXPECT_EQ(f.smLength, 4);
    EXPECT_EQ(f.rest, (Bytes{0x02, 0x04, 0x00, 0x02, 0x00, 0x01}));
}

TEST(SmppSubmit, ScheduleAndValidityTimes) {
    setenv("TZ", "UTC", 1);
    tzset();
    SubmitRequest a = DefaultSubmit();
    // 2024-03-05 07:08:09.4 UTC
    a.schedule = std::chrono::system_clock::time_point{1709622489400ms};
    a.validity = std::chrono::system_clock::time_point{std::chrono::hours(26) + 3min + 4s};
    a.options = SubmitOption::ScheduleAbsolute | SubmitOption::ValidityRelative;
    SubmitFields f = ReadSubmit(Submit(a));
    // At offset zero local time is not ahead of UTC: "-".
    EXPECT_EQ(f.schedule, "240305070809400-");
    EXPECT_EQ(f.validity, "000001020304000R");

    // Without an option bit, or with no time, the fields stay empty.
    a.options = 0;
    f = ReadSubmit(Submit(a));
    EXPECT_EQ(f.schedule, "");
    EXPECT_EQ(f.validity, "");
    a.options = SubmitOption::ScheduleAbsolute | SubmitOption::ValidityAbsolute;
    a.schedule = {};
    a.validity = {};
    f = ReadSubmit(Submit(a));
    EXPECT_EQ(f.schedule, "");
    EXPECT_EQ(f.validity, "");
}

TEST(SmppSubmit, GsmEscapesAndReplacements) {
    EXPECT_EQ(SubmitText("{").shortMessage, (Bytes{0x1B, 0x28}));
    EXPECT_EQ(SubmitText("\xE2\x82\xAC").shortMessage, (Bytes{0x1B, 0x65}));  // euro sign
    EXPECT_EQ(SubmitText("@").shortMessage, (Bytes{0x00}));
    EXPECT_EQ(SubmitText("\xD0\xB6").shortMessage, (Bytes{0x20}));      // Cyrillic zhe
    EXPECT_EQ(SubmitText("\xE4\xB8\xAD").shortMessage, (Bytes{0x20}));  // a CJK character
    const SubmitFields f = SubmitText("a{b}\xE2\x82\xAC");
    EXPECT_EQ(f.smLength, 8);
    EXPECT_EQ(f.shortMessage, (Bytes{0x61, 0x1B, 0x28, 0x62, 0x1B, 0x29, 0x1B, 0x65}));
}

TEST(SmppSubmit, LongTextIsCutAt160Octets) {
    SubmitFields f = SubmitText(std::string(200, 'x'));
    EXPECT_EQ(f.smLength, 160);
    EXPECT_EQ(f.shortMessage, Bytes(160, 'x'));

    // An escape never loses its code: 159 plain characters and a brace
    // would take 161 octets, so the brace goes.
    f = SubmitText(std::string(159, 'x') + "{");
    EXPECT_EQ(f.smLength, 159);
    EXPECT_EQ(f.shortMessage, Bytes(159, 'x'));

    f = SubmitText(std::string(158, 'x') + "{" + "yy");
    EXPECT_EQ(f.smLength, 160);
    EXPECT_EQ(f.shortMessage[158], 0x1B);
    EXPECT_EQ(f.shortMessage[159], 0x28);

    // Only escapes: 80 of them fill 160 octets exactly.
    f = SubmitText(std::string(100, '['));
    EXPECT_EQ(f.smLength, 160);
    for (std::size_t i = 0; i < f.shortMessage.size(); i += 2) {
        ASSERT_EQ(f.shortMessage[i], 0x1B) << i;
        ASSERT_EQ(f.shortMessage[i + 1], 0x3C) << i;
    }
}

TEST(SmppSubmit, Ucs2IsBigEndian) {
    SubmitRequest a = DefaultSubmit();
    a.encoding = TtcEncodingType::etUCS2Text;
    a.text = "A\xD0\xB6\xE2\x82\xAC";  // A, zhe, euro
    SubmitFields f = ReadSubmit(Submit(a));
    EXPECT_EQ(f.dataCoding, 0x08);
    EXPECT_EQ(f.smLength, 6);
    EXPECT_EQ(f.shortMessage, (Bytes{0x00, 0x41, 0x04, 0x36, 0x20, 0xAC}));

    // 81 characters: 80 fit in 160 octets.
    a.text = std::string(81, 'z');
    f = ReadSubmit(Submit(a));
    EXPECT_EQ(f.smLength, 160);
    EXPECT_EQ(f.shortMessage[158], 0x00);
    EXPECT_EQ(f.shortMessage[159], 'z');

    // A surrogate pair that would straddle the limit is left out whole.
    a.text = std::string(79, 'z') + "\xF0\x9F\x98\x80";  // U+1F600
    f = ReadSubmit(Submit(a));
    EXPECT_EQ(f.smLength, 158);
    a.text = std::string(78, 'z') + "\xF0\x9F\x98\x80";
    f = ReadSubmit(Submit(a));
    EXPECT_EQ(f.smLength, 160);
    EXPECT_EQ(Bytes(f.shortMessage.begin() + 156, f.shortMessage.end()),
              (Bytes{0xD8, 0x3D, 0xDE, 0x00}));
}

TEST(SmppSubmit, EightBitDataFromHexadecimalPairs) {
    SubmitRequest a = DefaultSubmit();
    a.encoding = TtcEncodingType::et8BitHexadecimal;
    a.text = "0A1bFF00";
    SubmitFields f = ReadSubmit(Submit(a));
    EXPECT_EQ(f.dataCoding, 0x04);
    EXPECT_EQ(f.smLength, 4);
    EXPECT_EQ(f.shortMessage, (Bytes{0x0A, 0x1B, 0xFF, 0x00}));

    a.text = std::string(400, 'A');  // 200 octets
    f = ReadSubmit(Submit(a));
    EXPECT_EQ(f.smLength, 160);
    EXPECT_EQ(f.shortMessage, Bytes(160, 0xAA));
}

TEST(SmppSubmit, IsoTablesCarryTheText) {
    struct Case {
        TtcEncodingType encoding;
        const char* text;
        int dataCoding;
        Bytes octets;
    };
    const Case cases[] = {
        {TtcEncodingType::etISO88591,
         "Gr\xC3\xBC\xC3\x9F"
         "e \xC3\xA9\xE2\x82\xAC",
         0x03,
         {0x47, 0x72, 0xFC, 0xDF, 0x65, 0x20, 0xE9, 0x20}},
        {TtcEncodingType::etISO88595,
         "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 "
         "\xE2\x84\x96\xD1\x91\xD0\x8E\xD1\x9F\xC2\xA7\xC3\xA9",
         0x06,
         {0xBF, 0xE0, 0xD8, 0xD2, 0xD5, 0xE2, 0x20, 0xF0, 0xF1, 0xAE, 0xFF, 0xFD, 0x20}},
        {TtcEncodingType::etISO88598,
         "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D \xC3\x97\xC3\xB7\xE2\x80\x97\xE2\x80\x8E"
         "\xE2\x80\x8F\xC2\xAA",
         0x07,
         {0xF9, 0xEC, 0xE5, 0xED, 0x20, 0xAA, 0xBA, 0xDF, 0xFD, 0xFE, 0x20}},
    };
    for (const Case& c : cases) {
        SubmitRequest a = DefaultSubmit();
        a.encoding = c.encoding;
        a.text = c.text;
        const SubmitFields f = ReadSubmit(Submit(a));
        EXPECT_EQ(f.dataCoding, c.dataCoding);
        EXPECT_EQ(f.shortMessage, c.octets) << c.text;
        EXPECT_EQ(f.smLength, static_cast<int>(c.octets.size()));
    }
    // One blank for a character beyond the plane, and the 160-octet cut.
    SubmitRequest a = DefaultSubmit();
    a.encoding = TtcEncodingType::etISO88591;
    a.text =
        "a\xF0\x9F\x98\x80"
        "b";
    EXPECT_EQ(ReadSubmit(Submit(a)).shortMessage, (Bytes{'a', 0x20, 'b'}));
    a.text = std::string(170, 'q');
    EXPECT_EQ(ReadSubmit(Submit(a)).smLength, 160);
}

TEST(SmppSubmit, SeptetPacking) {
    SubmitFields f = SubmitText("hellohello", false);
    EXPECT_EQ(f.dataCoding, 0);
    EXPECT_EQ(f.smLength, 9);
    EXPECT_EQ(f.shortMessage, (Bytes{0xE8, 0x32, 0x9B, 0xFD, 0x46, 0x97, 0xD9, 0xEC, 0x37}));

    // Eight septets fill seven octets exactly.
    f = SubmitText("ABCDEFGH", false);
    EXPECT_EQ(f.shortMessage, (Bytes{0x41, 0xE1, 0x90, 0x58, 0x34, 0x1E, 0x91}));

    // 200 characters: 160 septets, 140 octets.
    f = SubmitText(std::string(200, 'x'), false);
    EXPECT_EQ(f.smLength, 140);
}

TEST(SmppSubmit, UserDataHeaderGoesInFront) {
    SubmitRequest a = DefaultSubmit();
    a.userDataHeader = "050003A70201";  // concatenation, reference A7, first of two
    a.text = "hello";
    SubmitFields f = ReadSubmit(Submit(a));
    EXPECT_EQ(f.esmClass, 0x40);
    EXPECT_EQ(f.smLength, 11);
    EXPECT_EQ(f.shortMessage, (Bytes{0x05, 0x00, 0x03, 0xA7, 0x02, 0x01, 'h', 'e', 'l', 'l', 'o'}));

    // The header's octets count against the 160.
    a.text = std::string(200, 'x');
    f = ReadSubmit(Submit(a));
    EXPECT_EQ(f.smLength, 160);
    EXPECT_EQ(f.shortMessage.size(), 160u);

    // Packed: the text starts on the septet after the header (one fill
    // bit behind six octets).
    a.text = "hello";
    a.asciiFrontend = false;
    f = ReadSubmit(Submit(a));
    EXPECT_EQ(f.smLength, 11);
    EXPECT_EQ(f.shortMessage,
              (Bytes{0x05, 0x00, 0x03, 0xA7, 0x02, 0x01, 0xD0, 0x65, 0x36, 0xFB, 0x0D}));
}

TEST(SmppSubmit, LengthOctetAlwaysMatchesTheMessage) {
    // A header longer than a short message can hold, in every encoding:
    // sm_length must still count exactly the octets that follow.
    const TtcEncodingType encodings[] = {TtcEncodingType::et7BitText,
                                         TtcEncodingType::et8BitHexadecimal,
                                         TtcEncodingType::etUCS2Text};
    for (const std::size_t udhOctets : {150u, 160u, 170u, 300u}) {
        for (const auto encoding : encodings) {
            for (const bool ascii : {true, false}) {
                SubmitRequest a = DefaultSubmit();
                a.userDataHeader = std::string(udhOctets * 2, '1');
                a.text = encoding == TtcEncodingType::et8BitHexadecimal ? "ABCD" : "hi";
                a.encoding = encoding;
                a.asciiFrontend = ascii;
                a.optionalParameters = "001E000431323300";
                const TtcSMSCMessageSMPP m = Submit(a);
                ExpectWellFormed(m);
                const SubmitFields f = ReadSubmit(m);
                SCOPED_TRACE(testing::Message()
                             << "udh " << udhOctets << " encoding " << static_cast<int>(encoding)
                             << " ascii " << ascii);
                EXPECT_LE(f.smLength, 160);
                EXPECT_EQ(f.shortMessage.size(), static_cast<std::size_t>(f.smLength));
                EXPECT_EQ(f.rest, (Bytes{0x00, 0x1E, 0x00, 0x04, '1', '2', '3', 0x00}));
            }
        }
    }
}

// ---------------------------------------------------------------------------
// The GSM 03.38 tables

TEST(GsmAlphabet, EncodesBothTables) {
    EXPECT_EQ(GsmAlphabet::Encode("@\xC2\xA3$\xC2\xA5"), (Bytes{0x00, 0x01, 0x02, 0x03}));
    EXPECT_EQ(GsmAlphabet::Encode("\xCE\x94_"), (Bytes{0x10, 0x11}));  // Delta, underscore
    EXPECT_EQ(GsmAlphabet::Encode("\xC2\xA1\xC2\xBF\xC3\xA0"), (Bytes{0x40, 0x60, 0x7F}));
    EXPECT_EQ(GsmAlphabet::Encode("\n\r "), (Bytes{0x0A, 0x0D, 0x20}));
    // The whole extension table: these eight and nothing else.
    const std::pair<const char*, std::uint8_t> extension[] = {
        {"^", 0x14}, {"{", 0x28}, {"}", 0x29}, {"\\", 0x2F},
        {"[", 0x3C}, {"~", 0x3D}, {"]", 0x3E}, {"\xE2\x82\xAC", 0x65}};
    for (const auto& [text, code] : extension) {
        EXPECT_EQ(GsmAlphabet::Encode(text), (Bytes{0x1B, code})) << text;
        EXPECT_EQ(GsmAlphabet::ExtensionChar(code), Utf8ToUtf16(text).at(0)) << text;
    }
    // Characters in neither table.
    EXPECT_EQ(GsmAlphabet::Encode("`\x7F\xC3\xBE|\f"), (Bytes{0x20, 0x20, 0x20, 0x20, 0x20}));
}

TEST(GsmAlphabet, DefaultTableRoundTrips) {
    for (int code = 0; code < 128; ++code) {
        if (code == 0x1B) {
            continue;  // the escape
        }
        const char16_t c = GsmAlphabet::DefaultChar(static_cast<std::uint8_t>(code));
        const Bytes encoded = GsmAlphabet::Encode(Utf16ToUtf8(std::u16string(1, c)));
        EXPECT_EQ(encoded, (Bytes{static_cast<std::uint8_t>(code)})) << "code " << code;
    }
}

TEST(GsmAlphabet, PackWithFillBits) {
    EXPECT_EQ(GsmAlphabet::Pack({}), Bytes{});
    EXPECT_EQ(GsmAlphabet::Pack({0x68, 0x65, 0x6C, 0x6C, 0x6F}, 1),
              (Bytes{0xD0, 0x65, 0x36, 0xFB, 0x0D}));
    EXPECT_EQ(GsmAlphabet::Pack({0x7F}), (Bytes{0x7F}));
}

TEST(GsmAlphabet, Utf8ConversionsReplaceBrokenInput) {
    EXPECT_EQ(Utf8ToUtf16("a\xFF"), (std::u16string{u'a', u'\uFFFD'}));
    EXPECT_EQ(Utf8ToUtf16("\xE2\x82"), (std::u16string{u'\uFFFD', u'\uFFFD'}));
    EXPECT_EQ(Utf16ToUtf8(u"\xD83D"), "\xEF\xBF\xBD");
    EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16("\xF0\x9F\x98\x80")), "\xF0\x9F\x98\x80");
}

// ---------------------------------------------------------------------------
// Framing

TEST(SmppFraming, FrameLengthOverRawBytes) {
    const Bytes one = Pdu(0x80000015, 0, 1);
    EXPECT_EQ(TtcSMSCMessageSMPP::FrameLength(one.data(), 0), 0);
    EXPECT_EQ(TtcSMSCMessageSMPP::FrameLength(one.data(), 15), 0);
    EXPECT_EQ(TtcSMSCMessageSMPP::FrameLength(one.data(), 16), 16);

    Bytes two = Pdu(0x80000004, 0, 2, {'a', 'b', 0});
    EXPECT_EQ(TtcSMSCMessageSMPP::FrameLength(two.data(), 16), 0);
    EXPECT_EQ(TtcSMSCMessageSMPP::FrameLength(two.data(), 18), 0);
    EXPECT_EQ(TtcSMSCMessageSMPP::FrameLength(two.data(), 19), 19);
    two.insert(two.end(), one.begin(), one.end());
    EXPECT_EQ(TtcSMSCMessageSMPP::FrameLength(two.data(), two.size()), 19);
}

TEST(SmppFraming, ImpossibleLengthsAreInvalid) {
    for (const std::uint32_t length : {0u, 1u, 15u, 8193u, 65536u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        Bytes head;
        Put32(head, length);
        head.resize(16, 0);
        EXPECT_EQ(TtcSMSCMessageSMPP::FrameLength(head.data(), head.size()), -1) << length;
    }
    Bytes largest;
    Put32(largest, 8192);
    largest.resize(16, 0);
    EXPECT_EQ(TtcSMSCMessageSMPP::FrameLength(largest.data(), largest.size()), 0);
    largest.resize(8192, 0);
    EXPECT_EQ(TtcSMSCMessageSMPP::FrameLength(largest.data(), largest.size()), 8192);
}

// A client adopted onto one end of a socket pair: what the test writes to
// the other end is what the client reads.
class ClientFeed {
public:
    ClientFeed() {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
            throw std::runtime_error("socketpair failed");
        }
        client.adopt(fds[0], "pair", 0);
        m_peer = fds[1];
    }
    ~ClientFeed() { ::close(m_peer); }
    // Writes the octets and reads them into the client's buffer.
    void feed(const Bytes& octets) {
        ASSERT_EQ(::write(m_peer, octets.data(), octets.size()),
                  static_cast<ssize_t>(octets.size()));
        std::size_t before = client.BytesRead();
        while (client.BytesRead() < before + octets.size()) {
            ASSERT_TRUE(client.WaitForData(2000));
            ASSERT_GT(client.ReadData(), 0);
        }
    }

    TtcTcpClient client;

private:
    int m_peer = -1;
};

TEST(SmppFraming, ReadFromClientTakesOneWholePduAtATime) {
    ClientFeed f;
    TtcSMSCMessageSMPP m;
    EXPECT_EQ(m.ReadFromClient(f.client), Framing::NeedMore);

    const Bytes submitResp = Pdu(0x80000004, 0, 9, {'I', 'D', '7', 0});
    const Bytes enquire = Pdu(0x00000015, 0, 10);
    f.feed(Bytes(submitResp.begin(), submitResp.begin() + 10));  // a partial header
    EXPECT_EQ(m.ReadFromClient(f.client), Framing::NeedMore);
    f.feed(Bytes(submitResp.begin() + 10, submitResp.begin() + 18));  // a partial body
    EXPECT_EQ(m.ReadFromClient(f.client), Framing::NeedMore);
    EXPECT_EQ(f.client.BytesRead(), 18u);

    Bytes rest(submitResp.begin() + 18, submitResp.end());
    rest.insert(rest.end(), enquire.begin(), enquire.end());
    f.feed(rest);
    ASSERT_EQ(m.ReadFromClient(f.client), Framing::Framed);
    EXPECT_EQ(m.buffer(), submitResp);
    EXPECT_EQ(f.client.BytesRead(), 16u);
    ASSERT_EQ(m.ReadFromClient(f.client), Framing::Framed);
    EXPECT_EQ(m.buffer(), enquire);
    EXPECT_EQ(f.client.BytesRead(), 0u);
    EXPECT_EQ(m.ReadFromClient(f.client), Framing::NeedMore);
}

TEST(SmppFraming, ReadFromClientRefusesImpossibleLengths) {
    for (const std::uint32_t length : {0u, 15u, 8193u, 0xFFFFFFFFu}) {
        ClientFeed f;
        Bytes head;
        Put32(head, length);
        Put32(head, 0x80000004);
        head.resize(16, 0);
        f.feed(head);
        TtcSMSCMessageSMPP m;
        EXPECT_EQ(m.ReadFromClient(f.client), Framing::Invalid) << length;
        // Nothing was taken from the buffer.
        EXPECT_EQ(f.client.BytesRead(), 16u);
    }
    // The largest PDU the buffer holds frames.
    ClientFeed f;
    const Bytes big = Pdu(0x80000004, 0, 1, Bytes(8192 - 16, 'x'));
    f.feed(big);
    TtcSMSCMessageSMPP m;
    ASSERT_EQ(m.ReadFromClient(f.client), Framing::Framed);
    EXPECT_EQ(m.buffer().size(), 8192u);
}

// ---------------------------------------------------------------------------
// Kinds and response parsers

TEST(SmppParse, KindTable) {
    const std::pair<std::uint32_t, int> cases[] = {
        {0x00000005, 1}, {0x00000015, 3}, {0x80000004, 4}, {0x80000001, 6},  {0x80000002, 6},
        {0x80000009, 6}, {0x80000006, 7}, {0x80000015, 8}, {0x80000000, 10}, {0x00000004, 0},
        {0x00000001, 0}, {0x00000006, 0}, {0x80000005, 0}, {0x00000102, 0},  {0x80000103, 0},
        {0xFFFFFFFF, 0}, {0x00000000, 0}, {0x80000021, 0},
    };
    for (const auto& [id, kind] : cases) {
        EXPECT_EQ(Message(Pdu(id, 0, 1)).Kind(), kind) << std::hex << id;
    }
}

TEST(SmppParse, ResponseStatusComesFromTheHeader) {
    auto m = Message(Pdu(0x80000002, 0x0E, 1, {'S', 'M', 'S', 'C', 0}));
    m.ParseBindResp();
    EXPECT_EQ(m.status(), 14);
    m = Message(Pdu(0x80000002, 0, 1));
    m.ParseBindResp();
    EXPECT_EQ(m.status(), 0);

    m = Message(Pdu(0x80000006, 0x05, 2));
    m.ParseUnbindResp();
    EXPECT_EQ(m.status(), 5);

    m = Message(Pdu(0x80000015, 0x04, 3));
    m.ParseEnquireLinkResp();
    EXPECT_EQ(m.status(), 0);

    m = Message(Pdu(0x80000000, 0x03, 4));
    m.ParseGenericNack();
    EXPECT_EQ(m.status(), -3);
}

TEST(SmppParse, SubmitRespMessageId) {
    auto m = Message(Pdu(0x80000004, 0, 1, {'a', 'b', 'c', '1', '2', 0}));
    m.ParseSubmitResp();
    EXPECT_EQ(m.status(), 0);
    EXPECT_EQ(m.messageId(), "abc12");

    // No body at all: an empty id, and the earlier one does not linger.
    m.assign(Pdu(0x80000004, 0x45, 2).data(), 16);
    m.ParseSubmitResp();
    EXPECT_EQ(m.status(), 0x45);
    EXPECT_EQ(m.messageId(), "");

    // An id without its terminating 0 ends with the PDU.
    m = Message(Pdu(0x80000004, 0, 3, {'x', 'y'}));
    m.ParseSubmitResp();
    EXPECT_EQ(m.messageId(), "xy");
}

TEST(SmppParse, ShortBuffersReadAsZero) {
    const Bytes head = Pdu(0x80000004, 0x45, 0x10);
    for (std::size_t n = 0; n < 16; ++n) {
        TtcSMSCMessageSMPP m;
        m.assign(head.data(), n);
        EXPECT_EQ(m.sequenceNumber(), 0u) << n;
        if (n < 12) {
            EXPECT_EQ(m.commandStatus(), 0u) << n;
        }
        m.ParseSubmitResp();
        EXPECT_EQ(m.messageId(), "");
        (void)m.ParseDeliver();
    }
}

// ---------------------------------------------------------------------------
// deliver_sm

struct DeliverArgs {
    std::string serviceType;
    int sourceTon = 1, sourceNpi = 1;
    std::string source = "46701111111";
    int destTon = 0, destNpi = 9;
    std::string destination = "VANTOR";
    int esmClass = 0;
    int protocolId = 0, priority = 0;
    int registeredDelivery = 0;
    int dataCoding = 0;
    Bytes shortMessage;
    Bytes optional;
};

Bytes DeliverPdu(const DeliverArgs& a, std::uint32_t sequence = 77) {
    Bytes body;
    PutString(body, a.serviceType);
    body.push_back(static_cast<std::uint8_t>(a.sourceTon));
    body.push_back(static_cast<std::uint8_t>(a.sourceNpi));
    PutString(body, a.source);
    body.push_back(static_cast<std::uint8_t>(a.destTon));
    body.push_back(static_cast<std::uint8_t>(a.destNpi));
    PutString(body, a.destination);
    body.push_back(static_cast<std::uint8_t>(a.esmClass));
    body.push_back(static_cast<std::uint8_t>(a.protocolId));
    body.push_back(static_cast<std::uint8_t>(a.priority));
    PutString(body, "");  // schedule_delivery_time
    PutString(body, "");  // validity_period
    body.push_back(static_cast<std::uint8_t>(a.registeredDelivery));
    body.push_back(0);  // replace_if_present_flag
    body.push_back(static_cast<std::uint8_t>(a.dataCoding));
    body.push_back(0);  // sm_default_msg_id
    body.push_back(static_cast<std::uint8_t>(a.shortMessage.size()));
    body.insert(body.end(), a.shortMessage.begin(), a.shortMessage.end());
    body.insert(body.end(), a.optional.begin(), a.optional.end());
    return Pdu(0x00000005, 0, sequence, body);
}

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

TEST(SmppDeliver, OrdinaryMessage) {
    DeliverArgs a;
    a.serviceType = "WAP";
    a.esmClass = 0x03;
    a.protocolId = 0x7F;
    a.priority = 2;
    a.registeredDelivery = 1;
    a.shortMessage = Text("Server down");
    const DeliverSm d = Message(DeliverPdu(a)).ParseDeliver();
    EXPECT_FALSE(d.isReceipt);
    EXPECT_EQ(d.serviceType, "WAP");
    EXPECT_EQ(d.sourceTon, 1);
    EXPECT_EQ(d.sourceNpi, 1);
    EXPECT_EQ(d.source, "46701111111");
    EXPECT_EQ(d.destTon, 0);
    EXPECT_EQ(d.destNpi, 9);
    EXPECT_EQ(d.destination, "VANTOR");
    EXPECT_EQ(d.esmClass, 0x03);
    EXPECT_EQ(d.protocolId, 0x7F);
    EXPECT_EQ(d.priority, 2);
    EXPECT_EQ(d.registeredDelivery, 1);
    EXPECT_EQ(d.encoding, TtcEncodingType::et7BitText);
    EXPECT_EQ(d.text, "Server down");
    EXPECT_EQ(d.userDataHeader, "");
    EXPECT_EQ(d.optionalParameters, "");
    EXPECT_EQ(d.messageId, "");
    EXPECT_EQ(d.error, -1);
}

const std::string kReceipt =
    "id:123 sub:001 dlvrd:001 submit date:2403050708 done date:2403050709 stat:DELIVRD "
    "err:000 text:Server down";

TEST(SmppDeliver, DeliveryReceipt) {
    DeliverArgs a;
    a.esmClass = 0x04;
    a.shortMessage = Text(kReceipt);
    const DeliverSm d = Message(DeliverPdu(a)).ParseDeliver();
    EXPECT_TRUE(d.isReceipt);
    EXPECT_EQ(d.messageId, "123");
    EXPECT_EQ(d.state, 2);
    EXPECT_EQ(d.error, 0);
    EXPECT_EQ(d.text, kReceipt);
    // A receipt travels back: its source is the original destination.
    EXPECT_EQ(d.source, "VANTOR");
    EXPECT_EQ(d.sourceTon, 0);
    EXPECT_EQ(d.sourceNpi, 9);
    EXPECT_EQ(d.destination, "46701111111");
    EXPECT_EQ(d.destTon, 1);
    EXPECT_EQ(d.destNpi, 1);
}

TEST(SmppDeliver, ReceiptStatesAndErrors) {
    const std::pair<const char*, int> states[] = {{"DELIVRD", 2}, {"EXPIRED", 3}, {"DELETED", 4},
                                                  {"UNDELIV", 5}, {"ACCEPTD", 6}, {"UNKNOWN", 7},
                                                  {"REJECTD", 8}, {"garbage", 7}};
    for (const auto& [word, state] : states) {
        DeliverArgs a;
        a.esmClass = 0x04;
        a.shortMessage = Text(std::string("id:9 stat:") + word + " err:012");
        const DeliverSm d = Message(DeliverPdu(a)).ParseDeliver();
        EXPECT_EQ(d.state, state) << word;
        EXPECT_EQ(d.error, 12) << word;
    }
    DeliverArgs a;
    a.esmClass = 0x04;
    a.shortMessage = Text("id:9 stat:DELIVRD err:x1");
    EXPECT_EQ(Message(DeliverPdu(a)).ParseDeliver().error, -1);
}

TEST(SmppDeliver, ThreeRecognisedItemsMakeAReceipt) {
    DeliverArgs a;
    a.esmClass = 0;  // no receipt bits
    a.shortMessage = Text(kReceipt);
    DeliverSm d = Message(DeliverPdu(a)).ParseDeliver();
    EXPECT_TRUE(d.isReceipt);
    EXPECT_EQ(d.messageId, "123");
    EXPECT_EQ(d.source, "VANTOR");

    // Two are not enough.
    a.shortMessage = Text("id:123 stat:DELIVRD and more");
    d = Message(DeliverPdu(a)).ParseDeliver();
    EXPECT_FALSE(d.isReceipt);
    EXPECT_EQ(d.source, "46701111111");

    // An intermediate notification counts as a receipt by its bits alone.
    a.esmClass = 0x20;
    a.shortMessage = Text("queued");
    EXPECT_TRUE(Message(DeliverPdu(a)).ParseDeliver().isReceipt);
}

TEST(SmppDeliver, MessagePayloadWhenShortMessageIsEmpty) {
    DeliverArgs a;
    a.optional = {0x04, 0x24, 0x00, 0x05, 'h',  'e', 'l', 'l', 'o',  // message_payload
                  0x02, 0x04, 0x00, 0x02, 0x00, 0x07};               // user_message_reference
    DeliverSm d = Message(DeliverPdu(a)).ParseDeliver();
    EXPECT_EQ(d.text, "hello");
    EXPECT_EQ(d.optionalParameters, "0424000568656C6C6F020400020007");

    // A short message wins over a payload.
    a.shortMessage = Text("short");
    d = Message(DeliverPdu(a)).ParseDeliver();
    EXPECT_EQ(d.text, "short");

    // A payload whose length runs past the PDU takes what is there.
    a.shortMessage.clear();
    a.optional = {0x04, 0x24, 0x01, 0x00, 'a', 'b'};
    d = Message(DeliverPdu(a)).ParseDeliver();
    EXPECT_EQ(d.text, "ab");
}

TEST(SmppDeliver, UserDataHeaderIsSplitOff) {
    DeliverArgs a;
    a.esmClass = 0x40;
    a.shortMessage = {0x05, 0x00, 0x03, 0x2A, 0x02, 0x02, 'p', 'a', 'r', 't'};
    DeliverSm d = Message(DeliverPdu(a)).ParseDeliver();
    EXPECT_EQ(d.userDataHeader, "0500032A0202");
    EXPECT_EQ(d.text, "part");

    // A header length beyond the message takes the whole message.
    a.shortMessage = {0x09, 0x00, 0x03};
    d = Message(DeliverPdu(a)).ParseDeliver();
    EXPECT_EQ(d.userDataHeader, "090003");
    EXPECT_EQ(d.text, "");

    // Without the bit the octets are text.
    a.esmClass = 0;
    a.shortMessage = {0x05, 'a'};
    d = Message(DeliverPdu(a)).ParseDeliver();
    EXPECT_EQ(d.userDataHeader, "");
    EXPECT_EQ(d.text, std::string("\x05"
                                  "a"));
}

TEST(SmppDeliver, Ucs2AndBinaryText) {
    DeliverArgs a;
    a.dataCoding = 0x08;
    a.shortMessage = {0x00, 0x41, 0x04, 0x36, 0x20, 0xAC, 0xD8, 0x3D, 0xDE, 0x00};
    DeliverSm d = Message(DeliverPdu(a)).ParseDeliver();
    EXPECT_EQ(d.encoding, TtcEncodingType::etUCS2Text);
    EXPECT_EQ(d.text, "A\xD0\xB6\xE2\x82\xAC\xF0\x9F\x98\x80");

    // An odd octet at the end is dropped; a lone surrogate is replaced.
    a.shortMessage = {0xD8, 0x3D, 0x00, 0x41, 0x00};
    d = Message(DeliverPdu(a)).ParseDeliver();
    EXPECT_EQ(d.text,
              "\xEF\xBF\xBD"
              "A");

    a.dataCoding = 0x04;
    a.shortMessage = {0x00, 0xFF, 0x10};
    d = Message(DeliverPdu(a)).ParseDeliver();
    EXPECT_EQ(d.encoding, TtcEncodingType::et8BitHexadecimal);
    EXPECT_EQ(d.text, "00FF10");
}

TEST(SmppDeliver, TruncatedPdusNeverReadPastTheEnd) {
    DeliverArgs a;
    a.esmClass = 0x40;
    a.shortMessage = Text("\x02xyhello");
    a.optional = {0x04, 0x24, 0x00, 0x03, 'a', 'b', 'c'};
    const Bytes whole = DeliverPdu(a);
    for (std::size_t n = 16; n <= whole.size(); ++n) {
        Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
        // An exact-size heap copy, so that a read past it is caught by the
        // address sanitizer build.
        TtcSMSCMessageSMPP m;
        m.assign(cut.data(), cut.size());
        const DeliverSm d = m.ParseDeliver();
        EXPECT_LE(d.text.size(), n) << n;
    }
    const DeliverSm d = Message(whole).ParseDeliver();
    EXPECT_EQ(d.userDataHeader, "027879");
    EXPECT_EQ(d.text, "hello");
}

// ---------------------------------------------------------------------------
// Time strings

class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* tz) {
        if (const char* old = std::getenv("TZ")) {
            m_old = old;
            m_had = true;
        }
        setenv("TZ", tz, 1);
        tzset();
    }
    ~ScopedTimeZone() {
        if (m_had) {
            setenv("TZ", m_old.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

private:
    std::string m_old;
    bool m_had = false;
};

TEST(SmppTime, AbsoluteTimeCarriesTheOffsetInQuarterHours) {
    const std::chrono::system_clock::time_point t{1709622489400ms};  // 2024-03-05 07:08:09.4 UTC
    {
        ScopedTimeZone tz("UTC");
        // No offset: local time is not ahead of UTC, so the sign is '-'.
        EXPECT_EQ(TtcSMSCMessageSMPP::AbsoluteTime(t), "240305070809400-");
    }
    {
        ScopedTimeZone tz("XXX-5:30");  // 5 h 30 min ahead of UTC
        EXPECT_EQ(TtcSMSCMessageSMPP::AbsoluteTime(t), "240305123809422+");
    }
    {
        ScopedTimeZone tz("YYY8");  // 8 h behind UTC
        EXPECT_EQ(TtcSMSCMessageSMPP::AbsoluteTime(t), "240304230809432-");
    }
    ScopedTimeZone tz("UTC");
    EXPECT_EQ(TtcSMSCMessageSMPP::AbsoluteTime(
                  std::chrono::system_clock::time_point{std::chrono::seconds(946684799)}),
              "991231235959000-");
    EXPECT_EQ(TtcSMSCMessageSMPP::AbsoluteTime(t).size(), 16u);
    // Two digits of the year, whatever the century.
    EXPECT_EQ(TtcSMSCMessageSMPP::AbsoluteTime(std::chrono::system_clock::time_point{
                  std::chrono::seconds(-3786825600)}),  // 1850-01-01
              "500101000000000-");
    EXPECT_EQ(TtcSMSCMessageSMPP::AbsoluteTime(std::chrono::system_clock::time_point{
                  std::chrono::seconds(4102444800)}),  // 2100-01-01
              "000101000000000-");
}

TEST(SmppTime, RelativeTime) {
    using std::chrono::hours;
    EXPECT_EQ(TtcSMSCMessageSMPP::RelativeTime(hours(26) + 3min + 4s), "000001020304000R");
    EXPECT_EQ(TtcSMSCMessageSMPP::RelativeTime(0s), "000000000000000R");
    EXPECT_EQ(TtcSMSCMessageSMPP::RelativeTime(59s + 999ms), "000000000059000R");
    EXPECT_EQ(TtcSMSCMessageSMPP::RelativeTime(hours(24 * 31) + hours(23) + 59min + 59s),
              "000031235959000R");
    // Days are capped at 31.
    EXPECT_EQ(TtcSMSCMessageSMPP::RelativeTime(hours(24 * 40) + hours(1)), "000031010000000R");
    EXPECT_EQ(TtcSMSCMessageSMPP::RelativeTime(-5s), "000000000000000R");
}

TEST(SmppHex, PairsBothWays) {
    EXPECT_EQ(HexToBytes("0A1bFf"), (Bytes{0x0A, 0x1B, 0xFF}));
    EXPECT_EQ(HexToBytes("0G12"), (Bytes{0x00, 0x12}));
    EXPECT_EQ(HexToBytes("123"), (Bytes{0x12}));
    const Bytes b{0x00, 0xAB, 0x7F};
    EXPECT_EQ(BytesToHex(b.data(), b.size()), "00AB7F");
}

}  // namespace
}  // namespace vantor::smpp
