// SPDX-License-Identifier: GPL-3.0-or-later
#include "metrics/MetricsServer.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "metrics/MetricsRegistry.h"

namespace vantor::metrics {

namespace {

constexpr std::string_view kNotFound = "Only /metrics is served here.\n";
constexpr std::string_view kUnauthorized = "Unauthorized\n";
constexpr std::string_view kNotAllowed = "Only GET and HEAD are allowed.\n";

MHD_Result QueueText(MHD_Connection* connection, unsigned status, std::string_view text) {
    MHD_Response* response = MHD_create_response_from_buffer(
        text.size(), const_cast<char*>(text.data()), MHD_RESPMEM_PERSISTENT);
    if (response == nullptr) {
        return MHD_NO;
    }
    MHD_add_response_header(response, "Content-Type", "text/plain; charset=utf-8");
    if (status == MHD_HTTP_METHOD_NOT_ALLOWED) {
        MHD_add_response_header(response, "Allow", "GET, HEAD");
    }
    const MHD_Result queued = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return queued;
}

// The rendered text stays alive while MHD sends it.
struct Body {
    std::shared_ptr<const TextBuffer> text;
};

ssize_t ReadBody(void* cls, std::uint64_t pos, char* buf, std::size_t max) {
    const auto* body = static_cast<Body*>(cls);
    if (pos >= body->text->size()) {
        return MHD_CONTENT_READER_END_OF_STREAM;
    }
    const std::size_t n = std::min<std::size_t>(max, body->text->size() - pos);
    std::memcpy(buf, body->text->data() + pos, n);
    return static_cast<ssize_t>(n);
}

void FreeBody(void* cls) {
    delete static_cast<Body*>(cls);
}

}  // namespace

void LowerThisThreadsPriority() {
    // Serving scrapes yields to the window and the checks when the
    // machine is busy: a storm of scrapes takes what they leave.
    thread_local bool lowered = false;
    if (!lowered) {
        lowered = true;
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 10);
    }
}

Expected<ListenAddress> ListenAddress::Parse(const std::string& text) {
    ListenAddress out;
    std::string host;
    std::string port;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') {
            return Error{"expected [address]:port"};
        }
        host = text.substr(1, close - 1);
        port = text.substr(close + 2);
    } else if (const auto colon = text.rfind(':'); colon != std::string::npos) {
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
        if (host.find(':') != std::string::npos) {
            return Error{"an IPv6 address goes in brackets: [::1]:9469"};
        }
    } else {
        port = text;
    }
    if (port.empty() || port.size() > 5 ||
        !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return Error{"the port is not a number"};
    }
    out.port = std::stoi(port);
    if (out.port > 65535) {
        return Error{"the port is out of range"};
    }
    if (host.empty() || host == "localhost") {
        host = "127.0.0.1";
    }
    in6_addr v6{};
    in_addr v4{};
    if (::inet_pton(AF_INET, host.c_str(), &v4) != 1 &&
        ::inet_pton(AF_INET6, host.c_str(), &v6) != 1) {
        return Error{"\"" + host + "\" is not an IP address"};
    }
    out.host = host;
    return out;
}

struct MetricsServer::Handler {
    MetricsServer& server;

