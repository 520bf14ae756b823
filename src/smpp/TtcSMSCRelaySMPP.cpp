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
    TtcTcpClient client;
    std::atomic<bool> stop{false};
    std::thread thread;
};

TtcSMSCRelaySMPP::TtcSMSCRelaySMPP(app::Poster* owner)
    : m_owner(owner), m_token(std::make_shared<Token>()) {
    m_token->relay = this;
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
    m_receiveThread = std::thread([this] { receiveLoop(m_client, true, m_stopReceive); });
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
    m_state = Connected;
    return 0;
}

int TtcSMSCRelaySMPP::sendAndWait(app::ManualResetEvent& event, bool keepAliveAnswer) {
    event.reset();
    if (m_linkLost || !m_client.Send(m_request.buffer().data(), m_request.buffer().size())) {
        return m_linkLost ? -2 : -1;
    }
    m_aliveIntervalEvent.set();
    if (!event.waitFor(std::chrono::milliseconds(m_responseTimeOut.load()))) {
        return -1;
    }
    // A waiter released because the link went down gets a failure, never
    // the status of an earlier response.
    if (m_linkLost) {
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

int TtcSMSCRelaySMPP::SubmitMessage(const std::string& destination, int destTon, int destNpi,
                                    const std::string& originator, int origTon, int origNpi,
                                    const std::string& text, TtcEncodingType encoding,
                                    const std::string& userDataHeader, unsigned options,
                                    std::string* messageId) {
    std::lock_guard lock(m_requestMutex);
    asyncSubmit = false;
    if (m_state != Bound) {
        return -2;
    }
    m_request.BuildSubmit(destination, destTon, destNpi, originator, origTon, origNpi, text,
                          encoding, userDataHeader, options, {}, {}, "", "", m_asciiFrontend);
    const int result = sendAndWait(m_responseEvent, false);
    if (messageId != nullptr) {
        std::lock_guard textLock(m_textMutex);
        *messageId = m_responseMessageId;
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
    m_client.Disconnect();
    {
        std::lock_guard lock(m_threadMutex);
        stopKeepAliveThread();
        if (m_receiveThread.joinable()) {
            m_receiveThread.join();
        }
    }
    m_client.Close();
    int expected = Connected;
    if (m_state.compare_exchange_strong(expected, Disconnected)) {
        notify([](TtcSMSCRelaySMPP& relay) {
            if (relay.OnDisconnected) {
                relay.OnDisconnected(0);
            }
        });
    }
}

void TtcSMSCRelaySMPP::linkLost(int reason, std::string why) {
    {
        std::lock_guard lock(m_textMutex);
        m_lastError = std::move(why);
    }
    m_linkLost = true;
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

void TtcSMSCRelaySMPP::receiveLoop(TtcTcpClient& client, bool own, const std::atomic<bool>& stop) {
    TtcSMSCMessageSMPP incoming;
    while (!stop) {
        if (client.BytesRead() > 0 || client.WaitForData(-1)) {
            if (stop) {
                break;
            }
            const Framing framing = incoming.ReadFromClient(client);
            if (framing == Framing::Framed) {
                dispatch(incoming, client);
                continue;
            }
            if (framing == Framing::Invalid) {
                // A length we cannot frame: the stream is out of step for
                // good, so the link ends rather than waits for ever.
                if (own) {
                    linkLost(kReasonBadPdu, "The SMSC sent a PDU whose length cannot be framed");
                } else {
                    client.Disconnect();
                }
                break;
            }
            if (client.ReadData() > 0) {
                continue;
            }
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

void TtcSMSCRelaySMPP::respond(TtcTcpClient& client, const TtcSMSCMessageSMPP& request) {
    TtcSMSCMessageSMPP response;
    response.BuildResponseTo(request);
    client.Send(response.buffer().data(), response.buffer().size());
}

void TtcSMSCRelaySMPP::dispatch(TtcSMSCMessageSMPP& pdu, TtcTcpClient& client) {
    switch (pdu.Kind()) {
        case Kind::SubmitResp:
            pdu.ParseSubmitResp();
            if (asyncSubmit) {
                const auto sequence = pdu.sequenceNumber();
                const auto status = pdu.status();
                const std::string id = pdu.messageId();
                notify([sequence, status, id](TtcSMSCRelaySMPP& relay) {
                    if (relay.OnSubmitMessageRespAsyncReceived) {
                        relay.OnSubmitMessageRespAsyncReceived(sequence, status, id);
                    }
                });
            } else {
                {
                    std::lock_guard lock(m_textMutex);
                    m_responseMessageId = pdu.messageId();
                }
                m_responseStatus = pdu.status();
                m_responseEvent.set();
            }
            break;
        case Kind::BindResp:
            pdu.ParseBindResp();
            m_responseStatus = pdu.status();
            m_responseEvent.set();
            break;
        case Kind::UnbindResp:
            pdu.ParseUnbindResp();
            m_responseStatus = pdu.status();
            m_responseEvent.set();
            break;
        case Kind::EnquireLinkResp:
            pdu.ParseEnquireLinkResp();
            m_keepAliveStatus = 0;
            m_keepAliveEvent.set();
            break;
        case Kind::GenericNack:
            pdu.ParseGenericNack();
            m_responseStatus = -3;
            m_keepAliveStatus = -3;
            m_responseEvent.set();
            m_keepAliveEvent.set();
            break;
        case Kind::IncomingEnquireLink: {
            // Answered on the owner thread, on the connection it came on.
            auto copy = std::make_shared<TtcSMSCMessageSMPP>(pdu);
            TtcTcpClient* from = &client;
            notify([copy, from](TtcSMSCRelaySMPP& relay) { relay.respond(*from, *copy); });
            break;
        }
        case Kind::IncomingMessage: {
            m_lastDeliverSequence = pdu.sequenceNumber();
            auto copy = std::make_shared<TtcSMSCMessageSMPP>(pdu);
            TtcTcpClient* from = &client;
            notify([copy, from](TtcSMSCRelaySMPP& relay) {
                const DeliverSm message = copy->ParseDeliver();
                const auto& handler =
                    message.isReceipt ? relay.OnStatusReportReceived : relay.OnMessageReceived;
                // Only a message someone took is acknowledged.
                if (handler) {
                    handler(message);
                    relay.respond(*from, *copy);
                }
            });
            break;
        }
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
        if (EnquireLink() == -1 && !m_stopKeepAlive) {
            m_stopReceive = true;
            m_stopKeepAlive = true;
            {
                std::lock_guard lock(m_textMutex);
                m_lastError = "The SMSC did not answer enquire_link";
            }
            m_linkLost = true;
            m_responseEvent.set();
            m_state = Disconnected;
            notify([](TtcSMSCRelaySMPP& relay) {
                if (relay.OnDisconnected) {
                    relay.OnDisconnected(kReasonNoKeepAliveAnswer);
                }
            });
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
        accepted->client.adopt(fd, host, ntohs(peer.sin_port));
        Accepted* raw = accepted.get();
        raw->thread = std::thread([this, raw] { receiveLoop(raw->client, false, raw->stop); });
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
        a->client.Disconnect();
        if (a->thread.joinable()) {
            a->thread.join();
        }
    }
}

}  // namespace vantor::smpp
