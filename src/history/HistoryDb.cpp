// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/HistoryDb.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <map>
#include <ostream>

#include "history/Sketch.h"

namespace vantor::history {

namespace {

constexpr std::int64_t kHour = 3600;
constexpr std::int64_t kDay = 86400;
// Changes of state kept per service.
constexpr std::int64_t kChangesKept = 40;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}
std::int64_t CeilDiv(std::int64_t a, std::int64_t b) {
    return -FloorDiv(-a, b);
}

// One hour of one service in the hourly rollup.
struct HourEntry {
    std::int64_t checks = 0;
    std::int64_t failed = 0;
    std::int64_t rtSum = 0;  // over passed checks with a time
    std::int64_t rtMax = 0;
};

using HourMap = std::map<int, HourEntry>;  // hour of the day → entry

// An hourly row: per hour present, its hour of the day, checks, failed,
// the response-time sum and maximum, all as varints.
HourMap DecodeHours(std::string_view bytes) {
    HourMap hours;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        std::optional<std::uint64_t> v[5];
        for (auto& x : v) {
            x = GetVarint(bytes, pos);
            if (!x) {
                return hours;  // a cut row gives what it holds
            }
        }
        if (*v[0] < 24) {
            hours[static_cast<int>(*v[0])] = {
                static_cast<std::int64_t>(*v[1]), static_cast<std::int64_t>(*v[2]),
                static_cast<std::int64_t>(*v[3]), static_cast<std::int64_t>(*v[4])};
        }
    }
    return hours;
}

std::string EncodeHours(const HourMap& hours) {
    std::string out;
    for (const auto& [hour, e] : hours) {
        PutVarint(out, static_cast<std::uint64_t>(hour));
        PutVarint(out, static_cast<std::uint64_t>(e.checks));
        PutVarint(out, static_cast<std::uint64_t>(e.failed));
        PutVarint(out, static_cast<std::uint64_t>(e.rtSum));
        PutVarint(out, static_cast<std::uint64_t>(e.rtMax));
    }
    return out;
}

// The checks and failures a statement sums for one service between a and b.
Counts CountsOf(Statement& s, std::int64_t id, std::int64_t a, std::int64_t b) {
    Counts c;
    s.bind(1, id).bind(2, a).bind(3, b);
    if (s.step()) {
        c.checks = s.integer(0);
        c.failed = s.integer(1);
    }
    return c;
}

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS meta(name TEXT PRIMARY KEY, value INTEGER NOT NULL) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS service(id INTEGER PRIMARY KEY, key TEXT NOT NULL UNIQUE);
CREATE TABLE IF NOT EXISTS raw(svc INTEGER NOT NULL, t INTEGER NOT NULL, failed INTEGER NOT NULL,
    rt INTEGER, flags INTEGER NOT NULL, PRIMARY KEY(svc, t)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS recent(svc INTEGER NOT NULL, t INTEGER NOT NULL, failed INTEGER NOT NULL,
    rt INTEGER, flags INTEGER NOT NULL, PRIMARY KEY(t, svc)) WITHOUT ROWID;
CREATE VIEW IF NOT EXISTS verdict AS SELECT * FROM raw UNION ALL SELECT * FROM recent;
CREATE TABLE IF NOT EXISTS hourly(svc INTEGER NOT NULL, day INTEGER NOT NULL, hours BLOB NOT NULL,
    PRIMARY KEY(svc, day)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS daily(svc INTEGER NOT NULL, day INTEGER NOT NULL,
    checks INTEGER NOT NULL, failed INTEGER NOT NULL, rtsum INTEGER NOT NULL,
    rtmax INTEGER NOT NULL, sketch BLOB NOT NULL, PRIMARY KEY(svc, day)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS change(svc INTEGER NOT NULL, t INTEGER NOT NULL,
    failed INTEGER NOT NULL, detail TEXT NOT NULL, PRIMARY KEY(svc, t)) WITHOUT ROWID;
)sql";

}  // namespace

HistoryDb::HistoryDb(std::unique_ptr<Database> db) : m_db(std::move(db)) {}

HistoryDb::~HistoryDb() = default;

std::unique_ptr<HistoryDb> HistoryDb::openWriter(const std::string& path, std::int64_t now) {
    // Made here with the owner's rights only: SQLite would give 0644.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
    }
    auto db = std::unique_ptr<HistoryDb>(
        new HistoryDb(std::make_unique<Database>(path, Database::Mode::ReadWrite)));
    db->m_db->exec("PRAGMA journal_mode=WAL");
    db->m_db->exec("PRAGMA synchronous=NORMAL");
    // The writer checkpoints after its batches (checkpoint()), not inside
    // the commit of one.
    db->m_db->exec("PRAGMA wal_autocheckpoint=0");
    // The journal shrinks back after a large housekeeping transaction.
    db->m_db->exec("PRAGMA journal_size_limit=1048576");
    db->createTables(now);
    db->loadMeta();
    Statement ids(*db->m_db, "SELECT id, key FROM service");
    while (ids.step()) {
        db->m_ids.emplace(ids.text(1), ids.integer(0));
    }
    // The state each service was last in: the latest change says it.
    Statement last(*db->m_db,
                   "SELECT svc, failed FROM change c WHERE t = (SELECT max(t) FROM change "
                   "WHERE svc = c.svc)");
    while (last.step()) {
        db->m_lastFailed[last.integer(0)] = last.integer(1) != 0;
    }
    db->loadRecent();
    return db;
}

