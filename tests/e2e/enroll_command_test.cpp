// The veskar command's enroll and protected commands, run as a user runs
// them: what they print, the files they leave, their exit statuses.

#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <memory>
#include <string>
#include <vector>

#include "command_runner.h"
#include "e2e_support.h"

namespace veskar::e2e {
namespace {

using toolkit_test::FileMode;
using toolkit_test::ParseCertificate;
using toolkit_test::ReadFile;
using toolkit_test::VerifiesAgainst;
using toolkit_test::WriteFile;
using veskar_cli::CommandResult;
using veskar_cli::RunOptions;
using veskar_cli::RunVeskar;

RunOptions Input(const std::string& text) {
  RunOptions options;
  options.input = text;
  return options;
}

pki::EvpPkeyPtr ReadKey(const std::string& path) {
  pki::BioPtr bio(BIO_new_file(path.c_str(), "r"));
  return pki::EvpPkeyPtr(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr)
                             : nullptr);
}

std::string Text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

int Lines(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

class EnrollCommandTest : public EndToEndTest {
 protected:
  std::string File(const std::string& name) const { return ca_.scratch.File(name); }

  // enroll cms with the registered user's codes and `more`.
  std::vector<std::string> Cms(const std::vector<std::string>& more) const {
    std::vector<std::string> args = {"enroll",      "cms",       "--ca",   ca_.directory,
                                     "--reference", Reference(), "--code", Code()};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }

  bool UserStillPending() const {
    std::vector<ca::RegisteredUser> users;
    return ca_.ca->ListUsers(&users).ok() && !users.empty() && !users[0].used;
  }
};

TEST_F(EnrollCommandTest, CmsFromAFreshKeyThenTheSpentPairIsRefused) {
  const CommandResult enrolled =
      RunVeskar(Cms({"--new-key", File("user.key"), "--cert", File("user.der"), "--ca-cert",
                     File("ca.der"), "--format", "der"}));
  ASSERT_EQ(enrolled.exit_status, 0) << enrolled.err;
  // The code on the command line is visible to others, and said so.
  EXPECT_EQ(enrolled.err,
            "veskar enroll cms: warning: --code shows the authorisation code to anyone who lists "
            "processes; --code-file FILE keeps it out of sight\n");
  for (const char* line :
       {"enrolled through the CMS toolkit\n", "  subject: CN=Test User, O=Veskar Tests\n",
        "  issuer: CN=Veskar Local CA\n", "  serial: ", "  valid until: ", "  key: "}) {
    EXPECT_NE(enrolled.out.find(line), std::string::npos) << line << " in\n" << enrolled.out;
  }
  EXPECT_EQ(FileMode(File("user.key")), 0600);
  const pki::EvpPkeyPtr key = ReadKey(File("user.key"));
  const pki::X509Ptr certificate = ParseCertificate(ReadFile(File("user.der")));
  ASSERT_TRUE(key && certificate);
  EXPECT_NE(enrolled.out.find("  serial: " + pki::SerialText(certificate.get()) + "\n"),
            std::string::npos)
      << enrolled.out;
  EXPECT_TRUE(VerifiesAgainst(certificate.get(), ca_.ca->certificate()));
  EXPECT_TRUE(SamePublicKey(certificate.get(), key.get()));
  EXPECT_EQ(ReadFile(File("ca.der")), ca_.ca->certificate_der());

  const CommandResult again =
      RunVeskar(Cms({"--new-key", File("again.key"), "--cert", File("again.pem")}));
  EXPECT_EQ(again.exit_status, 1);
  EXPECT_EQ(again.out, "");
  EXPECT_NE(again.err.find("veskar enroll cms: failed with message 52008: Failed to Issue "
                           "Certificate Request From Entrust CA\n"),
            std::string::npos)
      << again.err;
  EXPECT_NE(again.err.find("(1034) reference number " + Reference() + " already used\n"),
            std::string::npos)
      << again.err;
  EXPECT_EQ(FileMode(File("again.key")), -1) << "the key made for a refused enrollment is kept";
  EXPECT_EQ(FileMode(File("again.pem")), -1);
}

TEST_F(EnrollCommandTest, CmsFromARequestFileAndPublished) {
  const pki::EvpPkeyPtr key = pki::NewEcKey();
  WriteFile(File("request.pem"), Text(toolkit_test::SignedRequest(key.get(), "Anyone", true)));
  const std::string directory = File("directory");
  ASSERT_EQ(mkdir(directory.c_str(), 0755), 0);
  const CommandResult enrolled =
      RunVeskar(Cms({"--request", File("request.pem"), "--directory", directory, "--publish",
                     "--cert", File("user.pem")}));
  ASSERT_EQ(enrolled.exit_status, 0) << enrolled.err;
  EXPECT_NE(enrolled.out.find("  published in: " + directory + "\n"), std::string::npos);
  const pki::X509Ptr certificate = ParseCertificate(ReadFile(File("user.pem")));
  ASSERT_TRUE(certificate);
  EXPECT_TRUE(SamePublicKey(certificate.get(), key.get()));
  EXPECT_EQ(ReadFile(directory + "/" + cmsapi::PublishedFileName(certificate.get())),
            pki::CertificateToDer(certificate.get()));
}

TEST_F(EnrollCommandTest, IpsecCreatesTheProfileThenLogsIn) {
  const std::string profile = File("user.p12");
  WriteFile(File("password"), "a password\n");
  const CommandResult created =
      RunVeskar({"enroll", "ipsec", "--ca", ca_.directory, "--profile", profile, "--reference",
                 Reference(), "--code", Code(), "--password-stdin", "--cert", File("user.pem")},
                Input("a password\n"));
  ASSERT_EQ(created.exit_status, 0) << created.err;
  EXPECT_EQ(created.out.rfind("created the user's profile and logged in\n"
                              "  subject: CN=Test User, O=Veskar Tests\n",
                              0),
            0u)
      << created.out;
  const pki::X509Ptr certificate = ParseCertificate(ReadFile(File("user.pem")));
  ASSERT_TRUE(certificate);
  EXPECT_TRUE(VerifiesAgainst(certificate.get(), ca_.ca->certificate()));

  const CommandResult logged_in =
      RunVeskar({"enroll", "ipsec", "--profile", profile, "--password-file", File("password")});
  EXPECT_EQ(logged_in.exit_status, 0) << logged_in.err;
  EXPECT_EQ(logged_in.out.rfind("logged in\n  subject: CN=Test User", 0), 0u) << logged_in.out;

  const CommandResult refused =
      RunVeskar({"enroll", "ipsec", "--profile", profile, "--password-stdin"}, Input("not it\n"));
  EXPECT_EQ(refused.exit_status, 1);
  EXPECT_NE(refused.err.find("failed with message 53006: Failed to Logon to Entrust/Authority.\n"),
            std::string::npos)
      << refused.err;
}

TEST_F(EnrollCommandTest, ProtectedPutThenGet) {
  const std::string store = File("store.dat");
  WriteFile(File("data"), std::string("payload\0bytes", 13));
  WriteFile(File("protection"), "open sesame\n");
  const CommandResult put =
      RunVeskar({"protected", "put", "--file", store, "--label", "item", "--in", File("data"),
                 "--protection-file", File("protection")});
  ASSERT_EQ(put.exit_status, 0) << put.err;
  EXPECT_EQ(put.out, "stored 13 bytes as 'item' in " + store + "\n");

  const CommandResult got =
      RunVeskar({"protected", "get", "--file", store, "--label", "item", "--protection-stdin"},
                Input("open sesame\n"));
  EXPECT_EQ(got.exit_status, 0) << got.err;
  EXPECT_EQ(got.out, std::string("payload\0bytes", 13));

  // Data from standard input through a pipe goes in the same way.
  RunOptions through_pipe = Input("from a pipe");
  through_pipe.input_through_pipe = true;
  const CommandResult piped = RunVeskar({"protected", "put", "--file", store, "--label", "piped",
                                         "--in", "-", "--protection-file", File("protection")},
                                        through_pipe);
  ASSERT_EQ(piped.exit_status, 0) << piped.err;
  EXPECT_EQ(piped.out, "stored 11 bytes as 'piped' in " + store + "\n");

  const CommandResult wrong = RunVeskar({"protected", "get", "--file", store, "--label", "item",
                                         "--protection-stdin", "--out", File("out")},
                                        Input("open sesame!\n"));
  EXPECT_EQ(wrong.exit_status, 1);
  EXPECT_NE(wrong.err.find("no item 'item' in " + store + " opens with that protection string"),
            std::string::npos)
      << wrong.err;
  EXPECT_EQ(FileMode(File("out")), -1);
}

// Bad usage is one line on standard error and exit status 2; nothing runs.
// The reference number, which also protects the protected-data copy, can
// stay out of the process list: from a file or from standard input.
TEST_F(EnrollCommandTest, CmsTakesTheReferenceFromAFileOrStandardInput) {
  WriteFile(File("reference"), "12ab\n");
  const std::vector<std::string> from_file = {
      "enroll", "cms",  "--ca",   ca_.directory,    "--reference-file", File("reference"),
      "--code", Code(), "--cert", File("user.pem"), "--new-key",        File("user.key")};
  const CommandResult refused = RunVeskar(from_file);
  EXPECT_EQ(refused.exit_status, 1);
  EXPECT_NE(refused.err.find("--reference-file must hold a number"), std::string::npos)
      << refused.err;
  EXPECT_TRUE(UserStillPending());

  std::vector<std::string> from_stdin = from_file;
  from_stdin[5] = "-";
  const CommandResult enrolled = RunVeskar(from_stdin, Input(Reference() + "\n"));
  EXPECT_EQ(enrolled.exit_status, 0) << enrolled.err;
  EXPECT_FALSE(UserStillPending());
}

// Once the pair is spent, a failure to write an output (here the CA's
// certificate, larger than the file-size limit the command runs under)
// says what was delivered and where; the protected copy, which the limit
// also stops, is not presented as kept.
TEST_F(EnrollCommandTest, AFailureAfterTheEnrollmentSaysWhatWasDelivered) {
  // A CA whose certificate carries a comment of 96 KiB: every other file
  // the enrollment writes (the user's certificate, the register and its
  // journals) stays under the limit below, the CA's certificate does not.
  const std::string ca = File("long-ca");
  ASSERT_TRUE(ca::LocalCa::Create(ca, "CN=Long CA", 30).ok());
  {
    const Bytes key_pem = ReadFile(ca + "/ca.key");
    const Bytes certificate_pem = ReadFile(ca + "/ca.pem");
    pki::BioPtr key_bio(BIO_new_mem_buf(key_pem.data(), static_cast<int>(key_pem.size())));
    pki::EvpPkeyPtr key(PEM_read_bio_PrivateKey(key_bio.get(), nullptr, nullptr, nullptr));
    pki::X509Ptr certificate =
        pki::CertificateFromBytes(certificate_pem.data(), certificate_pem.size());
    ASSERT_TRUE(key && certificate);
    X509_EXTENSION* comment = X509V3_EXT_nconf_nid(nullptr, nullptr, NID_netscape_comment,
                                                   std::string(96 * 1024, 'x').c_str());
    ASSERT_NE(comment, nullptr);
    ASSERT_EQ(X509_add_ext(certificate.get(), comment, -1), 1);
    X509_EXTENSION_free(comment);
    ASSERT_GT(X509_sign(certificate.get(), key.get(), EVP_sha256()), 0);
    WriteFile(ca + "/ca.pem", pki::CertificateToPem(certificate.get()));
  }
  std::unique_ptr<ca::LocalCa> opened;
  ASSERT_TRUE(ca::LocalCa::Open(ca, &opened).ok());
  ca::RegisteredUser user;
  ASSERT_TRUE(opened->AddUser("CN=U", &user).ok());
  opened.reset();

  struct FileSizeLimit {
    FileSizeLimit() {
      getrlimit(RLIMIT_FSIZE, &saved);
      previous = signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{64 * 1024, saved.rlim_max};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
      setrlimit(RLIMIT_FSIZE, &saved);
      signal(SIGXFSZ, previous);
    }
    rlimit saved{};
    void (*previous)(int) = nullptr;
  };
  CommandResult result;
  {
    const FileSizeLimit limit;
    result = RunVeskar({"enroll", "cms", "--ca", ca, "--reference",
                        std::to_string(user.reference_number), "--code", user.authorisation_code,
                        "--new-key", File("user.key"), "--cert", File("user.pem"), "--ca-cert",
                        File("ca.pem")});
  }
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.out, "");
  for (const std::string& line : std::vector<std::string>{
           "cannot write " + File("ca.pem"),
           "\n  nevertheless enrolled through the CMS toolkit, which cannot be undone; delivered "
           "so "
           "far:\n  subject: CN=U\n",
           "  certificate: " + File("user.pem") + "\n", "  key: " + File("user.key") + "\n"}) {
    EXPECT_NE(result.err.find(line), std::string::npos) << line << " in\n" << result.err;
  }
  EXPECT_EQ(result.err.find("protected copy"), std::string::npos) << result.err;
  EXPECT_TRUE(tmp_.Files().empty()) << "an empty protected copy was left";
  EXPECT_TRUE(ParseCertificate(ReadFile(File("user.pem"))));
}

TEST_F(EnrollCommandTest, BadUsageIsOneLineAndExits2) {
  const std::string key = File("user.key");
  const std::string cert = File("user.pem");
  struct Case {
    std::vector<std::string> args;
    const char* says;
  };
  const Case cases[] = {
      {{"enroll"}, "needs a command: cms or ipsec"},
      {{"enroll", "cms", "--ca"}, "--ca needs a value"},
      {{"enroll", "cms", "--reference", "1", "--code", "x", "--new-key", key, "--cert", cert},
       "needs --ca"},
      {Cms({"--cert", cert}), "needs --request FILE or --new-key FILE"},
      {Cms({"--cert", cert, "--new-key", key, "--request", key}), "not both"},
      {Cms({"--cert", cert, "--new-key", key, "--publish"}), "--publish needs --directory"},
      {Cms({"--cert", cert, "--new-key", key, "--format", "txt"}), "--format takes pem or der"},
      {Cms({"--cert", cert, "--new-key", cert}), "name the same file"},
      {Cms({"--cert", File("sub/../user.key"), "--new-key", File("./user.key")}),
       "name the same file"},
      {Cms({"--cert", cert, "--new-key", key, "--protected-copy", File("./user.key")}),
       "--protected-copy names the same file as another output"},
      {Cms({"--cert", cert, "--new-key", key, "--protected-copy", "-"}),
       "--protected-copy takes a file, not standard output"},
      {{"enroll", "cms", "--ca", ca_.directory, "--reference", "12ab", "--code", Code(),
        "--new-key", key, "--cert", cert},
       "--reference takes a number"},
      {{"enroll", "ipsec", "--profile", File("p12"), "a password"},
       "unexpected argument 'a password'"},
      {{"enroll", "ipsec", "--profile", File("p12"), "--code", Code()},
       "--reference and --code (or --code-file) go together"},
      {{"enroll", "ipsec", "--profile", File("p12")}, "needs the password"},
      {{"protected", "put", "--file", File("s"), "--label", "x", "--in", "-", "--protection-stdin"},
       "'--in -' needs --protection-file"},
      {{"protected", "get", "--file", File("s")}, "needs --label"},
      {Cms({"--cert", cert, "--new-key", key, "--code-file", File("code")}),
       "takes --code or --code-file, not both"},
      {Cms({"--cert", cert, "--new-key", key, "--reference-file", File("reference")}),
       "takes --reference or --reference-file, not both"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    const CommandResult result = RunVeskar(c.args);
    EXPECT_EQ(result.exit_status, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(Lines(result.err), 1) << result.err;
    EXPECT_NE(result.err.find(c.says), std::string::npos) << result.err;
  }
  EXPECT_EQ(FileMode(key), -1);
  EXPECT_TRUE(UserStillPending());
}

// What the command can see before it calls the library, it explains itself,
// with exit status 1, instead of passing on a bare toolkit failure.
TEST_F(EnrollCommandTest, ProblemsFoundBeforeEnrollingAreExplained) {
  const std::string key = File("user.key");
  const std::string cert = File("user.pem");
  WriteFile(File("garbage"), "not a request");
  WriteFile(File("existing.key"), "keep me");
  WriteFile(File("empty"), "\n");
  struct Case {
    std::vector<std::string> args;
    std::string says;
  };
  const Case cases[] = {
      {{"enroll", "cms", "--ca", File("no-ca"), "--reference", Reference(), "--code", Code(),
        "--new-key", key, "--cert", cert},
       "there is no CA folder " + File("no-ca")},
      {Cms({"--request", File("garbage"), "--cert", cert}), "holds no PKCS #10 request"},
      {Cms({"--new-key", File("existing.key"), "--cert", cert}), "already exists"},
      {Cms({"--new-key", key, "--cert", File("no-folder/user.pem")}), "there is no folder"},
      {Cms({"--new-key", key, "--cert", File("existing.key")}),
       "will not replace " + File("existing.key") + ": it does not hold a certificate"},
      {{"--no-standins", "enroll", "cms", "--ca", ca_.directory, "--reference", Reference(),
        "--code", Code(), "--new-key", key, "--cert", cert},
       "CMS enrollment is not available: libcmsapi32.so was not loaded"},
      {{"enroll", "ipsec", "--profile", File("none.p12"), "--password-file", File("empty")},
       "there is no profile"},
      {{"enroll", "ipsec", "--profile", File("existing.key"), "--password-file", File("empty")},
       "the password is empty"},
      {{"protected", "get", "--file", File("none"), "--label", "x", "--protection-file",
        File("empty")},
       "cannot read"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    const CommandResult result = RunVeskar(c.args);
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(Lines(result.err), 1) << result.err;
    EXPECT_NE(result.err.find(c.says), std::string::npos) << result.err;
  }
  EXPECT_EQ(FileMode(key), -1);
  EXPECT_EQ(Text(ReadFile(File("existing.key"))), "keep me");
  EXPECT_TRUE(UserStillPending());
}

TEST_F(EnrollCommandTest, EachCommandHasHelp) {
  for (const auto& [command, sub] : {std::pair<const char*, const char*>{"enroll", "cms"},
                                     {"enroll", "ipsec"},
                                     {"protected", "put"},
                                     {"protected", "get"}}) {
    const CommandResult result = RunVeskar({command, sub, "--help"});
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.out.rfind(std::string("usage: veskar ") + command + " " + sub, 0), 0u)
        << result.out;
  }
}

}  // namespace
}  // namespace veskar::e2e
