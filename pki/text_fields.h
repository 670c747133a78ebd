#ifndef VESKAR_PKI_TEXT_FIELDS_H_
#define VESKAR_PKI_TEXT_FIELDS_H_

#include <string>
#include <vector>

namespace veskar::pki {

// The fields of a line of text, split at every `separator`: n separators
// always give n + 1 fields, empty ones included, so that a missing value is
// seen instead of shifting the fields after it.
std::vector<std::string> SplitFields(const std::string& line, char separator);

// `text` in lower case (ASCII letters only, as header names and host names
// are compared).
std::string AsciiLower(std::string text);

// `text` without the spaces and tabs at either end.
std::string TrimmedBlanks(const std::string& text);

}  // namespace veskar::pki

#endif  // VESKAR_PKI_TEXT_FIELDS_H_
