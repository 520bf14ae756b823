// SPDX-License-Identifier: GPL-3.0-or-later
#include "InteropServers.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <thread>
#include <vector>

#include "support/TempDir.h"

namespace vantor::interop {

namespace {

using test::ReadFile;

struct Launch {
    std::string name;
    std::vector<std::string> argv;
    std::string logPath;
    std::string workDir;
    // Each port must accept connections and greet with the text beside it
    // (none when empty).
    std::vector<std::pair<int, std::string>> ports;
    std::chrono::milliseconds stopGrace = std::chrono::seconds(5);
};

// Starts the server that `prepare` configures on ports it picks. A server
// that ends before it listens may have lost one of its ports to another
// process since it was picked: it gets new ports and another try.
std::unique_ptr<ServerProcess> StartServer(const std::function<Launch()>& prepare) {
    constexpr int kAttempts = 3;
    for (int attempt = 1;; ++attempt) {
        const Launch launch = prepare();
        auto process = std::make_unique<ServerProcess>(launch.name, launch.argv, launch.logPath,
                                                       launch.workDir);
        process->setStopGrace(launch.stopGrace);
        try {
            for (const auto& [port, greeting] : launch.ports) {
                process->waitForPort(port, greeting);
            }
            return process;
        } catch (const SetupError&) {
            if (process->running() || attempt == kAttempts) {
                throw;
            }
        }
    }
}

struct Ids {
    uid_t uid;
    gid_t gid;
};

Ids Nobody() {
    const passwd* user = ::getpwnam("nobody");
    const group* grp = ::getgrnam("nogroup");
    if (user == nullptr || grp == nullptr) {
        throw SetupError("The system has no user nobody or no group nogroup");
    }
    return {user->pw_uid, grp->gr_gid};
}

std::string RandomPassword() {
    static constexpr char kChars[] = "abcdefghijkmnopqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789";
    std::random_device random;
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kChars - 2);
    std::string out;
    for (int i = 0; i < 24; ++i) {
        out += kChars[pick(random)];
    }
    return out;
}

// `count` free ports, none of them in `taken` nor the same as another.
std::vector<int> FreePorts(std::size_t count, std::vector<int> taken = {}) {
    std::vector<int> out;
    while (out.size() < count) {
        const int port = FreePort();
        if (std::find(taken.begin(), taken.end(), port) == taken.end()) {
            out.push_back(port);
            taken.push_back(port);
        }
    }
    return out;
}

void MustRun(const std::vector<std::string>& argv, const std::string& input = {}) {
    const CommandResult result = RunCommand(argv, input);
    if (result.exitCode != 0) {
        std::string line;
        for (const std::string& word : argv) {
            line += (line.empty() ? "" : " ") + word;
        }
        throw SetupError(line + " failed (exit " + std::to_string(result.exitCode) +
                         "): " + result.output);
    }
}

}  // namespace

void OpenForServers(const std::string& dir) {
    if (::chmod(dir.c_str(), 0755) != 0) {
        throw SetupError("Cannot open " + dir + " to the servers' users: " + std::strerror(errno));
    }
}

// ---------------------------------------------------------------- nginx

