// SPDX-License-Identifier: GPL-3.0-or-later
// The SMPP relay against a scripted SMS centre on
// 127.0.0.1. Notifications go through an event loop that the test thread
// runs, as the owner thread would.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <future>
#include <set>
#include <thread>

#include "app/AppSettings.h"
#include "app/EventLoop.h"
#include "app/Messages.h"
#include "smpp/TtcSMSCRelaySMPP.h"
#include "support/FakeSmsc.h"
#include "support/Gate.h"

namespace vantor::smpp {
namespace {

using namespace std::chrono_literals;
using test::FakeSmsc;
using test::SmppPdu;
using test::SmscBehaviour;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kBindTransmitter = 0x00000002;
constexpr std::uint32_t kSubmitSm = 0x00000004;
constexpr std::uint32_t kUnbind = 0x00000006;
constexpr std::uint32_t kUnbindResp = 0x80000006;
constexpr std::uint32_t kEnquireLink = 0x00000015;
constexpr std::uint32_t kEnquireLinkResp = 0x80000015;
constexpr std::uint32_t kSubmitSmResp = 0x80000004;

// Sanitizer builds run several times slower; upper bounds allow for it.
#ifdef VANTOR_SANITIZED
constexpr auto kSlack = 1500ms;
#else
constexpr auto kSlack = 500ms;
#endif

std::chrono::milliseconds Since(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

// Runs the loop until `done`, in short slices so that a condition that
// another thread makes true is seen without a posted task.
bool RunUntil(app::EventLoop& loop, const std::function<bool()>& done,
              std::chrono::milliseconds timeout) {
    const auto end = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() >= end) {
            return false;
        }
        loop.runUntil(done, 20ms);
    }
    return true;
}

// A relay owned by an event loop, with its notifications recorded.
struct Owner {
    explicit Owner(int responseTimeOut = 2000) {
        relay.SetResponseTimeOut(responseTimeOut);
        relay.OnDisconnected = [this](int reason) { disconnects.push_back(reason); };
    }
    int connect(const FakeSmsc& smsc) { return relay.Connect("127.0.0.1", smsc.port()); }
    int bind(const std::string& password = "secret") {
        return relay.Bind("vantor", password, 1, 1, "TCP", 1, 0x34, "");
    }
    int submit(std::string* id = nullptr, const std::string& text = "Disk full") {
        SubmitRequest r;
        r.destination = "46701234567";
        r.destTon = 1;
        r.destNpi = 1;
        r.originator = "VANTOR";
        r.origTon = 5;
        r.text = text;
        r.options = SubmitOption::RegisteredDelivery;
        return relay.SubmitMessage(r, id);
    }
    bool waitForDisconnect(std::chrono::milliseconds timeout = 3s) {
        return RunUntil(
            loop, [this] { return !disconnects.empty(); }, timeout);
    }
    // Lets whatever is still queued run.
    void drain(std::chrono::milliseconds time = 150ms) {
        RunUntil(
            loop, [] { return false; }, time);
    }

