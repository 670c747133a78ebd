// veskar: a small host of the library, the way a person tries it from a shell.

#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>

#include "command.h"
#include "toolkit_search.h"

namespace veskar_cli {
namespace {

constexpr char kNoStandInsOption[] = "--no-standins";

const Command kCommands[] = {
    {"services", "show which certificate services are available", kServicesUsage, RunServices,
     false},
    {"messages", "print the message table, or one message", kMessagesUsage, RunMessages, false},
    {"version", "print the library's version record", kVersionUsage, RunVersion, false},
    {"base64", "encode bytes as Base64 text or decode it", kBase64Usage, RunBase64, false},
#ifdef VESKAR_HAVE_LOCAL_CA
    {"ca", "administer a local certificate authority", kCaUsage, RunCa, true},
#endif
#ifdef VESKAR_HAVE_OPENSSL
    {"enroll", "enroll a user for a certificate (CMS or IPSec)", kEnrollUsage, RunEnroll, true},
    {"protected", "store or fetch an item of a protected-data file", kProtectedUsage, RunProtected,
     true},
#endif
};

void PrintOverview(std::FILE* out) {
  std::fprintf(out, "usage: veskar [%s] <command> [arguments]\n\ncommands:\n", kNoStandInsOption);
  for (const Command& command : kCommands) {
    std::fprintf(out, "  %-10s %s\n", command.name, command.summary);
  }
  std::fprintf(out,
               "\n'veskar help <command>' or 'veskar <command> --help' describes one command;\n"
               "'veskar --version' prints the version. Options take their value as\n"
               "'--name VALUE' or '--name=VALUE'.\n\n"
               "A toolkit the loader does not find (LD_LIBRARY_PATH, then the system's\n"
               "folders) is taken from the stand-ins built or installed with veskar;\n"
               "%s, or %s=1 in the environment, turns that off.\n",
               kNoStandInsOption, kNoStandInsVariable);
}

std::string Joined(const std::vector<Subcommand>& subcommands) {
  std::string names;
  for (size_t i = 0; i < subcommands.size(); ++i) {
    if (i > 0) names += i + 1 == subcommands.size() ? " or " : ", ";
    names += subcommands[i].name;
  }
  return names;
}

}  // namespace

int UsageError(const char* command, const std::string& message) {
  std::fprintf(stderr, "veskar%s%s: %s (see 'veskar%s%s --help')\n", command ? " " : "",
               command ? command : "", message.c_str(), command ? " " : "", command ? command : "");
  return kExitUsage;
}

int Failure(const char* command, const std::string& message) {
  std::fprintf(stderr, "veskar %s: %s\n", command, message.c_str());
  return kExitFailure;
}

bool WantsHelp(const Args& args) {
  if (args.size() == 1 && args[0] == "-h") return true;
  for (const std::string& arg : args) {
    if (arg == "--help") return true;
  }
  return false;
}

int RunSubcommands(const char* command, const std::vector<Subcommand>& subcommands,
                   const Args& args) {
  if (args.empty()) return UsageError(command, "needs a command: " + Joined(subcommands));
  for (const Subcommand& subcommand : subcommands) {
    if (args[0] != subcommand.name) continue;
    const Args rest(args.begin() + 1, args.end());
    if (WantsHelp(rest)) {
      std::fputs(subcommand.usage, stdout);
      return kExitOk;
    }
    return subcommand.run(rest);
  }
  return UsageError(command, "unknown command '" + args[0] + "'");
}

int Main(const Args& words) {
  if (words.empty()) {
    PrintOverview(stderr);
    return kExitUsage;
  }
  const std::string& name = words[0];
  if (name == "help" && words.size() > 1) {
    // "veskar help enroll cms" is "veskar enroll cms --help".
    Args asked(words.begin() + 1, words.end());
    asked.push_back("--help");
    return Main(asked);
  }
  if (name == "--help" || name == "-h" || name == "help") {
    PrintOverview(stdout);
    return kExitOk;
  }
  if (name == "--version") return RunVersion({});
  for (const Command& command : kCommands) {
    if (name != command.name) continue;
    const Args args(words.begin() + 1, words.end());
    const bool asked_here = !args.empty() && (args[0] == "--help" || args[0] == "-h");
    if (asked_here || (!command.subcommands && WantsHelp(args))) {
      std::fputs(command.usage, stdout);
      return kExitOk;
    }
    return command.run(args);
  }
  return UsageError(nullptr, "unknown command '" + name + "'");
}

}  // namespace veskar_cli

int main(int argc, char** argv) {
  const bool no_standins = argc > 1 && std::strcmp(argv[1], veskar_cli::kNoStandInsOption) == 0;
  veskar_cli::UseStandInToolkits(argv, no_standins);
  return veskar_cli::Main(veskar_cli::Args(argv + 1 + (no_standins ? 1 : 0), argv + argc));
}
