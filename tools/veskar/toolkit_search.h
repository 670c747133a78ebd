#ifndef VESKAR_TOOLS_VESKAR_TOOLKIT_SEARCH_H_
#define VESKAR_TOOLS_VESKAR_TOOLKIT_SEARCH_H_

#include <cstddef>
#include <string>
#include <vector>

namespace veskar_cli {

// An entry point's name, and the name 32-bit Windows exports it under.
struct EntryName {
  const char* plain;      // "CMSLogin"
  const char* decorated;  // "_CMSLogin@24"
};

// A toolkit the library loads by name.
struct Toolkit {
  int bit;                              // its bit in the service mask
  const char* service;                  // what it provides, for people
  const char* file;                     // as the library asks the loader for it
  std::vector<EntryName> entry_points;  // every entry point the library binds
};

constexpr std::size_t kToolkitCount = 2;
// The toolkits, IPSec key management (bit 2) first, then CMS enrollment (4).
extern const Toolkit kToolkits[kToolkitCount];

// Set in the environment to anything but "" or "0", it keeps the command
// from using the stand-in toolkits built or installed with it, as
// --no-standins does.
constexpr char kNoStandInsVariable[] = "VESKAR_NO_STANDINS";

// Lets the command use the stand-in toolkits it was built or installed with
// when a toolkit is missing from the loader's search path. The library loads
// the toolkits before main runs, so the search path must be right when the
// process starts: when the service mask lacks a toolkit whose stand-in is
// found (and not yet on LD_LIBRARY_PATH), this appends that stand-in's folder
// to LD_LIBRARY_PATH and executes the program again with the same `argv`,
// once. A toolkit already on the search path keeps precedence. Returns when
// nothing was to be done, the search is turned off (`disabled`, or
// kNoStandInsVariable set), or the program could not be executed again.
void UseStandInToolkits(char** argv, bool disabled);

// The folder holding the stand-in `file` ("libcmsapi32.so"), or "" when none
// is there. Looks in the install folder relative to the executable first,
// then the build tree (only for a command running from it), then the
// configured install folder. Each stand-in has a folder of its own.
std::string StandInFolder(const char* file);

// True when `loaded_path` (the file a toolkit was loaded from) is the
// stand-in `file` built or installed with the command.
bool IsStandIn(const std::string& loaded_path, const char* file);

// True when the toolkit `file` the library loaded is the stand-in.
bool StandInLoaded(const char* file);

// The file behind a loaded module, as an absolute path when it can be had.
std::string LoadedFrom(void* module);

// The copy of `file` the library loaded, reached without loading another,
// or null when none is loaded. Release it with ReleaseToolkit.
void* FindLoadedToolkit(const char* file);
void ReleaseToolkit(void* module);

// Whether `module` exports `entry` under the name the platform gives it.
bool ExportsEntry(void* module, const EntryName& entry);

// Why the loader does not give us `file`, in its own words.
std::string WhyNotLoaded(const char* file);

}  // namespace veskar_cli

#endif  // VESKAR_TOOLS_VESKAR_TOOLKIT_SEARCH_H_
