// An IPSec toolkit that stops after its first two entry points.

#include <veskar/toolkit/kmpapi32.h>

extern "C" {

short VESKAR_TOOLKIT_CALL IKMPCreateUser(int, const char*, const char*, const char*, const char*,
                                         int) {
  return 1;
}

const char* VESKAR_TOOLKIT_CALL IKMPGetErrString(short) { return "partial toolkit"; }

}  // extern "C"
