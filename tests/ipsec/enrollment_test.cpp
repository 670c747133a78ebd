// IPSec enrollment as a host drives it, against the fake toolkit that the
// library bound when it loaded. Every test runs in a TMPDIR of its own, which
// must be empty afterwards, and must leave no toolkit session open.

#include <gtest/gtest.h>
#include <veskar/veskar.h>

#include <climits>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "ipsec/ipsec_test_support.h"
#include "testing/fake_kmp_control.h"

namespace ipsec_test {
namespace {

// Lets a test see that the extended error string is never written.
struct ProbeAgent : CQnEntIPSecPMA {
  void SetExtendedError(const char* text) { m_strExtendedError = text; }
};

class IpsecEnrollment : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tmp_.ok());
    ASSERT_EQ(GetAvaliableServices() & 2, 2) << "the fake toolkit was not loaded";
    FakeKmp_Reset();
    SetCertificates("USER-CERT", "CA-CERT", "THIRD");
    agent_.SetExtendedError("untouched");
  }

  void TearDown() override {
    EXPECT_EQ(tmp_.Files(), CallList()) << "left in " << tmp_.path();
    EXPECT_EQ(FakeKmp_OpenSessions(), 0);
    EXPECT_EQ(agent_.GetExtendedErrorString(), "untouched");
    for (unsigned char* buffer : owned_) delete[] buffer;
  }

  // Calls the agent with outputs that are not yet cleared; takes over every
  // buffer handed out.
  int Enroll(CQnPMCrtUsrData* record) {
    static unsigned char stale;
    certificate_ = &stale;
    length_ = 99;
    auto* ipsec = dynamic_cast<CQnPMCrtUsrEntIPSec*>(record);
    unsigned int ignored = 0;
    unsigned char* ca_before = ipsec ? ipsec->GetRawCACertificate(ignored) : nullptr;
    const int result = agent_.CreateUserCertificate(&certificate_, length_, record);
    if (certificate_ != &stale && certificate_ != nullptr) owned_.insert(certificate_);
    if (ipsec != nullptr) {
      unsigned char* ca = ipsec->GetRawCACertificate(ignored);
      if (ca != ca_before && ca != nullptr) owned_.insert(ca);
    }
    return result;
  }

  void ExpectNoOutput() {
    EXPECT_EQ(certificate_, nullptr);
    EXPECT_EQ(length_, 0u);
  }

  std::vector<unsigned char> Certificate() const {
    return certificate_ == nullptr
               ? std::vector<unsigned char>()
               : std::vector<unsigned char>(certificate_, certificate_ + length_);
  }

  ScopedTempDir tmp_;
  ProbeAgent agent_;
  unsigned char* certificate_ = nullptr;
  unsigned int length_ = 0;
  std::set<unsigned char*> owned_;
};

TEST_F(IpsecEnrollment, CreatesLogsInFetchesAndLogsOutWithExactArguments) {
  CQnPMCrtUsrEntIPSec record = Record("pw", "alice.epf", "AUTH-1", "0042");
  ASSERT_EQ(Enroll(&record), 0);
  EXPECT_EQ(Certificate(), Bytes("USER-CERT"));
  EXPECT_EQ(CaOf(record), Bytes("CA-CERT"));
  EXPECT_EQ(agent_.GetErrorString(), "");

  std::vector<std::string> lines = JournalLines();
  ASSERT_EQ(lines.size(), 4u);
  const std::string ini = Field(lines[0], "ini");
  EXPECT_EQ(ini.rfind(tmp_.path() + "/ENT", 0), 0u) << ini;
  EXPECT_EQ(ini.substr(ini.size() - 4), ".ini");
  // The same file for both calls; the session the log-in opened is the one
  // fetched from and closed.
  const size_t session_at = lines[2].find(' ') + 1;
  const std::string session =
      lines[2].substr(session_at, lines[2].find(' ', session_at) - session_at);
  EXPECT_EQ(session.rfind("login#", 0), 0u) << session;
  for (std::string& line : lines) {
    for (const std::string& varying : {ini, session}) {
      for (size_t at; (at = line.find(varying)) != std::string::npos;) {
        line.replace(at, varying.size(), varying == ini ? "<ini>" : "<session>");
      }
    }
  }
  const std::string ini_bytes = std::string("ini-bytes=\"") + kIniQuoted + "\"";
  const std::string create =
      "IKMPCreateUser ref=42 auth=\"AUTH-1\" password=\"pw\" ini=\"<ini>\" " +
      std::string("profile=\"alice.epf\" flags=1 ") + ini_bytes;
  const std::string login = "IKMPLogin handle-out=set profile=\"alice.epf\" password=\"pw\" " +
                            std::string("ini=\"<ini>\" options={0,1000,1} ") + ini_bytes;
  const std::string fetch =
      "IKMPGetMyVerifyCertificate <session> which=1 user=0/null ca=0/null third=0/null";
  EXPECT_EQ(lines, CallList({create, login, fetch, "IKMPLogout <session>"}));
}

