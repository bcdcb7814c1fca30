#include "platform/registry/registry_sqlite.h"

#include <limits>

namespace tiv::reg::sqlite {

statement::statement(sqlite3* db, std::string_view sql) {
    sqlite3_stmt* raw = nullptr;
    m_nPrepareResult = ::sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &raw, nullptr);
    m_pStatement.reset(raw);
    if (m_nPrepareResult == SQLITE_OK && raw == nullptr) {
        m_nPrepareResult = SQLITE_MISUSE;
    }
}

int statement::bind(int index, std::int64_t number) {
    return ::sqlite3_bind_int64(m_pStatement.get(), index, number);
}

int statement::bind(int index, std::string_view text) {
    if (text.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        return SQLITE_TOOBIG;
    }
    // SQLITE_TRANSIENT: SQLite copies the text, so a caller's view may end before the step.
    return ::sqlite3_bind_text(m_pStatement.get(), index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

int statement::bind_blob(int index, const void* data, std::uint32_t size) {
    // A null pointer would bind SQL NULL, so an empty value is bound as a zero-length blob instead.
    if (size == 0) {
        return ::sqlite3_bind_zeroblob(m_pStatement.get(), index, 0);
    }
    return ::sqlite3_bind_blob64(m_pStatement.get(), index, data, size, SQLITE_TRANSIENT);
}

int statement::step() {
    return ::sqlite3_step(m_pStatement.get());
}

std::int64_t statement::column_int(int index) {
    return ::sqlite3_column_int64(m_pStatement.get(), index);
}

std::string_view statement::column_text(int index) {
    const auto* text = ::sqlite3_column_text(m_pStatement.get(), index);
    const int length = ::sqlite3_column_bytes(m_pStatement.get(), index);
    if (text == nullptr || length <= 0) {
        return {};
    }
    return {reinterpret_cast<const char*>(text), static_cast<std::size_t>(length)};
}

const void* statement::column_blob(int index, std::uint32_t& size) {
    const void* data = ::sqlite3_column_blob(m_pStatement.get(), index);
    const int length = ::sqlite3_column_bytes(m_pStatement.get(), index);
    size = data != nullptr && length > 0 ? static_cast<std::uint32_t>(length) : 0;
    return size != 0 ? data : nullptr;
}

int execute(sqlite3* db, std::string_view sql) {
    statement stmt(db, sql);
    if (stmt.prepared() != SQLITE_OK) {
        return stmt.prepared();
    }
    int rc = stmt.step();
    while (rc == SQLITE_ROW) {
        rc = stmt.step();
    }
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

write_transaction::write_transaction(sqlite3* db) : m_pDb(db), m_nBeginResult(execute(db, "BEGIN IMMEDIATE")) {
    m_bOpen = m_nBeginResult == SQLITE_OK;
}

write_transaction::~write_transaction() {
    // Only reached on a failed path: the error that brought us here is what the caller reports, and a
    // failed ROLLBACK leaves nothing to do (SQLite rolls back itself when the connection closes).
    if (m_bOpen) {
        static_cast<void>(execute(m_pDb, "ROLLBACK"));
    }
}

int write_transaction::commit() {
    const int rc = execute(m_pDb, "COMMIT");
    if (rc == SQLITE_OK) {
        m_bOpen = false;
    }
    return rc;
}

} // namespace tiv::reg::sqlite
