// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "history/HistoryTypes.h"
#include "history/Sqlite.h"

namespace vantor::history {

// The history database on one connection: verdict rows, their hourly and
// daily rollups, retention, and the queries the windows and the reports
// ask. Time is seconds since the epoch; hours and days count from it
// (UTC). Raw rows are complete from raw_from on, rollups exist for every
// hour before rolled_to, and a query takes raw rows where rollups do not
// reach and rollups beyond, so that nothing is counted twice.
class HistoryDb final {
public:
    // The writer: the file is made (0600) and given its tables.
    static std::unique_ptr<HistoryDb> openWriter(const std::string& path, std::int64_t now);
    // A reader beside a running writer; throws SqliteError when there is no
    // database.
    static std::unique_ptr<HistoryDb> openReader(const std::string& path);
    ~HistoryDb();

    // Whether SQLite finds the file sound (PRAGMA quick_check).
    bool sound();

    // One transaction for the batch.
    void write(const std::vector<Verdict>& verdicts);
    // Rolls the finished hours up, then applies the retention and the size
    // cap. Returns the days that the size cap removed (0 mostly).
    int housekeep(std::int64_t now, const HistorySettings& settings);
    // The rows of oldKey go under newKey (merged with what newKey had).
    void rename(std::string_view oldKey, std::string_view newKey);

    Counts counts(std::string_view key, std::int64_t since, std::int64_t now);
    Summary summary(std::string_view key, std::int64_t now);
    // Per service, oldest first: its last `window` verdicts, and every one
    // since the start of the failure it is in (at most `maxAge` seconds
    // back), each failure with the text it went down with.
    std::vector<Verdict> recentVerdicts(int window, std::int64_t now, std::int64_t maxAge);
    ServiceDetail detail(std::string_view key, std::int64_t now);
    std::vector<ServiceReport> report(std::int64_t since, std::int64_t now);
    // Raw rows from..to (inclusive) as CSV lines; returns the rows written.
    std::int64_t exportRaw(std::int64_t from, std::int64_t to, std::ostream& out);

    // Every key with rows.
    std::vector<std::string> keys() const;

    // Copies the journal into the database file (the writer, between its
    // transactions). truncate: and cuts the journal to nothing, waiting
    // for readers of older snapshots (after a large transaction, so that
    // the next one neither pays for cutting it nor writes into its tail).
    void checkpoint(bool truncate = false);

    // Bytes the tables hold (the file's pages less its free ones).
    std::int64_t usedBytes();

private:
    explicit HistoryDb(std::unique_ptr<Database> db);
    void createTables(std::int64_t now);
    void loadMeta();
    // A question: a reader sees one snapshot of the file for it, and at its
    // end every statement is reset, so that no read of it holds on to that
    // snapshot (or keeps the journal from being checkpointed).
    class ReadScope final {
    public:
        explicit ReadScope(HistoryDb* db);
        ~ReadScope();
        ReadScope(ReadScope&& other) noexcept : m_db(std::exchange(other.m_db, nullptr)) {}
        ReadScope(const ReadScope&) = delete;
        ReadScope& operator=(const ReadScope&) = delete;
        ReadScope& operator=(ReadScope&&) = delete;

    private:
        HistoryDb* m_db;
    };
    [[nodiscard]] ReadScope refreshForRead();
    std::int64_t meta(std::string_view name, std::int64_t fallback) const;
    void setMeta(std::string_view name, std::int64_t value);
    std::optional<std::int64_t> idOf(std::string_view key);
    std::int64_t idFor(std::string_view key);
    Counts rawCounts(std::int64_t id, std::int64_t from, std::int64_t to);
    Counts countsOf(std::int64_t id, std::int64_t since, std::int64_t now);
    ResponseStats responseOf(std::int64_t id, std::int64_t since, std::int64_t now);
    std::optional<std::int64_t> lastChangeOf(std::int64_t id);
    void rollUp(std::int64_t fromHour, std::int64_t toHour);
    void rollUp(const std::vector<std::int64_t>& ids, std::int64_t fromHour, std::int64_t toHour,
                bool rebuild);
    void dropBefore(const char* table, const char* column, std::int64_t bound);
    std::vector<std::int64_t> serviceIds();
    // The unrolled hour, kept in memory: recent is ordered by time so that
    // a round's rows are appended, and this answers its questions per
    // service. A reader loads it again when the writer has committed.
    struct RecentRow {
        std::int64_t t = 0;
        std::optional<std::int64_t> rt;
        bool failed = false;
        unsigned flags = 0;
    };
    void loadRecent();
    // The rows of one service from..to (exclusive), oldest first: raw rows
    // and the unrolled hour's together; maintenance rows only when asked.
    std::vector<RecentRow> rowsOf(std::int64_t id, std::int64_t from, std::int64_t to,
                                  bool withMaintenance);
    // The unrolled hour's rows of one service from..to (exclusive), oldest
    // first, without those of a maintenance window unless asked.
    void eachRecent(std::int64_t id, std::int64_t from, std::int64_t to, bool withMaintenance,
                    const std::function<void(const RecentRow&)>& fn);
    void migrateRecent();
    void writeBatch(const std::vector<Verdict>& verdicts);
    // A statement prepared once per connection (sql is a literal), reset.
    Statement& query(const char* sql);

    std::unique_ptr<Database> m_db;
    bool m_reader = false;
    // The horizons (rolled_to, raw_from, hourly_from, daily_from).
    std::unordered_map<std::string, std::int64_t> m_meta;
    std::unordered_map<std::string, std::int64_t> m_ids;
    // Before m_db in destruction: finalised while the connection is open.
    std::unordered_map<const char*, std::unique_ptr<Statement>> m_statements;
    // Per service: whether its last verdict failed, so that the first
    // failure of an outage keeps its text.
    std::unordered_map<std::int64_t, bool> m_lastFailed;
    std::unordered_map<std::int64_t, std::vector<RecentRow>> m_recent;
    std::int64_t m_recentVersion = -1;  // PRAGMA data_version it was loaded at
};

}  // namespace vantor::history
