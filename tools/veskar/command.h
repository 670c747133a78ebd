#ifndef VESKAR_TOOLS_VESKAR_COMMAND_H_
#define VESKAR_TOOLS_VESKAR_COMMAND_H_

#include <cstddef>
#include <string>
#include <vector>

namespace veskar_cli {

// Arguments after the command's own name.
using Args = std::vector<std::string>;

// Exit statuses of the command.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;  // the operation ran and failed
constexpr int kExitUsage = 2;    // bad usage

// An option of a verb, with the line its usage shows for it.
struct Option {
  const char* name;   // "--ca"
  const char* value;  // what its value is called in the usage ("DIR"); null for a flag
  const char* help;   // what it means; '\n' starts another line
};

class Options;

// One thing the command does ("services", "ca init"), with its options. Its
// usage is the synopsis, `about`, the options' lines and `notes`.
struct Verb {
  const char* name;  // the words after "veskar"
  int (*run)(const Options& options);
  const char* synopsis;  // "usage: veskar ...\n" lines
  const char* about;
  std::vector<Option> options;
  const char* notes = nullptr;
  // Plain words (operands) it takes at most, and the usage error for more;
  // without one, "unexpected argument 'WORD'".
  std::size_t max_operands = 0;
  const char* too_many = nullptr;
};

// A command: one verb ("services"), or a family of verbs ("ca init",
// "ca list") with an overview of its own.
struct Command {
  const char* name;
  const char* summary;
  const Verb* verb;
  const char* usage;  // what a family does, after its verbs' synopses
  std::vector<const Verb*> verbs;
};

// Prints "veskar <command>: <message>" and the hint to use --help; returns
// kExitUsage.
int UsageError(const char* command, const std::string& message);

// Prints "veskar <command>: <message>"; returns kExitFailure.
int Failure(const char* command, const std::string& message);

extern const Verb kServicesVerb;
extern const Verb kMessagesVerb;
extern const Verb kVersionVerb;
extern const Verb kBase64Verb;
extern const Verb kCaServeVerb;
extern const Command kCaCommand;
extern const Command kEnrollCommand;
extern const Command kProtectedCommand;

}  // namespace veskar_cli

#endif  // VESKAR_TOOLS_VESKAR_COMMAND_H_
