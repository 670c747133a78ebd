// veskar: a small host of the library, the way a person tries it from a shell.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "command.h"
#include "help_pages.h"
#include "os.h"

namespace veskar_cli {
namespace {

// After the commands' list in the overview, and in the manual page.
constexpr char kOverviewNotes[] =
    "\n'veskar help <command>' or 'veskar <command> --help' describes one command;\n"
    "'veskar --version' prints the version. Options take their value as\n"
    "'--name VALUE' or '--name=VALUE'.\n\n"
#ifdef _WIN32
    "The toolkits are the cmsapi32.dll and kmpapi32.dll the DLL search finds:\n"
    "veskar.exe's own folder first, where the stand-ins are installed, then the\n"
    "system's folders and PATH.\n";
#else
    "A toolkit the loader does not find (LD_LIBRARY_PATH, then the system's\n"
    "folders) is taken from the stand-ins built or installed with veskar;\n"
    "--no-standins, or VESKAR_NO_STANDINS=1 in the environment, turns that off.\n";
#endif

const Command kServices = {"services", "show which certificate services are available",
                           &kServicesVerb};
const Command kMessages = {"messages", "print the message table, or one message", &kMessagesVerb};
const Command kVersion = {"version", "print the library's version record", &kVersionVerb};
const Command kBase64 = {"base64", "encode bytes as Base64 text or decode it", &kBase64Verb};

// Pointers, as the families are defined in other files.
const Command* const kCommands[] = {
    &kServices,  &kMessages,      &kVersion,          &kBase64,
#ifdef VESKAR_HAVE_PKI_VERBS
    &kCaCommand, &kEnrollCommand, &kProtectedCommand,
#endif
};

std::string Label(const Option& option) {
  return std::string(option.name) + (option.value ? std::string(" ") + option.value : "");
}

// `help`'s lines after the first indented by `indent`.
std::string Indented(const char* help, const std::string& indent) {
  std::string text;
  for (const char* c = help; *c != '\0'; ++c) {
    text += *c;
    if (*c == '\n') text += indent;
  }
  return text;
}

// "Environment:" and the settings a verb reads, each name in one column and
// its meaning in the next.
std::string SettingsUsage(const Verb& verb) {
  std::vector<const Setting*> settings;
  size_t width = 0;
  for (const char* name : verb.settings) {
    const Setting* setting = SettingNamed(name);
    if (setting == nullptr) continue;
    settings.push_back(setting);
    width = std::max(width, SettingLabel(*setting).size());
  }
  if (settings.empty()) return "";
  const std::string indent(2 + width + 2, ' ');
  std::string text = "\nEnvironment:\n";
  for (const Setting* setting : settings) {
    const std::string label = "  " + SettingLabel(*setting);
    text += label + std::string(indent.size() - label.size(), ' ') +
            Indented(setting->help, indent) + "\n";
  }
  return text;
}

std::string Usage(const Verb& verb) {
  // The help text starts in one column, past the longest label that fits
  // (and no nearer than most verbs have it); a longer label has a line of
  // its own.
  constexpr size_t kLongestBesideHelp = 20;
  size_t width = 18;
  for (const Option& option : verb.options) {
    const size_t length = Label(option).size();
    if (length <= kLongestBesideHelp) width = std::max(width, length);
  }
  const std::string indent(2 + width + 2, ' ');
  std::string text = std::string(verb.synopsis) + "\n" + verb.about;
  if (!verb.options.empty()) text += "\n";
  for (const Option& option : verb.options) {
    const std::string label = "  " + Label(option);
    text += label.size() + 2 > indent.size()
                ? label + "\n" + indent
                : label + std::string(indent.size() - label.size(), ' ');
    text += Indented(option.help, indent) + "\n";
  }
  if (verb.notes != nullptr) text += std::string("\n") + verb.notes;
  return text + SettingsUsage(verb);
}

void PrintOverview(std::FILE* out) {
#ifdef _WIN32
  std::fputs("usage: veskar <command> [arguments]\n\ncommands:\n", out);
#else
  std::fprintf(out, "usage: veskar [%s] <command> [arguments]\n\ncommands:\n", kNoStandInsOption);
#endif
  for (const Command* command : kCommands) {
    std::fprintf(out, "  %-10s %s\n", command->name, command->summary);
  }
  std::fputs(kOverviewNotes, out);
}

// A family's usage: its verbs' synopses, then what it says of itself.
std::string FamilyUsage(const Command& command) {
  std::string text;
  for (const Verb* verb : command.verbs) {
    std::string synopsis = verb->synopsis;
    if (!text.empty()) synopsis.replace(0, 6, "      ");
    text += synopsis;
  }
  text += std::string("\n") + command.usage;
  for (const AbsentVerb& absent : command.absent) {
    text +=
        std::string("\n'veskar ") + command.name + " " + absent.word + "': " + absent.reason + "\n";
  }
  return text;
}

int Help(const std::string& usage) {
  std::fputs(usage.c_str(), stdout);
  return kExitOk;
}

int RunVerb(const Verb& verb, const Args& args) {
  // "--help" anywhere, or "-h" alone, asks for the usage.
  if ((args.size() == 1 && args[0] == "-h") ||
      std::find(args.begin(), args.end(), "--help") != args.end()) {
    return Help(Usage(verb));
  }
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
  for (const AbsentVerb& absent : command.absent) {
    if (args[0] != absent.word) continue;
    // Bad usage of this build, whatever the verb was given, --help too.
    Failure((std::string(command.name) + " " + absent.word).c_str(), absent.reason);
    return kExitUsage;
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
  // The same tables in other forms, for the build to install.
  if (name == kManPageOption || name == kCompletionOption) {
    if (words.size() > 1) return UsageError(nullptr, name + " takes no arguments");
    const std::vector<const Command*> commands(std::begin(kCommands), std::end(kCommands));
    const std::string text =
        name == kManPageOption ? ManPage(commands, kOverviewNotes) : BashCompletion(commands);
    std::fputs(text.c_str(), stdout);
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
  }
  for (const Command* command : kCommands) {
    if (name != command->name) continue;
    const Args args(words.begin() + 1, words.end());
    return command->verb ? RunVerb(*command->verb, args) : RunFamily(*command, args);
  }
  return UsageError(nullptr, "unknown command '" + name + "'");
}

}  // namespace

bool Options::Parse(const Args& args, const Verb& verb, std::string* error) {
  given_.clear();
  operands_.clear();
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (arg.empty() || arg[0] != '-' || arg == "-") {
      if (operands_.size() < verb.operands.most) {
        operands_.push_back(arg);
        continue;
      }
      *error =
          verb.operands.too_many ? verb.operands.too_many : "unexpected argument '" + arg + "'";
      return false;
    }
    // "--name=value" is "--name value" in one word.
    const size_t equals = arg.rfind("--", 0) == 0 ? arg.find('=') : std::string::npos;
    const bool joined = equals != std::string::npos;
    const std::string joined_value = joined ? arg.substr(equals + 1) : "";
    if (joined) arg.erase(equals);
    const auto known = std::find_if(verb.options.begin(), verb.options.end(),
                                    [&arg](const Option& option) { return arg == option.name; });
    if (known == verb.options.end()) {
      *error = "unknown option '" + arg + "'";
    } else if (Has(arg)) {
      *error = arg + " given twice";
    } else if (known->value == nullptr && joined) {
      *error = arg + " takes no value";
    } else if (known->value == nullptr) {
      given_[arg] = "";
      continue;
    } else if (joined ? joined_value.empty()
                      : i + 1 >= args.size() || args[i + 1].empty() ||
                            args[i + 1].rfind("--", 0) == 0) {
      *error = arg + " needs a value";
    } else {
      given_[arg] = joined ? joined_value : args[++i];
      continue;
    }
    return false;
  }
  return true;
}

std::string Options::Value(const std::string& name, const std::string& fallback) const {
  const auto found = given_.find(name);
  return found == given_.end() ? fallback : found->second;
}

const char* Options::FirstMissing(std::initializer_list<const char*> names) const {
  const auto missing =
      std::find_if(names.begin(), names.end(), [this](const char* name) { return !Has(name); });
  return missing == names.end() ? nullptr : *missing;
}

int UsageError(const char* command, const std::string& message) {
  const std::string name = command ? std::string(" ") + command : "";
  std::fprintf(stderr, "veskar%s: %s (see 'veskar%s --help')\n", name.c_str(), message.c_str(),
               name.c_str());
  return kExitUsage;
}

bool ParseNumber(const std::string& text, long lowest, long highest, long* value) {
  char* end = nullptr;
  errno = 0;
  *value = std::strtol(text.c_str(), &end, 10);
  return !text.empty() && *end == '\0' && errno == 0 && *value >= lowest && *value <= highest;
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
