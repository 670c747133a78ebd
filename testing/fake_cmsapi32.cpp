// A scriptable fake CMS client toolkit. It journals every call with its
// arguments, returns the statuses and data a test scripts through
// fake_cms_control.h, and stores protected data in memory. Built in variants:
// defining FAKE_OMIT_<entry> leaves that entry point out of the library.

#include <veskar/toolkit/cmsapi32.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "testing/fake_cms_control.h"
#include "testing/unload_log.h"

namespace {

__attribute__((constructor)) void OnLoad() { FakeToolkitLog("load", "cmsapi32"); }
__attribute__((destructor)) void OnUnload() { FakeToolkitLog("unload", "cmsapi32"); }

using Bytes = std::vector<unsigned char>;

struct State {
  std::map<std::string, int> status;
  std::map<int, int> attrib_status;
  std::map<int, const char*> log_text;
  std::map<int, std::string> log_text_storage;
  std::vector<int> warnings;
  int reason_code = 0;
  std::string reason_text;
  Bytes user_cert;
  Bytes ca_cert;
  int get_protected_failure = 0;
  unsigned int length_without_bytes = 0;
  std::map<std::string, Bytes> protected_items;
  Bytes protected_result;
  std::string journal;
  std::string journal_copy;
  int outstanding = 0;
  int next_handle = 1;
};

// The fake may be called from several threads (one login each).
std::recursive_mutex g_mutex;
State& S() {
  static State* state = new State;
  return *state;
}

int StatusOf(const char* entry) {
  auto it = S().status.find(entry);
  return it == S().status.end() ? 0 : it->second;
}

void Log(const std::string& line) { S().journal += line + "\n"; }

std::string Ptr(const void* p) {
  if (p == nullptr) return "null";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%p", p);
  return buf;
}

std::string Str(const char* s) { return s == nullptr ? "null" : std::string("\"") + s + "\""; }

std::string Hex(const unsigned char* p, size_t n) {
  std::string out;
  char buf[4];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(buf, sizeof buf, "%02x", p[i]);
    out += buf;
  }
  return out;
}

std::string ValueText(const CMSAttribValue* v) {
  if (v == nullptr) return "value=null";
  std::string text = "kind=" + std::to_string(v->kind) + " len=" + std::to_string(v->length);
  if (v->value == nullptr) return text + " ptr=null";
  if (v->kind == CMS_DATA_TEXT) {
    return text + " text=\"" + std::string(reinterpret_cast<const char*>(v->value), v->length) +
           "\"";
  }
  if (v->kind == CMS_DATA_INT32 && v->length == 4) {
    int32_t value;
    std::memcpy(&value, v->value, 4);
    return text + " int=" + std::to_string(value);
  }
  return text + " hex=" + Hex(v->value, v->length);
}

void* NewHandle(const char* kind) {
  char* handle = new char[32];
  std::snprintf(handle, 32, "%s#%d", kind, S().next_handle++);
  ++S().outstanding;
  return handle;
}

std::string HandleName(const void* handle) {
  return handle == nullptr ? "null" : std::string(static_cast<const char*>(handle));
}

void FreeHandle(void** handle) {
  if (handle == nullptr || *handle == nullptr) return;
  delete[] static_cast<char*>(*handle);
  *handle = nullptr;
  --S().outstanding;
}

void HandOut(const Bytes& bytes, CMSBinaryData* out) {
  out->length = static_cast<uint32_t>(bytes.size());
  out->data = nullptr;
  if (!bytes.empty()) {
    out->data = new unsigned char[bytes.size()];
    std::memcpy(out->data, bytes.data(), bytes.size());
    ++S().outstanding;
  }
}

void TakeBack(CMSBinaryData* data) {
  if (data->data != nullptr) {
    delete[] data->data;
    --S().outstanding;
  }
  data->data = nullptr;
  data->length = 0;
}

std::string ReadFile(const char* path) {
  std::ifstream in(path ? path : "", std::ios::binary);
  if (!in) return "<unreadable>";
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

}  // namespace

extern "C" {

void FakeCms_Reset() {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  const int outstanding = S().outstanding;
  const int next_handle = S().next_handle;
  S() = State();
  S().outstanding = outstanding;
  S().next_handle = next_handle;
}
void FakeCms_SetStatus(const char* entry, int status) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  S().status[entry] = status;
}
void FakeCms_SetAttribStatus(int attribute, int status) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  S().attrib_status[attribute] = status;
}
void FakeCms_SetWarning(int status) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  S().warnings.push_back(status);
}
void FakeCms_SetLogText(int status, const char* text) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  if (text == nullptr) {
    S().log_text[status] = nullptr;
  } else {
    S().log_text_storage[status] = text;
    S().log_text[status] = S().log_text_storage[status].c_str();
  }
}
void FakeCms_SetReason(int code, const char* text) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  S().reason_code = code;
  S().reason_text = text ? text : "";
}
void FakeCms_SetCertificates(const unsigned char* user, size_t user_length, const unsigned char* ca,
                             size_t ca_length) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  S().user_cert.assign(user, user + (user ? user_length : 0));
  S().ca_cert.assign(ca, ca + (ca ? ca_length : 0));
}
void FakeCms_SetLengthWithoutBytes(unsigned int length) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  S().length_without_bytes = length;
}
void FakeCms_SetGetProtectedFailure(int status) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  S().get_protected_failure = status;
}
const char* FakeCms_Journal() {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  S().journal_copy = S().journal;
  return S().journal_copy.c_str();
}
int FakeCms_OutstandingBuffers() {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  return S().outstanding;
}

