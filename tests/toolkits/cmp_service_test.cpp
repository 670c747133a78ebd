// The CMP service as whoever can reach it sees it: OpenSSL's client speaks
// to it in process, message by message.

#include "ca/cmp_service.h"

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/cmp.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/param_build.h>

#include <functional>
#include <string>

#include "ca/refusal_log.h"
#include "ca/request_policy.h"
#include "pki/cmp_util.h"
#include "pki/outcome.h"
#include "test_pki.h"

namespace veskar::ca {
namespace {

using toolkit_test::TestCa;

// OpenSSL's client, its messages handed to the service directly.
struct Client {
  CmpService* service;
  pki::CtxPtr context{OSSL_CMP_CTX_new(nullptr, nullptr)};
  std::vector<CmpService::Outcome> outcomes;
  std::vector<pki::Bytes> sent;
  // Called before the certificate is confirmed.
  std::function<void()> before_confirming;

  Client(CmpService* to, const std::string& reference, const std::string& code) : service(to) {
    OSSL_CMP_CTX* c = context.get();
    EXPECT_TRUE(pki::Quiet(c));
    OSSL_CMP_CTX_set_transfer_cb(c, Transfer);
    OSSL_CMP_CTX_set_transfer_cb_arg(c, this);
    OSSL_CMP_CTX_set_certConf_cb(c, BeforeConfirming);
    OSSL_CMP_CTX_set_certConf_cb_arg(c, this);
    OSSL_CMP_CTX_set_option(c, OSSL_CMP_OPT_UNPROTECTED_ERRORS, 1);
    if (!reference.empty()) {
      OSSL_CMP_CTX_set1_referenceValue(c, reinterpret_cast<const unsigned char*>(reference.data()),
                                       static_cast<int>(reference.size()));
    }
    if (!code.empty()) pki::SetSecret(c, code);
  }

  static OSSL_CMP_MSG* Transfer(OSSL_CMP_CTX* c, const OSSL_CMP_MSG* request) {
    auto* self = static_cast<Client*>(OSSL_CMP_CTX_get_transfer_cb_arg(c));
    self->sent.push_back(pki::Encoded(request, i2d_OSSL_CMP_MSG));
    const pki::Bytes& der = self->sent.back();
    self->outcomes.emplace_back();
    const pki::Bytes answer = self->service->Handle(der.data(), der.size(), &self->outcomes.back());
    const unsigned char* p = answer.data();
    return answer.empty() ? nullptr
                          : d2i_OSSL_CMP_MSG(nullptr, &p, static_cast<long>(answer.size()));
  }
  static int BeforeConfirming(OSSL_CMP_CTX* c, X509*, int fail_info, const char**) {
    auto* self = static_cast<Client*>(OSSL_CMP_CTX_get_certConf_cb_arg(c));
    if (self->before_confirming) self->before_confirming();
    return fail_info;
  }

  // Enrolls `key` with a p10cr; the certificate, or null.
  pki::X509Ptr Enroll(EVP_PKEY* key) {
    return EnrollRequest(toolkit_test::SignedRequest(key, "x"));
  }
  pki::X509Ptr EnrollRequest(const pki::Bytes& pkcs10) {
    const unsigned char* p = pkcs10.data();
    pki::X509ReqPtr request(d2i_X509_REQ(nullptr, &p, static_cast<long>(pkcs10.size())));
    EXPECT_TRUE(request);
    OSSL_CMP_CTX_set1_p10CSR(context.get(), request.get());
    X509* issued = OSSL_CMP_exec_P10CR_ses(context.get());
    ERR_clear_error();
    return pki::X509Ptr(issued != nullptr ? X509_dup(issued) : nullptr);
  }
  // The refusal's status text, failure bits and outcome as a client reads it.
  std::string Text() const {
    const OSSL_CMP_PKIFREETEXT* text = OSSL_CMP_CTX_get0_statusString(context.get());
    if (text == nullptr || sk_ASN1_UTF8STRING_num(text) == 0) return "";
    const ASN1_UTF8STRING* first = sk_ASN1_UTF8STRING_value(text, 0);
    return std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(first)),
                       static_cast<size_t>(ASN1_STRING_length(first)));
  }
  int Bits() const { return OSSL_CMP_CTX_get_failInfoCode(context.get()); }
  pki::Outcome Read() const { return pki::OutcomeOfFailureBits(Bits()); }
  std::string Logged() const {
    std::string all;
    for (const auto& outcome : outcomes) all += outcome.log + outcome.refused + "\n";
    return all;
  }
};

