// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>

namespace vantor::test {

// A UDP socket bound to 127.0.0.1 on a free port, for what a sender puts
// on the wire; or a Unix datagram socket at a path (a service manager's
// notification socket).
class UdpReceiver final {
public:
    UdpReceiver();
    explicit UdpReceiver(const std::string& unixPath);
    ~UdpReceiver();
    UdpReceiver(const UdpReceiver&) = delete;
    UdpReceiver& operator=(const UdpReceiver&) = delete;

    int port() const { return m_port; }
    // The next datagram's bytes, or nullopt when none came in time.
    std::optional<std::string> receive(std::chrono::milliseconds timeout = std::chrono::seconds(5));

private:
    int m_fd = -1;
    int m_port = 0;
};

// A TCP port on 127.0.0.1 that refuses connections: a socket is bound to it
// but never listens, so nothing else can take the port while it lives.
class ClosedPort final {
public:
    ClosedPort();
    ~ClosedPort();
    ClosedPort(const ClosedPort&) = delete;
    ClosedPort& operator=(const ClosedPort&) = delete;

    int port() const { return m_port; }

private:
    int m_fd = -1;
    int m_port = 0;
};

// The whole answer (status line, headers, body) to "GET path" over
// HTTP/1.0 from 127.0.0.1:port; empty when nothing answers within 5 s.
std::string HttpGetLocal(int port, const std::string& path);

// The nice level of a local load generator (wrk) in the benchmarks: 19
// unless VANTOR_WRK_NICE says otherwise (0: as the program itself).
inline int WrkNice() {
    const char* text = std::getenv("VANTOR_WRK_NICE");
    return text != nullptr && *text != '\0' ? std::atoi(text) : 19;
}

// A client that connects to 127.0.0.1:port, sends half a request and
// waits: the open socket, to close, or -1.
int HalfRequest(int port);

}  // namespace vantor::test
