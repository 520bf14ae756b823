#include "InteropServers.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

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

NginxServer::NginxServer(const std::string& dir) : m_dir(dir + "/nginx") {
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
    server {
        listen 127.0.0.1:@PORT@;
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
}
)",
                                          {{"@DIR@", m_dir}, {"@PORT@", std::to_string(m_port)}}));
        return Launch{"nginx",
                      {"/usr/sbin/nginx", "-p", m_dir, "-c", m_dir + "/nginx.conf"},
                      m_dir + "/nginx.out",
                      m_dir,
                      {{m_port, ""}}};
    });
}

std::string NginxServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(m_port) + path;
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

DovecotServer::DovecotServer(const std::string& dir) : m_dir(dir + "/dovecot") {
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

    m_process = StartServer([this] {
        m_pop3Port = FreePort();
        m_imapPort = FreePort();
        while (m_imapPort == m_pop3Port) {
            m_imapPort = FreePort();
        }
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
ssl = no
disable_plaintext_auth = no
auth_mechanisms = plain login
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
    port = 0
  }
}
service pop3-login {
  inet_listener pop3 {
    port = @POP3@
  }
  inet_listener pop3s {
    port = 0
  }
}
)",
                                            {{"@DIR@", m_dir},
                                             {"@IMAP@", std::to_string(m_imapPort)},
                                             {"@POP3@", std::to_string(m_pop3Port)}}));
        return Launch{"dovecot",
                      {"/usr/sbin/dovecot", "-F", "-c", m_dir + "/dovecot.conf"},
                      m_dir + "/dovecot.out",
                      m_dir,
                      {{m_pop3Port, "+OK"}, {m_imapPort, "* OK"}},
                      // The instance is thrown away: no need to wait for a
                      // slow orderly shutdown.
                      std::chrono::seconds(2)};
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

VsftpdServer::VsftpdServer(const std::string& dir) : m_dir(dir + "/vsftpd") {
    RequireProgram("/usr/sbin/vsftpd", "vsftpd");
    MakeDir(m_dir, 0755);
    MakeDir(m_dir + "/root", 0755);
    // secure_chroot_dir: empty, and not writable by the logged-in user.
    MakeDir(m_dir + "/empty", 0755);
    Write(m_dir + "/root/readme.txt", "Vantor Lite interop\n");
    m_process = StartServer([this] {
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
ssl_enable=NO
syslog_enable=NO
xferlog_enable=YES
xferlog_std_format=NO
log_ftp_protocol=YES
vsftpd_log_file=@DIR@/vsftpd.log
)",
                                           {{"@DIR@", m_dir},
                                            {"@PORT@", std::to_string(m_port)},
                                            {"@PAM@", FtpAccount::kPamService}}));
        return Launch{"vsftpd",
                      {"/usr/sbin/vsftpd", m_dir + "/vsftpd.conf"},
                      m_dir + "/vsftpd.out",
                      m_dir,
                      {{m_port, "220 "}}};
    });
}

std::string VsftpdServer::log() const {
    return ReadFile(m_dir + "/vsftpd.log");
}

// ---------------------------------------------------------------- aiosmtpd

AiosmtpdServer::AiosmtpdServer(const std::string& dir) {
    // This python, not one that another install put first on PATH.
    RequireProgram("/usr/bin/python3", "python3");
    if (::access("/usr/lib/python3/dist-packages/aiosmtpd/__main__.py", R_OK) != 0) {
        throw SetupError(
            "aiosmtpd is missing: install the Debian package python3-aiosmtpd "
            "(scripts/install-deps.sh does)");
    }
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
