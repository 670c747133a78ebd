#ifndef VESKAR_TOOLS_VESKAR_OPTIONS_H_
#define VESKAR_TOOLS_VESKAR_OPTIONS_H_

#include <initializer_list>
#include <map>
#include <string>

#include "command.h"

namespace veskar_cli {

struct OptionSpec {
  const char* name;  // "--ca"
  bool takes_value;
};

// The options of one command: "--name VALUE" (or "--name=VALUE") or a bare
// flag "--name", each at most once. No plain words are accepted, so a secret cannot be passed as
// one by mistake.
class Options {
 public:
  // Reads `args` against `specs`. False on bad usage, with *error saying
  // what ("unknown option '--x'", "--ca needs a value", "--ca given twice",
  // "unexpected argument 'x'").
  bool Parse(const Args& args, std::initializer_list<OptionSpec> specs, std::string* error);

  bool Has(const std::string& name) const { return given_.count(name) != 0; }
  // The value given, or "" when the option was not.
  std::string Value(const std::string& name) const;

  // The first of `names` not given, or null when all were.
  const char* FirstMissing(std::initializer_list<const char*> names) const;

 private:
  std::map<std::string, std::string> given_;
};

// A reference number as a CA hands it out: decimal digits only, from 1 to
// INT_MAX (the IPSec toolkit takes it as an int).
bool IsReferenceNumber(const std::string& text);

}  // namespace veskar_cli

#endif  // VESKAR_TOOLS_VESKAR_OPTIONS_H_
