// veskar services: the service mask, and for each toolkit whether the
// library found it, the file it was loaded from, and which entry points it
// lacks.

#include <veskar/veskar.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "command.h"
#include "options.h"
#include "os.h"
#include "toolkits.h"

namespace veskar_cli {
namespace {

int RunServices(const Options& options);

}  // namespace

const Verb kServicesVerb = {
    "services",
    RunServices,
    "usage: veskar services\n",
    "Prints the service mask and what each bit means: Netscape (1, always), IPSec\n"
    "key management (2, when libkmpapi32.so loads) and CMS enrollment (4, when\n"
    "libcmsapi32.so loads). For each toolkit it says whether the library found it\n"
    "on the loader's search path (LD_LIBRARY_PATH, then the system's), which file\n"
    "it loaded, and which entry points that file lacks: a toolkit that lacks any\n"
    "still shows in the mask, but its agent refuses every request (51000).\n",
    {},
    nullptr,
    0,
    "takes no arguments"};

namespace {

void Explain(const Toolkit& toolkit, int mask) {
  // The library opened the toolkit at start-up; only that copy is looked at.
  void* module = FindLoadedToolkit(toolkit.file);
  if (module == nullptr) {
    std::printf("  %d %s: not available: %s was not loaded (%s)\n", toolkit.bit, toolkit.service,
                toolkit.file, WhyNotLoaded(toolkit.file).c_str());
    const std::string folder = StandInFolder(toolkit.file);
    if (!folder.empty()) {
      std::printf(
          "      the stand-in is in %s; run with LD_LIBRARY_PATH=%s, or without\n"
          "      --no-standins and %s\n",
          folder.c_str(), folder.c_str(), kNoStandInsVariable);
    }
    return;
  }
  std::string missing;
  for (const EntryName& entry : toolkit.entry_points) {
    if (!ExportsEntry(module, entry.plain, entry.decorated))
      missing += std::string(missing.empty() ? "" : ", ") + entry.plain;
  }
  const std::string path = LoadedFrom(module);
  ReleaseToolkit(module);
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

}  // namespace
}  // namespace veskar_cli
