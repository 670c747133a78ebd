#include "module/library_entry.h"

#include <veskar/cms_agent.h>
#include <veskar/ipsec_agent.h>

#include "binding/toolkit_handles.h"
#include "platform/env.h"

namespace veskar {
namespace {

void ProcessAttach() {
  // The message table is compiled in and the exported classes are visible
  // through the export macro, so there is no framework registration to make
  // here; on Windows the framework's extension-module registration comes
  // first and failing it fails the load.
  Env* env = CurrentEnv();
  g_hCmsApi = env->LoadModule("cmsapi32");
  if (g_hCmsApi != nullptr) CQnEntCmsPMA::Initialization();
  g_hKmpApi = env->LoadModule("kmpapi32");
  if (g_hKmpApi != nullptr) CQnEntIPSecPMA::Initialization();
}

// The slots and loaded flags are left as they are: nothing may call through
// them once the library is being unloaded.
void ProcessDetach() {
  Env* env = CurrentEnv();
  if (g_hCmsApi != nullptr) env->FreeModule(g_hCmsApi);
  g_hCmsApi = nullptr;
  if (g_hKmpApi != nullptr) env->FreeModule(g_hKmpApi);
  g_hKmpApi = nullptr;
}

}  // namespace

int LibraryEntry(void* /*instance*/, unsigned long reason) {
  switch (reason) {
    case kProcessAttach:
      ProcessAttach();
      return 1;
    case kProcessDetach:
      ProcessDetach();
      return 1;
    default:  // Threads: the library keeps no per-thread state.
      return 1;
  }
}

}  // namespace veskar
