#ifndef VESKAR_TESTS_E2E_E2E_SUPPORT_H_
#define VESKAR_TESTS_E2E_E2E_SUPPORT_H_

#include <gtest/gtest.h>
#include <veskar/veskar.h>

#include <string>

#include "support/temp_dir.h"
#include "test_pki.h"

namespace veskar::e2e {

using toolkit_test::Bytes;

// Every test gets a fresh CA with one registered user, in a scratch folder
// of its own, and then a fresh, empty TMPDIR for the library's files.
class EndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(GetAvaliableServices(), 7)
        << "the stand-in toolkits are not on the loader's search path";
  }

  std::string Reference() const { return std::to_string(ca_.user.reference_number); }
  const std::string& Code() const { return ca_.user.authorisation_code; }

  toolkit_test::TestCa ca_;
  ScopedTempDir tmp_;
};

// The bytes in a buffer the library handed out, which is then released.
Bytes TakeBuffer(unsigned char* data, unsigned int length);

// What one enrollment through the library came to.
struct Outcome {
  int message = -1;
  std::string error;
  std::string extended_error;
  Bytes certificate;
  Bytes ca_certificate;
};

// Runs Agent::CreateUserCertificate for `record` as a host does, copying and
// releasing the buffers handed out.
template <typename Agent, typename Record>
Outcome Enroll(Record& record) {
  Agent agent;
  unsigned char* certificate = nullptr;
  unsigned int length = 0;
  Outcome outcome;
  outcome.message = agent.CreateUserCertificate(&certificate, length, &record);
  outcome.certificate = TakeBuffer(certificate, length);
  unsigned int ca_length = 0;
  unsigned char* ca_certificate = record.GetRawCACertificate(ca_length);
  outcome.ca_certificate = TakeBuffer(ca_certificate, ca_length);
  outcome.error = static_cast<const char*>(agent.GetErrorString());
  outcome.extended_error = static_cast<const char*>(agent.GetExtendedErrorString());
  return outcome;
}

struct CmsInput {
  std::string ca_location;
  std::string directory;
  std::string authorisation_code;
  std::string reference_number;
  int publish = 0;
  Bytes pkcs10;
};

// A CMS enrollment of `in` through CQnEntCmsPMA.
Outcome EnrollCms(const CmsInput& in);

bool SamePublicKey(X509* certificate, EVP_PKEY* key);

}  // namespace veskar::e2e

#endif  // VESKAR_TESTS_E2E_E2E_SUPPORT_H_