class CmpServiceTest : public ::testing::Test {
 protected:
  CmpServiceTest() {
    std::unique_ptr<LocalCa> ca;
    EXPECT_TRUE(LocalCa::Open(test_ca_.directory, &ca).ok());
    service_ = std::make_unique<CmpService>(std::move(ca), ServiceOptions());
  }
  std::string Reference() const { return std::to_string(test_ca_.user.reference_number); }
  const std::string& Code() const { return test_ca_.user.authorisation_code; }
  RegisteredUser User() {
    RegisteredUser user;
    EXPECT_TRUE(service_->ca().FindUser(test_ca_.user.reference_number, &user).ok());
    return user;
  }

  TestCa test_ca_;
  std::unique_ptr<CmpService> service_;
  pki::EvpPkeyPtr key_ = pki::NewEcKey();
};

// Whether a number is registered cannot be read from the answer; only the
// log tells.
TEST_F(CmpServiceTest, UnknownReferencesAndWrongCodesGetTheSameAnswer) {
  Client unknown(service_.get(), "17", Code());
  Client not_a_number(service_.get(), "12ab", Code());
  Client wrong_code(service_.get(), Reference(), "AAAA-AAAA-AAAA");
  for (Client* client : {&unknown, &not_a_number, &wrong_code}) {
    EXPECT_FALSE(client->Enroll(key_.get()));
    EXPECT_EQ(client->Text(), unknown.Text());
    EXPECT_EQ(client->Bits(), unknown.Bits());
    EXPECT_EQ(OSSL_CMP_CTX_get_status(client->context.get()), OSSL_CMP_PKISTATUS_rejection);
  }
  EXPECT_EQ(unknown.Read(), pki::Outcome::kCodeMismatch);
  EXPECT_NE(unknown.Text().find("not registered, or the authorisation code"), std::string::npos)
      << unknown.Text();
  EXPECT_NE(unknown.Logged().find("reference number '17' is not registered"), std::string::npos)
      << unknown.Logged();
  EXPECT_NE(wrong_code.Logged().find("reference number " + Reference() +
                                     ": refused: the authorisation code does not match"),
            std::string::npos)
      << wrong_code.Logged();
  EXPECT_NE(unknown.outcomes[0].refusal_kind, wrong_code.outcomes[0].refusal_kind);
  EXPECT_FALSE(User().used);
}