std::unique_ptr<HistoryDb> HistoryDb::openReader(const std::string& path) {
    std::unique_ptr<Database> db;
    try {
        // Read-write without create, so that the WAL index can be shared
        // with a writer; a reader only ever reads.
        db = std::make_unique<Database>(path, Database::Mode::ReadExisting);
    } catch (const SqliteError& e) {
        if (e.code() != SQLITE_READONLY && e.code() != SQLITE_CANTOPEN) {
            throw;
        }
        db = std::make_unique<Database>(path, Database::Mode::ReadOnly);
    }
    db->exec("PRAGMA query_only=1");
    // A reader looks at a few hundred rows at a time.
    db->exec("PRAGMA cache_size=-512");
    auto h = std::unique_ptr<HistoryDb>(new HistoryDb(std::move(db)));
    h->m_reader = true;
    // A file without our tables is no history.
    h->loadMeta();
    Statement ids(*h->m_db, "SELECT id, key FROM service");
    while (ids.step()) {
        h->m_ids.emplace(ids.text(1), ids.integer(0));
    }
    return h;
}

void HistoryDb::createTables(std::int64_t now) {
    Transaction tx(*m_db);
    migrateRecent();
    m_db->exec(kSchema);
    Statement s(*m_db, "INSERT OR IGNORE INTO meta(name, value) VALUES (?, ?)");
    const std::pair<const char*, std::int64_t> initial[] = {
        {"version", 1},    {"rolled_to", FloorDiv(now, kDay) * 24},
        {"raw_from", 0},   {"hourly_from", 0},
        {"daily_from", 0},
    };
    for (const auto& [name, value] : initial) {
        s.bind(1, std::string_view(name)).bind(2, value);
        s.step();
        s.reset();
    }
    tx.commit();
}

bool HistoryDb::sound() {
    Statement s(*m_db, "PRAGMA quick_check(1)");
    return s.step() && s.text(0) == "ok";
}

void HistoryDb::loadMeta() {
    m_meta.clear();
    Statement s(*m_db, "SELECT name, value FROM meta");
    while (s.step()) {
        m_meta[s.text(0)] = s.integer(1);
    }
}

void HistoryDb::migrateRecent() {
    // A file of the first layout keeps the unrolled hour by service: every
    // round wrote into every page of it.
    std::string sql;
    {
        Statement s(*m_db,
                    "SELECT sql FROM sqlite_master WHERE type = 'table' AND name = 'recent'");
        if (s.step()) {
            sql = s.text(0);
        }
    }
    if (sql.find("PRIMARY KEY(svc, t)") == std::string::npos) {
        return;
    }
    m_db->exec("DROP VIEW IF EXISTS verdict; ALTER TABLE recent RENAME TO recent_by_service");
    m_db->exec(kSchema);
    m_db->exec(
        "INSERT OR IGNORE INTO recent SELECT * FROM recent_by_service; DROP TABLE "
        "recent_by_service");
}

void HistoryDb::loadRecent() {
    m_recent.clear();
    Statement s(*m_db, "SELECT svc, t, failed, rt, flags FROM recent ORDER BY t");
    while (s.step()) {
        m_recent[s.integer(0)].push_back({s.integer(1), s.optionalInteger(3), s.integer(2) != 0,
                                          static_cast<unsigned>(s.integer(4))});
    }
}

HistoryDb::ReadScope::ReadScope(HistoryDb* db) : m_db(db) {
    if (m_db->m_reader) {
        m_db->m_db->exec("BEGIN");
    }
}

HistoryDb::ReadScope::~ReadScope() {
    if (!m_db) {
        return;
    }
    for (auto& [sql, statement] : m_db->m_statements) {
        statement->reset();
    }
    if (m_db->m_reader) {
        try {
            m_db->m_db->exec("COMMIT");
        } catch (...) {
            // A read transaction has nothing to lose.
        }
    }
}

HistoryDb::ReadScope HistoryDb::refreshForRead() {
    ReadScope scope(this);
    if (!m_reader) {
        return scope;
    }
    // A reader beside a writer sees, per question, the horizons, the keys
    // and the unrolled hour of now, and the rows that go with them.
    loadMeta();
    const std::int64_t version = m_db->scalar("PRAGMA data_version");
    if (version != m_recentVersion) {
        m_ids.clear();
        Statement ids(*m_db, "SELECT id, key FROM service");
        while (ids.step()) {
            m_ids.emplace(ids.text(1), ids.integer(0));
        }
        loadRecent();
        m_recentVersion = version;
    }
    return scope;
}

