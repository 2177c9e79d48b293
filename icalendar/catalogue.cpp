#include "icalendar/catalogue.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "icalendar/catalogue_object.h"
#include "icalendar/catalogue_schema.h"
#include "icalendar/digest.h"

namespace cvical {
namespace {

// Two doors write one database in turns; a write waits this long for the other's to end. The
// longest is a first sweep of a large calendar.
constexpr int kBusyMilliseconds = 30000;
// Line times are UTC, while a client's range may mean local days: a range query widens every
// range by the largest zone offset, so that it never leaves a match out.
constexpr int64_t kZoneSlack = 14 * 3600;

// The lines of the catalogue's appointments, for the engine: it then walks no period file.
class CatalogueLines : public LineLookup {
  public:
    explicit CatalogueLines(Database& db) : db_(db) {}
    std::vector<StoredLine> ObjectLines(const std::string& id) const override {
        const std::string key = FoldCase(id);
        // The appointment and those whose ids are its id, "-" and more: the keys between
        // "<key>-" and "<key>." ('.' follows '-').
        Statement read(db_,
                       "SELECT id, period, start, finish FROM appointments "
                       "WHERE key = ?1 OR (key >= ?2 AND key < ?3)");
        read.Bind(1, key).Bind(2, key + "-").Bind(3, key + ".");
        std::vector<StoredLine> lines;
        while (read.Step()) {
            lines.push_back({read.Text(0), read.Text(1), static_cast<int32_t>(read.Int(2)),
                             static_cast<int32_t>(read.Int(3))});
        }
        return lines;
    }

    // From the files the sweep has seen, which a change has just brought up to date.
    bool OccurrenceItems(const std::string& id, std::vector<std::string>* names) const override {
        const std::string key = FoldCase(id);
        Statement read(db_, "SELECT real FROM files WHERE name >= ?1 AND name < ?2 ORDER BY real");
        read.Bind(1, key + "-").Bind(2, key + ".");
        names->clear();
        while (read.Step()) names->push_back(read.Text(0));
        return read.ok();
    }

  private:
    Database& db_;
};

void RemoveDatabase(const std::string& path) {
    for (const char* suffix : {"", "-wal", "-shm"}) std::remove((path + suffix).c_str());
}

ListedObject Listed(const Statement& row) {
    return {row.Text(0), row.Text(1), row.Text(2), row.Int(3)};
}

}  // namespace

std::unique_ptr<Catalogue> Catalogue::Open(const CatalogueSettings& settings, Status* status) {
    std::unique_ptr<Catalogue> catalogue(new Catalogue);
    catalogue->settings_ = settings;
    std::string error;
    if (!MailboxCalendar::Open(settings.postoffice, settings.mailbox, &catalogue->calendar_,
                               &error)) {
        *status = Status::Fail(Status::kConfiguration, error);
        return nullptr;
    }
    const std::string folder = settings.state + "/catalogue";
    if (settings.state.empty() || !MakeFolder(settings.state) || !MakeFolder(folder)) {
        *status = Status::Fail(Status::kConfiguration,
                               "no state folder for the catalogue: " + settings.state);
        return nullptr;
    }
    // One file per calendar, named so that the names of a mailbox in any letter case (which the
    // store takes for one) give one file, and no name from outside becomes a path.
    const std::string name = FoldCase(settings.postoffice) + "/" + FoldCase(settings.mailbox);
    catalogue->path_ = folder + "/" + HexText(Sha256Of(name)) + ".sqlite";
    *status = catalogue->OpenDatabase(false);
    if (!status->ok()) return nullptr;
    return catalogue;
}

Catalogue::~Catalogue() = default;

Status Catalogue::OpenDatabase(bool rebuild) {
    db_.Close();
    if (rebuild) RemoveDatabase(path_);
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (db_.Open(path_, kBusyMilliseconds)) {
            int64_t version = 0;
            const bool empty = !ReadMeta(db_, "schema", &version);
            if (empty ? CreateSchema(db_) && SchemaIsSound(db_) : SchemaIsSound(db_)) {
                watch_synced_ = false;  // a new database knows nothing the watch told
                return Status();
            }
            if (db_.busy()) return Status::Fail(Status::kBusy, "the catalogue: " + db_.error());
        }
        // Missing tables of another version, a damaged file, or no database at all: the store
        // has everything the catalogue holds, so it is built again from there.
        db_.Close();
        RemoveDatabase(path_);
    }
    return Status::Fail(Status::kFailed,
                        "the catalogue " + path_ + " cannot be made: " + db_.error());
}

Status Catalogue::DatabaseFailure() {
    if (db_.busy()) return Status::Fail(Status::kBusy, "the catalogue is busy: " + db_.error());
    return Status::Fail(Status::kFailed, "the catalogue: " + db_.error());
}

