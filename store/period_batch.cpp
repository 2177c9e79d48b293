#include "store/period_batch.h"

namespace cv {

ChangeOutcome ChangePeriodLines(const AppointmentRequest& request,
                                const std::vector<std::string>& remove,
                                const std::vector<NewLine>& add) {
    return ChangeCalendarPeriods(request, {PeriodChange{request.PeriodName, remove, add}});
}

ChangeOutcome ChangeCalendarPeriods(const AppointmentRequest&, const std::vector<PeriodChange>&,
                                    const std::function<bool()>&) {
    return ChangeOutcome::kFailed;
}

}  // namespace cv