void HistoryDb::eachRecent(std::int64_t id, std::int64_t from, std::int64_t to,
                           bool withMaintenance, const std::function<void(const RecentRow&)>& fn) {
    const auto it = m_recent.find(id);
    if (it == m_recent.end()) {
        return;
    }
    const auto& rows = it->second;
    const auto byTime = [](const RecentRow& r, std::int64_t t) { return r.t < t; };
    auto at = std::lower_bound(rows.begin(), rows.end(), from, byTime);
    const auto end = std::lower_bound(at, rows.end(), to, byTime);
    for (; at != end; ++at) {
        if (withMaintenance || (at->flags & kMaintenance) == 0) {
            fn(*at);
        }
    }
}

std::vector<HistoryDb::RecentRow> HistoryDb::rowsOf(std::int64_t id, std::int64_t from,
                                                    std::int64_t to, bool withMaintenance) {
    std::vector<RecentRow> out;
    if (from >= to) {
        return out;
    }
    Statement& raw = query(withMaintenance ? "SELECT t, failed, rt, flags FROM raw WHERE svc = ? "
                                             "AND t >= ? AND t < ? ORDER BY t"
                                           : "SELECT t, failed, rt, flags FROM raw WHERE svc = ? "
                                             "AND t >= ? AND t < ? AND (flags & 4) = 0 ORDER BY t");
    raw.bind(1, id).bind(2, from).bind(3, to);
    while (raw.step()) {
        out.push_back({raw.integer(0), raw.optionalInteger(2), raw.integer(1) != 0,
                       static_cast<unsigned>(raw.integer(3))});
    }
    const auto split = static_cast<std::ptrdiff_t>(out.size());
    eachRecent(id, from, to, withMaintenance, [&out](const RecentRow& r) { out.push_back(r); });
    // Rows of a clock set back are in recent but older than raw ones.
    std::inplace_merge(out.begin(), out.begin() + split, out.end(),
                       [](const RecentRow& a, const RecentRow& b) { return a.t < b.t; });
    return out;
}

std::int64_t HistoryDb::meta(std::string_view name, std::int64_t fallback) const {
    const auto it = m_meta.find(std::string(name));
    return it != m_meta.end() ? it->second : fallback;
}

void HistoryDb::setMeta(std::string_view name, std::int64_t value) {
    Statement s(*m_db, "INSERT OR REPLACE INTO meta(name, value) VALUES (?, ?)");
    s.bind(1, name).bind(2, value);
    s.step();
    m_meta[std::string(name)] = value;
}

std::optional<std::int64_t> HistoryDb::idOf(std::string_view key) {
    const auto it = m_ids.find(std::string(key));
    if (it == m_ids.end()) {
        return std::nullopt;
    }
    return it->second;
}

std::int64_t HistoryDb::idFor(std::string_view key) {
    if (const auto id = idOf(key)) {
        return *id;
    }
    Statement s(*m_db, "INSERT INTO service(key) VALUES (?)");
    s.bind(1, key);
    s.step();
    const std::int64_t id = sqlite3_last_insert_rowid(m_db->handle());
    m_ids.emplace(std::string(key), id);
    return id;
}

std::vector<std::int64_t> HistoryDb::serviceIds() {
    std::vector<std::int64_t> ids;
    Statement s(*m_db, "SELECT id FROM service ORDER BY id");
    while (s.step()) {
        ids.push_back(s.integer(0));
    }
    return ids;
}

void HistoryDb::write(const std::vector<Verdict>& verdicts) {
    if (verdicts.empty()) {
        return;
    }
    try {
        writeBatch(verdicts);
    } catch (...) {
        // The rows went back with the transaction; so do they here.
        try {
            loadRecent();
        } catch (...) {
            m_recent.clear();
        }
        throw;
    }
}

void HistoryDb::writeBatch(const std::vector<Verdict>& verdicts) {
    Transaction tx(*m_db);
    // Into the small table of the hours not yet rolled up, ordered by time:
    // a round's rows are appended to its last pages, where raw would take
    // one page per service.
    Statement raw(*m_db,
                  "INSERT OR IGNORE INTO recent(svc, t, failed, rt, flags) VALUES (?,?,?,?,?)");
    Statement change(*m_db,
                     "INSERT OR REPLACE INTO change(svc, t, failed, detail) VALUES (?,?,?,?)");
    const std::int64_t rolledT = meta("rolled_to", 0) * kHour;
    std::map<std::int64_t, std::vector<std::int64_t>> late;  // day → services
    for (const Verdict& v : verdicts) {
        const std::int64_t id = idFor(v.key);
        if (v.time < rolledT && v.time >= meta("raw_from", 0)) {
            late[FloorDiv(v.time, kDay)].push_back(id);
        }
        // Two verdicts of a service within one second (a "Run Now" beside
        // the schedule) take the next free second.
        std::int64_t t = v.time;
        for (int attempt = 0; attempt < 60; ++attempt, ++t) {
            raw.bind(1, id).bind(2, t).bind(3, v.failed ? 1 : 0).bind(5, v.flags);
            if (v.responseUs) {
                raw.bind(4, *v.responseUs);
            } else {
                raw.bindNull(4);
            }
            raw.step();
            raw.reset();
            if (m_db->changes() > 0) {
                auto& rows = m_recent[id];
                const RecentRow row{t, v.responseUs, v.failed, v.flags};
                if (rows.empty() || rows.back().t <= t) {
                    rows.push_back(row);
                } else {
                    rows.insert(std::upper_bound(rows.begin(), rows.end(), row,
                                                 [](const RecentRow& a, const RecentRow& b) {
                                                     return a.t < b.t;
                                                 }),
                                row);
                }
                break;
            }
        }
        auto [state, first] = m_lastFailed.try_emplace(id, false);
        if (state->second != v.failed || (first && v.failed)) {
            change.bind(1, id)
                .bind(2, t)
                .bind(3, v.failed ? 1 : 0)
                .bind(4, v.failed ? v.detail : "");
            change.step();
            change.reset();
        }
        state->second = v.failed;
    }
    // Rows for hours already rolled up (a clock set back): those days are
    // rolled up again from their rows.
    for (auto& [day, ids] : late) {
        std::sort(ids.begin(), ids.end());
        ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
        rollUp(ids, day * 24, std::min(day * 24 + 24, rolledT / kHour), true);
    }
    tx.commit();
}

