// A CMS toolkit that does no work: every call succeeds at once, and
// retrieval hands out fixed certificates. For measuring the library's own
// overhead. It remembers the last protected-data path so a benchmark can
// remove the file an enrollment leaves.

#include <veskar/toolkit/cmsapi32.h>

#include <cstring>

#include "testing/fake_cms_control.h"

namespace {
unsigned char g_user_cert[1200];
unsigned char g_ca_cert[900];
char g_last_protected_path[4096];
int g_handle;
}  // namespace

extern "C" {

FAKE_CMS_CONTROL const char* NullCms_LastProtectedPath() { return g_last_protected_path; }

int VESKAR_TOOLKIT_CALL CMSQueryLogWarning(int) { return 0; }
const char* VESKAR_TOOLKIT_CALL CMSQueryVersionNumber(void) { return "NULL-CMS"; }
int VESKAR_TOOLKIT_CALL CMSLogin(const char*, CryptoLibrary, const CMSBinaryData*, const char*,
                                 const char*, void** login) {
  *login = &g_handle;
  return 0;
}
int VESKAR_TOOLKIT_CALL CMSLogout(void** login) {
  *login = nullptr;
  return 0;
}
int VESKAR_TOOLKIT_CALL CMSRequestMyCertificate(void* const, void* const, void* const, int*) {
  return 0;
}
int VESKAR_TOOLKIT_CALL CMSRetrieveMyCertificate(void* const, void* const, KeyPair* key_pair,
                                                 int* status, CMSBinaryData* ca) {
  key_pair->certificate = {sizeof g_user_cert, g_user_cert};
  *ca = {sizeof g_ca_cert, g_ca_cert};
  *status = 0;
  return 0;
}
int VESKAR_TOOLKIT_CALL CMSCreateReqHdl(void* const, CMSReqHdlType, void** request) {
  *request = &g_handle;
  return 0;
}
int VESKAR_TOOLKIT_CALL CMSReleaseReqHdl(void* const, void** request) {
  *request = nullptr;
  return 0;
}
int VESKAR_TOOLKIT_CALL CMSSetReqAttrib(void* const, void* const, CMSReqAttribType,
                                        const CMSAttribValue*) {
  return 0;
}
int VESKAR_TOOLKIT_CALL CMSCreateCertTempl(void* const, void** cert_template) {
  *cert_template = &g_handle;
  return 0;
}
int VESKAR_TOOLKIT_CALL CMSReleaseCertTempl(void* const, void** cert_template) {
  *cert_template = nullptr;
  return 0;
}
int VESKAR_TOOLKIT_CALL CMSSetCertFieldValue(void* const, void* const, FieldName,
                                             const CMSAttribValue*) {
  return 0;
}
void VESKAR_TOOLKIT_CALL CMSReleaseBuffer(CMSBinaryData*) {}
int VESKAR_TOOLKIT_CALL CMSReleaseKeyPair(KeyPair*) { return 0; }
void VESKAR_TOOLKIT_CALL CMSGetLogString(int, CMSBinaryData*) {}
const char* VESKAR_TOOLKIT_CALL CMSLogToString(int) { return ""; }
int VESKAR_TOOLKIT_CALL ENTGetEntErr(void* const, CMSBinaryData*) { return 0; }
const char* VESKAR_TOOLKIT_CALL ENTGetCertReqModStr(void* const, void* const) { return ""; }
int VESKAR_TOOLKIT_CALL ENTGetProtectedData(const char*, const char*, const char*,
                                            CMSBinaryData* data) {
  data->length = 0;
  data->data = nullptr;
  return 0;
}
int VESKAR_TOOLKIT_CALL ENTPutProtectedData(const char* path, const char*, const char*,
                                            const CMSBinaryData*) {
  std::strncpy(g_last_protected_path, path, sizeof g_last_protected_path - 1);
  return 0;
}

}  // extern "C"