NginxServer::NginxServer(const std::string& dir, NginxOptions options)
    : m_dir(dir + "/nginx"), m_options(std::move(options)) {
    RequireProgram("/usr/sbin/nginx", "nginx");
    MakeDir(m_dir, 0755);
    MakeDir(m_dir + "/tmp", 0755);
    MakeDir(m_dir + "/www", 0755);
    MakeDir(m_dir + "/www/private", 0755);
    Write(m_dir + "/www/ok.html", "<html><body>ok</body></html>\n");
    Write(m_dir + "/www/private/ok.html", "<html><body>private</body></html>\n");
    // nginx takes a "{PLAIN}" password in its user file as it is.
    Write(m_dir + "/htpasswd", std::string(kUser) + ":{PLAIN}" + kPassword + "\n");

    m_process = StartServer([this] {
        m_port = FreePort();
        m_httpsPorts = FreePorts(m_options.https.size(), {m_port});
        // Every port serves the same site; the HTTPS ones each with their
        // certificate.
        const std::string site = R"(
        server_name localhost;
        root @DIR@/www;
        location = /moved { return 301 /ok.html; }
        location = /found { return 302 /ok.html; }
        location /private/ {
            auth_basic "Vantor interop";
            auth_basic_user_file @DIR@/htpasswd;
        }
        location = /private/moved {
            auth_basic "Vantor interop";
            auth_basic_user_file @DIR@/htpasswd;
            return 302 /private/ok.html;
        }
    }
)";
        std::string servers =
            "    server {\n        listen 127.0.0.1:" + std::to_string(m_port) + ";" + site;
        for (std::size_t i = 0; i < m_options.https.size(); ++i) {
            servers += "    server {\n        listen 127.0.0.1:" + std::to_string(m_httpsPorts[i]) +
                       " ssl;\n        ssl_certificate " + m_options.https[i].cert +
                       ";\n        ssl_certificate_key " + m_options.https[i].key + ";" + site;
        }
        // The error log goes to standard error until the configuration is
        // read: -p alone does not move it.
        Write(m_dir + "/nginx.conf", Fill(R"(daemon off;
master_process off;
worker_processes 1;
pid @DIR@/nginx.pid;
error_log @DIR@/error.log info;
events { worker_connections 64; }
http {
    log_format interop '$request $status via="$http_via"';
    access_log @DIR@/access.log interop;
    client_body_temp_path @DIR@/tmp/body;
    proxy_temp_path @DIR@/tmp/proxy;
    fastcgi_temp_path @DIR@/tmp/fastcgi;
    uwsgi_temp_path @DIR@/tmp/uwsgi;
    scgi_temp_path @DIR@/tmp/scgi;
@SERVERS@}
)",
                                          {{"@SERVERS@", servers}, {"@DIR@", m_dir}}));
        Launch launch{"nginx",
                      {"/usr/sbin/nginx", "-p", m_dir, "-c", m_dir + "/nginx.conf"},
                      m_dir + "/nginx.out",
                      m_dir,
                      {{m_port, ""}}};
        for (int port : m_httpsPorts) {
            launch.ports.emplace_back(port, "");
        }
        return launch;
    });
}

std::string NginxServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(m_port) + path;
}

int NginxServer::httpsPort(test::CertKind kind) const {
    for (std::size_t i = 0; i < m_options.https.size(); ++i) {
        if (m_options.https[i].kind == kind) {
            return m_httpsPorts[i];
        }
    }
    throw SetupError("nginx serves no HTTPS with the " + test::Name(kind) + " certificate");
}

std::string NginxServer::httpsUrl(test::CertKind kind, const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(httpsPort(kind)) + path;
}

std::string NginxServer::accessLog() const {
    return ReadFile(m_dir + "/access.log");
}

// ---------------------------------------------------------------- tinyproxy

TinyproxyServer::TinyproxyServer(const std::string& dir) {
    RequireProgram("/usr/bin/tinyproxy", "tinyproxy");
    const std::string d = dir + "/tinyproxy";
    MakeDir(d, 0755);
    m_process = StartServer([this, d] {
        m_port = FreePort();
        // Without LogFile or Syslog, -d logs to standard output.
        Write(d + "/tinyproxy.conf", Fill(R"(User nobody
Group nogroup
Listen 127.0.0.1
Port @PORT@
Timeout 30
MaxClients 20
LogLevel Info
BasicAuth @USER@ @PASSWORD@
)",
                                          {{"@PORT@", std::to_string(m_port)},
                                           {"@USER@", kUser},
                                           {"@PASSWORD@", kPassword}}));
        return Launch{"tinyproxy",
                      {"/usr/bin/tinyproxy", "-d", "-c", d + "/tinyproxy.conf"},
                      d + "/tinyproxy.out",
                      d,
                      {{m_port, ""}}};
    });
}

