// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "InteropProcess.h"

// The servers that the end-to-end tests put the program against: real
// programs from Debian packages, started by the test on 127.0.0.1 with a
// configuration, data and logs in a directory of the test's own, on ports
// picked free at start. Each constructor returns once the server takes
// requests, or throws an interop::SetupError that carries the server's log.
namespace vantor::e2e {

using interop::ServerProcess;
using interop::SetupError;

// One nginx process (master_process off) with two virtual servers.
//
// The web server, on webPort():
//   /e2e/<name>.html   200 for every page in kPages
//   /e2e/broken        500
// The SMS gateway, on gatewayPort():
//   /sms               200 "queued"
//   /down              503
// Each has its own access log with one line per request:
//   <epoch seconds with milliseconds> <status> "<request line>" "<User-Agent>"
class NginxServers {
public:
    static constexpr const char* kPages[] = {"ok", "second", "stopped", "every1", "every5"};

    explicit NginxServers(const std::string& dir);

    int webPort() const { return m_webPort; }
    int gatewayPort() const { return m_gatewayPort; }
    std::string webLog() const;
    std::string gatewayLog() const;
    ServerProcess& process() { return *m_process; }

private:
    std::string m_dir;
    int m_webPort = 0;
    int m_gatewayPort = 0;
    std::unique_ptr<ServerProcess> m_process;
};

// aiosmtpd with its Mailbox handler: every message it accepts is stored in
// a maildir before the server answers the end of DATA.
class MailboxSmtpServer {
public:
    explicit MailboxSmtpServer(const std::string& dir);

    int port() const { return m_port; }
    // The stored messages, as files, in the order of their names.
    std::vector<std::string> messages() const;
    std::string log() const;
    ServerProcess& process() { return *m_process; }

private:
    std::string m_dir;
    int m_port = 0;
    std::unique_ptr<ServerProcess> m_process;
};

// rsyslogd with a configuration of its own: imudp on 127.0.0.1 and one
// output file with a line per datagram received:
//   pri=<PRI> host=<HOSTNAME> tag=<TAG> msg=<MSG> raw=<the datagram as sent>
// It is ready once a probe datagram has come through to the file; the probe
// lines carry kProbeMarker.
class SyslogReceiver {
public:
    static constexpr const char* kProbeMarker = "e2e-readiness-probe";

    explicit SyslogReceiver(const std::string& dir);

    int port() const { return m_port; }
    // The lines received so far, probes left out.
    std::vector<std::string> lines() const;
    // Waits until at least `count` lines (probes left out) are there.
    std::vector<std::string> waitForLines(std::size_t count,
                                          std::chrono::milliseconds timeout) const;
    ServerProcess& process() { return *m_process; }

private:
    std::string m_dir;
    int m_port = 0;
    std::unique_ptr<ServerProcess> m_process;
};

// A UDP port on 127.0.0.1 that nothing is bound to right now.
int FreeUdpPort();
// Sends one datagram to 127.0.0.1:port.
void SendUdp(int port, const std::string& payload);

}  // namespace vantor::e2e
