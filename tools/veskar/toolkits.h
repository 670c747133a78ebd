#ifndef VESKAR_TOOLS_VESKAR_TOOLKITS_H_
#define VESKAR_TOOLS_VESKAR_TOOLKITS_H_

#include <cstddef>
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
// The toolkits, IPSec key management first, then CMS enrollment.
extern const Toolkit kToolkits[kToolkitCount];

// The toolkit of the service bit `bit` (veskar::kServiceIpsec or kServiceCms).
const Toolkit& ToolkitOf(int bit);

// Set in the environment to anything but "" or "0", it keeps the command
// from using the stand-in toolkits built or installed with it, as
// --no-standins does.
constexpr char kNoStandInsVariable[] = "VESKAR_NO_STANDINS";

}  // namespace veskar_cli

#endif  // VESKAR_TOOLS_VESKAR_TOOLKITS_H_