Status Catalogue::Ready() {
    return db_.HasMoved() ? OpenDatabase(false) : Status();
}

Status Catalogue::Refresh() {
    Status swept = Ready();
    if (!swept.ok()) return swept;
    swept = SweepFolder();
    if (!swept.ok() && swept.kind == Status::kFailed && !SchemaIsSound(db_)) {
        Status rebuilt = OpenDatabase(true);
        swept = rebuilt.ok() ? SweepFolder() : rebuilt;
    }
    if (!swept.ok() || !settings_.roll) return swept;
    return RollIfDue();
}

Window Catalogue::WindowNow() const {
    Window window = settings_.window;
    window.now = static_cast<int64_t>(std::time(nullptr));
    return window;
}

Status Catalogue::RollIfDue() {
    const int64_t today = WindowNow().now / 86400;
    int64_t rolled = 0;
    if (ReadMeta(db_, "rolled", &rolled) && rolled == today) return Status();
    RollResult result;
    Status status = Roll(&result);
    // A busy period leaves its object for a later roll: the day counts as rolled only whole.
    if (status.ok() && result.busy == 0 && result.failed == 0 && !WriteMeta(db_, "rolled", today)) {
        return DatabaseFailure();
    }
    return status;
}

Status Catalogue::List(const std::string& after, size_t limit, std::vector<ListedObject>* objects) {
    Status ready = Ready();
    if (!ready.ok()) return ready;
    // The names' unique index gives the order, and each page starts where the last one ended.
    Statement page(db_,
                   "SELECT href, etag, uid, modified FROM objects WHERE href > ?1 "
                   "ORDER BY href LIMIT ?2");
    page.Bind(1, after).Bind(2, limit == 0 ? int64_t{-1} : static_cast<int64_t>(limit));
    while (page.Step()) objects->push_back(Listed(page));
    return page.ok() ? Status() : DatabaseFailure();
}

// Reads objects with their texts: its statements are prepared once, and the folder opened once,
// for all the objects of one request (a multiget asks for a hundred).
class Catalogue::ObjectReader {
  public:
    ObjectReader(Database& db, const std::string& folder)
        : by_key_(db, RowQuery("o.master_id").c_str()),
          by_href_(db, RowQuery("o.href").c_str()),
          first_(db,
                 "SELECT id, period, start, finish FROM appointments WHERE key = ?1 "
                 "ORDER BY start LIMIT 1"),
          folder_(folder) {}

    // The object of a key, or of a name, with its text, read from its item; false when there is
    // none. *current: whether the item is the one the catalogue described (its etag is of that
    // text). *key: the object's key.
    bool Read(const std::string& key, StoredObject* object, bool* current) {
        std::string found_key;
        return Read(by_key_, key, object, current, &found_key);
    }
    bool ReadNamed(const std::string& href, StoredObject* object, bool* current, std::string* key) {
        return Read(by_href_, href, object, current, key);
    }

    bool ok() const { return by_key_.ok() && by_href_.ok() && first_.ok(); }

  private:
    static std::string RowQuery(const char* column) {
        return std::string(
                   "SELECT o.href, o.etag, o.uid, o.modified, f.real, f.mtime_ns, f.size, "
                   "f.inode, o.master_id FROM objects o LEFT JOIN files f "
                   "ON f.name = o.master_id WHERE ") +
               column + " = ?1";
    }

    bool Read(Statement& row, const std::string& value, StoredObject* object, bool* current,
              std::string* key) {
        const bool found = Row(row, value, object, current, key);
        // Left open, a statement would hold its read snapshot into the writes that may follow.
        row.Reset();
        first_.Reset();
        return found;
    }

    bool Row(Statement& row, const std::string& value, StoredObject* object, bool* current,
             std::string* key) {
        if (!row.Bind(1, value).Step()) return false;
        static_cast<ListedObject&>(*object) = Listed(row);
        const std::string real = row.Text(4);
        const FileSignature known{row.Int(5), row.IsNull(6) ? -1 : row.Int(6),
                                  static_cast<uint64_t>(row.Int(7))};
        *key = row.Text(8);
        if (!opened_) {
            bool missing = false;
            open_ = view_.Open(folder_, &missing);
            opened_ = true;
        }
        std::string item;
        FileSignature read;
        const bool have = !real.empty() && open_ && view_.Read(real, &item, &read);
        // The text must be the one its etag was made of: an item written since the last sweep
        // (in place, which only a full sweep sees) is swept before it is given out.
        *current = have ? read == known : real.empty();
        object->text = CalendarText(item);
        if (object->text.empty()) {
            // A host's appointment: its text is made from its master line.
            if (!first_.Bind(1, *key).Step()) return false;
            const StoredLine line{first_.Text(0), first_.Text(1),
                                  static_cast<int32_t>(first_.Int(2)),
                                  static_cast<int32_t>(first_.Int(3))};
            object->text = ObjectText(item, line);
        }
        return true;
    }

