// SPDX-License-Identifier: GPL-3.0-or-later
#include "E2EServers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>
#include <sstream>
#include <thread>

#include "support/TempDir.h"
#include "support/Text.h"

namespace vantor::e2e {

namespace {

using test::Lines;

using interop::Fill;
using interop::MakeDir;
using interop::Write;
using test::ReadFile;

// Starts a server through `start`, which picks its ports and returns the
// process once it takes requests. A server that ended before that may have
// lost a port to another process since it was picked: it gets new ports and
// another try.
std::unique_ptr<ServerProcess> StartWithRetry(
    const std::function<std::unique_ptr<ServerProcess>()>& start) {
    constexpr int kAttempts = 3;
    for (int attempt = 1;; ++attempt) {
        try {
            return start();
        } catch (const SetupError&) {
            if (attempt == kAttempts) {
                throw;
            }
        }
    }
}

}  // namespace

int FreeUdpPort() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        throw SetupError(std::string("Cannot open a socket: ") + std::strerror(errno));
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        const int err = errno;
        ::close(fd);
        throw SetupError(std::string("Cannot pick a free UDP port: ") + std::strerror(err));
    }
    ::close(fd);
    return ntohs(address.sin_port);
}

void SendUdp(int port, const std::string& payload) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        throw SetupError(std::string("Cannot open a socket: ") + std::strerror(errno));
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    // A lost probe is sent again by the caller; the result is of no interest.
    (void)::sendto(fd, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&address),
                   sizeof address);
    ::close(fd);
}

// ---------------------------------------------------------------- nginx

NginxServers::NginxServers(const std::string& dir) : m_dir(dir + "/nginx") {
    interop::RequireProgram("/usr/sbin/nginx", "nginx");
    MakeDir(m_dir);
    MakeDir(m_dir + "/tmp");
    MakeDir(m_dir + "/www");
    MakeDir(m_dir + "/www/e2e");
    for (const char* page : kPages) {
        Write(m_dir + "/www/e2e/" + page + ".html",
              std::string("<html><body>") + page + "</body></html>\n");
    }
    m_process = StartWithRetry([this] {
        m_webPort = interop::FreePort();
        m_gatewayPort = interop::FreePort();
        Write(m_dir + "/nginx.conf", Fill(R"(daemon off;
master_process off;
worker_processes 1;
pid @DIR@/nginx.pid;
error_log @DIR@/error.log info;
events { worker_connections 64; }
http {
    log_format e2e '$msec $status "$request" "$http_user_agent"';
    client_body_temp_path @DIR@/tmp/body;
    proxy_temp_path @DIR@/tmp/proxy;
    fastcgi_temp_path @DIR@/tmp/fastcgi;
    uwsgi_temp_path @DIR@/tmp/uwsgi;
    scgi_temp_path @DIR@/tmp/scgi;
    server {
        listen 127.0.0.1:@WEB@;
        server_name web;
        root @DIR@/www;
        access_log @DIR@/web.log e2e;
        location = /e2e/broken { return 500; }
    }
    server {
        listen 127.0.0.1:@GATEWAY@;
        server_name gateway;
        access_log @DIR@/gateway.log e2e;
        location = /sms { default_type text/plain; return 200 "queued\n"; }
        location = /down { return 503; }
        location / { return 404; }
    }
}
)",
                                          {{"@DIR@", m_dir},
                                           {"@WEB@", std::to_string(m_webPort)},
                                           {"@GATEWAY@", std::to_string(m_gatewayPort)}}));
        auto process = std::make_unique<ServerProcess>(
            "nginx",
            std::vector<std::string>{"/usr/sbin/nginx", "-p", m_dir, "-c", m_dir + "/nginx.conf"},
            m_dir + "/nginx.out", m_dir);
        process->waitForPort(m_webPort);
        process->waitForPort(m_gatewayPort);
        return process;
    });
}

std::string NginxServers::webLog() const {
    return ReadFile(m_dir + "/web.log");
}

std::string NginxServers::gatewayLog() const {
    return ReadFile(m_dir + "/gateway.log");
}

// ---------------------------------------------------------------- aiosmtpd