void HistoryDb::rollUp(std::int64_t fromHour, std::int64_t toHour) {
    rollUp(serviceIds(), fromHour, toHour, false);
}

void HistoryDb::rollUp(const std::vector<std::int64_t>& ids, std::int64_t fromHour,
                       std::int64_t toHour, bool rebuild) {
    // A rebuild reads every row of its hours, moved or not, and replaces
    // what the rollups held for them. Verdicts in a maintenance window are
    // not part of uptime or response times.
    Statement rows(*m_db,
                   "SELECT t, failed, rt FROM raw WHERE svc = ? AND t >= ? AND t < ? AND (flags & "
                   "4) = 0");
    Statement getHours(*m_db, "SELECT hours FROM hourly WHERE svc = ? AND day = ?");
    Statement putHours(*m_db, "INSERT OR REPLACE INTO hourly(svc, day, hours) VALUES (?,?,?)");
    Statement getDay(*m_db,
                     "SELECT checks, failed, rtsum, rtmax, sketch FROM daily WHERE svc = ? AND "
                     "day = ?");
    Statement putDay(*m_db,
                     "INSERT OR REPLACE INTO daily(svc, day, checks, failed, rtsum, rtmax, sketch) "
                     "VALUES (?,?,?,?,?,?,?)");
    struct DayWork {
        HourMap hours;
        HourEntry total;
        Sketch sketch;
    };
    for (const std::int64_t id : ids) {
        std::map<std::int64_t, DayWork> days;
        const auto add = [&days](std::int64_t t, bool failed, std::optional<std::int64_t> rt) {
            DayWork& d = days[FloorDiv(t, kDay)];
            HourEntry& h = d.hours[static_cast<int>(FloorDiv(t, kHour) - FloorDiv(t, kDay) * 24)];
            for (HourEntry* e : {&h, &d.total}) {
                ++e->checks;
                e->failed += failed ? 1 : 0;
            }
            if (!failed && rt) {
                for (HourEntry* e : {&h, &d.total}) {
                    e->rtSum += *rt;
                    e->rtMax = std::max(e->rtMax, *rt);
                }
                d.sketch.add(*rt);
            }
        };
        if (rebuild) {
            // Every row of those hours, moved or not.
            for (const RecentRow& r : rowsOf(id, fromHour * kHour, toHour * kHour, false)) {
                add(r.t, r.failed, r.rt);
            }
        } else {
            rows.bind(1, id).bind(2, fromHour * kHour).bind(3, toHour * kHour);
            while (rows.step()) {
                add(rows.integer(0), rows.integer(1) != 0, rows.optionalInteger(2));
            }
            rows.reset();
        }
        for (auto& [day, work] : days) {
            getHours.bind(1, id).bind(2, day);
            HourMap hours = !rebuild && getHours.step() ? DecodeHours(getHours.blob(0)) : HourMap{};
            getHours.reset();
            for (const auto& [hour, entry] : work.hours) {
                hours[hour] = entry;
            }
            putHours.bind(1, id).bind(2, day).bindBlob(3, EncodeHours(hours));
            putHours.step();
            putHours.reset();

            getDay.bind(1, id).bind(2, day);
            if (!rebuild && getDay.step()) {
                work.total.checks += getDay.integer(0);
                work.total.failed += getDay.integer(1);
                work.total.rtSum += getDay.integer(2);
                work.total.rtMax = std::max(work.total.rtMax, getDay.integer(3));
                if (auto old = Sketch::decode(getDay.blob(4))) {
                    work.sketch.merge(*old);
                }
            }
            getDay.reset();
            putDay.bind(1, id).bind(2, day).bind(3, work.total.checks).bind(4, work.total.failed);
            putDay.bind(5, work.total.rtSum).bind(6, work.total.rtMax);
            putDay.bindBlob(7, work.sketch.encode());
            putDay.step();
            putDay.reset();
        }
    }
}

