// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "history/HistoryTypes.h"

namespace vantor::app {
class Clock;
class SystemLog;
}  // namespace vantor::app

namespace vantor::history {

class HistoryDb;

// The result history: the owner thread hands verdicts over, one writer
// thread owns the database and writes them in batches (one transaction at
// most about once a second, at once when a round ends), rolls them up once
// an hour and keeps the summaries the service list shows. A database that
// cannot be used is logged once at Error and everything else goes on
// without history; a damaged one is moved aside and a new one started.
class HistoryStore final {
public:
    // dir: the history folder (made 0700); the database is history.db in it.
    HistoryStore(std::string dir, const HistorySettings& settings, app::SystemLog& log,
                 const app::Clock& clock);
    // Writes what was handed over, then stops the writer.
    ~HistoryStore();
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    static std::string databaseIn(const std::string& dir) { return dir + "history.db"; }
    const std::string& databasePath() const { return m_path; }

    // Any thread; no disk, no SQLite.
    void record(Verdict verdict);
    // A round of checks has come back: what is waiting is written now.
    void roundEnded();
    // The rows of a service follow it to its new key.
    void rename(std::string oldKey, std::string newKey);
    // Calls `done` on the writer thread with every service's recent
    // verdicts (HistoryDb::recentVerdicts, at most the raw rows' span back),
    // or with none when there is no database: always once.
    void recentVerdicts(int window, std::function<void(std::vector<Verdict>)> done);
    // The last summary of a service, if the writer has made one.
    std::optional<Summary> summary(const std::string& key) const;
    // Called on the writer thread with the keys whose summary changed.
    // Summaries are kept only once someone listens: a program without a
    // window has no use for them.
    void setOnSummaries(std::function<void(std::vector<std::string>)> callback);

    // Waits until the database was opened (or found unusable) and
    // everything handed over before the call is written (or dropped by a
    // failing database). For tests and benchmarks.
    void waitWritten();
    // Runs the hourly housekeeping on the next pass (tests and benchmarks).
    void housekeepNow();
    // False once the database could not be used (until it can again).
    bool available() const;
    // How long the writer's last batch took, its transaction alone.
    std::int64_t lastBatchMicros() const { return m_lastBatchUs.load(); }
    // The time all hourly housekeeping passes took together.
    std::int64_t housekeepMicros() const { return m_housekeepUs.load(); }

private:
    struct Op {
        enum class Kind { Verdict, Rename, Recent } kind = Kind::Verdict;
        Verdict verdict;
        std::string newKey;
        int window = 0;
        std::function<void(std::vector<Verdict>)> done;
    };
    void run();
    bool ensureOpen();
    void failed(const std::exception& e);
    void moveAside();
    void writeOps(std::vector<Op>& ops);
    // Answers a Recent op not answered yet, from the database if it is open.
    void answerRecent(Op& op);
    void refreshSummaries(const std::vector<std::string>& keys);
    void refreshAll();
    std::int64_t now() const;

    std::string m_dir;
    std::string m_path;
    HistorySettings m_settings;
    app::SystemLog& m_log;
    const app::Clock& m_clock;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_written;
    std::vector<Op> m_pending;
    std::uint64_t m_handed = 0;
    std::uint64_t m_done = 0;
    bool m_flush = false;
    bool m_housekeepNow = false;
    bool m_refreshAll = false;
    bool m_stop = false;
    bool m_opened = false;  // the first attempt to open is over
    bool m_available = true;
    std::unordered_map<std::string, Summary> m_summaries;
    std::function<void(std::vector<std::string>)> m_onSummaries;

    // Writer thread only.
    std::unique_ptr<HistoryDb> m_db;
    bool m_reported = false;
    std::int64_t m_nextHousekeep = 0;
    std::int64_t m_nextOpenTry = 0;
    std::atomic<std::int64_t> m_lastBatchUs{0};
    std::atomic<std::int64_t> m_housekeepUs{0};
    std::thread m_thread;
};

}  // namespace vantor::history
