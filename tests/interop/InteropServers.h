// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "InteropProcess.h"
#include "support/TestCertificates.h"

// Real servers from Debian packages, each run by the test itself on
// 127.0.0.1 with a configuration, data and logs in a directory of the
// test's own, on ports picked free at start. Each constructor returns once
// the server accepts connections, or throws a SetupError that carries the
// server's log.
namespace vantor::interop {

// nginx as one foreground process (master_process off: nothing outlives it).
//   /ok.html                   200
//   /moved, /found             301 and 302 to /ok.html
//   /missing.html              404 (no such file)
//   /private/ok.html           200 with Basic credentials kUser:kPassword, else 401
//   /private/moved             302 to /private/ok.html, behind the same credentials
// The access log has one line per request: "<request line> <status> via=<Via header>".
// With `https`, the same site is also served over TLS, on a port of its own
// for each certificate.
struct NginxOptions {
    std::vector<test::CertFiles> https;
};

class NginxServer {
public:
    static constexpr const char* kUser = "vantor";
    static constexpr const char* kPassword = "web-secret";

    // `dir` must exist and be traversable by everyone.
    explicit NginxServer(const std::string& dir, NginxOptions options = {});

    int port() const { return m_port; }
    std::string url(const std::string& path) const;
    // The HTTPS port that serves the certificate of `kind`; throws a
    // SetupError when none was asked for.
    int httpsPort(test::CertKind kind) const;
    // "https://127.0.0.1:<httpsPort(kind)><path>"
    std::string httpsUrl(test::CertKind kind, const std::string& path) const;
    std::string accessLog() const;
    ServerProcess& process() { return *m_process; }

private:
    std::string m_dir;
    NginxOptions m_options;
    int m_port = 0;
    std::vector<int> m_httpsPorts;  // one per m_options.https
    std::unique_ptr<ServerProcess> m_process;
};

// tinyproxy with Basic proxy authentication kUser:kPassword, run in the
// foreground under nobody:nogroup (it will not serve as root).
class TinyproxyServer {
public:
    static constexpr const char* kUser = "vantorproxy";
    static constexpr const char* kPassword = "proxy-secret";

    explicit TinyproxyServer(const std::string& dir);

    int port() const { return m_port; }
    ServerProcess& process() { return *m_process; }

private:
    int m_port = 0;
    std::unique_ptr<ServerProcess> m_process;
};

// dovecot with POP3 and IMAP in clear text, a passwd-file of two accounts
// (plain passwords) whose mail is kept as nobody:nogroup in the directory.
// With `tls`, ssl=yes: the plain ports offer STLS and STARTTLS, and POP3S
// and IMAPS listen on ports of their own.
struct DovecotOptions {
    std::optional<test::CertFiles> tls;
};

class DovecotServer {
public:
    static constexpr const char* kUser = "vantor";
    static constexpr const char* kPassword = "mail-secret";
    // A password that an IMAP client must send as a quoted string.
    static constexpr const char* kQuotedUser = "vantor.quoted";
    static constexpr const char* kQuotedPassword = "two words \"quoted\" back\\slash";

    explicit DovecotServer(const std::string& dir, DovecotOptions options = {});

    int pop3Port() const { return m_pop3Port; }
    int imapPort() const { return m_imapPort; }
    // Implicit TLS; 0 without `tls`.
    int pop3sPort() const { return m_pop3sPort; }
    int imapsPort() const { return m_imapsPort; }
    std::string log() const;
    ServerProcess& process() { return *m_process; }

private:
    std::string m_dir;
    int m_pop3Port = 0;
    int m_imapPort = 0;
    int m_pop3sPort = 0;
    int m_imapsPort = 0;
    std::unique_ptr<ServerProcess> m_process;
};

// The local account that vsftpd logs in. vsftpd checks local users'
// passwords through PAM only, so the account is a real system user:
// "vantorftp" (system account, home "/", no home directory made, shell
// /usr/sbin/nologin) with a fresh random password, checked through a PAM
// service of its own, /etc/pam.d/vantor-interop-ftp, that asks pam_unix
// alone (Debian's "vsftpd" service also wants the shell in /etc/shells).
// Both are made when the holder is and removed when it goes; an exclusive
// lock on /run/vantor-interop-ftp.lock meanwhile keeps test processes that
// run side by side off each other's account. Needs root.
class FtpAccount {
public:
    static constexpr const char* kUser = "vantorftp";
    static constexpr const char* kPamService = "vantor-interop-ftp";

    FtpAccount();
    ~FtpAccount();
    FtpAccount(const FtpAccount&) = delete;
    FtpAccount& operator=(const FtpAccount&) = delete;

    const std::string& password() const { return m_password; }

private:
    void create();
    void release();

    int m_lockFd = -1;
    std::string m_password;
};

// vsftpd standalone in the foreground (background=NO), local logins only,
// read-only, the session's directory in `dir`, every command and answer in
// its log (log_ftp_protocol).
// With `tls`: explicit TLS (AUTH TLS, then PBSZ 0 and PROT P) on port(), or
// with `implicitTls` TLS from the first byte instead (its greeting comes
// over TLS). `forceLoginTls` refuses USER before TLS (vsftpd's
// force_local_logins_ssl, and force_local_data_ssl with it).
struct VsftpdOptions {
    std::optional<test::CertFiles> tls;
    bool implicitTls = false;
    bool forceLoginTls = true;
};

class VsftpdServer {
public:
    explicit VsftpdServer(const std::string& dir, VsftpdOptions options = {});

    int port() const { return m_port; }
    std::string log() const;
    ServerProcess& process() { return *m_process; }

private:
    std::string m_dir;
    int m_port = 0;
    std::unique_ptr<ServerProcess> m_process;
};

// aiosmtpd, Python's SMTP server, with its default handler: it greets,
// answers EHLO and takes mail without delivering it. Its log shows each line
// it read as ">> b'...'".
//
// Given any option, it runs a script of ours on aiosmtpd instead, that takes
// mail into nowhere and logs, besides aiosmtpd's own lines (which hide AUTH
// arguments), every line it reads as it came, with how it came:
//   "('127.0.0.1', 40000) clear >> b'AUTH PLAIN AHZhbnRvcgBzZWNyZXQ='"
//   "('127.0.0.1', 40000) tls >> b'AUTH PLAIN ...'"
// so a test sees whether a password went over the wire in the clear.
//   tls:             STARTTLS offered; with requireStartTls, no other command
//                    than EHLO, NOOP, QUIT before it (530 otherwise)
//   implicitTls:     TLS from the first byte instead (port 465 style)
//   auth:            AUTH PLAIN and LOGIN (only PLAIN with plainOnly) for
//                    kUser:kPassword; offered only over TLS when TLS is set up,
//                    in the clear when it is not
struct AiosmtpdOptions {
    std::optional<test::CertFiles> tls;
    bool implicitTls = false;
    bool requireStartTls = true;
    bool auth = false;
    bool plainOnly = false;
};

class AiosmtpdServer {
public:
    static constexpr const char* kUser = "vantor-mail";
    static constexpr const char* kPassword = "smtp-secret";

    explicit AiosmtpdServer(const std::string& dir);
    AiosmtpdServer(const std::string& dir, const AiosmtpdOptions& options);

    int port() const { return m_port; }
    std::string log() const;
    ServerProcess& process() { return *m_process; }

private:
    std::string m_logPath;
    int m_port = 0;
    std::unique_ptr<ServerProcess> m_process;
};

// Makes `dir` traversable by the users that servers switch to.
void OpenForServers(const std::string& dir);

}  // namespace vantor::interop
