// The engine's operations on one calendar. Each works out a plan (the item files to write, the
// lines that go and come, the item files to delete after) from what is stored and what the object
// asks, and carries it out in the order the layout needs: items, then lines, the master's last;
// for a removal the lines, then the items.
#include "icalendar/engine.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <optional>
#include <set>

#include "common/text_helpers.h"
#include "host/item_dates.h"
#include "icalendar/span.h"
#include "index_api/item_properties.h"
#include "store/appointments.h"
#include "store/item_files.h"
#include "store/period_batch.h"

namespace cvical {
namespace {

// An id as the period files and the Calendar folder compare ids: letter case ignored.
std::string Folded(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool SameId(const std::string& a, const std::string& b) {
    return a.size() == b.size() && Folded(a) == Folded(b);
}

bool SameLine(const StoredLine& a, const StoredLine& b) {
    return a.start == b.start && a.finish == b.finish && SameId(a.id, b.id) &&
           SameId(a.period, b.period);
}

// "IC" and 32 hex digits: the form of a master id, which no other appointment of ours has.
bool IsMasterName(const std::string& name) {
    if (name.size() != 34 || Folded(name.substr(0, 2)) != "ic") return false;
    return name.find_first_not_of("0123456789abcdefABCDEF", 2) == std::string::npos;
}

AppointmentRequest Request(const MailboxCalendar& calendar) {
    AppointmentRequest request;
    std::memset(&request, 0, sizeof request);
    // Open checked that both fit their fields.
    std::memcpy(request.Mailbox, calendar.mailbox().c_str(), calendar.mailbox().size());
    std::memcpy(request.Postoffice, calendar.postoffice().c_str(), calendar.postoffice().size());
    return request;
}

StoredLine LineOf(const std::string& id, const Occurrence& o) {
    return {id, cv::LocalPeriodName(o.start, o.finish), o.start, o.finish};
}

bool Header(const std::string& item, const char* name, std::string* value) {
    return ItemHeader(item, name, value);
}

// Whether the item is an occurrence of that master.
bool IsOccurrenceOf(const std::string& item, const std::string& master_id) {
    std::string of;
    return Header(item, "X-CVOccurrenceOf", &of) && SameId(of, master_id);
}

// What one change does to the calendar.
struct Plan {
    struct Item {
        std::string id;
        std::string text;
        bool existed;  // kept when the writes fail half-way; a new one is deleted again
    };
    std::vector<Item> write;         // master last
    std::vector<StoredLine> remove;  // lines that go
    std::vector<StoredLine> add;     // lines that come, master last
    std::vector<std::string> drop;   // items deleted once the lines are gone
    std::string last_period;         // committed after every other period

    bool empty() const { return write.empty() && remove.empty() && add.empty() && drop.empty(); }
};

// The lines, grouped by period, one change each, the plan's last period at the end.
std::vector<cv::PeriodChange> PeriodChanges(const Plan& plan) {
    std::vector<cv::PeriodChange> changes;
    std::map<std::string, size_t> index;
    auto change_of = [&](const std::string& period) -> cv::PeriodChange& {
        auto found = index.emplace(Folded(period), changes.size());
        if (found.second) changes.push_back({period, {}, {}});
        return changes[found.first->second];
    };
    for (const StoredLine& line : plan.remove) change_of(line.period).remove.push_back(line.id);
    for (const StoredLine& line : plan.add) {
        change_of(line.period).add.push_back({line.start, line.finish, line.id});
    }
    auto last = std::find_if(changes.begin(), changes.end(), [&](const cv::PeriodChange& c) {
        return SameId(c.period, plan.last_period);
    });
    if (last != changes.end()) std::rotate(last, last + 1, changes.end());
    return changes;
}

// Carries the plan out. kBusy and kFailed leave the lines as they were; after a failed item
// write, the new items written are deleted again.
cv::ChangeOutcome Apply(const MailboxCalendar& calendar, const Plan& plan) {
    const std::string& po = calendar.postoffice();
    const std::string& mb = calendar.mailbox();
    auto write_items = [&] {
        for (size_t i = 0; i < plan.write.size(); ++i) {
            if (cv::WriteItemFile(po, mb, plan.write[i].id, plan.write[i].text)) continue;
            for (size_t j = 0; j < i; ++j) {
                if (!plan.write[j].existed) cv::DeleteItemFile(po, mb, plan.write[j].id);
            }
            return false;
        }
        return true;
    };
    const std::vector<cv::PeriodChange> changes = PeriodChanges(plan);
    cv::ChangeOutcome outcome = cv::ChangeOutcome::kDone;
    if (!changes.empty()) {
        outcome = cv::ChangeCalendarPeriods(Request(calendar), changes, write_items);
    } else if (!write_items()) {
        outcome = cv::ChangeOutcome::kFailed;
    }
    if (outcome != cv::ChangeOutcome::kDone) return outcome;
    for (const std::string& id : plan.drop) cv::DeleteItemFile(po, mb, id);
    return outcome;
}

// One appointment of an object as it is stored: its lines and whether its item file is there.
struct StoredAppointment {
    std::string id;
    std::vector<StoredLine> lines;
    bool item = false;
};

// An object's appointments as stored: the master's lines, and the occurrences ("<master>-...")
// by folded id, from the lines and the Calendar folder's names. Whether an occurrence is really
// the master's is read from its item only where it matters, before it is removed.
struct StoredObject {
    std::vector<StoredLine> master_lines;
    std::map<std::string, StoredAppointment> occurrences;
};

StoredObject ReadStored(const MailboxCalendar& calendar, const std::string& master_id,
                        const LineLookup& lines, const std::vector<std::string>* names) {
    StoredObject stored;
    const std::string prefix = Folded(master_id) + "-";
    for (const StoredLine& line : lines.ObjectLines(master_id)) {
        if (SameId(line.id, master_id)) {
            stored.master_lines.push_back(line);
        } else {
            StoredAppointment& a = stored.occurrences[Folded(line.id)];
            a.id = line.id;
            a.lines.push_back(line);
        }
    }
    std::vector<std::string> listed;
    // A search of the folder reads every name in it, the item of every appointment of the
    // mailbox: a caller that keeps the folder's names tells them instead.
    if (names == nullptr && !lines.OccurrenceItems(master_id, &listed)) {
        listed = calendar.ItemNamesBeginning(master_id + "-");
    }
    auto note = [&](const std::string& name) {
        StoredAppointment& a = stored.occurrences[Folded(name)];
        if (a.id.empty()) a.id = name;
        a.item = true;
    };
    if (names == nullptr) {
        for (const std::string& name : listed) note(name);
    } else {
        // The listing is sorted by folded name: the object's names are one run of it.
        auto at = std::lower_bound(
            names->begin(), names->end(), prefix,
            [](const std::string& a, const std::string& b) { return Folded(a) < b; });
        for (; at != names->end() && Folded(*at).compare(0, prefix.size(), prefix) == 0; ++at) {
            note(*at);
        }
    }
    return stored;
}

// Whether an item named like one of the master's occurrences is one: read before it is removed,
// since a name is no proof.
bool Ours(const MailboxCalendar& calendar, const StoredAppointment& a,
          const std::string& master_id) {
    std::string item;
    return a.item && calendar.ReadItem(a.id, &item) && IsOccurrenceOf(item, master_id);
}

std::string OccurrenceItem(const CalendarObject& object, size_t index, const std::string& master_id,
                           int64_t now) {
    return OccurrenceItemText(object, index, master_id, now);
}

// The plan that brings the stored occurrences to the object's: missing ones added (their items
// rewritten), unwanted ones of ours removed. The master is left as it is.
Plan FollowWindow(const MailboxCalendar& calendar, const CalendarObject& object,
                  const std::string& master_id, const StoredObject& stored, int64_t now) {
    Plan plan;
    std::set<std::string> wanted;
    for (size_t i = 1; i < object.occurrences.size(); ++i) {
        const std::string id = OccurrenceId(master_id, object.occurrences[i].start);
        const StoredLine line = LineOf(id, object.occurrences[i]);
        wanted.insert(Folded(id));
        auto found = stored.occurrences.find(Folded(id));
        if (found != stored.occurrences.end()) {
            const StoredAppointment& a = found->second;
            if (a.item && a.lines.size() == 1 && SameLine(a.lines[0], line)) continue;
            // An item of that name that is not ours is left alone, and so is its occurrence.
            if (a.item && !Ours(calendar, a, master_id)) continue;
            plan.remove.insert(plan.remove.end(), a.lines.begin(), a.lines.end());
        }
        plan.write.push_back({id, OccurrenceItem(object, i, master_id, now),
                              found != stored.occurrences.end() && found->second.item});
        plan.add.push_back(line);
    }
    for (const auto& entry : stored.occurrences) {
        const StoredAppointment& a = entry.second;
        if (wanted.count(entry.first) != 0 || !Ours(calendar, a, master_id)) continue;
        plan.remove.insert(plan.remove.end(), a.lines.begin(), a.lines.end());
        plan.drop.push_back(a.id);
    }
    return plan;
}

// The lines of a host's appointment whose id is the UID (none when the item of that name is one
// of ours): a client that exported it and sends it back means that appointment.
std::vector<StoredLine> HostLines(const MailboxCalendar& calendar, const std::string& uid,
                                  const LineLookup& lines) {
    std::vector<StoredLine> found;
    for (const StoredLine& line : lines.ObjectLines(uid)) {
        if (SameId(line.id, uid)) found.push_back(line);
    }
    std::string item, value;
    if (!found.empty() && calendar.ReadItem(uid, &item) &&
        (Header(item, "X-CVOccurrenceOf", &value) || Header(item, "X-AppointmentUID", &value))) {
        found.clear();
    }
    return found;
}

bool HoldsNul(const std::string& text) {
    return text.find('\0') != std::string::npos;
}

PutResult Result(PutOutcome outcome, const std::string& master_id, const std::string& reason) {
    return {outcome, master_id, reason};
}

PutResult Failed(cv::ChangeOutcome outcome, const std::string& master_id) {
    if (outcome == cv::ChangeOutcome::kBusy) {
        return Result(PutOutcome::kBusy, master_id, "a period of the calendar is busy");
    }
    return Result(PutOutcome::kRefused, master_id, "the store refused a write");
}

}  // namespace

WalkedLines::WalkedLines(const MailboxCalendar& calendar) {
    for (const std::string& period : calendar.PeriodNames()) {
        AppointmentRequest request = Request(calendar);
        if (period.size() >= sizeof request.PeriodName) continue;  // no record can name it
        std::memcpy(request.PeriodName, period.c_str(), period.size() + 1);
        bool failed = false;
        cv::VisitAllAppointments(
            request,
            [&](const cv::PeriodLine& line) {
                lines_.push_back({line.id, period, line.start, line.finish});
            },
            &failed);
        if (failed) complete_ = false;
    }
    std::stable_sort(lines_.begin(), lines_.end(), [](const StoredLine& a, const StoredLine& b) {
        return Folded(a.id) < Folded(b.id);
    });
    for (const StoredLine& line : lines_) folded_.push_back(Folded(line.id));
}

std::vector<StoredLine> WalkedLines::ObjectLines(const std::string& id) const {
    const std::string key = Folded(id);
    std::vector<StoredLine> found;
    for (auto at = std::lower_bound(folded_.begin(), folded_.end(), key);
         at != folded_.end() && at->compare(0, key.size(), key) == 0; ++at) {
        if (at->size() == key.size() || (*at)[key.size()] == '-') {
            found.push_back(lines_[static_cast<size_t>(at - folded_.begin())]);
        }
    }
    return found;
}

PutResult PutObject(const MailboxCalendar& calendar, const CalendarObject& object,
                    const std::string& href, const Window& window, const LineLookup* known) {
    const std::string master_id = MasterId(object.uid);
    if (object.occurrences.empty()) return Result(PutOutcome::kRefused, master_id, "no instance");
    std::string existing, stored_href, uid;
    const bool there = calendar.ReadItem(master_id, &existing);
    if (there && (!Header(existing, "X-AppointmentUID", &uid) || uid != HeaderValue(object.uid))) {
        return Result(PutOutcome::kRefused, master_id,
                      "its item " + master_id + " belongs to another appointment");
    }
    // A name a CalDAV client gave the object stays with it.
    if (there) Header(existing, "X-CVHref", &stored_href);
    const std::string use_href = href.empty() ? stored_href : HeaderValue(href);
    const std::string master_item = MasterItemText(object, use_href, window.now);
    if (HoldsNul(master_item)) return Result(PutOutcome::kRefused, master_id, "a NUL in its text");

    std::optional<WalkedLines> walked;
    if (known == nullptr) known = &walked.emplace(calendar);
    const StoredObject stored = ReadStored(calendar, master_id, *known, nullptr);
    const StoredLine master_line = LineOf(master_id, object.occurrences.front());

    std::string old_text, new_text;
    if (there && use_href == stored_href &&
        cv::ItemMessageValue(existing, "VCALENDAR", &old_text) &&
        cv::ItemMessageValue(master_item, "VCALENDAR", &new_text) && old_text == new_text &&
        stored.master_lines.size() == 1 && SameLine(stored.master_lines[0], master_line)) {
        // The same object: only its occurrences follow the window.
        Plan plan = FollowWindow(calendar, object, master_id, stored, window.now);
        cv::ChangeOutcome outcome = plan.empty() ? cv::ChangeOutcome::kDone : Apply(calendar, plan);
        if (outcome != cv::ChangeOutcome::kDone) return Failed(outcome, master_id);
        return Result(PutOutcome::kUnchanged, master_id, "");
    }

    Plan plan;
    std::set<std::string> kept;  // ids written anew, whose items are not deleted after
    for (size_t i = 1; i < object.occurrences.size(); ++i) {
        const std::string id = OccurrenceId(master_id, object.occurrences[i].start);
        const std::string text = OccurrenceItem(object, i, master_id, window.now);
        if (HoldsNul(text)) return Result(PutOutcome::kRefused, master_id, "a NUL in its text");
        auto found = stored.occurrences.find(Folded(id));
        bool existed = found != stored.occurrences.end() && found->second.item;
        // An item of that name that is not an occurrence of ours is not overwritten.
        if (existed && !Ours(calendar, found->second, master_id)) {
            return Result(PutOutcome::kRefused, master_id,
                          "its item " + id + " belongs to another appointment");
        }
        plan.write.push_back({id, text, existed});
        plan.add.push_back(LineOf(id, object.occurrences[i]));
        kept.insert(Folded(id));
    }
    plan.write.push_back({master_id, master_item, there});
    plan.add.push_back(master_line);
    plan.last_period = master_line.period;
    kept.insert(Folded(master_id));
    // Everything of the object as it was goes (also without a master: occurrences left by a
    // write that did not finish).
    plan.remove = stored.master_lines;
    for (const auto& entry : stored.occurrences) {
        const StoredAppointment& a = entry.second;
        if (kept.count(entry.first) == 0 && !Ours(calendar, a, master_id)) continue;
        plan.remove.insert(plan.remove.end(), a.lines.begin(), a.lines.end());
        if (kept.count(entry.first) == 0) plan.drop.push_back(a.id);
    }
    const std::vector<StoredLine> host = HostLines(calendar, object.uid, *known);
    plan.remove.insert(plan.remove.end(), host.begin(), host.end());
    if (!host.empty() && kept.count(Folded(object.uid)) == 0) plan.drop.push_back(host[0].id);

    cv::ChangeOutcome outcome = Apply(calendar, plan);
    if (outcome != cv::ChangeOutcome::kDone) return Failed(outcome, master_id);
    return Result(there || !host.empty() ? PutOutcome::kReplaced : PutOutcome::kAdded, master_id,
                  "");
}

DeleteOutcome DeleteObject(const MailboxCalendar& calendar, const std::string& id,
                           const LineLookup* known) {
    std::string item, value;
    const bool there = calendar.ReadItem(id, &item);
    if (there && Header(item, "X-CVOccurrenceOf", &value)) return DeleteOutcome::kNotFound;
    std::optional<WalkedLines> walked;
    if (known == nullptr) known = &walked.emplace(calendar);
    Plan plan;
    if (there && Header(item, "X-AppointmentUID", &value)) {
        const StoredObject stored = ReadStored(calendar, id, *known, nullptr);
        plan.remove = stored.master_lines;
        for (const auto& entry : stored.occurrences) {
            if (!Ours(calendar, entry.second, id)) continue;
            const auto& lines = entry.second.lines;
            plan.remove.insert(plan.remove.end(), lines.begin(), lines.end());
            plan.drop.push_back(entry.second.id);
        }
    } else {
        for (const StoredLine& line : known->ObjectLines(id)) {
            if (SameId(line.id, id)) plan.remove.push_back(line);
        }
        if (!there && plan.remove.empty()) return DeleteOutcome::kNotFound;
    }
    if (there) plan.drop.push_back(id);
    switch (Apply(calendar, plan)) {
        case cv::ChangeOutcome::kDone:
            return DeleteOutcome::kDeleted;
        case cv::ChangeOutcome::kBusy:
            return DeleteOutcome::kBusy;
        default:
            return DeleteOutcome::kFailed;
    }
}

RollResult RollCalendar(const MailboxCalendar& calendar, const Window& window,
                        const LineLookup* known) {
    RollResult result;
    std::optional<WalkedLines> walked;
    if (known == nullptr) known = &walked.emplace(calendar);
    std::vector<std::string> names = calendar.ItemNamesBeginning("IC");
    std::stable_sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return Folded(a) < Folded(b);
    });
    for (const std::string& name : names) {
        std::string item, uid, recurring, text;
        if (!IsMasterName(name) || !calendar.ReadItem(name, &item) ||
            !Header(item, "X-AppointmentUID", &uid) || Header(item, "X-CVOccurrenceOf", &text) ||
            !Header(item, "X-IsRecurring", &recurring) || recurring != "1") {
            continue;
        }
        ParsedCalendar parsed;
        const CalendarObject* object = nullptr;
        if (cv::ItemMessageValue(item, "VCALENDAR", &text) &&
            ParseCalendar(text, window, &parsed)) {
            for (const CalendarObject& o : parsed.objects) {
                if (SameId(MasterId(o.uid), name)) object = &o;
            }
        }
        if (object == nullptr) {
            ++result.failed;
            continue;
        }
        const StoredObject stored = ReadStored(calendar, name, *known, &names);
        Plan plan = FollowWindow(calendar, *object, name, stored, window.now);
        if (plan.empty()) continue;
        switch (Apply(calendar, plan)) {
            case cv::ChangeOutcome::kDone:
                ++result.objects;
                result.added += static_cast<int>(plan.add.size());
                result.removed += static_cast<int>(plan.drop.size());
                break;
            case cv::ChangeOutcome::kBusy:
                ++result.busy;
                break;
            default:
                ++result.failed;
        }
    }
    return result;
}

