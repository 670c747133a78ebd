#ifndef VESKAR_TOOLKIT_CMSAPI32_H_
#define VESKAR_TOOLKIT_CMSAPI32_H_

/* The CMS client toolkit's interface as the library calls it: the records it
   exchanges, one function-pointer type per entry point, and the prototypes a
   toolkit implementation exports (undecorated C names). Only the members and
   values the library uses are given meaning here; the rest is the toolkit's. */

#include <veskar/toolkit/toolkit_abi.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Enumerations, kept to 32 bits. */
typedef enum CryptoLibrary {
  CMS_CRYPTO_LIBRARY_DEFAULT = 0,
  CMS_CRYPTO_LIBRARY_FORCE_32BIT = 0x7fffffff
} CryptoLibrary;

typedef enum CMSReqHdlType {
  CMS_REQ_HDL_DEFAULT = 0,
  CMS_REQ_HDL_FORCE_32BIT = 0x7fffffff
} CMSReqHdlType;

typedef enum CMSReqAttribType {
  CMS_REQ_ATTRIB_AUTH_CODE = 0,
  CMS_REQ_ATTRIB_REF_NUM = 1,
  CMS_REQ_ATTRIB_PUBLISH = 2,
  CMS_REQ_ATTRIB_PKCS10 = 15,
  CMS_REQ_ATTRIB_FORCE_32BIT = 0x7fffffff
} CMSReqAttribType;

typedef enum FieldName { CMS_FIELD_TEMPLATE = 0, CMS_FIELD_FORCE_32BIT = 0x7fffffff } FieldName;

/* Kind of a CMSAttribValue. */
typedef enum CMSDataType {
  CMS_DATA_TEXT = 1,  /* 8-bit characters, no terminator */
  CMS_DATA_INT32 = 2, /* 4 bytes, processor byte order */
  CMS_DATA_BYTES = 4, /* arbitrary bytes */
  CMS_DATA_FORCE_32BIT = 0x7fffffff
} CMSDataType;

/* A byte string: length, then pointer. */
typedef struct CMSBinaryData {
  uint32_t length;
  unsigned char* data;
} CMSBinaryData;

/* The key pair record. The library zeroes the five words, sets `kind` to 2
   and clears `certificate` before use; the toolkit returns the user's
   certificate in `certificate` and takes the record back through
   CMSReleaseKeyPair. */
typedef struct KeyPair {
  uint32_t words[5];
  uint32_t kind;
  CMSBinaryData certificate;
} KeyPair;

/* One attribute or field value; points at the caller's bytes. */
typedef struct CMSAttribValue {
  int32_t kind; /* a CMSDataType */
  uint32_t length;
  unsigned char* value;
} CMSAttribValue;

VESKAR_TOOLKIT_STATIC_ASSERT(sizeof(CryptoLibrary) == 4, "CryptoLibrary is 32 bits");
VESKAR_TOOLKIT_STATIC_ASSERT(sizeof(CMSReqHdlType) == 4, "CMSReqHdlType is 32 bits");
VESKAR_TOOLKIT_STATIC_ASSERT(sizeof(CMSReqAttribType) == 4, "CMSReqAttribType is 32 bits");
VESKAR_TOOLKIT_STATIC_ASSERT(sizeof(FieldName) == 4, "FieldName is 32 bits");
VESKAR_TOOLKIT_STATIC_ASSERT(offsetof(KeyPair, kind) == 20, "KeyPair kind at 20");
VESKAR_TOOLKIT_STATIC_ASSERT(offsetof(KeyPair, certificate) == 24, "KeyPair certificate at 24");
VESKAR_TOOLKIT_STATIC_ASSERT(offsetof(CMSAttribValue, length) == 4, "CMSAttribValue length at 4");
#if defined(VESKAR_TOOLKIT_X86_32)
VESKAR_TOOLKIT_STATIC_ASSERT(sizeof(CMSBinaryData) == 8, "CMSBinaryData is 8 bytes");
VESKAR_TOOLKIT_STATIC_ASSERT(offsetof(CMSBinaryData, data) == 4, "CMSBinaryData data at 4");
VESKAR_TOOLKIT_STATIC_ASSERT(sizeof(KeyPair) == 32, "KeyPair is 32 bytes");
VESKAR_TOOLKIT_STATIC_ASSERT(offsetof(KeyPair, certificate) + 4 == 28, "certificate bytes at 28");
VESKAR_TOOLKIT_STATIC_ASSERT(offsetof(CMSAttribValue, value) == 8, "CMSAttribValue value at 8");
#endif