void HistoryDb::dropBefore(const char* table, const char* column, std::int64_t bound) {
    // Per service, so that each delete is a range of the key, not a scan.
    const std::string sql =
        std::string("DELETE FROM ") + table + " WHERE svc = ? AND " + column + " < ?";
    Statement del(*m_db, sql.c_str());
    for (const std::int64_t id : serviceIds()) {
        del.bind(1, id).bind(2, bound);
        del.step();
        del.reset();
    }
}

int HistoryDb::housekeep(std::int64_t now, const HistorySettings& settings) {
    {
        Transaction tx(*m_db);
        // A minute's grace, so that a verdict of the hour's last second that
        // is still on its way goes with its hour.
        const std::int64_t hourDone = FloorDiv(now - 60, kHour);
        // The finished hours move to raw in key order: one page per service
        // an hour.
        Statement move(
            *m_db, "INSERT OR IGNORE INTO raw SELECT * FROM recent WHERE t < ? ORDER BY svc, t");
        move.bind(1, hourDone * kHour);
        move.step();
        Statement clear(*m_db, "DELETE FROM recent WHERE t < ?");
        clear.bind(1, hourDone * kHour);
        clear.step();
        // Each finished hour is rolled up once: into its day's hourly row
        // and into the day's own, so that a query reads at most an hour of
        // raw rows at its end.
        const std::int64_t target = hourDone;
        const std::int64_t rolled = meta("rolled_to", target);
        if (target > rolled) {
            rollUp(rolled, target);
            setMeta("rolled_to", target);
        }
        const std::int64_t today = FloorDiv(now, kDay);
        const std::int64_t rolledT = std::max(rolled, target) * kHour;
        // Raw rows go only once their hours are rolled up.
        const std::int64_t rawCut = std::min((today - std::max(0, settings.rawKeepDays)) * kDay,
                                             FloorDiv(rolledT, kDay) * kDay);
        if (rawCut > meta("raw_from", 0)) {
            dropBefore("raw", "t", rawCut);
            setMeta("raw_from", rawCut);
        }
        const std::int64_t hourlyCut = today - std::max(0, settings.hourlyKeepDays);
        if (hourlyCut > meta("hourly_from", 0)) {
            dropBefore("hourly", "day", hourlyCut);
            setMeta("hourly_from", hourlyCut);
        }
        const std::int64_t dailyCut = today - std::max(0, settings.dailyKeepDays);
        if (dailyCut > meta("daily_from", 0)) {
            dropBefore("daily", "day", dailyCut);
            dropBefore("change", "t", dailyCut * kDay);
            setMeta("daily_from", dailyCut);
            // Of the changes of state, the latest few per service say what
            // the pane and the report show; a flapping service would pile
            // up thousands a year.
            Statement trim(*m_db,
                           "DELETE FROM change WHERE svc = ?1 AND t < (SELECT t FROM change "
                           "WHERE svc = ?1 ORDER BY t DESC LIMIT 1 OFFSET ?2)");
            for (const std::int64_t id : serviceIds()) {
                trim.bind(1, id).bind(2, kChangesKept - 1);
                trim.step();
                trim.reset();
            }
        }
        tx.commit();
        const auto moved = [cut = hourDone * kHour](const RecentRow& r) { return r.t < cut; };
        for (auto it = m_recent.begin(); it != m_recent.end();) {
            std::erase_if(it->second, moved);
            it = it->second.empty() ? m_recent.erase(it) : std::next(it);
        }
    }
    // The size cap: the oldest days go first, whatever their tier.
    const std::int64_t cap = static_cast<std::int64_t>(std::max(1, settings.maxMB)) * 1024 * 1024;
    int dropped = 0;
    for (int round = 0; round < 64; ++round) {
        const std::int64_t used = usedBytes();
        if (used <= cap) {
            break;
        }
        const std::int64_t oldest = std::min(
            {meta("daily_from", 0), meta("hourly_from", 0), FloorDiv(meta("raw_from", 0), kDay)});
        std::int64_t first = m_db->scalar("SELECT coalesce(min(day), 0) FROM daily");
        first = std::max(first, oldest);
        const std::int64_t today = FloorDiv(now, kDay);
        const std::int64_t span = std::max<std::int64_t>(1, today - first);
        // Enough days for the excess, at the average size of a day.
        const auto days = std::max<std::int64_t>(
            1, static_cast<std::int64_t>(
                   std::ceil(static_cast<double>(used - cap) / static_cast<double>(used) *
                             static_cast<double>(span))));
        const std::int64_t bound = std::min(first + days, today + 1);
        Transaction tx(*m_db);
        dropBefore("daily", "day", bound);
        dropBefore("hourly", "day", bound);
        dropBefore("change", "t", bound * kDay);
        setMeta("daily_from", std::max(meta("daily_from", 0), bound));
        setMeta("hourly_from", std::max(meta("hourly_from", 0), bound));
        if (bound * kDay > meta("raw_from", 0)) {
            dropBefore("raw", "t", bound * kDay);
            setMeta("raw_from", bound * kDay);
        }
        tx.commit();
        dropped += static_cast<int>(bound - first);
    }
    return dropped;
}

