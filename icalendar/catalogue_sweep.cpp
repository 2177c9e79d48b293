// The catalogue brought up to the store: which files changed since the database last saw the
// Calendar folder, their lines and objects read again, and the change log and sync token moved
// on, all in one transaction.
//
// What changed is known three ways. A process that watches the folder (FolderChanges) is told
// the names; without a watch, the folder's own stamp tells whether a name came or went (every
// writer of the store replaces files through a renamed copy), unless the stamp is too recent to
// trust (file times are coarse, and a change in the same tick would not show). Either way, every
// 30 seconds all files are compared, for what neither shows (a file rewritten in place, a
// change on another machine's view of a shared disk).
#include <algorithm>
#include <map>
#include <set>
#include <tuple>
#include <unordered_map>

#include "icalendar/catalogue.h"
#include "icalendar/catalogue_object.h"
#include "icalendar/catalogue_schema.h"
#include "icalendar/digest.h"
#include "store/period_file.h"

namespace cvical {
namespace {

constexpr int64_t kSecondNs = 1000000000;
constexpr int64_t kSettledNs = 2 * kSecondNs;  // a stamp older than this is trusted
// The longest time between full comparisons: without a watch, for a file rewritten in place;
// with one (which sees that), only for a writer on another machine of a shared disk that
// rewrote a file in place. A full comparison of 50,000 files takes most of a second.
constexpr int64_t kFullSweepNs = 30 * kSecondNs;
constexpr int64_t kWatchedFullSweepNs = 600 * kSecondNs;
constexpr int64_t kTokensKept = 1000;  // sync tokens still answered

bool IsPeriodFile(const std::string& folded) {
    return folded.size() > 4 && folded.size() <= 4 + 63 && folded[0] == 'y' &&
           folded.compare(folded.size() - 4, 4, ".cal") == 0;
}

struct FileRow {
    std::string real;
    FileSignature signature;
};

// One file whose row is to change: present with its new signature, or gone.
struct Change {
    std::string name;  // lower case
    std::string real;
    bool present = false;
    FileSignature signature;
};

// What the token is made of: the XOR of a digest of each object's (href, etag), so that it
// follows from the state alone (whoever built it, in whatever order) and moves by one object at
// a time.
void Toggle(Digest* state, const std::string& href, const std::string& etag) {
    Digest one = Sha256().Add(href).Add(std::string(1, '\0')).Add(etag).Finish();
    for (size_t i = 0; i < state->size(); ++i) (*state)[i] ^= one[i];
}

std::string TokenOf(const Digest& state) {
    return HexText(Sha256Of(HexText(state)));
}

int32_t Clamp(int64_t value) {
    return static_cast<int32_t>(std::max<int64_t>(INT32_MIN, std::min<int64_t>(INT32_MAX, value)));
}

}  // namespace

// One sweep's work inside its transaction, with its statements prepared once: a first sweep
// of 50,000 appointments runs each of them 50,000 times.
class Catalogue::Sweeper {
  public:
    Sweeper(Database& db, const FolderView& view, const std::string& folder)
        : db_(db),
          view_(view),
          folder_(folder),
          file_row_(db, "SELECT real, mtime_ns, size, inode FROM files WHERE name = ?1"),
          put_file_(db,
                    "INSERT OR REPLACE INTO files(name, real, mtime_ns, size, inode) "
                    "VALUES(?1, ?2, ?3, ?4, ?5)"),
          drop_file_(db, "DELETE FROM files WHERE name = ?1"),
          period_lines_(
              db, "SELECT master, id, period, start, finish FROM appointments WHERE file = ?1"),
          drop_lines_(db, "DELETE FROM appointments WHERE file = ?1"),
          add_line_(db,
                    "INSERT INTO appointments(key, id, master, file, period, start, finish) "
                    "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)"),
          object_lines_(db, "SELECT id, period, start, finish FROM appointments WHERE master = ?1"),
          old_object_(db, "SELECT rowid, href, etag FROM objects WHERE master_id = ?1"),
          drop_span_(db, "DELETE FROM spans WHERE id = ?1"),
          drop_object_(db, "DELETE FROM objects WHERE master_id = ?1"),
          href_taken_(db, "SELECT 1 FROM objects WHERE href = ?1"),
          put_object_(db,
                      "INSERT INTO objects(master_id, id, href, uid, etag, span_start, span_end, "
                      "recurring, exact, seen_start, seen_end, modified) "
                      "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)"),
          put_span_(db, "INSERT INTO spans(id, start, end) VALUES(?1, ?2, ?3)") {}