#ifndef FAKE_OMIT_CMSQueryLogWarning
int VESKAR_TOOLKIT_CALL CMSQueryLogWarning(int status) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  Log("CMSQueryLogWarning " + std::to_string(status));
  for (int warning : S().warnings) {
    if (warning == status) return 1;
  }
  return 0;
}
#endif

#ifndef FAKE_OMIT_CMSQueryVersionNumber
const char* VESKAR_TOOLKIT_CALL CMSQueryVersionNumber(void) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  Log("CMSQueryVersionNumber");
  return "FAKE-CMS 1.0";
}
#endif

#ifndef FAKE_OMIT_CMSLogin
int VESKAR_TOOLKIT_CALL CMSLogin(const char* version, CryptoLibrary crypto,
                                 const CMSBinaryData* credentials, const char* ini_path,
                                 const char* reserved, void** login) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  Log("CMSLogin " + Str(version) + " crypto=" + std::to_string(crypto) +
      " credentials=" + Ptr(credentials) + " reserved=" + Str(reserved));
  const std::string ini = ReadFile(ini_path);
  Log("ini-bytes " + Hex(reinterpret_cast<const unsigned char*>(ini.data()), ini.size()));
  const int status = StatusOf("CMSLogin");
  if (status == 0) *login = NewHandle("login");
  return status;
}
#endif

#ifndef FAKE_OMIT_CMSLogout
int VESKAR_TOOLKIT_CALL CMSLogout(void** login) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  Log("CMSLogout " + HandleName(login ? *login : nullptr));
  FreeHandle(login);
  return 0;
}
#endif

#ifndef FAKE_OMIT_CMSRequestMyCertificate
int VESKAR_TOOLKIT_CALL CMSRequestMyCertificate(void* const login, void* const cert_template,
                                                void* const request, int* reserved) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  Log("CMSRequestMyCertificate " + HandleName(login) + " " + HandleName(cert_template) + " " +
      HandleName(request) + " " + Ptr(reserved));
  return StatusOf("CMSRequestMyCertificate");
}
#endif

#ifndef FAKE_OMIT_CMSRetrieveMyCertificate
int VESKAR_TOOLKIT_CALL CMSRetrieveMyCertificate(void* const login, void* const request,
                                                 KeyPair* key_pair, int* status_out,
                                                 CMSBinaryData* ca_certificate) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  std::string words;
  for (uint32_t word : key_pair->words) words += std::to_string(word) + ",";
  Log("CMSRetrieveMyCertificate " + HandleName(login) + " " + HandleName(request) +
      " keypair-words=" + words + " kind=" + std::to_string(key_pair->kind) +
      " cert=" + std::to_string(key_pair->certificate.length) + "/" +
      Ptr(key_pair->certificate.data) + " status-out=" + (status_out ? "set" : "null"));
  const int status = StatusOf("CMSRetrieveMyCertificate");
  if (status == 0) {
    HandOut(S().user_cert, &key_pair->certificate);
    HandOut(S().ca_cert, ca_certificate);
    if (S().length_without_bytes != 0) {
      TakeBack(&key_pair->certificate);
      key_pair->certificate.length = S().length_without_bytes;
    }
    *status_out = 0;
  }
  return status;
}
#endif

#ifndef FAKE_OMIT_CMSCreateReqHdl
int VESKAR_TOOLKIT_CALL CMSCreateReqHdl(void* const login, CMSReqHdlType type, void** request) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  Log("CMSCreateReqHdl " + HandleName(login) + " type=" + std::to_string(type));
  const int status = StatusOf("CMSCreateReqHdl");
  if (status == 0) *request = NewHandle("request");
  return status;
}
#endif

#ifndef FAKE_OMIT_CMSReleaseReqHdl
int VESKAR_TOOLKIT_CALL CMSReleaseReqHdl(void* const login, void** request) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  Log("CMSReleaseReqHdl " + HandleName(login) + " " + HandleName(request ? *request : nullptr));
  FreeHandle(request);
  return 0;
}
#endif

#ifndef FAKE_OMIT_CMSSetReqAttrib
int VESKAR_TOOLKIT_CALL CMSSetReqAttrib(void* const login, void* const request,
                                        CMSReqAttribType attribute, const CMSAttribValue* value) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  Log("CMSSetReqAttrib " + HandleName(login) + " " + HandleName(request) +
      " attr=" + std::to_string(attribute) + " " + ValueText(value));
  auto it = S().attrib_status.find(attribute);
  return it != S().attrib_status.end() ? it->second : StatusOf("CMSSetReqAttrib");
}
#endif

