#include "standins/kmpapi32/kmp_status.h"

#include "standins/common/status_table.h"

namespace veskar::kmpapi {
namespace {

using pki::Outcome;
using standins::kNoOutcome;
constexpr standins::StatusRow<short> kStatuses[] = {VESKAR_KMP_STATUSES(VESKAR_STATUS_ROW)};

}  // namespace

const char* StatusText(short status) { return standins::TextOfStatus(kStatuses, status); }

short StatusFor(Outcome outcome) {
  return standins::StatusReporting(kStatuses, outcome, kKmpIssueFailed);
}

}  // namespace veskar::kmpapi
