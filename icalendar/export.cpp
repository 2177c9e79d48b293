// The VCALENDAR that an export writes: stored objects as they are, and a VEVENT for each
// appointment that a host made without one.
#include <set>
#include <vector>

#include "platform/code_page.h"
#include "index_api/item_properties.h"
#include "icalendar/libical.h"
#include "icalendar/objects.h"

namespace cvical {
namespace {

icaltimetype UtcTime(int64_t seconds) {
    return icaltime_from_timet_with_zone(static_cast<time_t>(seconds), 0,
                                         icaltimezone_get_utc_timezone());
}

// A header of a host's item as UTF-8 (hosts write their own code page).
std::string HeaderText(const std::string& item, const char* name) {
    std::string value;
    return ItemHeader(item, name, &value) ? cv::CodePageToUtf8(value) : std::string();
}

// Line breaks as iCalendar texts have them: LF alone.
std::string Lines(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out += text[i];
    }
    return out;
}

}  // namespace

struct CalendarWriter::State {
    Component calendar;
    std::set<std::string> tzids;
};

CalendarWriter::CalendarWriter() : state_(new State) {
    state_->calendar.reset(icalcomponent_new(ICAL_VCALENDAR_COMPONENT));
    icalcomponent_add_property(state_->calendar.get(), icalproperty_new_version("2.0"));
    icalcomponent_add_property(state_->calendar.get(), icalproperty_new_prodid(kProductId));
}

CalendarWriter::~CalendarWriter() = default;

bool CalendarWriter::AddObject(const std::string& vcalendar) {
    icalerror_set_errors_are_fatal(0);
    Component parsed(icalparser_parse_string(vcalendar.c_str()));
    if (!parsed || icalcomponent_isa(parsed.get()) != ICAL_VCALENDAR_COMPONENT) return false;
    std::vector<icalcomponent*> zones, events;
    for (icalcomponent* c = icalcomponent_get_first_component(parsed.get(), ICAL_ANY_COMPONENT);
         c != nullptr; c = icalcomponent_get_next_component(parsed.get(), ICAL_ANY_COMPONENT)) {
        if (icalcomponent_isa(c) == ICAL_VTIMEZONE_COMPONENT) zones.push_back(c);
        if (icalcomponent_isa(c) == ICAL_VEVENT_COMPONENT) events.push_back(c);
    }
    if (events.empty()) return false;
    // Each zone once: the first object that brings a TZID gives its definition.
    for (icalcomponent* zone : zones) {
        icalproperty* tzid = icalcomponent_get_first_property(zone, ICAL_TZID_PROPERTY);
        const char* name = tzid != nullptr ? icalproperty_get_tzid(tzid) : nullptr;
        if (name == nullptr || !state_->tzids.insert(name).second) continue;
        icalcomponent_add_component(state_->calendar.get(), icalcomponent_new_clone(zone));
    }
    for (icalcomponent* event : events) {
        icalcomponent_add_component(state_->calendar.get(), icalcomponent_new_clone(event));
    }
    return true;
}

void CalendarWriter::AddAppointment(const std::string& id, int32_t start, int32_t finish,
                                    const std::string& item) {
    icalcomponent* event = icalcomponent_new(ICAL_VEVENT_COMPONENT);
    icalcomponent_set_uid(event, cv::CodePageToUtf8(id).c_str());
    icalcomponent_set_dtstart(event, UtcTime(start));
    icalcomponent_set_dtend(event, UtcTime(finish));
    std::string date, body;
    int64_t stamp = 0;
    if (ItemHeader(item, "Date", &date) && ParseMessageDate(date, &stamp)) {
        icalcomponent_set_dtstamp(event, UtcTime(stamp));
    }
    std::string subject = HeaderText(item, "Subject");
    std::string location = HeaderText(item, "X-Location");
    if (!subject.empty()) icalcomponent_set_summary(event, subject.c_str());
    if (!location.empty()) icalcomponent_set_location(event, location.c_str());
    if (cv::ItemMessageValue(item, "BODY", &body) && !body.empty()) {
        icalcomponent_set_description(event, Lines(cv::CodePageToUtf8(body)).c_str());
    }
    icalcomponent_add_component(state_->calendar.get(), event);
}

std::string CalendarWriter::Text() const {
    std::string text = ComponentText(state_->calendar.get());
    icalmemory_free_ring();  // libical's temporary texts (see ParseCalendar)
    return text;
}

std::string HostAppointmentText(const std::string& id, int32_t start, int32_t finish,
                                const std::string& item) {
    CalendarWriter writer;
    writer.AddAppointment(id, start, finish, item);
    return writer.Text();
}

}  // namespace cvical
