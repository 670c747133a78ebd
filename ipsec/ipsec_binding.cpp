#include <veskar/ipsec_agent.h>

#include <iterator>

#include "binding/binder.h"
#include "binding/toolkit_handles.h"

int CQnEntIPSecPMA::m_gbLoaded = 0;
#define VESKAR_DEFINE_SLOT(ret, name, bytes, params) \
  PFN_##name CQnEntIPSecPMA::m_gp##name = nullptr;
VESKAR_KMPAPI32_ENTRY_POINTS(VESKAR_DEFINE_SLOT)
#undef VESKAR_DEFINE_SLOT

VESKAR_KMPAPI32_ENTRY_POINTS(VESKAR_CHECK_ARGUMENT_BYTES)

int CQnEntIPSecPMA::LoadFunctions() {
  if (g_hKmpApi == nullptr) return 0;
  static const veskar::EntryBinding kTable[] = {VESKAR_KMPAPI32_ENTRY_POINTS(VESKAR_ENTRY_ROW)};
  return veskar::BindEntryPoints(g_hKmpApi, kTable, std::size(kTable),
                                 veskar::BindRule::kStopAtMissing);
}

void CQnEntIPSecPMA::Initialization() { veskar::UpdateLoadedFlag(&m_gbLoaded, LoadFunctions()); }
