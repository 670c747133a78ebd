// Where a CA is, as a client INI file or the command names it, and what a
// CA says about a pair before it enrolls.

#include "standins/common/ca_location.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "ca/cmp_service.h"
#include "pki/outcome.h"
#include "standins/common/settings.h"
#include "test_pki.h"

namespace veskar::standins {
namespace {

using pki::Outcome;
using toolkit_test::TestCa;

TEST(CaLocationTest, TellsServersFromFoldersAndSaysWhyAFolderIsNoCa) {
  const CaLocation server = CaLocation::Parse("https://ca.example/pkix/+709");
  EXPECT_TRUE(server.is_server());
  EXPECT_EQ(server.text(), "https://ca.example/pkix/");
  std::string reason;
  EXPECT_TRUE(server.Check(&reason));

  TestCa test_ca;
  const CaLocation folder = CaLocation::Parse(test_ca.directory + "+709");
  EXPECT_FALSE(folder.is_server());
  EXPECT_EQ(folder.text(), test_ca.directory);
  EXPECT_TRUE(folder.Check(&reason)) << reason;

  const std::string missing = test_ca.scratch.File("missing");
  EXPECT_FALSE(CheckCaLocation(missing, &reason));
  EXPECT_EQ(reason, "there is no CA folder " + missing + " (make one with 'veskar ca init " +
                        missing + "')");
  EXPECT_FALSE(CheckCaLocation(test_ca.scratch.path(), &reason));
  EXPECT_NE(reason.find("no certificate authority in " + test_ca.scratch.path()), std::string::npos)
      << reason;
}

TEST(CaLocationTest, PairRefusalFollowsTheCasOrder) {
  TestCa test_ca;
  const CaLocation folder = CaLocation::Parse(test_ca.directory);
  const int reference = test_ca.user.reference_number;
  const std::string& code = test_ca.user.authorisation_code;
  const std::string number = std::to_string(reference);
  EXPECT_EQ(folder.PairRefusal(reference, code), "");
  EXPECT_EQ(folder.PairRefusal(reference + 1, code),
            "reference number " + std::to_string(reference + 1) + " is not registered at the CA");
  ca::IssuedCertificate issued;
  pki::EvpPkeyPtr key = pki::NewEcKey();
  ASSERT_TRUE(test_ca.ca->Issue(reference, code, key.get(), {}, &issued).ok());
  EXPECT_EQ(folder.PairRefusal(reference, code), "reference number " + number + " already used");
  // Only the code's holder learns that the pair was used.
  EXPECT_EQ(test_ca.ca->CheckPair(reference, "AAAA-AAAA-AAAA").message,
            "the authorisation code does not match reference number " + number);
  EXPECT_EQ(CaLocation::Parse("http://127.0.0.1:1/").PairRefusal(reference, code), "");
}

// A client reads every refusal a CA sends as one outcome it can act on;
// the details only the CA tells apart come back as their general outcome.
TEST(OutcomeTest, ClientsReadRefusalsAsTheGeneralOutcome) {
  const Outcome general[] = {Outcome::kUnknownReference,
                             Outcome::kCodeMismatch,
                             Outcome::kAlreadyUsed,
                             Outcome::kKeyRejected,
                             Outcome::kBadProof,
                             Outcome::kUnavailable,
                             Outcome::kFailed};
  for (const Outcome outcome : general) {
    EXPECT_EQ(pki::OutcomeOfFailureBits(1 << pki::FailureBitOf(outcome)), outcome)
        << pki::OutcomeText(outcome);
  }
  const std::pair<Outcome, Outcome> details[] = {
      {Outcome::kBadInput, Outcome::kKeyRejected},
      {Outcome::kNotACa, Outcome::kUnavailable},
      {Outcome::kCaExpired, Outcome::kUnavailable},
      {Outcome::kStorage, Outcome::kFailed},
      {Outcome::kDelivery, Outcome::kFailed},
      {Outcome::kRejectedLocally, Outcome::kRejectedLocally},
  };
  for (const auto& [sent, read] : details) {
    EXPECT_EQ(pki::AsClientSees(sent), read) << pki::OutcomeText(sent);
  }
  EXPECT_EQ(pki::OutcomeOfFailureBits(0), Outcome::kFailed);
}

// Each variable lands where it belongs; one out of range falls back alone.
TEST(SettingsTest, ReadEachVariableIntoItsOwnSetting) {
  const char* names[] = {"VESKAR_CMP_MSG_TIMEOUT",    "VESKAR_CMP_TOTAL_TIMEOUT",
                         "VESKAR_CMP_TLS_CA_FILE",    "VESKAR_KMP_KEY_FILE",
                         "VESKAR_CA_CONFIRM_TIMEOUT", "VESKAR_CA_IO_TIMEOUT"};
  const char* values[] = {"7", "4000", "/trust.pem", "/user.key", "9", "11"};
  for (size_t i = 0; i < 6; ++i) setenv(names[i], values[i], 1);
  const StandinSettings client = StandinSettings::FromEnvironment();
  const ca::ServedCaSettings served = ca::ServedCaSettings::FromEnvironment();
  for (const char* name : names) unsetenv(name);
  EXPECT_EQ(client.cmp.message_timeout, 7);
  EXPECT_EQ(client.cmp.total_timeout, 120) << "above 3600: the default";
  EXPECT_EQ(client.cmp.tls_ca_file, "/trust.pem");
  EXPECT_EQ(client.kmp_key_file, "/user.key");
  EXPECT_EQ(served.confirm_timeout.count(), 9);
  EXPECT_EQ(served.io_timeout.count(), 11);
  EXPECT_EQ(StandinSettings::FromEnvironment().cmp.message_timeout, 30);
}

}  // namespace
}  // namespace veskar::standins
