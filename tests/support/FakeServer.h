// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace vantor::test {

// One accepted connection of a fake server, as its handler sees it. Every
// line read is also kept in the server's transcript.
class FakeConnection {
public:
    FakeConnection(int fd, class FakeServer& server) : m_fd(fd), m_server(server) {}

    bool send(std::string_view data);
    // A line without its CR LF; nullopt when the peer closed or the wait ran
    // out.
    std::optional<std::string> readLine(
        std::chrono::milliseconds timeout = std::chrono::seconds(10));
    std::optional<std::string> readBytes(
        std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Waits until the peer closes (or the timeout); true when it did.
    bool waitForClose(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    void close();
    bool stopping() const;
    // Sleeps, but ends early when the server stops.
    void pause(std::chrono::milliseconds delay) const;
    // Puts `text` in the transcript as if it were a line read (for what is
    // not a line: a TLS record, say).
    void note(const std::string& text);
    // The socket, for a handler that puts a layer of its own on it (a TLS
    // server side); bytes this object has already read stay in its buffer.
    int fd() const { return m_fd; }

private:
    bool fill(std::chrono::milliseconds timeout);

    int m_fd;
    FakeServer& m_server;
    std::string m_buffer;
};

// A TCP server on 127.0.0.1 (a free port) that runs a scripted handler for
// each connection, on a thread of its own.
class FakeServer {
public:
    using Handler = std::function<void(FakeConnection&)>;
    enum class Mode {
        // A thread per connection, every line kept in the transcript.
        Concurrent,
        // One connection at a time on the accept thread, no transcript: for
        // benchmarks that make many thousands of connections one by one.
        OneAtATime,
    };

    explicit FakeServer(Handler handler, Mode mode = Mode::Concurrent);
    ~FakeServer();
    FakeServer(const FakeServer&) = delete;
    FakeServer& operator=(const FakeServer&) = delete;

    int port() const { return m_port; }
    // Every line read by the handlers, in order, once every connection so
    // far has ended (or after a few seconds).
    std::vector<std::string> received() const;
    // Waits until no handler runs; true when none does.
    bool waitUntilIdle(std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
    int connections() const { return m_connections.load(); }
    void record(const std::string& line);
    bool stopping() const { return m_stop.load(); }

private:
    void acceptLoop();
    void serve(int fd);

    Handler m_handler;
    Mode m_mode;
    int m_listenFd = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::atomic<int> m_active{0};
    std::thread m_acceptThread;
    mutable std::mutex m_mutex;
    std::list<std::thread> m_threads;
    std::vector<int> m_openFds;
    std::vector<std::string> m_received;
};

// What an HTTP fake server saw of one request.
struct SeenHttpRequest {
    std::string requestLine;
    std::string method;
    std::string target;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // The value of the first header with this name (any case), or nullopt.
    std::optional<std::string> header(std::string_view name) const;
    int count(std::string_view name) const;
};

// Reads one request (head and a Content-Length body).
std::optional<SeenHttpRequest> ReadHttpRequest(FakeConnection& connection);

}  // namespace vantor::test