#ifndef FAKE_OMIT_CMSCreateCertTempl
int VESKAR_TOOLKIT_CALL CMSCreateCertTempl(void* const login, void** cert_template) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  Log("CMSCreateCertTempl " + HandleName(login));
  const int status = StatusOf("CMSCreateCertTempl");
  if (status == 0) *cert_template = NewHandle("template");
  return status;
}
#endif

#ifndef FAKE_OMIT_CMSReleaseCertTempl
int VESKAR_TOOLKIT_CALL CMSReleaseCertTempl(void* const login, void** cert_template) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  Log("CMSReleaseCertTempl " + HandleName(login) + " " +
      HandleName(cert_template ? *cert_template : nullptr));
  FreeHandle(cert_template);
  return 0;
}
#endif

#ifndef FAKE_OMIT_CMSSetCertFieldValue
int VESKAR_TOOLKIT_CALL CMSSetCertFieldValue(void* const login, void* const cert_template,
                                             FieldName field, const CMSAttribValue* value) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  Log("CMSSetCertFieldValue " + HandleName(login) + " " + HandleName(cert_template) +
      " field=" + std::to_string(field) + " " + ValueText(value));
  return StatusOf("CMSSetCertFieldValue");
}
#endif

#ifndef FAKE_OMIT_CMSReleaseBuffer
void VESKAR_TOOLKIT_CALL CMSReleaseBuffer(CMSBinaryData* buffer) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  Log("CMSReleaseBuffer len=" + std::to_string(buffer ? buffer->length : 0));
  if (buffer != nullptr) TakeBack(buffer);
}
#endif

#ifndef FAKE_OMIT_CMSReleaseKeyPair
int VESKAR_TOOLKIT_CALL CMSReleaseKeyPair(KeyPair* key_pair) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  Log("CMSReleaseKeyPair len=" + std::to_string(key_pair ? key_pair->certificate.length : 0));
  if (key_pair != nullptr) TakeBack(&key_pair->certificate);
  return 0;
}
#endif

#ifndef FAKE_OMIT_CMSGetLogString
void VESKAR_TOOLKIT_CALL CMSGetLogString(int status, CMSBinaryData*) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  Log("CMSGetLogString " + std::to_string(status));
}
#endif

#ifndef FAKE_OMIT_CMSLogToString
const char* VESKAR_TOOLKIT_CALL CMSLogToString(int status) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  Log("CMSLogToString " + std::to_string(status));
  auto it = S().log_text.find(status);
  if (it != S().log_text.end()) return it->second;
  S().log_text_storage[status] = "fake status " + std::to_string(status);
  return S().log_text_storage[status].c_str();
}
#endif

#ifndef FAKE_OMIT_ENTGetEntErr
int VESKAR_TOOLKIT_CALL ENTGetEntErr(void* const login, CMSBinaryData* reason) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  Log("ENTGetEntErr " + HandleName(login) + " len=" + std::to_string(reason ? reason->length : 0));
  if (S().reason_code == 0 || reason == nullptr || reason->data == nullptr || reason->length == 0) {
    return 0;
  }
  const size_t n = std::min<size_t>(S().reason_text.size(), reason->length - 1);
  std::memcpy(reason->data, S().reason_text.data(), n);
  reason->data[n] = '\0';
  return S().reason_code;
}
#endif

#ifndef FAKE_OMIT_ENTGetCertReqModStr
const char* VESKAR_TOOLKIT_CALL ENTGetCertReqModStr(void* const, void* const) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  Log("ENTGetCertReqModStr");
  return "";
}
#endif

#ifndef FAKE_OMIT_ENTGetProtectedData
int VESKAR_TOOLKIT_CALL ENTGetProtectedData(const char* path, const char* label,
                                            const char* protection, CMSBinaryData* data) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  Log("ENTGetProtectedData " + Str(path) + " " + Str(label) + " " + Str(protection));
  if (S().get_protected_failure != 0) return S().get_protected_failure;
  auto it = S().protected_items.find(std::string(path) + "|" + label + "|" + protection);
  if (it == S().protected_items.end()) {
    data->length = 0;
    data->data = nullptr;
    return 1;
  }
  // Stays the toolkit's: valid until the next call.
  S().protected_result = it->second;
  data->length = static_cast<uint32_t>(S().protected_result.size());
  data->data = S().protected_result.empty() ? nullptr : S().protected_result.data();
  return 0;
}
#endif

#ifndef FAKE_OMIT_ENTPutProtectedData
int VESKAR_TOOLKIT_CALL ENTPutProtectedData(const char* path, const char* label,
                                            const char* protection, const CMSBinaryData* data) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  Log("ENTPutProtectedData " + Str(path) + " " + Str(label) + " " + Str(protection) + " len=" +
      std::to_string(data->length) + " hex=" + Hex(data->data, data->data ? data->length : 0));
  const int status = StatusOf("ENTPutProtectedData");
  if (status == 0) {
    S().protected_items[std::string(path) + "|" + label + "|" + protection] =
        Bytes(data->data, data->data + (data->data ? data->length : 0));
  }
  return status;
}
#endif

}  // extern "C"
