#include "platform/registry/registry_hive.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <unistd.h>

#include "platform/paths.h"
#include "platform/registry/registry_locks.h"

namespace tiv::reg {

namespace {

constexpr int busy_timeout_ms = 10000;
constexpr std::int64_t schema_version = 1;

// Key names compare with SQLite's NOCASE collation (ASCII letters only), both for lookups through the
// unique index and for the enumeration order; the stored name keeps the case it was created with.
// AUTOINCREMENT keeps key ids from being reused, which is what makes a stale handle detectable.
constexpr std::string_view schema = R"sql(
CREATE TABLE IF NOT EXISTS reg_keys(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    parent INTEGER,
    name TEXT NOT NULL COLLATE NOCASE,
    UNIQUE(parent, name));
CREATE TABLE IF NOT EXISTS reg_values(
    key_id INTEGER NOT NULL,
    name TEXT NOT NULL COLLATE NOCASE,
    type INTEGER NOT NULL,
    data BLOB NOT NULL,
    PRIMARY KEY(key_id, name)) WITHOUT ROWID;
INSERT OR IGNORE INTO reg_keys(id, parent, name) VALUES(1, NULL, '');
)sql";

struct open_hives {
    std::mutex oMutex;
    std::map<std::string, std::weak_ptr<hive>> aByPath;
};

open_hives& cache() {
    static open_hives instance;
    return instance;
}

// exec runs several statements, which a prepared statement cannot.
int run_script(sqlite3* db, std::string_view script) {
    const std::string text(script);
    return ::sqlite3_exec(db, text.c_str(), nullptr, nullptr, nullptr);
}

// A pragma that answers with one row: its first column as text.
int pragma_text(sqlite3* db, std::string_view sql, std::string& answer) {
    sqlite::statement stmt(db, sql);
    if (stmt.prepared() != SQLITE_OK) {
        return stmt.prepared();
    }
    const int rc = stmt.step();
    if (rc != SQLITE_ROW) {
        return rc == SQLITE_DONE ? SQLITE_ERROR : rc;
    }
    answer = std::string(stmt.column_text(0));
    return SQLITE_OK;
}

// Checks the preparation and binds `values` to ?1, ?2, ... in order; SQLITE_OK or the first failure.
template <typename... Values> int bind_all(sqlite::statement& stmt, const Values&... values) {
    int rc = stmt.prepared();
    int index = 0;
    ((rc = rc == SQLITE_OK ? stmt.bind(++index, values) : rc), ...);
    return rc;
}

bool is_permission_error(int error) {
    return error == EACCES || error == EPERM || error == EROFS;
}

// Settings are this user's own: a new database is made readable by its owner only, before SQLite opens it, and
// SQLite gives its journal files the mode of the database.
error_code create_private_file(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
        return success;
    }
    if (errno == EEXIST) {
        return success;
    }
    return is_permission_error(errno) ? access_denied : cannot_open_hive;
}

// A file name as the path of a "file:" URI: the characters a URI gives a meaning to are escaped.
std::string uri_path(const std::string& path) {
    std::string escaped;
    for (const char c : path) {
        if (c == '%' || c == '?' || c == '#') {
            static constexpr char digits[] = "0123456789ABCDEF";
            escaped += '%';
            escaped += digits[static_cast<unsigned char>(c) >> 4];
            escaped += digits[static_cast<unsigned char>(c) & 0xf];
        } else {
            escaped += c;
        }
    }
    return escaped;
}

} // namespace

error_code status_from_sqlite(int rc) {
    switch (rc & 0xff) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
        return success;
    case SQLITE_PERM:
    case SQLITE_READONLY:
    case SQLITE_AUTH:
    case SQLITE_CANTOPEN:
        return access_denied;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_FORMAT:
        return registry_corrupt;
    case SQLITE_TOOBIG:
        return invalid_parameter;
    default:
        return io_failure;
    }
}

hive::hive(std::string path, sqlite::connection db, bool read_only)
    : m_strPath(std::move(path)), m_pDb(std::move(db)), m_nProcess(::getpid()), m_bReadOnly(read_only) {}

