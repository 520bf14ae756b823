// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/HistoryStore.h"

#include <algorithm>

#include <sys/stat.h>

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <unordered_set>
#include <utility>

#include "app/Clock.h"
#include "app/SystemLog.h"
#include "app/TimeFormat.h"
#include "history/HistoryDb.h"
#include "history/Sqlite.h"

namespace vantor::history {

namespace {

constexpr std::int64_t kHour = 3600;
// A database that could not be used is tried again this often.
constexpr std::int64_t kRetryOpenSeconds = 600;
// Verdicts waiting beyond this many while the database cannot take them
// are dropped, oldest first: memory stays bounded.
constexpr std::size_t kMaxPending = 200000;

std::string DateSuffix(std::chrono::system_clock::time_point t) {
    const app::LocalTime lt = app::ToLocalTime(t);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d-%02d%02d%02d", lt.year, lt.month, lt.day, lt.hour,
                  lt.minute, lt.second);
    return buf;
}

}  // namespace

HistoryStore::HistoryStore(std::string dir, const HistorySettings& settings, app::SystemLog& log,
                           const app::Clock& clock)
    : m_dir(std::move(dir)),
      m_path(databaseIn(m_dir)),
      m_settings(settings),
      m_log(log),
      m_clock(clock) {
    m_thread = std::thread([this] { run(); });
}

HistoryStore::~HistoryStore() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

std::int64_t HistoryStore::now() const {
    return app::EpochSeconds(m_clock.now());
}

void HistoryStore::record(Verdict verdict) {
    std::lock_guard lock(m_mutex);
    if (m_pending.size() >= kMaxPending) {
        // The oldest verdict goes; a question waiting for its answer stays.
        const auto oldest = std::find_if(m_pending.begin(), m_pending.end(),
                                         [](const Op& op) { return op.kind != Op::Kind::Recent; });
        if (oldest != m_pending.end()) {
            m_pending.erase(oldest);
            ++m_done;
        }
    }
    m_pending.push_back(Op{Op::Kind::Verdict, std::move(verdict), {}, 0, {}});
    ++m_handed;
}

void HistoryStore::roundEnded() {
    {
        std::lock_guard lock(m_mutex);
        m_flush = true;
    }
    m_wake.notify_one();
}

void HistoryStore::rename(std::string oldKey, std::string newKey) {
    {
        std::lock_guard lock(m_mutex);
        Op op{Op::Kind::Rename, {}, std::move(newKey), 0, {}};
        op.verdict.key = std::move(oldKey);
        m_pending.push_back(std::move(op));
        ++m_handed;
        m_flush = true;
        // The list shows the summary under its new key at once.
        if (auto it = m_summaries.find(m_pending.back().verdict.key); it != m_summaries.end()) {
            m_summaries[m_pending.back().newKey] = it->second;
        }
    }
    m_wake.notify_one();
}

std::optional<Summary> HistoryStore::summary(const std::string& key) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_summaries.find(key);
    if (it == m_summaries.end()) {
        return std::nullopt;
    }
    return it->second;
}

void HistoryStore::setOnSummaries(std::function<void(std::vector<std::string>)> callback) {
    {
        std::lock_guard lock(m_mutex);
        m_onSummaries = std::move(callback);
        m_refreshAll = true;
        m_flush = true;
    }
    m_wake.notify_one();
}

void HistoryStore::waitWritten() {
    std::unique_lock lock(m_mutex);
    const std::uint64_t target = m_handed;
    m_flush = true;
    m_wake.notify_one();
    m_written.wait(lock, [&] { return (m_opened && m_done >= target) || m_stop; });
}

void HistoryStore::housekeepNow() {
    std::lock_guard lock(m_mutex);
    m_housekeepNow = true;
    m_flush = true;
    m_wake.notify_one();
}

bool HistoryStore::available() const {
    std::lock_guard lock(m_mutex);
    return m_available;
}

void HistoryStore::failed(const std::exception& e) {
    {
        std::lock_guard lock(m_mutex);
        m_available = false;
    }
    m_db.reset();
    m_nextOpenTry = now() + kRetryOpenSeconds;
    if (!m_reported) {
        m_reported = true;
        m_log.WriteSystemLog("History is not kept: " + m_path + " : " + e.what(),
                             app::LogLevel::Error);
    }
}

void HistoryStore::moveAside() {
    m_db.reset();
    const std::string aside = m_path + "." + DateSuffix(m_clock.now());
    // The journal files belong to the damaged file; without them SQLite
    // would try to replay them into the new one.
    const bool moved = ::rename(m_path.c_str(), aside.c_str()) == 0;
    for (const char* suffix : {"-wal", "-shm"}) {
        const std::string from = m_path + suffix;
        if (moved) {
            ::rename(from.c_str(), (aside + suffix).c_str());
        } else {
            ::unlink(from.c_str());
        }
    }
    m_log.WriteSystemLog("History database " + m_path + " is damaged; it was moved to " + aside +
                             " and a new one is started.",
                         app::LogLevel::Error);
}

bool HistoryStore::ensureOpen() {
    if (m_db) {
        return true;
    }
    if (now() < m_nextOpenTry) {
        return false;
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            if (::mkdir(m_dir.c_str(), 0700) != 0 && errno != EEXIST) {
                throw std::runtime_error(std::string("cannot make the folder: ") +
                                         std::strerror(errno));
            }
            auto db = HistoryDb::openWriter(m_path, now());
            if (!db->sound()) {
                throw SqliteError(SQLITE_CORRUPT, "database disk image is malformed");
            }
            m_db = std::move(db);
            {
                std::lock_guard lock(m_mutex);
                m_available = true;
            }
            m_reported = false;
            m_nextHousekeep = 0;
            refreshAll();
            return true;
        } catch (const SqliteError& e) {
            if (e.damaged() && attempt == 0) {
                moveAside();
                continue;
            }
            failed(e);
        } catch (const std::exception& e) {
            failed(e);
        }
        break;
    }
    return false;
}

