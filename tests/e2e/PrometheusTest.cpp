// SPDX-License-Identifier: GPL-3.0-or-later
// The program's metrics as the Prometheus family reads them, each a real
// program from Debian's packages started here on 127.0.0.1: promtool,
// Prometheus itself (as a server, as agents remote-writing to a central
// one), the blackbox exporter probing the same web server, node_exporter's
// textfile collector and Alertmanager.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "E2EApp.h"
#include "E2EServers.h"
#include "InteropProcess.h"
#include "support/FakeHttpServer.h"
#include "support/Gate.h"
#include "support/LocalSockets.h"
#include "support/TempDir.h"
#include "support/TestCertificates.h"

namespace vantor::e2e {
namespace {

using namespace std::chrono_literals;
using interop::FreePort;
using interop::RequireProgram;
using interop::RunCommand;
using interop::Write;
using test::ServiceEntry;

constexpr const char* kReady = "Vantor Lite is running without windows";

std::string UrlEncoded(const std::string& text) {
    std::string out;
    for (const unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", c);
            out += buf;
        }
    }
    return out;
}

// The body of an answer from 127.0.0.1:port.
std::string Body(int port, const std::string& path) {
    const std::string answer = test::HttpGetLocal(port, path);
    const auto end = answer.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : answer.substr(end + 4);
}

// The result list of an instant query, as Prometheus's JSON has it.
std::string Query(int port, const std::string& promql) {
    const std::string body = Body(port, "/api/v1/query?query=" + UrlEncoded(promql));
    const auto at = body.find("\"result\":");
    return at == std::string::npos ? std::string() : body.substr(at + 9);
}

bool Answers(int port, const std::string& promql, std::chrono::seconds within = 30s) {
    return test::Eventually([&] { return Query(port, promql).rfind("[{", 0) == 0; }, within);
}

// Families of a text exposition: name → TYPE and the label names of its
// samples, those given left out.
struct FamilyShape {
    std::string type;
    std::set<std::string> labels;
};
std::map<std::string, FamilyShape> Families(const std::string& text,
                                            const std::set<std::string>& leftOut) {
    std::map<std::string, FamilyShape> out;
    std::istringstream in(text);
    const std::regex typeLine(R"(# TYPE (\w+) (\w+))");
    const std::regex sample(R"((\w+)(\{(.*)\})? .*)");
    const std::regex label(R"((\w+)=\"(?:[^\"\\]|\\.)*\")");
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        if (std::regex_match(line, m, typeLine)) {
            out[m[1]].type = m[2];
        } else if (!line.empty() && line[0] != '#' && std::regex_match(line, m, sample)) {
            const std::string labels = m[3];
            for (auto it = std::sregex_iterator(labels.begin(), labels.end(), label);
                 it != std::sregex_iterator(); ++it) {
                if (!leftOut.count((*it)[1])) {
                    out[m[1]].labels.insert((*it)[1]);
                }
            }
        }
    }
    return out;
}

// A server from the Prometheus family, run in the foreground.
std::unique_ptr<interop::ServerProcess> StartServer(const std::string& name,
                                                    const std::vector<std::string>& argv,
                                                    const std::string& dir, int port,
                                                    const std::string& package) {
    RequireProgram(argv[0], package);
    auto server =
        std::make_unique<interop::ServerProcess>(name, argv, dir + "/" + name + ".log", dir);
    server->waitForPort(port);
    return server;
}

// One probe site: the program with its endpoint on loopback and a
// textfile folder, watching the web server's good and broken pages, an
// HTTPS page, and an echo to 127.0.0.1.
struct Site {
    AppDir app;
    int port = FreePort();
    std::unique_ptr<test::Process> process;

