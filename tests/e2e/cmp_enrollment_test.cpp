// Enrollment over CMP: the library and the toolkits against OpenSSL's own
// mock CMP server, OpenSSL's CMP client against 'veskar ca serve', and the
// library against 'veskar ca serve' under failures.

#include <httplib.h>
#include <openssl/pem.h>
#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "e2e_support.h"
#include "http_relay.h"
#include "pki/openssl_util.h"
#include "server_process.h"

namespace veskar::e2e {
namespace {

using toolkit_test::ParseCertificate;
using toolkit_test::SignedRequest;
using toolkit_test::VerifiesAgainst;

std::string Pem(X509* certificate) { return pki::CertificateToPem(certificate); }

std::string KeyPem(EVP_PKEY* key) {
  pki::BioPtr bio(BIO_new(BIO_s_mem()));
  PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr);
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<size_t>(length));
}

Outcome EnrollIpsec(const std::string& ca, const std::string& profile, const std::string& code,
                    const std::string& reference) {
  CQnPMCrtUsrEntIPSec record("e2e", ca.c_str(), "", "profile password", profile.c_str(),
                             code.c_str(), reference.c_str());
  return Enroll<CQnEntIPSecPMA>(record);
}

// OpenSSL's mock CMP server, answering every request with one certificate
// made beforehand for one key, under a shared secret.
class MockServerTest : public EndToEndTest {
 protected:
  void SetUp() override {
    EndToEndTest::SetUp();
    key_ = pki::NewEcKey();
    ca::IssuedCertificate issued;
    ASSERT_TRUE(ca_.ca->Issue(ca_.user.reference_number, Code(), key_.get(), {}, &issued).ok());
    certificate_der_ = issued.der;
    toolkit_test::WriteFile(ca_.scratch.File("user.pem"), Pem(issued.certificate.get()));
    toolkit_test::WriteFile(ca_.scratch.File("ca.pem"), Pem(ca_.ca->certificate()));
    toolkit_test::WriteFile(ca_.scratch.File("user.key"), KeyPem(key_.get()));
    const int port = FreeLoopbackPort();
    ASSERT_TRUE(
        server_.Start({"openssl", "cmp", "-port", std::to_string(port), "-srv_ref", "4711",
                       "-srv_secret", "pass:" + std::string(kSecret), "-rsp_cert",
                       ca_.scratch.File("user.pem"), "-rsp_capubs", ca_.scratch.File("ca.pem"),
                       "-rsp_extracerts", ca_.scratch.File("ca.pem"), "-send_unprot_err"},
                      {}, ca_.scratch.File("mock.log"), false, port));
  }

  static constexpr char kSecret[] = "mock-secret-9";
  pki::EvpPkeyPtr key_;
  Bytes certificate_der_;
  ServerProcess server_;
};

TEST_F(MockServerTest, BothToolkitsEnrollAndAWrongSecretIsRefusedWithTheServersReason) {
  CmsInput in{server_.url(), "", kSecret, "4711", 0, SignedRequest(key_.get(), "ignored")};
  const Outcome cms = EnrollCms(in);
  ASSERT_EQ(cms.message, 0) << cms.extended_error;
  EXPECT_EQ(cms.certificate, certificate_der_);
  EXPECT_EQ(cms.ca_certificate, ca_.ca->certificate_der());

  in.authorisation_code = "not-the-secret";
  const Outcome refused = EnrollCms(in);
  EXPECT_NE(refused.message, 0);
  EXPECT_TRUE(refused.certificate.empty());
  EXPECT_NE(refused.extended_error.find("pbm"), std::string::npos) << refused.extended_error;

  // A new IPSec user's key is made by the toolkit; this server certifies
  // one key only, so the toolkit is given that key.
  setenv("VESKAR_KMP_KEY_FILE", ca_.scratch.File("user.key").c_str(), 1);
  const Outcome ipsec = EnrollIpsec(server_.url(), ca_.scratch.File("user.p12"), kSecret, "4711");
  unsetenv("VESKAR_KMP_KEY_FILE");
  ASSERT_EQ(ipsec.message, 0) << ipsec.extended_error;
  EXPECT_EQ(ipsec.certificate, certificate_der_);
  EXPECT_EQ(ipsec.ca_certificate, ca_.ca->certificate_der());
}