    bool LoadRows(std::unordered_map<std::string, FileRow>* rows) {
        Statement all(db_, "SELECT name, real, mtime_ns, size, inode FROM files");
        while (all.Step()) {
            FileRow& row = (*rows)[all.Text(0)];
            row.real = all.Text(1);
            row.signature = {all.Int(2), all.Int(3), static_cast<uint64_t>(all.Int(4))};
        }
        return all.ok();
    }

    bool LoadRow(const std::string& name, FileRow* row, bool* found) {
        *found = file_row_.Bind(1, name).Step();
        if (*found) {
            row->real = file_row_.Text(0);
            row->signature = {file_row_.Int(1), file_row_.Int(2),
                              static_cast<uint64_t>(file_row_.Int(3))};
        }
        file_row_.Reset();
        return file_row_.ok();
    }

    // Applies the changed files: lines of period files, objects of items. False on a failure of
    // the database.
    bool Apply(const std::vector<Change>& changes) {
        for (const Change& change : changes) {
            if (IsPeriodFile(change.name) ? !Period(change) : !Item(change)) {
                if (failed_) return false;
                continue;  // left as it was, to be read again by the next sweep
            }
            bool written = change.present
                               ? put_file_.Bind(1, change.name)
                                     .Bind(2, change.real)
                                     .Bind(3, change.signature.mtime_ns)
                                     .Bind(4, change.signature.size)
                                     .Bind(5, static_cast<int64_t>(change.signature.inode))
                                     .Run()
                               : drop_file_.Bind(1, change.name).Run();
            if (!written) return false;
        }
        return true;
    }

    // Works the dirty objects out again and records what changed: with `log`, in the change
    // log, under a new revision (a new catalogue has no tokens to answer yet). False on a
    // failure of the database.
    bool Objects(bool log, int64_t now_seconds, std::string* token) {
        Digest state{};
        std::string text;
        int64_t revision = 0;
        const bool stated = ReadMeta(db_, "state", &text) && ParseHex(text, &state);
        ReadMeta(db_, "revision", &revision);
        struct Old {
            std::string href, etag;
        };
        std::map<std::string, Old> olds;
        std::map<std::string, ObjectRow> news;
        // Every old row goes first, so that a name one object gives up is free for another. A
        // key may come again while this runs (see Describe): it is described again.
        for (size_t next = 0; next < queue_.size(); ++next) {
            const std::string key = queue_[next];
            described_.insert(key);
            if (old_object_.Bind(1, key).Step()) {
                const int64_t rowid = old_object_.Int(0);
                olds[key] = {old_object_.Text(1), old_object_.Text(2)};
                old_object_.Reset();
                if (!drop_span_.Bind(1, rowid).Run() || !drop_object_.Bind(1, key).Run()) {
                    return false;
                }
            }
            old_object_.Reset();
            if (!old_object_.ok()) return false;
            ObjectRow made;
            if (Describe(key, &made)) {
                news[key] = std::move(made);
            } else {
                news.erase(key);
            }
            if (failed_) return false;
        }
        std::set<std::string> changed;
        for (auto& [key, row] : news) {
            if (!Insert(&row)) return false;
            auto old = olds.find(key);
            if (old == olds.end() || old->second.href != row.href || old->second.etag != row.etag) {
                changed.insert(row.href);
                Toggle(&state, row.href, row.etag);
            }
        }
        for (const auto& [key, old] : olds) {
            auto row = news.find(key);
            if (row != news.end() && row->second.href == old.href && row->second.etag == old.etag) {
                continue;
            }
            changed.insert(old.href);
            Toggle(&state, old.href, old.etag);
        }
        *token = TokenOf(state);
        if (changed.empty() && stated) return true;
        revision = log ? revision + 1 : 0;
        Statement record(db_, "INSERT INTO changes(revision, href) VALUES(?1, ?2)");
        for (const std::string& href : changed) {
            if (log && !record.Bind(1, revision).Bind(2, href).Run()) return false;
        }
        Statement remember(db_, "INSERT OR REPLACE INTO tokens(token, revision) VALUES(?1, ?2)");
        Statement forget_tokens(db_, "DELETE FROM tokens WHERE revision <= ?1");
        Statement forget_changes(db_, "DELETE FROM changes WHERE revision <= ?1");
        const int64_t oldest = log ? revision - kTokensKept : revision;
        return forget_tokens.Bind(1, oldest).Run() && forget_changes.Bind(1, oldest).Run() &&
               remember.Bind(1, *token).Bind(2, revision).Run() &&
               WriteMeta(db_, "state", HexText(state)) && WriteMeta(db_, "revision", revision) &&
               WriteMeta(db_, "changed", now_seconds);
    }

