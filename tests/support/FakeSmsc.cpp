// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/FakeSmsc.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace vantor::test {

namespace {

constexpr std::uint32_t kBindReceiver = 0x00000001;
constexpr std::uint32_t kBindTransmitter = 0x00000002;
constexpr std::uint32_t kBindTransceiver = 0x00000009;
constexpr std::uint32_t kSubmitSm = 0x00000004;
constexpr std::uint32_t kUnbind = 0x00000006;
constexpr std::uint32_t kEnquireLink = 0x00000015;
constexpr std::uint32_t kResponse = 0x80000000;
constexpr std::uint32_t kGenericNack = 0x80000000;
constexpr std::uint32_t kStatusInvalidPassword = 0x0000000E;
constexpr std::uint32_t kStatusInvalidCommand = 0x00000003;

std::uint32_t Read32(const std::uint8_t* p) {
    return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
           (static_cast<std::uint32_t>(p[2]) << 8) | p[3];
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v >> 24));
    out.push_back(static_cast<std::uint8_t>(v >> 16));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}

bool SendAll(int fd, const std::vector<std::uint8_t>& octets) {
    std::size_t sent = 0;
    while (sent < octets.size()) {
        const ssize_t n = ::send(fd, octets.data() + sent, octets.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

// A TCP socket bound to 127.0.0.1 on a free port.
int BoundLoopbackSocket(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        throw std::runtime_error("socket failed");
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ::close(fd);
        throw std::runtime_error("bind on 127.0.0.1 failed");
    }
    port = ntohs(addr.sin_port);
    return fd;
}

}  // namespace

std::vector<std::string> SmppPdu::leadingStrings(std::size_t count) const {
    std::vector<std::string> out;
    std::size_t pos = 0;
    while (out.size() < count && pos < body.size()) {
        std::string s;
        while (pos < body.size() && body[pos] != 0) {
            s += static_cast<char>(body[pos++]);
        }
        ++pos;
        out.push_back(std::move(s));
    }
    return out;
}

std::vector<std::uint8_t> EncodePdu(std::uint32_t commandId, std::uint32_t status,
                                    std::uint32_t sequence, const std::vector<std::uint8_t>& body) {
    std::vector<std::uint8_t> out;
    Put32(out, static_cast<std::uint32_t>(16 + body.size()));
    Put32(out, commandId);
    Put32(out, status);
    Put32(out, sequence);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

std::vector<std::uint8_t> CString(const std::string& text) {
    std::vector<std::uint8_t> out(text.begin(), text.end());
    out.push_back(0);
    return out;
}

FakeSmsc::FakeSmsc(SmscBehaviour behaviour, Hook hook)
    : m_behaviour(std::move(behaviour)), m_hook(std::move(hook)) {
    m_listenFd = BoundLoopbackSocket(m_port);
    if (::listen(m_listenFd, 4) != 0) {
        ::close(m_listenFd);
        throw std::runtime_error("listen failed");
    }
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_thread = std::thread([this] { serve(); });
}

FakeSmsc::~FakeSmsc() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    const std::uint64_t one = 1;
    (void)!::write(m_wakeFd, &one, sizeof one);
    m_thread.join();
    std::list<std::thread> helpers;
    {
        std::lock_guard lock(m_mutex);
        helpers.swap(m_helpers);
    }
    for (auto& t : helpers) {
        t.join();
    }
    ::close(m_listenFd);
    ::close(m_wakeFd);
}

void FakeSmsc::serve() {
    while (!m_stop) {
        pollfd p[2] = {{m_listenFd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        if (::poll(p, 2, -1) < 0 && errno != EINTR) {
            return;
        }
        if (m_stop || (p[1].revents & POLLIN) != 0) {
            return;
        }
        if ((p[0].revents & POLLIN) == 0) {
            continue;
        }
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            handle(fd);
        }
    }
}

void FakeSmsc::handle(int fd) {
    {
        std::lock_guard lock(m_mutex);
        m_fd = fd;
        ++m_connections;
    }
    m_changed.notify_all();
    std::vector<std::uint8_t> buffer;
    bool open = true;
    while (open && !m_stop) {
        pollfd p[2] = {{fd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        if (::poll(p, 2, -1) < 0 && errno != EINTR) {
            break;
        }
        if (m_stop || (p[1].revents & POLLIN) != 0) {
            break;
        }
        if ((p[0].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
            continue;
        }
        std::uint8_t chunk[4096];
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        buffer.insert(buffer.end(), chunk, chunk + n);
        while (buffer.size() >= 16) {
            const std::uint32_t length = Read32(buffer.data());
            if (length < 16 || length > 65536) {
                open = false;  // a client out of step: hang up
                break;
            }
            if (buffer.size() < length) {
                break;
            }
            SmppPdu pdu;
            pdu.commandId = Read32(buffer.data() + 4);
            pdu.status = Read32(buffer.data() + 8);
            pdu.sequence = Read32(buffer.data() + 12);
            pdu.body.assign(buffer.begin() + 16, buffer.begin() + length);
            buffer.erase(buffer.begin(), buffer.begin() + length);
            {
                std::lock_guard lock(m_mutex);
                m_log.push_back({Direction::In, pdu, std::chrono::steady_clock::now()});
            }
            m_changed.notify_all();
            answer(pdu);
        }
    }
    {
        std::lock_guard lock(m_mutex);
        m_fd = -1;
        ++m_closes;
        ::close(fd);
    }
    m_changed.notify_all();
}

void FakeSmsc::answer(const SmppPdu& pdu) {
    if (m_hook && m_hook(*this, pdu)) {
        return;
    }
    switch (pdu.commandId) {
        case kBindReceiver:
        case kBindTransmitter:
        case kBindTransceiver: {
            if (!m_behaviour.answerBind) {
                return;
            }
            if (m_behaviour.nackBind) {
                sendPdu({kGenericNack, kStatusInvalidCommand, pdu.sequence, {}});
                return;
            }
            const auto fields = pdu.leadingStrings(2);
            const bool passwordOk = m_behaviour.password.empty() ||
                                    (fields.size() == 2 && fields[1] == m_behaviour.password);
            respond(pdu, passwordOk ? m_behaviour.bindStatus : kStatusInvalidPassword,
                    CString("FAKESMSC"));
            return;
        }
        case kSubmitSm:
            if (!m_behaviour.answerSubmit) {
                return;
            }
            if (m_behaviour.submitDelay.count() > 0) {
                respondLater(pdu, m_behaviour.submitStatus, CString(m_behaviour.messageId),
                             m_behaviour.submitDelay);
            } else {
                respond(pdu, m_behaviour.submitStatus, CString(m_behaviour.messageId));
            }
            return;
        case kUnbind: {
            if (!m_behaviour.answerUnbind) {
                return;
            }
            const SmppPdu resp{kUnbind | kResponse, 0, pdu.sequence, {}};
            std::vector<std::uint8_t> octets = EncodePdu(resp.commandId, 0, resp.sequence);
            octets.insert(octets.end(), m_behaviour.afterUnbindResp.begin(),
                          m_behaviour.afterUnbindResp.end());
            std::lock_guard lock(m_mutex);
            m_log.push_back({Direction::Out, resp, std::chrono::steady_clock::now()});
            if (m_fd >= 0) {
                SendAll(m_fd, octets);
            }
            return;
        }
        case kEnquireLink:
            if (m_behaviour.answerEnquireLink) {
                respond(pdu, 0);
            }
            return;
        default:
            return;  // responses to what the SMSC sent
    }
}

bool FakeSmsc::send(const std::vector<std::uint8_t>& octets) {
    std::lock_guard lock(m_mutex);
    return m_fd >= 0 && SendAll(m_fd, octets);
}

bool FakeSmsc::sendPdu(const SmppPdu& pdu) {
    std::lock_guard lock(m_mutex);
    if (m_fd < 0) {
        return false;
    }
    // Logged before it goes out, so that whatever the peer sends in return
    // stands after it in the log.
    m_log.push_back({Direction::Out, pdu, std::chrono::steady_clock::now()});
    return SendAll(m_fd, EncodePdu(pdu.commandId, pdu.status, pdu.sequence, pdu.body));
}

bool FakeSmsc::respond(const SmppPdu& request, std::uint32_t status,
                       const std::vector<std::uint8_t>& body) {
    return sendPdu({request.commandId | kResponse, status, request.sequence, body});
}

void FakeSmsc::respondLater(const SmppPdu& request, std::uint32_t status,
                            const std::vector<std::uint8_t>& body,
                            std::chrono::milliseconds delay) {
    std::lock_guard lock(m_mutex);
    const int connection = m_connections;
    m_helpers.emplace_back([this, request, status, body, delay, connection] {
        if (!sleepFor(delay)) {
            return;
        }
        {
            std::lock_guard inner(m_mutex);
            if (m_connections != connection) {
                return;  // the link it belonged to is gone
            }
        }
        respond(request, status, body);
    });
}

bool FakeSmsc::sleepFor(std::chrono::milliseconds delay) const {
    std::unique_lock lock(m_mutex);
    return !m_changed.wait_for(lock, delay, [this] { return m_stop.load(); });
}

void FakeSmsc::dropConnection() {
    std::lock_guard lock(m_mutex);
    if (m_fd >= 0) {
        ::shutdown(m_fd, SHUT_RDWR);
    }
}

std::vector<SmppPdu> FakeSmsc::received() const {
    std::lock_guard lock(m_mutex);
    std::vector<SmppPdu> out;
    for (const Entry& e : m_log) {
        if (e.direction == Direction::In) {
            out.push_back(e.pdu);
        }
    }
    return out;
}

std::vector<FakeSmsc::Entry> FakeSmsc::log() const {
    std::lock_guard lock(m_mutex);
    return m_log;
}

int FakeSmsc::count(std::uint32_t commandId) const {
    std::lock_guard lock(m_mutex);
    int n = 0;
    for (const Entry& e : m_log) {
        if (e.direction == Direction::In && e.pdu.commandId == commandId) {
            ++n;
        }
    }
    return n;
}

bool FakeSmsc::waitForCount(std::uint32_t commandId, int n,
                            std::chrono::milliseconds timeout) const {
    const auto end = std::chrono::steady_clock::now() + timeout;
    std::unique_lock lock(m_mutex);
    for (;;) {
        int seen = 0;
        for (const Entry& e : m_log) {
            if (e.direction == Direction::In && e.pdu.commandId == commandId) {
                ++seen;
            }
        }
        if (seen >= n) {
            return true;
        }
        if (m_changed.wait_until(lock, end) == std::cv_status::timeout) {
            return false;
        }
    }
}

bool FakeSmsc::waitForClose(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout,
                              [this] { return m_connections > 0 && m_closes >= m_connections; });
}

int FakeSmsc::connections() const {
    std::lock_guard lock(m_mutex);
    return m_connections;
}

int FakeSmsc::closes() const {
    std::lock_guard lock(m_mutex);
    return m_closes;
}

RefusingPort::RefusingPort() {
    m_fd = BoundLoopbackSocket(m_port);
}

RefusingPort::~RefusingPort() {
    ::close(m_fd);
}

StalledListener::StalledListener() {
    m_fd = BoundLoopbackSocket(m_port);
    if (::listen(m_fd, 0) != 0) {
        ::close(m_fd);
        throw std::runtime_error("listen failed");
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(m_port));
    // The first one completes and fills the accept queue; the second makes
    // sure of it. Neither is ever accepted.
    for (int i = 0; i < 2; ++i) {
        const int c = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        (void)::connect(c, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        m_fillers.push_back(c);
        if (i == 0) {
            pollfd p{c, POLLOUT, 0};
            (void)::poll(&p, 1, 2000);
        }
    }
}

StalledListener::~StalledListener() {
    for (int c : m_fillers) {
        ::close(c);
    }
    ::close(m_fd);
}

int ThreadCount() {
    DIR* dir = ::opendir("/proc/self/task");
    if (dir == nullptr) {
        return -1;
    }
    int n = 0;
    while (const dirent* e = ::readdir(dir)) {
        if (e->d_name[0] != '.') {
            ++n;
        }
    }
    ::closedir(dir);
    return n;
}

}  // namespace vantor::test
