#ifndef VESKAR_TESTING_FAKE_KMP_CONTROL_H_
#define VESKAR_TESTING_FAKE_KMP_CONTROL_H_

// Control interface of the fake IPSec key-management toolkit. A test that
// links the fake (libkmpapi32.so) gets the same instance the library loads,
// scripts each entry's status and the certificates here, and reads the
// journal of calls.

#include <cstddef>

// The fake exports its control functions; tests import them.
#if !defined(_WIN32)
#define FAKE_KMP_CONTROL __attribute__((visibility("default")))
#elif defined(FAKE_TOOLKIT_BUILDING)
#define FAKE_KMP_CONTROL __declspec(dllexport)
#else
#define FAKE_KMP_CONTROL __declspec(dllimport)
#endif

extern "C" {

// Forgets the script and the journal (open sessions are still counted).
FAKE_KMP_CONTROL void FakeKmp_Reset();
// Status that `entry` ("IKMPCreateUser", "IKMPLogin", ...) returns from now on.
FAKE_KMP_CONTROL void FakeKmp_SetStatus(const char* entry, int status);
// Bytes IKMPGetMyVerifyCertificate puts into its three records (copied;
// null or 0 gives an empty record). The records are filled whatever the
// status, so a test can prove that a failed fetch is not used. The bytes stay
// the fake's and are overwritten at logout.
FAKE_KMP_CONTROL void FakeKmp_SetCertificates(const unsigned char* user, size_t user_length,
                                              const unsigned char* ca, size_t ca_length,
                                              const unsigned char* third, size_t third_length);
// Makes record `which` (0 user, 1 CA, 2 third) claim `count` bytes with a
// null address at the next fetches, as a broken toolkit might (0 undoes it).
FAKE_KMP_CONTROL void FakeKmp_SetRecordWithoutBytes(int which, unsigned int count);
// The journal: one line per call, in order, with the arguments. Texts are
// quoted with C escapes (\n, \r, \\, \", \xNN), so every byte shows. The
// IKMPCreateUser and IKMPLogin lines end with ini-bytes="...", the content of
// the INI file at that moment (ini-bytes=<unreadable> when it cannot be read).
FAKE_KMP_CONTROL const char* FakeKmp_Journal();
// Sessions IKMPLogin opened and IKMPLogout has not closed.
FAKE_KMP_CONTROL int FakeKmp_OpenSessions();

}  // extern "C"

#endif  // VESKAR_TESTING_FAKE_KMP_CONTROL_H_
