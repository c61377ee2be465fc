// packResult of the recording build: journals each report and how many
// references the watched device had at that moment, then stores it.
#include "packResult.h"

#include "FakeEntity.h"

void packResult(Result* result, std::int32_t value, std::int32_t error) noexcept
{
    fake::Journal& journal = fake::journal();
    journal.events.push_back("report");
    journal.reports.push_back({value, error, fake::watchedRefs()});
    if (result != nullptr) {
        result->value = value;
        result->error = error;
    }
}
