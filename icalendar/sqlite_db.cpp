#include "icalendar/sqlite_db.h"

#include <sqlite3.h>

namespace cvical {

Database::~Database() {
    Close();
}

bool Database::Open(const std::string& path, int busy_milliseconds) {
    Close();
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    int code = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
    if (code != SQLITE_OK) {
        Note(code);
        Close();
        return false;
    }
    sqlite3_busy_timeout(db_, busy_milliseconds);
    // NORMAL is durable enough under WAL: a crash loses at most the last commits, which the
    // next sweep finds again in the store, the truth.
    return Run("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;");
}

void Database::Close() {
    if (db_ != nullptr) sqlite3_close_v2(db_);
    db_ = nullptr;
}

bool Database::Run(const char* sql) {
    char* message = nullptr;
    int code = sqlite3_exec(db_, sql, nullptr, nullptr, &message);
    if (code != SQLITE_OK) {
        Note(code);
        if (message != nullptr) error_ = message;
    }
    sqlite3_free(message);
    return code == SQLITE_OK;
}

int64_t Database::LastInsertRow() const {
    return sqlite3_last_insert_rowid(db_);
}

bool Database::HasMoved() const {
    int moved = 0;
    return db_ != nullptr &&
           sqlite3_file_control(db_, "main", SQLITE_FCNTL_HAS_MOVED, &moved) == SQLITE_OK &&
           moved != 0;
}

void Database::Note(int code) {
    busy_ = (code & 0xff) == SQLITE_BUSY || (code & 0xff) == SQLITE_LOCKED;
    error_ = db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(code);
}

Statement::Statement(Database& db, const char* sql) : db_(db) {
    int code = sqlite3_prepare_v2(db.db_, sql, -1, &stmt_, nullptr);
    if (code != SQLITE_OK) {
        db_.Note(code);
        stmt_ = nullptr;
    }
}

Statement::~Statement() {
    sqlite3_finalize(stmt_);
}

Statement& Statement::Bind(int index, int64_t value) {
    sqlite3_bind_int64(stmt_, index, value);
    return *this;
}

Statement& Statement::Bind(int index, const std::string& text) {
    sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
}

Statement& Statement::BindNull(int index) {
    sqlite3_bind_null(stmt_, index);
    return *this;
}

bool Statement::Step() {
    if (stmt_ == nullptr) return false;
    int code = sqlite3_step(stmt_);
    if (code == SQLITE_ROW) return true;
    if (code != SQLITE_DONE) {
        db_.Note(code);
        failed_ = true;
    }
    return false;
}

bool Statement::Run() {
    if (stmt_ == nullptr) return false;
    int code = sqlite3_step(stmt_);
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
    if (code == SQLITE_DONE || code == SQLITE_ROW) return true;
    db_.Note(code);
    failed_ = true;
    return false;
}

void Statement::Reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

int64_t Statement::Int(int column) const {
    return sqlite3_column_int64(stmt_, column);
}

std::string Statement::Text(int column) const {
    const unsigned char* text = sqlite3_column_text(stmt_, column);
    return text == nullptr ? std::string()
                           : std::string(reinterpret_cast<const char*>(text),
                                         static_cast<size_t>(sqlite3_column_bytes(stmt_, column)));
}

bool Statement::IsNull(int column) const {
    return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

Transaction::~Transaction() {
    if (open_) db_.Run("ROLLBACK");
}

bool Transaction::Begin() {
    open_ = db_.Run("BEGIN IMMEDIATE");
    return open_;
}

bool Transaction::Commit() {
    if (!open_) return false;
    open_ = false;
    if (db_.Run("COMMIT")) return true;
    db_.Run("ROLLBACK");
    return false;
}

}  // namespace cvical