/* Entry points, in the order the library binds them: a function-pointer
   type for the library's slots, and the prototype a toolkit exports. */
typedef int(VESKAR_TOOLKIT_CALL* PFN_CMSQueryLogWarning)(int status);
typedef const char*(VESKAR_TOOLKIT_CALL* PFN_CMSQueryVersionNumber)(void);
typedef int(VESKAR_TOOLKIT_CALL* PFN_CMSLogin)(const char* version, CryptoLibrary crypto,
                                               const CMSBinaryData* credentials,
                                               const char* ini_path, const char* reserved,
                                               void** login);
typedef int(VESKAR_TOOLKIT_CALL* PFN_CMSLogout)(void** login);
typedef int(VESKAR_TOOLKIT_CALL* PFN_CMSRequestMyCertificate)(void* const login,
                                                              void* const cert_template,
                                                              void* const request, int* reserved);
typedef int(VESKAR_TOOLKIT_CALL* PFN_CMSRetrieveMyCertificate)(void* const login,
                                                               void* const request,
                                                               KeyPair* key_pair, int* status,
                                                               CMSBinaryData* ca_certificate);
typedef int(VESKAR_TOOLKIT_CALL* PFN_CMSCreateReqHdl)(void* const login, CMSReqHdlType type,
                                                      void** request);
typedef int(VESKAR_TOOLKIT_CALL* PFN_CMSReleaseReqHdl)(void* const login, void** request);
typedef int(VESKAR_TOOLKIT_CALL* PFN_CMSSetReqAttrib)(void* const login, void* const request,
                                                      CMSReqAttribType attribute,
                                                      const CMSAttribValue* value);
typedef int(VESKAR_TOOLKIT_CALL* PFN_CMSCreateCertTempl)(void* const login, void** cert_template);
typedef int(VESKAR_TOOLKIT_CALL* PFN_CMSReleaseCertTempl)(void* const login, void** cert_template);
typedef int(VESKAR_TOOLKIT_CALL* PFN_CMSSetCertFieldValue)(void* const login,
                                                           void* const cert_template,
                                                           FieldName field,
                                                           const CMSAttribValue* value);
typedef void(VESKAR_TOOLKIT_CALL* PFN_CMSReleaseBuffer)(CMSBinaryData* buffer);
typedef int(VESKAR_TOOLKIT_CALL* PFN_CMSReleaseKeyPair)(KeyPair* key_pair);
typedef void(VESKAR_TOOLKIT_CALL* PFN_CMSGetLogString)(int status, CMSBinaryData* text);
typedef const char*(VESKAR_TOOLKIT_CALL* PFN_CMSLogToString)(int status);
typedef int(VESKAR_TOOLKIT_CALL* PFN_ENTGetEntErr)(void* const login, CMSBinaryData* reason);
typedef const char*(VESKAR_TOOLKIT_CALL* PFN_ENTGetCertReqModStr)(void* const first,
                                                                  void* const second);
typedef int(VESKAR_TOOLKIT_CALL* PFN_ENTGetProtectedData)(const char* path, const char* label,
                                                          const char* protection,
                                                          CMSBinaryData* data);
typedef int(VESKAR_TOOLKIT_CALL* PFN_ENTPutProtectedData)(const char* path, const char* label,
                                                          const char* protection,
                                                          const CMSBinaryData* data);

