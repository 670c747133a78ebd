// veskar ca init, add-user and list: what an administrator sees.

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "command_runner.h"
#include "test_pki.h"

namespace veskar_cli {
namespace {

using veskar::toolkit_test::ScratchDir;

int Lines(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

TEST(CaCommandTest, InitRegisterAndList) {
  ScratchDir scratch;
  const std::string ca = scratch.File("ca");
  CommandResult init =
      RunVeskar({"ca", "init", ca, "--name", "CN=Test CA, O=Tests", "--days", "9"});
  ASSERT_EQ(init.exit_status, 0) << init.err;
  EXPECT_NE(init.out.find("subject: CN=Test CA, O=Tests"), std::string::npos) << init.out;

  CommandResult added = RunVeskar({"ca", "add-user", ca, "CN=Alice Example, O=Tests"});
  ASSERT_EQ(added.exit_status, 0) << added.err;
  std::smatch found;
  ASSERT_TRUE(std::regex_search(added.out, found,
                                std::regex("reference number: ([0-9]+)\nauthorisation code: "
                                           "([A-Z0-9]{4}-[A-Z0-9]{4}-[A-Z0-9]{4})\n")))
      << added.out;
  const std::string reference = found[1];
  const std::string code = found[2];

  CommandResult listed = RunVeskar({"ca", "list", ca});
  ASSERT_EQ(listed.exit_status, 0) << listed.err;
  EXPECT_TRUE(std::regex_search(
      listed.out,
      std::regex(reference + " +" + code + " +pending +- +CN=Alice Example, O=Tests\n")))
      << listed.out;
  EXPECT_NE(listed.out.find("CA: CN=Test CA, O=Tests, valid until"), std::string::npos);
}

// Every failure is one line on standard error and a non-zero status: 2 for
// bad usage, 1 for an operation that failed.
TEST(CaCommandTest, FailuresAreOneLineWithAStatus) {
  ScratchDir scratch;
  const std::string ca = scratch.File("ca");
  ASSERT_EQ(RunVeskar({"ca", "init", ca}).exit_status, 0);
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* says;
  };
  const Case cases[] = {
      {{"ca"}, 2, "needs a command"},
      {{"ca", "sign"}, 2, "unknown command 'sign'"},
      {{"ca", "init"}, 2, "names no folder"},
      {{"ca", "init", scratch.File("x"), "--days", "0"}, 2, "--days takes"},
      {{"ca", "init", scratch.File("x"), "--days"}, 2, "--days needs a value"},
      {{"ca", "init", scratch.File("x"), "--colour", "red"}, 2, "unknown option '--colour'"},
      {{"ca", "init", ca}, 1, "is not empty"},
      {{"ca", "init", scratch.File("x"), "--name", "Alice"}, 1, "bad CA name 'Alice'"},
      {{"ca", "add-user", ca}, 2, "takes a folder and a name"},
      {{"ca", "add-user", ca, "CN="}, 1, "'CN' has an empty value"},
      {{"ca", "add-user", scratch.path(), "CN=x"}, 1, "no certificate authority in"},
      {{"ca", "list"}, 2, "takes one folder"},
      {{"ca", "list", scratch.File("none")}, 1, "no certificate authority in"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.size() > 1 ? c.args[1] + " " + c.says : c.says);
    const CommandResult result = RunVeskar(c.args);
    EXPECT_EQ(result.exit_status, c.status);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(Lines(result.err), 1) << result.err;
    EXPECT_NE(result.err.find(c.says), std::string::npos) << result.err;
  }
  EXPECT_EQ(veskar::toolkit_test::FileMode(scratch.File("x")), -1) << "a failed init left a folder";
}

TEST(CaCommandTest, EachCommandHasHelp) {
  for (const char* command : {"init", "add-user", "list"}) {
    const CommandResult result = RunVeskar({"ca", command, "--help"});
    EXPECT_EQ(result.exit_status, 0) << command;
    EXPECT_EQ(result.out.rfind(std::string("usage: veskar ca ") + command, 0), 0u) << result.out;
  }
  const CommandResult overview = RunVeskar({"ca", "--help"});
  EXPECT_EQ(overview.exit_status, 0);
  EXPECT_NE(overview.out.find("veskar ca add-user DIR DN"), std::string::npos);
}

}  // namespace
}  // namespace veskar_cli