MailboxSmtpServer::MailboxSmtpServer(const std::string& dir) : m_dir(dir + "/smtp") {
    interop::RequireProgram("/usr/bin/python3", "python3");
    if (::access("/usr/lib/python3/dist-packages/aiosmtpd/handlers.py", R_OK) != 0) {
        throw SetupError(
            "aiosmtpd is missing: install the Debian package python3-aiosmtpd "
            "(scripts/install-deps.sh does)");
    }
    MakeDir(m_dir);
    m_process = StartWithRetry([this] {
        m_port = interop::FreePort();
        // -n: no switch to nobody. The Mailbox handler takes the maildir as
        // its one argument and makes it when it is not there.
        auto process = std::make_unique<ServerProcess>(
            "aiosmtpd",
            std::vector<std::string>{"/usr/bin/python3", "-m", "aiosmtpd", "-n", "-l",
                                     "127.0.0.1:" + std::to_string(m_port), "-c",
                                     "aiosmtpd.handlers.Mailbox", m_dir + "/maildir"},
            m_dir + "/aiosmtpd.out", m_dir);
        process->waitForPort(m_port, "220 ");
        return process;
    });
}

std::vector<std::string> MailboxSmtpServer::messages() const {
    std::vector<std::string> out;
    for (const char* sub : {"/maildir/new", "/maildir/cur"}) {
        for (const std::string& name : test::ListDir(m_dir + sub)) {
            out.push_back(ReadFile(m_dir + sub + "/" + name));
        }
    }
    return out;
}

std::string MailboxSmtpServer::log() const {
    return ReadFile(m_dir + "/aiosmtpd.out");
}

// ---------------------------------------------------------------- rsyslog

SyslogReceiver::SyslogReceiver(const std::string& dir) : m_dir(dir + "/rsyslog") {
    interop::RequireProgram("/usr/sbin/rsyslogd", "rsyslog");
    MakeDir(m_dir);
    MakeDir(m_dir + "/work");
    m_process = StartWithRetry([this] {
        m_port = FreeUdpPort();
        ::unlink((m_dir + "/received.log").c_str());
        Write(m_dir + "/rsyslog.conf",
              Fill(R"(global(workDirectory="@DIR@/work")
module(load="imudp")
template(name="e2eLine" type="string"
         string="pri=%pri% host=%hostname% tag=%syslogtag% msg=%msg% raw=%rawmsg%\n")
ruleset(name="e2e") {
    action(type="omfile" file="@DIR@/received.log" template="e2eLine")
}
input(type="imudp" address="127.0.0.1" port="@PORT@" ruleset="e2e")
)",
                   {{"@DIR@", m_dir}, {"@PORT@", std::to_string(m_port)}}));
        // -n: in the foreground; -i: a pid file of its own, not the system's.
        auto process = std::make_unique<ServerProcess>(
            "rsyslogd",
            std::vector<std::string>{"/usr/sbin/rsyslogd", "-n", "-f", m_dir + "/rsyslog.conf",
                                     "-i", m_dir + "/rsyslogd.pid"},
            m_dir + "/rsyslogd.out", m_dir);
        // UDP has no connection to wait for: probes go until one is written.
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        for (int probe = 1;; ++probe) {
            if (!process->running()) {
                throw SetupError("rsyslogd ended before it received on 127.0.0.1:" +
                                 std::to_string(m_port) + "\n" + process->logTail());
            }
            SendUdp(m_port, "<14>" + std::string(kProbeMarker) + " " + std::to_string(probe));
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (ReadFile(m_dir + "/received.log").find(kProbeMarker) != std::string::npos) {
                return process;
            }
            if (std::chrono::steady_clock::now() > end) {
                throw SetupError("rsyslogd wrote no probe from 127.0.0.1:" +
                                 std::to_string(m_port) + " within 20 s\n" + process->logTail());
            }
        }
    });
}

std::vector<std::string> SyslogReceiver::lines() const {
    std::vector<std::string> out;
    for (std::string& line : Lines(ReadFile(m_dir + "/received.log"))) {
        if (line.find(kProbeMarker) == std::string::npos) {
            out.push_back(std::move(line));
        }
    }
    return out;
}

std::vector<std::string> SyslogReceiver::waitForLines(std::size_t count,
                                                      std::chrono::milliseconds timeout) const {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        std::vector<std::string> got = lines();
        if (got.size() >= count || std::chrono::steady_clock::now() > end) {
            return got;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

}  // namespace vantor::e2e