VESKAR_TOOLKIT_EXPORT int VESKAR_TOOLKIT_CALL CMSQueryLogWarning(int status);
VESKAR_TOOLKIT_EXPORT const char* VESKAR_TOOLKIT_CALL CMSQueryVersionNumber(void);
VESKAR_TOOLKIT_EXPORT int VESKAR_TOOLKIT_CALL CMSLogin(const char* version, CryptoLibrary crypto,
                                                       const CMSBinaryData* credentials,
                                                       const char* ini_path, const char* reserved,
                                                       void** login);
VESKAR_TOOLKIT_EXPORT int VESKAR_TOOLKIT_CALL CMSLogout(void** login);
VESKAR_TOOLKIT_EXPORT int VESKAR_TOOLKIT_CALL CMSRequestMyCertificate(void* const login,
                                                                      void* const cert_template,
                                                                      void* const request,
                                                                      int* reserved);
VESKAR_TOOLKIT_EXPORT int VESKAR_TOOLKIT_CALL
CMSRetrieveMyCertificate(void* const login, void* const request, KeyPair* key_pair, int* status,
                         CMSBinaryData* ca_certificate);
VESKAR_TOOLKIT_EXPORT int VESKAR_TOOLKIT_CALL CMSCreateReqHdl(void* const login, CMSReqHdlType type,
                                                              void** request);
VESKAR_TOOLKIT_EXPORT int VESKAR_TOOLKIT_CALL CMSReleaseReqHdl(void* const login, void** request);
VESKAR_TOOLKIT_EXPORT int VESKAR_TOOLKIT_CALL CMSSetReqAttrib(void* const login,
                                                              void* const request,
                                                              CMSReqAttribType attribute,
                                                              const CMSAttribValue* value);
VESKAR_TOOLKIT_EXPORT int VESKAR_TOOLKIT_CALL CMSCreateCertTempl(void* const login,
                                                                 void** cert_template);
VESKAR_TOOLKIT_EXPORT int VESKAR_TOOLKIT_CALL CMSReleaseCertTempl(void* const login,
                                                                  void** cert_template);
VESKAR_TOOLKIT_EXPORT int VESKAR_TOOLKIT_CALL CMSSetCertFieldValue(void* const login,
                                                                   void* const cert_template,
                                                                   FieldName field,
                                                                   const CMSAttribValue* value);
VESKAR_TOOLKIT_EXPORT void VESKAR_TOOLKIT_CALL CMSReleaseBuffer(CMSBinaryData* buffer);
VESKAR_TOOLKIT_EXPORT int VESKAR_TOOLKIT_CALL CMSReleaseKeyPair(KeyPair* key_pair);
VESKAR_TOOLKIT_EXPORT void VESKAR_TOOLKIT_CALL CMSGetLogString(int status, CMSBinaryData* text);
VESKAR_TOOLKIT_EXPORT const char* VESKAR_TOOLKIT_CALL CMSLogToString(int status);
VESKAR_TOOLKIT_EXPORT int VESKAR_TOOLKIT_CALL ENTGetEntErr(void* const login,
                                                           CMSBinaryData* reason);
VESKAR_TOOLKIT_EXPORT const char* VESKAR_TOOLKIT_CALL ENTGetCertReqModStr(void* const first,
                                                                          void* const second);
VESKAR_TOOLKIT_EXPORT int VESKAR_TOOLKIT_CALL ENTGetProtectedData(const char* path,
                                                                  const char* label,
                                                                  const char* protection,
                                                                  CMSBinaryData* data);
VESKAR_TOOLKIT_EXPORT int VESKAR_TOOLKIT_CALL ENTPutProtectedData(const char* path,
                                                                  const char* label,
                                                                  const char* protection,
                                                                  const CMSBinaryData* data);

#ifdef __cplusplus
}
#endif

#endif /* VESKAR_TOOLKIT_CMSAPI32_H_ */
