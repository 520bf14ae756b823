// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vantor::test {

// One SMPP PDU as the fake SMS centre reads or writes it.
struct SmppPdu {
    std::uint32_t commandId = 0;
    std::uint32_t status = 0;
    std::uint32_t sequence = 0;
    std::vector<std::uint8_t> body;

    // The NUL-terminated strings at the start of the body, in order (the
    // first fields of a bind or a submit_sm).
    std::vector<std::string> leadingStrings(std::size_t count) const;
};

// The wire form: header (length, id, status, sequence) and body.
std::vector<std::uint8_t> EncodePdu(std::uint32_t commandId, std::uint32_t status,
                                    std::uint32_t sequence,
                                    const std::vector<std::uint8_t>& body = {});
// A NUL-terminated C string as body octets.
std::vector<std::uint8_t> CString(const std::string& text);

// What the fake SMSC does with the requests it reads. The defaults answer
// every request with success.
struct SmscBehaviour {
    bool answerBind = true;
    bool nackBind = false;         // generic_nack instead of bind_resp
    std::string password;          // when not empty, another one gets 0x0E
    std::uint32_t bindStatus = 0;  // used when the password check passes
    std::uint32_t submitStatus = 0;
    std::string messageId = "4F2A1";  // submit_sm_resp message_id
    std::chrono::milliseconds submitDelay{0};
    bool answerSubmit = true;
    bool answerEnquireLink = true;
    bool answerUnbind = true;
    // Octets sent right behind the unbind_resp, in the same write.
    std::vector<std::uint8_t> afterUnbindResp;
};

// A scripted SMS centre on 127.0.0.1 (a free port). It serves one
// connection at a time on its own thread, records every PDU it reads and
// every PDU it writes (in one log, in order), and answers by its
// behaviour; a hook may take over any PDU before that.
class FakeSmsc {
public:
    enum class Direction { In, Out };
    struct Entry {
        Direction direction;
        SmppPdu pdu;
        std::chrono::steady_clock::time_point at;
    };
    // Returns true when it dealt with the PDU itself; runs on the server
    // thread.
    using Hook = std::function<bool(FakeSmsc&, const SmppPdu&)>;

    explicit FakeSmsc(SmscBehaviour behaviour = {}, Hook hook = {});
    ~FakeSmsc();
    FakeSmsc(const FakeSmsc&) = delete;
    FakeSmsc& operator=(const FakeSmsc&) = delete;

    int port() const { return m_port; }

    // Every PDU read, in order.
    std::vector<SmppPdu> received() const;
    std::vector<Entry> log() const;
    int count(std::uint32_t commandId) const;
    // Waits until `n` PDUs with this command_id were read.
    bool waitForCount(std::uint32_t commandId, int n,
                      std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
    // Waits until the peer has closed the current (or last) connection.
    bool waitForClose(std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
    int connections() const;
    int closes() const;

    // On the current connection; false when there is none or it failed.
    bool send(const std::vector<std::uint8_t>& octets);
    bool sendPdu(const SmppPdu& pdu);
    // A response to `request` with the given status and body.
    bool respond(const SmppPdu& request, std::uint32_t status,
                 const std::vector<std::uint8_t>& body = {});
    // The same, from a helper thread after `delay` (the server goes on
    // reading meanwhile).
    void respondLater(const SmppPdu& request, std::uint32_t status,
                      const std::vector<std::uint8_t>& body, std::chrono::milliseconds delay);
    // Ends the current connection from the SMSC's side.
    void dropConnection();

private:
    void serve();
    void handle(int fd);
    void answer(const SmppPdu& pdu);
    bool sleepFor(std::chrono::milliseconds delay) const;

    SmscBehaviour m_behaviour;
    Hook m_hook;
    int m_listenFd = -1;
    int m_wakeFd = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    int m_fd = -1;  // the current connection
    int m_connections = 0;
    int m_closes = 0;
    std::vector<Entry> m_log;
    std::list<std::thread> m_helpers;
};

// A TCP port on 127.0.0.1 where nothing listens: a socket is bound to it
// but never listens, so nothing else takes it while this object lives.
class RefusingPort final {
public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    int port() const { return m_port; }

private:
    int m_fd = -1;
    int m_port = 0;
};

// A listener on 127.0.0.1 whose accept queue is full and never served, so
// that a further connection attempt hangs in the handshake.
class StalledListener final {
public:
    StalledListener();
    ~StalledListener();
    StalledListener(const StalledListener&) = delete;
    StalledListener& operator=(const StalledListener&) = delete;
    int port() const { return m_port; }

private:
    int m_fd = -1;
    int m_port = 0;
    std::vector<int> m_fillers;
};

// Threads of this process now.
int ThreadCount();

}  // namespace vantor::test
