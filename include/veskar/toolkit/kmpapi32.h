#ifndef VESKAR_TOOLKIT_KMPAPI32_H_
#define VESKAR_TOOLKIT_KMPAPI32_H_

/* The IPSec key-management toolkit's interface as the library calls it: the
   records it exchanges, one function-pointer type per entry point, and the
   prototypes a toolkit implementation exports (undecorated C names). Every
   `short` status is 0 for success. */

#include <veskar/toolkit/toolkit_abi.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A byte string returned by the toolkit: count, then pointer. The bytes stay
   the toolkit's. */
typedef struct IKMPBinaryData {
  uint32_t count;
  unsigned char* data;
} IKMPBinaryData;

/* Log-in options, passed by value. The library passes {0, 1000, 1}. */
typedef struct isakmp_options_struct {
  int32_t option0;
  int32_t option1;
  int32_t option2;
} isakmp_options_struct;

VESKAR_TOOLKIT_STATIC_ASSERT(sizeof(isakmp_options_struct) == 12, "options are 12 bytes");
#if defined(VESKAR_TOOLKIT_X86_32)
VESKAR_TOOLKIT_STATIC_ASSERT(sizeof(IKMPBinaryData) == 8, "IKMPBinaryData is 8 bytes");
VESKAR_TOOLKIT_STATIC_ASSERT(offsetof(IKMPBinaryData, data) == 4, "IKMPBinaryData data at 4");
#endif

/* The entry points, in the order the library binds them, defined once; see
   VESKAR_CMSAPI32_ENTRY_POINTS for the form. The options record travels by
   value: 12 argument bytes. */
#define VESKAR_KMPAPI32_ENTRY_POINTS(X)                                              \
  X(short, IKMPCreateUser, 24,                                                       \
    (int ref_num, const char* auth_code, const char* password, const char* ini_path, \
     const char* profile, int flags))                                                \
  X(const char*, IKMPGetErrString, 4, (short status))                                \
  X(short, IKMPLogin, 28,                                                            \
    (void** login, const char* profile, const char* password, const char* ini_path,  \
     isakmp_options_struct options))                                                 \
  X(short, IKMPGetMyVerifyCertificate, 20,                                           \
    (void* const login, int which, IKMPBinaryData* user_certificate,                 \
     IKMPBinaryData* ca_certificate, IKMPBinaryData* extra))                         \
  X(short, IKMPLogout, 4, (void** login))                                            \
  X(short, IKMPGetEPFName, 8, (void* login, char** name))

VESKAR_KMPAPI32_ENTRY_POINTS(VESKAR_TOOLKIT_DECLARE_TYPE)
VESKAR_KMPAPI32_ENTRY_POINTS(VESKAR_TOOLKIT_DECLARE_EXPORT)

#ifdef __cplusplus
}
#endif

#endif /* VESKAR_TOOLKIT_KMPAPI32_H_ */
