// SPDX-License-Identifier: GPL-3.0-or-later
// 24 hours of results for N services through the engine, with a clock the
// program moves: every 5 minutes each URL service is checked against a
// local web server whose answers follow a script (outages of every length,
// a flapping service, single failures), one service at a time, so that
// the alarms come in the order of the services. Failures are retried once
// and alarmed by syslog to 127.0.0.1; the backup file is on.
//
//   replay_alarms [--services N] [--hours H] OUT_DIR
//
// Writes OUT_DIR/alarms.txt (every alarm row: id, time, text, method,
// target, status), OUT_DIR/backup.txt (the backup file's lines) and
// OUT_DIR/service.xml (the service list after the run): the outputs of two
// builds compare with diff. Prints the counts and the time it took.

#include <sys/stat.h>

#include <dirent.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "alarm/AlarmListModel.h"
#include "app/AppPaths.h"
#include "app/AppSettings.h"
#include "app/SystemLog.h"
#include "registry/ServiceFields.h"
#include "support/EngineHarness.h"
#include "support/FakeHttpServer.h"
#include "support/LocalSockets.h"
#include "support/MockClock.h"
#include "support/RecordingReporter.h"
#include "support/TempDir.h"

namespace {

using namespace vantor;

// Whether service i's check fails in the given round (5-minute steps):
// one outage a day of 1 to 40 rounds at a place of its own, every 50th
// service flapping for two hours, and a few single failures.
bool Fails(int i, int round) {
    const int start = (i * 37) % 288;
    const int length = 1 + (i * 13) % 40;
    if (round >= start && round < start + length) {
        return true;
    }
    if (i % 50 == 0 && round >= 100 && round < 124) {
        return round % 2 == 0;
    }
    const unsigned h =
        static_cast<unsigned>(round) * 2654435761u ^ static_cast<unsigned>(i) * 40503u;
    return h % 97 == 0;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The server's port is the system's choice: "PORT" instead, so that two
// runs compare.
std::string WithoutPort(std::string text, const std::string& port) {
    for (auto at = text.find(port); at != std::string::npos; at = text.find(port, at + 4)) {
        text.replace(at, port.size(), "PORT");
    }
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    int services = 1000;
    int hours = 24;
    std::string out;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--services") == 0 && i + 1 < argc) {
            services = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--hours") == 0 && i + 1 < argc) {
            hours = std::atoi(argv[++i]);
        } else {
            out = argv[i];
        }
    }
    if (out.empty()) {
        std::fprintf(stderr, "usage: replay_alarms [--services N] [--hours H] OUT_DIR\n");
        return 2;
    }
    ::mkdir(out.c_str(), 0700);
    test::TempDir dir;
    app::AppPaths paths(dir.path());
    paths.CheckLogDir();
    ::mkdir((dir.path() + "/conf").c_str(), 0700);
    app::AppSettings settings;
    settings.httpRetry = 1;
    settings.httpDefaultTimeout = 3000;
    settings.backupEnable = true;
    settings.backupFilenamePath = paths.logDirPath();
    test::UdpReceiver syslog;
    settings.syslogEnable = true;
    settings.syslogIp = "127.0.0.1";
    settings.syslogPort = syslog.port();
    test::MockClock clock;
    clock.setLocal(2026, 12, 8, 0, 0, 0);
    test::RecordingReporter reporter;
    app::SystemLog log(paths, settings, clock, reporter);

    std::atomic<int> round{0};
    test::FakeHttpServer web(
        [&round](const test::SeenHttpRequest& request, int) {
            const auto at = request.target.rfind("/s");
            const int i = at == std::string::npos ? 0 : std::atoi(request.target.c_str() + at + 2);
            return test::HttpReply(test::HttpResponse(
                Fails(i, round.load()) ? "HTTP/1.1 500 Internal Server Error" : "HTTP/1.1 200 OK"));
        },
        test::FakeServer::Mode::OneAtATime);

    test::EngineHarness h(paths.serviceFilePath(), settings, log, reporter, clock);
    if (!h.store.CreateServiceFile().ok() || !h.store.OpenServiceFile(true).ok()) {
        std::fprintf(stderr, "replay_alarms: cannot make the service list\n");
        return 1;
    }
    h.start(50);
    std::vector<std::string> keys;
    for (int i = 0; i < services; ++i) {
        registry::ServiceFields f;
        f.service = "URL";
        f.ip = web.url("/s" + std::to_string(i));
        f.port = std::to_string(web.port());
        f.scheduleBy = "Minutely";
        f.scheduleHour = "00";
        f.scheduleMinute = "5";
        f.proxyPort = "0";
        f.urlMethod = "Get";
        f.alarmSyslog = "y";
        if (!h.store.InsertURLService(f, registry::UrlRequestFields{}).ok()) {
            std::fprintf(stderr, "replay_alarms: cannot add service %d\n", i);
            return 1;
        }
        keys.push_back("URL:" + f.ip + ":" + f.port);
    }
    h.services.Fill(h.store, "ALL");

    std::ofstream alarms(out + "/alarms.txt", std::ios::binary);
    std::set<std::string> seen;
    std::size_t rows = 0;
    const auto started = std::chrono::steady_clock::now();
    for (int r = 0; r < hours * 12; ++r) {
        round = r;
        for (const std::string& key : keys) {
            h.engine->DispatchServiceByKey(key);
            if (!h.drain(std::chrono::seconds(30))) {
                std::fprintf(stderr, "replay_alarms: a check of %s did not come back\n",
                             key.c_str());
                return 1;
            }
            // Newest first: the rows this check added are at the top.
            std::vector<std::string> fresh;
            for (const alarm::AlarmRow& row : h.alarms.rows()) {
                const std::string line = row.id + "\t" + row.dateTime + "\t" + row.message + "\t" +
                                         row.method + "\t" + row.target + "\t" + row.status;
                if (!seen.insert(row.id + "\t" + row.message).second) {
                    break;
                }
                fresh.push_back(WithoutPort(line, std::to_string(web.port())));
            }
            for (auto it = fresh.rbegin(); it != fresh.rend(); ++it) {
                alarms << *it << '\n';
                ++rows;
            }
        }
        clock.advance(std::chrono::minutes(5));
    }
    alarms.close();
    h.stop();
    static_cast<void>(h.store.flush());

    // The backup file(s) of the log folder, in name order.
    std::vector<std::string> names;
    if (DIR* d = ::opendir(paths.logDirPath().c_str())) {
        while (const dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name.rfind(settings.backupFilename, 0) == 0) {
                names.push_back(name);
            }
        }
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    std::ofstream backup(out + "/backup.txt", std::ios::binary);
    for (const std::string& name : names) {
        backup << "== " << name << '\n'
               << WithoutPort(ReadAll(paths.logDirPath() + "/" + name), std::to_string(web.port()));
    }
    std::ofstream(out + "/service.xml", std::ios::binary)
        << WithoutPort(ReadAll(paths.serviceFilePath()), std::to_string(web.port()));
    std::printf("%d services, %d hours every 5 min: %zu alarm rows, backup files %zu, %.0f s\n",
                services, hours, rows, names.size(),
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    for (const std::string& box : reporter.boxes()) {
        std::printf("box: %s\n", box.c_str());
    }
    return 0;
}
