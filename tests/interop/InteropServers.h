#pragma once

#include <memory>
#include <string>

#include "InteropProcess.h"

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
class NginxServer {
public:
    static constexpr const char* kUser = "vantor";
    static constexpr const char* kPassword = "web-secret";

    // `dir` must exist and be traversable by everyone.
    explicit NginxServer(const std::string& dir);

    int port() const { return m_port; }
    std::string url(const std::string& path) const;
    std::string accessLog() const;
    ServerProcess& process() { return *m_process; }

private:
    std::string m_dir;
    int m_port = 0;
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
class DovecotServer {
public:
    static constexpr const char* kUser = "vantor";
    static constexpr const char* kPassword = "mail-secret";
    // A password that an IMAP client must send as a quoted string.
    static constexpr const char* kQuotedUser = "vantor.quoted";
    static constexpr const char* kQuotedPassword = "two words \"quoted\" back\\slash";

    explicit DovecotServer(const std::string& dir);

    int pop3Port() const { return m_pop3Port; }
    int imapPort() const { return m_imapPort; }
    std::string log() const;
    ServerProcess& process() { return *m_process; }

private:
    std::string m_dir;
    int m_pop3Port = 0;
    int m_imapPort = 0;
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
class VsftpdServer {
public:
    explicit VsftpdServer(const std::string& dir);

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
class AiosmtpdServer {
public:
    explicit AiosmtpdServer(const std::string& dir);

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
