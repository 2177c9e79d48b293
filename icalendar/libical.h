// What the iCalendar files share of libical: components owned as values, and their text.
#pragma once

#include <memory>
#include <string>

#include <libical/ical.h>

namespace cvical {

// The PRODID of the calendars we make.
constexpr const char kProductId[] = "-//CVAICP//cvcal//EN";

struct ComponentFree {
    void operator()(icalcomponent* c) const { icalcomponent_free(c); }
};
using Component = std::unique_ptr<icalcomponent, ComponentFree>;

// The component as iCalendar text, lines ended by CR LF.
std::string ComponentText(icalcomponent* component);

}  // namespace cvical
