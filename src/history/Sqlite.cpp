// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/Sqlite.h"

namespace vantor::history {

Database::Database(const std::string& path, Mode mode, int busyTimeoutMs) {
    const int flags = mode == Mode::ReadOnly       ? SQLITE_OPEN_READONLY
                      : mode == Mode::ReadExisting ? SQLITE_OPEN_READWRITE
                                                   : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    const int rc = sqlite3_open_v2(path.c_str(), &m_db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const std::string message = m_db != nullptr ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc);
        sqlite3_close(m_db);
        m_db = nullptr;
        throw SqliteError(rc, message);
    }
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_busy_timeout(m_db, busyTimeoutMs);
}

Database::~Database() {
    sqlite3_close_v2(m_db);
}

void Database::fail(int code) const {
    throw SqliteError(code, sqlite3_errmsg(m_db));
}

void Database::exec(const char* sql) {
    char* message = nullptr;
    const int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        const std::string text = message != nullptr ? message : sqlite3_errstr(rc);
        sqlite3_free(message);
        throw SqliteError(rc, text);
    }
}

std::int64_t Database::scalar(const char* sql) {
    Statement s(*this, sql);
    return s.step() ? s.integer(0) : 0;
}

Statement::Statement(Database& db, const char* sql) : m_db(db) {
    const int rc = sqlite3_prepare_v2(db.handle(), sql, -1, &m_stmt, nullptr);
    if (rc != SQLITE_OK) {
        db.fail(rc);
    }
}

Statement::~Statement() {
    sqlite3_finalize(m_stmt);
}

Statement& Statement::bind(int index, std::int64_t value) {
    if (const int rc = sqlite3_bind_int64(m_stmt, index, value); rc != SQLITE_OK) {
        m_db.fail(rc);
    }
    return *this;
}

Statement& Statement::bind(int index, std::string_view text) {
    const int rc =
        sqlite3_bind_text64(m_stmt, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    if (rc != SQLITE_OK) {
        m_db.fail(rc);
    }
    return *this;
}

Statement& Statement::bindBlob(int index, std::string_view bytes) {
    // A zero-length blob is still a blob, not NULL.
    const int rc = sqlite3_bind_blob64(m_stmt, index, bytes.empty() ? "" : bytes.data(),
                                       bytes.size(), SQLITE_TRANSIENT);
    if (rc != SQLITE_OK) {
        m_db.fail(rc);
    }
    return *this;
}

Statement& Statement::bindNull(int index) {
    if (const int rc = sqlite3_bind_null(m_stmt, index); rc != SQLITE_OK) {
        m_db.fail(rc);
    }
    return *this;
}

bool Statement::step() {
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW) {
        return true;
    }
    if (rc == SQLITE_DONE) {
        return false;
    }
    sqlite3_reset(m_stmt);
    m_db.fail(rc);
}

void Statement::reset() {
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

std::optional<std::int64_t> Statement::optionalInteger(int column) const {
    if (isNull(column)) {
        return std::nullopt;
    }
    return integer(column);
}

std::string Statement::text(int column) const {
    const auto* p = sqlite3_column_text(m_stmt, column);
    return p != nullptr
               ? std::string(reinterpret_cast<const char*>(p),
                             static_cast<std::size_t>(sqlite3_column_bytes(m_stmt, column)))
               : std::string();
}

std::string_view Statement::blob(int column) const {
    const void* p = sqlite3_column_blob(m_stmt, column);
    const int n = sqlite3_column_bytes(m_stmt, column);
    return p != nullptr ? std::string_view(static_cast<const char*>(p), static_cast<std::size_t>(n))
                        : std::string_view();
}

Transaction::Transaction(Database& db) : m_db(db) {
    m_db.exec("BEGIN IMMEDIATE");
}

Transaction::~Transaction() {
    if (m_open) {
        try {
            m_db.exec("ROLLBACK");
        } catch (...) {
            // A failed statement may have ended the transaction already.
        }
    }
}

void Transaction::commit() {
    m_db.exec("COMMIT");
    m_open = false;
}

}  // namespace vantor::history
