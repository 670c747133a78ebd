// The veskar command's files as people meet them: outputs that land where
// the name points without replacing what is there, interrupts that leave an
// enrollment whole or undone, each run with its own files, and reasons that
// say what to fix.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "command_runner.h"
#include "e2e_support.h"
#include "pki/distinguished_name.h"

namespace veskar::e2e {
namespace {

using toolkit_test::FileMode;
using toolkit_test::ParseCertificate;
using toolkit_test::ReadFile;
using toolkit_test::WriteFile;
using veskar_cli::CommandResult;
using veskar_cli::RunningVeskar;
using veskar_cli::RunOptions;
using veskar_cli::RunVeskar;

std::string Text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

mode_t Type(const std::string& path, bool follow = false) {
  struct stat info {};
  const int status = follow ? stat(path.c_str(), &info) : lstat(path.c_str(), &info);
  return status == 0 ? info.st_mode & S_IFMT : 0;
}

// The lines of `text` that start with `prefix`, without it.
std::vector<std::string> Field(const std::string& text, const std::string& prefix) {
  std::vector<std::string> values;
  for (size_t at = text.find(prefix); at != std::string::npos; at = text.find(prefix, at + 1)) {
    if (at != 0 && text[at - 1] != '\n') continue;
    const size_t start = at + prefix.size();
    values.push_back(text.substr(start, text.find('\n', start) - start));
  }
  return values;
}

class CommandFilesTest : public EndToEndTest {
 protected:
  std::string File(const std::string& name) const { return ca_.scratch.File(name); }

  // A new user's reference number; its code goes to the file `code_file`.
  std::string NewUser(const std::string& name, const std::string& code_file) {
    const ca::RegisteredUser user = ca_.AddUser("CN=" + name + ", O=Veskar Tests");
    WriteFile(code_file, user.authorisation_code + "\n");
    return std::to_string(user.reference_number);
  }

  bool Used(const std::string& reference) const {
    std::vector<ca::RegisteredUser> users;
    EXPECT_TRUE(ca_.ca->ListUsers(&users).ok());
    for (const ca::RegisteredUser& user : users) {
      if (std::to_string(user.reference_number) == reference) return user.used;
    }
    return false;
  }

  std::vector<std::string> CmsWithCodeFile(const std::string& reference, const std::string& code,
                                           const std::vector<std::string>& more) const {
    std::vector<std::string> args = {"enroll",      "cms",     "--ca",        ca_.directory,
                                     "--reference", reference, "--code-file", code};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }

  // A protected-data file holding `data` as "item", opened by the first
  // line of File("protection").
  std::string Store(const std::string& data) {
    WriteFile(File("protection"), "open sesame\n");
    WriteFile(File("data"), data);
    const CommandResult put =
        RunVeskar({"protected", "put", "--file", File("store"), "--label", "item", "--in",
                   File("data"), "--protection-file", File("protection")});
    EXPECT_EQ(put.exit_status, 0) << put.err;
    return File("store");
  }

