#ifndef VESKAR_TESTS_IPSEC_IPSEC_TEST_SUPPORT_H_
#define VESKAR_TESTS_IPSEC_IPSEC_TEST_SUPPORT_H_

// Shared by the IPSec agent tests: a private temporary directory per test,
// and readers of the fake toolkit's journal.

#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <veskar/veskar.h>

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "testing/fake_kmp_control.h"

namespace ipsec_test {

constexpr char kManager[] = "mgr.example";
constexpr char kServer[] = "dir.example";
// The INI file the agent writes for kManager and kServer, as the fake's
// journal quotes it.
constexpr char kIniQuoted[] =
    "[Entrust Settings]\\nManager=mgr.example+709\\nServer=dir.example+389\\n"
    "ClientType=Heavy\\nSigningKey=DSA";

using CallList = std::vector<std::string>;
const CallList kLoginAndFetch = {"IKMPLogin", "IKMPGetMyVerifyCertificate", "IKMPLogout"};

inline std::vector<std::string> JournalLines() {
  std::vector<std::string> lines;
  std::istringstream in(FakeKmp_Journal());
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The entry names of the journal, in call order.
inline std::vector<std::string> Calls() {
  std::vector<std::string> calls;
  for (const std::string& line : JournalLines()) calls.push_back(line.substr(0, line.find(' ')));
  return calls;
}

// The value of `key=` in a journal line, without its quotes (escapes kept);
// "<missing>" when the line has no such key.
inline std::string Field(const std::string& line, const std::string& key) {
  const size_t at = line.find(" " + key + "=");
  if (at == std::string::npos) return "<missing>";
  size_t pos = at + key.size() + 2;
  if (pos < line.size() && line[pos] == '"') {
    std::string value;
    for (++pos; pos < line.size() && line[pos] != '"'; ++pos) {
      value += line[pos];
      if (line[pos] == '\\' && pos + 1 < line.size()) value += line[++pos];
    }
    return value;
  }
  return line.substr(pos, line.find(' ', pos) - pos);
}

inline std::vector<unsigned char> Bytes(const char* text) {
  return std::vector<unsigned char>(text, text + std::char_traits<char>::length(text));
}

// Stands for a CA certificate an earlier request stored in a record.
inline unsigned char earlier_ca[] = {'O', 'L', 'D'};

struct TestRecord : CQnPMCrtUsrEntIPSec {
  using CQnPMCrtUsrEntIPSec::CQnPMCrtUsrEntIPSec;
  void PresetCa(unsigned char* ca, unsigned int length) {
    m_pRawCACert = ca;
    m_nRawCACertLen = length;
  }
  void PresetEarlierCa() { PresetCa(earlier_ca, sizeof earlier_ca); }
};

inline TestRecord Record(const char* password, const char* profile, const char* auth_code,
                         const char* ref_num, const char* manager = kManager,
                         const char* server = kServer) {
  return TestRecord("label", manager, server, password, profile, auth_code, ref_num);
}

inline void SetCertificates(const char* user, const char* ca, const char* third) {
  FakeKmp_SetCertificates(reinterpret_cast<const unsigned char*>(user), std::strlen(user),
                          reinterpret_cast<const unsigned char*>(ca), std::strlen(ca),
                          reinterpret_cast<const unsigned char*>(third), std::strlen(third));
}

inline std::vector<unsigned char> CaOf(CQnPMCrtUsrEntIPSec& record) {
  unsigned int length = 0;
  const unsigned char* ca = record.GetRawCACertificate(length);
  return ca == nullptr ? std::vector<unsigned char>() : std::vector<unsigned char>(ca, ca + length);
}

// What every failed request must leave: no output, the record's earlier CA
// certificate, exactly `calls` made, no session open and an empty TMPDIR.
inline void ExpectFailureLeftNothing(const unsigned char* certificate, unsigned int length,
                                     TestRecord& record, const CallList& calls,
                                     const ScopedTempDir& tmp) {
  EXPECT_EQ(certificate, nullptr);
  EXPECT_EQ(length, 0u);
  unsigned int ca_length = 0;
  EXPECT_EQ(record.GetRawCACertificate(ca_length), earlier_ca);
  EXPECT_EQ(ca_length, sizeof earlier_ca);
  EXPECT_EQ(Calls(), calls);
  EXPECT_EQ(FakeKmp_OpenSessions(), 0);
  EXPECT_EQ(tmp.Files(), CallList());
}

}  // namespace ipsec_test

#endif  // VESKAR_TESTS_IPSEC_IPSEC_TEST_SUPPORT_H_
