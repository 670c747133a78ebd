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

/* The entry points, in the order the library binds them, defined once:
   X(return type, name, argument bytes, (parameters)). The argument bytes make
   the decorated name 32-bit Windows exports ("_CMSLogin@24"). From this list
   come the function-pointer types (PFN_CMSLogin), the prototypes a toolkit
   exports, the library's binding table and slots, and the export lists the
   build writes for toolkit modules. */
#define VESKAR_CMSAPI32_ENTRY_POINTS(X)                                                           \
  X(int, CMSQueryLogWarning, 4, (int status))                                                     \
  X(const char*, CMSQueryVersionNumber, 0, (void))                                                \
  X(int, CMSLogin, 24,                                                                            \
    (const char* version, CryptoLibrary crypto, const CMSBinaryData* credentials,                 \
     const char* ini_path, const char* reserved, void** login))                                   \
  X(int, CMSLogout, 4, (void** login))                                                            \
  X(int, CMSRequestMyCertificate, 16,                                                             \
    (void* const login, void* const cert_template, void* const request, int* reserved))           \
  X(int, CMSRetrieveMyCertificate, 20,                                                            \
    (void* const login, void* const request, KeyPair* key_pair, int* status,                      \
     CMSBinaryData* ca_certificate))                                                              \
  X(int, CMSCreateReqHdl, 12, (void* const login, CMSReqHdlType type, void** request))            \
  X(int, CMSReleaseReqHdl, 8, (void* const login, void** request))                                \
  X(int, CMSSetReqAttrib, 16,                                                                     \
    (void* const login, void* const request, CMSReqAttribType attribute,                          \
     const CMSAttribValue* value))                                                                \
  X(int, CMSCreateCertTempl, 8, (void* const login, void** cert_template))                        \
  X(int, CMSReleaseCertTempl, 8, (void* const login, void** cert_template))                       \
  X(int, CMSSetCertFieldValue, 16,                                                                \
    (void* const login, void* const cert_template, FieldName field, const CMSAttribValue* value)) \
  X(void, CMSReleaseBuffer, 4, (CMSBinaryData * buffer))                                          \
  X(int, CMSReleaseKeyPair, 4, (KeyPair * key_pair))                                              \
  X(void, CMSGetLogString, 8, (int status, CMSBinaryData* text))                                  \
  X(const char*, CMSLogToString, 4, (int status))                                                 \
  X(int, ENTGetEntErr, 8, (void* const login, CMSBinaryData* reason))                             \
  X(const char*, ENTGetCertReqModStr, 8, (void* const first, void* const second))                 \
  X(int, ENTGetProtectedData, 16,                                                                 \
    (const char* path, const char* label, const char* protection, CMSBinaryData* data))           \
  X(int, ENTPutProtectedData, 16,                                                                 \
    (const char* path, const char* label, const char* protection, const CMSBinaryData* data))

VESKAR_CMSAPI32_ENTRY_POINTS(VESKAR_TOOLKIT_DECLARE_TYPE)
VESKAR_CMSAPI32_ENTRY_POINTS(VESKAR_TOOLKIT_DECLARE_EXPORT)

#ifdef __cplusplus
}
#endif

#endif /* VESKAR_TOOLKIT_CMSAPI32_H_ */