    // Notes an object to be described again, once more if it has been already. The object being
    // described is not: Describe looks at it again itself, and a note would have it described
    // again and again while its item is missing (a host's appointment may have none).
    void Dirty(const std::string& key) {
        if (key == describing_) return;
        if (dirty_.insert(key).second || described_.erase(key) != 0) queue_.push_back(key);
    }

  private:
    // A period file's lines, all replaced. Only the objects whose lines in it came, went or
    // moved are described again: a series written into fifty busy periods would otherwise have
    // every other object of those periods read and parsed anew. False when the file could not be
    // read whole (or the database failed: failed_).
    bool Period(const Change& change) {
        std::vector<StoredLine> lines;
        if (change.present && !ReadLines(change.real, &lines)) return false;
        using Seen = std::tuple<std::string, std::string, std::string, int64_t, int64_t>;
        std::multiset<Seen> before;
        period_lines_.Bind(1, change.name);
        while (period_lines_.Step()) {
            before.emplace(period_lines_.Text(0), period_lines_.Text(1), period_lines_.Text(2),
                           period_lines_.Int(3), period_lines_.Int(4));
        }
        period_lines_.Reset();
        if (!period_lines_.ok() || !drop_lines_.Bind(1, change.name).Run()) return Failed();
        for (const StoredLine& line : lines) {
            const std::string master = ObjectKey(line.id);
            auto same = before.find(Seen{master, line.id, line.period, line.start, line.finish});
            if (same != before.end()) {
                before.erase(same);
            } else {
                Dirty(master);
            }
            if (!add_line_.Bind(1, FoldCase(line.id))
                     .Bind(2, line.id)
                     .Bind(3, master)
                     .Bind(4, change.name)
                     .Bind(5, line.period)
                     .Bind(6, static_cast<int64_t>(line.start))
                     .Bind(7, static_cast<int64_t>(line.finish))
                     .Run()) {
                return Failed();
            }
        }
        for (const Seen& gone : before) Dirty(std::get<0>(gone));
        return true;
    }

    bool Item(const Change& change) {
        Dirty(ObjectKey(change.name));
        return true;
    }

    bool ReadLines(const std::string& real, std::vector<StoredLine>* lines) {
        // As a reader of the store reads, without waiting for a writer's blocking file: a period
        // being changed is read as it was, and the change shows at the next sweep.
        cv::PeriodFileReader reader(cv::PeriodFileReader::Purpose::kLookup);
        if (!reader.Open((folder_ + "/" + real).c_str())) return false;
        std::string_view rest;
        const bool whole = reader.ReadRest(&rest);
        reader.Close();
        if (!whole) return false;
        const std::string period = real.substr(0, real.size() - 4);
        std::string text;
        while (!rest.empty()) {
            std::string_view piece;
            rest.remove_prefix(cv::CutPiece(rest, &piece));
            if (piece.empty()) continue;
            text.assign(piece.data(), std::min(piece.size(), cv::kLineSize - 1));
            cv::PeriodLine line = cv::ParsePeriodLine(text.c_str());
            if (line.id[0] != '\0') lines->push_back({line.id, period, line.start, line.finish});
        }
        return true;
    }