  CommandResult Get(const std::string& out) {
    return RunVeskar({"protected", "get", "--file", File("store"), "--label", "item",
                      "--protection-file", File("protection"), "--out", out});
  }
};

TEST_F(CommandFilesTest, OutputsWriteThroughDevicesFifosAndLinks) {
  Store("the item");
  // A device stays the device.
  const CommandResult to_null = Get("/dev/null");
  EXPECT_EQ(to_null.exit_status, 0) << to_null.err;
  EXPECT_EQ(Type("/dev/null"), static_cast<mode_t>(S_IFCHR));

  // A FIFO's reader gets the item, and the FIFO stays.
  ASSERT_EQ(mkfifo(File("fifo").c_str(), 0600), 0);
  std::string from_fifo;
  std::thread reader([&] { from_fifo = Text(ReadFile(File("fifo"))); });
  const CommandResult to_fifo = Get(File("fifo"));
  reader.join();
  EXPECT_EQ(to_fifo.exit_status, 0) << to_fifo.err;
  EXPECT_EQ(from_fifo, "the item");
  EXPECT_EQ(Type(File("fifo")), static_cast<mode_t>(S_IFIFO));

  // A link is followed: the file it names gets the item, owner-only.
  WriteFile(File("target"), "old");
  ASSERT_EQ(symlink(File("target").c_str(), File("link").c_str()), 0);
  const CommandResult to_link = Get(File("link"));
  EXPECT_EQ(to_link.exit_status, 0) << to_link.err;
  EXPECT_EQ(Type(File("link")), static_cast<mode_t>(S_IFLNK));
  EXPECT_EQ(Text(ReadFile(File("target"))), "the item");
  EXPECT_EQ(FileMode(File("target")), 0600);

  // A certificate through a link to an earlier one, the CA's on standard
  // output: the report then goes to standard error.
  WriteFile(File("old.pem"), pki::CertificateToPem(ca_.ca->certificate()));
  ASSERT_EQ(symlink(File("old.pem").c_str(), File("certlink").c_str()), 0);
  const CommandResult enrolled = RunVeskar(CmsWithCodeFile(
      NewUser("Linked", File("code")), File("code"),
      {"--new-key", File("user.key"), "--cert", File("certlink"), "--ca-cert", "/dev/stdout"}));
  ASSERT_EQ(enrolled.exit_status, 0) << enrolled.err;
  EXPECT_EQ(enrolled.out, pki::CertificateToPem(ca_.ca->certificate()));
  EXPECT_TRUE(Contains(enrolled.err, "enrolled through the CMS toolkit\n")) << enrolled.err;
  EXPECT_EQ(Type(File("certlink")), static_cast<mode_t>(S_IFLNK));
  const pki::X509Ptr issued = ParseCertificate(ReadFile(File("old.pem")));
  ASSERT_TRUE(issued);
  EXPECT_EQ(pki::NameText(X509_get_subject_name(issued.get())), "CN=Linked, O=Veskar Tests");

  // What writing through would put at risk is refused, with the reason.
  WriteFile(File("a.key"), "a key");
  ASSERT_EQ(symlink(File("a.key").c_str(), File("keylink").c_str()), 0);
  const std::string reference = NewUser("Refused", File("code"));
  struct Case {
    std::vector<std::string> more;
    std::string says;
  };
  const Case cases[] = {
      {{"--new-key", "/dev/null", "--cert", File("x.pem")},
       "will not write the new key to /dev/null: it already exists"},
      {{"--new-key", File("new.key"), "--cert", File("keylink")},
       "will not replace " + File("keylink") + ": it does not hold a certificate"},
      {{"--new-key", File("new.key"), "--cert", File("dangling")},
       "cannot write " + File("dangling") + ": it is a link to nothing"},
  };
  ASSERT_EQ(symlink(File("nowhere").c_str(), File("dangling").c_str()), 0);
  for (const Case& c : cases) {
    const CommandResult refused = RunVeskar(CmsWithCodeFile(reference, File("code"), c.more));
    EXPECT_EQ(refused.exit_status, 1);
    EXPECT_TRUE(Contains(refused.err, c.says)) << refused.err;
  }
  // A profile is made only as a new file, never at a device or a link.
  WriteFile(File("password"), "a password\n");
  for (const std::string& profile : {std::string("/dev/null"), File("dangling")}) {
    const CommandResult refused =
        RunVeskar({"enroll", "ipsec", "--ca", ca_.directory, "--profile", profile, "--reference",
                   reference, "--code-file", File("code"), "--password-file", File("password")});
    EXPECT_EQ(refused.exit_status, 1);
    EXPECT_TRUE(Contains(refused.err, "will not make the profile " + profile)) << refused.err;
  }
  EXPECT_FALSE(Used(reference));
  EXPECT_EQ(Type("/dev/null"), static_cast<mode_t>(S_IFCHR));
  EXPECT_EQ(Text(ReadFile(File("a.key"))), "a key");
  EXPECT_EQ(FileMode(File("new.key")), -1);
}

// Runs sharing one TMPDIR each report their own protected copy; one can
// be sent where the user says.
TEST_F(CommandFilesTest, EachRunReportsItsOwnProtectedCopy) {
  constexpr int kRuns = 4;
  std::vector<std::unique_ptr<RunningVeskar>> runs;
  for (int i = 0; i < kRuns; ++i) {
    const std::string n = std::to_string(i);
    runs.push_back(std::make_unique<RunningVeskar>(
        CmsWithCodeFile(NewUser("User " + n, File("code" + n)), File("code" + n),
                        {"--new-key", File(n + ".key"), "--cert", File(n + ".pem")}),
        RunOptions{}));
  }
  std::set<std::string> copies;
  for (const std::unique_ptr<RunningVeskar>& run : runs) {
    const CommandResult result = run->Finish();
    ASSERT_EQ(result.exit_status, 0) << result.err;
    const std::vector<std::string> reported = Field(result.out, "  protected copy: ");
    ASSERT_EQ(reported.size(), 1u) << result.out;
    EXPECT_EQ(FileMode(reported[0]), 0600);
    copies.insert(reported[0]);
  }
  EXPECT_EQ(copies.size(), static_cast<size_t>(kRuns));

  const std::string reference = NewUser("Chosen", File("code"));
  const CommandResult chosen = RunVeskar(CmsWithCodeFile(
      reference, File("code"),
      {"--new-key", File("c.key"), "--cert", File("c.pem"), "--protected-copy", File("copy")}));
  ASSERT_EQ(chosen.exit_status, 0) << chosen.err;
  EXPECT_EQ(Field(chosen.out, "  protected copy: "), std::vector<std::string>{File("copy")});
  EXPECT_EQ(FileMode(File("copy")), 0600);
  WriteFile(File("reference"), reference + "\n");
  const CommandResult opened =
      RunVeskar({"protected", "get", "--file", File("copy"), "--label", "Verification Certificate",
                 "--protection-file", File("reference"), "--out", File("copy.der")});
  ASSERT_EQ(opened.exit_status, 0) << opened.err;
  const pki::X509Ptr certificate = ParseCertificate(ReadFile(File("c.pem")));
  ASSERT_TRUE(certificate);
  EXPECT_EQ(ReadFile(File("copy.der")), pki::CertificateToDer(certificate.get()));
}

// Interrupts sent after growing delays, denser early on where the start-up
// is short, over the whole length of an enrollment: each run is either whole (pair used, every file
// written) or undone (pair unused, no file), and none leaves temporary files.
class InterruptTest : public CommandFilesTest {
 protected:
  static constexpr int kRuns = 14;

