// SPDX-License-Identifier: GPL-3.0-or-later
// The result history written through its real writer thread, with a clock
// that the benchmark moves: N services checked every 5 minutes for a span
// of simulated days, on the default retention (raw rows 7 days, hourly
// rollups 90, daily 400, 512 MB). The writer rolls up and expires as it
// would over that time (its hourly housekeeping follows the clock).
//
//   bench_history [--services N | --keys K1,K2,...] [--days D] [--keep DIR]
//
// The simulated span ends at the time of the run; --keep leaves the
// application directory (history/history.db) for --report to read.
//
// Prints the database's size on disk every simulated 30 days and at the
// end, the owner thread's cost of handing one verdict over (p50, p99,
// max), the writer's transaction for one round of N verdicts (p50,
// p99, max), and how long the alarm policy's start-up read of every
// service's recent verdicts takes (target < 2 s at 10,000 with 7 days). Targets: a year of 1,000
// services <= 100 MB, of 10,000 <= 1 GB; a round's transaction < 100 ms at 10,000; a hand-over < 5
// us (p99).
//
// Summaries for the service list are not kept (no window listens), as in
// the program without windows.

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <future>
#include <string>
#include <vector>

#include "app/AppPaths.h"
#include "app/AppSettings.h"
#include "app/SystemLog.h"
#include "history/HistoryStore.h"
#include "support/MockClock.h"
#include "support/RecordingReporter.h"
#include "support/TempDir.h"

namespace {

using namespace vantor;
using Clock = std::chrono::steady_clock;

std::int64_t FileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<std::int64_t>(st.st_size) : 0;
}

struct Stats {
    double p50, p99, max;
};

Stats Summarise(std::vector<double> v) {
    if (v.empty()) {
        return {0, 0, 0};
    }
    std::sort(v.begin(), v.end());
    auto at = [&](double q) {
        return v[std::min(v.size() - 1,
                          static_cast<std::size_t>(q * static_cast<double>(v.size())))];
    };
    return {at(0.50), at(0.99), v.back()};
}

}  // namespace