// ---------------------------------------------------------------- dovecot

DovecotServer::DovecotServer(const std::string& dir, DovecotOptions options)
    : m_dir(dir + "/dovecot") {
    RequireProgram("/usr/sbin/dovecot", "dovecot-core");
    RequireProgram("/usr/lib/dovecot/pop3-login", "dovecot-pop3d");
    RequireProgram("/usr/lib/dovecot/imap-login", "dovecot-imapd");
    const Ids nobody = Nobody();
    MakeDir(m_dir, 0755);
    MakeDir(m_dir + "/mail", 0700);
    if (::chown((m_dir + "/mail").c_str(), nobody.uid, nobody.gid) != 0) {
        throw SetupError("Cannot give " + m_dir + "/mail to nobody: " + std::strerror(errno));
    }
    // user:password:uid:gid:gecos:home:shell:extra; the auth process reads it
    // as the dovecot user.
    std::string users;
    for (const auto& [user, password] :
         {std::pair{kUser, kPassword}, std::pair{kQuotedUser, kQuotedPassword}}) {
        users += std::string(user) + ":{PLAIN}" + password + ":" + std::to_string(nobody.uid) +
                 ":" + std::to_string(nobody.gid) + "::" + m_dir + "/mail/" + user + "::\n";
    }
    Write(m_dir + "/users", users);

    // The key is read by the master process, as root, at start.
    const std::string ssl = options.tls
                                ? "ssl = yes\nssl_cert = <" + options.tls->cert + "\nssl_key = <" +
                                      options.tls->key + "\ndisable_plaintext_auth = yes\n"
                                : "ssl = no\ndisable_plaintext_auth = no\n";
    const bool tls = options.tls.has_value();
    m_process = StartServer([this, ssl, tls] {
        const std::vector<int> ports = FreePorts(tls ? 4 : 2);
        m_pop3Port = ports[0];
        m_imapPort = ports[1];
        m_pop3sPort = tls ? ports[2] : 0;
        m_imapsPort = tls ? ports[3] : 0;
        // A restart after a lost port must not meet the last try's sockets.
        std::error_code ec;
        std::filesystem::remove_all(m_dir + "/run", ec);
        // The anvil-auth-penalty listener is closed: no growing delay for the
        // failed logins that the tests make on purpose.
        Write(m_dir + "/dovecot.conf", Fill(R"(protocols = imap pop3
listen = 127.0.0.1
base_dir = @DIR@/run
state_dir = @DIR@/state
log_path = @DIR@/dovecot.log
@SSL@auth_mechanisms = plain login
auth_failure_delay = 0
default_internal_user = dovecot
default_login_user = dovenull
mail_location = maildir:~/Maildir
passdb {
  driver = passwd-file
  args = @DIR@/users
}
userdb {
  driver = passwd-file
  args = @DIR@/users
}
service anvil {
  unix_listener anvil-auth-penalty {
    mode = 0
  }
}
service imap-login {
  inet_listener imap {
    port = @IMAP@
  }
  inet_listener imaps {
    port = @IMAPS@
  }
}
service pop3-login {
  inet_listener pop3 {
    port = @POP3@
  }
  inet_listener pop3s {
    port = @POP3S@
  }
}
)",
                                            {{"@SSL@", ssl},
                                             {"@DIR@", m_dir},
                                             {"@IMAPS@", std::to_string(m_imapsPort)},
                                             {"@POP3S@", std::to_string(m_pop3sPort)},
                                             {"@IMAP@", std::to_string(m_imapPort)},
                                             {"@POP3@", std::to_string(m_pop3Port)}}));
        Launch launch{"dovecot",
                      {"/usr/sbin/dovecot", "-F", "-c", m_dir + "/dovecot.conf"},
                      m_dir + "/dovecot.out",
                      m_dir,
                      {{m_pop3Port, "+OK"}, {m_imapPort, "* OK"}},
                      // The instance is thrown away: no need to wait for a
                      // slow orderly shutdown.
                      std::chrono::seconds(2)};
        if (tls) {
            // Their greetings come over TLS: accepting is enough here.
            launch.ports.emplace_back(m_pop3sPort, "");
            launch.ports.emplace_back(m_imapsPort, "");
        }
        return launch;
    });
}

