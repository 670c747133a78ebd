// Commands that describe the library: services, messages, version.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <veskar/veskar.h>

#include "command.h"

namespace veskar_cli {

const char kServicesUsage[] =
    "usage: veskar services\n\n"
    "Prints the service mask and the services it means: Netscape (1, always),\n"
    "IPSec key management (2, when libkmpapi32.so loads) and CMS (4, when\n"
    "libcmsapi32.so loads). The toolkits are found on the loader's search path.\n";

const char kMessagesUsage[] =
    "usage: veskar messages [NUMBER]\n\n"
    "Prints every message of the message table as 'NUMBER<TAB>TEXT', or the\n"
    "text of one message. Line breaks inside a text are shown as \\n.\n";

const char kVersionUsage[] =
    "usage: veskar version\n\nPrints the library's version record.\n";

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

int RunServices(const Args& args) {
  if (!args.empty()) return UsageError("services", "takes no arguments");
  const int mask = GetAvaliableServices();
  std::printf("service mask: %d\n", mask);
  std::printf("  1 Netscape certificate server: available\n");
  std::printf("  2 IPSec key management (kmpapi32): %s\n",
              (mask & 2) ? "available" : "not available");
  std::printf("  4 CMS enrollment (cmsapi32): %s\n", (mask & 4) ? "available" : "not available");
  return kExitOk;
}

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
