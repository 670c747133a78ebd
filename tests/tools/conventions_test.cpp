// What people type without thinking, and a terminal left as it was found.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "command_runner.h"
#include "test_pki.h"

namespace veskar_cli {
namespace {

using veskar::toolkit_test::ScratchDir;
using veskar::toolkit_test::WriteFile;

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

RunOptions Piped(const std::string& input) {
  RunOptions options;
  options.input = input;
  options.input_through_pipe = true;
  return options;
}

TEST(ConventionsTest, HelpVersionAndJoinedValues) {
  struct Case {
    std::vector<std::string> args;
    const char* starts;
  };
  const Case cases[] = {
      {{"enroll", "cms", "--ca", "x", "--help"}, "usage: veskar enroll cms"},
      {{"help", "enroll", "ipsec"}, "usage: veskar enroll ipsec"},
      {{"help", "base64"}, "usage: veskar base64"},
      {{"base64", "encode", "--help"}, "usage: veskar base64"},
      {{"protected", "get", "--file", "f", "--help"}, "usage: veskar protected get"},
      {{"--version"}, "Veskar "},
  };
  for (const Case& c : cases) {
    const CommandResult result = RunVeskar(c.args);
    EXPECT_EQ(result.exit_status, 0) << c.starts;
    EXPECT_EQ(result.out.rfind(c.starts, 0), 0u) << result.out;
  }
  EXPECT_TRUE(Contains(RunVeskar({"enroll", "ipsec", "--help"}).out, "--code-file FILE"));

  // --name=value reads as --name value, so the folder is looked at.
  const CommandResult joined =
      RunVeskar({"enroll", "cms", "--ca=/nonexistent/ca", "--reference=7", "--code-file=/dev/null",
                 "--new-key=/tmp/k", "--cert=/tmp/c"});
  EXPECT_EQ(joined.exit_status, 1);
  EXPECT_TRUE(Contains(joined.err, "there is no CA folder /nonexistent/ca")) << joined.err;
  const CommandResult flag = RunVeskar({"enroll", "cms", "--publish=yes"});
  EXPECT_EQ(flag.exit_status, 2);
  EXPECT_TRUE(Contains(flag.err, "--publish takes no value")) << flag.err;
}

// Every verb reads --name=VALUE as --name VALUE, and does its work with it.
TEST(ConventionsTest, EveryVerbTakesJoinedValues) {
  veskar::toolkit_test::TestCa ca;
  ScratchDir scratch;
  const auto file = [&](const char* name) { return "=" + scratch.File(name); };
  WriteFile(scratch.File("code"), ca.user.authorisation_code + "\n");
  const veskar::ca::RegisteredUser ipsec_user = ca.AddUser("CN=IPSec User");
  WriteFile(scratch.File("ipsec-code"), ipsec_user.authorisation_code + "\n");
  WriteFile(scratch.File("password"), "a password\n");
  WriteFile(scratch.File("data"), "the item");
  struct Case {
    std::vector<std::string> args;
    const char* says;  // on standard output
    bool serve;        // runs until SIGTERM once it said it
  };
  const Case cases[] = {
      {{"ca", "init", scratch.File("new-ca"), "--days=30", "--name=CN=Joined CA"},
       "subject: CN=Joined CA",
       false},
      {{"ca", "add-user", scratch.File("new-ca"), "CN=Added"}, "registered CN=Added", false},
      {{"ca", "list", scratch.File("new-ca")}, "pending", false},
      {{"ca", "serve", ca.directory, "--listen=127.0.0.1:0"}, "at http://127.0.0.1:", true},
      {{"enroll", "cms", "--ca=" + ca.directory,
        "--reference=" + std::to_string(ca.user.reference_number), "--code-file" + file("code"),
        "--new-key" + file("user.key"), "--common-name=Joined", "--cert" + file("user.der"),
        "--format=der", "--protected-copy" + file("copy")},
       "enrolled through the CMS toolkit",
       false},
      {{"enroll", "ipsec", "--ca=" + ca.directory, "--profile" + file("user.p12"),
        "--reference=" + std::to_string(ipsec_user.reference_number),
        "--code-file" + file("ipsec-code"), "--password-file" + file("password"),
        "--ca-cert" + file("ca.pem")},
       "created the user's profile",
       false},
      {{"protected", "put", "--file" + file("store"), "--label=item", "--in" + file("data"),
        "--protection-file" + file("password")},
       "stored 8 bytes",
       false},
      {{"protected", "get", "--file" + file("store"), "--label=item", "--out" + file("got"),
        "--protection-file" + file("password")},
       "",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    RunningVeskar run(c.args, {});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (c.serve && !Contains(run.OutputSoFar(), c.says) &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (c.serve) kill(run.pid(), SIGTERM);
    const CommandResult result = run.Finish();
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_TRUE(Contains(result.out, c.says)) << result.out;
  }
  EXPECT_EQ(veskar::toolkit_test::FileMode(scratch.File("copy")), 0600);
  EXPECT_TRUE(veskar::toolkit_test::ParseCertificate(
      veskar::toolkit_test::ReadFile(scratch.File("user.der"))));
  EXPECT_EQ(veskar::toolkit_test::ReadFile(scratch.File("got")),
            veskar::toolkit_test::ReadFile(scratch.File("data")));
}

// version names the library the loader actually found.
TEST(ConventionsTest, VersionReportsTheLoadedLibrary) {
  const CommandResult result = RunVeskar({"version"});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  EXPECT_TRUE(Contains(result.out, "loaded library: /")) << result.out;
  EXPECT_TRUE(Contains(result.out, "/libveskar.so.")) << result.out;
  EXPECT_TRUE(Contains(result.out, "loaded library's version record:\n  file version: 1.0.0.2\n"))
      << result.out;
}

TEST(ConventionsTest, Base64DecodeRefusesWhatIsNotBase64) {
  const CommandResult good = RunVeskar({"base64", "decode"}, Piped("aGVs\nbG8=\n"));
  EXPECT_EQ(good.exit_status, 0) << good.err;
  EXPECT_EQ(good.out, "hello");
  // What the encoder writes, line breaks and all, decodes strictly.
  const std::string bytes(100, '\xfe');
  const CommandResult encoded = RunVeskar({"base64", "encode"}, Piped(bytes));
  ASSERT_EQ(encoded.exit_status, 0) << encoded.err;
  EXPECT_EQ(RunVeskar({"base64", "decode"}, Piped(encoded.out)).out, bytes);
  for (const char* text : {"not base64!", "aGVsbG8", "aGVsbG8=x", "aGVs=G8="}) {
    const CommandResult bad = RunVeskar({"base64", "decode"}, Piped(text));
    EXPECT_EQ(bad.exit_status, 1) << text;
    EXPECT_EQ(bad.out, "") << text;
    EXPECT_TRUE(Contains(bad.err, "veskar base64: invalid input: ")) << bad.err;
  }
  // Asked for, the library's tolerant reading, whatever it makes of it.
  const CommandResult tolerant = RunVeskar({"base64", "decode", "--tolerant"}, Piped("aGVs!bG8="));
  EXPECT_EQ(tolerant.exit_status, 0) << tolerant.err;
  EXPECT_EQ(tolerant.out.rfind("hel", 0), 0u) << tolerant.out;
}

TEST(ConventionsTest, SmallThingsSaidRight) {
  // "0" and empty mean the variable is not set: the stand-ins are used.
  for (const char* setting : {"VESKAR_NO_STANDINS=0", "VESKAR_NO_STANDINS="}) {
    RunOptions options;
    options.env = {setting};
    EXPECT_TRUE(Contains(RunVeskar({"services"}, options).out, "service mask: 7\n")) << setting;
  }
  const CommandResult messages = RunVeskar({"messages"});
  EXPECT_TRUE(Contains(messages.out, "\t(the CMS toolkit's INI file template, not a failure)\n"));
  EXPECT_FALSE(Contains(messages.out, "Heavy\n"));

  ScratchDir scratch;
  ASSERT_EQ(RunVeskar({"ca", "init", scratch.File("ca")}).exit_status, 0);
  const CommandResult country = RunVeskar({"ca", "add-user", scratch.File("ca"), "CN=A, C=GBR"});
  EXPECT_EQ(country.exit_status, 1);
  EXPECT_TRUE(Contains(country.err, "C takes a two-letter country code")) << country.err;
  const CommandResult long_name =
      RunVeskar({"ca", "add-user", scratch.File("ca"), "CN=" + std::string(65, 'a')});
  EXPECT_TRUE(Contains(long_name.err, "CN takes at most 64 characters")) << long_name.err;
}

// A password or protection string comes from one source: its file, standard
// input, or else a terminal to ask at; without a terminal one must be named.
TEST(ConventionsTest, SecretsComeFromOneSource) {
  struct Case {
    std::vector<std::string> args;
    const char* says;
  };
  const Case cases[] = {
      {{"enroll", "ipsec", "--profile", "p", "--password-file", "f", "--password-stdin"},
       "veskar enroll ipsec: takes --password-file or --password-stdin, not both"},
      {{"enroll", "ipsec", "--profile", "p"},
       "veskar enroll ipsec: needs the password: --password-file FILE, --password-stdin, or a "
       "terminal to ask at"},
      {{"protected", "get", "--file", "f", "--label", "l", "--protection-file", "f",
        "--protection-stdin"},
       "veskar protected get: takes --protection-file or --protection-stdin, not both"},
      {{"protected", "put", "--file", "f", "--label", "l", "--in", "d"},
       "veskar protected put: needs the protection string: --protection-file F, "
       "--protection-stdin, or a terminal to ask at"},
  };
  for (const Case& c : cases) {
    const CommandResult result = RunVeskar(c.args);
    EXPECT_EQ(result.exit_status, 2) << c.says;
    EXPECT_TRUE(Contains(result.err, c.says)) << result.err;
  }
}

// A terminal on a pseudo-terminal pair, as a person's shell has one.
class Terminal {
 public:
  Terminal() {
    main_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (main_ >= 0 && grantpt(main_) == 0 && unlockpt(main_) == 0) {
      side_ = open(ptsname(main_), O_RDWR | O_NOCTTY);
    }
  }
  ~Terminal() {
    if (side_ >= 0) close(side_);
    if (main_ >= 0) close(main_);
  }
  bool ok() const { return side_ >= 0; }
  int fd() const { return side_; }
  bool Echoes() const {
    termios settings{};
    return tcgetattr(side_, &settings) == 0 && (settings.c_lflag & ECHO) != 0;
  }

 private:
  int main_ = -1;
  int side_ = -1;
};

// Ended at a prompt, the command gives the terminal its echo back.
TEST(ConventionsTest, AnInterruptAtAPromptRestoresEcho) {
  ScratchDir scratch;
  WriteFile(scratch.File("store"), "");
  for (const int signal : {SIGINT, SIGTERM}) {
    Terminal terminal;
    if (!terminal.ok()) GTEST_SKIP() << "no pseudo-terminals on this machine";
    ASSERT_TRUE(terminal.Echoes());
    RunOptions options;
    options.stdin_fd = terminal.fd();
    RunningVeskar run({"protected", "get", "--file", scratch.File("store"), "--label", "x", "--out",
                       scratch.File("out")},
                      options);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!Contains(run.ErrorSoFar(), "Protection string: ") &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(Contains(run.ErrorSoFar(), "Protection string: ")) << run.ErrorSoFar();
    kill(run.pid(), signal);
    EXPECT_EQ(run.Finish().exit_status, 128 + signal);
    EXPECT_TRUE(terminal.Echoes()) << "signal " << signal;
  }
}

// Binary items are not dumped on a terminal.
TEST(ConventionsTest, ProtectedGetWritesNoItemToATerminal) {
  ScratchDir scratch;
  WriteFile(scratch.File("store"), "");
  WriteFile(scratch.File("protection"), "p\n");
  Terminal terminal;
  if (!terminal.ok()) GTEST_SKIP() << "no pseudo-terminals on this machine";
  RunOptions options;
  options.stdout_fd = terminal.fd();
  for (const std::vector<std::string>& out : {std::vector<std::string>{}, {"--out", "-"}}) {
    std::vector<std::string> args = {"protected",
                                     "get",
                                     "--file",
                                     scratch.File("store"),
                                     "--label",
                                     "x",
                                     "--protection-file",
                                     scratch.File("protection")};
    args.insert(args.end(), out.begin(), out.end());
    RunningVeskar run(args, options);
    const CommandResult result = run.Finish();
    EXPECT_EQ(result.exit_status, 2);
    EXPECT_TRUE(Contains(result.err, "will not write the item to the terminal")) << result.err;
  }
}

}  // namespace
}  // namespace veskar_cli