    bool Describe(const std::string& key, ObjectRow* row) {
        for (bool again = true;; again = false) {
            std::vector<StoredLine> lines;
            object_lines_.Bind(1, key);
            while (object_lines_.Step()) {
                lines.push_back({object_lines_.Text(0), object_lines_.Text(1),
                                 static_cast<int32_t>(object_lines_.Int(2)),
                                 static_cast<int32_t>(object_lines_.Int(3))});
            }
            object_lines_.Reset();
            if (!object_lines_.ok()) return Failed();
            if (lines.empty()) return false;
            FileRow file;
            bool found = false;
            if (!LoadRow(key, &file, &found)) return Failed();
            std::string bytes;
            FileSignature signature;
            const bool have = found && view_.Read(file.real, &bytes, &signature);
            // An object whose item the sweep did not find while a line names it is being
            // written or removed (items before lines, lines before items): its period files and
            // its item are looked at again before it is described, or it would show for a moment
            // as an appointment without its item. (A host's appointment may have no item; it is
            // rare, and costs the look once.)
            if (!have && again) {
                describing_ = key;
                const bool fresh =
                    FreshenPeriods(key) && FreshenItem(key, found ? file.real : lines[0].id);
                describing_.clear();
                if (!fresh) return Failed();
                continue;
            }
            return DescribeObject(key, lines, have ? &bytes : nullptr,
                                  signature.mtime_ns / kSecondNs, row);
        }
    }

    // The object's item as it is now, where the sweep's look at it was before its last change.
    bool FreshenItem(const std::string& key, const std::string& real) {
        Change change{key, real, false, {}};
        change.present = view_.Signature(real, &change.signature);
        return Apply({change});
    }

    // Reads again the period files that hold lines of the object and have changed since.
    bool FreshenPeriods(const std::string& key) {
        std::vector<Change> changes;
        Statement files(db_,
                        "SELECT DISTINCT f.name, f.real, f.mtime_ns, f.size, f.inode FROM "
                        "appointments a JOIN files f ON f.name = a.file WHERE a.master = ?1");
        files.Bind(1, key);
        while (files.Step()) {
            Change change{files.Text(0), files.Text(1), false, {}};
            const FileSignature known{files.Int(2), files.Int(3),
                                      static_cast<uint64_t>(files.Int(4))};
            change.present = view_.Signature(change.real, &change.signature);
            if (!change.present || change.signature != known) changes.push_back(change);
        }
        return files.ok() && Apply(changes);
    }

    // The row, under its own name unless another object holds that already (a host may write
    // any header): then under its key's, which no name of ours can take from it.
    bool Insert(ObjectRow* row) {
        for (int attempt = 0; href_taken_.Bind(1, row->href).Step(); ++attempt) {
            href_taken_.Reset();
            row->href = row->key + (attempt ? "-" + std::to_string(attempt) : "") + ".ics";
        }
        href_taken_.Reset();
        return href_taken_.ok() &&
               put_object_.Bind(1, row->key)
                   .Bind(2, row->id)
                   .Bind(3, row->href)
                   .Bind(4, row->uid)
                   .Bind(5, row->etag)
                   .Bind(6, row->span_start)
                   .Bind(7, row->span_end)
                   .Bind(8, static_cast<int64_t>(row->recurring))
                   .Bind(9, static_cast<int64_t>(row->exact))
                   .Bind(10, row->seen_start)
                   .Bind(11, row->seen_end)
                   .Bind(12, row->modified)
                   .Run() &&
               put_span_.Bind(1, db_.LastInsertRow())
                   .Bind(2, static_cast<int64_t>(Clamp(row->span_start)))
                   .Bind(3, static_cast<int64_t>(Clamp(row->span_end)))
                   .Run();
    }

    bool Failed() {
        failed_ = true;
        return false;
    }

