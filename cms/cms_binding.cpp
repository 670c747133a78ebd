#include <veskar/cms_agent.h>

#include <iterator>

#include "binding/binder.h"
#include "binding/toolkit_handles.h"

int CQnEntCmsPMA::m_gbLoaded = 0;
#define VESKAR_DEFINE_SLOT(ret, name, bytes, params) PFN_##name CQnEntCmsPMA::m_gp##name = nullptr;
VESKAR_CMSAPI32_ENTRY_POINTS(VESKAR_DEFINE_SLOT)
#undef VESKAR_DEFINE_SLOT

VESKAR_CMSAPI32_ENTRY_POINTS(VESKAR_CHECK_ARGUMENT_BYTES)

int CQnEntCmsPMA::LoadFunctions() {
  if (g_hCmsApi == nullptr) return 0;
  static const veskar::EntryBinding kTable[] = {VESKAR_CMSAPI32_ENTRY_POINTS(VESKAR_ENTRY_ROW)};
  return veskar::BindEntryPoints(g_hCmsApi, kTable, std::size(kTable),
                                 veskar::BindRule::kLookUpAll);
}

// The flag is computed first and stored once, so a request running on another
// thread never sees it pass through 0 while an agent is being constructed.
void CQnEntCmsPMA::Initialization() { veskar::UpdateLoadedFlag(&m_gbLoaded, LoadFunctions()); }
