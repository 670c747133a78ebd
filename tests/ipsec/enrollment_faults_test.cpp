// IPSec enrollment under injected faults, linked with the library's internal
// copy: an INI file that cannot be removed (through the platform layer), an
// allocation that fails and a record that throws while it is read. The
// exception must reach the caller with the session closed, the INI file gone
// and no buffer handed out or leaked.

#include <gtest/gtest.h>
#include <unistd.h>
#include <veskar/veskar.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "ipsec/ipsec_test_support.h"
#include "module/library_entry.h"
#include "platform/env.h"
#include "testing/fake_kmp_control.h"

#if VESKAR_TEST_REPLACES_ARRAY_NEW
namespace {

// Array allocations of exactly this many bytes fail while it is nonzero.
std::atomic<std::size_t> g_failing_array_size{0};
// Arrays allocated and not yet released, to catch a leak on an exception path.
std::atomic<long> g_live_arrays{0};

}  // namespace

void* operator new[](std::size_t size) {
  if (size != 0 && size == g_failing_array_size.load()) throw std::bad_alloc();
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  ++g_live_arrays;
  return block;
}
void operator delete[](void* block) noexcept {
  if (block == nullptr) return;
  --g_live_arrays;
  std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept { operator delete[](block); }
#endif

namespace ipsec_test {
namespace {

struct WhiteBoxAgent : CQnEntIPSecPMA {
  using CQnEntIPSecPMA::DeleteEtIniFile;
  static int& Loaded() { return m_gbLoaded; }
};

// Refuses every removal, as for a file whose directory became read-only.
class RefusingRemoval : public veskar::EnvWrapper {
 public:
  RefusingRemoval() : EnvWrapper(veskar::Env::Default()) {}
  int RemoveFile(const std::string& path) override {
    refused.push_back(path);
    return EACCES;
  }
  std::vector<std::string> refused;
};

struct HostError : std::runtime_error {
  HostError() : std::runtime_error("host record failed") {}
};

// A record whose password accessor throws, as a host's record may.
struct ThrowingRecord : TestRecord {
  using TestRecord::TestRecord;
  CString GetPW() override { throw HostError(); }
};

class IpsecFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tmp_.ok());
    veskar::LibraryEntry(nullptr, veskar::kProcessAttach);
    ASSERT_EQ(WhiteBoxAgent::Loaded(), 1) << "the fake toolkit was not bound";
    FakeKmp_Reset();
    SetCertificates("USER-CERT", "CA-CERT", "THIRD");
  }

  void TearDown() override {
    veskar::SetEnvForTesting(nullptr);
    veskar::LibraryEntry(nullptr, veskar::kProcessDetach);
    EXPECT_EQ(tmp_.Files(), CallList()) << "left in " << tmp_.path();
    EXPECT_EQ(FakeKmp_OpenSessions(), 0);
  }

  // Removes what a refusing platform layer left, after checking it is there.
  void RemoveLeftover(const std::string& path) {
    EXPECT_EQ(access(path.c_str(), F_OK), 0) << path;
    unlink(path.c_str());
  }

  // Calls the agent with stale outputs; `Error` must come out of it.
  template <typename Error>
  void EnrollExpecting(CQnPMCrtUsrData* record) {
    static unsigned char stale;
    certificate_ = &stale;
    length_ = 99;
    EXPECT_THROW(agent_.CreateUserCertificate(&certificate_, length_, record), Error);
  }

  ScopedTempDir tmp_;
  WhiteBoxAgent agent_;
  unsigned char* certificate_ = nullptr;
  unsigned int length_ = 0;
};

TEST_F(IpsecFaults, UnboundToolkitRefusesWith51000) {
  WhiteBoxAgent::Loaded() = 0;
  TestRecord record = Record("pw", "p.epf", "AUTH", "1");
  length_ = 99;
  EXPECT_EQ(agent_.CreateUserCertificate(&certificate_, length_, &record), 51000);
  WhiteBoxAgent::Loaded() = 1;
  EXPECT_EQ(agent_.GetErrorString(), "Certificate Service is not avaliable");
  EXPECT_EQ(certificate_, nullptr);
  EXPECT_EQ(length_, 0u);
  EXPECT_EQ(Calls(), CallList());
}