void HistoryDb::rename(std::string_view oldKey, std::string_view newKey) {
    const auto from = idOf(oldKey);
    if (!from || oldKey == newKey) {
        return;
    }
    Transaction tx(*m_db);
    if (const auto to = idOf(newKey)) {
        // The new key had rows of its own (a service deleted earlier): the
        // two histories become one.
        for (const char* table : {"raw", "recent", "hourly", "daily", "change"}) {
            const std::string sql =
                std::string("UPDATE OR IGNORE ") + table + " SET svc = ? WHERE svc = ?";
            Statement s(*m_db, sql.c_str());
            s.bind(1, *to).bind(2, *from);
            s.step();
            const std::string rest = std::string("DELETE FROM ") + table + " WHERE svc = ?";
            Statement d(*m_db, rest.c_str());
            d.bind(1, *from);
            d.step();
        }
        Statement del(*m_db, "DELETE FROM service WHERE id = ?");
        del.bind(1, *from);
        del.step();
        tx.commit();
        loadRecent();
        m_ids.erase(std::string(oldKey));
        if (const auto it = m_lastFailed.find(*from); it != m_lastFailed.end()) {
            m_lastFailed[*to] = it->second;
            m_lastFailed.erase(it);
        }
        return;
    }
    Statement s(*m_db, "UPDATE service SET key = ? WHERE id = ?");
    s.bind(1, newKey).bind(2, *from);
    s.step();
    tx.commit();
    m_ids.erase(std::string(oldKey));
    m_ids.emplace(std::string(newKey), *from);
}

Counts HistoryDb::rawCounts(std::int64_t id, std::int64_t from, std::int64_t to) {
    Counts c;
    if (from >= to) {
        return c;
    }
    c += CountsOf(query("SELECT count(*), coalesce(sum(failed), 0) FROM raw WHERE svc = ? AND "
                        "t >= ? AND t < ? AND (flags & 4) = 0"),
                  id, from, to);
    eachRecent(id, from, to, false, [&c](const RecentRow& r) {
        ++c.checks;
        c.failed += r.failed ? 1 : 0;
    });
    return c;
}

Counts HistoryDb::countsOf(std::int64_t id, std::int64_t since, std::int64_t now) {
    const std::int64_t end = now + 1;  // the verdicts of this second count
    const std::int64_t rolledT = meta("rolled_to", 0) * kHour;
    if (since >= rolledT) {
        return rawCounts(id, since, end);
    }
    Counts c = rawCounts(id, rolledT, end);
    // Up to the first whole hour from raw rows, whole hours from rollups.
    const std::int64_t firstHour = CeilDiv(since, kHour);
    const std::int64_t lastHour = std::min(FloorDiv(end, kHour), FloorDiv(rolledT, kHour));
    if (since >= meta("raw_from", 0)) {
        c += rawCounts(id, since, std::min(firstHour * kHour, rolledT));
    }
    const std::int64_t hourlyFrom = meta("hourly_from", 0) * 24;
    const std::int64_t hStart = std::max(firstHour, hourlyFrom);
    if (hStart < lastHour) {
        Statement& s =
            query("SELECT day, hours FROM hourly WHERE svc = ? AND day >= ? AND day <= ?");
        s.bind(1, id).bind(2, FloorDiv(hStart, 24)).bind(3, FloorDiv(lastHour - 1, 24));
        while (s.step()) {
            const std::int64_t day = s.integer(0);
            for (const auto& [hour, e] : DecodeHours(s.blob(1))) {
                const std::int64_t h = day * 24 + hour;
                if (h >= hStart && h < lastHour) {
                    c.checks += e.checks;
                    c.failed += e.failed;
                }
            }
        }
    }
    // Beyond the hourly rollups, whole days.
    const std::int64_t dStart = CeilDiv(firstHour, 24);
    const std::int64_t dEnd = std::min(FloorDiv(hourlyFrom, 24), FloorDiv(lastHour, 24));
    if (dStart < dEnd) {
        c += CountsOf(query("SELECT coalesce(sum(checks), 0), coalesce(sum(failed), 0) FROM daily "
                            "WHERE svc = ? AND day >= ? AND day < ?"),
                      id, dStart, dEnd);
    }
    return c;
}

Counts HistoryDb::counts(std::string_view key, std::int64_t since, std::int64_t now) {
    const auto snapshot = refreshForRead();
    const auto id = idOf(key);
    return id ? countsOf(*id, since, now) : Counts{};
}

