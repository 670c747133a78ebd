// A fake IPSec key-management toolkit. Built in variants: defining
// FAKE_OMIT_<entry> leaves that entry point out of the library.

#include <veskar/toolkit/kmpapi32.h>

#include "fakes/unload_log.h"

namespace {
__attribute__((constructor)) void OnLoad() { FakeToolkitLog("load", "kmpapi32"); }
__attribute__((destructor)) void OnUnload() { FakeToolkitLog("unload", "kmpapi32"); }
}  // namespace

extern "C" {

#ifndef FAKE_OMIT_IKMPCreateUser
short IKMPCreateUser(int, const char*, const char*, const char*, const char*, int) { return 0; }
#endif
#ifndef FAKE_OMIT_IKMPGetErrString
const char* IKMPGetErrString(short) { return "fake"; }
#endif
#ifndef FAKE_OMIT_IKMPLogin
short IKMPLogin(void** login, const char*, const char*, const char*, isakmp_options_struct) {
  static int session;
  *login = &session;
  return 0;
}
#endif
#ifndef FAKE_OMIT_IKMPGetMyVerifyCertificate
short IKMPGetMyVerifyCertificate(void* const, int, IKMPBinaryData*, IKMPBinaryData*,
                                 IKMPBinaryData*) {
  return 0;
}
#endif
#ifndef FAKE_OMIT_IKMPLogout
short IKMPLogout(void** login) {
  *login = nullptr;
  return 0;
}
#endif
#ifndef FAKE_OMIT_IKMPGetEPFName
short IKMPGetEPFName(void*, char**) { return 0; }
#endif

}  // extern "C"