std::string DovecotServer::log() const {
    return ReadFile(m_dir + "/dovecot.log");
}

// ---------------------------------------------------------------- FTP account

FtpAccount::FtpAccount() {
    if (::geteuid() != 0) {
        throw SetupError(std::string("The FTP tests need root: vsftpd logs in local users ") +
                         "only, so the test adds and changes the local account " + kUser);
    }
    for (const char* tool :
         {"/usr/sbin/useradd", "/usr/sbin/usermod", "/usr/sbin/userdel", "/usr/sbin/chpasswd"}) {
        RequireProgram(tool, "passwd");
    }
    const std::string lockPath = "/run/vantor-interop-ftp.lock";
    m_lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_lockFd < 0) {
        throw SetupError("Cannot open " + lockPath + ": " + std::strerror(errno));
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (::flock(m_lockFd, LOCK_EX | LOCK_NB) != 0) {
        if (std::chrono::steady_clock::now() >= end) {
            ::close(m_lockFd);
            throw SetupError("Another test process held " + lockPath + " for 60 s");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }

    try {
        create();
    } catch (...) {
        release();
        throw;
    }
}

FtpAccount::~FtpAccount() {
    release();
}

void FtpAccount::create() {
    const std::string pamPath = std::string("/etc/pam.d/") + kPamService;
    const std::string pam =
        "# The Vantor Lite interop tests' vsftpd: local passwords, nothing else.\n"
        "auth    required pam_unix.so nodelay\n"
        "account required pam_unix.so\n"
        "session required pam_permit.so\n";
    Write(pamPath + ".new", pam);
    if (std::rename((pamPath + ".new").c_str(), pamPath.c_str()) != 0) {
        throw SetupError("Cannot write " + pamPath + ": " + std::strerror(errno));
    }

    // vsftpd changes to the home directory before local_root: "/" always
    // exists. An account left by a test process that crashed is taken over.
    const passwd* user = ::getpwnam(kUser);
    if (user == nullptr) {
        MustRun({"/usr/sbin/useradd", "--system", "--no-create-home", "--home-dir", "/", "--shell",
                 "/usr/sbin/nologin", "--comment", "Vantor Lite interop tests", kUser});
    } else if (std::string(user->pw_dir) != "/" ||
               std::string(user->pw_shell) != "/usr/sbin/nologin") {
        MustRun({"/usr/sbin/usermod", "--home", "/", "--shell", "/usr/sbin/nologin", kUser});
    }
    m_password = RandomPassword();
    MustRun({"/usr/sbin/chpasswd"}, std::string(kUser) + ":" + m_password + "\n");
}

void FtpAccount::release() {
    // Neither the account nor the PAM service is left behind; should the
    // account still be in use, its password is locked instead.
    if (::getpwnam(kUser) != nullptr && RunCommand({"/usr/sbin/userdel", kUser}).exitCode != 0) {
        RunCommand({"/usr/sbin/usermod", "--password", "!", kUser});
    }
    std::remove((std::string("/etc/pam.d/") + kPamService).c_str());
    ::close(m_lockFd);
    m_lockFd = -1;
}

// ---------------------------------------------------------------- vsftpd

VsftpdServer::VsftpdServer(const std::string& dir, VsftpdOptions options) : m_dir(dir + "/vsftpd") {
    RequireProgram("/usr/sbin/vsftpd", "vsftpd");
    MakeDir(m_dir, 0755);
    MakeDir(m_dir + "/root", 0755);
    // secure_chroot_dir: empty, and not writable by the logged-in user.
    MakeDir(m_dir + "/empty", 0755);
    Write(m_dir + "/root/readme.txt", "Vantor Lite interop\n");
    std::string ssl = "ssl_enable=NO\n";
    if (options.tls) {
        // require_ssl_reuse=NO: a client need not resume the control
        // connection's session on its data connections.
        const std::string force = options.forceLoginTls ? "YES" : "NO";
        ssl = Fill(R"(ssl_enable=YES
implicit_ssl=@IMPLICIT@
rsa_cert_file=@CERT@
rsa_private_key_file=@KEY@
allow_anon_ssl=NO
force_local_logins_ssl=@FORCE@
force_local_data_ssl=@FORCE@
require_ssl_reuse=NO
ssl_ciphers=HIGH
ssl_tlsv1=YES
ssl_sslv2=NO
ssl_sslv3=NO
debug_ssl=YES
)",
                   {{"@IMPLICIT@", options.implicitTls ? "YES" : "NO"},
                    {"@CERT@", options.tls->cert},
                    {"@KEY@", options.tls->key},
                    {"@FORCE@", force}});
    }
    // With implicit TLS the greeting is encrypted: accepting is enough.
    const std::string greeting = options.tls && options.implicitTls ? "" : "220 ";
    m_process = StartServer([this, ssl, greeting] {
        m_port = FreePort();
        // No syslog; the xferlog file in vsftpd's own format with every
        // command and answer (passwords shown as <password>).
        Write(m_dir + "/vsftpd.conf", Fill(R"(listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port=@PORT@
background=NO
anonymous_enable=NO
local_enable=YES
write_enable=NO
pam_service_name=@PAM@
secure_chroot_dir=@DIR@/empty
local_root=@DIR@/root
connect_from_port_20=NO
delay_failed_login=0
seccomp_sandbox=NO
@SSL@syslog_enable=NO
xferlog_enable=YES
xferlog_std_format=NO
log_ftp_protocol=YES
vsftpd_log_file=@DIR@/vsftpd.log
)",
                                           {{"@SSL@", ssl},
                                            {"@DIR@", m_dir},
                                            {"@PORT@", std::to_string(m_port)},
                                            {"@PAM@", FtpAccount::kPamService}}));
        return Launch{"vsftpd",
                      {"/usr/sbin/vsftpd", m_dir + "/vsftpd.conf"},
                      m_dir + "/vsftpd.out",
                      m_dir,
                      {{m_port, greeting}}};
    });
}