// Once the certificates are fetched, an INI file that cannot be removed is
// not worth losing them for.
TEST_F(IpsecFaults, IniFileLeftAfterSuccessKeepsTheCertificates) {
  RefusingRemoval env;
  veskar::SetEnvForTesting(&env);
  TestRecord record = Record("pw", "p.epf", "", "");
  ASSERT_EQ(agent_.CreateUserCertificate(&certificate_, length_, &record), 0);
  veskar::SetEnvForTesting(nullptr);

  EXPECT_EQ(std::vector<unsigned char>(certificate_, certificate_ + length_), Bytes("USER-CERT"));
  EXPECT_EQ(CaOf(record), Bytes("CA-CERT"));
  EXPECT_EQ(agent_.GetErrorString(), "");
  EXPECT_EQ(Calls(), kLoginAndFetch);
  ASSERT_EQ(env.refused.size(), 1u);
  RemoveLeftover(env.refused[0]);
  delete[] certificate_;
  unsigned int ca_length = 0;
  delete[] record.GetRawCACertificate(ca_length);
}

// A failed request has nothing to lose: the file error reaches the caller.
TEST_F(IpsecFaults, IniFileLeftAfterFailureRaisesTheFileError) {
  RefusingRemoval env;
  veskar::SetEnvForTesting(&env);
  FakeKmp_SetStatus("IKMPLogin", 1);
  TestRecord record = Record("pw", "p.epf", "", "");
  try {
    agent_.CreateUserCertificate(&certificate_, length_, &record);
    ADD_FAILURE() << "no CFileException";
  } catch (const CFileException& error) {
    ASSERT_FALSE(env.refused.empty());
    EXPECT_EQ(error.m_strFileName, env.refused[0].c_str());
    EXPECT_EQ(error.m_lOsError, EACCES);
  }
  veskar::SetEnvForTesting(nullptr);
  EXPECT_EQ(certificate_, nullptr);
  EXPECT_EQ(length_, 0u);
  EXPECT_EQ(Calls(), CallList({"IKMPLogin"}));
  RemoveLeftover(env.refused[0]);

  // The member itself always raises it.
  EXPECT_THROW(agent_.DeleteEtIniFile((tmp_.path() + "/ENT0.ini").c_str()), CFileException);
}

// Whatever throws, the caller gets the exception with the outputs cleared,
// the record untouched, the session closed and the INI file removed.
TEST_F(IpsecFaults, ExceptionFromTheRecordReachesTheCallerAfterCleanUp) {
  ThrowingRecord record("label", kManager, kServer, "pw", "p.epf", "", "");
  record.PresetEarlierCa();
  EnrollExpecting<HostError>(&record);
  ExpectFailureLeftNothing(certificate_, length_, record, {}, tmp_);
}

#if VESKAR_TEST_REPLACES_ARRAY_NEW
// The same when a certificate copy cannot be allocated, and whatever was
// already copied is released.
TEST_F(IpsecFaults, FailedCertificateCopyReachesTheCallerAfterCleanUp) {
  const std::vector<unsigned char> user(3001, 'u');
  const std::vector<unsigned char> ca(3002, 'c');
  for (const std::size_t failing_size : {user.size(), ca.size()}) {
    SCOPED_TRACE(failing_size == user.size() ? "user certificate" : "CA certificate");
    FakeKmp_Reset();
    FakeKmp_SetCertificates(user.data(), user.size(), ca.data(), ca.size(), nullptr, 0);
    TestRecord record = Record("pw", "p.epf", "", "");
    record.PresetEarlierCa();

    const long live_before = g_live_arrays;
    g_failing_array_size = failing_size;
    EnrollExpecting<std::bad_alloc>(&record);
    g_failing_array_size = 0;
    EXPECT_EQ(g_live_arrays, live_before);
    ExpectFailureLeftNothing(certificate_, length_, record, kLoginAndFetch, tmp_);
  }
}
#endif

}  // namespace
}  // namespace ipsec_test