    Site(const NginxServers& web, int httpsPort, const std::string& extraSettings = {}) {
        auto entry = [&](const std::string& kind, const std::string& target, int port) {
            ServiceEntry e;
            e.service = kind;
            e.ip = target;
            e.port = std::to_string(port);
            e.scheduleBy = "Minutely";
            e.scheduleMinute = "1";
            return e;
        };
        const std::string base = "http://127.0.0.1:" + std::to_string(web.webPort());
        app.writeServices(
            {entry("URL", base + "/e2e/ok.html", web.webPort()),
             entry("URL", base + "/e2e/broken", web.webPort()),
             entry("URL", "https://127.0.0.1:" + std::to_string(httpsPort) + "/", httpsPort),
             entry("Ping", "127.0.0.1", 0)});
        interop::MakeDir(app.file("textfile"), 0755);
        app.writeSettings("[Metrics]\r\nListen=127.0.0.1:" + std::to_string(port) +
                          "\r\nTextfileDir=" + app.file("textfile") + "\r\n" + extraSettings);
        process = app.startWithin({}, {"--headless"},
                                  {{"SSL_CERT_FILE", test::SharedTestCertificates().caCert}});
        if (!process->waitForOutput(kReady, 20s)) {
            throw interop::SetupError("vantor-lite did not start: " + process->err());
        }
        // The first round, at start, has come back for every service.
        if (!test::Eventually(
                [&] {
                    const std::string text = Body(port, "/metrics");
                    return std::count(text.begin(), text.end(), '\n') > 0 &&
                           text.find("probe_icmp_duration_seconds{") != std::string::npos &&
                           text.find("probe_ssl_earliest_cert_expiry{") != std::string::npos &&
                           text.find("/e2e/broken\",module=\"URL\"") != std::string::npos;
                },
                30s)) {
            throw interop::SetupError("no verdicts at /metrics: " + Body(port, "/metrics"));
        }
    }
    ~Site() {
        process->signal(SIGTERM);
        process->wait(20s);
    }
    std::string key(const std::string& kind, const std::string& target, int servicePort) const {
        return kind + ":" + target + ":" + std::to_string(servicePort);
    }
};

class PrometheusTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        try {
            s = std::make_unique<Shared>();
        } catch (const std::exception& e) {
            s_error = e.what();
        }
    }
    static void TearDownTestSuite() { s.reset(); }
    void SetUp() override { ASSERT_TRUE(s) << s_error; }

    struct Shared {
        test::TempDir dir;
        NginxServers web{dir.path()};
        int httpsPort = FreePort();
        std::unique_ptr<interop::ServerProcess> https;
        std::unique_ptr<Site> site;
        int blackboxPort = FreePort();
        std::unique_ptr<interop::ServerProcess> blackbox;
        int nodePort = FreePort();
        std::unique_ptr<interop::ServerProcess> node;
        int prometheusPort = FreePort();
        std::unique_ptr<interop::ServerProcess> prometheus;

        Shared() {
            const test::CertFiles& cert = test::SharedTestCertificates()[test::CertKind::Valid];
            https = StartServer(
                "https",
                {"/usr/bin/openssl", "s_server", "-quiet", "-www", "-accept",
                 "127.0.0.1:" + std::to_string(httpsPort), "-cert", cert.cert, "-key", cert.key},
                dir.path(), httpsPort, "openssl");
            site = std::make_unique<Site>(web, httpsPort);
            Write(dir.file("blackbox.yml"), "modules:\n  http_2xx:\n    prober: http\n");
            blackbox =
                StartServer("blackbox",
                            {"/usr/bin/prometheus-blackbox-exporter",
                             "--config.file=" + dir.file("blackbox.yml"),
                             "--web.listen-address=127.0.0.1:" + std::to_string(blackboxPort)},
                            dir.path(), blackboxPort, "prometheus-blackbox-exporter");
            node = StartServer("node",
                               {"/usr/bin/prometheus-node-exporter", "--collector.disable-defaults",
                                "--collector.textfile",
                                "--collector.textfile.directory=" + site->app.file("textfile"),
                                "--web.listen-address=127.0.0.1:" + std::to_string(nodePort)},
                               dir.path(), nodePort, "prometheus-node-exporter");
            Write(dir.file("prometheus.yml"),
                  "global:\n  scrape_interval: 1s\nscrape_configs:\n"
                  "  - job_name: vantor\n    honor_labels: true\n    static_configs:\n"
                  "      - targets: ['127.0.0.1:" +
                      std::to_string(site->port) +
                      "']\n"
                      "  - job_name: node\n    honor_labels: true\n    static_configs:\n"
                      "      - targets: ['127.0.0.1:" +
                      std::to_string(nodePort) + "']\n");
            prometheus =
                StartServer("prometheus",
                            {"/usr/bin/prometheus", "--config.file=" + dir.file("prometheus.yml"),
                             "--storage.tsdb.path=" + dir.file("tsdb"),
                             "--web.listen-address=127.0.0.1:" + std::to_string(prometheusPort)},
                            dir.path(), prometheusPort, "prometheus");
        }
    };
    static inline std::unique_ptr<Shared> s;
    static inline std::string s_error;

    std::string okUrl() const {
        return "http://127.0.0.1:" + std::to_string(s->web.webPort()) + "/e2e/ok.html";
    }
};

