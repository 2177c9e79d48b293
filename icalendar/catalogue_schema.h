// The catalogue database's tables, and its small key-value table of what the last sweep saw.
#pragma once

#include <cstdint>
#include <string>

#include "icalendar/sqlite_db.h"

namespace cvical {

// Bumped with every change of the tables: a database of another version is built anew.
constexpr int64_t kSchemaVersion = 3;

// Makes the tables that are missing (all of them in a new file). False on failure.
bool CreateSchema(Database& db);
// Whether the file holds this version's tables, whole: false for another version, a file that
// is no database, or one that SQLite's own check finds damaged.
bool SchemaIsSound(Database& db);

// meta(key, value): the folder's stamp, the last full sweep, the revision and the state digest
// behind the sync token, the day of the last roll.
bool ReadMeta(Database& db, const char* key, int64_t* value);
bool ReadMeta(Database& db, const char* key, std::string* value);
bool WriteMeta(Database& db, const char* key, int64_t value);
bool WriteMeta(Database& db, const char* key, const std::string& value);

}  // namespace cvical