void HistoryStore::refreshSummaries(const std::vector<std::string>& keys) {
    {
        std::lock_guard lock(m_mutex);
        if (!m_onSummaries) {
            return;
        }
    }
    if (keys.empty()) {
        return;
    }
    const std::int64_t t = now();
    std::vector<std::pair<std::string, Summary>> fresh;
    fresh.reserve(keys.size());
    for (const std::string& key : keys) {
        fresh.emplace_back(key, m_db->summary(key, t));
    }
    std::function<void(std::vector<std::string>)> callback;
    {
        std::lock_guard lock(m_mutex);
        for (auto& [key, s] : fresh) {
            m_summaries[key] = s;
        }
        callback = m_onSummaries;
    }
    if (callback) {
        callback(keys);
    }
}

void HistoryStore::refreshAll() {
    refreshSummaries(m_db->keys());
}

void HistoryStore::recentVerdicts(int window, std::function<void(std::vector<Verdict>)> done) {
    {
        std::lock_guard lock(m_mutex);
        Op op;
        op.kind = Op::Kind::Recent;
        op.window = window;
        op.done = std::move(done);
        m_pending.push_back(std::move(op));
        ++m_handed;
        m_flush = true;
    }
    m_wake.notify_one();
}

void HistoryStore::answerRecent(Op& op) {
    if (op.kind != Op::Kind::Recent || !op.done) {
        return;
    }
    std::vector<Verdict> found;
    if (m_db) {
        try {
            const std::int64_t span =
                static_cast<std::int64_t>(std::max(1, m_settings.rawKeepDays)) * 86400;
            found = m_db->recentVerdicts(op.window, now(), span);
        } catch (const std::exception&) {
            // What cannot be read is not known: the policy starts afresh.
            found.clear();
        }
    }
    std::exchange(op.done, nullptr)(std::move(found));
}

void HistoryStore::writeOps(std::vector<Op>& ops) {
    std::vector<Verdict> batch;
    std::vector<std::string> touched;
    std::unordered_set<std::string> seen;
    auto flushBatch = [&] {
        if (batch.empty()) {
            return;
        }
        const auto started = std::chrono::steady_clock::now();
        m_db->write(batch);
        m_lastBatchUs = std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::steady_clock::now() - started)
                            .count();
        batch.clear();
    };
    for (Op& op : ops) {
        if (op.kind == Op::Kind::Recent) {
            // What was handed over before the question, and nothing after.
            flushBatch();
            answerRecent(op);
            continue;
        }
        if (op.kind == Op::Kind::Rename) {
            flushBatch();
            m_db->rename(op.verdict.key, op.newKey);
            if (seen.insert(op.newKey).second) {
                touched.push_back(op.newKey);
            }
            continue;
        }
        if (seen.insert(op.verdict.key).second) {
            touched.push_back(op.verdict.key);
        }
        batch.push_back(std::move(op.verdict));
    }
    flushBatch();
    m_db->checkpoint();
    refreshSummaries(touched);
}

void HistoryStore::run() {
    using namespace std::chrono_literals;
    // Open at once: the first verdicts should not wait for it.
    ensureOpen();
    {
        std::lock_guard lock(m_mutex);
        m_opened = true;
    }
    m_written.notify_all();
    // Kept from batch to batch: the verdicts of a large round then go into
    // room already there rather than a vector grown (and copied) anew.
    std::vector<Op> ops;
    for (;;) {
        ops.clear();
        bool stop = false;
        bool housekeepNow = false;
        bool refreshAllNow = false;
        {
            std::unique_lock lock(m_mutex);
            // About once a second, at once when asked to.
            m_wake.wait_for(lock, 1s, [&] { return m_flush || m_stop; });
            ops.swap(m_pending);
            m_flush = false;
            stop = m_stop;
            housekeepNow = m_housekeepNow;
            m_housekeepNow = false;
            refreshAllNow = m_refreshAll;
            m_refreshAll = false;
        }
        const std::size_t count = ops.size();
        if (ensureOpen()) {
            try {
                if (!ops.empty()) {
                    writeOps(ops);
                }
                const std::int64_t t = now();
                if (housekeepNow || t >= m_nextHousekeep) {
                    const auto started = std::chrono::steady_clock::now();
                    m_db->housekeep(t, m_settings);
                    m_db->checkpoint(true);
                    m_housekeepUs += std::chrono::duration_cast<std::chrono::microseconds>(
                                         std::chrono::steady_clock::now() - started)
                                         .count();
                    // Just after the next hour's first minute.
                    m_nextHousekeep = (t / kHour + 1) * kHour + 61;
                    refreshAllNow = true;
                }
                if (refreshAllNow) {
                    refreshAll();
                }
            } catch (const SqliteError& e) {
                if (e.damaged()) {
                    moveAside();
                    ensureOpen();
                } else {
                    failed(e);
                }
            } catch (const std::exception& e) {
                failed(e);
            }
        }
        // Answered also when the database could not be used.
        for (Op& op : ops) {
            answerRecent(op);
        }
        {
            std::lock_guard lock(m_mutex);
            m_done += count;
        }
        m_written.notify_all();
        if (stop) {
            std::lock_guard lock(m_mutex);
            if (m_pending.empty()) {
                break;
            }
        }
    }
    m_db.reset();
}

}  // namespace vantor::history
