#include <veskar/cms_agent.h>

#include <iterator>

#include "module/binder.h"
#include "module/module_state.h"

int CQnEntCmsPMA::m_gbLoaded = 0;
PFN_CMSQueryLogWarning CQnEntCmsPMA::m_gpCMSQueryLogWarning = nullptr;
PFN_CMSQueryVersionNumber CQnEntCmsPMA::m_gpCMSQueryVersionNumber = nullptr;
PFN_CMSLogin CQnEntCmsPMA::m_gpCMSLogin = nullptr;
PFN_CMSLogout CQnEntCmsPMA::m_gpCMSLogout = nullptr;
PFN_CMSRequestMyCertificate CQnEntCmsPMA::m_gpCMSRequestMyCertificate = nullptr;
PFN_CMSRetrieveMyCertificate CQnEntCmsPMA::m_gpCMSRetrieveMyCertificate = nullptr;
PFN_CMSCreateReqHdl CQnEntCmsPMA::m_gpCMSCreateReqHdl = nullptr;
PFN_CMSReleaseReqHdl CQnEntCmsPMA::m_gpCMSReleaseReqHdl = nullptr;
PFN_CMSSetReqAttrib CQnEntCmsPMA::m_gpCMSSetReqAttrib = nullptr;
PFN_CMSCreateCertTempl CQnEntCmsPMA::m_gpCMSCreateCertTempl = nullptr;
PFN_CMSReleaseCertTempl CQnEntCmsPMA::m_gpCMSReleaseCertTempl = nullptr;
PFN_CMSSetCertFieldValue CQnEntCmsPMA::m_gpCMSSetCertFieldValue = nullptr;
PFN_CMSReleaseBuffer CQnEntCmsPMA::m_gpCMSReleaseBuffer = nullptr;
PFN_CMSReleaseKeyPair CQnEntCmsPMA::m_gpCMSReleaseKeyPair = nullptr;
PFN_CMSGetLogString CQnEntCmsPMA::m_gpCMSGetLogString = nullptr;
PFN_CMSLogToString CQnEntCmsPMA::m_gpCMSLogToString = nullptr;
PFN_ENTGetEntErr CQnEntCmsPMA::m_gpENTGetEntErr = nullptr;
PFN_ENTGetCertReqModStr CQnEntCmsPMA::m_gpENTGetCertReqModStr = nullptr;
PFN_ENTGetProtectedData CQnEntCmsPMA::m_gpENTGetProtectedData = nullptr;
PFN_ENTPutProtectedData CQnEntCmsPMA::m_gpENTPutProtectedData = nullptr;

int CQnEntCmsPMA::LoadFunctions() {
  if (g_hCmsApi == nullptr) return 0;
  static const veskar::EntryBinding kTable[] = {
      VESKAR_ENTRY("_CMSQueryLogWarning@4", m_gpCMSQueryLogWarning),
      VESKAR_ENTRY("_CMSQueryVersionNumber@0", m_gpCMSQueryVersionNumber),
      VESKAR_ENTRY("_CMSLogin@24", m_gpCMSLogin),
      VESKAR_ENTRY("_CMSLogout@4", m_gpCMSLogout),
      VESKAR_ENTRY("_CMSRequestMyCertificate@16", m_gpCMSRequestMyCertificate),
      VESKAR_ENTRY("_CMSRetrieveMyCertificate@20", m_gpCMSRetrieveMyCertificate),
      VESKAR_ENTRY("_CMSCreateReqHdl@12", m_gpCMSCreateReqHdl),
      VESKAR_ENTRY("_CMSReleaseReqHdl@8", m_gpCMSReleaseReqHdl),
      VESKAR_ENTRY("_CMSSetReqAttrib@16", m_gpCMSSetReqAttrib),
      VESKAR_ENTRY("_CMSCreateCertTempl@8", m_gpCMSCreateCertTempl),
      VESKAR_ENTRY("_CMSReleaseCertTempl@8", m_gpCMSReleaseCertTempl),
      VESKAR_ENTRY("_CMSSetCertFieldValue@16", m_gpCMSSetCertFieldValue),
      VESKAR_ENTRY("_CMSReleaseBuffer@4", m_gpCMSReleaseBuffer),
      VESKAR_ENTRY("_CMSReleaseKeyPair@4", m_gpCMSReleaseKeyPair),
      VESKAR_ENTRY("_CMSGetLogString@8", m_gpCMSGetLogString),
      VESKAR_ENTRY("_CMSLogToString@4", m_gpCMSLogToString),
      VESKAR_ENTRY("_ENTGetEntErr@8", m_gpENTGetEntErr),
      VESKAR_ENTRY("_ENTGetCertReqModStr@8", m_gpENTGetCertReqModStr),
      VESKAR_ENTRY("_ENTGetProtectedData@16", m_gpENTGetProtectedData),
      VESKAR_ENTRY("_ENTPutProtectedData@16", m_gpENTPutProtectedData),
  };
  return veskar::BindEntryPoints(g_hCmsApi, kTable, std::size(kTable),
                                 veskar::BindRule::kLookUpAll);
}

// The flag is computed first and stored once, so a request running on another
// thread never sees it pass through 0 while an agent is being constructed.
void CQnEntCmsPMA::Initialization() { veskar::UpdateLoadedFlag(&m_gbLoaded, LoadFunctions()); }