TEST_F(PrometheusTest, TheExpositionPassesPromtoolAndHasTheBlackboxShapeForTheSameTarget) {
    const std::string ours = Body(s->site->port, "/metrics");
    const interop::CommandResult checked =
        RunCommand({"/usr/bin/promtool", "check", "metrics"}, ours);
    EXPECT_EQ(checked.exitCode, 0) << checked.output;
    EXPECT_EQ(checked.output, "") << "no finding";
    EXPECT_NE(test::HttpGetLocal(s->site->port, "/metrics")
                  .find("Content-Type: text/plain; version=0.0.4; charset=utf-8\r\n"),
              std::string::npos);

    const std::string theirs =
        Body(s->blackboxPort, "/probe?module=http_2xx&target=" + UrlEncoded(okUrl()));
    const auto blackbox = Families(theirs, {});
    const auto mine = Families(ours, {"instance", "module", "key"});
    ASSERT_TRUE(blackbox.count("probe_success")) << theirs;
    const std::vector<std::string> shared = {"probe_success",
                                             "probe_duration_seconds",
                                             "probe_dns_lookup_time_seconds",
                                             "probe_ip_protocol",
                                             "probe_ip_addr_hash",
                                             "probe_http_status_code",
                                             "probe_http_version",
                                             "probe_http_ssl",
                                             "probe_http_redirects",
                                             "probe_http_content_length",
                                             "probe_http_uncompressed_body_length",
                                             "probe_http_duration_seconds"};
    for (const std::string& family : shared) {
        ASSERT_TRUE(blackbox.count(family)) << family << " in\n" << theirs;
        ASSERT_TRUE(mine.count(family)) << family;
        EXPECT_EQ(mine.at(family).type, blackbox.at(family).type) << family;
        EXPECT_EQ(mine.at(family).labels, blackbox.at(family).labels) << family;
    }
    // Of our own kinds, the TLS and echo families: gauges, with blackbox's
    // labels (version; phase).
    EXPECT_EQ(mine.at("probe_tls_version_info").labels, std::set<std::string>{"version"});
    EXPECT_EQ(mine.at("probe_icmp_duration_seconds").labels, std::set<std::string>{"phase"});
    EXPECT_EQ(mine.at("probe_ssl_earliest_cert_expiry").type, "gauge");
}

