// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/FakeHttpServer.h"

namespace vantor::test {

std::string HttpResponse(const std::string& statusLine, const std::string& headers,
                         const std::string& body) {
    return statusLine + "\r\n" + headers + "Content-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

FakeHttpServer::FakeHttpServer(Responder responder, FakeServer::Mode mode)
    : m_responder(std::move(responder)),
      m_server([this](FakeConnection& connection) { serve(connection); }, mode) {}

FakeHttpServer::Responder FakeHttpServer::Always(std::string response) {
    return [response](const SeenHttpRequest&, int) { return HttpReply(response); };
}

FakeHttpServer::Responder FakeHttpServer::Delayed(std::string response,
                                                  std::chrono::milliseconds delay) {
    return [response, delay](const SeenHttpRequest&, int) { return HttpReply(response, delay); };
}

void FakeHttpServer::serve(FakeConnection& connection) {
    while (auto request = ReadHttpRequest(connection)) {
        int index = 0;
        {
            std::lock_guard lock(m_mutex);
            index = static_cast<int>(m_requests.size());
            m_requests.push_back(*request);
        }
        const HttpReply reply = m_responder(*request, index);
        connection.pause(reply.delay);
        if (!connection.send(reply.text)) {
            return;
        }
    }
}

std::vector<SeenHttpRequest> FakeHttpServer::requests() const {
    m_server.waitUntilIdle();
    return requestsNow();
}

std::vector<SeenHttpRequest> FakeHttpServer::requestsNow() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
}

}  // namespace vantor::test
