// find: an appointment by its id alone. The library looks ids up within one period; find asks it
// about every period file of the Calendar folder in turn.
#include <cstring>
#include <string>
#include <vector>

#include "tools/cvcal/calendar_folder.h"
#include "tools/cvcal/command_line.h"

namespace cvcal {
namespace {

int Find(Context& context, const CommandLine& line) {
    const std::string& id = line.Required("id");
    if (id.empty()) throw UsageError("--id: must not be empty");
    CheckId(id, "id", false);
    std::string calendar = CheckReach(context, line, Access::kRead);
    std::vector<Output::Fields> rows;
    for (const std::string& period : PeriodNames(calendar)) {
        AppointmentRequest request = AppointmentRecord(line);
        CopyField(request.ItemId, sizeof request.ItemId, id, "id");
        CopyField(request.PeriodName, sizeof request.PeriodName, period, "period");
        if (context.library.AppointmentGet(&request) != 1) continue;
        rows.push_back({{"period", Output::Text(period)},
                        {"start", Output::Time(request.StartTime)},
                        {"end", Output::Time(request.FinishTime)},
                        {"id", Output::Text(request.ItemId)}});
    }
    if (rows.empty()) throw Failure(kExitRefused, "not found: " + id + " is in no period");
    context.output.Field("count", Output::Number(static_cast<int64_t>(rows.size())));
    context.output.Rows("appointments", std::move(rows));
    return kExitOk;
}

}  // namespace

std::vector<Command> FindCommands() {
    return {
        {"find",
         "find an appointment by its id, in whichever period it is",
         "  --mailbox M --postoffice P --id ID\n"
         "Looks the id up in every period file of the mailbox's Calendar folder (the local\n"
         "store only). Exit 1 when no period holds it.",
         "  cvcal find --mailbox anna --postoffice example --id review-1",
         {{"mailbox", true}, {"postoffice", true}, {"id", true}},
         Find},
    };
}

}  // namespace cvcal
