// What a host reads when an enrollment at a CMP server goes wrong, and how
// long it waits: servers that are not there or not CMP, OpenSSL's mock
// server in the modes that matter to the client (polling, signed answers,
// unprotected errors, a certificate for another key).

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "e2e_support.h"
#include "pki/environment.h"
#include "pki/openssl_util.h"
#include "server_process.h"

namespace veskar::e2e {
namespace {

using Clock = std::chrono::steady_clock;
using toolkit_test::SignedRequest;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Sets the variables for the life of the object, and unsets them after.
class Settings {
 public:
  explicit Settings(std::vector<std::pair<std::string, std::string>> values) : values_(values) {
    for (const auto& [name, value] : values_) setenv(name.c_str(), value.c_str(), 1);
  }
  ~Settings() {
    for (const auto& value : values_) unsetenv(value.first.c_str());
  }
  Settings(const Settings&) = delete;
  Settings& operator=(const Settings&) = delete;

 private:
  std::vector<std::pair<std::string, std::string>> values_;
};

class CmpReasonsTest : public EndToEndTest {
 protected:
  Outcome EnrollCmsAt(const std::string& url, EVP_PKEY* key) {
    return EnrollCms({url, "", kSecret, "4711", 0, SignedRequest(key, "x")});
  }
  // Runs the command's IPSec enrollment, which prints the toolkit's reason.
  std::string EnrollIpsecCommand(const std::string& url) {
    toolkit_test::WriteFile(ca_.scratch.File("code"), std::string(kSecret) + "\n");
    toolkit_test::WriteFile(ca_.scratch.File("password"), "profile password\n");
    std::string output;
    EXPECT_NE(
        RunProgram({VESKAR_CLI, "enroll", "ipsec", "--profile", ca_.scratch.File("p.p12"), "--ca",
                    url, "--reference", "4711", "--code-file", ca_.scratch.File("code"),
                    "--password-file", ca_.scratch.File("password")},
                   &output),
        0);
    return output;
  }
  static constexpr char kSecret[] = "mock-secret-9";
};

// Not there, not CMP, or silent: each with its reason, and a refusal at
// once. Nothing is left in the temporary folder.
TEST_F(CmpReasonsTest, ServersThatAreNotThereOrNotCmpAreNamedForWhatTheyAre) {
  httplib::Server web;
  web.Post("/pkix/", [](const httplib::Request&, httplib::Response& response) {
    response.status = 500;
    response.set_content("oops", "text/plain");
  });
  web.Post("/page/", [](const httplib::Request&, httplib::Response& response) {
    response.set_content("<html>hello</html>", "text/html");
  });
  const int web_port = web.bind_to_any_port("127.0.0.1");
  std::thread serving([&] { web.listen_after_bind(); });
  while (!web.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  // Takes connections (the kernel's backlog) and never answers.
  const int silent = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof(address);
  ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  ASSERT_EQ(listen(silent, 4), 0);
  ASSERT_EQ(getsockname(silent, reinterpret_cast<sockaddr*>(&address), &size), 0);
  const std::string silent_at = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
  const std::string web_at = "http://127.0.0.1:" + std::to_string(web_port);
  const std::string dead_at = "127.0.0.1:" + std::to_string(FreeLoopbackPort());

  const Settings settings(
      std::vector<std::pair<std::string, std::string>>{{pki::kEnvCmpMessageTimeout, "2"}});
  struct Case {
    std::string url;
    std::string reason;
    double most_seconds;
  };
  const std::vector<Case> cases = {
      {"http://" + dead_at + "/pkix/", "nothing listens at " + dead_at + " (connection refused)",
       1},
      {"http://no-such-host.invalid/pkix/", "the host name no-such-host.invalid is not known", 5},
      {web_at + "/nothing/", "no CMP service at this path (HTTP 404)", 1},
      {web_at + "/pkix/", "the server answered HTTP 500, not CMP", 1},
      {web_at + "/page/", "the server's answer is not CMP", 1},
      {"http://" + silent_at + "/pkix/", silent_at + " did not answer within 2 s", 4},
  };
  pki::EvpPkeyPtr key = pki::NewEcKey();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    const Clock::time_point start = Clock::now();
    const Outcome outcome = EnrollCmsAt(c.url, key.get());
    EXPECT_LT(SecondsSince(start), c.most_seconds);
    EXPECT_EQ(outcome.message, 52008);
    EXPECT_NE(outcome.extended_error.find("(1011) the CA at " + c.url + ": " + c.reason),
              std::string::npos)
        << outcome.extended_error;
    EXPECT_EQ(tmp_.Files(), std::vector<std::string>());
  }
  // The IPSec toolkit's own reason reaches the command's output.
  const std::string output = EnrollIpsecCommand(cases[0].url);
  EXPECT_NE(output.find(cases[0].reason), std::string::npos) << output;
  close(silent);
  web.stop();
  serving.join();
}

// OpenSSL's mock server answering with one certificate made beforehand.
class MockModesTest : public CmpReasonsTest {
 protected:
  void SetUp() override {
    CmpReasonsTest::SetUp();
    key_ = pki::NewEcKey();
    ca::IssuedCertificate issued;
    ASSERT_TRUE(ca_.ca->Issue(ca_.user.reference_number, Code(), key_.get(), {}, &issued).ok());
    toolkit_test::WriteFile(ca_.scratch.File("user.pem"),
                            pki::CertificateToPem(issued.certificate.get()));
    toolkit_test::WriteFile(ca_.scratch.File("ca.pem"),
                            pki::CertificateToPem(ca_.ca->certificate()));
    // A signer for answers signed instead of MAC-protected, and one whose
    // key usage leaves out signatures, as some CA certificates do.
    std::string output;
    for (const std::string name : {"signer", "certsigner"}) {
      const std::string usage =
          std::string("keyUsage=") + (name == "signer" ? "digitalSignature," : "") + "keyCertSign";
      ASSERT_EQ(
          RunProgram({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                      "ec_paramgen_curve:P-256", "-nodes", "-keyout",
                      ca_.scratch.File(name + ".key"), "-out", ca_.scratch.File(name + ".pem"),
                      "-subj", "/CN=Signer", "-days", "30", "-addext", usage},
                     &output),
          0)
          << output;
    }
  }
  // Starts the mock server with `options` besides the answer.
  void Serve(std::vector<std::string> options) {
    const int port = FreeLoopbackPort();
    std::vector<std::string> argv = {"openssl",         "cmp",
                                     "-port",           std::to_string(port),
                                     "-srv_ref",        "4711",
                                     "-rsp_cert",       ca_.scratch.File("user.pem"),
                                     "-rsp_capubs",     ca_.scratch.File("ca.pem"),
                                     "-rsp_extracerts", ca_.scratch.File("ca.pem")};
    argv.insert(argv.end(), options.begin(), options.end());
    server_ = std::make_unique<ServerProcess>();
    ASSERT_TRUE(server_->Start(argv, {}, ca_.scratch.File("mock.log"), false, port));
  }

