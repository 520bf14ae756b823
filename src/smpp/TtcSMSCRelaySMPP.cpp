// SPDX-License-Identifier: GPL-3.0-or-later
#include "smpp/TtcSMSCRelaySMPP.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app/Poster.h"

namespace vantor::smpp {

// Lets notifications posted to the owner thread find the relay, or find it
// gone.
struct TtcSMSCRelaySMPP::Token {
    std::mutex mutex;
    TtcSMSCRelaySMPP* relay = nullptr;
};

// A connection accepted in listening mode, with its own receive thread.
struct TtcSMSCRelaySMPP::Accepted {
    // Shared with the answers posted to the owner thread, which may run
    // after the connection was let go.
    std::shared_ptr<TtcTcpClient> client = std::make_shared<TtcTcpClient>();
    std::atomic<bool> stop{false};
    std::thread thread;
};

TtcSMSCRelaySMPP::TtcSMSCRelaySMPP(app::Poster* owner)
    : m_owner(owner), m_token(std::make_shared<Token>()) {
    m_token->relay = this;
    m_stale.fill(kNoRequest);
}

TtcSMSCRelaySMPP::~TtcSMSCRelaySMPP() {
    {
        std::lock_guard lock(m_token->mutex);
        m_token->relay = nullptr;
    }
    StopListening();
    m_stopReceive = true;
    m_client.Disconnect();
    stopKeepAliveThread();
    if (m_receiveThread.joinable()) {
        m_receiveThread.join();
    }
    m_responseEvent.set();
    m_client.Close();
}

void TtcSMSCRelaySMPP::SetSequenceNumber(std::uint32_t value) {
    TtcSMSCMessageSMPP::SetSequenceNumber(value);
}

std::string TtcSMSCRelaySMPP::lastError() const {
    std::lock_guard lock(m_textMutex);
    return m_lastError;
}

void TtcSMSCRelaySMPP::notify(std::function<void(TtcSMSCRelaySMPP&)> action) {
    if (m_owner == nullptr) {
        action(*this);
        return;
    }
    m_owner->post([token = m_token, action = std::move(action)] {
        std::lock_guard lock(token->mutex);
        if (token->relay != nullptr) {
            action(*token->relay);
        }
    });
}

int TtcSMSCRelaySMPP::Connect(const std::string& host, int port) {
    if (m_state != Disconnected) {
        return -2;
    }
    // A relay used again starts from a clean receive buffer and no thread.
    if (m_receiveThread.joinable()) {
        m_receiveThread.join();
    }
    stopKeepAliveThread();
    const int err = m_client.Connect(host, std::to_string(port), m_responseTimeOut);
    if (err != 0) {
        return err;
    }
    m_linkLost = false;
    m_state = Connected;
    return 0;
}

int TtcSMSCRelaySMPP::startLink() {
    if (m_state != Connected) {
        return -2;
    }
    std::lock_guard lock(m_threadMutex);
    if (m_receiveThread.joinable()) {
        m_receiveThread.join();
    }
    m_stopReceive = false;
    m_client.ResetCancel();
    m_receiveThread = std::thread([this] { receiveLoop(m_client, {}, m_stopReceive); });
    if (m_keepAlive) {
        startKeepAliveThread();
    }
    m_state = LinkStarted;
    return 0;
}

void TtcSMSCRelaySMPP::startKeepAliveThread() {
    if (m_keepAliveThread.joinable()) {
        return;
    }
    m_stopKeepAlive = false;
    m_keepAliveThread = std::thread([this] { keepAliveLoop(); });
}

void TtcSMSCRelaySMPP::stopKeepAliveThread() {
    m_stopKeepAlive = true;
    m_aliveIntervalEvent.set();
    m_keepAliveEvent.set();
    if (m_keepAliveThread.joinable() && m_keepAliveThread.get_id() != std::this_thread::get_id()) {
        m_keepAliveThread.join();
    }
}

void TtcSMSCRelaySMPP::setKeepAlive(bool on) {
    m_keepAlive = on;
    if (m_state == LinkStarted) {
        std::lock_guard lock(m_threadMutex);
        if (on) {
            startKeepAliveThread();
        } else {
            stopKeepAliveThread();
        }
    }
}

int TtcSMSCRelaySMPP::stopLink() {
    if (m_state != Bound) {
        return -2;
    }
    std::lock_guard lock(m_threadMutex);
    stopKeepAliveThread();
    m_stopReceive = true;
    m_client.CancelBlocking();
    if (m_receiveThread.joinable()) {
        m_receiveThread.join();
    }
    m_client.ResetCancel();
    // A link lost meanwhile (an SMSC that hangs up after unbind_resp) stays
    // Disconnected.
    int expected = Bound;
    m_state.compare_exchange_strong(expected, Connected);
    return 0;
}

int TtcSMSCRelaySMPP::sendAndWait(app::ManualResetEvent& event, bool keepAliveAnswer) {
    std::atomic<std::uint32_t>& expected =
        keepAliveAnswer ? m_keepAliveSequence : m_responseSequence;
    {
        std::lock_guard lock(m_answerMutex);
        expected = m_request.sequenceNumber();
        event.reset();
    }
    if (m_linkLost || !m_client.Send(m_request.buffer().data(), m_request.buffer().size())) {
        return m_linkLost ? -2 : -1;
    }
    m_aliveIntervalEvent.set();
    if (!event.waitFor(std::chrono::milliseconds(m_responseTimeOut.load()))) {
        // Should its answer still come, it must not pass for the answer to
        // a later request.
        std::lock_guard lock(m_answerMutex);
        m_stale[m_staleNext++ % m_stale.size()] = expected.load();
        expected = kNoRequest;
        return -1;
    }
    // The answer's status when one came (dispatch then clears the expected
    // number), even if the link ended right behind it; a waiter released
    // because the link went down or the relay stops gets a failure, never
    // the status of an earlier response.
    std::lock_guard lock(m_answerMutex);
    if (expected != kNoRequest) {
        return -2;
    }
    return keepAliveAnswer ? m_keepAliveStatus.load() : m_responseStatus.load();
}

int TtcSMSCRelaySMPP::Bind(const std::string& systemId, const std::string& password, int addrTon,
                           int addrNpi, const std::string& systemType, int bindMode,
                           int interfaceVersion, const std::string& addressRange) {
    startLink();
    if (m_state != LinkStarted) {
        return -2;
    }
    std::lock_guard lock(m_requestMutex);
    m_request.BuildBind(systemId, password, addrTon, addrNpi, systemType, bindMode,
                        interfaceVersion, addressRange);
    const int result = sendAndWait(m_responseEvent, false);
    if (result == 0) {
        int expected = LinkStarted;
        m_state.compare_exchange_strong(expected, Bound);
    }
    return result;
}

int TtcSMSCRelaySMPP::SubmitMessage(const SubmitRequest& request, std::string* messageId) {
    std::lock_guard lock(m_requestMutex);
    asyncSubmit = false;
    if (m_state != Bound) {
        return -2;
    }
    SubmitRequest submit = request;
    submit.asciiFrontend = m_asciiFrontend;
    m_request.BuildSubmit(submit);
    const int result = sendAndWait(m_responseEvent, false);
    if (messageId != nullptr) {
        // A failed submit has no id; never hand on the one of an earlier
        // message.
        std::lock_guard textLock(m_textMutex);
        *messageId = result == 0 ? m_responseMessageId : std::string();
    }
    return result;
}

int TtcSMSCRelaySMPP::Unbind() {
    if (m_state != Bound) {
        return 0;
    }
    int result;
    {
        std::lock_guard lock(m_requestMutex);
        m_request.BuildUnbind();
        result = sendAndWait(m_responseEvent, false);
        if (result == 0) {
            // Before the lock goes: a keep-alive waiting for it must find
            // itself asked to end, not send after the unbind_resp.
            m_stopKeepAlive = true;
        }
    }
    if (result != 0) {
        return result;
    }
    stopLink();
    return 0;
}

int TtcSMSCRelaySMPP::EnquireLink() {
    std::lock_guard lock(m_requestMutex);
    m_request.BuildEnquireLink();
    return sendAndWait(m_keepAliveEvent, true);
}

void TtcSMSCRelaySMPP::Disconnect() {
    // Ended on purpose: the threads stop without reporting a lost link, and
    // a request still waiting gets -2 at once.
    m_linkLost = true;
    {
        std::lock_guard lock(m_threadMutex);
        m_stopReceive = true;
        m_client.Disconnect();
        m_responseEvent.set();
        stopKeepAliveThread();
        if (m_receiveThread.joinable()) {
            m_receiveThread.join();
        }
    }
    m_client.Close();
    // From whatever state the link was in, unless it was lost (and
    // reported) before.
    if (m_state.exchange(Disconnected) != Disconnected) {
        notify([](TtcSMSCRelaySMPP& relay) {
            if (relay.OnDisconnected) {
                relay.OnDisconnected(0);
            }
        });
    }
}

void TtcSMSCRelaySMPP::linkLost(int reason, std::string why) {
    // The receive and keep-alive threads may both see the end; it is
    // reported once, and not at all after a Disconnect.
    if (m_linkLost.exchange(true)) {
        return;
    }
    {
        std::lock_guard lock(m_textMutex);
        m_lastError = std::move(why);
    }
    m_client.Disconnect();
    m_stopKeepAlive = true;
    m_responseEvent.set();
    m_keepAliveEvent.set();
    m_aliveIntervalEvent.set();
    m_state = Disconnected;
    notify([reason](TtcSMSCRelaySMPP& relay) {
        if (relay.OnDisconnected) {
            relay.OnDisconnected(reason);
        }
    });
}

void TtcSMSCRelaySMPP::receiveLoop(TtcTcpClient& client, std::weak_ptr<TtcTcpClient> accepted,
                                   const std::atomic<bool>& stop) {
    const bool own = &client == &m_client;
    TtcSMSCMessageSMPP incoming;
    while (!stop) {
        const Framing framing =
            client.BytesRead() > 0 ? incoming.ReadFromClient(client) : Framing::NeedMore;
        if (framing == Framing::Framed) {
            dispatch(incoming, client, accepted);
            continue;
        }
        if (framing == Framing::Invalid) {
            // A length we cannot frame: the stream is out of step for good,
            // so the link ends rather than waits for ever.
            if (own) {
                linkLost(kReasonBadPdu, "The SMSC sent a PDU whose length cannot be framed");
            } else {
                client.Disconnect();
            }
            break;
        }
        // More octets are needed. The wait comes first, also with part of a
        // PDU in the buffer, because only the wait can be cancelled.
        if (client.WaitForData(-1) && !stop && client.ReadData() > 0) {
            continue;
        }
        if (stop) {
            break;
        }
        // The connection was closed or failed.
        if (own) {
            const int err = client.lastError();
            linkLost(err, err != 0 ? std::string("The connection to the SMSC was lost: ") +
                                         std::strerror(err)
                                   : "The SMSC closed the connection");
        } else {
            client.Disconnect();
        }
        break;
    }
}

void TtcSMSCRelaySMPP::respondOn(bool own, const std::weak_ptr<TtcTcpClient>& accepted,
                                 const TtcSMSCMessageSMPP& request) {
    if (own) {
        respond(m_client, request);
        return;
    }
    if (const std::shared_ptr<TtcTcpClient> client = accepted.lock()) {
        respond(*client, request);
    }
}

void TtcSMSCRelaySMPP::respond(TtcTcpClient& client, const TtcSMSCMessageSMPP& request) {
    TtcSMSCMessageSMPP response;
    response.BuildResponseTo(request);
    client.Send(response.buffer().data(), response.buffer().size());
}

void TtcSMSCRelaySMPP::dispatch(TtcSMSCMessageSMPP& pdu, TtcTcpClient& client,
                                const std::weak_ptr<TtcTcpClient>& accepted) {
    if (!dispatchUnsolicited(pdu, &client == &m_client, accepted)) {
        dispatchResponse(pdu);
    }
}

bool TtcSMSCRelaySMPP::dispatchUnsolicited(TtcSMSCMessageSMPP& pdu, bool own,
                                           const std::weak_ptr<TtcTcpClient>& accepted) {
    const int kind = pdu.Kind();
    if (kind == Kind::SubmitResp && asyncSubmit) {
        pdu.ParseSubmitResp();
        const auto sequence = pdu.sequenceNumber();
        const auto status = pdu.status();
        const std::string id = pdu.messageId();
        notify([sequence, status, id](TtcSMSCRelaySMPP& relay) {
            if (relay.OnSubmitMessageRespAsyncReceived) {
                relay.OnSubmitMessageRespAsyncReceived(sequence, status, id);
            }
        });
        return true;
    }
    if (kind == Kind::IncomingEnquireLink) {
        // Answered on the owner thread, on the connection it came on.
        auto copy = std::make_shared<TtcSMSCMessageSMPP>(pdu);
        notify([copy, own, accepted](TtcSMSCRelaySMPP& relay) {
            relay.respondOn(own, accepted, *copy);
        });
        return true;
    }
    if (kind == Kind::IncomingMessage) {
        m_lastDeliverSequence = pdu.sequenceNumber();
        auto copy = std::make_shared<TtcSMSCMessageSMPP>(pdu);
        notify([copy, own, accepted](TtcSMSCRelaySMPP& relay) {
            const DeliverSm message = copy->ParseDeliver();
            const auto& handler =
                message.isReceipt ? relay.OnStatusReportReceived : relay.OnMessageReceived;
            // Only a message someone took is acknowledged.
            if (handler) {
                handler(message);
                relay.respondOn(own, accepted, *copy);
            }
        });
        return true;
    }
    return false;
}

void TtcSMSCRelaySMPP::dispatchResponse(TtcSMSCMessageSMPP& pdu) {
    const int kind = pdu.Kind();
    // A response counts for the waiter whose request it answers: a late
    // answer to a request that timed out is not taken for the next one. The
    // lock keeps a waiter from starting its next request in between.
    std::lock_guard answerLock(m_answerMutex);
    // SMSCs are known to answer with a sequence number of their own; such
    // an answer still answers the request that waits, unless it is the late
    // answer of a request that timed out.
    const std::uint32_t sequence = pdu.sequenceNumber();
    bool forCaller = false;
    bool forKeepAlive = false;
    {
        // m_answerMutex is held (answerLock above).
        bool stale = false;
        for (std::uint32_t s : m_stale) {
            stale = stale || s == sequence;
        }
        const std::uint32_t caller = m_responseSequence;
        const std::uint32_t keepAlive = m_keepAliveSequence;
        forCaller = caller != kNoRequest && (sequence == caller || !stale);
        forKeepAlive = keepAlive != kNoRequest && (sequence == keepAlive || !stale);
    }
    auto answerCaller = [this](std::int32_t status) {
        m_responseStatus = status;
        m_responseSequence = kNoRequest;  // answered
        m_responseEvent.set();
    };
    auto answerKeepAlive = [this](std::int32_t status) {
        m_keepAliveStatus = status;
        m_keepAliveSequence = kNoRequest;
        m_keepAliveEvent.set();
    };
    switch (kind) {
        case Kind::SubmitResp:
            pdu.ParseSubmitResp();
            if (forCaller) {
                {
                    std::lock_guard lock(m_textMutex);
                    m_responseMessageId = pdu.messageId();
                }
                answerCaller(pdu.status());
            }
            break;
        case Kind::BindResp:
            pdu.ParseBindResp();
            if (forCaller) {
                answerCaller(pdu.status());
            }
            break;
        case Kind::UnbindResp:
            pdu.ParseUnbindResp();
            if (forCaller) {
                answerCaller(pdu.status());
            }
            break;
        case Kind::EnquireLinkResp:
            pdu.ParseEnquireLinkResp();
            if (forKeepAlive) {
                answerKeepAlive(0);
            }
            break;
        case Kind::GenericNack:
            // A nack the SMSC could not tie to a request (it may not have
            // read the sequence number) fails whatever is outstanding.
            pdu.ParseGenericNack();
            if (forCaller || !forKeepAlive) {
                answerCaller(-3);
            }
            if (forKeepAlive || !forCaller) {
                answerKeepAlive(-3);
            }
            break;
        default:
            break;
    }
}

void TtcSMSCRelaySMPP::keepAliveLoop() {
    while (!m_stopKeepAlive) {
        m_aliveIntervalEvent.reset();
        if (m_aliveIntervalEvent.waitFor(std::chrono::milliseconds(m_keepAliveInterval.load()))) {
            continue;  // a request went out: the link is not idle
        }
        if (m_stopKeepAlive) {
            break;
        }
        int result;
        {
            std::lock_guard lock(m_requestMutex);
            // The wait for the lock may have outlasted the link: after an
            // unbind or the link's end there is nothing to keep alive.
            const int state = m_state;
            if (m_stopKeepAlive || (state != LinkStarted && state != Bound)) {
                break;
            }
            m_request.BuildEnquireLink();
            result = sendAndWait(m_keepAliveEvent, true);
        }
        if (result == -1 && !m_stopKeepAlive) {
            // The socket goes down with the link: the SMSC sees it end, and
            // the receive thread wakes and stops (a later Connect joins it).
            m_stopReceive = true;
            linkLost(kReasonNoKeepAliveAnswer, "The SMSC did not answer enquire_link");
            break;
        }
    }
}

int TtcSMSCRelaySMPP::Listen(int port) {
    if (m_serverThread.joinable()) {
        return -2;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return errno;
    }
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 5) != 0) {
        const int err = errno;
        ::close(fd);
        return err;
    }
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    m_listenPort = ntohs(addr.sin_port);
    m_listenFd = fd;
    m_listenCancelFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_stopServer = false;
    m_serverThread = std::thread([this] { serverLoop(); });
    return 0;
}

