// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "app/ManualResetEvent.h"
#include "smpp/TtcSMSCMessageSMPP.h"
#include "smpp/TtcTcpClient.h"

namespace vantor::app {
class Poster;
}

namespace vantor::smpp {

// One SMPP link to an SMS centre: connect, bind, requests that wait for their
// response, keep-alive, unbind, disconnect; a receive thread that reads and
// dispatches the incoming PDUs; notifications handed to the owner thread
// through a poster (or, without one, handled on the receive thread).
//
// Result codes: 0 success; -1 no response within ResponseTimeOut; -2 not
// allowed in the current state, or the link was lost while waiting; -3 the
// SMSC answered generic_nack; a positive command_status from the SMSC; for
// Connect, the system's error number.
class TtcSMSCRelaySMPP final {
public:
    enum State { Disconnected = 0, Connected = 1, LinkStarted = 2, Bound = 3 };
    // OnDisconnected reasons besides 0 and socket errors.
    static constexpr int kReasonNoKeepAliveAnswer = -1;
    static constexpr int kReasonBadPdu = -4;

    explicit TtcSMSCRelaySMPP(app::Poster* owner = nullptr);
    ~TtcSMSCRelaySMPP();
    TtcSMSCRelaySMPP(const TtcSMSCRelaySMPP&) = delete;
    TtcSMSCRelaySMPP& operator=(const TtcSMSCRelaySMPP&) = delete;

    // Read when the link starts; changing it while the link is started but
    // not bound starts or stops the keep-alive thread at once.
    void setKeepAlive(bool on);
    bool keepAlive() const { return m_keepAlive; }
    void SetKeepAliveInterval(int ms) { m_keepAliveInterval = ms; }
    void SetResponseTimeOut(int ms) { m_responseTimeOut = ms; }
    int responseTimeOut() const { return m_responseTimeOut; }
    void setASCIIFrontend(bool on) { m_asciiFrontend = on; }
    // Writing sets the process-wide counter; reading gives the sequence
    // number of the last deliver_sm received.
    void SetSequenceNumber(std::uint32_t value);
    std::uint32_t SequenceNumber() const { return m_lastDeliverSequence; }

    int state() const { return m_state.load(); }
    // Why the link ended the last time: a text for the log.
    std::string lastError() const;

    int Connect(const std::string& host, int port);
    int Bind(const std::string& systemId, const std::string& password, int addrTon, int addrNpi,
             const std::string& systemType, int bindMode, int interfaceVersion,
             const std::string& addressRange);
    // The request goes out with this relay's ASCII front-end setting.
    int SubmitMessage(const SubmitRequest& request, std::string* messageId);
    int Unbind();
    void Disconnect();
    int EnquireLink();

    // Listening mode: PDUs of accepted connections go through the same
    // dispatch. Returns 0, -2 when already listening, or the socket error.
    int Listen(int port);
    void StopListening();
    int listeningPort() const { return m_listenPort; }

    // Notifications, run on the owner thread.
    std::function<void(int reason)> OnDisconnected;
    std::function<void(const DeliverSm&)> OnMessageReceived;
    std::function<void(const DeliverSm&)> OnStatusReportReceived;
    std::function<void(std::uint32_t sequence, std::int32_t status, const std::string& id)>
        OnSubmitMessageRespAsyncReceived;
    // When true a submit_sm_resp is a notification instead of the answer a
    // waiter gets; SubmitMessage clears it.
    std::atomic<bool> asyncSubmit{false};

private:
    struct Token;
    struct Accepted;

    int sendAndWait(app::ManualResetEvent& event, bool keepAliveAnswer);
    int startLink();
    int stopLink();
    void startKeepAliveThread();
    void stopKeepAliveThread();
    // accepted: the accepted connection (empty for the relay's own).
    void receiveLoop(TtcTcpClient& client, std::weak_ptr<TtcTcpClient> accepted,
                     const std::atomic<bool>& stop);
    void dispatch(TtcSMSCMessageSMPP& pdu, TtcTcpClient& client,
                  const std::weak_ptr<TtcTcpClient>& accepted);
    // What the SMSC sends of its own accord (and asynchronous submit
    // answers): handed to the owner thread. False for a response to a
    // request of ours.
    bool dispatchUnsolicited(TtcSMSCMessageSMPP& pdu, bool own,
                             const std::weak_ptr<TtcTcpClient>& accepted);
    // A response: it answers the caller's or the keep-alive's request.
    void dispatchResponse(TtcSMSCMessageSMPP& pdu);
    // Answers on the connection a request came on: the own one, or an
    // accepted one while it is still there.
    void respondOn(bool own, const std::weak_ptr<TtcTcpClient>& accepted,
                   const TtcSMSCMessageSMPP& request);
    void linkLost(int reason, std::string why);
    void keepAliveLoop();
    void serverLoop();
    void notify(std::function<void(TtcSMSCRelaySMPP&)> action);
    void respond(TtcTcpClient& client, const TtcSMSCMessageSMPP& request);

    app::Poster* m_owner;
    std::shared_ptr<Token> m_token;

    TtcTcpClient m_client;
    TtcSMSCMessageSMPP m_request;
    std::mutex m_requestMutex;  // one request of this relay in flight at a time
    std::atomic<int> m_state{Disconnected};

    app::ManualResetEvent m_responseEvent{true};
    app::ManualResetEvent m_keepAliveEvent{true};
    app::ManualResetEvent m_aliveIntervalEvent{false};
    std::atomic<std::int32_t> m_responseStatus{0};
    std::atomic<std::int32_t> m_keepAliveStatus{0};
    // The sequence numbers the two waiters expect an answer to, so that a
    // late answer to a request that timed out is not taken for the next.
    static constexpr std::uint32_t kNoRequest = 0xFFFFFFFF;
    std::atomic<std::uint32_t> m_responseSequence{kNoRequest};
    std::atomic<std::uint32_t> m_keepAliveSequence{kNoRequest};
    // The last requests that timed out, whose answers are no longer wanted.
    std::array<std::uint32_t, 16> m_stale{};
    std::size_t m_staleNext = 0;
    // Orders taking an answer against a waiter starting its next request.
    std::mutex m_answerMutex;
    std::atomic<bool> m_linkLost{false};
    mutable std::mutex m_textMutex;
    std::string m_responseMessageId;
    std::string m_lastError;
    std::atomic<std::uint32_t> m_lastDeliverSequence{0};

    std::thread m_receiveThread;
    std::atomic<bool> m_stopReceive{false};
    std::thread m_keepAliveThread;
    std::atomic<bool> m_stopKeepAlive{false};
    std::mutex m_threadMutex;  // starting and stopping the two threads

    std::atomic<bool> m_keepAlive{true};
    std::atomic<int> m_keepAliveInterval{10000};
    std::atomic<int> m_responseTimeOut{10000};
    std::atomic<bool> m_asciiFrontend{true};

    int m_listenFd = -1;
    int m_listenCancelFd = -1;
    int m_listenPort = 0;
    std::thread m_serverThread;
    std::atomic<bool> m_stopServer{false};
    std::mutex m_acceptedMutex;
    std::list<std::unique_ptr<Accepted>> m_accepted;
};

}  // namespace vantor::smpp
