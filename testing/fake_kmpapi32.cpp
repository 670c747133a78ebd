// A scriptable fake IPSec key-management toolkit. It journals every call with
// its arguments (the INI file's bytes included) and returns the statuses and
// certificates a test scripts through fake_kmp_control.h. Built in variants:
// defining FAKE_OMIT_<entry> leaves that entry point out of the library.

#include <veskar/toolkit/kmpapi32.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "testing/fake_kmp_control.h"
#include "testing/unload_log.h"

namespace {

__attribute__((constructor)) void OnLoad() { FakeToolkitLog("load", "kmpapi32"); }
__attribute__((destructor)) void OnUnload() { FakeToolkitLog("unload", "kmpapi32"); }

using Bytes = std::vector<unsigned char>;

struct State {
  std::map<std::string, int> status;
  Bytes scripted[3];
  // What the last fetch handed out; stays valid until the next logout, like
  // a toolkit's own buffers.
  Bytes handed_out[3];
  unsigned int count_without_bytes[3] = {0, 0, 0};
  std::string journal;
  std::string journal_copy;
};

// Open sessions by handle, with their journal names. They outlive
// FakeKmp_Reset, so a test can see one left open by an earlier test.
struct Sessions {
  std::map<const void*, std::string> names;
  int next = 1;
};

std::recursive_mutex g_mutex;
State& S() {
  static State* state = new State;
  return *state;
}
Sessions& Open() {
  static Sessions* sessions = new Sessions;
  return *sessions;
}

short StatusOf(const char* entry) {
  auto it = S().status.find(entry);
  return static_cast<short>(it == S().status.end() ? 0 : it->second);
}

void Log(const std::string& line) { S().journal += line + "\n"; }

std::string Quoted(const std::string& bytes) {
  std::string out = "\"";
  for (unsigned char c : bytes) {
    switch (c) {
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      default:
        if (c < 0x20 || c >= 0x7f) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\x%02x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

std::string Str(const char* s) { return s == nullptr ? "null" : Quoted(s); }

std::string IniBytes(const char* path) {
  std::ifstream in(path ? path : "", std::ios::binary);
  if (!in) return "ini-bytes=<unreadable>";
  std::ostringstream content;
  content << in.rdbuf();
  return "ini-bytes=" + Quoted(content.str());
}

std::string SessionName(const void* login) {
  if (login == nullptr) return "null";
  auto it = Open().names.find(login);
  return it == Open().names.end() ? "unknown" : it->second;
}

std::string RecordText(const IKMPBinaryData* record) {
  if (record == nullptr) return "null";
  return std::to_string(record->count) + "/" + (record->data == nullptr ? "null" : "set");
}

void HandOut(int which, IKMPBinaryData* record) {
  if (record == nullptr) return;
  if (S().count_without_bytes[which] != 0) {
    record->count = S().count_without_bytes[which];
    record->data = nullptr;
    return;
  }
  S().handed_out[which] = S().scripted[which];
  record->count = static_cast<uint32_t>(S().handed_out[which].size());
  record->data = S().handed_out[which].empty() ? nullptr : S().handed_out[which].data();
}

}  // namespace

extern "C" {

void FakeKmp_Reset() {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  S() = State();
}
void FakeKmp_SetStatus(const char* entry, int status) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  S().status[entry] = status;
}
void FakeKmp_SetCertificates(const unsigned char* user, size_t user_length, const unsigned char* ca,
                             size_t ca_length, const unsigned char* third, size_t third_length) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  S().scripted[0].assign(user, user + (user ? user_length : 0));
  S().scripted[1].assign(ca, ca + (ca ? ca_length : 0));
  S().scripted[2].assign(third, third + (third ? third_length : 0));
}
void FakeKmp_SetRecordWithoutBytes(int which, unsigned int count) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  if (which >= 0 && which < 3) S().count_without_bytes[which] = count;
}
const char* FakeKmp_Journal() {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  S().journal_copy = S().journal;
  return S().journal_copy.c_str();
}
int FakeKmp_OpenSessions() {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  return static_cast<int>(Open().names.size());
}

#ifndef FAKE_OMIT_IKMPCreateUser
short VESKAR_TOOLKIT_CALL IKMPCreateUser(int ref_num, const char* auth_code, const char* password,
                                         const char* ini_path, const char* profile, int flags) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  Log("IKMPCreateUser ref=" + std::to_string(ref_num) + " auth=" + Str(auth_code) +
      " password=" + Str(password) + " ini=" + Str(ini_path) + " profile=" + Str(profile) +
      " flags=" + std::to_string(flags) + " " + IniBytes(ini_path));
  return StatusOf("IKMPCreateUser");
}
#endif

#ifndef FAKE_OMIT_IKMPGetErrString
const char* VESKAR_TOOLKIT_CALL IKMPGetErrString(short status) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  Log("IKMPGetErrString " + std::to_string(status));
  return "fake";
}
#endif

#ifndef FAKE_OMIT_IKMPLogin
short VESKAR_TOOLKIT_CALL IKMPLogin(void** login, const char* profile, const char* password,
                                    const char* ini_path, isakmp_options_struct options) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  Log(std::string("IKMPLogin handle-out=") + (login ? "set" : "null") + " profile=" + Str(profile) +
      " password=" + Str(password) + " ini=" + Str(ini_path) + " options={" +
      std::to_string(options.option0) + "," + std::to_string(options.option1) + "," +
      std::to_string(options.option2) + "} " + IniBytes(ini_path));
  const short status = StatusOf("IKMPLogin");
  if (status == 0 && login != nullptr) {
    char* session = new char[1];
    Open().names[session] = "login#" + std::to_string(Open().next++);
    *login = session;
  }
  return status;
}
#endif

#ifndef FAKE_OMIT_IKMPGetMyVerifyCertificate
short VESKAR_TOOLKIT_CALL IKMPGetMyVerifyCertificate(void* const login, int which,
                                                     IKMPBinaryData* user_certificate,
                                                     IKMPBinaryData* ca_certificate,
                                                     IKMPBinaryData* extra) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  Log("IKMPGetMyVerifyCertificate " + SessionName(login) + " which=" + std::to_string(which) +
      " user=" + RecordText(user_certificate) + " ca=" + RecordText(ca_certificate) +
      " third=" + RecordText(extra));
  HandOut(0, user_certificate);
  HandOut(1, ca_certificate);
  HandOut(2, extra);
  return StatusOf("IKMPGetMyVerifyCertificate");
}
#endif

#ifndef FAKE_OMIT_IKMPLogout
short VESKAR_TOOLKIT_CALL IKMPLogout(void** login) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  const void* session = login ? *login : nullptr;
  Log("IKMPLogout " + SessionName(session));
  auto it = Open().names.find(session);
  if (it != Open().names.end()) {
    Open().names.erase(it);
    delete[] static_cast<const char*>(session);
  }
  // The toolkit's buffers die with the session: a copy taken too late shows.
  for (Bytes& bytes : S().handed_out) bytes.assign(bytes.size(), 0xDD);
  if (login != nullptr) *login = nullptr;
  return StatusOf("IKMPLogout");
}
#endif

#ifndef FAKE_OMIT_IKMPGetEPFName
short VESKAR_TOOLKIT_CALL IKMPGetEPFName(void* login, char** name) {
  std::lock_guard<std::recursive_mutex> lock(g_mutex);
  Log("IKMPGetEPFName " + SessionName(login));
  if (name != nullptr) *name = nullptr;
  return 0;
}
#endif

}  // extern "C"