std::string ExportCalendar(const MailboxCalendar& calendar, int32_t from, int32_t to,
                           int* objects) {
    const WalkedLines walked(calendar);
    std::vector<StoredLine> lines = walked.lines();
    std::stable_sort(lines.begin(), lines.end(), [](const StoredLine& a, const StoredLine& b) {
        return a.start != b.start ? a.start < b.start : a.id < b.id;
    });
    std::map<std::string, const StoredLine*> line_of;  // an appointment's first line
    for (const StoredLine& line : lines) line_of.emplace(Folded(line.id), &line);

    CalendarWriter writer;
    std::set<std::string> done;
    int count = 0;
    // An object once: its stored VCALENDAR, else (a host's appointment) a VEVENT of its line.
    auto add = [&](const std::string& id, const std::string& item) {
        std::string text;
        cv::ItemMessageValue(item, "VCALENDAR", &text);
        if (!text.empty() && writer.AddObject(text)) {
            ++count;
            return;
        }
        auto line = line_of.find(Folded(id));
        if (line == line_of.end()) return;
        writer.AddAppointment(line->second->id, line->second->start, line->second->finish, item);
        ++count;
    };
    for (const StoredLine& line : lines) {
        if (line.finish < from || line.start > to) continue;
        std::string item, master_id;
        calendar.ReadItem(line.id, &item);
        // An occurrence stands for its master, whose item holds the object.
        if (Header(item, "X-CVOccurrenceOf", &master_id)) {
            if (!done.insert(Folded(master_id)).second || !calendar.ReadItem(master_id, &item)) {
                continue;
            }
            add(master_id, item);
        } else if (done.insert(Folded(line.id)).second) {
            add(line.id, item);
        }
    }
    // Recurring objects none of whose stored appointments meets the range may still have
    // instances in it: their spans tell.
    for (const std::string& name : calendar.ItemNamesBeginning("IC")) {
        std::string item, uid, recurring, text;
        if (!IsMasterName(name) || done.count(Folded(name)) != 0 ||
            !calendar.ReadItem(name, &item) || !Header(item, "X-AppointmentUID", &uid) ||
            !Header(item, "X-IsRecurring", &recurring) || recurring != "1" ||
            !cv::ItemMessageValue(item, "VCALENDAR", &text)) {
            continue;
        }
        CalendarObject object;
        object.text = text;
        const Span span = ObjectSpan(object);
        if (span.end < from || span.start > to) continue;
        done.insert(Folded(name));
        add(name, item);
    }
    if (objects != nullptr) *objects = count;
    return writer.Text();
}

}  // namespace cvical
