// A thin hold on SQLite for the catalogue: a connection and its prepared statements as values
// that close themselves, and errors as texts rather than codes.
#pragma once

#include <cstdint>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace cvical {

class Statement;

class Database {
  public:
    Database() = default;
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Opens (creating) the file with the waits the catalogue's sharing needs: WAL, so that a
    // reader never waits for a writer, and a busy timeout, so that two doors' writes queue
    // instead of failing.
    bool Open(const std::string& path, int busy_milliseconds);
    void Close();
    bool IsOpen() const { return db_ != nullptr; }

    // Runs statements that give no rows. False (with error()) on failure.
    bool Run(const char* sql);
    const std::string& error() const { return error_; }
    // Whether the last failure was another connection holding the database past the timeout.
    bool busy() const { return busy_; }
    int64_t LastInsertRow() const;
    // Whether the file this connection opened has been deleted or renamed since: another party
    // made a new one in its place.
    bool HasMoved() const;
    sqlite3* handle() const { return db_; }

  private:
    friend class Statement;
    void Note(int code);

    sqlite3* db_ = nullptr;
    std::string error_;
    bool busy_ = false;
};

// A prepared statement, reset for its next use by Reset (and on destruction, finalized).
class Statement {
  public:
    Statement(Database& db, const char* sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // False once it could not be prepared, or a step failed (rather than ending).
    bool ok() const { return stmt_ != nullptr && !failed_; }
    Statement& Bind(int index, int64_t value);
    Statement& Bind(int index, const std::string& text);
    Statement& BindNull(int index);
    // The next row: true while there is one. False at the end or on failure (see ok).
    bool Step();
    // Runs a statement that gives no rows; false on failure.
    bool Run();
    void Reset();

    int64_t Int(int column) const;
    std::string Text(int column) const;
    bool IsNull(int column) const;

  private:
    Database& db_;
    sqlite3_stmt* stmt_ = nullptr;
    bool failed_ = false;
};

// BEGIN IMMEDIATE ... COMMIT, rolled back when it goes without Commit.
class Transaction {
  public:
    explicit Transaction(Database& db) : db_(db) {}
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    bool Begin();
    bool Commit();

  private:
    Database& db_;
    bool open_ = false;
};

// A read transaction over several statements, ended when it goes out of scope. Without one,
// every statement is a transaction of its own and takes and gives back the database's locks.
class ReadSnapshot {
  public:
    explicit ReadSnapshot(Database& db) : db_(db) {}
    ~ReadSnapshot() { End(); }
    ReadSnapshot(const ReadSnapshot&) = delete;
    ReadSnapshot& operator=(const ReadSnapshot&) = delete;

    void Begin() { open_ = db_.Run("BEGIN"); }
    void End() {
        if (open_) db_.Run("COMMIT");
        open_ = false;
    }

  private:
    Database& db_;
    bool open_ = false;
};

}  // namespace cvical
