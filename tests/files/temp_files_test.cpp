// The client INI file and the empty temporary files, through the agents'
// protected members: names, exact bytes, permissions, and what is left on
// disk after each kind of failure.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <veskar/veskar.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
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
    if (taken && taken(to)) return EEXIST;
    if (fail_rename) return EXDEV;
    const int error = EnvWrapper::RenameNoReplace(from, to);
    if (error == 0 && after_rename) after_rename(to);
    return error;
  }
  std::string TempDirectory() override {
    return no_temp_dir ? std::string() : EnvWrapper::TempDirectory();
  }

  bool fail_unique = false, leftover_ini = false, fail_write = false, fail_rename = false,
       no_temp_dir = false;
  // Rename targets to report as taken, as if another user had planted them.
  std::function<bool(const std::string& to)> taken;
  // Runs right after a rename, as another user could in a shared folder.
  std::function<void(const std::string& to)> after_rename;

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
    size_t files_left;
  };
  const Case cases[] = {
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
    EXPECT_EQ(tmp.Files().size(), c.files_left);
  }
}

// Number of hexadecimal digits between the three-letter prefix and the
// extension of a file name.
size_t NumberDigits(const std::string& path) {
  const std::string name = BaseName(path);
  return name.rfind('.') - 3;
}

// A name already taken, by a file an earlier run left or someone planted,
// is left alone and another is drawn: the usual four-digit numbers while
// they can be had, a longer random one once they cannot.
TEST(UniqueNames, TakenNamesAreNeverTouchedNorAFailure) {
  ScopedTempDir tmp;
  FailingEnv env;
  env.leftover_ini = true;  // every four-digit .ini name is taken
  CmsFiles agent;
  CString manager = "mgr", server = "dir";
  const std::string path(agent.CreateCMSiniFile(manager, server));
  ASSERT_FALSE(path.empty()) << std::string(agent.GetErrorString());
  EXPECT_EQ(BaseName(path).substr(0, 3), "CMS");
  EXPECT_EQ(path.substr(path.size() - 4), ".ini");
  EXPECT_GT(NumberDigits(path), 4u);
  EXPECT_EQ(ReadAll(path).substr(0, 18), "[Entrust Settings]");
  for (const std::string& name : tmp.Files()) {
    if (tmp.path() + "/" + name != path) {
      EXPECT_EQ(ReadAll(tmp.path() + "/" + name), "leftover");
    }
  }
}

// Another user takes every four-digit name of the unique files: requests
// still get one, with a longer number. (Planted where file creation is
// cheapest, as there are 65,535 of them.)
TEST(UniqueNames, NobodyCanFillTheNameSpace) {
  struct InMemoryTmpdir {
    InMemoryTmpdir() {
      if (const char* tmpdir = std::getenv("TMPDIR")) previous = tmpdir;
      if (access("/dev/shm", W_OK) == 0) setenv("TMPDIR", "/dev/shm", 1);
    }
    ~InMemoryTmpdir() {
      if (previous.empty()) {
        unsetenv("TMPDIR");
      } else {
        setenv("TMPDIR", previous.c_str(), 1);
      }
    }
    std::string previous;
  } in_memory;
  ScopedTempDir tmp;
  for (unsigned int number = 1; number <= 0xFFFF; ++number) {
    char name[16];
    std::snprintf(name, sizeof name, "/CMS%X.tmp", number);
    const int fd = open((tmp.path() + name).c_str(), O_CREAT | O_EXCL | O_WRONLY, 0600);
    ASSERT_GE(fd, 0) << name;
    close(fd);
  }
  CmsFiles agent;
  CString manager = "mgr", server = "dir";
  for (int request = 0; request < 3; ++request) {
    const std::string path(agent.CreateCMSiniFile(manager, server));
    ASSERT_FALSE(path.empty());
    EXPECT_GT(NumberDigits(path), 4u) << path;
  }
  EXPECT_EQ(tmp.Files().size(), 0xFFFFu + 3);
}

// Half the four-digit names of protected copies taken (chosen by a hash):
// every request still gets its file, nearly always under the usual name.
TEST(UniqueNames, HalfTheNamesTakenCostsNothing) {
  ScopedTempDir tmp;
  FailingEnv env;
  env.taken = [](const std::string& to) {
    return NumberDigits(to) <= 4 && std::hash<std::string>()(BaseName(to)) % 2 == 0;
  };
  CmsFiles agent;
  int failed = 0, four_digit = 0;
  constexpr int kRequests = 200;
  for (int request = 0; request < kRequests; ++request) {
    const std::string path(agent.CreateEmptyTempFile("ENT", "DER"));
    failed += path.empty();
    four_digit += !path.empty() && NumberDigits(path) <= 4;
  }
  EXPECT_EQ(failed, 0);
  EXPECT_GE(four_digit, kRequests * 9 / 10);
  EXPECT_EQ(tmp.Files().size(), static_cast<size_t>(kRequests));
}

// In a shared folder without the sticky bit another user can replace the
// INI file's name between the rename and the write. The writer then writes
// nothing, through no name, and leaves what it finds there alone.
TEST(ClientIni, ANameReplacedBeforeTheWriteIsNotWrittenThrough) {
  const struct {
    const char* name;
    bool needs_root;
    void (*plant)(const std::string& ini, const std::string& canary);
  } attacks[] = {
      {"symbolic link", false,
       [](const std::string& ini, const std::string& canary) {
         ASSERT_EQ(symlink(canary.c_str(), ini.c_str()), 0);
       }},
      {"hard link", false,
       [](const std::string& ini, const std::string& canary) {
         ASSERT_EQ(link(canary.c_str(), ini.c_str()), 0);
       }},
      {"another file of ours", false,
       [](const std::string& ini, const std::string&) { std::ofstream(ini) << "protected data"; }},
      {"an empty file anyone may write", false,
       [](const std::string& ini, const std::string&) {
         std::ofstream(ini).close();
         ASSERT_EQ(chmod(ini.c_str(), 0666), 0);
       }},
      {"a fifo", false,
       [](const std::string& ini, const std::string&) { ASSERT_EQ(mkfifo(ini.c_str(), 0600), 0); }},
      {"another user's empty file", true,
       [](const std::string& ini, const std::string&) {
         std::ofstream(ini).close();
         ASSERT_EQ(chown(ini.c_str(), 65534, 65534), 0);
       }},
  };
  for (const auto& attack : attacks) {
    SCOPED_TRACE(attack.name);
    if (attack.needs_root && geteuid() != 0) continue;
    ScopedTempDir tmp;
    const std::string canary = tmp.path() + "/canary";
    std::ofstream(canary) << "the victim's file";
    FailingEnv env;
    env.after_rename = [&](const std::string& ini) {
      ASSERT_EQ(unlink(ini.c_str()), 0);
      attack.plant(ini, canary);
    };
    CmsFiles agent;
    CString manager = "mgr", server = "dir";
    EXPECT_TRUE(agent.CreateCMSiniFile(manager, server).IsEmpty());
    EXPECT_EQ(ReadAll(canary), "the victim's file");
    EXPECT_EQ(tmp.Files().size(), 2u) << "what was planted goes on";
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