int main(int argc, char** argv) {
    int services = 1000;
    int days = 365;
    std::string keep;
    std::string given;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--services") == 0) {
            services = std::atoi(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--days") == 0) {
            days = std::atoi(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--keep") == 0) {
            keep = argv[i + 1];
        } else if (std::strcmp(argv[i], "--keys") == 0) {
            given = argv[i + 1];
        }
    }
    test::TempDir dir;
    const std::string root = keep.empty() ? dir.path() : keep;
    ::mkdir(root.c_str(), 0700);
    app::AppPaths paths(root);
    paths.CheckLogDir();
    app::AppSettings settings;
    // The simulated span ends now, so that --report reads it as recent.
    test::MockClock clock;
    {
        const std::time_t start = std::time(nullptr) - static_cast<std::time_t>(days) * 86400;
        std::tm local{};
        ::localtime_r(&start, &local);
        clock.setLocal(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                       local.tm_min, 0);
    }
    test::RecordingReporter reporter;
    app::SystemLog log(paths, settings, clock, reporter);
    const std::string historyDir = root + "/history/";
    std::vector<std::string> keys;
    for (std::size_t at = 0; !given.empty() && at <= given.size();) {
        const std::size_t comma = std::min(given.find(',', at), given.size());
        keys.push_back(given.substr(at, comma - at));
        at = comma + 1;
    }
    for (int i = 0; given.empty() && i < services; ++i) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "svc%06d", i);
        keys.emplace_back(buf);
    }
    services = static_cast<int>(keys.size());

    std::vector<double> handOverUs;
    std::vector<double> batchMs;
    std::vector<bool> afterHousekeep;  // the round came right after one
    bool housekept = false;
    const int rounds = days * 288;
    const auto started = Clock::now();
    std::int64_t housekeepUs = 0;
    double rebuildMs = 0;
    std::size_t rebuildRows = 0;
    {
        history::HistoryStore store(historyDir, history::HistorySettings{}, log, clock);
        for (int round = 0; round < rounds; ++round) {
            const std::int64_t now =
                std::chrono::duration_cast<std::chrono::seconds>(clock.now().time_since_epoch())
                    .count();
            // The hand-over is timed in the first thousand rounds and the
            // last ones: a sample large enough for its p99.
            const bool timed = round < 200 || round >= rounds - 20;
            for (int i = 0; i < services; ++i) {
                history::Verdict v;
                v.key = keys[static_cast<std::size_t>(i)];
                // A round's checks come back over its first minute.
                v.time = now + (i % 60);
                const unsigned h =
                    static_cast<unsigned>(round) * 2654435761u ^ static_cast<unsigned>(i) * 40503u;
                v.failed = h % 211 == 0;
                v.responseUs = 40000 + static_cast<std::int64_t>(h % 60000);
                if (v.failed) {
                    v.detail = "[" + v.key + ".example:80] Failed:Connection refused";
                }
                if (timed) {
                    const auto t0 = Clock::now();
                    store.record(std::move(v));
                    handOverUs.push_back(
                        std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
                } else {
                    store.record(std::move(v));
                }
            }
            store.roundEnded();
            store.waitWritten();
            batchMs.push_back(static_cast<double>(store.lastBatchMicros()) / 1000.0);
            // A housekeeping runs after the round's batch: the next round
            // is the one that follows it.
            afterHousekeep.push_back(housekept);
            housekept = store.housekeepMicros() != housekeepUs;
            clock.advance(std::chrono::minutes(5));
            housekeepUs = store.housekeepMicros();
            if ((round + 1) % (288 * 30) == 0 || round + 1 == rounds) {
                const std::string db = history::HistoryStore::databaseIn(historyDir);
                std::fprintf(stderr, "day %4d: %.1f MB on disk (db %.1f MB, wal %.1f MB), %.0f s\n",
                             (round + 1) / 288,
                             static_cast<double>(FileSize(db) + FileSize(db + "-wal")) / 1e6,
                             static_cast<double>(FileSize(db)) / 1e6,
                             static_cast<double>(FileSize(db + "-wal")) / 1e6,
                             std::chrono::duration<double>(Clock::now() - started).count());
            }
        }
        // What the alarm policy reads at start to take up where it was.
        std::promise<std::size_t> answered;
        const auto asked = Clock::now();
        store.recentVerdicts(
            21, [&](std::vector<history::Verdict> v) { answered.set_value(v.size()); });
        const std::size_t rebuilt = answered.get_future().get();
        rebuildMs = std::chrono::duration<double, std::milli>(Clock::now() - asked).count();
        rebuildRows = rebuilt;
    }
    const std::string db = history::HistoryStore::databaseIn(historyDir);
    const std::int64_t size = FileSize(db) + FileSize(db + "-wal");
    const Stats hand = Summarise(handOverUs);
    const Stats batch = Summarise(batchMs);
    std::printf("services %d, %d days every 5 min: %lld verdicts in %.0f s\n", services, days,
                static_cast<long long>(rounds) * services,
                std::chrono::duration<double>(Clock::now() - started).count());
    std::printf("on disk after closing: %.1f MB (%.1f bytes per verdict kept of a year)\n",
                static_cast<double>(size) / 1e6,
                static_cast<double>(size) / (static_cast<double>(rounds) * services));
    std::printf("hourly housekeeping (rollups, moves, retention): %.1f s in all\n",
                static_cast<double>(housekeepUs) / 1e6);
    std::printf("hand-over per verdict (owner thread): p50 %.3f us  p99 %.3f us  max %.1f us\n",
                hand.p50, hand.p99, hand.max);
    std::printf("writer transaction per round of %d: p50 %.2f ms  p99 %.2f ms  max %.2f ms\n",
                services, batch.p50, batch.p99, batch.max);
    // Where the slowest rounds fell: a housekeeping just before, or the
    // time of day of their simulated disk.
    std::vector<std::size_t> order(batchMs.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return batchMs[a] > batchMs[b]; });
    std::printf("slowest rounds:");
    for (std::size_t i = 0; i < std::min<std::size_t>(8, order.size()); ++i) {
        const std::size_t r = order[i];
        std::printf(" %.1f ms (day %zu, %02zu:%02zu%s)", batchMs[r], r / 288, r % 288 / 12,
                    r % 12 * 5, afterHousekeep[r] ? ", after housekeeping" : "");
    }
    std::printf("\n");
    std::printf("alarm policy state from the history: %zu verdicts of %d services in %.0f ms\n",
                rebuildRows, services, rebuildMs);
    for (const std::string& box : reporter.boxes()) {
        std::printf("box: %s\n", box.c_str());
    }
    return reporter.boxes().empty() ? 0 : 1;
}