void TtcSMSCRelaySMPP::serverLoop() {
    while (!m_stopServer) {
        pollfd p[2] = {{m_listenFd, POLLIN, 0}, {m_listenCancelFd, POLLIN, 0}};
        if (::poll(p, 2, -1) < 0 && errno != EINTR) {
            break;
        }
        if (m_stopServer || (p[1].revents & POLLIN)) {
            break;
        }
        if (!(p[0].revents & POLLIN)) {
            continue;
        }
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        const int fd = ::accept4(m_listenFd, reinterpret_cast<sockaddr*>(&peer), &len,
                                 SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            continue;
        }
        char host[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &peer.sin_addr, host, sizeof host);
        auto accepted = std::make_unique<Accepted>();
        accepted->client->adopt(fd, host, ntohs(peer.sin_port));
        Accepted* raw = accepted.get();
        raw->thread = std::thread([this, raw] {
            receiveLoop(*raw->client, std::weak_ptr<TtcTcpClient>(raw->client), raw->stop);
        });
        std::lock_guard lock(m_acceptedMutex);
        m_accepted.push_back(std::move(accepted));
    }
}

void TtcSMSCRelaySMPP::StopListening() {
    if (!m_serverThread.joinable()) {
        return;
    }
    m_stopServer = true;
    const std::uint64_t one = 1;
    (void)!::write(m_listenCancelFd, &one, sizeof one);
    m_serverThread.join();
    ::close(m_listenFd);
    ::close(m_listenCancelFd);
    m_listenFd = -1;
    m_listenCancelFd = -1;
    std::list<std::unique_ptr<Accepted>> accepted;
    {
        std::lock_guard lock(m_acceptedMutex);
        accepted.swap(m_accepted);
    }
    for (auto& a : accepted) {
        a->stop = true;
        a->client->Disconnect();
        if (a->thread.joinable()) {
            a->thread.join();
        }
    }
}

}  // namespace vantor::smpp