TEST_F(MockServerTest, ACertificateForAnotherKeyIsTurnedDown) {
  pki::EvpPkeyPtr other = pki::NewEcKey();
  const Outcome outcome =
      EnrollCms({server_.url(), "", kSecret, "4711", 0, SignedRequest(other.get(), "x")});
  EXPECT_NE(outcome.message, 0);
  EXPECT_TRUE(outcome.certificate.empty());
}

// The local CA served by 'veskar ca serve' on a loopback port.
class ServedCaTest : public EndToEndTest {
 protected:
  void SetUp() override {
    EndToEndTest::SetUp();
    Serve();
  }
  // `confirm_seconds`: how long an unconfirmed certificate holds its pair.
  void Serve(int confirm_seconds = 30) {
    ASSERT_TRUE(server_.Start({VESKAR_CLI, "ca", "serve", ca_.directory, "--listen", "127.0.0.1:0"},
                              {"VESKAR_CA_CONFIRM_TIMEOUT=" + std::to_string(confirm_seconds)},
                              ca_.scratch.File("serve.log"), true));
  }
  // OpenSSL's client takes a certificate without confirming it.
  void TakeWithoutConfirming(EVP_PKEY* key) {
    const Bytes request = SignedRequest(key, "ignored", /*pem=*/true);
    toolkit_test::WriteFile(ca_.scratch.File("req.pem"),
                            std::string(request.begin(), request.end()));
    std::string output;
    ASSERT_EQ(OpensslClient(ca_.user,
                            {"-cmd", "p10cr", "-csr", ca_.scratch.File("req.pem"),
                             "-disable_confirm", "-certout", ca_.scratch.File("unconfirmed.pem")},
                            &output),
              0)
        << output;
  }
  std::string Log() const {
    const Bytes log = toolkit_test::ReadFile(ca_.scratch.File("serve.log"));
    return std::string(log.begin(), log.end());
  }
  Outcome EnrollCmsAs(const ca::RegisteredUser& user, EVP_PKEY* key) {
    return EnrollCms({server_.url(), "", user.authorisation_code,
                      std::to_string(user.reference_number), 0, SignedRequest(key, "ignored")});
  }
  // Runs OpenSSL's CMP client against the server.
  int OpensslClient(const ca::RegisteredUser& user, std::vector<std::string> more,
                    std::string* output) {
    std::vector<std::string> argv = {"openssl",        "cmp",
                                     "-server",        server_.url(),
                                     "-ref",           std::to_string(user.reference_number),
                                     "-secret",        "pass:" + user.authorisation_code,
                                     "-msg_timeout",   "10",
                                     "-total_timeout", "20"};
    argv.insert(argv.end(), more.begin(), more.end());
    return RunProgram(argv, output);
  }
  std::vector<ca::RegisteredUser> Users() const {
    std::vector<ca::RegisteredUser> users;
    EXPECT_TRUE(ca_.ca->ListUsers(&users).ok());
    return users;
  }

  ServerProcess server_;
};

