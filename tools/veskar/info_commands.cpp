// Commands that describe the library: messages, version.

#include <veskar/veskar.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "command.h"

namespace veskar_cli {

const char kMessagesUsage[] =
    "usage: veskar messages [NUMBER]\n\n"
    "Prints every message of the message table as 'NUMBER<TAB>TEXT', or the\n"
    "text of one message. Line breaks inside a text are shown as \\n.\n";

const char kVersionUsage[] = "usage: veskar version\n\nPrints the library's version record.\n";

namespace {

constexpr unsigned int kHighestMessageNumber = 65535;

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
    if (text.LoadString(number)) std::printf("%u\t%s\n", number, Escaped(text).c_str());
  }
  return kExitOk;
}

int RunVersion(const Args& args) {
  if (!args.empty()) return UsageError("version", "takes no arguments");
  std::printf("%s %s\n", VESKAR_PRODUCT_NAME, VESKAR_PRODUCT_VERSION);
  std::printf("file version: %s\n", VESKAR_FILE_VERSION);
  std::printf("description: %s\n", VESKAR_FILE_DESCRIPTION);
  std::printf("internal name: %s\n", VESKAR_INTERNAL_NAME);
  std::printf("original file name: %s\n", VESKAR_ORIGINAL_FILENAME);
  return kExitOk;
}

}  // namespace veskar_cli