  pki::EvpPkeyPtr key_;
  std::unique_ptr<ServerProcess> server_;
};

TEST_F(MockModesTest, EachModeEndsAsTheHostShouldSeeIt) {
  const std::string secret = "pass:" + std::string(kSecret);
  const std::string signer = ca_.scratch.File("signer.pem");
  const std::vector<std::string> signing = {"-srv_cert", signer, "-srv_key",
                                            ca_.scratch.File("signer.key"), "-accept_unprotected"};
  struct Case {
    const char* name;
    std::vector<std::string> options;
    std::vector<std::pair<std::string, std::string>> settings;
    bool other_key;
    std::string reason;  // "" to enroll
    double least_seconds;
    double most_seconds;
  };
  const std::vector<Case> cases = {
      {"polls within the total time-out",
       {"-srv_secret", secret, "-poll_count", "3", "-check_after", "1"},
       {{pki::kEnvCmpTotalTimeout, "5"}},
       false,
       "",
       2.5,
       5},
      {"polls until the total time-out",
       {"-srv_secret", secret, "-poll_count", "40", "-check_after", "1"},
       {{pki::kEnvCmpTotalTimeout, "4"}},
       false,
       "the CA asked to wait (",
       2.5,
       5},
      {"an unprotected error",
       {"-srv_secret", secret, "-send_error", "-send_unprot_err"},
       {},
       false,
       "the server's unauthenticated answer: ",
       0,
       3},
      {"a certificate for another key",
       {"-srv_secret", secret},
       {},
       true,
       "(1039) the CA returned a certificate for another key; refused it and told the CA",
       0,
       3},
      {"signed, no trust anchor",
       signing,
       {},
       false,
       "does not chain to VESKAR_CMP_TRUST_FILE and VESKAR_CMP_TRUST_FILE is not set",
       0,
       3},
      {"signed, another anchor",
       signing,
       {{pki::kEnvCmpTrustFile, ca_.scratch.File("ca.pem")}},
       false,
       "the CA signed its answer with a certificate that does not chain to VESKAR_CMP_TRUST_FILE",
       0,
       3},
      {"signed and trusted", signing, {{pki::kEnvCmpTrustFile, signer}}, false, "", 0, 3},
      {"signed with a key not meant for signatures",
       {"-srv_cert", ca_.scratch.File("certsigner.pem"), "-srv_key",
        ca_.scratch.File("certsigner.key"), "-accept_unprotected"},
       {{pki::kEnvCmpTrustFile, ca_.scratch.File("certsigner.pem")}},
       false,
       "key usage does not allow signatures",
       0,
       3},
      {"with a recipient name",
       {"-srv_secret", secret},
       {{pki::kEnvCmpRecipient, "CN=Mock CA, O=Tests"}},
       false,
       "",
       0,
       3},
      {"a recipient that is no name",
       {"-srv_secret", secret},
       {{pki::kEnvCmpRecipient, "no name"}},
       false,
       "VESKAR_CMP_RECIPIENT='no name' is not a name",
       0,
       3},
  };
  pki::EvpPkeyPtr other = pki::NewEcKey();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Serve(c.options);
    const Settings settings(c.settings);
    const std::vector<std::string> before = tmp_.Files();
    const Clock::time_point start = Clock::now();
    const Outcome outcome = EnrollCmsAt(server_->url(), c.other_key ? other.get() : key_.get());
    const double took = SecondsSince(start);
    EXPECT_GE(took, c.least_seconds);
    EXPECT_LT(took, c.most_seconds);
    if (c.reason.empty()) {
      EXPECT_EQ(outcome.message, 0) << outcome.extended_error;
      EXPECT_FALSE(outcome.certificate.empty());
    } else {
      EXPECT_NE(outcome.message, 0);
      EXPECT_NE(outcome.extended_error.find(c.reason), std::string::npos) << outcome.extended_error;
      EXPECT_EQ(tmp_.Files(), before) << "a failure leaves nothing behind";
    }
  }
}

}  // namespace
}  // namespace veskar::e2e