    Database& db_;
    const FolderView& view_;
    const std::string& folder_;
    Statement file_row_, put_file_, drop_file_, period_lines_, drop_lines_, add_line_,
        object_lines_, old_object_, drop_span_, drop_object_, href_taken_, put_object_, put_span_;
    std::set<std::string> dirty_;      // every key noted
    std::vector<std::string> queue_;   // in the order to describe them
    std::set<std::string> described_;  // described, and not noted again since
    std::string describing_;           // the key whose files Describe looks at again
    bool failed_ = false;
};

Status Catalogue::SweepFolder(const std::vector<std::string>* only) {
    FolderView view;
    bool missing = false;
    if (!view.Open(calendar_.folder(), &missing) && !missing) {
        return Status::Fail(Status::kFailed, "the Calendar folder cannot be read");
    }
    FileSignature stamp;
    if (!missing) view.Stamp(&stamp);
    const int64_t now = WallClockNs();

    int64_t stamp_mtime = 0, stamp_inode = 0, settled = 0, swept = 0;
    ReadMeta(db_, "stamp_mtime", &stamp_mtime);
    ReadMeta(db_, "stamp_inode", &stamp_inode);
    ReadMeta(db_, "settled", &settled);
    ReadMeta(db_, "swept", &swept);
    const bool same_stamp =
        stamp.mtime_ns == stamp_mtime && static_cast<int64_t>(stamp.inode) == stamp_inode;

    // Which names to look at: those given, those the watch reports, or all.
    std::vector<std::string> names;
    bool full = true;
    if (!missing && settings_.watch && !changes_.watching()) {
        watch_synced_ = false;
        changes_.Start(calendar_.folder());
    }
    const bool watched = changes_.watching() && watch_synced_;
    const bool recent =
        swept <= now && now - swept < (watched ? kWatchedFullSweepNs : kFullSweepNs);
    if (only != nullptr) {
        names = *only;
        full = false;
    } else if (watched && recent) {
        // A folder whose stamp moved while the watch told nothing was changed by another
        // machine: that needs a full look.
        // Names taken from the watch stay noted until a sweep has recorded them: one that fails
        // (a busy database) must not lose them.
        std::vector<std::string> taken;
        full = !changes_.Take(&taken) || (taken.empty() && noted_.empty() && !same_stamp);
        noted_.insert(noted_.end(), taken.begin(), taken.end());
        names = noted_;
        if (!full && names.empty()) return LoadToken();
    } else if (!changes_.watching() && recent && settled && same_stamp) {
        return LoadToken();
    }

    Transaction transaction(db_);
    if (!transaction.Begin()) return DatabaseFailure();
    Sweeper sweep(db_, view, calendar_.folder());
    std::vector<Change> changes;
    if (full) {
        std::vector<ListedFile> listed;
        if (!missing && !view.List(&listed)) {
            return Status::Fail(Status::kFailed, "the Calendar folder cannot be listed");
        }
        std::unordered_map<std::string, FileRow> rows;
        if (!sweep.LoadRows(&rows)) return DatabaseFailure();
        // Names that differ only in case are one name to the store: the first in byte order
        // stands for them, as the store's own look-up takes it.
        std::unordered_map<std::string, const ListedFile*> by_name;
        by_name.reserve(listed.size());
        for (const ListedFile& file : listed) {
            auto [at, added] = by_name.emplace(FoldCase(file.name), &file);
            if (!added && file.name < at->second->name) at->second = &file;
        }
        for (const auto& [name, file] : by_name) {
            auto row = rows.find(name);
            if (row == rows.end() || row->second.signature != file->signature ||
                row->second.real != file->name) {
                changes.push_back({name, file->name, true, file->signature});
            }
        }
        for (const auto& [name, row] : rows) {
            if (by_name.count(name) == 0) changes.push_back({name, row.real, false, {}});
        }
    } else {
        for (const std::string& real : names) {
            const std::string name = FoldCase(real);
            FileRow row;
            bool known = false;
            if (!sweep.LoadRow(name, &row, &known)) return DatabaseFailure();
            FileSignature signature;
            if (view.Signature(real, &signature)) {
                if (!known || row.signature != signature || row.real != real) {
                    changes.push_back({name, real, true, signature});
                }
            } else if (known && (row.real == real || !view.Signature(row.real, &signature))) {
                changes.push_back({name, row.real, false, {}});
            }
        }
    }
    std::string token;
    int64_t revision = 0;
    const bool fresh = !ReadMeta(db_, "revision", &revision);
    if (!sweep.Apply(changes) || !sweep.Objects(!fresh, now / kSecondNs, &token) ||
        !WriteMeta(db_, "stamp_mtime", stamp.mtime_ns) ||
        !WriteMeta(db_, "stamp_inode", static_cast<int64_t>(stamp.inode)) ||
        !WriteMeta(db_, "settled", static_cast<int64_t>(now - stamp.mtime_ns > kSettledNs)) ||
        (full && !WriteMeta(db_, "swept", now)) || !transaction.Commit()) {
        return DatabaseFailure();
    }
    if (only == nullptr) noted_.clear();
    if (full && changes_.watching()) watch_synced_ = true;
    return LoadToken();
}

Status Catalogue::LoadToken() {
    std::string state;
    Digest digest{};
    if (ReadMeta(db_, "state", &state)) ParseHex(state, &digest);
    token_ = TokenOf(digest);
    modified_ = 0;
    ReadMeta(db_, "changed", &modified_);
    return Status();
}

}  // namespace cvical
