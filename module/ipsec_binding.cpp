#include <veskar/ipsec_agent.h>

#include <iterator>

#include "module/binder.h"
#include "module/module_state.h"

int CQnEntIPSecPMA::m_gbLoaded = 0;
PFN_IKMPCreateUser CQnEntIPSecPMA::m_gpIKMPCreateUser = nullptr;
PFN_IKMPGetErrString CQnEntIPSecPMA::m_gpIKMPGetErrString = nullptr;
PFN_IKMPLogin CQnEntIPSecPMA::m_gpIKMPLogin = nullptr;
PFN_IKMPGetMyVerifyCertificate CQnEntIPSecPMA::m_gpIKMPGetMyVerifyCertificate = nullptr;
PFN_IKMPLogout CQnEntIPSecPMA::m_gpIKMPLogout = nullptr;
PFN_IKMPGetEPFName CQnEntIPSecPMA::m_gpIKMPGetEPFName = nullptr;

int CQnEntIPSecPMA::LoadFunctions() {
  if (g_hKmpApi == nullptr) return 0;
  static const veskar::EntryBinding kTable[] = {
      VESKAR_ENTRY("_IKMPCreateUser@24", m_gpIKMPCreateUser),
      VESKAR_ENTRY("_IKMPGetErrString@4", m_gpIKMPGetErrString),
      VESKAR_ENTRY("_IKMPLogin@28", m_gpIKMPLogin),
      VESKAR_ENTRY("_IKMPGetMyVerifyCertificate@20", m_gpIKMPGetMyVerifyCertificate),
      VESKAR_ENTRY("_IKMPLogout@4", m_gpIKMPLogout),
      VESKAR_ENTRY("_IKMPGetEPFName@8", m_gpIKMPGetEPFName),
  };
  return veskar::BindEntryPoints(g_hKmpApi, kTable, std::size(kTable),
                                 veskar::BindRule::kStopAtMissing);
}

void CQnEntIPSecPMA::Initialization() { veskar::UpdateLoadedFlag(&m_gbLoaded, LoadFunctions()); }
