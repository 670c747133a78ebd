// veskar: a small host of the library, the way a person tries it from a shell.

#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>

#include "command.h"

namespace veskar_cli {
namespace {

const Command kCommands[] = {
    {"services", "show which certificate services are available", kServicesUsage, RunServices},
    {"messages", "print the message table, or one message", kMessagesUsage, RunMessages},
    {"version", "print the library's version record", kVersionUsage, RunVersion},
    {"base64", "encode bytes as Base64 text or decode it", kBase64Usage, RunBase64},
#ifdef VESKAR_HAVE_LOCAL_CA
    {"ca", "administer a local certificate authority", kCaUsage, RunCa},
#endif
};

void PrintOverview(std::FILE* out) {
  std::fprintf(out, "usage: veskar <command> [arguments]\n\ncommands:\n");
  for (const Command& command : kCommands) {
    std::fprintf(out, "  %-10s %s\n", command.name, command.summary);
  }
  std::fprintf(out, "\n'veskar <command> --help' describes one command.\n");
}

}  // namespace

int UsageError(const char* command, const std::string& message) {
  std::fprintf(stderr, "veskar%s%s: %s (see 'veskar%s%s --help')\n", command ? " " : "",
               command ? command : "", message.c_str(), command ? " " : "",
               command ? command : "");
  return kExitUsage;
}

bool WantsHelp(const Args& args) {
  return args.size() == 1 && (args[0] == "--help" || args[0] == "-h");
}

int Main(int argc, char** argv) {
  if (argc < 2) {
    PrintOverview(stderr);
    return kExitUsage;
  }
  const std::string name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    PrintOverview(stdout);
    return kExitOk;
  }
  for (const Command& command : kCommands) {
    if (name != command.name) continue;
    Args args(argv + 2, argv + argc);
    if (WantsHelp(args)) {
      std::fputs(command.usage, stdout);
      return kExitOk;
    }
    return command.run(args);
  }
  return UsageError(nullptr, "unknown command '" + name + "'");
}

}  // namespace veskar_cli

int main(int argc, char** argv) { return veskar_cli::Main(argc, argv); }