    app::EventLoop loop;
    TtcSMSCRelaySMPP relay{&loop};
    std::vector<int> disconnects;
};

// ---------------------------------------------------------------------------
// Listening mode

// A plain TCP peer on 127.0.0.1 that writes and reads whole PDUs.
class Peer {
public:
    explicit Peer(int port) {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<std::uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_connected = ::connect(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        timeval tv{3, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    ~Peer() { ::close(m_fd); }
    bool connected() const { return m_connected; }
    void send(const std::vector<std::uint8_t>& octets) {
        ASSERT_EQ(::send(m_fd, octets.data(), octets.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(octets.size()));
    }
    // One PDU's octets, or empty after the receive limit.
    std::vector<std::uint8_t> read() {
        std::vector<std::uint8_t> head(16);
        if (!readExactly(head.data(), 16)) {
            return {};
        }
        const std::uint32_t length = (head[0] << 24) | (head[1] << 16) | (head[2] << 8) | head[3];
        head.resize(length);
        if (length > 16 && !readExactly(head.data() + 16, length - 16)) {
            return {};
        }
        return head;
    }

private:
    bool readExactly(std::uint8_t* to, std::size_t n) {
        while (n > 0) {
            const ssize_t got = ::recv(m_fd, to, n, 0);
            if (got <= 0) {
                return false;
            }
            to += got;
            n -= static_cast<std::size_t>(got);
        }
        return true;
    }
    int m_fd = -1;
    bool m_connected = false;
};

TEST(SmppRelayListen, AcceptedConnectionsAreAnsweredOnTheirOwnLink) {
    Owner o;
    ASSERT_EQ(o.relay.Listen(0), 0);
    EXPECT_EQ(o.relay.Listen(0), -2) << "already listening";
    ASSERT_GT(o.relay.listeningPort(), 0);
    std::vector<std::string> texts;
    o.relay.OnMessageReceived = [&](const DeliverSm& m) { texts.push_back(m.text); };

    Peer peer(o.relay.listeningPort());
    ASSERT_TRUE(peer.connected());
    peer.send(test::EncodePdu(kEnquireLink, 0, 77));
    o.drain(200ms);
    const auto resp = peer.read();
    ASSERT_EQ(resp.size(), 16u);
    EXPECT_EQ(test::EncodePdu(kEnquireLinkResp, 0, 77), resp);

    // A deliver_sm with a handler: the handler runs on the owner thread and
    // the deliver_sm_resp goes back with one empty message_id octet.
    std::vector<std::uint8_t> body = {0, 1, 1, '1', 0, 1, 1, '2', 0,   0,  0,
                                      0, 0, 0, 0,   0, 0, 0, 2,   'h', 'i'};
    peer.send(test::EncodePdu(0x00000005, 0, 78, body));
    ASSERT_TRUE(RunUntil(
        o.loop, [&] { return !texts.empty(); }, 3s));
    EXPECT_EQ(texts, std::vector<std::string>{"hi"});
    const auto deliverResp = peer.read();
    EXPECT_EQ(deliverResp, test::EncodePdu(0x80000005, 0, 78, {0}));

    // An answer still queued for the owner when listening stops finds the
    // connection gone and is dropped, without touching freed memory.
    peer.send(test::EncodePdu(kEnquireLink, 0, 79));
    std::this_thread::sleep_for(100ms);
    o.relay.StopListening();
    o.drain();
}

// ---------------------------------------------------------------------------
// Connect

TEST(SmppRelayConnect, BindWithoutAConnectionIsRefused) {
    Owner o;
    EXPECT_EQ(o.bind(), -2);
    EXPECT_EQ(o.relay.state(), TtcSMSCRelaySMPP::Disconnected);
    EXPECT_EQ(o.submit(), -2);
    EXPECT_EQ(o.relay.Unbind(), 0);
}

TEST(SmppRelayConnect, ClosedPortIsRefusedAtOnce) {
    test::RefusingPort closed;
    Owner o(5000);
    const auto start = Clock::now();
    EXPECT_EQ(o.relay.Connect("127.0.0.1", closed.port()), ECONNREFUSED);
    EXPECT_LT(Since(start), 1000ms);
    EXPECT_EQ(o.relay.state(), TtcSMSCRelaySMPP::Disconnected);
    o.drain(50ms);
    EXPECT_TRUE(o.disconnects.empty());
}

TEST(SmppRelayConnect, GivesUpAfterTheResponseTimeOut) {
    test::StalledListener stalled;
    Owner o(300);
    const auto start = Clock::now();
    EXPECT_EQ(o.relay.Connect("127.0.0.1", stalled.port()), ETIMEDOUT);
    const auto elapsed = Since(start);
    EXPECT_GE(elapsed, 290ms);
    EXPECT_LT(elapsed, 300ms + kSlack);
    EXPECT_EQ(o.relay.state(), TtcSMSCRelaySMPP::Disconnected);
}

TEST(SmppRelayConnect, SecondConnectWhileConnectedIsRefused) {
    FakeSmsc smsc;
    Owner o;
    ASSERT_EQ(o.connect(smsc), 0);
    EXPECT_EQ(o.connect(smsc), -2);
    o.relay.Disconnect();
    EXPECT_EQ(o.relay.state(), TtcSMSCRelaySMPP::Disconnected);
}

// ---------------------------------------------------------------------------
// Bind

TEST(SmppRelayBind, SilentSmscTimesOut) {
    SmscBehaviour b;
    b.answerBind = false;
    FakeSmsc smsc(b);
    Owner o(300);
    ASSERT_EQ(o.connect(smsc), 0);
    const auto start = Clock::now();
    EXPECT_EQ(o.bind(), -1);
    const auto elapsed = Since(start);
    EXPECT_GE(elapsed, 295ms);
    EXPECT_LT(elapsed, 300ms + kSlack);
    EXPECT_EQ(o.relay.state(), TtcSMSCRelaySMPP::LinkStarted);
    EXPECT_EQ(smsc.count(kBindTransmitter), 1);
    o.relay.Disconnect();
}

TEST(SmppRelayBind, GenericNackIsMinusThree) {
    SmscBehaviour b;
    b.nackBind = true;
    FakeSmsc smsc(b);
    Owner o;
    ASSERT_EQ(o.connect(smsc), 0);
    EXPECT_EQ(o.bind(), -3);
    EXPECT_EQ(o.relay.state(), TtcSMSCRelaySMPP::LinkStarted);
    o.relay.Disconnect();
}

TEST(SmppRelayBind, WrongPasswordGivesTheSmscStatus) {
    SmscBehaviour b;
    b.password = "secret";
    FakeSmsc smsc(b);
    Owner o;
    ASSERT_EQ(o.connect(smsc), 0);
    EXPECT_EQ(o.bind("guess"), 0x0E);
    const auto pdus = smsc.received();
    ASSERT_EQ(pdus.size(), 1u);
    EXPECT_EQ(pdus[0].leadingStrings(3), (std::vector<std::string>{"vantor", "guess", "TCP"}));
    // The right one binds on the same link.
    EXPECT_EQ(o.bind("secret"), 0);
    EXPECT_EQ(o.relay.state(), TtcSMSCRelaySMPP::Bound);
    o.relay.Disconnect();
}

TEST(SmppRelayBind, AfterAFailedBindNothingMoreGoesOut) {
    SmscBehaviour b;
    b.password = "secret";
    FakeSmsc smsc(b);
    Owner o;
    const int baseline = test::ThreadCount();
    ASSERT_EQ(o.connect(smsc), 0);
    ASSERT_EQ(o.bind("wrong"), 14);
    EXPECT_EQ(test::ThreadCount(), baseline + 2) << "the receive and keep-alive threads";

    std::string id = "untouched";
    EXPECT_EQ(o.submit(&id), -2);
    EXPECT_EQ(o.relay.Unbind(), 0);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(smsc.received().size(), 1u) << "only the bind";

    o.relay.Disconnect();
    EXPECT_EQ(o.relay.state(), TtcSMSCRelaySMPP::Disconnected);
    // A joined thread may stay in /proc/self/task for a moment after join.
    EXPECT_TRUE(test::Eventually([&] { return test::ThreadCount() == baseline; }, 2s))
        << "both threads ended: " << test::ThreadCount() << " of " << baseline;
    EXPECT_TRUE(smsc.waitForClose());
    o.drain();
    EXPECT_EQ(o.disconnects, std::vector<int>{0});
    EXPECT_EQ(o.relay.lastError(), "") << "nothing went wrong";
}

// ---------------------------------------------------------------------------
// A whole session

TEST(SmppRelaySession, ConnectBindSubmitUnbindDisconnect) {
    std::atomic<TtcSMSCRelaySMPP*> relay{nullptr};
    std::atomic<int> stateAtBind{-1}, stateAtSubmit{-1}, stateAtUnbind{-1};
    FakeSmsc smsc({}, [&](FakeSmsc&, const SmppPdu& pdu) {
        const int state = relay.load()->state();
        if (pdu.commandId == kBindTransmitter) {
            stateAtBind = state;
        } else if (pdu.commandId == kSubmitSm) {
            stateAtSubmit = state;
        } else if (pdu.commandId == kUnbind) {
            stateAtUnbind = state;
        }
        return false;  // answered as usual
    });
    Owner o;
    relay = &o.relay;
    o.relay.SetSequenceNumber(0);

    std::vector<int> states{o.relay.state()};
    ASSERT_EQ(o.connect(smsc), 0);
    states.push_back(o.relay.state());
    ASSERT_EQ(o.bind(), 0);
    states.push_back(stateAtBind);
    states.push_back(o.relay.state());
    std::string id;
    EXPECT_EQ(o.submit(&id), 0);
    EXPECT_EQ(id, "4F2A1");
    EXPECT_EQ(stateAtSubmit, TtcSMSCRelaySMPP::Bound);
    EXPECT_EQ(o.relay.Unbind(), 0);
    EXPECT_EQ(stateAtUnbind, TtcSMSCRelaySMPP::Bound);
    states.push_back(o.relay.state());
    o.relay.Disconnect();
    states.push_back(o.relay.state());
    EXPECT_EQ(states, (std::vector<int>{0, 1, 2, 3, 1, 0}));

    EXPECT_TRUE(smsc.waitForClose());
    const auto pdus = smsc.received();
    ASSERT_EQ(pdus.size(), 3u);
    EXPECT_EQ(pdus[0].commandId, kBindTransmitter);
    EXPECT_EQ(pdus[0].sequence, 0u);
    EXPECT_EQ(pdus[1].commandId, kSubmitSm);
    EXPECT_EQ(pdus[1].sequence, 1u);
    std::vector<std::uint8_t> submitBody = {0x00, 0x05, 0x00};  // service_type, TON, NPI
    for (const std::string field : {"VANTOR",
                                    "\x01\x01"
                                    "46701234567"}) {
        submitBody.insert(submitBody.end(), field.begin(), field.end());
        submitBody.push_back(0);
    }
    // esm_class, protocol_id, priority, two empty times, registered_delivery,
    // replace_if_present, data_coding, sm_default_msg_id, sm_length.
    for (const int octet : {0, 0, 0, 0, 0, 1, 0, 0, 0, 9}) {
        submitBody.push_back(static_cast<std::uint8_t>(octet));
    }
    const std::string text = "Disk full";
    submitBody.insert(submitBody.end(), text.begin(), text.end());
    EXPECT_EQ(pdus[1].body, submitBody);
    EXPECT_EQ(pdus[2].commandId, kUnbind);
    EXPECT_EQ(pdus[2].sequence, 2u);
    EXPECT_TRUE(pdus[2].body.empty());

    o.drain();
    EXPECT_EQ(o.disconnects, std::vector<int>{0});
    // The same relay connects again.
    ASSERT_EQ(o.connect(smsc), 0);
    EXPECT_EQ(o.bind(), 0);
    EXPECT_EQ(o.submit(&id), 0);
    EXPECT_EQ(o.relay.Unbind(), 0);
    o.relay.Disconnect();
    EXPECT_EQ(smsc.connections(), 2);
}

TEST(SmppRelaySession, DisconnectWhileBoundEndsQuietly) {
    FakeSmsc smsc;
    Owner o;
    ASSERT_EQ(o.connect(smsc), 0);
    ASSERT_EQ(o.bind(), 0);
    o.relay.Disconnect();
    EXPECT_EQ(o.relay.state(), TtcSMSCRelaySMPP::Disconnected);
    EXPECT_TRUE(smsc.waitForClose());
    o.drain();
    EXPECT_EQ(o.disconnects, std::vector<int>{0});
    EXPECT_EQ(o.relay.lastError(), "");
    EXPECT_EQ(smsc.count(kUnbind), 0);
}

TEST(SmppRelaySession, FailedSubmitLeavesNoMessageIdBehind) {
    std::atomic<int> submits{0};
    FakeSmsc smsc({}, [&](FakeSmsc&, const SmppPdu& pdu) {
        // The second submit_sm goes unanswered.
        return pdu.commandId == kSubmitSm && ++submits == 2;
    });
    Owner o(300);
    ASSERT_EQ(o.connect(smsc), 0);
    ASSERT_EQ(o.bind(), 0);
    std::string id;
    ASSERT_EQ(o.submit(&id), 0);
    EXPECT_EQ(id, "4F2A1");
    EXPECT_EQ(o.submit(&id), -1);
    EXPECT_EQ(id, "") << "the id of the earlier message";
    o.relay.Disconnect();
}

TEST(SmppRelaySession, LateAnswerIsNotTakenForTheNextRequest) {
    std::atomic<int> submits{0};
    FakeSmsc smsc({}, [&](FakeSmsc& s, const SmppPdu& pdu) {
        if (pdu.commandId != kSubmitSm) {
            return false;
        }
        // The first answer comes after the relay gave up on it, while the
        // second submit waits for its own.
        if (++submits == 1) {
            s.respondLater(pdu, 0, test::CString("first"), 450ms);
        } else {
            s.respondLater(pdu, 0, test::CString("second"), 400ms);
        }
        return true;
    });
    Owner o(300);
    ASSERT_EQ(o.connect(smsc), 0);
    ASSERT_EQ(o.bind(), 0);
    std::string id;
    EXPECT_EQ(o.submit(&id), -1);
    o.relay.SetResponseTimeOut(3000);
    EXPECT_EQ(o.submit(&id), 0);
    EXPECT_EQ(id, "second");
    o.relay.Disconnect();
}

TEST(SmppRelaySession, AnAnswerWithAnotherSequenceNumberStillAnswersTheWaitingRequest) {
    // Some SMSCs number their responses their own way; the waiting request
    // takes the next answer of its kind all the same.
    FakeSmsc smsc({}, [](FakeSmsc& s, const SmppPdu& pdu) {
        if (pdu.commandId != kSubmitSm) {
            return false;
        }
        SmppPdu answer;
        answer.commandId = kSubmitSm | 0x80000000u;
        answer.sequence = pdu.sequence + 1000;
        answer.body = test::CString("own-numbering");
        s.sendPdu(answer);
        return true;
    });
    Owner o;
    ASSERT_EQ(o.connect(smsc), 0);
    ASSERT_EQ(o.bind(), 0);
    std::string id;
    EXPECT_EQ(o.submit(&id), 0);
    EXPECT_EQ(id, "own-numbering");
    o.relay.Disconnect();
}

TEST(SmppRelaySession, SmscHangingUpAfterUnbindIsReportedOnce) {
    FakeSmsc smsc({}, [](FakeSmsc& s, const SmppPdu& pdu) {
        if (pdu.commandId != kUnbind) {
            return false;
        }
        s.respond(pdu, 0);
        s.dropConnection();
        return true;
    });
    for (int round = 0; round < 5; ++round) {
        Owner o;
        ASSERT_EQ(o.connect(smsc), 0);
        ASSERT_EQ(o.bind(), 0);
        EXPECT_EQ(o.relay.Unbind(), 0);
        EXPECT_NE(o.relay.state(), TtcSMSCRelaySMPP::Bound);
        o.relay.Disconnect();
        EXPECT_EQ(o.relay.state(), TtcSMSCRelaySMPP::Disconnected);
        o.drain(50ms);
        EXPECT_EQ(o.disconnects, std::vector<int>{0}) << "round " << round;
    }
}

TEST(SmppRelaySession, DisconnectReleasesAWaitingRequest) {
    SmscBehaviour b;
    b.answerSubmit = false;
    FakeSmsc smsc(b);
    Owner o(5000);
    ASSERT_EQ(o.connect(smsc), 0);
    ASSERT_EQ(o.bind(), 0);
    auto submit = std::async(std::launch::async, [&] { return o.submit(); });
    ASSERT_TRUE(smsc.waitForCount(kSubmitSm, 1));
    const auto start = Clock::now();
    o.relay.Disconnect();
    ASSERT_EQ(submit.wait_for(2s), std::future_status::ready);
    EXPECT_EQ(submit.get(), -2);
    EXPECT_LT(Since(start), 1000ms);
    o.drain();
    EXPECT_EQ(o.disconnects, std::vector<int>{0});
}

// ---------------------------------------------------------------------------
// enquire_link both ways

TEST(SmppRelayKeepAlive, IdleBoundLinkSendsEnquireLink) {
    FakeSmsc smsc;
    Owner o;
    o.relay.SetKeepAliveInterval(200);
    ASSERT_EQ(o.connect(smsc), 0);
    ASSERT_EQ(o.bind(), 0);
    const auto start = Clock::now();
    o.drain(1100ms);
    const int sent = smsc.count(kEnquireLink);
    const auto elapsed = Since(start);
    EXPECT_GE(sent, 3) << "in " << elapsed.count() << " ms";
    EXPECT_LE(sent, static_cast<int>(elapsed / 200ms) + 1);
    EXPECT_EQ(o.relay.state(), TtcSMSCRelaySMPP::Bound);
    EXPECT_TRUE(o.disconnects.empty());

    // Each one a request of its own.
    std::set<std::uint32_t> sequences;
    for (const SmppPdu& p : smsc.received()) {
        if (p.commandId == kEnquireLink) {
            EXPECT_TRUE(p.body.empty());
            sequences.insert(p.sequence);
        }
    }
    EXPECT_EQ(sequences.size(), static_cast<std::size_t>(smsc.count(kEnquireLink)));
    EXPECT_EQ(o.relay.Unbind(), 0);
    o.relay.Disconnect();
}

TEST(SmppRelayKeepAlive, OffMeansNoEnquireLink) {
    FakeSmsc smsc;
    Owner o;
    o.relay.setKeepAlive(false);
    o.relay.SetKeepAliveInterval(100);
    ASSERT_EQ(o.connect(smsc), 0);
    ASSERT_EQ(o.bind(), 0);
    o.drain(500ms);
    EXPECT_EQ(smsc.count(kEnquireLink), 0);
    o.relay.Disconnect();
}

TEST(SmppRelayKeepAlive, UnansweredEnquireLinkEndsTheLink) {
    SmscBehaviour b;
    b.answerEnquireLink = false;
    FakeSmsc smsc(b);
    Owner o(300);
    o.relay.SetKeepAliveInterval(200);
    ASSERT_EQ(o.connect(smsc), 0);
    ASSERT_EQ(o.bind(), 0);
    const auto start = Clock::now();
    ASSERT_TRUE(o.waitForDisconnect(3s));
    EXPECT_GE(Since(start), 450ms) << "an interval and a response time";
    EXPECT_EQ(o.disconnects, std::vector<int>{TtcSMSCRelaySMPP::kReasonNoKeepAliveAnswer});
    EXPECT_EQ(o.disconnects[0], -1);
    EXPECT_EQ(o.relay.state(), TtcSMSCRelaySMPP::Disconnected);
    EXPECT_NE(o.relay.lastError(), "");
    EXPECT_EQ(smsc.count(kEnquireLink), 1);
    // The socket is closed too, not just given up on.
    ASSERT_TRUE(smsc.waitForClose(2s));
    EXPECT_EQ(o.submit(), -2);

    // And the relay can start over.
    o.relay.setKeepAlive(false);
    ASSERT_EQ(o.connect(smsc), 0);
    EXPECT_EQ(o.bind(), 0);
    EXPECT_EQ(o.submit(), 0);
    o.relay.Disconnect();
    o.drain();
    EXPECT_EQ(o.disconnects, (std::vector<int>{-1, 0}));
}

TEST(SmppRelayKeepAlive, SmscEnquireLinkIsAnsweredWithItsSequence) {
    FakeSmsc smsc;
    Owner o;
    ASSERT_EQ(o.connect(smsc), 0);
    ASSERT_EQ(o.bind(), 0);
    ASSERT_TRUE(smsc.sendPdu({kEnquireLink, 0, 0x00123456, {}}));
    ASSERT_TRUE(RunUntil(
        o.loop, [&] { return smsc.count(kEnquireLinkResp) >= 1; }, 3s));
    ASSERT_TRUE(smsc.sendPdu({kEnquireLink, 0, 0x7FFFFFFF, {}}));
    ASSERT_TRUE(RunUntil(
        o.loop, [&] { return smsc.count(kEnquireLinkResp) >= 2; }, 3s));
    std::vector<SmppPdu> answers;
    for (const SmppPdu& p : smsc.received()) {
        if (p.commandId == kEnquireLinkResp) {
            answers.push_back(p);
        }
    }
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[0].sequence, 0x00123456u);
    EXPECT_EQ(answers[1].sequence, 0x7FFFFFFFu);
    for (const SmppPdu& p : answers) {
        EXPECT_EQ(p.status, 0u);
        EXPECT_TRUE(p.body.empty());
    }
    EXPECT_EQ(o.relay.state(), TtcSMSCRelaySMPP::Bound);
    o.relay.Disconnect();
}

TEST(SmppRelayKeepAlive, NeverOverlapsAnOutstandingRequest) {
    SmscBehaviour b;
    b.submitDelay = 700ms;
    FakeSmsc smsc(b);
    Owner o(3000);
    o.relay.SetKeepAliveInterval(200);
    ASSERT_EQ(o.connect(smsc), 0);
    ASSERT_EQ(o.bind(), 0);
    std::string id;
    const auto start = Clock::now();
    EXPECT_EQ(o.submit(&id), 0);
    EXPECT_GE(Since(start), 650ms);
    EXPECT_EQ(id, "4F2A1");
    // Keep-alive goes on afterwards, so it was running all along.
    EXPECT_TRUE(smsc.waitForCount(kEnquireLink, 1, 3s));

    const auto log = smsc.log();
    std::size_t submitAt = log.size(), respAt = log.size();
    for (std::size_t i = 0; i < log.size(); ++i) {
        if (log[i].direction == FakeSmsc::Direction::In && log[i].pdu.commandId == kSubmitSm) {
            submitAt = i;
        }
        if (log[i].direction == FakeSmsc::Direction::Out && log[i].pdu.commandId == kSubmitSmResp) {
            respAt = i;
        }
    }
    ASSERT_LT(submitAt, respAt);
    ASSERT_LT(respAt, log.size());
    for (std::size_t i = submitAt + 1; i < respAt; ++i) {
        EXPECT_FALSE(log[i].direction == FakeSmsc::Direction::In &&
                     log[i].pdu.commandId == kEnquireLink)
            << "enquire_link while submit_sm was outstanding";
    }
    o.relay.Disconnect();
}

// A keep-alive whose interval ran out while it waited for an unbind to be
// answered finds the link unbound and sends nothing.
TEST(SmppRelayKeepAlive, NothingFollowsTheUnbindResp) {
    FakeSmsc smsc({}, [](FakeSmsc& s, const SmppPdu& pdu) {
        if (pdu.commandId != kUnbind) {
            return false;
        }
        s.respondLater(pdu, 0, {}, 600ms);
        return true;
    });
    Owner o(3000);
    o.relay.SetKeepAliveInterval(100);
    ASSERT_EQ(o.connect(smsc), 0);
    ASSERT_EQ(o.bind(), 0);
    ASSERT_EQ(o.relay.Unbind(), 0);
    EXPECT_EQ(o.relay.state(), TtcSMSCRelaySMPP::Connected);
    o.drain(300ms);

    const auto log = smsc.log();
    std::size_t unbindRespAt = log.size();
    for (std::size_t i = 0; i < log.size(); ++i) {
        if (log[i].direction == FakeSmsc::Direction::Out && log[i].pdu.commandId == kUnbindResp) {
            unbindRespAt = i;
        }
    }
    ASSERT_LT(unbindRespAt, log.size());
    for (std::size_t i = unbindRespAt + 1; i < log.size(); ++i) {
        EXPECT_NE(log[i].pdu.commandId, kEnquireLink) << "enquire_link after unbind_resp";
    }
    o.relay.Disconnect();
}

// ---------------------------------------------------------------------------
// The link going wrong

TEST(SmppRelayLinkLoss, DropWhileWaitingFailsTheWaiter) {
    std::atomic<int> submits{0};
    FakeSmsc smsc({}, [&](FakeSmsc& s, const SmppPdu& pdu) {
        if (pdu.commandId != kSubmitSm) {
            return false;
        }
        if (++submits == 1) {
            s.respond(pdu, 0x45, test::CString(""));  // refused
        } else {
            s.dropConnection();
        }
        return true;
    });
    Owner o(3000);
    ASSERT_EQ(o.connect(smsc), 0);
    ASSERT_EQ(o.bind(), 0);
    EXPECT_EQ(o.submit(), 0x45);
    const auto start = Clock::now();
    EXPECT_EQ(o.submit(), -2) << "not the earlier status";
    EXPECT_LT(Since(start), 1000ms) << "no wait for the time-out";
    ASSERT_TRUE(o.waitForDisconnect());
    EXPECT_EQ(o.relay.state(), TtcSMSCRelaySMPP::Disconnected);
    EXPECT_NE(o.relay.lastError(), "");
    EXPECT_EQ(o.submit(), -2);
    o.relay.Disconnect();
    o.drain();
    EXPECT_EQ(o.disconnects.size(), 1u);
}

TEST(SmppRelayLinkLoss, DropDuringBindIsNotASuccess) {
    // The only earlier status is the 0 the relay starts with.
    FakeSmsc smsc({}, [](FakeSmsc& s, const SmppPdu& pdu) {
        if (pdu.commandId == kBindTransmitter) {
            s.dropConnection();
            return true;
        }
        return false;
    });
    Owner o(3000);
    ASSERT_EQ(o.connect(smsc), 0);
    EXPECT_EQ(o.bind(), -2);
    EXPECT_NE(o.relay.state(), TtcSMSCRelaySMPP::Bound);
    o.relay.Disconnect();
}

class SmppRelayBadLength : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(SmppRelayBadLength, EndsTheLink) {
    const std::uint32_t length = GetParam();
    FakeSmsc smsc({}, [length](FakeSmsc& s, const SmppPdu& pdu) {
        if (pdu.commandId != kSubmitSm) {
            return false;
        }
        // A header whose length cannot be a PDU, in place of the answer.
        std::vector<std::uint8_t> bad = test::EncodePdu(kSubmitSmResp, 0, pdu.sequence);
        bad[0] = static_cast<std::uint8_t>(length >> 24);
        bad[1] = static_cast<std::uint8_t>(length >> 16);
        bad[2] = static_cast<std::uint8_t>(length >> 8);
        bad[3] = static_cast<std::uint8_t>(length);
        s.send(bad);
        return true;
    });
    Owner o(3000);
    ASSERT_EQ(o.connect(smsc), 0);
    ASSERT_EQ(o.bind(), 0);
    const auto start = Clock::now();
    EXPECT_EQ(o.submit(), -2);
    EXPECT_LT(Since(start), 1000ms);
    ASSERT_TRUE(o.waitForDisconnect());
    EXPECT_EQ(o.disconnects, std::vector<int>{TtcSMSCRelaySMPP::kReasonBadPdu});
    EXPECT_EQ(o.disconnects[0], -4);
    EXPECT_EQ(o.relay.state(), TtcSMSCRelaySMPP::Disconnected);
    EXPECT_NE(o.relay.lastError(), "");
    EXPECT_TRUE(smsc.waitForClose(2s));
    o.relay.Disconnect();
}

INSTANTIATE_TEST_SUITE_P(Lengths, SmppRelayBadLength,
                         ::testing::Values(0u, 8u, 15u, 8193u, 0x10000u, 0xFFFFFFFFu));

TEST(SmppRelayLinkLoss, BadLengthWhileIdleEndsTheLink) {
    FakeSmsc smsc;
    Owner o;
    ASSERT_EQ(o.connect(smsc), 0);
    ASSERT_EQ(o.bind(), 0);
    std::vector<std::uint8_t> bad = test::EncodePdu(kEnquireLink, 0, 1);
    bad[3] = 4;  // command_length 4
    ASSERT_TRUE(smsc.send(bad));
    ASSERT_TRUE(o.waitForDisconnect());
    EXPECT_EQ(o.disconnects, std::vector<int>{-4});
    EXPECT_EQ(o.relay.state(), TtcSMSCRelaySMPP::Disconnected);
}

TEST(SmppRelayLinkLoss, PartialPduBehindUnbindRespDoesNotHoldUnbind) {
    SmscBehaviour b;
    // The first half of another header, and then silence.
    const auto next = test::EncodePdu(kEnquireLink, 0, 5);
    b.afterUnbindResp.assign(next.begin(), next.begin() + 8);
    FakeSmsc smsc(b);
    Owner o;
    ASSERT_EQ(o.connect(smsc), 0);
    ASSERT_EQ(o.bind(), 0);
    auto unbind = std::async(std::launch::async, [&] { return o.relay.Unbind(); });
    if (unbind.wait_for(3s) != std::future_status::ready) {
        ADD_FAILURE() << "Unbind hangs on the partial PDU";
        smsc.dropConnection();  // releases it
    }
    EXPECT_EQ(unbind.get(), 0);
    EXPECT_EQ(o.relay.state(), TtcSMSCRelaySMPP::Connected);
    o.relay.Disconnect();
}

TEST(SmppRelayLinkLoss, SmscClosingAnIdleLinkIsReported) {
    FakeSmsc smsc;
    Owner o;
    ASSERT_EQ(o.connect(smsc), 0);
    ASSERT_EQ(o.bind(), 0);
    smsc.dropConnection();
    ASSERT_TRUE(o.waitForDisconnect());
    EXPECT_EQ(o.relay.state(), TtcSMSCRelaySMPP::Disconnected);
    EXPECT_NE(o.relay.lastError(), "");
    o.relay.Disconnect();
    o.drain();
    EXPECT_EQ(o.disconnects.size(), 1u);
}

}  // namespace
}  // namespace vantor::smpp
