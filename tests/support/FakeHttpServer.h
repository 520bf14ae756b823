// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "support/FakeServer.h"

namespace vantor::test {

// A whole HTTP/1.1 response whose Content-Length matches its body.
std::string HttpResponse(const std::string& statusLine, const std::string& headers = {},
                         const std::string& body = {});

// What the server sends for one request, and how long it waits first.
struct HttpReply {
    HttpReply(std::string response, std::chrono::milliseconds wait = {})
        : text(std::move(response)), delay(wait) {}
    HttpReply(const char* response) : text(response) {}
    std::string text;
    std::chrono::milliseconds delay{0};
};

// A fake HTTP/1.1 server on 127.0.0.1 that keeps every request it reads,
// across connections, and answers each with what the responder gives for
// it (the request and its number, from 0).
class FakeHttpServer {
public:
    using Responder = std::function<HttpReply(const SeenHttpRequest&, int index)>;

    // OneAtATime: one connection at a time on the accept thread, for a
    // benchmark's thousands of connections.
    explicit FakeHttpServer(Responder responder,
                            FakeServer::Mode mode = FakeServer::Mode::Concurrent);
    // Answers every request with the same response.
    static Responder Always(std::string response);
    // The same, each after a wait.
    static Responder Delayed(std::string response, std::chrono::milliseconds delay);

    int port() const { return m_server.port(); }
    int connections() const { return m_server.connections(); }
    std::string url(const std::string& path = "/") const {
        return "http://127.0.0.1:" + std::to_string(port()) + path;
    }
    // The requests so far, once every connection so far has ended.
    std::vector<SeenHttpRequest> requests() const;
    // The requests read so far, without waiting for open connections.
    std::vector<SeenHttpRequest> requestsNow() const;

private:
    void serve(FakeConnection& connection);

    Responder m_responder;
    mutable std::mutex m_mutex;
    std::vector<SeenHttpRequest> m_requests;
    FakeServer m_server;  // last, so that its threads end before the rest goes
};

}  // namespace vantor::test
