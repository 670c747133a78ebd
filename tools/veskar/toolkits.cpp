// The toolkits the library loads, with the entry points each must export,
// from the lists in the toolkits' ABI headers.

#include "toolkits.h"

#include <veskar/services.h>
#include <veskar/toolkit/cmsapi32.h>
#include <veskar/toolkit/kmpapi32.h>

namespace veskar_cli {

#define VESKAR_ENTRY_NAME(ret, name, bytes, params) \
  {#name, VESKAR_TOOLKIT_DECORATED_NAME(name, bytes)},

// The platform's file name for a toolkit, as the build sets it:
// "libcmsapi32.so", or "cmsapi32.dll" on Windows.
#define VESKAR_TOOLKIT_FILE(name) VESKAR_TOOLKIT_FILE_PREFIX name VESKAR_TOOLKIT_FILE_SUFFIX

const Toolkit kToolkits[kToolkitCount] = {
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

}  // namespace veskar_cli