// The MAC's algorithms are checked before the number is looked up, and
// the key before the request's signature.
TEST_F(CmpServiceTest, RefusesCostlyMacsAndKeysBeforeVerifyingThem) {
  Client shake(service_.get(), "17", Code());
  OSSL_CMP_CTX_set_option(shake.context.get(), OSSL_CMP_OPT_OWF_ALGNID, NID_shake256);
  EXPECT_FALSE(shake.Enroll(key_.get()));
  EXPECT_NE(shake.Text().find("one-way function must be SHA-1 or of the SHA-2 family"),
            std::string::npos)
      << shake.Text();
  EXPECT_EQ(shake.Bits(), 1 << OSSL_CMP_PKIFAILUREINFO_badAlg);

  // A public key alone, in a request signed by another key: refused for
  // its size, not its signature.
  auto request_for = [&](const char* n_hex, const char* e_hex) {
    BIGNUM* n = nullptr;
    BIGNUM* e = nullptr;
    BN_hex2bn(&n, n_hex);
    BN_hex2bn(&e, e_hex);
    OSSL_PARAM_BLD* build = OSSL_PARAM_BLD_new();
    OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_RSA_N, n);
    OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_RSA_E, e);
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(build);
    EVP_PKEY_CTX* from = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
    EVP_PKEY* rsa = nullptr;
    EXPECT_TRUE(EVP_PKEY_fromdata_init(from) == 1 &&
                EVP_PKEY_fromdata(from, &rsa, EVP_PKEY_PUBLIC_KEY, params) == 1);
    pki::X509ReqPtr request(X509_REQ_new());
    X509_REQ_set_pubkey(request.get(), rsa);
    X509_REQ_sign(request.get(), key_.get(), EVP_sha256());
    EVP_PKEY_free(rsa);
    EVP_PKEY_CTX_free(from);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(build);
    BN_free(n);
    BN_free(e);
    return pki::Encoded(request.get(), i2d_X509_REQ);
  };
  const std::string long_modulus = "C" + std::string(8192 / 4, '3') + "5";  // 8196 bits
  const std::string modulus = "C" + std::string(2048 / 4 - 2, '3') + "5";   // 2048 bits
  const struct {
    pki::Bytes pkcs10;
    const char* says;
  } keys[] = {
      {request_for(long_modulus.c_str(), "10001"), "bits is too long (8192 bits at most)"},
      {request_for(modulus.c_str(), "100000000000000000001"), "public exponent must be odd"},
      {request_for(modulus.c_str(), "10000"), "public exponent must be odd"},
  };
  for (const auto& key : keys) {
    Client client(service_.get(), Reference(), Code());
    EXPECT_FALSE(client.EnrollRequest(key.pkcs10));
    EXPECT_NE(client.Text().find(key.says), std::string::npos) << client.Text();
    EXPECT_EQ(client.Read(), pki::Outcome::kKeyRejected);
  }
  // A request signed by its own key of the right size still enrolls,
  // with the strongest hash the list allows.
  Client sha512(service_.get(), Reference(), Code());
  OSSL_CMP_CTX_set_option(sha512.context.get(), OSSL_CMP_OPT_OWF_ALGNID, NID_sha512);
  OSSL_CMP_CTX_set_option(sha512.context.get(), OSSL_CMP_OPT_MAC_ALGNID, NID_hmacWithSHA512);
  EXPECT_TRUE(sha512.Enroll(key_.get())) << sha512.Logged();
}

TEST(RequestPolicyTest, MacParametersAtTheLimits) {
  MacParameters mac;
  mac.algorithm = NID_id_PasswordBasedMAC;
  mac.owf = NID_sha256;
  mac.mac = NID_hmac_sha1;
  mac.iterations = kMostMacIterations;
  mac.salt_length = 16;
  std::string why;
  EXPECT_TRUE(MacAcceptable(mac, &why)) << why;
  MacParameters more = mac;
  more.iterations = kMostMacIterations + 1;
  EXPECT_FALSE(MacAcceptable(more, &why));
  more = mac;
  more.iterations = -1;  // unreadable, or too long to read
  EXPECT_FALSE(MacAcceptable(more, &why));
  more = mac;
  more.mac = NID_hmac_md5;
  EXPECT_FALSE(MacAcceptable(more, &why));
  EXPECT_NE(why.find("HMAC with SHA-1"), std::string::npos) << why;
  more = mac;
  more.algorithm = NID_sha256WithRSAEncryption;
  EXPECT_FALSE(MacAcceptable(more, &why));
}

