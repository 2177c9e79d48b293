// The catalogue of one mailbox's calendar: what a CalDAV door asks of it for every request (the
// objects, their names, etags, texts and time spans, and what changed since a sync token),
// answered from an SQLite database beside the door rather than by reading 50,000 item files.
//
// The store is always the truth. Each Refresh compares the Calendar folder with what the
// database last saw of it and reads again only what changed; a database that is missing,
// unreadable or damaged is deleted and built again from the store. One database per calendar,
// in WAL mode, so that several door processes with one state folder share it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "icalendar/engine.h"
#include "icalendar/folder_view.h"
#include "icalendar/mailbox_calendar.h"
#include "icalendar/sqlite_db.h"
#include "icalendar/window.h"

namespace cvical {

// How a call ended, as the C face names it.
struct Status {
    enum Kind { kOk, kConfiguration, kNotFound, kRefused, kBusy, kInvalidToken, kFailed };
    Kind kind = kOk;
    std::string message;

    bool ok() const { return kind == kOk; }
    static Status Fail(Kind kind, std::string message) { return {kind, std::move(message)}; }
};

struct ListedObject {
    std::string href;
    std::string etag;
    std::string uid;
    int64_t modified = 0;
    // Set by InRange for an object whose span is the time a client's filter sees (a host's
    // appointment, a plain UTC event): the door can decide for itself whether it meets a range.
    bool exact = false;
    int64_t start = 0;
    int64_t finish = 0;
};

struct StoredObject : ListedObject {
    std::string text;
};

struct CatalogueSettings {
    std::string postoffice;
    std::string mailbox;
    std::string state;  // the door's state folder; the database goes into its catalogue/
    Window window;      // its `now` is taken at each write
    bool roll = true;   // roll the calendar on the first call of each UTC day
    // Watch the folder for changed names. Off for a store whose writers the system does not
    // report (a shared disk written from other machines): the folder's stamp then tells.
    bool watch = true;
};

class Catalogue {
  public:
    static std::unique_ptr<Catalogue> Open(const CatalogueSettings& settings, Status* status);
    ~Catalogue();

    // Brings the database up to the store (and rolls the calendar when its day has come).
    Status Refresh();
    // The sync token and the latest item's time, as the last Refresh left them.
    const std::string& token() const { return token_; }
    int64_t modified() const { return modified_; }

    // A page of the objects in the byte order of their names: those after `after` ("" from the
    // first), at most `limit` (0: all). A caller pages through a large calendar so that neither
    // side ever holds every object at once.
    Status List(const std::string& after, size_t limit, std::vector<ListedObject>* objects);
    // The objects of these names: Find without their texts, Get with them.
    Status Find(const std::vector<std::string>& hrefs, std::vector<ListedObject>* objects);
    Status Get(const std::vector<std::string>& hrefs, std::vector<StoredObject>* objects);
    Status FindUid(const std::string& uid, std::string* href, bool* found);
    Status InRange(int64_t start, int64_t end, std::vector<ListedObject>* objects);
    Status Sync(const std::string& token, std::string* now, std::vector<std::string>* changed);

    Status Put(const std::string& href, const std::string& text, PutOutcome* outcome,
               StoredObject* stored);
    Status Delete(const std::string& href);
    Status Roll(RollResult* result);

    // The database's file, for the tests that damage it.
    const std::string& path() const { return path_; }

  private:
    Catalogue() = default;
    class Sweeper;

    Status OpenDatabase(bool rebuild);
    // The database this connection has open is the one at path(): another door may have found
    // the file damaged and made it anew, and this one follows it there.
    Status Ready();
    // Compares the folder with the database, and records what changed. `only`: just these
    // names, whatever the watch or the stamp tell.
    Status SweepFolder(const std::vector<std::string>* only = nullptr);
    Status LoadToken();
    Status DatabaseFailure();
    Status RollIfDue();
    Window WindowNow() const;
    class ObjectReader;
    // The object of a key with its text, read from its item; false when it has none.
    bool ReadObject(const std::string& key, StoredObject* object, bool* current);

    CatalogueSettings settings_;
    MailboxCalendar calendar_;
    std::string path_;
    Database db_;
    FolderChanges changes_;
    bool watch_synced_ = false;       // a full sweep followed the start of the watch
    std::vector<std::string> noted_;  // names the watch told, not yet recorded
    std::string token_;
    int64_t modified_ = 0;
};

}  // namespace cvical
