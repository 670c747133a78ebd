// veskar: a small host of the library, the way a person tries it from a shell.

#include <cstdio>
#include <cstring>
#include <string>

#include "command.h"
#include "options.h"
#include "os.h"
#include "toolkits.h"

namespace veskar_cli {
namespace {

constexpr char kNoStandInsOption[] = "--no-standins";

const Command kServices = {
    "services", "show which certificate services are available", &kServicesVerb, nullptr, {}};
const Command kMessages = {
    "messages", "print the message table, or one message", &kMessagesVerb, nullptr, {}};
const Command kVersion = {
    "version", "print the library's version record", &kVersionVerb, nullptr, {}};
const Command kBase64 = {
    "base64", "encode bytes as Base64 text or decode it", &kBase64Verb, nullptr, {}};

// Pointers, as the families are defined in other files.
const Command* const kCommands[] = {
    &kServices,  &kMessages,      &kVersion,          &kBase64,
#ifdef VESKAR_HAVE_PKI_VERBS
    &kCaCommand, &kEnrollCommand, &kProtectedCommand,
#endif
};

void PrintOverview(std::FILE* out) {
  std::fprintf(out, "usage: veskar [%s] <command> [arguments]\n\ncommands:\n", kNoStandInsOption);
  for (const Command* command : kCommands) {
    std::fprintf(out, "  %-10s %s\n", command->name, command->summary);
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

// True when args holds "--help" anywhere or is exactly {"-h"}.
bool WantsHelp(const Args& args) {
  if (args.size() == 1 && args[0] == "-h") return true;
  for (const std::string& arg : args) {
    if (arg == "--help") return true;
  }
  return false;
}

// A family's usage: its verbs' synopses, then what it says of itself.
std::string FamilyUsage(const Command& command) {
  std::string text;
  for (const Verb* verb : command.verbs) {
    std::string synopsis = verb->synopsis;
    if (!text.empty()) synopsis.replace(0, 6, "      ");
    text += synopsis;
  }
  return text + "\n" + command.usage;
}

int Help(const std::string& usage) {
  std::fputs(usage.c_str(), stdout);
  return kExitOk;
}

int RunVerb(const Verb& verb, const Args& args) {
  if (WantsHelp(args)) return Help(Usage(verb));
  Options options;
  std::string error;
  if (!options.Parse(args, verb, &error)) return UsageError(verb.name, error);
  return verb.run(options);
}

// "ca init DIR": the family's verb named by the first word, or its overview.
int RunFamily(const Command& command, const Args& args) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    if (!args.empty()) return Help(FamilyUsage(command));
    std::string names;
    for (size_t i = 0; i < command.verbs.size(); ++i) {
      if (i > 0) names += i + 1 == command.verbs.size() ? " or " : ", ";
      names += std::strchr(command.verbs[i]->name, ' ') + 1;
    }
    return UsageError(command.name, "needs a command: " + names);
  }
  for (const Verb* verb : command.verbs) {
    if (args[0] == std::strchr(verb->name, ' ') + 1) {
      return RunVerb(*verb, Args(args.begin() + 1, args.end()));
    }
  }
  return UsageError(command.name, "unknown command '" + args[0] + "'");
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
  if (name == "--version") return RunVerb(kVersionVerb, {});
  for (const Command* command : kCommands) {
    if (name != command->name) continue;
    const Args args(words.begin() + 1, words.end());
    return command->verb ? RunVerb(*command->verb, args) : RunFamily(*command, args);
  }
  return UsageError(nullptr, "unknown command '" + name + "'");
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

}  // namespace veskar_cli

int main(int argc, char** argv) {
  const bool no_standins = argc > 1 && std::strcmp(argv[1], veskar_cli::kNoStandInsOption) == 0;
  veskar_cli::UseStandInToolkits(argv, no_standins);
  return veskar_cli::Main(veskar_cli::Args(argv + 1 + (no_standins ? 1 : 0), argv + argc));
}
