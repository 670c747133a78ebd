#ifndef VESKAR_TOOLS_VESKAR_OPTIONS_H_
#define VESKAR_TOOLS_VESKAR_OPTIONS_H_

#include <initializer_list>
#include <map>
#include <string>

#include "command.h"

namespace veskar_cli {

// What a verb was given: "--name VALUE" or "--name=VALUE", bare flags
// "--name", each at most once, and plain words (operands) where the verb
// takes them. A word that starts with '-' is an option, apart from "-"
// itself.
class Options {
 public:
  // Reads `args` against `verb`. False on bad usage, with *error saying
  // what ("unknown option '--x'", "--ca needs a value", "--ca given twice",
  // "--publish takes no value", "unexpected argument 'x'").
  bool Parse(const Args& args, const Verb& verb, std::string* error);

  bool Has(const std::string& name) const { return given_.count(name) != 0; }
  // The value given, or "" when the option was not.
  std::string Value(const std::string& name) const;
  // The first of `names` not given, or null when all were.
  const char* FirstMissing(std::initializer_list<const char*> names) const;
  const Args& operands() const { return operands_; }

 private:
  std::map<std::string, std::string> given_;
  Args operands_;
};

// The --help text of `verb`.
std::string Usage(const Verb& verb);

// A reference number as a CA hands it out: decimal digits only, from 1 to
// INT_MAX (the IPSec toolkit takes it as an int).
bool IsReferenceNumber(const std::string& text);

}  // namespace veskar_cli

#endif  // VESKAR_TOOLS_VESKAR_OPTIONS_H_
