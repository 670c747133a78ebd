#ifndef VESKAR_TESTING_FAKE_CMS_CONTROL_H_
#define VESKAR_TESTING_FAKE_CMS_CONTROL_H_

// Control interface of the fake CMS toolkit. A test that links the fake
// (libcmsapi32.so) gets the same instance the library loads, scripts each
// entry's behaviour here and reads the journal of calls.

#include <cstddef>

// The fake exports its control functions; tests import them.
#if !defined(_WIN32)
#define FAKE_CMS_CONTROL __attribute__((visibility("default")))
#elif defined(FAKE_TOOLKIT_BUILDING)
#define FAKE_CMS_CONTROL __declspec(dllexport)
#else
#define FAKE_CMS_CONTROL __declspec(dllimport)
#endif

extern "C" {

// Forgets the script and the journal.
FAKE_CMS_CONTROL void FakeCms_Reset();
// Status that `entry` ("CMSLogin", "CMSSetReqAttrib", ...) returns from now on.
FAKE_CMS_CONTROL void FakeCms_SetStatus(const char* entry, int status);
// Status CMSSetReqAttrib returns for one attribute number only.
FAKE_CMS_CONTROL void FakeCms_SetAttribStatus(int attribute, int status);
// CMSQueryLogWarning reports `status` as only a warning.
FAKE_CMS_CONTROL void FakeCms_SetWarning(int status);
// CMSLogToString(status) returns `text` (null: returns null).
FAKE_CMS_CONTROL void FakeCms_SetLogText(int status, const char* text);
// ENTGetEntErr returns `code` and writes `text` (code 0: no reason).
FAKE_CMS_CONTROL void FakeCms_SetReason(int code, const char* text);
// Certificates CMSRetrieveMyCertificate hands out (copied; null/0 = empty).
FAKE_CMS_CONTROL void FakeCms_SetCertificates(const unsigned char* user, size_t user_length,
                                              const unsigned char* ca, size_t ca_length);
// When nonzero, CMSRetrieveMyCertificate reports the user's certificate with
// this length but no bytes, as a faulty toolkit might.
FAKE_CMS_CONTROL void FakeCms_SetLengthWithoutBytes(unsigned int length);
// When nonzero, ENTGetProtectedData returns `status` without touching its record.
FAKE_CMS_CONTROL void FakeCms_SetGetProtectedFailure(int status);
// The journal: one line per call, in order, with the arguments.
FAKE_CMS_CONTROL const char* FakeCms_Journal();
// Number of toolkit buffers handed out and not yet released.
FAKE_CMS_CONTROL int FakeCms_OutstandingBuffers();

}  // extern "C"

#endif  // VESKAR_TESTING_FAKE_CMS_CONTROL_H_
