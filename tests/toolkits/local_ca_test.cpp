// The local CA: its folder, the register of authorised users, names and codes.

#include "ca/local_ca.h"

#include <gtest/gtest.h>
#include <openssl/x509v3.h>

#include <filesystem>
#include <regex>
#include <set>

#include "ca/user_register.h"
#include "pki/distinguished_name.h"
#include "test_pki.h"

namespace veskar::ca {
namespace {

using pki::Outcome;
using toolkit_test::FileMode;
using toolkit_test::ScratchDir;
using toolkit_test::TestCa;
using toolkit_test::VerifiesAgainst;
using toolkit_test::WriteFile;

TEST(LocalCaTest, NewCaIsOwnerOnlyAndSelfSigned) {
  TestCa test_ca;
  EXPECT_EQ(FileMode(test_ca.directory), 0700);
  EXPECT_EQ(FileMode(test_ca.directory + "/ca.key"), 0600);
  X509* certificate = test_ca.ca->certificate();
  EXPECT_TRUE(VerifiesAgainst(certificate, certificate));
  EXPECT_EQ(X509_check_ca(certificate), 1);
  EXPECT_EQ(pki::NameText(X509_get_subject_name(certificate)), "CN=Veskar Local CA");

  const CaStatus again = LocalCa::Create(test_ca.directory, "CN=Again", 10);
  EXPECT_EQ(again.error, Outcome::kStorage);
  EXPECT_NE(again.message.find("not empty"), std::string::npos) << again.message;
}

TEST(LocalCaTest, RefusesBadSettingsAndLeavesNothingBehind) {
  ScratchDir scratch;
  EXPECT_EQ(LocalCa::Create(scratch.File("a"), "CN=x", 0).error, Outcome::kBadInput);
  EXPECT_EQ(LocalCa::Create(scratch.File("a"), "CN=x", LocalCa::kMaxCaDays + 1).error,
            Outcome::kBadInput);
  EXPECT_EQ(LocalCa::Create(scratch.File("a"), "not a name", 10).error, Outcome::kBadInput);
  EXPECT_EQ(toolkit_test::FileCount(scratch.path()), 0);
  std::unique_ptr<LocalCa> ca;
  EXPECT_EQ(LocalCa::Open(scratch.path(), &ca).error, Outcome::kNotACa);
  EXPECT_FALSE(ca);
}

TEST(LocalCaTest, OpenRefusesKeyOfAnotherCa) {
  TestCa first;
  TestCa second;
  std::filesystem::copy_file(second.directory + "/ca.key", first.directory + "/ca.key",
                             std::filesystem::copy_options::overwrite_existing);
  std::unique_ptr<LocalCa> ca;
  const CaStatus status = LocalCa::Open(first.directory, &ca);
  EXPECT_EQ(status.error, Outcome::kNotACa);
  EXPECT_NE(status.message.find("is not the key"), std::string::npos) << status.message;
}

TEST(LocalCaTest, RegisteredUsersGetDistinctReadableCodes) {
  TestCa test_ca;
  std::set<int> references = {test_ca.user.reference_number};
  std::set<std::string> codes = {test_ca.user.authorisation_code};
  const std::regex readable("[A-HJKMNP-Z2-9]{4}-[A-HJKMNP-Z2-9]{4}-[A-HJKMNP-Z2-9]{4}");
  for (int i = 0; i < 20; ++i) {
    const RegisteredUser user = test_ca.AddUser("CN=User " + std::to_string(i));
    EXPECT_TRUE(std::regex_match(user.authorisation_code, readable)) << user.authorisation_code;
    EXPECT_GE(user.reference_number, 10000000);
    EXPECT_LE(user.reference_number, 99999999);
    references.insert(user.reference_number);
    codes.insert(user.authorisation_code);
  }
  EXPECT_EQ(references.size(), 21u);
  EXPECT_EQ(codes.size(), 21u);

  // A reopened CA reads the same register back.
  std::unique_ptr<LocalCa> reopened;
  ASSERT_TRUE(LocalCa::Open(test_ca.directory, &reopened).ok());
  std::vector<RegisteredUser> users;
  ASSERT_TRUE(reopened->ListUsers(&users).ok());
  ASSERT_EQ(users.size(), 21u);
  EXPECT_EQ(users[0].subject, "CN=Test User, O=Veskar Tests");
  EXPECT_EQ(users[0].authorisation_code, test_ca.user.authorisation_code);
  EXPECT_FALSE(users[0].used);
  EXPECT_EQ(FileMode(test_ca.directory + "/register.db"), 0600);
}

// A text register of an earlier version that does not read is reported
// when the CA is opened, and nothing is made of it.
TEST(LocalCaTest, DamagedRegisterIsReportedNotGuessed) {
  TestCa test_ca;
  const std::string good = FormatRegister({test_ca.user});
  const std::string damaged[] = {
      good + "17\tCODE\tpending\t-\n",          // no subject
      good + "abc\tCODE\tpending\t-\tCN=x\n",   // reference not a number
      good + "17\tCODE\tmaybe\t-\tCN=x\n",      // unknown state
      good + good.substr(good.find('\n') + 1),  // reference twice
      good + "17\tCODE\tused\tXYZ\tCN=x\n",     // serial not hexadecimal
  };
  test_ca.ca.reset();
  std::filesystem::remove(test_ca.directory + "/register.db");
  for (const std::string& text : damaged) {
    SCOPED_TRACE(text);
    WriteFile(test_ca.directory + "/register.txt", text);
    std::unique_ptr<LocalCa> ca;
    const CaStatus status = LocalCa::Open(test_ca.directory, &ca);
    EXPECT_EQ(status.error, Outcome::kStorage);
    EXPECT_NE(status.message.find("register"), std::string::npos) << status.message;
    EXPECT_FALSE(std::filesystem::exists(test_ca.directory + "/register.db"));
  }
}

// Serials are random and recorded: two new CAs (of the same name) do not
// start from the same number, and one CA never gives a serial twice.
TEST(LocalCaTest, SerialsAreRandomPositiveAndRecorded) {
  TestCa cas[2];
  std::set<std::string> serials;
  for (TestCa& test_ca : cas) {
    serials.insert(pki::SerialText(test_ca.ca->certificate()));
    for (int i = 0; i < 4; ++i) {
      const RegisteredUser user =
          i == 0 ? test_ca.user : test_ca.AddUser("CN=User " + std::to_string(i));
      pki::EvpPkeyPtr key = pki::NewEcKey();
      IssuedCertificate issued;
      const CaStatus status =
          test_ca.ca->Issue(user.reference_number, user.authorisation_code, key.get(), {}, &issued);
      ASSERT_TRUE(status.ok()) << status.message;
      const ASN1_INTEGER* serial = X509_get0_serialNumber(issued.certificate.get());
      EXPECT_EQ(ASN1_STRING_type(serial), V_ASN1_INTEGER) << "not positive";
      EXPECT_LE(ASN1_STRING_length(serial), 8);
      serials.insert(pki::SerialText(issued.certificate.get()));
    }
    std::vector<RegisteredUser> users;
    ASSERT_TRUE(test_ca.ca->ListUsers(&users).ok());
    for (const RegisteredUser& user : users) {
      EXPECT_TRUE(user.used);
      EXPECT_EQ(serials.count(user.serial), 1u) << user.serial;
      EXPECT_EQ(FileMode(test_ca.directory + "/issued/" + user.serial + ".pem"), 0600);
    }
  }
  EXPECT_EQ(serials.size(), 10u);  // two CA certificates, eight users'
}

// The register marks the pair used before delivery, so no later failure can
// leave a delivered certificate's pair pending; a failed delivery puts the
// pair back and leaves no copy in issued/.
TEST(LocalCaTest, PairIsSpentBeforeDeliveryAndRestoredWhenDeliveryFails) {
  TestCa test_ca;
  const RegisteredUser& user = test_ca.user;
  const auto state_of_pair = [&test_ca](std::string* serial) {
    std::vector<RegisteredUser> users;
    EXPECT_TRUE(test_ca.ca->ListUsers(&users).ok());
    *serial = users.empty() ? "" : users[0].serial;
    return !users.empty() && users[0].used;
  };
  pki::EvpPkeyPtr key = pki::NewEcKey();
  IssuedCertificate issued;
  int deliveries = 0;
  const struct {
    const char* name;
    bool delivered;
  } attempts[] = {{"failed delivery", false}, {"delivery", true}};
  for (const auto& attempt : attempts) {
    SCOPED_TRACE(attempt.name);
    const bool delivered = attempt.delivered;
    const CaStatus status = test_ca.ca->Issue(
        user.reference_number, user.authorisation_code, key.get(),
        [&](const IssuedCertificate& made) {
          ++deliveries;
          std::string serial;
          EXPECT_TRUE(state_of_pair(&serial)) << "delivered while the pair is still pending";
          EXPECT_EQ(serial, pki::SerialText(made.certificate.get()));
          return delivered ? CaStatus::Ok() : CaStatus{Outcome::kDelivery, "no room"};
        },
        &issued);
    std::string serial;
    EXPECT_EQ(status.ok(), delivered) << status.message;
    EXPECT_EQ(state_of_pair(&serial), delivered);
    EXPECT_EQ(serial.empty(), !delivered);
    EXPECT_EQ(toolkit_test::FileCount(test_ca.directory + "/issued"), delivered ? 1 : 0);
  }
  const CaStatus again = test_ca.ca->Issue(
      user.reference_number, user.authorisation_code, key.get(),
      [&](const IssuedCertificate&) {
        ++deliveries;
        return CaStatus::Ok();
      },
      &issued);
  EXPECT_EQ(again.error, Outcome::kAlreadyUsed);
  EXPECT_EQ(deliveries, 2);
}

TEST(LocalCaTest, CertifiesOnlyKeysOfAcceptedKindAndSize) {
  TestCa test_ca;
  struct Case {
    const char* name;
    pki::EvpPkeyPtr key;
    const char* refusal;  // null: certified
  };
  Case cases[] = {
      {"RSA 1024", toolkit_test::NewRsaKey(1024), "RSA key of 1024 bits is too short (2048"},
      {"P-224", pki::EvpPkeyPtr(EVP_EC_gen("P-224")), "EC key of 224 bits is too short (256"},
      {"X25519", pki::EvpPkeyPtr(EVP_PKEY_Q_keygen(nullptr, nullptr, "X25519")),
       "X25519 key is of a kind this CA does not certify"},
      {"the CA's key", nullptr, "the CA's own key"},
      {"P-384", pki::EvpPkeyPtr(EVP_EC_gen("P-384")), nullptr},
      {"Ed25519", pki::EvpPkeyPtr(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519")), nullptr},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    EVP_PKEY* key = c.key ? c.key.get() : X509_get0_pubkey(test_ca.ca->certificate());
    ASSERT_NE(key, nullptr);
    const RegisteredUser user = test_ca.AddUser(std::string("CN=") + c.name);
    IssuedCertificate issued;
    const CaStatus status =
        test_ca.ca->Issue(user.reference_number, user.authorisation_code, key, {}, &issued);
    if (c.refusal == nullptr) {
      EXPECT_TRUE(status.ok()) << status.message;
      continue;
    }
    EXPECT_EQ(status.error, Outcome::kKeyRejected);
    EXPECT_NE(status.message.find(c.refusal), std::string::npos) << status.message;
  }
}

TEST(NameTest, ReadsBothFormsAndPrintsWhatItReads) {
  struct Case {
    const char* typed;
    const char* printed;
  };
  const Case cases[] = {
      {"CN=Alice Example, O=Example Ltd, C=GB", "CN=Alice Example, O=Example Ltd, C=GB"},
      {"/C=GB/O=Example Ltd/CN=Alice Example", "CN=Alice Example, O=Example Ltd, C=GB"},
      {"cn=alice,o=x", "CN=alice, O=x"},
      {"CN=Smith\\, John, O=A\\2CB", "CN=Smith\\, John, O=A\\,B"},
      {"CN=\\ padded\\ ", "CN=\\ padded\\ "},
      {"CN=Zoë Ünïcode", "CN=Zoë Ünïcode"},
      {"emailAddress=a@example.org, CN=Mail", "emailAddress=a@example.org, CN=Mail"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    std::string error;
    pki::X509NamePtr name = pki::ParseName(c.typed, &error);
    ASSERT_TRUE(name) << error;
    EXPECT_EQ(pki::NameText(name.get()), c.printed);
    pki::X509NamePtr again = pki::ParseName(pki::NameText(name.get()), &error);
    ASSERT_TRUE(again) << error;
    EXPECT_EQ(X509_NAME_cmp(name.get(), again.get()), 0);
  }
}

// Registration keeps only names the register's text reads back as, so that
// every pending pair can be issued.
TEST(LocalCaTest, RegistersOnlyNamesThatReadBackAsThemselves) {
  TestCa test_ca;
  const struct {
    const char* typed;
    bool registered;
  } cases[] = {{"CN=\\#", false}, {"CN=\\#1", true}, {"CN=a\\#", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    RegisteredUser added;
    const CaStatus status = test_ca.ca->AddUser(c.typed, &added);
    EXPECT_EQ(status.ok(), c.registered) << status.message;
    if (!c.registered) {
      EXPECT_EQ(status.error, Outcome::kBadInput);
      EXPECT_NE(status.message.find("does not read back"), std::string::npos) << status.message;
      continue;
    }
    pki::EvpPkeyPtr key = pki::NewEcKey();
    IssuedCertificate issued;
    const CaStatus issue =
        test_ca.ca->Issue(added.reference_number, added.authorisation_code, key.get(), {}, &issued);
    EXPECT_TRUE(issue.ok()) << issue.message;
  }
  std::vector<RegisteredUser> users;
  ASSERT_TRUE(test_ca.ca->ListUsers(&users).ok());
  EXPECT_EQ(users.size(), 3u);
}

TEST(NameTest, RefusesMalformedNames) {
  const char* bad[] = {"",          "Alice",      "CN=",      "=x",     "XX=unknown type",
                       "C=Britain", "CN=a+UID=b", "CN=#0403", "CN=a\\", "CN=a,,O=b"};
  for (const char* text : bad) {
    std::string error;
    EXPECT_FALSE(pki::ParseName(text, &error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
}

TEST(CodesTest, TypedCodesMatchIgnoringCaseBlanksAndDashes) {
  EXPECT_TRUE(AuthorisationCodesMatch("K7QM-3XRD-WP9A", "K7QM-3XRD-WP9A"));
  EXPECT_TRUE(AuthorisationCodesMatch("k7qm 3xrd wp9a", "K7QM-3XRD-WP9A"));
  EXPECT_TRUE(AuthorisationCodesMatch("K7QM3XRDWP9A", "K7QM-3XRD-WP9A"));
  EXPECT_FALSE(AuthorisationCodesMatch("K7QM-3XRD-WP9B", "K7QM-3XRD-WP9A"));
  EXPECT_FALSE(AuthorisationCodesMatch("K7QM-3XRD-WP9", "K7QM-3XRD-WP9A"));
  EXPECT_FALSE(AuthorisationCodesMatch("", ""));
}

TEST(CodesTest, ReferenceNumbersAreDecimalAndFitAnInt) {
  const std::pair<const char*, int> cases[] = {
      {"17", 17},        {"0042", 42}, {"2147483647", 2147483647},
      {"2147483648", 0}, {"0", 0},     {"", 0},
      {"12ab", 0},       {"-5", 0},    {" 5", 0},
  };
  for (const auto& [text, expected] : cases) {
    int number = 0;
    EXPECT_EQ(ParseReferenceNumber(text, &number), expected != 0) << text;
    if (expected != 0) {
      EXPECT_EQ(number, expected) << text;
    }
  }
}

}  // namespace
}  // namespace veskar::ca