struct FailureCase {
  const char* name;
  const char* password;
  const char* profile;
  const char* auth_code;
  const char* ref_num;
  const char* failing_entry;  // scripted to return 3, or null
  int record_without_bytes;   // -1, or the record that claims bytes it lacks
  int message;
  const char* text;
  CallList calls;  // a log-out among them means the session was closed
};

// Each case runs on a record that already holds a CA certificate, to show
// that a failure leaves it alone.
TEST_F(IpsecEnrollment, FailuresReportTheirMessageCloseTheSessionAndRemoveTheIniFile) {
  const FailureCase cases[] = {
      {"password checked first",
       "",
       "",
       "A",
       "1",
       nullptr,
       -1,
       53004,
       "Failed to Logon to Entrust. Please enter password.",
       {}},
      {"profile name missing",
       "pw",
       "",
       "A",
       "1",
       nullptr,
       -1,
       53003,
       "Failed to Logon to Entrust. Please enter Profile filename.",
       {}},
      {"user creation fails",
       "pw",
       "p.epf",
       "A",
       "1",
       "IKMPCreateUser",
       -1,
       53002,
       "Failed to Request User Certificate from Entrust Authority",
       {"IKMPCreateUser"}},
      {"log-in fails after creation",
       "pw",
       "p.epf",
       "A",
       "1",
       "IKMPLogin",
       -1,
       53006,
       "Failed to Logon to Entrust/Authority.",
       {"IKMPCreateUser", "IKMPLogin"}},
      {"log-in fails",
       "pw",
       "p.epf",
       "",
       "",
       "IKMPLogin",
       -1,
       53006,
       "Failed to Logon to Entrust/Authority.",
       {"IKMPLogin"}},
      // The fake fills the records even when it fails: none of it may be used.
      {"fetch fails", "pw", "p.epf", "", "", "IKMPGetMyVerifyCertificate", -1, 53007,
       "Failed to Retrieve Certificate from Entrust/Authority.", kLoginAndFetch},
      {"user record without bytes", "pw", "p.epf", "", "", nullptr, 0, 53007,
       "Failed to Retrieve Certificate from Entrust/Authority.", kLoginAndFetch},
      {"CA record without bytes", "pw", "p.epf", "", "", nullptr, 1, 53007,
       "Failed to Retrieve Certificate from Entrust/Authority.", kLoginAndFetch},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeKmp_Reset();
    SetCertificates("USER-CERT", "CA-CERT", "THIRD");
    if (c.failing_entry != nullptr) FakeKmp_SetStatus(c.failing_entry, 3);
    if (c.record_without_bytes >= 0) FakeKmp_SetRecordWithoutBytes(c.record_without_bytes, 16);
    TestRecord record = Record(c.password, c.profile, c.auth_code, c.ref_num);
    record.PresetEarlierCa();

    EXPECT_EQ(Enroll(&record), c.message);
    EXPECT_EQ(agent_.GetErrorString(), c.text);
    ExpectFailureLeftNothing(certificate_, length_, record, c.calls, tmp_);
  }

  // A success after all these failures leaves the error string empty.
  FakeKmp_Reset();
  SetCertificates("USER-CERT", "CA-CERT", "THIRD");
  TestRecord record = Record("pw", "p.epf", "", "");
  EXPECT_EQ(Enroll(&record), 0);
  EXPECT_EQ(agent_.GetErrorString(), "");
}

// Without both codes there is nothing to create: the password and profile
// name are not examined and an empty password goes to the log-in.
TEST_F(IpsecEnrollment, CreationIsSkippedUnlessBothCodesAreGiven) {
  const char* const codes[][2] = {{"AUTH", ""}, {"", "42"}, {"", ""}};
  for (const auto& code : codes) {
    SCOPED_TRACE(std::string("auth=") + code[0] + " ref=" + code[1]);
    FakeKmp_Reset();
    TestRecord record = Record("", "", code[0], code[1]);
    EXPECT_EQ(Enroll(&record), 0);
    EXPECT_EQ(Calls(), kLoginAndFetch);
    const std::vector<std::string> lines = JournalLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(Field(lines[0], "password"), "");
    EXPECT_EQ(Field(lines[0], "profile"), "");
  }
}