TEST_F(PrometheusTest, PrometheusReadsTheVerdictsAndTheDashboardsQueriesAnswer) {
    const int p = s->prometheusPort;
    const std::string broken =
        "http://127.0.0.1:" + std::to_string(s->web.webPort()) + "/e2e/broken";
    ASSERT_TRUE(Answers(p, "probe_success{job=\"vantor\"}")) << s->prometheus->logTail();
    EXPECT_NE(
        Query(p, "probe_success{job=\"vantor\",instance=\"" + okUrl() + "\"}").find(",\"1\"]"),
        std::string::npos);
    EXPECT_NE(Query(p, "probe_success{job=\"vantor\",instance=\"" + broken + "\"}").find(",\"0\"]"),
              std::string::npos);
    EXPECT_NE(Query(p, "probe_http_status_code{job=\"vantor\",instance=\"" + broken + "\"}")
                  .find(",\"500\"]"),
              std::string::npos);
    // The panels of the blackbox dashboards (Grafana 7587, 13659, 14928,
    // 9965), their variables given as .+.
    const std::vector<std::string> panels = {
        R"(probe_success{instance=~".+"})",
        R"(avg_over_time(probe_success{instance=~".+"}[1m]))",
        R"(probe_duration_seconds{instance=~".+"})",
        R"(sum by (instance) (probe_http_duration_seconds{instance=~".+"}))",
        R"(probe_http_duration_seconds{phase="processing",instance=~".+"})",
        R"(probe_http_status_code{instance=~".+"})",
        R"(probe_http_version{instance=~".+"})",
        R"(probe_http_ssl{instance=~".+"} == 1)",
        R"(probe_http_redirects{instance=~".+"})",
        R"(probe_ssl_earliest_cert_expiry{instance=~".+"} - time())",
        R"((probe_ssl_earliest_cert_expiry{instance=~".+"} - time()) / 86400)",
        R"(probe_tls_version_info{instance=~".+"})",
        R"(probe_dns_lookup_time_seconds{instance=~".+"})",
        R"(probe_ip_protocol{instance=~".+"})",
        R"(probe_http_content_length{instance=~".+"})",
        R"(changes(probe_ip_addr_hash{instance=~".+"}[5m]))",
        R"(probe_icmp_duration_seconds{phase="rtt",instance=~".+"})",
        R"(count(probe_success{job=~".+"} == 1))",
        R"(count(probe_success{job=~".+"} == 0))",
    };
    for (const std::string& panel : panels) {
        EXPECT_TRUE(Answers(p, panel, 10s)) << panel;
    }
}

TEST_F(PrometheusTest, NodeExporterServesTheTextfileAndPrometheusReadsItThroughIt) {
    const std::string node = Body(s->nodePort, "/metrics");
    EXPECT_NE(node.find("\nnode_textfile_scrape_error 0\n"), std::string::npos) << node;
    EXPECT_NE(node.find("probe_success{instance=\"" + okUrl() + "\",key="), std::string::npos)
        << node;
    EXPECT_TRUE(Answers(s->prometheusPort,
                        "probe_success{job=\"node\",instance=\"" + okUrl() + "\"} == 1"));
}

TEST_F(PrometheusTest, TwoLocationsMeetInOneCentralPrometheusThroughAgents) {
    const std::string dir = s->dir.file("central");
    interop::MakeDir(dir, 0777);
    const int central = FreePort();
    Write(dir + "/central.yml", "global:\n  scrape_interval: 1s\n");
    auto server =
        StartServer("central",
                    {"/usr/bin/prometheus", "--config.file=" + dir + "/central.yml",
                     "--storage.tsdb.path=" + dir + "/tsdb", "--web.enable-remote-write-receiver",
                     "--web.listen-address=127.0.0.1:" + std::to_string(central)},
                    dir, central, "prometheus");
    Site second(s->web, s->httpsPort);
    std::vector<std::unique_ptr<interop::ServerProcess>> agents;
    for (const auto& [location, sitePort] :
         std::vector<std::pair<std::string, int>>{{"a", s->site->port}, {"b", second.port}}) {
        const int port = FreePort();
        Write(dir + "/agent-" + location + ".yml",
              "global:\n  scrape_interval: 1s\nscrape_configs:\n"
              "  - job_name: vantor\n    honor_labels: true\n    static_configs:\n"
              "      - targets: ['127.0.0.1:" +
                  std::to_string(sitePort) +
                  "']\n        labels:\n          location: " + location +
                  "\nremote_write:\n  - url: http://127.0.0.1:" + std::to_string(central) +
                  "/api/v1/write\n    queue_config:\n      batch_send_deadline: 1s\n");
        agents.push_back(StartServer("agent-" + location,
                                     {"/usr/bin/prometheus", "--enable-feature=agent",
                                      "--config.file=" + dir + "/agent-" + location + ".yml",
                                      "--storage.agent.path=" + dir + "/agent-" + location,
                                      "--web.listen-address=127.0.0.1:" + std::to_string(port)},
                                     dir, port, "prometheus"));
    }
    ASSERT_TRUE(test::Eventually(
        [&] {
            const std::string result = Query(central, "count by (location) (probe_success)");
            return result.find("\"location\":\"a\"") != std::string::npos &&
                   result.find("\"location\":\"b\"") != std::string::npos;
        },
        60s))
        << Query(central, "count by (location) (probe_success)") << agents[0]->logTail();
    // The quorum rule: an instance down from both sites.
    EXPECT_TRUE(Answers(central, "count by (instance) (probe_success == 0) >= 2"));
    // And a site gone silent shows as absent.
    EXPECT_EQ(Query(central, "absent(probe_success{location=\"a\"})").rfind("[]", 0), 0u);
}