    Statement by_key_, by_href_, first_;
    const std::string folder_;
    FolderView view_;
    bool opened_ = false, open_ = false;
};

bool Catalogue::ReadObject(const std::string& key, StoredObject* object, bool* current) {
    ObjectReader reader(db_, calendar_.folder());
    return reader.Read(key, object, current);
}

Status Catalogue::Find(const std::vector<std::string>& hrefs, std::vector<ListedObject>* objects) {
    Status ready = Ready();
    if (!ready.ok()) return ready;
    Statement find(db_, "SELECT href, etag, uid, modified FROM objects WHERE href = ?1");
    ReadSnapshot snapshot(db_);
    snapshot.Begin();
    for (const std::string& href : hrefs) {
        if (find.Bind(1, href).Step()) objects->push_back(Listed(find));
        find.Reset();
    }
    return find.ok() ? Status() : DatabaseFailure();
}

Status Catalogue::Get(const std::vector<std::string>& hrefs, std::vector<StoredObject>* objects) {
    Status ready = Ready();
    if (!ready.ok()) return ready;
    ObjectReader reader(db_, calendar_.folder());
    // One read transaction for all the objects rather than one per statement: each costs the
    // database's locks.
    ReadSnapshot snapshot(db_);
    snapshot.Begin();
    for (const std::string& href : hrefs) {
        StoredObject object;
        bool current = true;
        std::string key;
        if (!reader.ReadNamed(href, &object, &current, &key)) continue;
        if (!current) {
            Statement real(db_, "SELECT real FROM files WHERE name = ?1");
            std::vector<std::string> names;
            if (real.Bind(1, key).Step()) names.push_back(real.Text(0));
            real.Reset();    // a statement left open would hold its snapshot into the write
            snapshot.End();  // the sweep writes
            Status swept = SweepFolder(&names);
            if (!swept.ok()) return swept;
            snapshot.Begin();
            if (!reader.Read(key, &object, &current) || object.href != href) continue;
        }
        objects->push_back(std::move(object));
    }
    return reader.ok() ? Status() : DatabaseFailure();
}

Status Catalogue::FindUid(const std::string& uid, std::string* href, bool* found) {
    Status ready = Ready();
    if (!ready.ok()) return ready;
    Statement find(db_, "SELECT href FROM objects WHERE uid = ?1 ORDER BY href LIMIT 1");
    *found = find.Bind(1, uid).Step();
    if (*found) *href = find.Text(0);
    return find.ok() ? Status() : DatabaseFailure();
}

Status Catalogue::InRange(int64_t start, int64_t end, std::vector<ListedObject>* objects) {
    Status ready = Ready();
    if (!ready.ok()) return ready;
    Statement near(db_,
                   "SELECT o.href, o.etag, o.uid, o.modified, o.exact, o.seen_start, o.seen_end "
                   "FROM spans s "
                   "JOIN objects o ON o.rowid = s.id WHERE s.start <= ?2 AND s.end >= ?1 "
                   "ORDER BY o.href");
    const int64_t low = std::max<int64_t>(INT32_MIN, start - kZoneSlack);
    const int64_t high =
        std::min<int64_t>(INT32_MAX, end > INT64_MAX - kZoneSlack ? INT64_MAX : end + kZoneSlack);
    near.Bind(1, low).Bind(2, high);
    while (near.Step()) {
        ListedObject object = Listed(near);
        object.exact = near.Int(4) != 0;
        object.start = near.Int(5);
        object.finish = near.Int(6);
        objects->push_back(std::move(object));
    }
    return near.ok() ? Status() : DatabaseFailure();
}

Status Catalogue::Sync(const std::string& token, std::string* now,
                       std::vector<std::string>* changed) {
    Status ready = Ready();
    if (!ready.ok()) return ready;
    // One read transaction: the token and the changes behind it from the same moment.
    if (!db_.Run("BEGIN")) return DatabaseFailure();
    Status status = LoadToken();
    *now = token_;
    if (token.empty()) {
        Statement all(db_, "SELECT href FROM objects ORDER BY href");
        while (all.Step()) changed->push_back(all.Text(0));
        status = all.ok() ? status : DatabaseFailure();
    } else if (token != token_) {
        Statement revision(db_, "SELECT revision FROM tokens WHERE token = ?1");
        if (!revision.Bind(1, token).Step()) {
            status = revision.ok()
                         ? Status::Fail(Status::kInvalidToken, "unknown sync token " + token)
                         : DatabaseFailure();
        } else {
            Statement since(db_,
                            "SELECT DISTINCT href FROM changes WHERE revision > ?1 "
                            "ORDER BY href");
            since.Bind(1, revision.Int(0));
            while (since.Step()) changed->push_back(since.Text(0));
            status = since.ok() ? status : DatabaseFailure();
        }
    }
    db_.Run("COMMIT");
    return status;
}

