// Commands that describe the library: messages, version.

#include <veskar/veskar.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "command.h"
#include "options.h"
#include "os.h"

namespace veskar_cli {

namespace {

int RunMessages(const Options& options);
int RunVersion(const Options& options);

}  // namespace

const Verb kMessagesVerb = {
    "messages",
    RunMessages,
    "usage: veskar messages [NUMBER]\n",
    "Prints every message of the message table as 'NUMBER<TAB>TEXT', or the\n"
    "text of one message. Line breaks inside a text are shown as \\n. Message\n"
    "42157 is not a failure but the template of the INI file the library writes\n"
    "for the CMS toolkit; the list marks it so, after a second TAB.\n",
    {},
    nullptr,
    1,
    "takes at most one message number"};

const Verb kVersionVerb = {
    "version",
    RunVersion,
    "usage: veskar version\n",
    "Prints the version record the command was built with, then the file of the\n"
    "library actually loaded and the version record kept in that file, which\n"
    "differ when the loader found another copy of the library.\n",
    {},
    nullptr,
    0,
    "takes no arguments"};

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

// The version record the library keeps as text after a marker, each line
// indented; "" when the file holds none.
std::string VersionRecordIn(const std::string& path) {
  constexpr char kMarker[] = "VESKAR-VERSION-RECORD\n";
  std::ifstream in(path, std::ios::binary);
  const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t at = content.find(kMarker);
  if (at == std::string::npos) return "";
  const size_t start = at + sizeof kMarker - 1;
  const std::string text = content.substr(start, content.find('\0', start) - start);
  std::string indented;
  for (size_t line = 0; line < text.size();) {
    const size_t end = text.find('\n', line);
    const size_t stop = end == std::string::npos ? text.size() : end;
    indented += "  " + text.substr(line, stop - line) + "\n";
    line = stop + 1;
  }
  return indented;
}

int RunMessages(const Options& options) {
  const Args& args = options.operands();
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

int RunVersion(const Options& /*options*/) {
  std::printf("%s %s\n", VESKAR_PRODUCT_NAME, VESKAR_PRODUCT_VERSION);
  std::printf("command built with file version: %s\n", VESKAR_FILE_VERSION);
  std::printf("description: %s\n", VESKAR_FILE_DESCRIPTION);
  std::printf("internal name: %s\n", VESKAR_INTERNAL_NAME);
  std::printf("original file name: %s\n", VESKAR_ORIGINAL_FILENAME);
  const std::string file = LoadedLibraryFile();
  if (file.empty()) {
    std::printf("loaded library: unknown\n");
    return kExitOk;
  }
  std::printf("loaded library: %s\n", file.c_str());
  const std::string record = VersionRecordIn(file);
  if (!record.empty()) {
    std::printf("loaded library's version record:\n%s", record.c_str());
  } else {
    // An older library has no record; its installed name carries the file
    // version: lib<name>.so.<file version>.
    const std::string name = file.substr(file.rfind('/') + 1);
    const size_t so = name.find(".so.");
    std::printf("loaded library's version record: none in the file; its name says %s\n",
                so == std::string::npos ? "nothing" : name.substr(so + 4).c_str());
  }
  return kExitOk;
}

}  // namespace
}  // namespace veskar_cli
