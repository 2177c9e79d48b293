// The C face of the catalogue (cvaicp_icalendar.h): JSON texts in and out, every C++ exception
// caught here, since none may cross into a host written in another language.
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include <nlohmann/json.hpp>

#include "icalendar/catalogue.h"
#include "icalendar/cvaicp_icalendar.h"
#include "icalendar/folder_view.h"
#include "icalendar/json_text.h"
#include "platform/platform.h"

using nlohmann::json;

struct cvical_calendar {
    std::mutex turn;  // calls on one handle take turns: the catalogue is one connection
    std::unique_ptr<cvical::Catalogue> catalogue;
};

namespace {

using cvical::Status;

const char* KindName(Status::Kind kind) {
    switch (kind) {
        case Status::kOk:
            return "ok";
        case Status::kConfiguration:
            return "configuration";
        case Status::kNotFound:
            return "not-found";
        case Status::kRefused:
            return "refused";
        case Status::kBusy:
            return "busy";
        case Status::kInvalidToken:
            return "invalid-token";
        case Status::kFailed:
            break;
    }
    return "failed";
}

// The answer as a text the caller frees with cvical_free; null only when even that cannot be
// had.
char* Copy(const std::string& text) {
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy != nullptr) std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

// Bytes that are not UTF-8 (which no answer should hold) become U+FFFD, not a failure.
std::string Text(const json& answer) {
    return answer.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string Failure(Status::Kind kind, const std::string& message) {
    return Text({{"error", KindName(kind)}, {"message", message}});
}

void AppendObject(std::string* out, const cvical::ListedObject& o, const std::string* text) {
    *out += "{\"href\":";
    cvical::AppendJsonString(out, o.href);
    *out += ",\"etag\":";
    cvical::AppendJsonString(out, o.etag);
    *out += ",\"uid\":";
    cvical::AppendJsonString(out, o.uid);
    *out += ",\"modified\":" + std::to_string(o.modified);
    if (o.exact)
        *out += ",\"span\":[" + std::to_string(o.start) + "," + std::to_string(o.finish) + "]";
    if (text != nullptr) {
        *out += ",\"text\":";
        cvical::AppendJsonString(out, *text);
    }
    *out += '}';
}

const std::string* TextOf(const cvical::ListedObject&) {
    return nullptr;
}
const std::string* TextOf(const cvical::StoredObject& o) {
    return &o.text;
}

template <typename Object>
std::string Objects(const std::vector<Object>& objects) {
    std::string out = "{\"objects\":[";
    for (size_t i = 0; i < objects.size(); ++i) {
        if (i > 0) out += ',';
        AppendObject(&out, objects[i], TextOf(objects[i]));
    }
    return out + "]}";
}

// Runs a call on the handle's catalogue, in its turn, with every failure as an answer.
template <typename Call>
char* OnCalendar(cvical_calendar* calendar, Call call) {
    try {
        if (calendar == nullptr || !calendar->catalogue) {
            return Copy(Failure(Status::kConfiguration, "no calendar"));
        }
        std::lock_guard<std::mutex> turn(calendar->turn);
        std::string answer;
        const uint32_t began = cv::MonotonicMilliseconds();
        Status status = call(*calendar->catalogue, &answer);
        cvical::ReturnFreeMemory(cv::MonotonicMilliseconds() - began);
        return Copy(status.ok() ? answer : Failure(status.kind, status.message));
    } catch (const std::bad_alloc&) {
        return nullptr;
    } catch (const std::exception& e) {
        return Copy(Failure(Status::kFailed, e.what()));
    } catch (...) {
        return Copy(Failure(Status::kFailed, "an unknown failure"));
    }
}

int Days(const json& settings, const char* name, int fallback) {
    const int days = settings.value(name, fallback);
    if (days < 0 || days > cvical::kMaxWindowDays) {
        throw std::invalid_argument(std::string(name) + ": expected 0 to " +
                                    std::to_string(cvical::kMaxWindowDays));
    }
    return days;
}

std::string Argument(const char* text) {
    return text != nullptr ? text : "";
}

}  // namespace

extern "C" {

cvical_calendar* cvical_open(const char* settings, char** error) {
    std::string failure;
    try {
        const json given = json::parse(Argument(settings));
        cvical::CatalogueSettings wanted;
        wanted.postoffice = given.at("postoffice").get<std::string>();
        wanted.mailbox = given.at("mailbox").get<std::string>();
        wanted.state = given.at("state").get<std::string>();
        wanted.window.back_days = Days(given, "back_days", cvical::kDefaultBackDays);
        wanted.window.horizon_days = Days(given, "horizon_days", cvical::kDefaultHorizonDays);
        const int64_t most = given.value("max_occurrences", int64_t{cvical::kMaxOccurrences});
        if (most < 1 || most > 100000) throw std::invalid_argument("max_occurrences: 1 to 100000");
        wanted.window.max_occurrences = static_cast<size_t>(most);
        wanted.roll = given.value("roll", true);
        wanted.watch = given.value("watch", true);
        Status status;
        auto calendar = std::make_unique<cvical_calendar>();
        calendar->catalogue = cvical::Catalogue::Open(wanted, &status);
        if (calendar->catalogue) return calendar.release();
        failure = Failure(status.kind, status.message);
    } catch (const std::bad_alloc&) {
        if (error != nullptr) *error = nullptr;
        return nullptr;
    } catch (const std::exception& e) {
        failure = Failure(Status::kConfiguration, std::string("the settings: ") + e.what());
    }
    if (error != nullptr) {
        try {
            *error = Copy(failure);
        } catch (...) {
            *error = nullptr;
        }
    }
    return nullptr;
}

void cvical_close(cvical_calendar* calendar) {
    delete calendar;
}

void cvical_free(char* answer) {
    std::free(answer);
}

char* cvical_refresh(cvical_calendar* calendar) {
    return OnCalendar(calendar, [](cvical::Catalogue& c, std::string* answer) {
        Status status = c.Refresh();
        *answer = Text({{"token", c.token()}, {"modified", c.modified()}});
        return status;
    });
}

char* cvical_list(cvical_calendar* calendar, const char* after, uint32_t limit) {
    return OnCalendar(calendar, [&](cvical::Catalogue& c, std::string* answer) {
        std::vector<cvical::ListedObject> objects;
        Status status = c.List(Argument(after), limit, &objects);
        *answer = Objects(objects);
        return status;
    });
}

char* cvical_find(cvical_calendar* calendar, const char* hrefs) {
    return OnCalendar(calendar, [&](cvical::Catalogue& c, std::string* answer) {
        const auto names = json::parse(Argument(hrefs)).get<std::vector<std::string>>();
        std::vector<cvical::ListedObject> objects;
        Status status = c.Find(names, &objects);
        *answer = Objects(objects);
        return status;
    });
}

char* cvical_get(cvical_calendar* calendar, const char* hrefs) {
    return OnCalendar(calendar, [&](cvical::Catalogue& c, std::string* answer) {
        const auto names = json::parse(Argument(hrefs)).get<std::vector<std::string>>();
        std::vector<cvical::StoredObject> objects;
        Status status = c.Get(names, &objects);
        *answer = Objects(objects);
        return status;
    });
}

char* cvical_find_uid(cvical_calendar* calendar, const char* uid) {
    return OnCalendar(calendar, [&](cvical::Catalogue& c, std::string* answer) {
        std::string href;
        bool found = false;
        Status status = c.FindUid(Argument(uid), &href, &found);
        *answer = Text({{"href", found ? json(href) : json(nullptr)}});
        return status;
    });
}

char* cvical_in_range(cvical_calendar* calendar, int64_t start, int64_t end) {
    return OnCalendar(calendar, [&](cvical::Catalogue& c, std::string* answer) {
        std::vector<cvical::ListedObject> objects;
        Status status = c.InRange(start, end, &objects);
        *answer = Objects(objects);
        return status;
    });
}

char* cvical_sync(cvical_calendar* calendar, const char* token) {
    return OnCalendar(calendar, [&](cvical::Catalogue& c, std::string* answer) {
        std::string now;
        std::vector<std::string> changed;
        Status status = c.Sync(Argument(token), &now, &changed);
        *answer = Text({{"token", now}, {"changed", changed}});
        return status;
    });
}

char* cvical_put(cvical_calendar* calendar, const char* href, const char* text) {
    return OnCalendar(calendar, [&](cvical::Catalogue& c, std::string* answer) {
        cvical::PutOutcome outcome = cvical::PutOutcome::kUnchanged;
        cvical::StoredObject stored;
        Status status = c.Put(Argument(href), Argument(text), &outcome, &stored);
        const char* name = outcome == cvical::PutOutcome::kAdded      ? "added"
                           : outcome == cvical::PutOutcome::kReplaced ? "replaced"
                                                                      : "unchanged";
        *answer = std::string("{\"outcome\":\"") + name + "\",\"object\":";
        AppendObject(answer, stored, &stored.text);
        *answer += '}';
        return status;
    });
}

char* cvical_delete(cvical_calendar* calendar, const char* href) {
    return OnCalendar(calendar, [&](cvical::Catalogue& c, std::string* answer) {
        Status status = c.Delete(Argument(href));
        *answer = Text({{"deleted", Argument(href)}});
        return status;
    });
}

char* cvical_roll(cvical_calendar* calendar) {
    return OnCalendar(calendar, [](cvical::Catalogue& c, std::string* answer) {
        cvical::RollResult result;
        Status status = c.Roll(&result);
        *answer = Text({{"objects", result.objects},
                        {"added", result.added},
                        {"removed", result.removed},
                        {"busy", result.busy}});
        return status;
    });
}

}  // extern "C"
