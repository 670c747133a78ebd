#ifndef VESKAR_TESTS_MODULE_TOOLKIT_SLOTS_H_
#define VESKAR_TESTS_MODULE_TOOLKIT_SLOTS_H_

#include <veskar/cms_agent.h>
#include <veskar/ipsec_agent.h>

#include <vector>

// One class-wide slot: the undecorated name the toolkit exports, and the
// address bound to it.
struct ToolkitSlot {
  const char* name;
  void* address;
};

// Reads the agents' protected class-wide slots and flags, in binding order.
struct CmsSlots : CQnEntCmsPMA {
  using Slot = ToolkitSlot;
  static int Loaded() { return m_gbLoaded; }
  static std::vector<Slot> All() {
    return {
        {"CMSQueryLogWarning", reinterpret_cast<void*>(m_gpCMSQueryLogWarning)},
        {"CMSQueryVersionNumber", reinterpret_cast<void*>(m_gpCMSQueryVersionNumber)},
        {"CMSLogin", reinterpret_cast<void*>(m_gpCMSLogin)},
        {"CMSLogout", reinterpret_cast<void*>(m_gpCMSLogout)},
        {"CMSRequestMyCertificate", reinterpret_cast<void*>(m_gpCMSRequestMyCertificate)},
        {"CMSRetrieveMyCertificate", reinterpret_cast<void*>(m_gpCMSRetrieveMyCertificate)},
        {"CMSCreateReqHdl", reinterpret_cast<void*>(m_gpCMSCreateReqHdl)},
        {"CMSReleaseReqHdl", reinterpret_cast<void*>(m_gpCMSReleaseReqHdl)},
        {"CMSSetReqAttrib", reinterpret_cast<void*>(m_gpCMSSetReqAttrib)},
        {"CMSCreateCertTempl", reinterpret_cast<void*>(m_gpCMSCreateCertTempl)},
        {"CMSReleaseCertTempl", reinterpret_cast<void*>(m_gpCMSReleaseCertTempl)},
        {"CMSSetCertFieldValue", reinterpret_cast<void*>(m_gpCMSSetCertFieldValue)},
        {"CMSReleaseBuffer", reinterpret_cast<void*>(m_gpCMSReleaseBuffer)},
        {"CMSReleaseKeyPair", reinterpret_cast<void*>(m_gpCMSReleaseKeyPair)},
        {"CMSGetLogString", reinterpret_cast<void*>(m_gpCMSGetLogString)},
        {"CMSLogToString", reinterpret_cast<void*>(m_gpCMSLogToString)},
        {"ENTGetEntErr", reinterpret_cast<void*>(m_gpENTGetEntErr)},
        {"ENTGetCertReqModStr", reinterpret_cast<void*>(m_gpENTGetCertReqModStr)},
        {"ENTGetProtectedData", reinterpret_cast<void*>(m_gpENTGetProtectedData)},
        {"ENTPutProtectedData", reinterpret_cast<void*>(m_gpENTPutProtectedData)},
    };
  }
};

struct IpsecSlots : CQnEntIPSecPMA {
  using Slot = ToolkitSlot;
  static int Loaded() { return m_gbLoaded; }
  static std::vector<Slot> All() {
    return {
        {"IKMPCreateUser", reinterpret_cast<void*>(m_gpIKMPCreateUser)},
        {"IKMPGetErrString", reinterpret_cast<void*>(m_gpIKMPGetErrString)},
        {"IKMPLogin", reinterpret_cast<void*>(m_gpIKMPLogin)},
        {"IKMPGetMyVerifyCertificate", reinterpret_cast<void*>(m_gpIKMPGetMyVerifyCertificate)},
        {"IKMPLogout", reinterpret_cast<void*>(m_gpIKMPLogout)},
        {"IKMPGetEPFName", reinterpret_cast<void*>(m_gpIKMPGetEPFName)},
    };
  }
};

#endif  // VESKAR_TESTS_MODULE_TOOLKIT_SLOTS_H_
