#ifndef VESKAR_TOOLS_VESKAR_COMMAND_H_
#define VESKAR_TOOLS_VESKAR_COMMAND_H_

#include <cstdio>
#include <string>
#include <vector>

namespace veskar_cli {

// Arguments after the command's own name.
using Args = std::vector<std::string>;

// Exit statuses of the command.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;  // the operation ran and failed
constexpr int kExitUsage = 2;    // bad usage

struct Command {
  const char* name;
  const char* summary;
  const char* usage;  // full --help text
  int (*run)(const Args& args);
  bool subcommands;  // "ca init": the subcommand answers a later --help
};

// Prints "veskar <command>: <message>" and the hint to use --help; returns
// kExitUsage.
int UsageError(const char* command, const std::string& message);

// Prints "veskar <command>: <message>"; returns kExitFailure.
int Failure(const char* command, const std::string& message);

// True when args holds "--help" anywhere or is exactly {"-h"}.
bool WantsHelp(const Args& args);

// A command with subcommands ("ca init", "enroll cms") dispatches with
// RunSubcommands: `command` is "ca", `args` what follows it. Prints the
// subcommand's usage for --help, and a usage error naming the subcommands
// for none or an unknown one.
struct Subcommand {
  const char* name;
  const char* usage;
  int (*run)(const Args& args);
};
int RunSubcommands(const char* command, const std::vector<Subcommand>& subcommands,
                   const Args& args);

int RunServices(const Args& args);
int RunMessages(const Args& args);
int RunVersion(const Args& args);
int RunCa(const Args& args);
int RunBase64(const Args& args);
int RunEnroll(const Args& args);
int RunProtected(const Args& args);

extern const char kServicesUsage[];
extern const char kMessagesUsage[];
extern const char kVersionUsage[];
extern const char kCaUsage[];
extern const char kBase64Usage[];
extern const char kEnrollUsage[];
extern const char kProtectedUsage[];

}  // namespace veskar_cli

#endif  // VESKAR_TOOLS_VESKAR_COMMAND_H_
