// veskar services: what it says about each toolkit, found or not.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "command_runner.h"

namespace veskar_cli {
namespace {

// The folder as the loader reports it: with links resolved.
std::string Resolved(const char* folder) { return std::filesystem::canonical(folder).string(); }

// With the stand-ins turned off, either way, a bare search path finds no
// toolkit, and the report says where the stand-ins are.
TEST(ServicesCommandTest, WithoutToolkitsPointsToTheStandIns) {
  RunOptions by_variable;
  by_variable.env = {"VESKAR_NO_STANDINS=1"};
  for (const auto& [args, options] :
       {std::pair<std::vector<std::string>, RunOptions>{{"--no-standins", "services"}, {}},
        {{"services"}, by_variable}}) {
    SCOPED_TRACE(args[0]);
    const CommandResult result = RunVeskar(args, options);
    ASSERT_EQ(result.exit_status, 0) << result.err;
    EXPECT_NE(result.out.find("service mask: 1\n"), std::string::npos) << result.out;
    for (const char* file : {"libkmpapi32.so", "libcmsapi32.so"}) {
      EXPECT_NE(result.out.find(std::string(file) + " was not loaded (" + file +
                                ": cannot open shared object file"),
                std::string::npos)
          << result.out;
    }
    for (const char* folder : {VESKAR_CMS_TOOLKIT_DIR, VESKAR_KMP_TOOLKIT_DIR}) {
      EXPECT_NE(result.out.find("run with LD_LIBRARY_PATH=" + Resolved(folder)), std::string::npos)
          << result.out;
    }
  }
}

TEST(ServicesCommandTest, FindsTheStandInsBuiltWithIt) {
  const CommandResult result = RunVeskar({"services"});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  EXPECT_NE(result.out.find("service mask: 7\n"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("loaded from " + Resolved(VESKAR_CMS_TOOLKIT_DIR) + "/libcmsapi32.so"),
            std::string::npos)
      << result.out;
}

// A toolkit on the search path wins over the stand-in; the one it lacks
// still comes from the stand-ins.
TEST(ServicesCommandTest, AToolkitOnTheSearchPathComesFirst) {
  const CommandResult result = RunVeskar({"services"}, VESKAR_PARTIAL_TOOLKIT_DIR);
  ASSERT_EQ(result.exit_status, 0) << result.err;
  EXPECT_NE(result.out.find("2 IPSec key management: not usable: " +
                            Resolved(VESKAR_PARTIAL_TOOLKIT_DIR) + "/libkmpapi32.so lacks"),
            std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find("4 CMS enrollment: available, loaded from " +
                            Resolved(VESKAR_CMS_TOOLKIT_DIR) + "/libcmsapi32.so"),
            std::string::npos)
      << result.out;
}

TEST(ServicesCommandTest, NamesTheFilesTheToolkitsCameFrom) {
  const CommandResult result =
      RunVeskar({"services"}, std::string(VESKAR_CMS_TOOLKIT_DIR) + ":" + VESKAR_KMP_TOOLKIT_DIR);
  ASSERT_EQ(result.exit_status, 0) << result.err;
  EXPECT_NE(result.out.find("service mask: 7\n"), std::string::npos) << result.out;
  for (const auto& [folder, file] :
       {std::pair<const char*, const char*>{VESKAR_KMP_TOOLKIT_DIR, "libkmpapi32.so"},
        {VESKAR_CMS_TOOLKIT_DIR, "libcmsapi32.so"}}) {
    EXPECT_NE(result.out.find("available, loaded from " + Resolved(folder) + "/" + file + "\n"),
              std::string::npos)
        << result.out;
  }
}

TEST(ServicesCommandTest, NamesTheEntryPointsAToolkitLacks) {
  // The partial IPSec toolkit comes first on the path; the CMS one is complete.
  const CommandResult result = RunVeskar(
      {"services"}, std::string(VESKAR_PARTIAL_TOOLKIT_DIR) + ":" + VESKAR_CMS_TOOLKIT_DIR);
  ASSERT_EQ(result.exit_status, 0) << result.err;
  EXPECT_NE(result.out.find("service mask: 7\n"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find(
                "2 IPSec key management: not usable: " + Resolved(VESKAR_PARTIAL_TOOLKIT_DIR) +
                "/libkmpapi32.so lacks IKMPLogin, IKMPGetMyVerifyCertificate, "
                "IKMPLogout, IKMPGetEPFName; every request fails with 51000\n"),
            std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find("4 CMS enrollment: available"), std::string::npos) << result.out;
}

TEST(ServicesCommandTest, TakesNoArguments) {
  const CommandResult result = RunVeskar({"services", "now"});
  EXPECT_EQ(result.exit_status, 2);
  EXPECT_NE(result.err.find("takes no arguments"), std::string::npos);
}

}  // namespace
}  // namespace veskar_cli