std::string VsftpdServer::log() const {
    return ReadFile(m_dir + "/vsftpd.log");
}

// ---------------------------------------------------------------- aiosmtpd

namespace {

void RequireAiosmtpd() {
    // This python, not one that another install put first on PATH.
    RequireProgram("/usr/bin/python3", "python3");
    if (::access("/usr/lib/python3/dist-packages/aiosmtpd/__main__.py", R_OK) != 0) {
        throw SetupError(
            "aiosmtpd is missing: install the Debian package python3-aiosmtpd "
            "(scripts/install-deps.sh does)");
    }
}

// aiosmtpd's own log hides AUTH arguments and leaves out the answers to
// AUTH LOGIN's prompts; the lines as they came are what tells whether a
// password crossed the wire in the clear, so they are logged here, below
// aiosmtpd, with the state of the connection when they arrived.
constexpr const char* kSmtpScript = R"PY(import argparse
import asyncio
import logging
import ssl

from aiosmtpd.handlers import Sink
from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

parser = argparse.ArgumentParser()
parser.add_argument("--port", type=int, required=True)
parser.add_argument("--cert")
parser.add_argument("--key")
parser.add_argument("--implicit", action="store_true")
parser.add_argument("--require-starttls", action="store_true")
parser.add_argument("--user")
parser.add_argument("--password")
parser.add_argument("--plain-only", action="store_true")
args = parser.parse_args()

logging.basicConfig(level=logging.ERROR)
log = logging.getLogger("mail.log")
log.setLevel(logging.DEBUG)


class LoggedSMTP(SMTP):
    def __init__(self, *a, **kw):
        super().__init__(*a, **kw)
        self._raw = b""

