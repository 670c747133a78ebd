#ifndef VESKAR_STANDINS_COMMON_STATUS_TABLE_H_
#define VESKAR_STANDINS_COMMON_STATUS_TABLE_H_

#include <cstddef>
#include <optional>

#include "pki/outcome.h"

namespace veskar::standins {

// One status a toolkit returns: its number, the enrollment outcome it
// reports (if any) and its fixed text. Each toolkit lists its statuses once,
// as rows of these.
template <typename Status>
struct StatusRow {
  Status number;
  std::optional<pki::Outcome> outcome;
  const char* text;
};

// What the outcome column of a status list says for a status that reports
// no enrollment outcome; with `using pki::Outcome` in scope, the list's rows
// expand to StatusRow initialisers through VESKAR_STATUS_ROW.
inline constexpr std::optional<pki::Outcome> kNoOutcome{};
#define VESKAR_STATUS_ROW(name, number, outcome, text) {number, outcome, text},

// Texts both toolkits give for the same state of the client INI file and
// the CA it names.
#define VESKAR_INI_UNREADABLE_TEXT                                                            \
  "the client INI file is missing or cannot be read, or it has no Manager= entry naming the " \
  "certificate authority"
#define VESKAR_CA_UNAVAILABLE_TEXT                                                             \
  "the certificate authority the client INI file names (Manager=) is not available: a server " \
  "that does not answer, a folder that holds no CA, or a CA whose certificate has expired"

// The text of `status`; "unknown status" for numbers not listed.
template <typename Status, size_t N>
const char* TextOfStatus(const StatusRow<Status> (&rows)[N], Status status) {
  for (const StatusRow<Status>& row : rows) {
    if (row.number == status) return row.text;
  }
  return "unknown status";
}

// The status that reports `outcome` as a client sees it; `fallback` when no
// row reports it.
template <typename Status, size_t N>
Status StatusReporting(const StatusRow<Status> (&rows)[N], pki::Outcome outcome, Status fallback) {
  const pki::Outcome seen = pki::AsClientSees(outcome);
  for (const StatusRow<Status>& row : rows) {
    if (row.outcome == seen) return row.number;
  }
  return fallback;
}

}  // namespace veskar::standins

#endif  // VESKAR_STANDINS_COMMON_STATUS_TABLE_H_