ResponseStats HistoryDb::responseOf(std::int64_t id, std::int64_t since, std::int64_t now) {
    Percentiles p;
    std::optional<std::int64_t> max;
    auto addMax = [&max](std::int64_t v) { max = max ? std::max(*max, v) : v; };
    auto fromRaw = [&](std::int64_t from, std::int64_t to) {
        if (from >= to) {
            return;
        }
        Statement& raw = query(
            "SELECT rt FROM raw WHERE svc = ? AND t >= ? AND t < ? AND failed = 0 AND rt IS NOT "
            "NULL AND (flags & 4) = 0");
        raw.bind(1, id).bind(2, from).bind(3, to);
        while (raw.step()) {
            p.add(raw.integer(0));
            addMax(raw.integer(0));
        }
        eachRecent(id, from, to, false, [&](const RecentRow& r) {
            if (!r.failed && r.rt) {
                p.add(*r.rt);
                addMax(*r.rt);
            }
        });
    };
    const std::int64_t end = now + 1;
    const std::int64_t rolledT = meta("rolled_to", 0) * kHour;
    if (since >= FloorDiv(rolledT, kDay) * kDay) {
        fromRaw(since, end);
    } else {
        // Daily rollups for the days they cover (the last one up to the
        // rolled hour), raw rows after them; the first, partial day from
        // raw rows while they are there, else from its rollup as a whole.
        std::int64_t firstDay = CeilDiv(since, kDay);
        if (since >= meta("raw_from", 0) && now - since <= 8 * kDay) {
            fromRaw(since, firstDay * kDay);
        } else {
            firstDay = FloorDiv(since, kDay);
        }
        Statement& s =
            query("SELECT rtmax, sketch, checks - failed FROM daily WHERE svc = ? AND day >= ?");
        s.bind(1, id).bind(2, firstDay);
        while (s.step()) {
            if (auto sk = Sketch::decode(s.blob(1)); sk && !sk->empty()) {
                p.merge(*sk);
                addMax(s.integer(0));
            }
        }
        fromRaw(std::max(rolledT, since), end);
    }
    ResponseStats r;
    r.p50 = p.quantile(0.50);
    r.p95 = p.quantile(0.95);
    r.max = max;
    return r;
}

std::optional<std::int64_t> HistoryDb::lastChangeOf(std::int64_t id) {
    Statement& s = query("SELECT max(t) FROM change WHERE svc = ?");
    s.bind(1, id);
    return s.step() ? s.optionalInteger(0) : std::nullopt;
}

std::vector<Verdict> HistoryDb::recentVerdicts(int window, std::int64_t now, std::int64_t maxAge) {
    const auto snapshot = refreshForRead();
    std::vector<Verdict> out;
    Statement& lastOnes = query(
        "SELECT t FROM raw WHERE svc = ? AND (flags & 4) = 0 ORDER BY t DESC LIMIT 1 OFFSET ?");
    Statement& lastChange =
        query("SELECT t, failed FROM change WHERE svc = ? ORDER BY t DESC LIMIT 1");
    Statement& changes = query(
        "SELECT t, detail FROM change WHERE svc = ? AND failed = 1 AND t <= ? ORDER BY t DESC "
        "LIMIT 1");
    Statement& laterChanges =
        query("SELECT t, failed, detail FROM change WHERE svc = ? AND t > ? ORDER BY t");
    const std::int64_t oldest = now - maxAge;
    for (const auto& [key, id] : m_ids) {
        // From the window's first verdict, or the failure's start if older.
        // Verdicts in a maintenance window never went through the policy.
        std::int64_t from = oldest;
        std::int64_t inRecent = 0;
        if (const auto it = m_recent.find(id); it != m_recent.end()) {
            for (auto r = it->second.rbegin(); r != it->second.rend(); ++r) {
                if ((r->flags & kMaintenance) == 0 && ++inRecent == window) {
                    from = r->t;
                    break;
                }
            }
        }
        if (inRecent < window) {
            lastOnes.bind(1, id).bind(2, std::max<std::int64_t>(0, window - 1 - inRecent));
            if (lastOnes.step()) {
                from = lastOnes.integer(0);
            }
            lastOnes.reset();
        }
        lastChange.bind(1, id);
        if (lastChange.step() && lastChange.integer(1) != 0) {
            from = std::min(from, lastChange.integer(0));
        }
        lastChange.reset();
        from = std::max(from, oldest);
        // The text of the failure the first rows are in, then of each later
        // change to failed.
        std::string text;
        changes.bind(1, id).bind(2, from);
        if (changes.step()) {
            text = changes.text(1);
        }
        changes.reset();
        std::vector<std::pair<std::int64_t, std::string>> texts;
        laterChanges.bind(1, id).bind(2, from);
        while (laterChanges.step()) {
            if (laterChanges.integer(1) != 0) {
                texts.emplace_back(laterChanges.integer(0), laterChanges.text(2));
            }
        }
        laterChanges.reset();
        std::size_t next = 0;
        // Rows a second or two ahead of the clock are of verdicts that came
        // within the same second and took the next free one.
        for (const RecentRow& row :
             rowsOf(id, from, std::numeric_limits<std::int64_t>::max(), false)) {
            Verdict v;
            v.key = key;
            v.time = row.t;
            while (next < texts.size() && texts[next].first <= v.time) {
                text = texts[next++].second;
            }
            v.failed = row.failed;
            if (v.failed) {
                v.detail = text;
            }
            out.push_back(std::move(v));
        }
    }
    return out;
}

