// Commands that describe the library: messages, version.

#include <dlfcn.h>
#include <veskar/veskar.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "command.h"

namespace veskar_cli {

const char kMessagesUsage[] =
    "usage: veskar messages [NUMBER]\n\n"
    "Prints every message of the message table as 'NUMBER<TAB>TEXT', or the\n"
    "text of one message. Line breaks inside a text are shown as \\n. Message\n"
    "42157 is not a failure but the template of the INI file the library writes\n"
    "for the CMS toolkit; the list marks it so, after a second TAB.\n";

const char kVersionUsage[] =
    "usage: veskar version\n\n"
    "Prints the version record the command was built with, then the file of the\n"
    "library actually loaded and the version its name carries, which differ when\n"
    "the loader found another copy of the library.\n";

namespace {

constexpr unsigned int kHighestMessageNumber = 65535;
// The one entry of the table that is a file template, not a message.
constexpr unsigned int kIniTemplateMessage = 42157;

std::string Escaped(const char* text) {
  std::string out;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p == '\n') {
      out += "\\n";
    } else if (*p == '\r') {
      out += "\\r";
    } else {
      out += *p;
    }
  }
  return out;
}

}  // namespace

int RunMessages(const Args& args) {
  if (args.size() > 1) return UsageError("messages", "takes at most one message number");
  CString text;
  if (args.size() == 1) {
    char* end = nullptr;
    errno = 0;
    const unsigned long number = std::strtoul(args[0].c_str(), &end, 10);
    if (args[0].empty() || *end != '\0' || errno != 0 || number > kHighestMessageNumber ||
        args[0][0] == '-') {
      return UsageError("messages", "'" + args[0] + "' is not a message number");
    }
    if (!text.LoadString(static_cast<unsigned int>(number))) {
      std::fprintf(stderr, "veskar messages: no message %lu\n", number);
      return kExitFailure;
    }
    std::printf("%s\n", Escaped(text).c_str());
    return kExitOk;
  }
  for (unsigned int number = 1; number <= kHighestMessageNumber; ++number) {
    if (!text.LoadString(number)) continue;
    std::printf("%u\t%s%s\n", number, Escaped(text).c_str(),
                number == kIniTemplateMessage
                    ? "\t(the CMS toolkit's INI file template, not a failure)"
                    : "");
  }
  return kExitOk;
}

int RunVersion(const Args& args) {
  if (!args.empty()) return UsageError("version", "takes no arguments");
  std::printf("%s %s\n", VESKAR_PRODUCT_NAME, VESKAR_PRODUCT_VERSION);
  std::printf("command built with file version: %s\n", VESKAR_FILE_VERSION);
  std::printf("description: %s\n", VESKAR_FILE_DESCRIPTION);
  std::printf("internal name: %s\n", VESKAR_INTERNAL_NAME);
  std::printf("original file name: %s\n", VESKAR_ORIGINAL_FILENAME);
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&GetAvaliableServices), &info) == 0 ||
      info.dli_fname == nullptr) {
    std::printf("loaded library: unknown\n");
    return kExitOk;
  }
  char resolved[PATH_MAX];
  const std::string file = realpath(info.dli_fname, resolved) ? resolved : info.dli_fname;
  std::printf("loaded library: %s\n", file.c_str());
  // The installed file is named lib<name>.so.<file version>.
  const std::string name = file.substr(file.rfind('/') + 1);
  const size_t so = name.find(".so.");
  std::printf("loaded library's file version: %s\n", so == std::string::npos
                                                         ? "unknown (its name carries none)"
                                                         : name.substr(so + 4).c_str());
  return kExitOk;
}

}  // namespace veskar_cli