    def data_received(self, data):
        secure = args.implicit or self._tls_protocol is not None
        self._raw += data
        while b"\n" in self._raw:
            line, self._raw = self._raw.split(b"\n", 1)
            log.info("%r %s >> %r", self.session.peer, "tls" if secure else "clear",
                     line.rstrip(b"\r"))
        super().data_received(data)


def authenticator(server, session, envelope, mechanism, auth_data):
    ok = (isinstance(auth_data, LoginPassword)
          and auth_data.login == args.user.encode()
          and auth_data.password == args.password.encode())
    return AuthResult(success=ok, handled=False)


context = None
if args.cert:
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(args.cert, args.key)

options = dict(
    tls_context=None if args.implicit else context,
    require_starttls=args.require_starttls,
    # Over implicit TLS aiosmtpd does not know it is encrypted.
    auth_require_tls=context is not None and not args.implicit,
)
if args.user:
    options["authenticator"] = authenticator
    if args.plain_only:
        options["auth_exclude_mechanism"] = ["LOGIN"]

loop = asyncio.new_event_loop()
server = loop.run_until_complete(loop.create_server(
    lambda: LoggedSMTP(Sink(), **options), host="127.0.0.1", port=args.port,
    ssl=context if args.implicit else None))
log.info("listening on 127.0.0.1:%d", args.port)
loop.run_forever()
)PY";

}  // namespace

AiosmtpdServer::AiosmtpdServer(const std::string& dir, const AiosmtpdOptions& options) {
    RequireAiosmtpd();
    const std::string d = dir + "/aiosmtpd";
    MakeDir(d, 0755);
    Write(d + "/smtpd.py", kSmtpScript);
    m_logPath = d + "/aiosmtpd.out";
    std::vector<std::string> args = {"/usr/bin/python3", d + "/smtpd.py"};
    if (options.tls) {
        args.insert(args.end(), {"--cert", options.tls->cert, "--key", options.tls->key});
        if (options.implicitTls) {
            args.emplace_back("--implicit");
        } else if (options.requireStartTls) {
            args.emplace_back("--require-starttls");
        }
    }
    if (options.auth) {
        args.insert(args.end(), {"--user", kUser, "--password", kPassword});
        if (options.plainOnly) {
            args.emplace_back("--plain-only");
        }
    }
    const std::string greeting = options.tls && options.implicitTls ? "" : "220 ";
    m_process = StartServer([this, d, args, greeting] {
        m_port = FreePort();
        std::vector<std::string> argv = args;
        argv.insert(argv.end(), {"--port", std::to_string(m_port)});
        return Launch{"aiosmtpd", argv, m_logPath, d, {{m_port, greeting}}};
    });
}

AiosmtpdServer::AiosmtpdServer(const std::string& dir) {
    RequireAiosmtpd();
    const std::string d = dir + "/aiosmtpd";
    MakeDir(d, 0755);
    m_logPath = d + "/aiosmtpd.out";
    m_process = StartServer([this, d] {
        m_port = FreePort();
        // -n: no switch to nobody; -d -d: every line in and out in the log.
        return Launch{"aiosmtpd",
                      {"/usr/bin/python3", "-m", "aiosmtpd", "-n", "-d", "-d", "-l",
                       "127.0.0.1:" + std::to_string(m_port)},
                      m_logPath,
                      d,
                      {{m_port, "220 "}}};
    });
}

std::string AiosmtpdServer::log() const {
    return ReadFile(m_logPath);
}

}  // namespace vantor::interop
