#ifndef VESKAR_TOOLS_VESKAR_COMMAND_H_
#define VESKAR_TOOLS_VESKAR_COMMAND_H_

#include <cstddef>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

namespace veskar_cli {

// Arguments after the command's own name.
using Args = std::vector<std::string>;

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;  // the operation ran and failed
constexpr int kExitUsage = 2;    // bad usage

// An option of a verb, with the line its usage shows for it.
struct Option {
  const char* name;   // "--ca"
  const char* value;  // what its value is called in the usage ("DIR"); null for a flag
  const char* help;   // what it means; '\n' starts another line
};

// A variable of the environment that changes what a verb (or the library's
// toolkits) does, with what its usage and the manual page say of it.
struct Setting {
  const char* name;        // "VESKAR_CA_IO_TIMEOUT"
  const char* other_name;  // the same setting spelt otherwise ("HTTPS_PROXY"), or null
  const char* help;        // what it means, and its default; '\n' starts another line
};

// The settings, the toolkits' first, then the served CA's and the command's.
extern const std::vector<Setting> kSettings;

class Options;

// Plain words (operands) a verb takes at most, and the usage error for
// more; without one, "unexpected argument 'WORD'".
struct Operands {
  std::size_t most = 0;
  const char* too_many = nullptr;
};

// One thing the command does ("services", "ca init"), with its options. Its
// usage is the synopsis, `about`, the options' lines, `notes` and the
// settings it reads. The manual page and the shell completion are made from
// the same fields: a synopsis names its operands in capitals (DIR, FILE) or
// as the words they must be ("encode").
struct Verb {
  const char* name;  // the words after "veskar"
  int (*run)(const Options& options);
  Operands operands;
  const char* synopsis;  // "usage: veskar ...\n" lines
  const char* about;
  std::vector<Option> options = {};
  const char* notes = nullptr;
  std::vector<const char*> settings = {};  // names in kSettings
};

// A verb of a family that this build of the command goes without, and
// what to do instead: the family's usage names it, and asking for it says
// so instead of calling it unknown.
struct AbsentVerb {
  const char* word;    // "serve"
  const char* reason;  // "serving is not built on ...", one sentence
};

// A command: one verb ("services"), or a family of verbs ("ca init",
// "ca list") with an overview of its own.
struct Command {
  const char* name;
  const char* summary;
  const Verb* verb;
  const char* usage = nullptr;  // what a family does, after its verbs' synopses
  std::vector<const Verb*> verbs = {};
  std::vector<AbsentVerb> absent = {};
};

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
  // The value given, or `fallback` when the option was not.
  std::string Value(const std::string& name, const std::string& fallback = "") const;
  // The first of `names` not given, or null when all were.
  const char* FirstMissing(std::initializer_list<const char*> names) const;
  const Args& operands() const { return operands_; }

 private:
  std::map<std::string, std::string> given_;
  Args operands_;
};

// Prints "veskar <command>: <message>" and the hint to use --help; returns
// kExitUsage.
int UsageError(const char* command, const std::string& message);

// Prints "veskar <command>: <message>"; returns kExitFailure.
int Failure(const char* command, const std::string& message);

// `text` as a decimal number from `lowest` to `highest`, all of it; false
// for anything else.
bool ParseNumber(const std::string& text, long lowest, long highest, long* value);

// An entry point's name, and the name 32-bit Windows exports it under.
struct EntryName {
  const char* plain;      // "CMSLogin"
  const char* decorated;  // "_CMSLogin@24"
};

// A toolkit the library loads by name.
struct Toolkit {
  int bit;                              // its bit in the service mask
  const char* service;                  // what it provides, for people
  const char* file;                     // as the library asks the loader for it
  std::vector<EntryName> entry_points;  // every entry point the library binds
};

// The toolkits, IPSec key management first, then CMS enrollment.
extern const Toolkit kToolkits[2];

// The toolkit of the service bit `bit` (veskar::kServiceIpsec or kServiceCms).
const Toolkit& ToolkitOf(int bit);

// Set in the environment to anything but "" or "0", it keeps the command
// from using the stand-in toolkits built or installed with it, as
// --no-standins does.
constexpr char kNoStandInsVariable[] = "VESKAR_NO_STANDINS";
// The same as the first word of the command's arguments (POSIX).
constexpr char kNoStandInsOption[] = "--no-standins";

extern const Verb kServicesVerb;
extern const Verb kMessagesVerb;
extern const Verb kVersionVerb;
extern const Verb kBase64Verb;
extern const Verb kCaServeVerb;  // where the CA's HTTP server is built
extern const Command kCaCommand;
extern const Command kEnrollCommand;
extern const Command kProtectedCommand;

}  // namespace veskar_cli

#endif  // VESKAR_TOOLS_VESKAR_COMMAND_H_
