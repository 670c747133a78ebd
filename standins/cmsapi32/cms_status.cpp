#include "standins/cmsapi32/cms_status.h"

#include "standins/common/status_table.h"

namespace veskar::cmsapi {
namespace {

using pki::Outcome;
using standins::kNoOutcome;
constexpr standins::StatusRow<int> kStatuses[] = {VESKAR_CMS_STATUSES(VESKAR_STATUS_ROW)};

}  // namespace

const char* StatusText(int status) { return standins::TextOfStatus(kStatuses, status); }

bool IsWarning(int status) { return status >= 100 && status <= 199; }

int StatusFor(Outcome outcome) {
  return standins::StatusReporting(kStatuses, outcome, kCmsIssueFailed);
}

}  // namespace veskar::cmsapi
