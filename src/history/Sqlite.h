// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace vantor::history {

// An SQLite call that failed: its result code (the primary one in code(),
// so that SQLITE_CORRUPT and SQLITE_NOTADB tell a damaged file) and the
// connection's message.
class SqliteError : public std::runtime_error {
public:
    SqliteError(int code, const std::string& message) : std::runtime_error(message), m_code(code) {}
    int code() const { return m_code & 0xff; }
    // The file is not a database or is damaged, rather than unwritable.
    bool damaged() const { return code() == SQLITE_CORRUPT || code() == SQLITE_NOTADB; }

private:
    int m_code;
};

class Statement;

// One connection, closed with the object. A busy database is waited for up
// to the time given at open; every failure throws SqliteError.
class Database final {
public:
    // ReadWrite makes the file when it is missing; ReadExisting does not.
    enum class Mode { ReadWrite, ReadExisting, ReadOnly };
    Database(const std::string& path, Mode mode, int busyTimeoutMs = 5000);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    void exec(const char* sql);
    std::int64_t scalar(const char* sql);
    int changes() const { return sqlite3_changes(m_db); }
    sqlite3* handle() const { return m_db; }
    [[noreturn]] void fail(int code) const;

private:
    sqlite3* m_db = nullptr;
};

// A prepared statement; step() runs it to its next row, reset() makes it
// ready for new values. Columns and parameters count from 0 and 1 as in
// SQLite.
class Statement final {
public:
    Statement(Database& db, const char* sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int index, std::int64_t value);
    Statement& bind(int index, std::string_view text);
    Statement& bindBlob(int index, std::string_view bytes);
    Statement& bindNull(int index);
    // True while a row is there; false once the statement is done.
    bool step();
    void reset();

    std::int64_t integer(int column) const { return sqlite3_column_int64(m_stmt, column); }
    bool isNull(int column) const { return sqlite3_column_type(m_stmt, column) == SQLITE_NULL; }
    std::optional<std::int64_t> optionalInteger(int column) const;
    std::string text(int column) const;
    std::string_view blob(int column) const;

private:
    Database& m_db;
    sqlite3_stmt* m_stmt = nullptr;
};

// A transaction that rolls back unless committed.
class Transaction final {
public:
    explicit Transaction(Database& db);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit();

private:
    Database& m_db;
    bool m_open = true;
};

}  // namespace vantor::history