  // Runs `start` for run i of kRuns, interrupted after (i/kRuns)^2 of the
  // time one run takes; then `check(name, used, result)` judges what it
  // left.
  template <typename Start, typename Check>
  void InterruptAtManyPoints(Start start, Check check) {
    const auto begin = std::chrono::steady_clock::now();
    std::string reference = NewUser("Timed", File("code"));
    EXPECT_EQ(start(reference, "timed")->Finish().exit_status, 0);
    const auto one_run = std::chrono::steady_clock::now() - begin;
    int completed = 0;
    for (int i = 0; i < kRuns; ++i) {
      SCOPED_TRACE("run " + std::to_string(i));
      const std::string name = "run" + std::to_string(i);
      reference = NewUser(name, File("code"));
      const std::unique_ptr<RunningVeskar> run = start(reference, name);
      std::this_thread::sleep_for(one_run * i * i / (kRuns * kRuns));
      kill(run->pid(), i % 2 == 0 ? SIGINT : SIGTERM);
      const CommandResult result = run->Finish();
      const bool used = Used(reference);
      if (used) ++completed;
      check(name, used, result);
    }
    // Only the protected copies of whole CMS runs stay in TMPDIR.
    for (const std::string& name : tmp_.Files()) {
      EXPECT_TRUE(name.rfind("ENT", 0) == 0 && name.size() > 4 &&
                  name.compare(name.size() - 4, 4, ".DER") == 0)
          << name << " left in TMPDIR";
    }
    std::printf("%d of %d interrupted runs completed\n", completed, kRuns);
  }
};

TEST_F(InterruptTest, CmsEnrollmentIsWholeOrUndone) {
  size_t copies_expected = 1;
  InterruptAtManyPoints(
      [&](const std::string& reference, const std::string& name) {
        return std::make_unique<RunningVeskar>(
            CmsWithCodeFile(reference, File("code"),
                            {"--new-key", File(name + ".key"), "--cert", File(name + ".pem")}),
            RunOptions{});
      },
      [&](const std::string& name, bool used, const CommandResult& result) {
        if (!used) {
          EXPECT_EQ(FileMode(File(name + ".key")), -1) << result.err;
          EXPECT_EQ(FileMode(File(name + ".pem")), -1) << result.err;
          return;
        }
        ++copies_expected;
        EXPECT_EQ(FileMode(File(name + ".key")), 0600) << result.err;
        EXPECT_TRUE(ParseCertificate(ReadFile(File(name + ".pem")))) << result.err;
      });
  EXPECT_EQ(tmp_.Files().size(), copies_expected);
}

TEST_F(InterruptTest, IpsecUserCreationIsWholeOrUndone) {
  WriteFile(File("password"), "a password\n");
  InterruptAtManyPoints(
      [&](const std::string& reference, const std::string& name) {
        return std::make_unique<RunningVeskar>(
            std::vector<std::string>{"enroll", "ipsec", "--ca", ca_.directory, "--profile",
                                     File(name + ".p12"), "--reference", reference, "--code-file",
                                     File("code"), "--password-file", File("password"), "--cert",
                                     File(name + ".pem")},
            RunOptions{});
      },
      [&](const std::string& name, bool used, const CommandResult& result) {
        EXPECT_EQ(FileMode(File(name + ".p12")) != -1, used) << result.err;
        EXPECT_EQ(FileMode(File(name + ".pem")) != -1, used) << result.err;
      });
}

// Where the command can find the cause, it names it, for IPSec as for CMS.
TEST_F(CommandFilesTest, RefusalsNameTheirCause) {
  const std::string reference = NewUser("Refused", File("code"));
  WriteFile(File("wrong"), "WRNG-CODE-XXXX\n");
  WriteFile(File("password"), "a password\n");
  ASSERT_EQ(mkdir(File("not-a-ca").c_str(), 0700), 0);
  const auto ipsec = [&](const std::string& ca, const std::string& ref, const std::string& code) {
    return std::vector<std::string>{
        "enroll",      "ipsec", "--ca",        ca,   "--profile",       File("user.p12"),
        "--reference", ref,     "--code-file", code, "--password-file", File("password")};
  };
  RunOptions no_tmpdir;
  no_tmpdir.env = {"TMPDIR=" + File("missing")};
  struct Case {
    std::vector<std::string> args;
    RunOptions options;
    std::string says;
  };
  const Case cases[] = {
      {ipsec(File("not-a-ca"), reference, File("code")), {}, "no certificate authority in"},
      {ipsec(ca_.directory, reference, File("wrong")),
       {},
       "the authorisation code does not match reference number " + reference},
      {ipsec(ca_.directory, "99999", File("code")), {}, "reference number 99999 is not registered"},
      {ipsec(ca_.directory, reference, File("code")), no_tmpdir,
       "cannot use the temporary folder " + File("missing") + " (TMPDIR): No such file"},
      {CmsWithCodeFile(reference, File("code"), {"--new-key", File("k"), "--cert", File("c")}),
       no_tmpdir, "cannot use the temporary folder " + File("missing") + " (TMPDIR): No such file"},
  };
  for (const Case& c : cases) {
    const CommandResult result = RunVeskar(c.args, c.options);
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_TRUE(Contains(result.err, c.says)) << c.says << " in\n" << result.err;
  }
  EXPECT_FALSE(Used(reference));
  EXPECT_EQ(FileMode(File("k")), -1);
  ASSERT_EQ(RunVeskar(ipsec(ca_.directory, reference, File("code"))).exit_status, 0);
  std::remove(File("user.p12").c_str());
  const CommandResult again = RunVeskar(ipsec(ca_.directory, reference, File("code")));
  EXPECT_TRUE(Contains(again.err, "reference number " + reference + " already used")) << again.err;
}

}  // namespace
}  // namespace veskar::e2e
