// The client INI file and the empty temporary files, through the agents'
// protected members: names, exact bytes, permissions, and what is left on
// disk after each kind of failure.

#include <gtest/gtest.h>
#include <veskar/veskar.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/env.h"
#include "support/temp_dir.h"

namespace {

struct CmsFiles : CQnEntCmsPMA {
  using CQnEntCmsPMA::CreateCMSiniFile;
  using CQnEntCmsPMA::CreateEmptyTempFile;
  using CQnEntCmsPMA::DeleteCMSiniFile;
};

struct IpsecFiles : CQnEntIPSecPMA {
  using CQnEntIPSecPMA::CreateEtIniFile;
  using CQnEntIPSecPMA::DeleteEtIniFile;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::string BaseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// Fails one chosen step of the platform layer.
class FailingEnv : public veskar::EnvWrapper {
 public:
  FailingEnv() : EnvWrapper(veskar::Env::Default()) { previous_ = veskar::SetEnvForTesting(this); }
  ~FailingEnv() override { veskar::SetEnvForTesting(previous_); }

  int CreateUniqueFile(const std::string& dir, const std::string& prefix,
                       std::string* path) override {
    if (fail_unique) return EACCES;
    const int error = EnvWrapper::CreateUniqueFile(dir, prefix, path);
    // Leave a file where the renamed one would go, as an earlier run might.
    if (error == 0 && leftover_ini) {
      std::ofstream(path->substr(0, path->rfind('.')) + ".ini") << "leftover";
    }
    return error;
  }
  int WriteExistingFile(const std::string& path, const void* data, size_t size) override {
    return fail_write ? ENOSPC : EnvWrapper::WriteExistingFile(path, data, size);
  }
  int RenameNoReplace(const std::string& from, const std::string& to) override {
    return fail_rename ? EXDEV : EnvWrapper::RenameNoReplace(from, to);
  }
  std::string TempDirectory() override {
    return no_temp_dir ? std::string() : EnvWrapper::TempDirectory();
  }

  bool fail_unique = false, leftover_ini = false, fail_write = false, fail_rename = false,
       no_temp_dir = false;

