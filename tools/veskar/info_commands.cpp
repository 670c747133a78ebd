// Commands that describe the library: services, messages, version.

#include <veskar/services.h>
#include <veskar/toolkit/cmsapi32.h>
#include <veskar/toolkit/kmpapi32.h>
#include <veskar/veskar.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "command.h"
#include "os.h"

namespace veskar_cli {

#define VESKAR_ENTRY_NAME(ret, name, bytes, params) \
  {#name, VESKAR_TOOLKIT_DECORATED_NAME(name, bytes)},

// The platform's file name for a toolkit, as the build sets it:
// "libcmsapi32.so", or "cmsapi32.dll" on Windows.
#define VESKAR_TOOLKIT_FILE(name) VESKAR_TOOLKIT_FILE_PREFIX name VESKAR_TOOLKIT_FILE_SUFFIX

// Each with every entry point the library binds, from the toolkits' ABI
// headers.
const Toolkit kToolkits[2] = {
    {veskar::kServiceIpsec,
     "IPSec key management",
     VESKAR_TOOLKIT_FILE("kmpapi32"),
     {VESKAR_KMPAPI32_ENTRY_POINTS(VESKAR_ENTRY_NAME)}},
    {veskar::kServiceCms,
     "CMS enrollment",
     VESKAR_TOOLKIT_FILE("cmsapi32"),
     {VESKAR_CMSAPI32_ENTRY_POINTS(VESKAR_ENTRY_NAME)}},
};

const Toolkit& ToolkitOf(int bit) { return bit == kToolkits[0].bit ? kToolkits[0] : kToolkits[1]; }

namespace {

constexpr unsigned int kHighestMessageNumber = 65535;

void Explain(const Toolkit& toolkit, int mask) {
  // The library opened the toolkit at start-up; only that copy is looked at.
  std::string path;
  std::string missing;
  if (!InspectLoadedToolkit(toolkit, &path, &missing)) {
    std::printf("  %d %s: not available: %s was not loaded (%s)\n", toolkit.bit, toolkit.service,
                toolkit.file, WhyNotLoaded(toolkit.file).c_str());
    const std::string folder = StandInFolder(toolkit.file);
    if (folder.empty()) return;
    std::string advice = StandInAdvice(folder);
    for (size_t at = advice.find('\n'); at != std::string::npos; at = advice.find('\n', at + 1)) {
      advice.insert(at + 1, "      ");
    }
    std::printf("      the stand-in is in %s%s%s\n", folder.c_str(), advice.empty() ? "" : "; ",
                advice.c_str());
    return;
  }
  if (!(mask & toolkit.bit)) {
    std::printf("  %d %s: not available, although %s is loaded\n", toolkit.bit, toolkit.service,
                path.c_str());
  } else if (missing.empty()) {
    std::printf("  %d %s: available, loaded from %s\n", toolkit.bit, toolkit.service, path.c_str());
  } else {
    std::printf("  %d %s: not usable: %s lacks %s; every request fails with %d\n", toolkit.bit,
                toolkit.service, path.c_str(), missing.c_str(), veskar::kMsgServiceNotAvailable);
  }
}

int RunServices(const Options& /*options*/) {
  const int mask = GetAvaliableServices();
  std::printf("service mask: %d\n", mask);
  std::printf("  %d Netscape certificate server: available\n", veskar::kServiceNetscape);
  for (const Toolkit& toolkit : kToolkits) Explain(toolkit, mask);
  return kExitOk;
}

std::string Escaped(const char* text) {
  std::string out;
  for (const char* p = text; *p != '\0'; ++p) {
    out += *p == '\n' ? "\\n" : *p == '\r' ? "\\r" : std::string(1, *p);
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
  std::istringstream lines(text);
  std::string indented;
  for (std::string line; std::getline(lines, line);) indented += "  " + line + "\n";
  return indented;
}

int RunMessages(const Options& options) {
  const Args& args = options.operands();
  CString text;
  if (args.size() == 1) {
    long number = 0;
    if (!ParseNumber(args[0], 0, kHighestMessageNumber, &number)) {
      return UsageError("messages", "'" + args[0] + "' is not a message number");
    }
    if (!text.LoadString(static_cast<unsigned int>(number))) {
      return Failure("messages", "no message " + std::to_string(number));
    }
    std::printf("%s\n", Escaped(text).c_str());
    return kExitOk;
  }
  for (unsigned int number = 1; number <= kHighestMessageNumber; ++number) {
    if (!text.LoadString(number)) continue;
    std::printf("%u\t%s%s\n", number, Escaped(text).c_str(),
                number == veskar::kMsgIniTemplate
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

const Verb kServicesVerb = {
    "services",
    RunServices,
    {0, "takes no arguments"},
    "usage: veskar services\n",
    "Prints the service mask and what each bit means: Netscape (1, always), IPSec\n"
    "key management (2, when " VESKAR_TOOLKIT_FILE("kmpapi32") " loads) and CMS enrollment (4,\n"
    "when " VESKAR_TOOLKIT_FILE("cmsapi32") " loads). For each toolkit it says whether the\n"
    "library found it on the loader's search path (" VESKAR_LOADER_SEARCH "),\n"
    "which file it loaded, and which entry points that file lacks: a toolkit that\n"
    "lacks any still shows in the mask, but its agent refuses every request (51000).\n"};

const Verb kMessagesVerb = {
    "messages",
    RunMessages,
    {1, "takes at most one message number"},
    "usage: veskar messages [NUMBER]\n",
    "Prints every message of the message table as 'NUMBER<TAB>TEXT', or the\n"
    "text of one message. Line breaks inside a text are shown as \\n. Message\n"
    "42157 is not a failure but the template of the INI file the library writes\n"
    "for the CMS toolkit; the list marks it so, after a second TAB.\n"};

const Verb kVersionVerb = {
    "version",
    RunVersion,
    {0, "takes no arguments"},
    "usage: veskar version\n",
    "Prints the version record the command was built with, then the file of the\n"
    "library actually loaded and the version record kept in that file, which\n"
    "differ when the loader found another copy of the library.\n"};

}  // namespace veskar_cli