    static MHD_Result Answer(void* cls, MHD_Connection* connection, const char* url,
                             const char* method, const char* /*version*/,
                             const char* /*uploadData*/, std::size_t* uploadSize, void** context) {
        auto& self = static_cast<Handler*>(cls)->server;
        LowerThisThreadsPriority();
        // The first call is for the headers alone; a body is not read.
        if (*context == nullptr) {
            *context = connection;
            return MHD_YES;
        }
        if (*uploadSize != 0) {
            *uploadSize = 0;
            return MHD_YES;
        }
        if (self.m_auth && self.m_auth->enabled()) {
            char* password = nullptr;
            char* user = MHD_basic_auth_get_username_password(connection, &password);
            const bool ok =
                user != nullptr && password != nullptr && self.m_auth->check(user, password);
            MHD_free(user);
            MHD_free(password);
            if (!ok) {
                MHD_Response* response = MHD_create_response_from_buffer(
                    kUnauthorized.size(), const_cast<char*>(kUnauthorized.data()),
                    MHD_RESPMEM_PERSISTENT);
                if (response == nullptr) {
                    return MHD_NO;
                }
                const MHD_Result queued =
                    MHD_queue_basic_auth_fail_response(connection, "vantor-lite", response);
                MHD_destroy_response(response);
                return queued;
            }
        }
        const std::string_view m(method);
        if (std::string_view(url) != "/metrics") {
            return QueueText(connection, MHD_HTTP_NOT_FOUND, kNotFound);
        }
        if (m != "GET" && m != "HEAD") {
            return QueueText(connection, MHD_HTTP_METHOD_NOT_ALLOWED, kNotAllowed);
        }
        auto* body = new Body{self.m_registry.render()};
        MHD_Response* response = MHD_create_response_from_callback(body->text->size(), 64 * 1024,
                                                                   &ReadBody, body, &FreeBody);
        if (response == nullptr) {
            delete body;
            return MHD_NO;
        }
        MHD_add_response_header(response, "Content-Type", std::string(kContentType).c_str());
        const MHD_Result queued = MHD_queue_response(connection, MHD_HTTP_OK, response);
        MHD_destroy_response(response);
        return queued;
    }
};

MetricsServer::MetricsServer(MetricsRegistry& registry, WebConfig config)
    : m_registry(registry),
      m_config(std::move(config)),
      m_auth(std::make_unique<BasicAuth>(m_config.users)),
      m_handler(std::make_unique<Handler>(Handler{*this})) {}

MetricsServer::~MetricsServer() {
    if (m_daemon != nullptr) {
        MHD_stop_daemon(m_daemon);
    }
}

Status MetricsServer::start(const ListenAddress& where) {
    sockaddr_storage address{};
    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL;
    if (where.host.find(':') != std::string::npos) {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<std::uint16_t>(where.port));
        ::inet_pton(AF_INET6, where.host.c_str(), &v6->sin6_addr);
        flags |= MHD_USE_IPv6;
    } else {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<std::uint16_t>(where.port));
        ::inet_pton(AF_INET, where.host.c_str(), &v4->sin_addr);
    }
    const bool tls = !m_config.certPem.empty();
    if (tls) {
        flags |= MHD_USE_TLS;
    }
    // Two threads: a rendering of many services on one leaves the other to
    // answer (and to turn away) the rest.
    std::vector<MHD_OptionItem> options = {
        {MHD_OPTION_SOCK_ADDR, 0, &address},
        {MHD_OPTION_THREAD_POOL_SIZE, 2, nullptr},
        {MHD_OPTION_CONNECTION_LIMIT, kMaxConnections, nullptr},
        {MHD_OPTION_CONNECTION_TIMEOUT, kIdleSeconds, nullptr},
        {MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<intptr_t>(kMaxRequestBytes), nullptr},
    };
    if (tls) {
        options.push_back(
            {MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(m_config.certPem.c_str())});
        options.push_back(
            {MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(m_config.keyPem.c_str())});
    }
    options.push_back({MHD_OPTION_END, 0, nullptr});
    m_daemon = MHD_start_daemon(flags, static_cast<std::uint16_t>(where.port), nullptr, nullptr,
                                &Handler::Answer, m_handler.get(), MHD_OPTION_ARRAY, options.data(),
                                MHD_OPTION_END);
    if (m_daemon == nullptr) {
        return Error{std::string("cannot listen on ") + where.host + ":" +
                     std::to_string(where.port) + (tls ? " with TLS" : "")};
    }
    const MHD_DaemonInfo* info = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_BIND_PORT);
    m_port = info != nullptr ? info->port : where.port;
    return {};
}

}  // namespace vantor::metrics