 private:
  veskar::Env* previous_;
};

TEST(ClientIni, ExactBytesForEmptyAndGivenLocations) {
  ScopedTempDir tmp;
  CmsFiles agent;
  CString empty;
  const CString path = agent.CreateCMSiniFile(empty, empty);
  ASSERT_FALSE(path.IsEmpty());
  const std::string content = ReadAll(std::string(path));
  EXPECT_EQ(content,
            "[Entrust Settings]\nManager=+709\nServer=+389\nClientType=Heavy\nSigningKey=DSA");
  EXPECT_EQ(content.size(), 75u);

  CString manager = "ca.example.test";
  CString server = "100%s dir";
  const CString second = agent.CreateCMSiniFile(manager, server);
  const std::string bytes = ReadAll(std::string(second));
  EXPECT_EQ(bytes,
            "[Entrust Settings]\nManager=ca.example.test+709\nServer=100%s dir+389\n"
            "ClientType=Heavy\nSigningKey=DSA");
  EXPECT_EQ(bytes.size(), 75u + manager.GetLength() + server.GetLength());
  EXPECT_EQ(bytes.find('\r'), std::string::npos);
  EXPECT_NE(bytes.back(), '\n');
}

TEST(ClientIni, NamesPrefixesPlaceAndPermissions) {
  ScopedTempDir tmp;
  CmsFiles cms;
  IpsecFiles ipsec;
  CString a = "a", b = "b";
  const std::string cms_path(cms.CreateCMSiniFile(a, b));
  const std::string ipsec_path(ipsec.CreateEtIniFile(a, b));
  EXPECT_EQ(cms_path.rfind(tmp.path() + "/CMS", 0), 0u) << cms_path;
  EXPECT_EQ(ipsec_path.rfind(tmp.path() + "/ENT", 0), 0u) << ipsec_path;
  for (const std::string& path : {cms_path, ipsec_path}) {
    EXPECT_EQ(path.substr(path.size() - 4), ".ini");
    EXPECT_EQ(FileMode(path), 0600);
  }
  // Only the two INI files: the unique files were renamed, not copied.
  EXPECT_EQ(tmp.Files().size(), 2u);
  EXPECT_TRUE(cms.GetErrorString().IsEmpty());

  cms.DeleteCMSiniFile(cms_path.c_str());
  ipsec.DeleteEtIniFile(ipsec_path.c_str());
  EXPECT_TRUE(tmp.Files().empty());
}

TEST(ClientIni, FailuresReportTheLocationsAndLeaveOnlyWhatWasThere) {
  struct Case {
    const char* name;
    bool leftover_ini, fail_write, fail_unique, fail_rename;
    size_t files_left;  // the leftover file, never ours
  };
  const Case cases[] = {
      {"leftover ini", true, false, false, false, 1},
      {"write fails", false, true, false, false, 0},
      {"no unique file", false, false, true, false, 0},
      {"rename fails", false, false, false, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedTempDir tmp;
    FailingEnv env;
    env.leftover_ini = c.leftover_ini;
    env.fail_write = c.fail_write;
    env.fail_unique = c.fail_unique;
    env.fail_rename = c.fail_rename;
    CmsFiles agent;
    CString manager = "mgr", server = "dir";
    EXPECT_TRUE(agent.CreateCMSiniFile(manager, server).IsEmpty());
    EXPECT_EQ(agent.GetErrorString(), "Failed to create initialization file for mgr and dir.\n");
    ASSERT_EQ(tmp.Files().size(), c.files_left);
    if (c.files_left == 1) {
      EXPECT_EQ(ReadAll(tmp.path() + "/" + tmp.Files()[0]), "leftover");
    }
  }
}

TEST(ClientIni, LineBreaksInALocationAreRefusedBeforeAnythingIsWritten) {
  for (const char* location : {"evil\nClientType=Light", "evil\r", "\n"}) {
    ScopedTempDir tmp;
    IpsecFiles agent;
    CString injected = location, plain = "dir";
    EXPECT_TRUE(agent.CreateEtIniFile(injected, plain).IsEmpty());
    EXPECT_TRUE(agent.CreateEtIniFile(plain, injected).IsEmpty());
    EXPECT_TRUE(tmp.Files().empty());
    EXPECT_FALSE(agent.GetErrorString().IsEmpty());
  }
}

TEST(ClientIni, RemovingAMissingFileRaisesTheFileError) {
  ScopedTempDir tmp;
  CmsFiles agent;
  const std::string missing = tmp.path() + "/gone.ini";
  try {
    agent.DeleteCMSiniFile(missing.c_str());
    FAIL() << "no exception";
  } catch (const CFileException& error) {
    EXPECT_EQ(error.m_strFileName, missing.c_str());
    EXPECT_EQ(error.m_lOsError, ENOENT);
    EXPECT_NE(std::string(error.what()).find(missing), std::string::npos);
  }
}

TEST(EmptyTempFile, TmpInAnyCaseKeepsTheUniqueNameOtherExtensionsRename) {
  ScopedTempDir tmp;
  CmsFiles agent;
  for (const char* extension : {"tmp", "TMP", "tMp"}) {
    const std::string path(agent.CreateEmptyTempFile("ENT", extension));
    EXPECT_EQ(BaseName(path).substr(0, 3), "ENT");
    EXPECT_EQ(path.substr(path.size() - 4), ".tmp");
  }
  const std::string der(agent.CreateEmptyTempFile("ENT", "DER"));
  EXPECT_EQ(der.rfind(tmp.path() + "/ENT", 0), 0u);
  EXPECT_EQ(der.substr(der.rfind('.')), ".DER");
  EXPECT_EQ(ReadAll(der), "");
  EXPECT_EQ(FileMode(der), 0600);
  EXPECT_EQ(tmp.Files().size(), 4u);
}

TEST(EmptyTempFile, FailedRenameGivesEmptyPathAndLeavesNothing) {
  ScopedTempDir tmp;
  FailingEnv env;
  env.fail_rename = true;
  CmsFiles agent;
  EXPECT_TRUE(agent.CreateEmptyTempFile("ENT", "DER").IsEmpty());
  EXPECT_TRUE(agent.GetErrorString().IsEmpty());
  EXPECT_TRUE(tmp.Files().empty());
}

TEST(TempDirectory, FallsBackToTheCurrentDirectory) {
  FailingEnv env;
  env.no_temp_dir = true;
  CmsFiles agent;
  const std::string path(agent.CreateEmptyTempFile("ENT", "tmp"));
  EXPECT_EQ(path.rfind("./ENT", 0), 0u) << path;
  agent.DeleteCMSiniFile(path.c_str());
}

}  // namespace