Status Catalogue::Put(const std::string& href, const std::string& text, PutOutcome* outcome,
                      StoredObject* stored) {
    Status status = Ready();
    if (status.ok()) status = SweepFolder();
    if (!status.ok()) return status;
    const Window window = WindowNow();
    ParsedCalendar parsed;
    if (!ParseCalendar(text, window, &parsed)) {
        return Status::Fail(Status::kRefused, "not an iCalendar object (no VCALENDAR)");
    }
    if (!parsed.refused.empty()) {
        const RefusedObject& refused = parsed.refused[0];
        return Status::Fail(Status::kRefused, "object '" + refused.uid + "': " + refused.reason);
    }
    if (parsed.objects.size() != 1 || parsed.ignored != 0) {
        return Status::Fail(Status::kRefused,
                            "expected the VEVENTs of one UID (and their VTIMEZONEs) only");
    }
    const CalendarObject& object = parsed.objects[0];
    const std::string key = FoldCase(MasterId(object.uid));
    // Another object at this name gives way to the one sent, once that one is stored (the
    // host's appointment this object replaces, whose id is the UID, goes with the write).
    std::string other;
    Statement at_href(db_, "SELECT id FROM objects WHERE href = ?1 AND master_id NOT IN (?2, ?3)");
    if (at_href.Bind(1, href).Bind(2, key).Bind(3, FoldCase(object.uid)).Step()) {
        other = at_href.Text(0);
    }
    at_href.Reset();  // a statement left open would hold its snapshot into the writes
    // A client that names the object as the catalogue names one of no name of its own chooses
    // none, and the item holds none, as an imported object's does: the same object through
    // either door makes the same files.
    std::string chosen = href;
    if (href == MasterId(object.uid) + ".ics") {
        Statement named(db_, "SELECT href FROM objects WHERE master_id = ?1");
        if (!named.Bind(1, key).Step() || named.Text(0) == href) chosen.clear();
    }
    CatalogueLines lines(db_);
    PutResult result = PutObject(calendar_, object, chosen, window, &lines);
    if (result.outcome == PutOutcome::kRefused) {
        return Status::Fail(Status::kRefused, "object '" + object.uid + "': " + result.reason);
    }
    if (result.outcome == PutOutcome::kBusy) return Status::Fail(Status::kBusy, result.reason);
    if (!other.empty() && DeleteObject(calendar_, other, &lines) == DeleteOutcome::kBusy) {
        return Status::Fail(Status::kBusy, "the object that was at " + href + " is held");
    }
    *outcome = result.outcome;
    status = SweepFolder();
    if (!status.ok()) return status;
    bool current = true;
    if (!ReadObject(key, stored, &current)) {
        return Status::Fail(Status::kFailed, "the object sent to " + href + " was not stored");
    }
    return Status();
}

Status Catalogue::Delete(const std::string& href) {
    Status status = Ready();
    if (status.ok()) status = SweepFolder();
    if (!status.ok()) return status;
    Statement find(db_, "SELECT id FROM objects WHERE href = ?1");
    if (!find.Bind(1, href).Step()) {
        return find.ok() ? Status::Fail(Status::kNotFound, "no object at " + href)
                         : DatabaseFailure();
    }
    const std::string id = find.Text(0);
    find.Reset();  // a statement left open would hold its snapshot into the writes
    CatalogueLines lines(db_);
    switch (DeleteObject(calendar_, id, &lines)) {
        case DeleteOutcome::kDeleted:
            break;
        case DeleteOutcome::kNotFound:
            return Status::Fail(Status::kNotFound, "no object at " + href);
        case DeleteOutcome::kBusy:
            return Status::Fail(Status::kBusy, "a period of " + href + " is held");
        case DeleteOutcome::kFailed:
            return Status::Fail(Status::kFailed, "the store refused to remove " + href);
    }
    return SweepFolder();
}

Status Catalogue::Roll(RollResult* result) {
    Status status = Ready();
    if (status.ok()) status = SweepFolder();
    if (!status.ok()) return status;
    CatalogueLines lines(db_);
    *result = RollCalendar(calendar_, WindowNow(), &lines);
    return SweepFolder();
}

}  // namespace cvical