error_code hive::open(const std::string& path, std::shared_ptr<hive>& out) {
    open_hives& hives = cache();
    const std::lock_guard lock(hives.oMutex);
    for (auto it = hives.aByPath.begin(); it != hives.aByPath.end();) {
        it = it->second.expired() ? hives.aByPath.erase(it) : std::next(it);
    }
    if (auto it = hives.aByPath.find(path); it != hives.aByPath.end()) {
        if (std::shared_ptr<hive> existing = it->second.lock(); existing && existing->m_nProcess == ::getpid()) {
            out = std::move(existing);
            return success;
        }
    }

    // Locks that any close in this process could drop would let another program delete the journal under us.
    if (!locks::lock_by_open_description()) {
        return cannot_open_hive;
    }
    sqlite::connection db;
    bool read_only = false;
    if (const error_code result = open_database(path, db, read_only); result != success) {
        return result;
    }
    std::shared_ptr<hive> opened(new hive(path, std::move(db), read_only));
    hives.aByPath[path] = opened;
    out = std::move(opened);
    return success;
}

error_code hive::open_database(const std::string& path, sqlite::connection& db, bool& read_only) {
    read_only = false;
    const std::string directory = paths::parent_directory(path);
    if (!directory.empty() && !paths::make_directories(directory)) {
        return access_denied;
    }
    // A hive this user may read but not write (the machine's, shared by every user of a computer) is used as it
    // stands: its values count, and every write to it is refused as access_denied.
    if (::access(path.c_str(), F_OK) == 0 && ::access(path.c_str(), W_OK) != 0) {
        if (!is_permission_error(errno) || ::access(path.c_str(), R_OK) != 0) {
            return is_permission_error(errno) ? access_denied : cannot_open_hive;
        }
        read_only = true;
        return open_read_only(path, db);
    }
    if (const error_code created = create_private_file(path); created != success) {
        return created;
    }

    sqlite3* raw = nullptr;
    const int opened = ::sqlite3_open_v2(path.c_str(), &raw,
                                         SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
    db.reset(raw);
    if (opened != SQLITE_OK) {
        return status_from_sqlite(opened) == access_denied ? access_denied : cannot_open_hive;
    }
    if (::sqlite3_db_readonly(db.get(), "main") != 0) {
        return access_denied;
    }
    // From here every failure is either a permission problem or a file that is not one of our hives.
    const auto failed = [](int rc) {
        return status_from_sqlite(rc) == access_denied ? access_denied : cannot_open_hive;
    };
    if (const int rc = ::sqlite3_busy_timeout(db.get(), busy_timeout_ms); rc != SQLITE_OK) {
        return failed(rc);
    }
    std::string mode;
    if (const int rc = pragma_text(db.get(), "PRAGMA journal_mode=WAL", mode); rc != SQLITE_OK) {
        return failed(rc);
    }
    if (::sqlite3_stricmp(mode.c_str(), "wal") != 0) {
        return cannot_open_hive;
    }
    // In WAL mode NORMAL keeps every commit atomic; a power cut may lose the newest commits, never tear one.
    if (const int rc = sqlite::execute(db.get(), "PRAGMA synchronous=NORMAL"); rc != SQLITE_OK) {
        return failed(rc);
    }

    sqlite::write_transaction transaction(db.get());
    if (transaction.begun() != SQLITE_OK) {
        return failed(transaction.begun());
    }
    std::string version;
    if (const int rc = pragma_text(db.get(), "PRAGMA user_version", version); rc != SQLITE_OK) {
        return failed(rc);
    }
    // A hive written by a later version of the program is left alone rather than half understood.
    if (version != "0" && version != std::to_string(schema_version)) {
        return cannot_open_hive;
    }
    if (const int rc = run_script(db.get(), schema); rc != SQLITE_OK) {
        return failed(rc);
    }
    if (const int rc = sqlite::execute(db.get(), "PRAGMA user_version = " + std::to_string(schema_version));
        rc != SQLITE_OK) {
        return failed(rc);
    }
    if (const int rc = transaction.commit(); rc != SQLITE_OK) {
        return failed(rc);
    }
    return success;
}

error_code hive::open_read_only(const std::string& path, sqlite::connection& db) {
    // A reader of a WAL database needs its shared-memory file; in a directory the user may not write, where it
    // cannot be made, only an immutable open reads the file. The first query shows which of the two works.
    for (const char* parameter : {"?mode=ro", "?immutable=1"}) {
        sqlite3* raw = nullptr;
        const std::string uri = "file:" + uri_path(path) + parameter;
        const int opened = ::sqlite3_open_v2(uri.c_str(), &raw,
                                             SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_FULLMUTEX, nullptr);
        db.reset(raw);
        if (opened != SQLITE_OK) {
            return cannot_open_hive;
        }
        if (const int rc = ::sqlite3_busy_timeout(db.get(), busy_timeout_ms); rc != SQLITE_OK) {
            return cannot_open_hive;
        }
        std::string version;
        const int rc = pragma_text(db.get(), "SELECT count(*) FROM reg_keys WHERE id = 1", version);
        if (rc == SQLITE_OK) {
            return version == "1" ? success : cannot_open_hive;
        }
        if (status_from_sqlite(rc) != access_denied) {
            return status_from_sqlite(rc) == registry_corrupt ? registry_corrupt : cannot_open_hive;
        }
    }
    return cannot_open_hive;
}

error_code hive::begun_on_live_key(const sqlite::write_transaction& transaction, std::int64_t id) {
    if (transaction.begun() != SQLITE_OK) {
        return status_from_sqlite(transaction.begun());
    }
    return key_status(id);
}

error_code hive::key_status(std::int64_t id) {
    sqlite::statement stmt(m_pDb.get(), "SELECT 1 FROM reg_keys WHERE id = ?1");
    if (const int rc = bind_all(stmt, id); rc != SQLITE_OK) {
        return status_from_sqlite(rc);
    }
    const int rc = stmt.step();
    if (rc == SQLITE_ROW) {
        return success;
    }
    return rc == SQLITE_DONE ? key_deleted : status_from_sqlite(rc);
}

error_code hive::child(std::int64_t parent, std::string_view name, std::int64_t& id) {
    sqlite::statement stmt(m_pDb.get(), "SELECT id FROM reg_keys WHERE parent = ?1 AND name = ?2");
    if (const int rc = bind_all(stmt, parent, name); rc != SQLITE_OK) {
        return status_from_sqlite(rc);
    }
    const int rc = stmt.step();
    if (rc == SQLITE_ROW) {
        id = stmt.column_int(0);
        return success;
    }
    return rc == SQLITE_DONE ? file_not_found : status_from_sqlite(rc);
}

error_code hive::walk(std::int64_t start, const std::vector<std::string_view>& levels, std::int64_t& id) {
    if (const error_code result = key_status(start); result != success) {
        return result;
    }
    std::int64_t current = start;
    for (const std::string_view level : levels) {
        if (const error_code result = child(current, level, current); result != success) {
            return result;
        }
    }
    id = current;
    return success;
}

error_code hive::find_key(std::int64_t start, const std::vector<std::string_view>& levels, std::int64_t& id) {
    const std::lock_guard lock(m_oMutex);
    return walk(start, levels, id);
}

error_code hive::create_key(std::int64_t start, const std::vector<std::string_view>& levels, std::int64_t& id,
                            bool& created) {
    const std::lock_guard lock(m_oMutex);
    sqlite::write_transaction transaction(m_pDb.get());
    if (const error_code result = begun_on_live_key(transaction, start); result != success) {
        return result;
    }
    std::int64_t current = start;
    bool made_last = false;
    for (const std::string_view level : levels) {
        std::int64_t next = 0;
        const error_code found = child(current, level, next);
        made_last = found == file_not_found;
        if (made_last) {
            sqlite::statement insert(m_pDb.get(), "INSERT INTO reg_keys(parent, name) VALUES(?1, ?2)");
            if (const int rc = bind_all(insert, current, level); rc != SQLITE_OK) {
                return status_from_sqlite(rc);
            }
            if (const int rc = insert.step(); rc != SQLITE_DONE) {
                return status_from_sqlite(rc);
            }
            next = ::sqlite3_last_insert_rowid(m_pDb.get());
        } else if (found != success) {
            return found;
        }
        current = next;
    }
    if (const int rc = transaction.commit(); rc != SQLITE_OK) {
        return status_from_sqlite(rc);
    }
    id = current;
    created = made_last;
    return success;
}

error_code hive::delete_key(std::int64_t start, const std::vector<std::string_view>& levels) {
    const std::lock_guard lock(m_oMutex);
    sqlite::write_transaction transaction(m_pDb.get());
    if (transaction.begun() != SQLITE_OK) {
        return status_from_sqlite(transaction.begun());
    }
    std::int64_t target = 0;
    if (const error_code result = walk(start, levels, target); result != success) {
        return result;
    }
    if (target == root_id) {
        return access_denied;
    }
    std::int64_t grandchild = 0;
    {
        sqlite::statement stmt(m_pDb.get(), "SELECT id FROM reg_keys WHERE parent = ?1 LIMIT 1");
        if (const int rc = bind_all(stmt, target); rc != SQLITE_OK) {
            return status_from_sqlite(rc);
        }
        const int rc = stmt.step();
        if (rc == SQLITE_ROW) {
            grandchild = stmt.column_int(0);
        } else if (rc != SQLITE_DONE) {
            return status_from_sqlite(rc);
        }
    }
    // Like RegDeleteKey: a key with subkeys stays, so a whole tree never disappears by accident.
    if (grandchild != 0) {
        return access_denied;
    }
    for (const std::string_view sql : {std::string_view("DELETE FROM reg_values WHERE key_id = ?1"),
                                       std::string_view("DELETE FROM reg_keys WHERE id = ?1")}) {
        sqlite::statement stmt(m_pDb.get(), sql);
        if (const int rc = bind_all(stmt, target); rc != SQLITE_OK) {
            return status_from_sqlite(rc);
        }
        if (const int rc = stmt.step(); rc != SQLITE_DONE) {
            return status_from_sqlite(rc);
        }
    }
    return status_from_sqlite(transaction.commit());
}

error_code hive::read_value(std::int64_t id, std::string_view name, std::uint32_t& type, std::uint32_t& size,
                            void* destination, std::uint32_t capacity) {
    const std::lock_guard lock(m_oMutex);
    sqlite::statement stmt(m_pDb.get(), "SELECT type, data FROM reg_values WHERE key_id = ?1 AND name = ?2");
    if (const int rc = bind_all(stmt, id, name); rc != SQLITE_OK) {
        return status_from_sqlite(rc);
    }
    const int rc = stmt.step();
    if (rc == SQLITE_DONE) {
        // Values go with their key in one transaction, so only a missing value needs the key checked.
        const error_code key_state = key_status(id);
        return key_state == success ? file_not_found : key_state;
    }
    if (rc != SQLITE_ROW) {
        return status_from_sqlite(rc);
    }
    type = static_cast<std::uint32_t>(stmt.column_int(0));
    const void* data = stmt.column_blob(1, size);
    if (destination != nullptr && size <= capacity && size != 0) {
        std::memcpy(destination, data, size);
    }
    return success;
}

error_code hive::write_value(std::int64_t id, std::string_view name, std::uint32_t type, const void* data,
                             std::uint32_t size) {
    const std::lock_guard lock(m_oMutex);
    sqlite::write_transaction transaction(m_pDb.get());
    if (const error_code result = begun_on_live_key(transaction, id); result != success) {
        return result;
    }
    // An existing value keeps the spelling of its name, as the Windows registry does.
    sqlite::statement stmt(m_pDb.get(), "INSERT INTO reg_values(key_id, name, type, data) VALUES(?1, ?2, ?3, ?4) "
                                        "ON CONFLICT(key_id, name) DO UPDATE SET type = excluded.type, "
                                        "data = excluded.data");
    if (const int rc = bind_all(stmt, id, name, static_cast<std::int64_t>(type)); rc != SQLITE_OK) {
        return status_from_sqlite(rc);
    }
    if (const int rc = stmt.bind_blob(4, data, size); rc != SQLITE_OK) {
        return status_from_sqlite(rc);
    }
    if (const int rc = stmt.step(); rc != SQLITE_DONE) {
        return status_from_sqlite(rc);
    }
    return status_from_sqlite(transaction.commit());
}

error_code hive::delete_value(std::int64_t id, std::string_view name) {
    const std::lock_guard lock(m_oMutex);
    sqlite::write_transaction transaction(m_pDb.get());
    if (const error_code result = begun_on_live_key(transaction, id); result != success) {
        return result;
    }
    sqlite::statement stmt(m_pDb.get(), "DELETE FROM reg_values WHERE key_id = ?1 AND name = ?2");
    if (const int rc = bind_all(stmt, id, name); rc != SQLITE_OK) {
        return status_from_sqlite(rc);
    }
    if (const int rc = stmt.step(); rc != SQLITE_DONE) {
        return status_from_sqlite(rc);
    }
    if (::sqlite3_changes(m_pDb.get()) == 0) {
        return file_not_found;
    }
    return status_from_sqlite(transaction.commit());
}

error_code hive::subkey_at(std::int64_t id, std::uint32_t index, std::string& name) {
    const std::lock_guard lock(m_oMutex);
    sqlite::statement stmt(m_pDb.get(), "SELECT name FROM reg_keys WHERE parent = ?1 ORDER BY name LIMIT 1 OFFSET ?2");
    if (const int rc = bind_all(stmt, id, static_cast<std::int64_t>(index)); rc != SQLITE_OK) {
        return status_from_sqlite(rc);
    }
    const int rc = stmt.step();
    if (rc == SQLITE_ROW) {
        name = std::string(stmt.column_text(0));
        return success;
    }
    if (rc != SQLITE_DONE) {
        return status_from_sqlite(rc);
    }
    const error_code key_state = key_status(id);
    return key_state == success ? no_more_items : key_state;
}

error_code hive::subkey_names(std::int64_t id, std::vector<std::string>& names) {
    const std::lock_guard lock(m_oMutex);
    if (const error_code result = key_status(id); result != success) {
        return result;
    }
    sqlite::statement stmt(m_pDb.get(), "SELECT name FROM reg_keys WHERE parent = ?1 ORDER BY name");
    if (const int rc = bind_all(stmt, id); rc != SQLITE_OK) {
        return status_from_sqlite(rc);
    }
    std::vector<std::string> found;
    int rc = stmt.step();
    for (; rc == SQLITE_ROW; rc = stmt.step()) {
        found.emplace_back(stmt.column_text(0));
    }
    if (rc != SQLITE_DONE) {
        return status_from_sqlite(rc);
    }
    names = std::move(found);
    return success;
}

error_code hive::values(std::int64_t id, std::vector<value_entry>& entries) {
    const std::lock_guard lock(m_oMutex);
    if (const error_code result = key_status(id); result != success) {
        return result;
    }
    sqlite::statement stmt(m_pDb.get(), "SELECT name, type, data FROM reg_values WHERE key_id = ?1 ORDER BY name");
    if (const int rc = bind_all(stmt, id); rc != SQLITE_OK) {
        return status_from_sqlite(rc);
    }
    std::vector<value_entry> found;
    int rc = stmt.step();
    for (; rc == SQLITE_ROW; rc = stmt.step()) {
        value_entry entry;
        entry.name = std::string(stmt.column_text(0));
        entry.type = static_cast<std::uint32_t>(stmt.column_int(1));
        std::uint32_t size = 0;
        const auto* data = static_cast<const std::uint8_t*>(stmt.column_blob(2, size));
        entry.data.assign(data, data + size);
        found.push_back(std::move(entry));
    }
    if (rc != SQLITE_DONE) {
        return status_from_sqlite(rc);
    }
    entries = std::move(found);
    return success;
}

} // namespace tiv::reg