TEST_F(PrometheusTest, AlertmanagerGetsTheFailureAsAnAlertAndTheRecoveryResolvesIt) {
    const std::string dir = s->dir.file("alertmanager");
    interop::MakeDir(dir, 0777);
    const int port = FreePort();
    Write(dir + "/am.yml", "route:\n  receiver: none\nreceivers:\n  - name: none\n");
    auto alertmanager = StartServer(
        "alertmanager",
        {"/usr/bin/prometheus-alertmanager", "--config.file=" + dir + "/am.yml",
         "--storage.path=" + dir,
         "--cluster.listen-address=", "--web.listen-address=127.0.0.1:" + std::to_string(port)},
        dir, port, "prometheus-alertmanager");

    std::atomic<bool> up{false};
    test::FakeHttpServer service([&](const test::SeenHttpRequest&, int) {
        return test::HttpReply(up ? test::HttpResponse("HTTP/1.1 200 OK")
                                  : test::HttpResponse("HTTP/1.1 503 Service Unavailable"));
    });
    AppDir app;
    ServiceEntry e;
    e.ip = service.url("/health");
    e.port = std::to_string(service.port());
    app.writeServices({e});
    app.writeSettings("[Alertmanager]\r\nURL=http://127.0.0.1:" + std::to_string(port) + "\r\n");
    const auto alerts = [&] { return Body(port, "/api/v2/alerts"); };

    // One run fires it; a later run, after the service came back, resolves it.
    auto down = app.start({"--check-now"});
    ASSERT_EQ(down->wait(30s), 1) << down->out() << down->err();
    ASSERT_TRUE(test::Eventually(
        [&] { return alerts().find("\"key\":\"" + e.key() + "\"") != std::string::npos; }, 10s))
        << alerts();
    const std::string firing = alerts();
    EXPECT_NE(firing.find("\"alertname\":\"VantorServiceDown\""), std::string::npos) << firing;
    EXPECT_NE(firing.find("\"instance\":\"" + e.ip + "\""), std::string::npos) << firing;
    EXPECT_NE(firing.find("\"module\":\"URL\""), std::string::npos);
    EXPECT_NE(firing.find("\"severity\":\"critical\""), std::string::npos);
    EXPECT_NE(firing.find("\"state\":\"active\""), std::string::npos);

    up = true;
    auto back = app.start({"--check-now"});
    ASSERT_EQ(back->wait(30s), 0) << back->out() << back->err();
    EXPECT_TRUE(test::Eventually(
        [&] { return alerts().find("\"key\":\"" + e.key() + "\"") == std::string::npos; }, 10s))
        << alerts();
}

}  // namespace
}  // namespace vantor::e2e
