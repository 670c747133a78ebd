#include "ipsec/reference_number.h"

#include <limits>

namespace veskar {
namespace {

// The C locale's white space, so the result never depends on the host's locale.
bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

int ParseReferenceNumber(const char* text) {
  constexpr long long kMax = std::numeric_limits<int>::max();
  constexpr long long kMinMagnitude = kMax + 1;  // of INT_MIN

  const char* p = text;
  while (IsSpace(*p)) ++p;
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;

  // Once the magnitude is past every int it stops growing, so it cannot
  // overflow however many digits follow.
  long long magnitude = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (magnitude <= kMinMagnitude) magnitude = magnitude * 10 + (*p - '0');
  }
  if (negative) {
    return magnitude >= kMinMagnitude ? std::numeric_limits<int>::min()
                                      : static_cast<int>(-magnitude);
  }
  return magnitude > kMax ? std::numeric_limits<int>::max() : static_cast<int>(magnitude);
}

}  // namespace veskar