TEST_F(ServedCaTest, OpensslClientEnrollsWithP10crAndIr) {
  pki::EvpPkeyPtr key = pki::NewEcKey();
  toolkit_test::WriteFile(ca_.scratch.File("new.key"), KeyPem(key.get()));
  const Bytes request = SignedRequest(key.get(), "ignored", /*pem=*/true);
  toolkit_test::WriteFile(ca_.scratch.File("req.pem"), std::string(request.begin(), request.end()));
  toolkit_test::WriteFile(ca_.scratch.File("ca.pem"), Pem(ca_.ca->certificate()));
  const ca::RegisteredUser second = ca_.AddUser("CN=Second User, O=Veskar Tests");

  struct Case {
    const char* name;
    ca::RegisteredUser user;
    std::vector<std::string> request;
  };
  const std::vector<Case> cases = {
      {"p10cr", ca_.user, {"-cmd", "p10cr", "-csr", ca_.scratch.File("req.pem")}},
      {"ir", second, {"-cmd", "ir", "-newkey", ca_.scratch.File("new.key"), "-subject", "/CN=x"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string out = ca_.scratch.File(std::string(c.name) + ".pem");
    std::vector<std::string> args = c.request;
    args.insert(args.end(), {"-certout", out});
    std::string output;
    ASSERT_EQ(OpensslClient(c.user, args, &output), 0) << output << Log();
    std::string verified;
    EXPECT_EQ(
        RunProgram({"openssl", "verify", "-CAfile", ca_.scratch.File("ca.pem"), out}, &verified), 0)
        << verified;
    const Bytes pem = toolkit_test::ReadFile(out);
    pki::X509Ptr certificate = pki::CertificateFromBytes(pem.data(), pem.size());
    ASSERT_TRUE(certificate);
    EXPECT_TRUE(SamePublicKey(certificate.get(), key.get()));
  }
  for (const ca::RegisteredUser& user : Users()) EXPECT_TRUE(user.used) << user.subject;
}

TEST_F(ServedCaTest, LibraryEnrollsOnceAndAUsedPairIsRefused) {
  pki::EvpPkeyPtr key = pki::NewEcKey();
  const Outcome first = EnrollCmsAs(ca_.user, key.get());
  ASSERT_EQ(first.message, 0) << first.extended_error << Log();
  const pki::X509Ptr certificate = ParseCertificate(first.certificate);
  ASSERT_TRUE(certificate);
  EXPECT_TRUE(VerifiesAgainst(certificate.get(), ca_.ca->certificate()));
  EXPECT_TRUE(SamePublicKey(certificate.get(), key.get()));
  EXPECT_EQ(first.ca_certificate, ca_.ca->certificate_der());

  const Outcome again = EnrollCmsAs(ca_.user, key.get());
  EXPECT_NE(again.message, 0);
  EXPECT_NE(again.extended_error.find("already used"), std::string::npos) << again.extended_error;

  ca::RegisteredUser wrong = ca_.AddUser("CN=Wrong Code");
  wrong.authorisation_code = "AAAA-BBBB-CCCC";
  const Outcome mismatch = EnrollCmsAs(wrong, key.get());
  EXPECT_NE(mismatch.extended_error.find("authorisation code does not match"), std::string::npos)
      << mismatch.extended_error;
  const std::string log = Log();
  EXPECT_NE(log.find("issued serial"), std::string::npos) << log;
  EXPECT_NE(log.find("already used"), std::string::npos) << log;
}

TEST_F(ServedCaTest, UnconfirmedCertificateLeavesThePairUsableAcrossARestart) {
  pki::EvpPkeyPtr key = pki::NewEcKey();
  TakeWithoutConfirming(key.get());
  // Held for that transaction meanwhile.
  const Outcome held = EnrollCmsAs(ca_.user, key.get());
  EXPECT_NE(held.message, 0);
  EXPECT_NE(held.extended_error.find("another transaction"), std::string::npos)
      << held.extended_error;
  EXPECT_FALSE(Users()[0].used);

  // Killed without warning and started again: the pair was not lost.
  EXPECT_EQ(server_.Stop(SIGKILL), 128 + SIGKILL);
  Serve(/*confirm_seconds=*/1);
  const Outcome enrolled = EnrollCmsAs(ca_.user, key.get());
  ASSERT_EQ(enrolled.message, 0) << enrolled.extended_error << Log();
  const pki::X509Ptr certificate = ParseCertificate(enrolled.certificate);
  ASSERT_TRUE(certificate);
  EXPECT_EQ(Users()[0].serial, pki::SerialText(certificate.get()));
  EXPECT_EQ(toolkit_test::FileCount(ca_.directory + "/issued"), 1);
  EXPECT_NE(EnrollCmsAs(ca_.user, key.get()).message, 0);

  // SIGTERM stops it cleanly.
  EXPECT_EQ(server_.Stop(SIGTERM), 0);
}

TEST_F(ServedCaTest, UnconfirmedCertificateFreesThePairAfterTheTimeOut) {
  server_.Stop(SIGTERM);
  Serve(/*confirm_seconds=*/1);
  pki::EvpPkeyPtr key = pki::NewEcKey();
  TakeWithoutConfirming(key.get());
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  const Outcome enrolled = EnrollCmsAs(ca_.user, key.get());
  EXPECT_EQ(enrolled.message, 0) << enrolled.extended_error;
  EXPECT_NE(Log().find("no confirmation in time"), std::string::npos) << Log();
}

TEST_F(ServedCaTest, EightHostsEnrollAtOnceAndIpsecToo) {
  constexpr int kHosts = 8;
  std::vector<ca::RegisteredUser> users;
  for (int i = 0; i < kHosts; ++i) users.push_back(ca_.AddUser("CN=Host " + std::to_string(i)));
  std::vector<Outcome> outcomes(kHosts);
  std::vector<std::thread> hosts;
  for (int i = 0; i < kHosts; ++i) {
    hosts.emplace_back([&, i] {
      pki::EvpPkeyPtr key = pki::NewEcKey();
      outcomes[i] = EnrollCmsAs(users[i], key.get());
    });
  }
  for (std::thread& host : hosts) host.join();
  std::set<Bytes> certificates;
  for (const Outcome& outcome : outcomes) {
    EXPECT_EQ(outcome.message, 0) << outcome.extended_error;
    certificates.insert(outcome.certificate);
  }
  EXPECT_EQ(certificates.size(), static_cast<size_t>(kHosts));

  const Outcome ipsec =
      EnrollIpsec(server_.url(), ca_.scratch.File("user.p12"), Code(), Reference());
  ASSERT_EQ(ipsec.message, 0) << ipsec.extended_error;
  const pki::X509Ptr certificate = ParseCertificate(ipsec.certificate);
  ASSERT_TRUE(certificate);
  EXPECT_TRUE(VerifiesAgainst(certificate.get(), ca_.ca->certificate()));
}

TEST_F(ServedCaTest, MalformedOversizedAndMistypedRequestsAreRefused) {
  const size_t colon = server_.url().rfind(':');
  const int port = std::stoi(server_.url().substr(colon + 1));
  httplib::Client client("127.0.0.1", port);
  client.set_read_timeout(10);
  struct Case {
    const char* name;
    std::string body;
    const char* type;
    int status;
  };
  const std::vector<Case> cases = {
      {"not DER", "hello", "application/pkixcmp", 400},
      {"truncated SEQUENCE", std::string("\x30\x82\x01\x00\x02\x01", 6), "application/pkixcmp",
       400},
      {"wrong type", "hello", "text/plain", 415},
      {"oversized", std::string(300 * 1024, '\x30'), "application/pkixcmp", 413},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const httplib::Result result = client.Post("/pkix/", c.body, c.type);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, c.status);
  }
  // Still serving.
  pki::EvpPkeyPtr key = pki::NewEcKey();
  EXPECT_EQ(EnrollCmsAs(ca_.user, key.get()).message, 0) << Log();
}

// A connection dropped before the confirmation fails the enrollment, and
// the pair, never confirmed, stays usable.
TEST_F(ServedCaTest, DroppedConnectionFailsTheEnrollmentAndNotTheHost) {
  const int port = std::stoi(server_.url().substr(server_.url().rfind(':') + 1));
  HttpRelay relay(port, HttpRelay::Ending::kReset);
  pki::EvpPkeyPtr key = pki::NewEcKey();
  const Outcome dropped =
      EnrollCms({relay.Url(), "", Code(), Reference(), 0, SignedRequest(key.get(), "ignored")});
  EXPECT_NE(dropped.message, 0);
  EXPECT_TRUE(dropped.certificate.empty());
  EXPECT_FALSE(Users()[0].used);
}

}  // namespace
}  // namespace veskar::e2e
