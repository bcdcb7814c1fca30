#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include <sqlite3.h>

// Owners for SQLite handles and the few helpers the hive needs; nothing here knows about keys or values.
namespace tiv::reg::sqlite {

struct connection_closer {
    // close_v2 only defers when statements are still open, and every statement has its own owner.
    void operator()(sqlite3* db) const { ::sqlite3_close_v2(db); }
};
using connection = std::unique_ptr<sqlite3, connection_closer>;

struct statement_finalizer {
    // finalize repeats the statement's last step error, which the caller has already seen.
    void operator()(sqlite3_stmt* stmt) const { ::sqlite3_finalize(stmt); }
};

// One prepared statement. Every bind and step reports SQLite's result code, which the caller checks.
class statement {
public:
    statement(sqlite3* db, std::string_view sql);

    [[nodiscard]] int prepared() const { return m_nPrepareResult; }
    [[nodiscard]] int bind(int index, std::int64_t number);
    [[nodiscard]] int bind(int index, std::string_view text);
    [[nodiscard]] int bind_blob(int index, const void* data, std::uint32_t size);
    // SQLITE_ROW, SQLITE_DONE or an error.
    [[nodiscard]] int step();

    [[nodiscard]] std::int64_t column_int(int index);
    [[nodiscard]] std::string_view column_text(int index);
    // A zero-length blob comes back as a null pointer with size 0.
    [[nodiscard]] const void* column_blob(int index, std::uint32_t& size);

private:
    std::unique_ptr<sqlite3_stmt, statement_finalizer> m_pStatement;
    int m_nPrepareResult = SQLITE_ERROR;
};

// Runs statements that return no rows; SQLITE_OK or the first error.
[[nodiscard]] int execute(sqlite3* db, std::string_view sql);

// A write transaction taken with BEGIN IMMEDIATE, so the write lock (and with it the busy time-out) is
// claimed up front rather than failing on upgrade halfway through. Rolled back unless committed.
class write_transaction {
public:
    explicit write_transaction(sqlite3* db);
    write_transaction(const write_transaction&) = delete;
    write_transaction& operator=(const write_transaction&) = delete;
    ~write_transaction();

    [[nodiscard]] int begun() const { return m_nBeginResult; }
    [[nodiscard]] int commit();

private:
    sqlite3* m_pDb;
    int m_nBeginResult;
    bool m_bOpen = false;
};

} // namespace tiv::reg::sqlite