TEST_F(IpsecEnrollment, ReferenceNumberIsReadLikeAtolAndClampedToInt) {
  const struct {
    const char* text;
    long long expected;
  } cases[] = {
      {"0042", 42},
      {"12ab", 12},
      {"no digits", 0},
      {"  -7", -7},
      {"\t\n+15", 15},
      {"-", 0},
      {"- 5", 0},
      {"--5", 0},
      {"2147483647", INT_MAX},
      {"2147483648", INT_MAX},
      {"99999999999999999999999999", INT_MAX},
      {"-2147483648", INT_MIN},
      {"-2147483649", INT_MIN},
      {"-99999999999999999999999999", INT_MIN},
      {"000000000000000000000000007", 7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    FakeKmp_Reset();
    TestRecord record = Record("pw", "p.epf", "AUTH", c.text);
    EXPECT_EQ(Enroll(&record), 0);
    const std::vector<std::string> lines = JournalLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(Calls().front(), "IKMPCreateUser");
    EXPECT_EQ(Field(lines[0], "ref"), std::to_string(c.expected));
  }
}

TEST_F(IpsecEnrollment, EmptyCertificatesAreReturnedAsEmpty) {
  TestRecord record = Record("pw", "p.epf", "", "");

  // No user certificate: success with no buffer.
  SetCertificates("", "CA-CERT", "");
  ASSERT_EQ(Enroll(&record), 0);
  ExpectNoOutput();
  EXPECT_EQ(CaOf(record), Bytes("CA-CERT"));

  // No CA certificate: the length becomes 0 and the pointer stays.
  record.PresetEarlierCa();
  SetCertificates("USER-CERT", "", "");
  ASSERT_EQ(Enroll(&record), 0);
  EXPECT_EQ(Certificate(), Bytes("USER-CERT"));
  unsigned int ca_length = 99;
  EXPECT_EQ(record.GetRawCACertificate(ca_length), earlier_ca);
  EXPECT_EQ(ca_length, 0u);
}

// The service is refused before anything is written or called.
TEST_F(IpsecEnrollment, UnusableRequestsAreRefusedWith51000) {
  CQnPMCrtUsrEntCms cms_record;
  CQnPMCrtUsrData base_reporting_ipsec(2);
  TestRecord valid = Record("pw", "p.epf", "", "");
  const struct {
    const char* name;
    CQnPMCrtUsrData* record;
    bool null_certificate;
  } cases[] = {
      {"no record", nullptr, false},
      {"CMS record", &cms_record, false},
      {"base record reporting type 2", &base_reporting_ipsec, false},
      {"no certificate pointer", &valid, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    agent_.SetExtendedError("untouched");
    if (c.null_certificate) {
      length_ = 99;
      EXPECT_EQ(agent_.CreateUserCertificate(nullptr, length_, c.record), 51000);
      EXPECT_EQ(length_, 0u);
    } else {
      EXPECT_EQ(Enroll(c.record), 51000);
      ExpectNoOutput();
    }
    EXPECT_EQ(agent_.GetErrorString(), "Certificate Service is not avaliable");
    EXPECT_EQ(Calls(), CallList());
    EXPECT_EQ(tmp_.Files(), CallList());
  }
}

// A location that would add lines to the INI file, or a temporary directory
// that cannot take it, gives 53005 and nothing else.
TEST_F(IpsecEnrollment, IniFileThatCannotBeWrittenGives53005) {
  const std::string missing_dir = tmp_.path() + "/missing";
  const struct {
    const char* name;
    const char* manager;
    const char* server;
    const char* tmpdir;
  } cases[] = {
      {"line feed in manager", "mgr\nInjected=1", kServer, nullptr},
      {"carriage return in server", kManager, "dir\rInjected=1", nullptr},
      {"no such temporary directory", kManager, kServer, missing_dir.c_str()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.tmpdir != nullptr) setenv("TMPDIR", c.tmpdir, 1);
    TestRecord record = Record("pw", "p.epf", "AUTH", "1", c.manager, c.server);
    EXPECT_EQ(Enroll(&record), 53005);
    setenv("TMPDIR", tmp_.path().c_str(), 1);
    ExpectNoOutput();
    EXPECT_EQ(agent_.GetErrorString(), "Failed to Create Entrust Client INI file");
    EXPECT_EQ(Calls(), CallList());
    EXPECT_EQ(tmp_.Files(), CallList());
  }
}

}  // namespace
}  // namespace ipsec_test
