#include "icalendar/catalogue_schema.h"

namespace cvical {
namespace {

// files: every file of the Calendar folder as last seen, by its lower-case name.
// appointments: every line of every period file; `key` is the id folded, `master` its object's
// key, `file` the period file's lower-case name.
// objects: one row per object (ObjectRow), `master_id` its key; spans: its time span, for ranges.
// changes and tokens: the change log behind the sync tokens.
constexpr const char kTables[] = R"(
CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS files(
    name TEXT PRIMARY KEY, real TEXT NOT NULL, mtime_ns INTEGER NOT NULL,
    size INTEGER NOT NULL, inode INTEGER NOT NULL) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS appointments(
    key TEXT NOT NULL, id TEXT NOT NULL, master TEXT NOT NULL, file TEXT NOT NULL,
    period TEXT NOT NULL, start INTEGER NOT NULL, finish INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS appointments_key ON appointments(key);
CREATE INDEX IF NOT EXISTS appointments_master ON appointments(master);
CREATE INDEX IF NOT EXISTS appointments_file ON appointments(file);
CREATE TABLE IF NOT EXISTS objects(
    master_id TEXT PRIMARY KEY, id TEXT NOT NULL, href TEXT NOT NULL UNIQUE, uid TEXT NOT NULL,
    etag TEXT NOT NULL, span_start INTEGER NOT NULL, span_end INTEGER NOT NULL,
    recurring INTEGER NOT NULL, exact INTEGER NOT NULL, seen_start INTEGER NOT NULL,
    seen_end INTEGER NOT NULL, modified INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS objects_uid ON objects(uid);
CREATE VIRTUAL TABLE IF NOT EXISTS spans USING rtree_i32(id, start, end);
CREATE TABLE IF NOT EXISTS changes(revision INTEGER NOT NULL, href TEXT NOT NULL);
CREATE INDEX IF NOT EXISTS changes_revision ON changes(revision);
CREATE TABLE IF NOT EXISTS tokens(token TEXT PRIMARY KEY, revision INTEGER NOT NULL) WITHOUT ROWID;
)";

}  // namespace

bool CreateSchema(Database& db) {
    Transaction transaction(db);
    if (!transaction.Begin() || !db.Run(kTables)) return false;
    Statement version(db, "INSERT OR IGNORE INTO meta(key, value) VALUES('schema', ?1)");
    return version.Bind(1, kSchemaVersion).Run() && transaction.Commit();
}

bool SchemaIsSound(Database& db) {
    int64_t version = 0;
    if (!ReadMeta(db, "schema", &version) || version != kSchemaVersion) return false;
    Statement check(db, "PRAGMA quick_check");
    return check.Step() && check.Text(0) == "ok";
}

bool ReadMeta(Database& db, const char* key, int64_t* value) {
    Statement read(db, "SELECT value FROM meta WHERE key = ?1");
    if (!read.ok() || !read.Bind(1, std::string(key)).Step()) return false;
    *value = read.Int(0);
    return true;
}

bool ReadMeta(Database& db, const char* key, std::string* value) {
    Statement read(db, "SELECT value FROM meta WHERE key = ?1");
    if (!read.ok() || !read.Bind(1, std::string(key)).Step()) return false;
    *value = read.Text(0);
    return true;
}

bool WriteMeta(Database& db, const char* key, int64_t value) {
    Statement write(db, "INSERT OR REPLACE INTO meta(key, value) VALUES(?1, ?2)");
    return write.Bind(1, std::string(key)).Bind(2, value).Run();
}

bool WriteMeta(Database& db, const char* key, const std::string& value) {
    Statement write(db, "INSERT OR REPLACE INTO meta(key, value) VALUES(?1, ?2)");
    return write.Bind(1, std::string(key)).Bind(2, value).Run();
}

}  // namespace cvical