Summary HistoryDb::summary(std::string_view key, std::int64_t now) {
    const auto snapshot = refreshForRead();
    Summary s;
    const auto id = idOf(key);
    if (!id) {
        return s;
    }
    if (const auto it = m_recent.find(*id); it != m_recent.end()) {
        s.lastResponseUs = it->second.back().rt;
    } else {
        Statement& last = query("SELECT rt FROM raw WHERE svc = ? ORDER BY t DESC LIMIT 1");
        last.bind(1, *id);
        if (last.step()) {
            s.lastResponseUs = last.optionalInteger(0);
        }
    }
    s.day = countsOf(*id, now - kDay + 1, now);
    s.month = countsOf(*id, now - 30 * kDay + 1, now);
    return s;
}

ServiceDetail HistoryDb::detail(std::string_view key, std::int64_t now) {
    const auto snapshot = refreshForRead();
    ServiceDetail d;
    d.days.resize(30);
    const auto id = idOf(key);
    if (!id) {
        return d;
    }
    Percentiles p;
    for (const RecentRow& row : rowsOf(*id, now - kDay + 1, now + 1, true)) {
        Point pt{row.t, row.failed, row.rt};
        if (!pt.failed && pt.responseUs) {
            p.add(*pt.responseUs);
            d.dayResponse.max = std::max(d.dayResponse.max.value_or(0), *pt.responseUs);
        }
        d.day.push_back(pt);
    }
    d.dayCounts = countsOf(*id, now - kDay + 1, now);
    d.dayResponse.p50 = p.quantile(0.50);
    d.dayResponse.p95 = p.quantile(0.95);
    const std::int64_t today = FloorDiv(now, kDay);
    for (int i = 0; i < 30; ++i) {
        const std::int64_t day = today - 29 + i;
        const std::int64_t to = std::min(now, (day + 1) * kDay - 1);
        const Counts upTo = countsOf(*id, day * kDay, to);
        d.days[static_cast<std::size_t>(i)] = upTo;
    }
    Statement changes(
        *m_db, "SELECT t, failed, detail FROM change WHERE svc = ? ORDER BY t DESC LIMIT 21");
    changes.bind(1, *id);
    std::optional<std::int64_t> upAt;
    while (changes.step()) {
        if (changes.integer(1) != 0) {
            d.outages.push_back({changes.integer(0), upAt, changes.text(2)});
            if (d.outages.size() == 10) {
                break;
            }
            upAt.reset();
        } else {
            upAt = changes.integer(0);
        }
    }
    return d;
}

std::vector<ServiceReport> HistoryDb::report(std::int64_t since, std::int64_t now) {
    const auto snapshot = refreshForRead();
    std::vector<ServiceReport> out;
    Statement s(*m_db, "SELECT id, key FROM service ORDER BY key");
    while (s.step()) {
        const std::int64_t id = s.integer(0);
        ServiceReport r;
        r.key = s.text(1);
        r.counts = countsOf(id, since, now);
        if (r.counts.checks == 0) {
            continue;  // nothing in the period
        }
        r.response = responseOf(id, since, now);
        r.lastChange = lastChangeOf(id);
        out.push_back(std::move(r));
    }
    return out;
}

std::int64_t HistoryDb::exportRaw(std::int64_t from, std::int64_t to, std::ostream& out) {
    Statement s(
        *m_db,
        "SELECT s.key, r.t, r.failed, r.rt, r.flags FROM verdict r JOIN service s ON s.id = "
        "r.svc WHERE r.t >= ? AND r.t <= ? ORDER BY r.t, s.key");
    s.bind(1, from).bind(2, to);
    std::int64_t n = 0;
    while (s.step()) {
        out << CsvField(s.text(0)) << ',' << FormatTime(s.integer(1)) << ','
            << (s.integer(2) != 0 ? "Failed" : "Passed") << ',';
        if (!s.isNull(3)) {
            out << s.integer(3);
        }
        out << ',' << FlagNames(static_cast<unsigned>(s.integer(4))) << '\n';
        ++n;
    }
    return n;
}

Statement& HistoryDb::query(const char* sql) {
    auto& slot = m_statements[sql];
    if (!slot) {
        slot = std::make_unique<Statement>(*m_db, sql);
    } else {
        slot->reset();
    }
    return *slot;
}

std::vector<std::string> HistoryDb::keys() const {
    std::vector<std::string> out;
    out.reserve(m_ids.size());
    for (const auto& [key, id] : m_ids) {
        out.push_back(key);
    }
    return out;
}

void HistoryDb::checkpoint(bool truncate) {
    // Passive: a reader in the middle of its query keeps its pages, and the
    // rest is copied next time. A busy truncate leaves the journal as it is.
    sqlite3_wal_checkpoint_v2(m_db->handle(), nullptr,
                              truncate ? SQLITE_CHECKPOINT_TRUNCATE : SQLITE_CHECKPOINT_PASSIVE,
                              nullptr, nullptr);
}

std::int64_t HistoryDb::usedBytes() {
    return (m_db->scalar("PRAGMA page_count") - m_db->scalar("PRAGMA freelist_count")) *
           m_db->scalar("PRAGMA page_size");
}

}  // namespace vantor::history
