// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <string>

#include "app/Result.h"
#include "metrics/WebConfig.h"

struct MHD_Daemon;

namespace vantor::metrics {

class MetricsRegistry;

// Nice 10 for the calling thread (once per thread): the threads that serve
// and render the metrics.
void LowerThisThreadsPriority();

// Where the endpoint listens: "127.0.0.1:9469", "[::1]:9469", or a port
// alone (":9469", "9469"), which stays on the loopback address; any other
// address only when it is written out ("0.0.0.0:9469").
struct ListenAddress {
    std::string host;  // an address text
    int port = 0;
    static Expected<ListenAddress> Parse(const std::string& text);
};

// The scrape endpoint: GET (or HEAD) /metrics, nothing else, on threads of
// its own. Bounded: connections at once, the request's size, and the time a
// connection may stay idle, so that slow or many clients cost a bounded
// share of the process (descriptors are kept for the checks).
class MetricsServer final {
public:
    static constexpr unsigned kMaxConnections = 256;
    static constexpr unsigned kIdleSeconds = 10;
    static constexpr std::size_t kMaxRequestBytes = 16 * 1024;

    MetricsServer(MetricsRegistry& registry, WebConfig config);
    ~MetricsServer();
    MetricsServer(const MetricsServer&) = delete;
    MetricsServer& operator=(const MetricsServer&) = delete;

    Status start(const ListenAddress& where);
    // The port it listens on (the one given, or the one the system chose
    // for port 0).
    int port() const { return m_port; }

private:
    struct Handler;
    MetricsRegistry& m_registry;
    WebConfig m_config;
    std::unique_ptr<BasicAuth> m_auth;
    std::unique_ptr<Handler> m_handler;
    MHD_Daemon* m_daemon = nullptr;
    int m_port = 0;
};

}  // namespace vantor::metrics