// Whoever captured a transaction's ID and first message can neither end
// nor disturb it: the real client confirms as if nothing happened.
TEST_F(CmpServiceTest, CapturedTransactionIdsChangeNothing) {
  Client client(service_.get(), Reference(), Code());
  client.before_confirming = [&] {
    const pki::Bytes captured = client.sent.front();
    const unsigned char* p = captured.data();
    pki::MsgPtr first(d2i_OSSL_CMP_MSG(nullptr, &p, static_cast<long>(captured.size())));
    ASN1_OCTET_STRING* id = OSSL_CMP_HDR_get0_transactionID(OSSL_CMP_MSG_get0_header(first.get()));
    // An unprotected genm naming it, and its first message again.
    Client genm(service_.get(), Reference(), "");
    OSSL_CMP_CTX_set1_transactionID(genm.context.get(), id);
    OSSL_CMP_CTX_set_option(genm.context.get(), OSSL_CMP_OPT_UNPROTECTED_SEND, 1);
    EXPECT_EQ(OSSL_CMP_exec_GENM_ses(genm.context.get()), nullptr);
    ASSERT_EQ(genm.outcomes.size(), 1u);
    pki::Bytes replayed = captured;
    CmpService::Outcome outcome;
    EXPECT_FALSE(service_->Handle(replayed.data(), replayed.size(), &outcome).empty());
    EXPECT_NE(outcome.refused.find("in use"), std::string::npos) << outcome.refused;
  };
  EXPECT_TRUE(client.Enroll(key_.get())) << client.Logged();
  EXPECT_TRUE(User().used);
}

// A user who tries again before the first certificate was confirmed takes
// the pair over; the first confirmation is then refused, told apart from a
// pair already used.
TEST_F(CmpServiceTest, ARetryTakesOverAnUnconfirmedPair) {
  Client first(service_.get(), Reference(), Code());
  Client retry(service_.get(), Reference(), Code());
  pki::X509Ptr retried;
  first.before_confirming = [&] { retried = retry.Enroll(key_.get()); };
  EXPECT_FALSE(first.Enroll(key_.get()));
  ASSERT_TRUE(retried) << retry.Logged();
  const RegisteredUser user = User();
  EXPECT_TRUE(user.used);
  EXPECT_EQ(user.serial, pki::SerialText(retried.get()));
  EXPECT_NE(first.Logged().find("not issued: reference number " + Reference() + " already used"),
            std::string::npos)
      << first.Logged();

  Client again(service_.get(), Reference(), Code());
  EXPECT_FALSE(again.Enroll(key_.get()));
  EXPECT_EQ(again.Read(), pki::Outcome::kAlreadyUsed);
  EXPECT_NE(first.Read(), pki::Outcome::kAlreadyUsed);
  // Outcomes the toolkits report with statuses of their own.
  EXPECT_EQ(first.Read(), pki::Outcome::kFailed);
}

TEST(RefusalLogTest, TellsTheFirstThenCountsPerKind) {
  RefusalLog::Options options;
  options.every = 3;
  options.interval = std::chrono::seconds(60);
  options.max_kinds = 2;
  RefusalLog log(options);
  const auto start = RefusalLog::Clock::now();
  EXPECT_EQ(log.Note("a", "line a", start), "line a");
  EXPECT_EQ(log.Note("a", "line a", start), "");
  EXPECT_EQ(log.Note("b", "line b", start), "line b");
  EXPECT_EQ(log.Note("a", "line a", start), "");
  EXPECT_EQ(log.Note("a", "line a", start), "line a (3 times in the last 0 s)");
  // Once the interval is over, the next one is told with the count.
  EXPECT_EQ(log.Note("a", "line a", start + std::chrono::seconds(61)),
            "line a (1 times in the last 61 s)");
  // A third kind makes room by forgetting the kind told longest ago.
  EXPECT_EQ(log.Note("c", "line c", start + std::chrono::seconds(62)), "line c");
  EXPECT_EQ(log.Note("b", "line b", start + std::chrono::seconds(63)), "line b");
}

}  // namespace
}  // namespace veskar::ca
